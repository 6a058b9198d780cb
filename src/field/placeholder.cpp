// Placeholder: replaced by the field extraction work.
#include "field/field.h"
void odbE_printField(const odb_FieldOutput&, std::ofstream&, odb_String, int, odb_String, odb_String, odb_String, int) {}
