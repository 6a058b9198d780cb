// Shared set-up of the benchmarks: the run's size, the generated input
// databases and the registration entry of each benchmark file.
//
// Every benchmark measures a baseline in the same run, reports values/s and
// MB/s, and puts a checksum of its results in its label, so a fast but wrong
// change shows next to its baseline.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "odb/odb.h"

namespace bench {

struct Config {
  long long values = 1'000'000;  // values per field output (--bench_size)
  std::uint64_t seed = 1;        // odbgen seed (--bench_seed)
  std::string dataDir;           // where generated databases are kept between runs
};

// Written once by main before any benchmark runs, then only read.
Config& config();

// Returns the path of the generated database of the configured size
// (float64 data, or float32 with single), writing it on first use.
const std::string& database(bool single);

// Opens the database once per run; the library keeps it until odb_finalizeAPI.
odb_Odb& openDatabase(bool single);

// The last frame of the first step of the database.
const odb_Frame& lastFrame(bool single);

// Sets the counters values and MB (shown per second) on state for n values of `bytes` bytes in all, per iteration.
void setThroughput(benchmark::State& state, double values, double bytes);

// A compact text of numbers for a benchmark label, e.g. "max=412.5 min=0.25".
std::string checksum(std::initializer_list<std::pair<const char*, double>> items);

void registerSelectionBenchmarks();
void registerReadBenchmarks();
void registerBulkBenchmarks();

}  // namespace bench
