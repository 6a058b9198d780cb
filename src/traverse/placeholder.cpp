// Placeholder: replaced by the traversal work.
#include "traverse/traverse.h"
void odbE_printFullOdb(odb_Odb&, std::ofstream&) {}
