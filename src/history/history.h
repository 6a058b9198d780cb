// History output extraction: regions, their points and outputs.
#pragma once

#include <fstream>

#include "odb/odb.h"

void odbE_printHistoryRegion(const odb_HistoryRegion& region, std::ostream& out, odb_String stepName,
                             odb_String indent, int depth);
void odbE_printHistoryOutput(const odb_HistoryOutput& output, std::ostream& out, odb_String stepName,
                             odb_String pointName, odb_String indent);
