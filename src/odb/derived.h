// Derived quantities of a symmetric tensor (von Mises, pressure, third
// invariant, principal values) and the mapping of stored columns onto tensor
// components. Pure arithmetic: no HDF5, no allocation.
#pragma once

#include <string>
#include <vector>

namespace odb_detail {

// For each canonical component 11,22,33,12,13,23 the data column holding it, or -1: a column names the
// component given by the last two characters of its stored label when they are one of 11 22 33 12 13 23;
// the first column wins a duplicate; columns naming none are ignored; only when no column names any
// component (or there are no labels) the columns take the canonical order of the type
// (5: 11 22 33 12 13 23; 6 and 8: 11 22 33 12; 7 and 9: 11 22 12), as far as width goes.
void tensorColumns(const std::vector<std::string>& storedLabels, int type, int width, int cols[6]);

// Gathers the full tensor (11,22,33,12,13,23) from one data row; absent components are 0.
template <class T>
void tensorFromRow(const T* row, const int cols[6], double s[6]) {
  for (int k = 0; k < 6; ++k) s[k] = cols[k] >= 0 ? static_cast<double>(row[cols[k]]) : 0.0;
}

// Returns the von Mises equivalent of s.
double vonMises(const double s[6]);
// The von Mises equivalents of n rows of `width` values, as floats: out[r] is
// static_cast<float>(vonMises(s)) of row r gathered by tensorFromRow, bit for bit.
template <class T>
void misesRows(const T* values, int width, const int cols[6], int n, float* out);
// The largest and smallest of misesRows' floats for the same rows (a NaN never taken; -inf and
// +inf when there is none), without computing every one where the processor has AVX-512: a sieve
// in float arithmetic picks the rows that can hold them (stored float rows in order).
template <class T>
void misesRange(const T* values, int width, const int cols[6], int n, float& hi, float& lo);
// misesRange over n stored float rows (11 22 33 12 13 23) by the sieve: false, and nothing
// computed, when the processor has no AVX-512. For tests.
bool misesRangeSieved(const float* values, int n, float& hi, float& lo);
// misesRows over n stored float rows (11 22 33 12 13 23) with the loop of `lanes` rows a register
// (2, 4 or 8) or none (0), whichever misesRows would pick: false, and nothing computed, when the
// processor or the target has no such loop. For tests, which check every loop the machine has.
bool misesRowsWith(int lanes, const float* values, int n, float* out);
// Returns -(s11 + s22 + s33) / 3.
double pressure(const double s[6]);
// Returns the real cube root of (27/2) det(dev s), sign kept.
double thirdInvariant(const double s[6]);
// Computes the eigenvalues of s in descending order (exact for a diagonal s).
void principals(const double s[6], double out[3]);
// The principal values of s as floats, max, mid, min, then Tresca (max - min): the very floats that
// principals() rounds to, and its max - min rounded, computed several times faster. A closed form
// with a bound on its distance from principals() decides each float; when the bound leaves one open
// (nearly repeated values, a value near a rounding boundary, entries beyond 1e+-100, NaN or
// infinity) principals() itself runs. Returns true when the closed form decided.
bool principalFloats(const double s[6], float out[4]);
// Intervals [lo[k], hi[k]] that hold principals()' values, max first, found by the closed form in
// the time of a few square roots; lo == hi where the value is known exactly. False when out of
// reach (entries beyond 1e+-100, NaN or infinity); the intervals may then be anything.
bool principalBounds(const double s[6], double lo[3], double hi[3]);
// Computes the eigenvalues of [[s11, s12], [s12, s22]], the larger first.
void inPlanePrincipals(const double s[6], double out[2]);

}  // namespace odb_detail
