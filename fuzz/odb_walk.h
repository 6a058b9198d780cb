// Reads every object of an open database through the public API: the
// "full read" of the structure fuzz target.
#pragma once

#include "odb/odb.h"

namespace fuzzwalk {

// Touches every object, attribute, array and derived quantity (values of a
// field output up to maxValues each, subsets on every set); returns a sum of
// what it read so the reads cannot be optimised away. Throws what the
// library throws.
double walkOdb(const odb_Odb& odb, int maxValues = 4096);

}  // namespace fuzzwalk
