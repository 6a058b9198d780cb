// The whole read of a database: every object, attribute, array and derived
// quantity, as odbinfo --check and the structure fuzz target do it.
#pragma once

#include "odb/odb.h"

// Reads everything (values of each field output up to maxValues, subsets on
// every internal set) and returns the sum of what it read. A database the
// reader refuses throws the reader's odb_Exception.
double readEverything(const odb_Odb& odb, int maxValues);
