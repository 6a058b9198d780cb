// Engineering extremes: the program's selection (enggExtremes: a count of
// the keys' top bits, then an ordering of one bucket per extreme) against
// two std::nth_element selections and against the full std::sort that a
// naive version would make. Each works on a fresh copy of the same random
// values (the copy is not timed) and all must agree.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_common.h"
#include "field/stats.h"

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

enum class How { Sort, NthElement, Program };

template <class T, How how>
static void BM_EnggExtremes(benchmark::State& state) {
  const std::vector<T>& source = sourceValues<T>(state.range(0));
  const std::size_t n = source.size(), pos = enggPosition(n);
  auto work = std::make_unique_for_overwrite<T[]>(n);
  T enggMin = 0, enggMax = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(source.begin(), source.end(), work.get());
    state.ResumeTiming();
    if constexpr (how == How::Sort) {
      std::sort(work.get(), work.get() + n);
      enggMin = work[pos];
      enggMax = work[n - 1 - pos];
    } else if constexpr (how == How::Program) {
      enggExtremes(work.get(), static_cast<int>(n), kPercent, &enggMin, &enggMax);
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
    add("EnggExtremes/float/sort", BM_EnggExtremes<float, How::Sort>, n);
    add("EnggExtremes/float/nth_element", BM_EnggExtremes<float, How::NthElement>, n);
    add("EnggExtremes/float/program", BM_EnggExtremes<float, How::Program>, n);
    add("EnggExtremes/double/sort", BM_EnggExtremes<double, How::Sort>, n);
    add("EnggExtremes/double/nth_element", BM_EnggExtremes<double, How::NthElement>, n);
    add("EnggExtremes/double/program", BM_EnggExtremes<double, How::Program>, n);
  }
}

}  // namespace bench
