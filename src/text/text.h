// Text pieces of the report lines shared by the field, history and mass
// lines: cleaned names and numbers.
#pragma once

#include <ostream>

#include "odb/odb.h"

// A copy of name with every "-" and then every " " replaced by "_".
odb_String cleanName(const odb_String& name);

// Writes value as printf's "%g" does in the "C" locale (six significant
// digits), whatever the stream's locale and flags; a float is written as the
// double it widens to.
void writeNumber(std::ostream& out, double value);
void writeNumber(std::ostream& out, int value);
