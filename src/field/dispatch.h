// The field dispatcher: what the traversal hands every field output to, for
// the whole model and for each set.
#pragma once

#include <ostream>

#include "odb/odb.h"

void odbE_printField(const odb_FieldOutput& field, std::ostream& out, odb_String stepName, int incrementNumber,
                     odb_String regionKind, odb_String regionName, odb_String indent, int depth);
