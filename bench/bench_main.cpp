// Benchmark entry: reads our own flags, then hands the rest to Google Benchmark.
//   harvest_bench [--bench_size=tiny|small|medium|large|N] [--bench_seed=N] [--benchmark_...]
// Inputs are written by the generator into the build folder on first use.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "bench_common.h"
#include "generate.h"

#ifndef HARVEST_BENCH_DATA_DIR
#define HARVEST_BENCH_DATA_DIR "."
#endif

// Takes --bench_size and --bench_seed out of argv; false on a bad value.
static bool takeOwnFlags(int& argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with("--bench_size=")) {
      const std::string_view word = arg.substr(std::strlen("--bench_size="));
      const auto n = word == "tiny" ? std::optional<long long>(1000) : odbgen::parseSize(word);
      if (!n) return false;
      bench::config().values = *n;
    } else if (arg.starts_with("--bench_seed=")) {
      const std::string_view word = arg.substr(std::strlen("--bench_seed="));
      auto& seed = bench::config().seed;
      if (std::from_chars(word.data(), word.data() + word.size(), seed).ec != std::errc()) return false;
    } else {
      rest.push_back(argv[i]);
    }
  }
  argc = static_cast<int>(rest.size());
  for (int i = 0; i < argc; ++i) argv[i] = rest[static_cast<std::size_t>(i)];
  return true;
}

int main(int argc, char** argv) {
  bench::config().dataDir = HARVEST_BENCH_DATA_DIR;
  if (!takeOwnFlags(argc, argv)) {
    std::fprintf(stderr, "harvest_bench: bad --bench_size or --bench_seed (sizes: tiny small medium large N)\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  odb_initializeAPI();
  bench::registerSelectionBenchmarks();
  bench::registerReadBenchmarks();
  bench::registerBulkBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  odb_finalizeAPI();
  return 0;
}
