// Database traversal: steps, mass properties and frames.
#pragma once

#include <fstream>

#include "odb/odb.h"

void odbE_printFullOdb(odb_Odb& odb, std::ostream& out);
void odbE_printStep(odb_Odb& odb, const odb_Step& step, std::ostream& out, odb_String indent, int depth);
void odbE_printFrame(odb_Odb& odb, const odb_Frame& frame, std::ostream& out, odb_String stepName,
                     odb_String indent, int depth);
