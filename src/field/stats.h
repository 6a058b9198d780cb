// Extreme-value statistics shared by the value and bulk statistics: the
// running extremes and the engineering selection.
//
// The engineering extreme of n values at a percentage is the k-th value from
// the extreme end, k = n * percentage / 100 truncated; k = 0 stands for the
// extreme itself. The selection reorders a working array the caller owns and
// fills with the values that are numbers only: a NaN takes no part in a
// selection, and n counts the numbers. Both extremes come from one selection.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

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

// An unsigned key whose order is the order of the numbers (no NaN); -0
// sorts just below +0, which it equals, so either may stand for a zero.
// keyOfBits takes the number's bits as the unsigned K, or a vector of them.
template <class K, class Bits>
inline Bits keyOfBits(Bits bits) {
  constexpr int last = static_cast<int>(sizeof(K)) * 8 - 1;
  // Negative numbers count down: all bits flip; the others gain the top bit.
  return bits ^ ((K(0) - (bits >> last)) | K{1} << last);
}

template <class T>
inline auto orderKey(T v) {
  using K = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
  return keyOfBits<K>(std::bit_cast<K>(v));
}

// Below this many numbers a selection orders them in place; from it on, it
// counts their keys (valuesAtRanks), which orders -0 strictly below +0. A
// selection over data that does not fit in memory (rank_select.h) gives the
// counted order's results, so its callers hold smaller arrays in memory.
constexpr int kCountedSelection = 1 << 14;

// The values at positions rank[0] and rank[1] of values[0..n) in ascending
// order, into at[0] and at[1]; a rank below 0 is not wanted. A small array
// is partly ordered in place (nth_element); a large one is counted by the
// top 16 bits of its keys, and only the numbers in the bucket of a rank are
// copied out and ordered: two passes over the array for both ranks.
template <class T>
void valuesAtRanks(T* values, int n, const int rank[2], T at[2]) {
  constexpr int kBits = 16;
  if (n < kCountedSelection) {
    for (int r = 0; r < 2; ++r) {
      if (rank[r] < 0) continue;
      std::nth_element(values, values + rank[r], values + n);
      at[r] = values[rank[r]];
    }
    return;
  }
  constexpr int shift = static_cast<int>(sizeof(T)) * 8 - kBits;
  thread_local std::vector<std::uint32_t> count(std::size_t{1} << kBits);
  thread_local std::vector<T> picked[2];
  std::fill(count.begin(), count.end(), 0u);
  for (int i = 0; i < n; ++i) ++count[orderKey(values[i]) >> shift];
  std::size_t bucket[2] = {SIZE_MAX, SIZE_MAX};
  int below[2] = {0, 0};
  for (int r = 0; r < 2; ++r) {
    if (rank[r] < 0) continue;
    std::size_t b = 0;
    int under = 0;
    while (under + static_cast<int>(count[b]) <= rank[r]) under += static_cast<int>(count[b++]);
    bucket[r] = b;
    below[r] = under;
  }
  const bool shared = bucket[0] == bucket[1];
  picked[0].clear();
  picked[1].clear();
  for (int i = 0; i < n; ++i) {
    const std::size_t b = orderKey(values[i]) >> shift;
    if (b == bucket[0]) picked[0].push_back(values[i]);
    else if (b == bucket[1]) picked[1].push_back(values[i]);
  }
  for (int r = 0; r < 2; ++r) {
    if (rank[r] < 0) continue;
    std::vector<T>& p = picked[shared ? 0 : r];
    const auto nth = p.begin() + (rank[r] - below[r]);
    std::nth_element(p.begin(), nth, p.end());
    at[r] = *nth;
  }
}

// The engineering minimum and maximum of values[0..n) into *mn and *mx,
// each only when its pointer is not null: the values at the engineering
// position in ascending and in descending order (maxfunction). n must be
// positive and values free of NaN; values may be reordered.
template <class T>
void enggExtremes(T* values, int n, double percentage, T* mn, T* mx) {
  const int pos = enggPosition(n, percentage);
  const int rank[2] = {mn ? pos : -1, mx ? n - 1 - pos : -1};
  T at[2] = {};
  valuesAtRanks(values, n, rank, at);
  if (mn) *mn = at[0];
  if (mx) *mx = at[1];
}

// The wanted engineering extremes of values[0..n) into enggMin and enggMax,
// converted to their type; one not wanted, or no values, leaves it as it is.
template <class T, class R>
void selectEngg(T* values, int n, double percentage, bool wantMin, bool wantMax, R& enggMin, R& enggMax) {
  if (!values || n <= 0 || !(wantMin || wantMax)) return;
  T mn{}, mx{};
  enggExtremes(values, n, percentage, wantMin ? &mn : nullptr, wantMax ? &mx : nullptr);
  if (wantMin) enggMin = static_cast<R>(mn);
  if (wantMax) enggMax = static_cast<R>(mx);
}

template <class T>
T enggMinimum(T* values, int n, double percentage) {
  T v{};
  enggExtremes(values, n, percentage, &v, static_cast<T*>(nullptr));
  return v;
}

template <class T>
T enggMaximum(T* values, int n, double percentage) {
  T v{};
  enggExtremes(values, n, percentage, static_cast<T*>(nullptr), &v);
  return v;
}

// Raises mx and lowers mn towards v. Strict comparisons, so a NaN never
// becomes an extreme.
template <class T, class V>
inline void trackExtremes(T& mx, T& mn, V v) {
  if (mx < v) mx = v;
  if (mn > v) mn = v;
}
