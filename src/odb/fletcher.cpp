// Fletcher-32 as HDF5 computes it. HDF5 adds one word at a time to sum1 and
// sum1 to sum2, folding both (low half plus high half) after every 360
// words, and sum2 may wrap at 32 bits in between. Over a run of n words w_i
// that is sum1 += S and sum2 += n sum1 + T, with S the sum of the words and
// T the sum of (n - i) w_i, all modulo 2^32; S and T are computed sixteen
// words at a time where the processor has AVX2, so the folds, and with them
// the sum, are HDF5's bit for bit.
#include "odb/fletcher.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace odb_detail {

namespace {

constexpr std::size_t kRun = 360;  // words between folds

inline std::uint32_t word(const unsigned char* d, std::size_t i) {
  return static_cast<std::uint32_t>(d[2 * i]) << 8 | d[2 * i + 1];
}

void runSumsPlain(const unsigned char* d, std::size_t n, std::uint32_t* s, std::uint32_t* t) {
  std::uint32_t a = 0, b = 0;
  for (std::size_t i = 0; i < n; ++i) {
    a += word(d, i);
    b += static_cast<std::uint32_t>(n - i) * word(d, i);
  }
  *s = a;
  *t = b;
}

#if defined(__x86_64__)
// madd multiplies signed 16-bit numbers, so each word enters as w - 32768
// and the sums get 32768 times the count and the weights back.
__attribute__((target("avx2"))) void runSumsAvx2(const unsigned char* d, std::size_t n, std::uint32_t* s,
                                                  std::uint32_t* t) {
  const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4, 7, 6,
                                        9, 8, 11, 10, 13, 12, 15, 14);
  const __m256i bias = _mm256_set1_epi16(static_cast<short>(0x8000)), ones = _mm256_set1_epi16(1);
  const __m256i sixteen = _mm256_set1_epi16(16);
  // The weights of words 0..15, n - i, which fit 16 bits since n <= 360.
  __m256i weights = _mm256_sub_epi16(_mm256_set1_epi16(static_cast<short>(n)),
                                     _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  __m256i sums = _mm256_setzero_si256(), weighted = _mm256_setzero_si256();
  const std::size_t whole = n / 16 * 16;
  for (std::size_t i = 0; i < whole; i += 16) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 2 * i));
    const __m256i w = _mm256_xor_si256(_mm256_shuffle_epi8(raw, swap), bias);
    sums = _mm256_add_epi32(sums, _mm256_madd_epi16(w, ones));
    weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(w, weights));
    weights = _mm256_sub_epi16(weights, sixteen);
  }
  alignas(32) std::uint32_t a[8], b[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), sums);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), weighted);
  std::uint32_t sa = 0, sb = 0;
  for (int k = 0; k < 8; ++k) sa += a[k], sb += b[k];
  const auto count = static_cast<std::uint32_t>(whole);
  const auto weightSum = static_cast<std::uint32_t>(whole * n - whole * (whole - 1) / 2);
  sa += count * 32768u;
  sb += weightSum * 32768u;
  for (std::size_t i = whole; i < n; ++i) {
    sa += word(d, i);
    sb += static_cast<std::uint32_t>(n - i) * word(d, i);
  }
  *s = sa;
  *t = sb;
}
#endif

using RunSums = void (*)(const unsigned char*, std::size_t, std::uint32_t*, std::uint32_t*);

RunSums pickRunSums() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) return runSumsAvx2;
#endif
  return runSumsPlain;
}

inline std::uint32_t fold(std::uint32_t x) { return (x & 0xffff) + (x >> 16); }

}  // namespace

std::uint32_t fletcher32(const void* data, std::size_t bytes) {
  static const RunSums runSums = pickRunSums();  // a fact of the processor
  const auto* d = static_cast<const unsigned char*>(data);
  std::uint32_t sum1 = 0, sum2 = 0;
  for (std::size_t left = bytes / 2; left > 0;) {
    const std::size_t n = left < kRun ? left : kRun;
    std::uint32_t s = 0, t = 0;
    runSums(d, n, &s, &t);
    sum2 = fold(sum2 + static_cast<std::uint32_t>(n) * sum1 + t);
    sum1 = fold(sum1 + s);
    d += 2 * n;
    left -= n;
  }
  if (bytes % 2 != 0) {
    sum1 += static_cast<std::uint32_t>(*d) << 8;
    sum2 += sum1;
    sum1 = fold(sum1);
    sum2 = fold(sum2);
  }
  return fold(sum2) << 16 | fold(sum1);
}

bool storedSumMatches(const void* chunk, std::size_t dataBytes) {
  const auto* tail = static_cast<const unsigned char*>(chunk) + dataBytes;
  const std::uint32_t sum = tail[0] | tail[1] << 8 | tail[2] << 16 | static_cast<std::uint32_t>(tail[3]) << 24;
  const std::uint32_t computed = fletcher32(chunk, dataBytes);
  return sum == computed || sum == __builtin_bswap32(computed);
}

}  // namespace odb_detail
