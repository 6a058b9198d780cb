// Benchmark entry: reads our own flags, then hands the rest to Google Benchmark.
//   harvest_bench [--bench_size=tiny|small|medium|large|N] [--bench_seed=N] [--benchmark_...]
// Inputs are written by the generator into the build folder on first use.
// The run fails (status 1) when a benchmark reports an error or when the two
// sides of a pair disagree on their checksum.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
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

namespace {

// The console output, plus a check of the checksums: runs whose names differ
// only in the "how" part (sort / nth_element, reader / raw-data, ...) must
// carry the same label.
class CheckingReporter : public benchmark::ConsoleReporter {
 public:
  CheckingReporter() : benchmark::ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      if (run.error_occurred) {
        ++errors_;
        continue;
      }
      const std::string key = pairKey(run.run_name.str());
      const auto [it, added] = labels_.emplace(key, std::pair{run.run_name.str(), run.report_label});
      if (!added && it->second.second != run.report_label) {
        std::fprintf(stderr, "harvest_bench: checksums differ:\n  %s: %s\n  %s: %s\n", it->second.first.c_str(),
                     it->second.second.c_str(), run.run_name.str().c_str(), run.report_label.c_str());
        ++mismatches_;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  bool ok() const { return errors_ == 0 && mismatches_ == 0; }

 private:
  // The name with its "how" component replaced by "*".
  static std::string pairKey(const std::string& name) {
    static const char* const kHow[] = {"sort", "nth_element", "raw-data", "raw-block", "reader",
                                       "plain-loop", "program", "values-constGet", "bulk-mises"};
    std::string key;
    std::string_view rest = name;
    for (;;) {
      const std::size_t slash = rest.find('/');
      const std::string_view part = rest.substr(0, slash);
      const bool isHow = std::any_of(std::begin(kHow), std::end(kHow), [&](const char* h) { return part == h; });
      key.append(isHow ? std::string_view("*") : part);
      if (slash == std::string_view::npos) break;
      key.push_back('/');
      rest.remove_prefix(slash + 1);
    }
    return key;
  }

  std::map<std::string, std::pair<std::string, std::string>> labels_;  // key -> first name, label
  int errors_ = 0;
  int mismatches_ = 0;
};

}  // namespace

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
  CheckingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  odb_finalizeAPI();
  return reporter.ok() ? 0 : 1;
}
