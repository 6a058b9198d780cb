// Result accumulators and the engineering ordering.
//
// Defines the process-wide accumulators of field/results.h. The per-value
// extractor writes the component slots of the value it just read; the bulk
// statistics keep the extremes of the block last computed in them.
#include "field/results.h"

double bulkmax = 0;      // maximum of the last bulk block's main quantity
double bulkmin = 0;      // minimum of the last bulk block's main quantity
double bulkEnggMax = 0;  // engineering maximum of the last bulk block
double bulkEnggMin = 0;  // engineering minimum of the last bulk block

double vecXMax = 0;  // component 1 of the value just read; bulk: component 1 maximum
double vecYMax = 0;  // component 2 of the value just read; bulk: component 2 maximum
double vecZMax = 0;  // component 3 of the value just read; bulk: component 3 maximum
double vecXMin = 0;  // bulk: component 1 minimum
double vecYMin = 0;  // bulk: component 2 minimum
double vecZMin = 0;  // bulk: component 3 minimum
double vecXEnggMax = 0;  // bulk: component 1 engineering maximum
double vecYEnggMax = 0;  // bulk: component 2 engineering maximum
double vecZEnggMax = 0;  // bulk: component 3 engineering maximum
double vecXEnggMin = 0;  // bulk: component 1 engineering minimum
double vecYEnggMin = 0;  // bulk: component 2 engineering minimum
double vecZEnggMin = 0;  // bulk: component 3 engineering minimum

double S11Max = 0;  // tensor component 11 of the value just read; bulk: its maximum
double S22Max = 0;  // tensor component 22 of the value just read; bulk: its maximum
double S33Max = 0;  // tensor component 33 of the value just read; bulk: its maximum
double S12Max = 0;  // tensor component 12 of the value just read; bulk: its maximum
double S13Max = 0;  // tensor component 13 of the value just read; bulk: its maximum
double S23Max = 0;  // tensor component 23 of the value just read; bulk: its maximum
double S11Min = 0;  // bulk: tensor component 11 minimum
double S22Min = 0;  // bulk: tensor component 22 minimum
double S33Min = 0;  // bulk: tensor component 33 minimum
double S12Min = 0;  // bulk: tensor component 12 minimum
double S13Min = 0;  // bulk: tensor component 13 minimum
double S23Min = 0;  // bulk: tensor component 23 minimum
double S11EnggMax = 0;  // engineering maximum of tensor component 11
double S22EnggMax = 0;  // engineering maximum of tensor component 22
double S33EnggMax = 0;  // engineering maximum of tensor component 33
double S12EnggMax = 0;  // engineering maximum of tensor component 12
double S13EnggMax = 0;  // engineering maximum of tensor component 13
double S23EnggMax = 0;  // engineering maximum of tensor component 23
double S11EnggMin = 0;  // engineering minimum of tensor component 11
double S22EnggMin = 0;  // engineering minimum of tensor component 22
double S33EnggMin = 0;  // engineering minimum of tensor component 33
double S12EnggMin = 0;  // engineering minimum of tensor component 12
double S13EnggMin = 0;  // engineering minimum of tensor component 13
double S23EnggMin = 0;  // engineering minimum of tensor component 23

double* tensorCompPtr[6] = {};  // slots 11 22 33 12 13 23 -> S11Max..S23Max; set by the value statistics

double* const kVecMax[3] = {&vecXMax, &vecYMax, &vecZMax};
double* const kVecMin[3] = {&vecXMin, &vecYMin, &vecZMin};
double* const kVecEnggMax[3] = {&vecXEnggMax, &vecYEnggMax, &vecZEnggMax};
double* const kVecEnggMin[3] = {&vecXEnggMin, &vecYEnggMin, &vecZEnggMin};
double* const kTensorMax[6] = {&S11Max, &S22Max, &S33Max, &S12Max, &S13Max, &S23Max};
double* const kTensorMin[6] = {&S11Min, &S22Min, &S33Min, &S12Min, &S13Min, &S23Min};
double* const kTensorEnggMax[6] = {&S11EnggMax, &S22EnggMax, &S33EnggMax, &S12EnggMax, &S13EnggMax, &S23EnggMax};
double* const kTensorEnggMin[6] = {&S11EnggMin, &S22EnggMin, &S33EnggMin, &S12EnggMin, &S13EnggMin, &S23EnggMin};

void resetResults() {
  bulkmax = bulkmin = bulkEnggMax = bulkEnggMin = 0;
  vecXMax = vecYMax = vecZMax = 0;
  vecXMin = vecYMin = vecZMin = 0;
  vecXEnggMax = vecYEnggMax = vecZEnggMax = 0;
  vecXEnggMin = vecYEnggMin = vecZEnggMin = 0;
  S11Max = S22Max = S33Max = S12Max = S13Max = S23Max = 0;
  S11Min = S22Min = S33Min = S12Min = S13Min = S23Min = 0;
  S11EnggMax = S22EnggMax = S33EnggMax = S12EnggMax = S13EnggMax = S23EnggMax = 0;
  S11EnggMin = S22EnggMin = S33EnggMin = S12EnggMin = S13EnggMin = S23EnggMin = 0;
  for (double*& p : tensorCompPtr) p = nullptr;
}

bool maxfunction(double a, double b) { return a > b; }
