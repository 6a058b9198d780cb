// The extremes of arrays of numbers as trackExtremes leaves them, number
// after number in order, taken a vector at a time: of an array, of a column
// of rows and of the six columns of a tensor's rows.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>

#include "field/stats.h"

// The vector part of pieceRange: two vectors of Bytes each way (SSE2's or
// AVX-512's max and min where the target has them; x > m ? x : m leaves m
// for a NaN x, as trackExtremes does). Returns the numbers taken.
template <std::size_t Bytes, class T>
__attribute__((always_inline)) inline std::size_t lanesRange(const T* v, std::size_t n, T& hi, T& lo) {
  typedef T Lanes __attribute__((vector_size(Bytes)));
  constexpr std::size_t k = Bytes / sizeof(T);
  Lanes h0 = hi - Lanes{}, h1 = h0, l0 = lo - Lanes{}, l1 = l0;
  std::size_t i = 0;
  for (; i + 2 * k <= n; i += 2 * k) {
    Lanes a, b;
    std::memcpy(&a, v + i, sizeof a);
    std::memcpy(&b, v + i + k, sizeof b);
    h0 = a > h0 ? a : h0, h1 = b > h1 ? b : h1, l0 = a < l0 ? a : l0, l1 = b < l1 ? b : l1;
  }
  for (const Lanes& h : {h0, h1})
    for (std::size_t j = 0; j < k; ++j)
      if (hi < h[j]) hi = h[j];
  for (const Lanes& l : {l0, l1})
    for (std::size_t j = 0; j < k; ++j)
      if (lo > l[j]) lo = l[j];
  return i;
}

#if defined(__x86_64__)
template <class T>
__attribute__((target("avx512f"))) inline std::size_t lanesRangeAvx512(const T* v, std::size_t n, T& hi, T& lo) {
  return lanesRange<64>(v, n, hi, lo);
}
#endif

// The largest and smallest numbers of v[0..n) as trackExtremes, number
// after number from -inf and +inf, leaves them (no NaN wins; -inf and +inf
// when every number is NaN), two vectors at a time (lanesRange). Equal
// numbers are the same bits except the zeros: when an extreme is a zero,
// the numbers are taken again in order, so that the first zero decides its
// sign.
template <class T>
inline void pieceRange(const T* v, std::size_t n, T& hi, T& lo) {
  hi = -std::numeric_limits<T>::infinity();
  lo = std::numeric_limits<T>::infinity();
#if defined(__x86_64__)
  static const bool wide = __builtin_cpu_supports("avx512f");  // a fact of the processor
  std::size_t i = wide ? lanesRangeAvx512(v, n, hi, lo) : lanesRange<16>(v, n, hi, lo);
#else
  std::size_t i = lanesRange<16>(v, n, hi, lo);
#endif
  for (; i < n; ++i) trackExtremes(hi, lo, v[i]);
  if (hi != 0 && lo != 0) return;
  hi = -std::numeric_limits<T>::infinity();
  lo = std::numeric_limits<T>::infinity();
  for (i = 0; i < n; ++i) trackExtremes(hi, lo, v[i]);
}

// pieceRange over v[0], v[stride], ...: n numbers in order (no zero to take
// again: equal numbers never replace an extreme).
template <class T>
inline void columnRange(const T* v, std::size_t n, std::size_t stride, T& hi, T& lo) {
  hi = -std::numeric_limits<T>::infinity();
  lo = std::numeric_limits<T>::infinity();
  for (std::size_t i = 0; i < n; ++i) trackExtremes(hi, lo, v[i * stride]);
}

// columnRange over each of the six columns of rows x 6 numbers at once: the
// rows taken as one array in runs of three vectors (whole rows: two of
// floats, one of doubles), each lane keeping its column's extremes. A
// column whose extreme is a zero is taken again in order (see pieceRange).
template <class T>
inline void tensorRanges(const T* data, std::size_t rows, T hi[6], T lo[6]) {
  typedef T Lanes __attribute__((vector_size(16)));
  constexpr std::size_t k = 16 / sizeof(T), run = 3 * k;
  const std::size_t total = rows * 6, whole = total / run * run;
  Lanes h[3], l[3];
  for (int v = 0; v < 3; ++v) {
    h[v] = -std::numeric_limits<T>::infinity() - Lanes{};
    l[v] = std::numeric_limits<T>::infinity() - Lanes{};
  }
  for (std::size_t i = 0; i < whole; i += run)
    for (int v = 0; v < 3; ++v) {
      Lanes a;
      std::memcpy(&a, data + i + v * k, sizeof a);
      h[v] = a > h[v] ? a : h[v];
      l[v] = a < l[v] ? a : l[v];
    }
  for (int m = 0; m < 6; ++m) {
    hi[m] = -std::numeric_limits<T>::infinity();
    lo[m] = std::numeric_limits<T>::infinity();
  }
  for (std::size_t v = 0; v < 3; ++v)
    for (std::size_t j = 0; j < k; ++j) {
      const std::size_t m = (v * k + j) % 6;
      if (hi[m] < h[v][j]) hi[m] = h[v][j];
      if (lo[m] > l[v][j]) lo[m] = l[v][j];
    }
  for (std::size_t i = whole; i < total; ++i) trackExtremes(hi[i % 6], lo[i % 6], data[i]);
  for (int m = 0; m < 6; ++m)
    if (hi[m] == 0 || lo[m] == 0) columnRange(data + m, rows, 6, hi[m], lo[m]);
}

