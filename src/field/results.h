// Result lines, extreme-value statistics and the shared result accumulators.
//
// The accumulators are process-wide doubles through which the field routines
// hand values to each other: the per-value extractor stores the components
// of the value just read; the bulk statistics keep the extremes of the block
// last computed. All are 0 at start; resetResults() restores that (tests).
#pragma once

#include <ostream>

#include "odb/odb.h"

extern double bulkmax, bulkmin, bulkEnggMax, bulkEnggMin;
extern double vecXMax, vecYMax, vecZMax;
extern double vecXMin, vecYMin, vecZMin;
extern double vecXEnggMax, vecYEnggMax, vecZEnggMax;
extern double vecXEnggMin, vecYEnggMin, vecZEnggMin;
extern double S11Max, S22Max, S33Max, S12Max, S13Max, S23Max;
extern double S11Min, S22Min, S33Min, S12Min, S13Min, S23Min;
extern double S11EnggMax, S22EnggMax, S33EnggMax, S12EnggMax, S13EnggMax, S23EnggMax;
extern double S11EnggMin, S22EnggMin, S33EnggMin, S12EnggMin, S13EnggMin, S23EnggMin;
extern double* tensorCompPtr[6];

void resetResults();

// True exactly when a > b: the descending order of engineering maxima.
bool maxfunction(double a, double b);

// A copy of name with every "-" and then every " " replaced by "_".
odb_String cleanName(const odb_String& name);
