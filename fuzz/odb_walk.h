// The full read of the structure fuzz target: touches every object, attribute, array and derived quantity of
// an open database (values of a field output up to maxValues each, subsets on every internal set) and returns
// a sum of what it read, so the reads cannot be optimised away. Throws what the library throws.
#pragma once
#include "odb/odb.h"
namespace fuzzwalk {
double walkOdb(const odb_Odb& odb, int maxValues = 4096);
}  // namespace fuzzwalk
