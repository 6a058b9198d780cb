// The shared result accumulators and the engineering ordering.
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

// The accumulators above as tables in component order: vector components
// 1 2 3, tensor slots 11 22 33 12 13 23.
extern double* const kVecMax[3];
extern double* const kVecMin[3];
extern double* const kVecEnggMax[3];
extern double* const kVecEnggMin[3];
extern double* const kTensorMax[6];
extern double* const kTensorMin[6];
extern double* const kTensorEnggMax[6];
extern double* const kTensorEnggMin[6];

void resetResults();

// True exactly when a > b: the descending order of engineering maxima.
bool maxfunction(double a, double b);
