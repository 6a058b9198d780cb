// Benchmark entry: reads our own flags, then hands the rest to Google Benchmark.
//   harvest_bench [--bench_size=tiny|small|medium|large|N] [--bench_seed=N] [--benchmark_...]
// Inputs are written by the generator into the build folder on first use.
// The run fails (status 1) when a benchmark reports an error or when the two
// sides of a pair disagree on their checksum.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_common.h"
#include "generate.h"
#include "tool_cli.h"

#ifndef HARVEST_BENCH_DATA_DIR
#define HARVEST_BENCH_DATA_DIR "."
#endif

// Reads --bench_size and --bench_seed; everything else is left in `rest`
// (program name first) for Google Benchmark. Returns the status to exit with
// when the run stops here.
static std::optional<int> takeOwnFlags(int argc, char** argv, std::vector<std::string>& rest) {
  CLI::App app("Benchmarks of the reader and the statistics; other --benchmark_... flags go to Google Benchmark.",
               "harvest_bench");
  app.allow_extras();
  app.add_option_function<std::string>(
         "--bench_size",
         [](const std::string& word) {
           bench::config().values = word == "tiny" ? 1000 : *odbgen::parseSize(word);
         },
         "values per field of the generated databases: tiny, small, medium, large or a count")
      ->check(CLI::Validator(
          [](const std::string& word) {
            return word == "tiny" || odbgen::parseSize(word) ? std::string() : "not a size: " + word;
          },
          "tiny|small|medium|large|N"));
  app.add_option("--bench_seed", bench::config().seed, "seed of the generated databases");
  if (const auto status = tool_cli::parse(app, "harvest_bench", argc, argv)) return status;
  rest = app.remaining();
  rest.insert(rest.begin(), argv[0]);
  return std::nullopt;
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
  std::vector<std::string> rest;
  if (const auto status = takeOwnFlags(argc, argv, rest)) return *status;
  std::vector<char*> args;
  for (std::string& arg : rest) args.push_back(arg.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return tool_cli::kUsageError;
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
