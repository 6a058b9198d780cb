// Placeholder: replaced by the library work.
#include "odb/odb.h"
