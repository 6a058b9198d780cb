// Engineering extremes: the program's two std::nth_element selections
// against the full std::sort that a naive version would make. Both reorder a
// fresh copy of the same random values (the copy is not timed) and must agree.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_common.h"

namespace bench {

static constexpr double kPercent = 5.0;

// Deterministic values in [0, 400): von Mises-like magnitudes.
template <class T>
static const std::vector<T>& sourceValues(long long n) {
  static std::vector<T> values;
  if (values.size() != static_cast<std::size_t>(n)) {
    values.resize(static_cast<std::size_t>(n));
    std::uint64_t x = config().seed * 0x9E3779B97F4A7C15ull + 1;
    for (T& v : values) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;  // xorshift64
      v = static_cast<T>(static_cast<double>(x >> 11) * 0x1.0p-53 * 400.0);
    }
  }
  return values;
}

// Position of the engineering extreme in ascending (min) or descending (max) order.
static std::size_t enggPosition(std::size_t n) {
  const auto k = static_cast<std::size_t>(static_cast<double>(n) * kPercent / 100.0);
  return k > 0 ? k - 1 : 0;
}

template <class T, bool UseSort>
static void BM_EnggExtremes(benchmark::State& state) {
  const std::vector<T>& source = sourceValues<T>(state.range(0));
  const std::size_t n = source.size(), pos = enggPosition(n);
  auto work = std::make_unique_for_overwrite<T[]>(n);
  T enggMin = 0, enggMax = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(source.begin(), source.end(), work.get());
    state.ResumeTiming();
    if constexpr (UseSort) {
      std::sort(work.get(), work.get() + n);
      enggMin = work[pos];
      enggMax = work[n - 1 - pos];
    } else {
      std::nth_element(work.get(), work.get() + pos, work.get() + n);
      enggMin = work[pos];
      std::nth_element(work.get(), work.get() + pos, work.get() + n, std::greater<T>());
      enggMax = work[pos];
    }
    // The const overload: Google Benchmark 1.7's non-const DoNotOptimize
    // lets GCC hand back garbage for a float (the checksums showed it).
    benchmark::DoNotOptimize(std::as_const(enggMin));
    benchmark::DoNotOptimize(std::as_const(enggMax));
  }
  setThroughput(state, static_cast<double>(n), static_cast<double>(n * sizeof(T)));
  state.SetLabel(checksum({{"enggmin", enggMin}, {"enggmax", enggMax}}));
}

void registerSelectionBenchmarks() {
  const auto add = [](const char* name, void (*fn)(benchmark::State&), long long n) {
    benchmark::RegisterBenchmark(name, fn)->Arg(n)->Unit(benchmark::kMillisecond);
  };
  const long long v = config().values;
  for (const long long n : {v, 10 * v}) {
    add("EnggExtremes/float/sort", BM_EnggExtremes<float, true>, n);
    add("EnggExtremes/float/nth_element", BM_EnggExtremes<float, false>, n);
    add("EnggExtremes/double/sort", BM_EnggExtremes<double, true>, n);
    add("EnggExtremes/double/nth_element", BM_EnggExtremes<double, false>, n);
  }
}

}  // namespace bench
