// Derived tensor quantities: column mapping, von Mises, pressure, third
// invariant and principal values. Touches no globals.
#include "odb/derived.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <utility>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "odb/vocabulary.h"

namespace odb_detail {

// Index into s[6] of the component a label's last two characters name, or -1.
static int componentIndex(const std::string& label) {
  if (label.size() < 2) return -1;
  const std::string_view tail = std::string_view(label).substr(label.size() - 2);
  for (std::size_t k = 0; k < odb_vocab::kTensorSuffixes.size(); ++k)
    if (tail == odb_vocab::kTensorSuffixes[k]) return static_cast<int>(k);
  return -1;
}

// The components a type stores, in column order (docs/format.md §7).
static std::vector<int> canonicalOrder(int type) {
  switch (type) {
    case odb_Enum::TENSOR_3D_PLANAR:
    case odb_Enum::TENSOR_2D_PLANAR:
      return {0, 1, 2, 3};
    case odb_Enum::TENSOR_3D_SURFACE:
    case odb_Enum::TENSOR_2D_SURFACE:
      return {0, 1, 3};
    default:
      return {0, 1, 2, 3, 4, 5};
  }
}

void tensorColumns(const std::vector<std::string>& storedLabels, int type, int width, int cols[6]) {
  std::fill(cols, cols + 6, -1);
  bool named = false;
  const int n = std::min(width, static_cast<int>(storedLabels.size()));
  for (int c = 0; c < n; ++c) {
    const int k = componentIndex(storedLabels[static_cast<std::size_t>(c)]);
    if (k < 0) continue;
    named = true;
    if (cols[k] < 0) cols[k] = c;  // the first column wins a duplicate
  }
  if (named) return;
  const std::vector<int> order = canonicalOrder(type);
  for (int c = 0; c < width && c < static_cast<int>(order.size()); ++c) cols[order[static_cast<std::size_t>(c)]] = c;
}

// The von Mises value squared into q, of one double or of a register of
// them: one definition of the arithmetic, so that every width rounds alike.
// By reference: a register wider than the baseline's is never passed by
// value outside the functions built for it.
template <class V>
__attribute__((always_inline)) inline void misesSquared(V& q, const V& s11, const V& s22, const V& s33, const V& s12,
                                                        const V& s13, const V& s23) {
  const V d1 = s11 - s22, d2 = s22 - s33, d3 = s33 - s11;
  const V shear = s12 * s12 + s13 * s13 + s23 * s23;
  q = (d1 * d1 + d2 * d2 + d3 * d3) / 2.0 + 3.0 * shear;
}

static inline double misesOf(double s11, double s22, double s33, double s12, double s13, double s23) {
  double q;
  misesSquared(q, s11, s22, s33, s12, s13, s23);
  return std::sqrt(q);
}

double vonMises(const double s[6]) { return misesOf(s[0], s[1], s[2], s[3], s[4], s[5]); }

// Rows go through a tile of columns (one array per component, absent ones
// 0), so that the arithmetic runs over arrays: a loop the compiler
// vectorises, with the operations of vonMises() in the same order. The
// square root sets no errno (this file is built without it), which is
// what lets it vectorise; its result is the same correctly rounded value.
#if defined(__SSE2__)
// Four rows of six floats in the stored order 11 22 33 12 13 23: each
// component of the four rows gathered into one register.
static inline void fourRows(const float* v, __m128 c[6]) {
  const __m128 a0 = _mm_loadu_ps(v), a1 = _mm_loadu_ps(v + 4), a2 = _mm_loadu_ps(v + 8);
  const __m128 a3 = _mm_loadu_ps(v + 12), a4 = _mm_loadu_ps(v + 16), a5 = _mm_loadu_ps(v + 20);
  __m128 c0 = a0, c1 = _mm_shuffle_ps(a1, a2, _MM_SHUFFLE(1, 0, 3, 2)), c2 = a3,
         c3 = _mm_shuffle_ps(a4, a5, _MM_SHUFFLE(1, 0, 3, 2));  // rows 0..3, components 11 22 33 12
  _MM_TRANSPOSE4_PS(c0, c1, c2, c3);                            // now components 0..3, rows 0..3
  const __m128 t0 = _mm_shuffle_ps(a1, a2, _MM_SHUFFLE(3, 2, 1, 0)), t1 = _mm_shuffle_ps(a4, a5, _MM_SHUFFLE(3, 2, 1, 0));
  c[0] = c0, c[1] = c1, c[2] = c2, c[3] = c3;
  c[4] = _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(2, 0, 2, 0)), c[5] = _mm_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 1, 3, 1));
}

// The arithmetic of misesOf() four rows at a time, two rows a register of
// doubles.
static int misesFourRows(const float* values, int n, float* out) {
  int r = 0;
  for (; r + 4 <= n; r += 4) {
    __m128 c[6];
    fourRows(values + static_cast<std::size_t>(r) * 6, c);
    __m128d half[2];
    for (int h = 0; h < 2; ++h) {
      __m128d s[6];
      for (int k = 0; k < 6; ++k) s[k] = _mm_cvtps_pd(h == 0 ? c[k] : _mm_movehl_ps(c[k], c[k]));
      __m128d q;
      misesSquared(q, s[0], s[1], s[2], s[3], s[4], s[5]);
      half[h] = _mm_sqrt_pd(q);
    }
    _mm_storeu_ps(out + r, _mm_movelh_ps(_mm_cvtpd_ps(half[0]), _mm_cvtpd_ps(half[1])));
  }
  return r;
}

#if defined(__x86_64__)
// The same four rows in one register of doubles, where the processor has
// AVX2 (the same operations in the same order: the same floats). One S
// block of 520 000 rows: 0.52 ms against 0.82 ms.
__attribute__((target("avx2"))) static int misesFourRowsAvx2(const float* values, int n, float* out) {
  int r = 0;
  for (; r + 4 <= n; r += 4) {
    __m128 c[6];
    fourRows(values + static_cast<std::size_t>(r) * 6, c);
    // Named, not looped over: at -O2 a loop over an array of registers went
    // through the stack and took twice the time.
    const __m256d s11 = _mm256_cvtps_pd(c[0]), s22 = _mm256_cvtps_pd(c[1]), s33 = _mm256_cvtps_pd(c[2]);
    const __m256d s12 = _mm256_cvtps_pd(c[3]), s13 = _mm256_cvtps_pd(c[4]), s23 = _mm256_cvtps_pd(c[5]);
    __m256d q;
    misesSquared(q, s11, s22, s33, s12, s13, s23);
    _mm_storeu_ps(out + r, _mm256_cvtpd_ps(_mm256_sqrt_pd(q)));
  }
  return r;
}

// GCC 12's AVX-512 headers start some results from an undefined register,
// which its own -Wmaybe-uninitialized and -Wuninitialized then report.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// The same arithmetic on eight rows at a time, one register of doubles,
// where the processor has AVX-512: the 48 floats of eight rows in three
// registers, two components' sixteen gathered by two permutes (pairOf).
__attribute__((target("avx512f"))) static inline __m512 pairOf(__m512 a0, __m512 a1, __m512 a2, __m512i first,
                                                                __m512i second) {
  return _mm512_permutex2var_ps(_mm512_permutex2var_ps(a0, first, a1), second, a2);
}
// The doubles of a pair's first and second component.
__attribute__((target("avx512f"))) static inline __m512d lowOf(__m512 pair) {
  return _mm512_cvtps_pd(_mm512_castps512_ps256(pair));
}
__attribute__((target("avx512f"))) static inline __m512d highOf(__m512 pair) {
  return _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(pair), 1)));
}

// The permutes of pairOf: pair k takes components 2k and 2k + 1. Component
// c of row j is float 6j + c, taken by a first permute from the first 32
// floats and by a second from the third register.
__attribute__((target("avx512f"))) static inline void pairPermutes(__m512i first[3], __m512i second[3]) {
  for (int k = 0; k < 3; ++k) {
    alignas(64) int a[16], b[16];
    for (int lane = 0; lane < 16; ++lane) {
      const int at = 6 * (lane % 8) + 2 * k + lane / 8;
      a[lane] = at < 32 ? at : 0;
      b[lane] = at < 32 ? lane : 16 + at - 32;
    }
    first[k] = _mm512_load_si512(a), second[k] = _mm512_load_si512(b);
  }
}

__attribute__((target("avx512f"))) static int misesEightRowsAvx512(const float* values, int n, float* out) {
  __m512i first[3], second[3];
  pairPermutes(first, second);
  int r = 0;
  for (; r + 8 <= n; r += 8) {
    const float* v = values + static_cast<std::size_t>(r) * 6;
    const __m512 a0 = _mm512_loadu_ps(v), a1 = _mm512_loadu_ps(v + 16), a2 = _mm512_loadu_ps(v + 32);
    const __m512 p0 = pairOf(a0, a1, a2, first[0], second[0]), p1 = pairOf(a0, a1, a2, first[1], second[1]),
                 p2 = pairOf(a0, a1, a2, first[2], second[2]);
    const __m512d s11 = lowOf(p0), s22 = highOf(p0), s33 = lowOf(p1), s12 = highOf(p1), s13 = lowOf(p2),
                  s23 = highOf(p2);
    __m512d q;
    misesSquared(q, s11, s22, s33, s12, s13, s23);
    _mm256_storeu_ps(out + r, _mm512_cvtpd_ps(_mm512_sqrt_pd(q)));
  }
  return r + misesFourRowsAvx2(values + static_cast<std::size_t>(r) * 6, n - r, out + r);
}

// The squares of the von Mises values of sixteen rows at a time in float
// arithmetic, for misesRange's sieve: no conversion to doubles, and half
// the permutes a row. Each q[r] is within 2^-21 of the double square
// relatively and 2^-146 absolutely (a sum of non-negative terms, each
// through at most six roundings, or a few numbers below the normal range),
// or is infinite; hi and lo get the largest and smallest (a NaN never).
// Returns the rows taken, a multiple of sixteen.
__attribute__((target("avx512f"))) static int floatSquaresAvx512(const float* values, int n, float* q, float& hi,
                                                                 float& lo) {
  __m512i first[3], second[3];
  pairPermutes(first, second);
  __m512 high = _mm512_set1_ps(-INFINITY), low = _mm512_set1_ps(INFINITY);
  int r = 0;
  for (; r + 16 <= n; r += 16) {
    const float* v = values + static_cast<std::size_t>(r) * 6;
    const __m512 a0 = _mm512_loadu_ps(v), a1 = _mm512_loadu_ps(v + 16), a2 = _mm512_loadu_ps(v + 32);
    const __m512 b0 = _mm512_loadu_ps(v + 48), b1 = _mm512_loadu_ps(v + 64), b2 = _mm512_loadu_ps(v + 80);
    __m512 c[6];  // component k of the sixteen rows: the halves of rows 0-7 and of rows 8-15 joined
    for (int k = 0; k < 3; ++k) {
      const __m512 p = pairOf(a0, a1, a2, first[k], second[k]), pp = pairOf(b0, b1, b2, first[k], second[k]);
      c[2 * k] = _mm512_shuffle_f32x4(p, pp, _MM_SHUFFLE(1, 0, 1, 0));
      c[2 * k + 1] = _mm512_shuffle_f32x4(p, pp, _MM_SHUFFLE(3, 2, 3, 2));
    }
    __m512 square;
    misesSquared(square, c[0], c[1], c[2], c[3], c[4], c[5]);
    _mm512_storeu_ps(q + r, square);
    high = _mm512_max_ps(square, high);  // the second operand when the first is a NaN
    low = _mm512_min_ps(square, low);
  }
  hi = _mm512_reduce_max_ps(high);
  lo = _mm512_reduce_min_ps(low);
  return r;
}

// The rows of q[0, n) at or above `above` or at or below `below` into
// rows, at most `most` of them: false when there are more.
__attribute__((target("avx512f"))) static bool sieveAvx512(const float* q, int n, float above, float below,
                                                          int most, int* rows, int& count) {
  const __m512 up = _mm512_set1_ps(above), down = _mm512_set1_ps(below);
  count = 0;
  for (int r = 0; r < n; r += 16) {
    const __m512 v = _mm512_loadu_ps(q + r);
    auto mask = static_cast<unsigned>(_mm512_cmp_ps_mask(v, up, _CMP_GE_OQ) | _mm512_cmp_ps_mask(v, down, _CMP_LE_OQ));
    if (count + std::popcount(mask) > most) return false;
    for (; mask != 0; mask &= mask - 1) rows[count++] = r + std::countr_zero(mask);
  }
  return true;
}
#pragma GCC diagnostic pop
#endif

#endif

// Whether the columns are the stored order 11 22 33 12 13 23 and nothing else.
static bool inStoredOrder(int width, const int cols[6]) {
  return width == 6 && cols[0] == 0 && cols[1] == 1 && cols[2] == 2 && cols[3] == 3 && cols[4] == 4 && cols[5] == 5;
}

// A loop over whole runs of stored float rows: returns the rows it took.
using RowsAtOnce = int (*)(const float*, int, float*);

// The loop of `lanes` rows a register (2, 4 or 8), null when the processor
// or the target has none.
static RowsAtOnce rowsAtOnce(int lanes) {
#if defined(__x86_64__)
  if (lanes == 8 && __builtin_cpu_supports("avx512f")) return misesEightRowsAvx512;
  if (lanes == 4 && __builtin_cpu_supports("avx2")) return misesFourRowsAvx2;
#endif
#if defined(__SSE2__)
  if (lanes == 2) return misesFourRows;
#endif
  return nullptr;
}

// The widest loop the processor has.
static RowsAtOnce widestRows() {
  for (const int lanes : {8, 4, 2})
    if (const RowsAtOnce loop = rowsAtOnce(lanes)) return loop;
  return nullptr;
}

// misesRows with the given loop for stored float rows (none: the tiles
// below take every row).
template <class T>
static void misesRowsBy(RowsAtOnce loop, const T* values, int width, const int cols[6], int n, float* out) {
  if constexpr (std::is_same_v<T, float>) {
    if (loop && inStoredOrder(width, cols)) {
      const int done = loop(values, n, out);
      values += static_cast<std::size_t>(done) * 6, out += done, n -= done;
    }
  }
  constexpr int kTile = 256;
  alignas(64) double s[6][kTile];
  const auto w = static_cast<std::size_t>(width);
  for (int k = 0; k < 6; ++k)
    if (cols[k] < 0) std::fill_n(s[k], kTile, 0.0);
  for (int first = 0; first < n; first += kTile) {
    const int m = std::min(kTile, n - first);
    const T* rows = values + static_cast<std::size_t>(first) * w;
    for (int k = 0; k < 6; ++k) {
      if (cols[k] < 0) continue;
      const T* column = rows + cols[k];
      for (int r = 0; r < m; ++r) s[k][r] = static_cast<double>(column[static_cast<std::size_t>(r) * w]);
    }
    float* to = out + first;
    for (int r = 0; r < m; ++r) to[r] = static_cast<float>(misesOf(s[0][r], s[1][r], s[2][r], s[3][r], s[4][r], s[5][r]));
  }
}

template <class T>
void misesRows(const T* values, int width, const int cols[6], int n, float* out) {
  static const RowsAtOnce loop = widestRows();  // a fact of the processor
  misesRowsBy(loop, values, width, cols, n, out);
}

template void misesRows<float>(const float*, int, const int[6], int, float*);
template void misesRows<double>(const double*, int, const int[6], int, float*);

// x into the running extremes as a pass over misesRows' floats takes it.
static inline void track(float x, float& hi, float& lo) {
  if (x > hi) hi = x;
  if (x < lo) lo = x;
}

#if defined(__x86_64__)
// The largest float at most t, and the smallest at least t.
static float floatBelow(double t) {
  if (t > FLT_MAX) return FLT_MAX;
  if (t < -FLT_MAX) return -INFINITY;
  const auto f = static_cast<float>(t);
  return static_cast<double>(f) > t ? std::nextafter(f, -INFINITY) : f;
}
static float floatAbove(double t) {
  if (t > FLT_MAX) return INFINITY;
  if (t < -FLT_MAX) return -FLT_MAX;
  const auto f = static_cast<float>(t);
  return static_cast<double>(f) < t ? std::nextafter(f, INFINITY) : f;
}

// misesRange over n <= kSieveRun stored float rows by a sieve: the squares
// in float arithmetic pick the rows that can hold the extremes, and only
// those get the double arithmetic of misesOf(). With the squares' errors
// (floatSquaresAvx512) below a relative 2^-21 and an absolute 2^-146, a
// row whose double square is the largest has a float square at least
// (1 - 2^-16) times the largest float square less 2^-100, and the smallest
// likewise the other way, so the margins below keep every such row, with
// room to spare. False, and nothing taken, when a square overflows (the
// order of the float squares then says nothing) or more than kMostPicked
// rows are picked (a field of equal values): misesRows then takes the run.
constexpr int kSieveRun = 1024, kMostPicked = 64;

static bool sievedRange(const float* values, int n, float& hi, float& lo) {
  alignas(64) float q[kSieveRun];
  float qHi, qLo;
  const int sieved = floatSquaresAvx512(values, n, q, qHi, qLo);
  if (qHi == INFINITY) return false;
  const double relative = std::ldexp(1.0, -16), absolute = std::ldexp(1.0, -100);
  const float above = floatBelow(static_cast<double>(qHi) * (1 - relative) - absolute);
  const float below = floatAbove(static_cast<double>(qLo) * (1 + relative) + absolute);
  int picked[kMostPicked], count = 0;
  if (!sieveAvx512(q, sieved, above, below, kMostPicked, picked, count)) return false;
  auto take = [&](int r) {
    const float* v = values + static_cast<std::size_t>(r) * 6;
    track(static_cast<float>(misesOf(v[0], v[1], v[2], v[3], v[4], v[5])), hi, lo);
  };
  for (int i = 0; i < count; ++i) take(picked[i]);
  for (int r = sieved; r < n; ++r) take(r);  // the rows after the last sixteen
  return true;
}
#endif

template <class T>
static void misesRangeBy(bool sieve, const T* values, int width, const int cols[6], int n, float& hi, float& lo) {
  hi = -INFINITY;
  lo = INFINITY;
  constexpr int kRun = 1024;
  alignas(64) float out[kRun];
  const auto w = static_cast<std::size_t>(width);
  for (int first = 0; first < n; first += kRun) {
    const int m = std::min(kRun, n - first);
    const T* rows = values + static_cast<std::size_t>(first) * w;
#if defined(__x86_64__)
    if constexpr (std::is_same_v<T, float>) {
      static_assert(kRun <= kSieveRun);
      if (sieve && sievedRange(rows, m, hi, lo)) continue;
    }
#endif
    misesRows(rows, width, cols, m, out);
    for (int r = 0; r < m; ++r) track(out[r], hi, lo);
  }
}

template <class T>
void misesRange(const T* values, int width, const int cols[6], int n, float& hi, float& lo) {
  bool sieve = false;
#if defined(__x86_64__)
  static const bool wide = __builtin_cpu_supports("avx512f");  // a fact of the processor
  sieve = wide && inStoredOrder(width, cols);
#endif
  misesRangeBy(sieve, values, width, cols, n, hi, lo);
}

template void misesRange<float>(const float*, int, const int[6], int, float&, float&);
template void misesRange<double>(const double*, int, const int[6], int, float&, float&);

bool misesRangeSieved(const float* values, int n, float& hi, float& lo) {
#if defined(__x86_64__)
  if (!__builtin_cpu_supports("avx512f")) return false;
  const int inOrder[6] = {0, 1, 2, 3, 4, 5};
  misesRangeBy(true, values, 6, inOrder, n, hi, lo);
  return true;
#else
  (void)values, (void)n, (void)hi, (void)lo;
  return false;
#endif
}

bool misesRowsWith(int lanes, const float* values, int n, float* out) {
  const RowsAtOnce loop = rowsAtOnce(lanes);
  if (lanes != 0 && !loop) return false;
  const int inOrder[6] = {0, 1, 2, 3, 4, 5};
  misesRowsBy(loop, values, 6, inOrder, n, out);
  return true;
}

double pressure(const double s[6]) { return -(s[0] + s[1] + s[2]) / 3.0; }

double thirdInvariant(const double s[6]) {
  const double mean = (s[0] + s[1] + s[2]) / 3.0;
  const double a = s[0] - mean, b = s[1] - mean, c = s[2] - mean;
  const double xy = s[3], xz = s[4], yz = s[5];
  const double det = a * (b * c - yz * yz) - xy * (xy * c - yz * xz) + xz * (xy * yz - b * xz);
  return std::cbrt(13.5 * det);
}

// One Jacobi rotation that zeroes a[p][q] of the symmetric matrix a.
static void jacobiRotate(double a[3][3], int p, int q) {
  const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
  const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
  const double c = 1.0 / std::sqrt(t * t + 1.0), sn = t * c;
  for (int k = 0; k < 3; ++k) {  // columns p and q
    const double akp = a[k][p], akq = a[k][q];
    a[k][p] = c * akp - sn * akq;
    a[k][q] = sn * akp + c * akq;
  }
  for (int k = 0; k < 3; ++k) {  // rows p and q
    const double apk = a[p][k], aqk = a[q][k];
    a[p][k] = c * apk - sn * aqk;
    a[q][k] = sn * apk + c * aqk;
  }
}

// Cyclic Jacobi: slower than the closed form but accurate for repeated and
// nearly repeated eigenvalues, and it leaves a diagonal tensor untouched.
void principals(const double s[6], double out[3]) {
  double a[3][3] = {{s[0], s[3], s[4]}, {s[3], s[1], s[5]}, {s[4], s[5], s[2]}};
  static const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  for (int sweep = 0; sweep < 60; ++sweep) {
    const double off = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
    if (off == 0.0) break;
    const double scale = std::fabs(a[0][0]) + std::fabs(a[1][1]) + std::fabs(a[2][2]);
    if (sweep > 3 && off <= 1e-300 + scale * 1e-18) break;
    for (const auto& pq : pairs)
      if (a[pq[0]][pq[1]] != 0.0) jacobiRotate(a, pq[0], pq[1]);
  }
  out[0] = a[0][0];
  out[1] = a[1][1];
  out[2] = a[2][2];
  std::sort(out, out + 3, [](double x, double y) { return x > y; });
}

// ------------------------------------------------ principal values, fast
//
// principalFloats() must give the floats that principals() gives, so it
// works with intervals: for each eigenvalue an interval [lo, hi] that holds
// what principals() returns. When lo and hi round to the same float, that
// float is the answer (rounding is monotone). The interval's half width is
// the closed form's own error plus a bound on principals()' distance from
// the exact eigenvalues, both proportional to the unit roundoff u and the
// Frobenius norm N of s:
// - each cyclic Jacobi rotation returns an exact rotation of its matrix plus
//   at most 20 u N (two products and a difference per entry, for the columns
//   and again for the rows, with cosine and sine each a few ulps off unit
//   length); at most 60 sweeps of 3 rotations, so 3600 u N, which counts
//   twice since the result may lose symmetry (Weyl's bound then applies to
//   the symmetric part), plus the off-diagonal left at the stop: 8192 u N;
// - the closed form is the trigonometric one; its weak spot is acos near
//   +-1 (nearly repeated values), where the bound grows like sqrt(u) and
//   the fallback takes over.

namespace {

constexpr double kU = 0x1p-53;                 // unit roundoff of double
constexpr double kJacobiSlack = 8192.0 * kU;  // principals() from the exact values, per unit of N
constexpr double kHalfSqrt3 = 0.8660254037844386;

// Sorts three numbers into descending order.
void sortDown(double v[3]) {
  if (v[0] < v[1]) std::swap(v[0], v[1]);
  if (v[1] < v[2]) std::swap(v[1], v[2]);
  if (v[0] < v[1]) std::swap(v[0], v[1]);
}

// The eigenvalues of [[x, o], [o, y]] into v[0], v[1]; returns their error
// bound in the units of the Jacobi bound, N u. Hence its own N: sqrt(x^2 +
// y^2 + 2 o^2) (a third diagonal entry only adds to N).
double pairEigen(double x, double y, double o, double v[2], double* norm) {
  const double mean = (x + y) / 2.0, radius = std::hypot((x - y) / 2.0, o);
  v[0] = mean + radius;
  v[1] = mean - radius;
  *norm = std::sqrt(x * x + y * y + 2.0 * o * o);
  return 8.0 * kU * (std::fabs(mean) + radius);
}

// The three eigenvalues (any order) by the trigonometric closed form, their
// error bound and a bound on N; false when the form does not apply.
bool trigEigen(const double s[6], double v[3], double* err, double* norm) {
  const double d = s[3], e = s[4], f = s[5];
  const double q = (s[0] + s[1] + s[2]) * (1.0 / 3.0);
  // B = s - qI, which the form takes for traceless; q's rounding leaves a
  // trace of 3 t, each difference rounds once more (Weyl: u |x|, in err).
  const double x = s[0] - q, y = s[1] - q, z = s[2] - q;
  const double t = std::fabs(x + y + z) * (1.0 / 3.0) + 2.0 * kU * (std::fabs(x) + std::fabs(y) + std::fabs(z));
  const double p = std::sqrt((x * x + y * y + z * z + 2.0 * (d * d + e * e + f * f)) * (1.0 / 6.0));
  if (!(p > 0.0) || !(t < 0.01 * p)) return false;
  const double inv = 1.0 / p, inv3 = inv * inv * inv;
  const double det = x * (y * z - f * f) - d * (d * z - f * e) + e * (d * f - y * e);
  const double terms = std::fabs(x) * (std::fabs(y * z) + f * f) +
                       std::fabs(d) * (std::fabs(d * z) + std::fabs(f * e)) +
                       std::fabs(e) * (std::fabs(d * f) + std::fabs(y * e));
  const double r = std::clamp(det * 0.5 * inv3, -1.0, 1.0);
  if (!(r == r)) return false;
  // r's error: the determinant's terms (6 u), p's (5 u) cubed, 1 / p, the
  // products, and the trace left in B (t times the sum of its 2x2 minors,
  // at most 6 p^2).
  const double dr = 1.25 * (kU * (24.0 + 3.1 * terms * inv3) + 3.0 * t * inv);
  // acos moves by at most 2.25 sqrt(dr), and by dr / sqrt(1 - m^2) when r
  // and its neighbourhood keep below m < 1 in magnitude.
  const double m = std::fabs(r) + dr;
  const double dacos = m < 1.0 && dr <= 5.0625 * (1.0 - m * m) ? dr / std::sqrt(1.0 - m * m) : 2.25 * std::sqrt(dr);
  const double dphi = dacos / 3.0 + 16.0 * kU;  // acos, /3, the cosines
  const double phi = std::acos(r) * (1.0 / 3.0);
  // cos(phi -+ 2 pi / 3) = -cos(phi) / 2 +- sin(phi) sqrt(3) / 2
  const double c = std::cos(phi), sn = std::sin(phi);
  v[0] = q + 2.0 * p * c;
  v[1] = q + p * (-c + 2.0 * kHalfSqrt3 * sn);
  v[2] = q + p * (-c - 2.0 * kHalfSqrt3 * sn);
  // B's rounded diagonal (Weyl), the final sum, p's error, the trace left
  // in B (which moves the values by t and p by t^2 / p), the cosines.
  *err = 1.5 * (4.0 * kU * (std::fabs(q) + 3.0 * p) + 12.0 * kU * p + 2.0 * t + 2.0 * p * dphi);
  *norm = 2.45 * p + 1.733 * std::fabs(q) + t;  // |B|_F + |qI|_F, with B's trace
  return true;
}

}  // namespace

bool principalBounds(const double s[6], double lo[3], double hi[3]) {
  double big = 0.0;
  for (int k = 0; k < 6; ++k) {
    if (!std::isfinite(s[k])) return false;
    big = std::max(big, std::fabs(s[k]));
  }
  const double d = s[3], e = s[4], f = s[5];
  if (d == 0.0 && e == 0.0 && f == 0.0) {  // principals() leaves a diagonal untouched
    double v[3] = {s[0], s[1], s[2]};
    std::sort(v, v + 3, [](double a, double b) { return a > b; });
    std::copy(v, v + 3, lo);
    std::copy(v, v + 3, hi);
    return true;
  }
  if (big > 1e100 || big < 1e-100) return false;  // squares and cubes stay normal numbers
  double v[3], err = 0.0, norm = 0.0;
  int exact = -1;  // a row and column without coupling keep their diagonal entry in principals()
  if (e == 0.0 && f == 0.0) exact = 2;
  else if (d == 0.0 && f == 0.0) exact = 1;
  else if (d == 0.0 && e == 0.0) exact = 0;
  if (exact >= 0) {
    static const int rest[3][3] = {{1, 2, 5}, {0, 2, 4}, {0, 1, 3}};  // the other two and their coupling
    const int* o = rest[exact];
    v[0] = s[exact];
    err = pairEigen(s[o[0]], s[o[1]], s[o[2]], v + 1, &norm);
    norm += std::fabs(v[0]);
  } else if (!trigEigen(s, v, &err, &norm)) {
    return false;
  }
  const double half = (err + kJacobiSlack * norm) * 1.01;
  if (exact < 0) sortDown(v);  // in order already but where rounding swaps near ties
  for (int k = 0; k < 3; ++k) {
    const bool known = k == 0 && exact >= 0;
    lo[k] = known ? v[k] : v[k] - half;
    hi[k] = known ? v[k] : v[k] + half;
  }
  if (exact < 0) return true;
  sortDown(lo);  // the k-th largest value lies between the k-th largest bounds
  sortDown(hi);
  return true;
}

namespace {

// The float every number in [lo, hi] rounds to, with its sign settled; false
// when there is none.
bool oneFloat(double lo, double hi, float* out) {
  const float a = static_cast<float>(lo);
  if (lo != hi && !(lo > 0.0 || hi < 0.0)) return false;  // would leave the sign of a zero open
  if (std::bit_cast<std::uint32_t>(a) != std::bit_cast<std::uint32_t>(static_cast<float>(hi))) return false;
  *out = a;
  return true;
}

}  // namespace

bool principalFloats(const double s[6], float out[4]) {
  double lo[3], hi[3];
  if (principalBounds(s, lo, hi)) {
    bool ok = true;
    for (int k = 0; k < 3; ++k) ok = ok && oneFloat(lo[k], hi[k], &out[k]);
    double tlo = lo[0] - hi[2], thi = hi[0] - lo[2];
    if (tlo != thi) {  // widened by the rounding of the differences
      tlo -= 2.0 * kU * std::fabs(tlo);
      thi += 2.0 * kU * std::fabs(thi);
    }
    if (ok && oneFloat(tlo, thi, &out[3])) return true;
  }
  double p[3];
  principals(s, p);
  for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(p[k]);
  out[3] = static_cast<float>(p[0] - p[2]);
  return false;
}

void inPlanePrincipals(const double s[6], double out[2]) {
  const double mean = (s[0] + s[1]) / 2.0;
  const double radius = std::hypot((s[0] - s[1]) / 2.0, s[3]);
  out[0] = mean + radius;
  out[1] = mean - radius;
}

}  // namespace odb_detail
