// Benchmark set-up: configuration, generated inputs and counters.
#include "bench_common.h"

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "generate.h"

namespace bench {

Config& config() {
  static Config c;
  return c;
}

// Written into a temporary name and renamed, so an interrupted run never
// leaves a half-written input behind for the next one.
const std::string& database(bool single) {
  static std::string paths[2];
  std::string& path = paths[single ? 1 : 0];
  if (!path.empty()) return path;
  const Config& c = config();
  std::filesystem::create_directories(c.dataDir);
  const std::string name = "odbgen-" + std::to_string(c.values) + "-s" + std::to_string(c.seed) +
                           (single ? "-f32" : "-f64") + ".odb";
  const std::string full = c.dataDir + "/" + name;
  if (!std::filesystem::exists(full)) {
    std::fprintf(stderr, "harvest_bench: writing %s\n", full.c_str());
    odbgen::GenOptions options;
    options.seed = c.seed;
    options.values = c.values;
    options.single = single;
    odbgen::generateOdb(full + ".tmp", options);
    std::filesystem::rename(full + ".tmp", full);
  }
  path = full;
  return path;
}

odb_Odb& openDatabase(bool single) {
  static odb_Odb* open[2] = {nullptr, nullptr};
  odb_Odb*& odb = open[single ? 1 : 0];
  if (!odb) odb = &openOdb(database(single).c_str());
  return *odb;
}

const odb_Frame& lastFrame(bool single) {
  static odb_Frame frames[2];
  static bool loaded[2] = {false, false};
  const int i = single ? 1 : 0;
  if (!loaded[i]) {
    const odb_Step& step = openDatabase(single).steps()[odbgen::stepName(0).c_str()];
    frames[i] = step.frames().constGet(step.frames().size() - 1);
    loaded[i] = true;
  }
  return frames[i];
}

void setThroughput(benchmark::State& state, double values, double bytes) {
  state.counters["values"] = benchmark::Counter(values, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["MB"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

std::string checksum(std::initializer_list<std::pair<const char*, double>> items) {
  std::ostringstream out;
  out.precision(9);
  const char* sep = "";
  for (const auto& [name, value] : items) {
    out << sep << name << '=' << value;
    sep = " ";
  }
  return out.str();
}

}  // namespace bench
