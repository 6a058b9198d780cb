// Extreme-value statistics shared by the value and bulk statistics: the
// running extremes and the engineering selection.
//
// The engineering extreme of n values at a percentage is the k-th value from
// the extreme end, k = n * percentage / 100 truncated; k = 0 stands for the
// extreme itself. The selection is a partial ordering (nth_element) of a
// working array the caller owns and fills with the values that are numbers
// only: a NaN takes no part in a selection, and n counts the numbers. The
// minimum is taken first when both are wanted, on the same array.
#pragma once

#include <algorithm>

#include "field/results.h"

// The index of the engineering extreme among n values ordered from the
// extreme end. k is clamped to 0..n before truncation so that a percentage
// above 100 acts as 100 and one below 0 (or NaN) as 0.
inline int enggPosition(int n, double percentage) {
  double k = static_cast<double>(n) * percentage / 100.0;
  if (!(k > 0.0)) k = 0.0;  // also catches NaN
  if (k > n) k = n;
  const int whole = static_cast<int>(k);
  return whole > 0 ? whole - 1 : 0;
}

// The engineering minimum of values[0..n): the value at the position in
// ascending order. n must be positive and values free of NaN; values is
// reordered.
template <class T>
T enggMinimum(T* values, int n, double percentage) {
  const int pos = enggPosition(n, percentage);
  std::nth_element(values, values + pos, values + n);
  return values[pos];
}

// The engineering maximum of values[0..n): the value at the position in
// descending order (maxfunction). n must be positive and values free of NaN;
// values is reordered.
template <class T>
T enggMaximum(T* values, int n, double percentage) {
  const int pos = enggPosition(n, percentage);
  std::nth_element(values, values + pos, values + n, [](T a, T b) { return maxfunction(a, b); });
  return values[pos];
}

// Raises mx and lowers mn towards v. Strict comparisons, so a NaN never
// becomes an extreme.
template <class T, class V>
inline void trackExtremes(T& mx, T& mn, V v) {
  if (mx < v) mx = v;
  if (mn > v) mn = v;
}
