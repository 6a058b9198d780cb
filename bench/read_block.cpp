// Reading a field output's arrays: our reader (fieldOutputs, bulkDataBlocks,
// dataDouble) against plain H5Dread calls on the same datasets of the same
// open file. "raw-data" reads only the data arrays; "raw-block" also the
// element labels and integration points, which the reader loads with a block.
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "generate.h"
#include "h5raw.h"

namespace bench {

// Object path of the stress blocks of the last frame of the first step.
static std::vector<std::string> stressBlockPaths(const odbgen::RawFile& file) {
  const std::string frame = "/steps/" + odbgen::stepName(0) + "/frames/";
  std::vector<std::string> paths;
  for (int f = 0;; ++f) {
    if (file.exists(frame + std::to_string(f + 1))) continue;
    const std::string blocks = frame + std::to_string(f) + "/fieldOutputs/" + odbgen::kStressField + "/blocks/";
    for (int b = 0; file.exists(blocks + std::to_string(b)); ++b) paths.push_back(blocks + std::to_string(b));
    return paths;
  }
}

static double sum(const double* p, std::size_t n) {
  double s = 0;
  for (std::size_t i = 0; i < n; ++i) s += p[i];
  return s;
}

template <bool WithLabels>
static void BM_ReadRaw(benchmark::State& state, bool single) {
  try {
    const odbgen::RawFile file(database(single));
    const std::vector<std::string> blocks = stressBlockPaths(file);
    double values = 0, total = 0;
    for (auto _ : state) {
      values = total = 0;
      for (const std::string& b : blocks) {
        std::size_t n = 0, m = 0;
        const std::unique_ptr<double[]> data = file.readDoubles(b + "/data", n);
        if constexpr (WithLabels) {
          benchmark::DoNotOptimize(file.readInts(b + "/elementLabels", m).get());
          benchmark::DoNotOptimize(file.readInts(b + "/integrationPoints", m).get());
        }
        total += sum(data.get(), n);
        values += static_cast<double>(n) / 6;
      }
    }
    setThroughput(state, values, values * 6 * (single ? 4 : 8));
    state.SetLabel(checksum({{"sum", total}}));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

static void BM_ReadOdb(benchmark::State& state, bool single) {
  try {
    const odb_Frame& frame = lastFrame(single);
    double values = 0, total = 0;
    for (auto _ : state) {
      values = total = 0;
      // A fresh repository each time: its field outputs own the arrays, so
      // every iteration reads the file again, as a frame walk does.
      const odb_FieldOutputRepository outputs = frame.fieldOutputs();
      for (const odb_FieldBulkData& block : outputs[odbgen::kStressField].bulkDataBlocks()) {
        const std::size_t n = static_cast<std::size_t>(block.length()) * static_cast<std::size_t>(block.width());
        total += sum(block.dataDouble(), n);
        values += block.length();
      }
    }
    setThroughput(state, values, values * 6 * (single ? 4 : 8));
    state.SetLabel(checksum({{"sum", total}}));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

// Every frame of the first step, as a run walks them: each frame's stress
// blocks, values in their stored precision and von Mises, from a database
// opened with pooled arrays or with plain heap arrays (the baseline).
static void BM_WalkFrames(benchmark::State& state, bool single, bool pooled) {
  try {
    odb_OpenOptions options;
    options.pooledArrays = pooled;
    const std::unique_ptr<odb_Odb> odb = odb_open(database(single), options);
    const odb_SequenceFrame& frames = odb->steps()[odbgen::stepName(0).c_str()].frames();
    double values = 0, total = 0;
    for (auto _ : state) {
      values = total = 0;
      for (int f = 0; f < frames.size(); ++f) {
        const odb_FieldOutputRepository outputs = frames[f].fieldOutputs();
        for (const odb_FieldBulkData& block : outputs[odbgen::kStressField].bulkDataBlocks()) {
          const std::size_t n = static_cast<std::size_t>(block.length()) * static_cast<std::size_t>(block.width());
          if (single) {
            const float* d = block.data();
            for (std::size_t i = 0; i < n; ++i) total += d[i];
          } else {
            total += sum(block.dataDouble(), n);
          }
          const float* m = block.mises();
          for (int i = 0; i < block.length(); ++i) total += m[i];
          values += block.length();
        }
      }
    }
    setThroughput(state, values, values * 6 * (single ? 4 : 8));
    state.SetLabel(checksum({{"sum", total}}));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void registerReadBenchmarks() {
  for (const bool single : {false, true}) {
    const std::string kind = single ? "f32" : "f64";
    benchmark::RegisterBenchmark(("ReadStress/" + kind + "/raw-data").c_str(), BM_ReadRaw<false>, single)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ReadStress/" + kind + "/raw-block").c_str(), BM_ReadRaw<true>, single)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ReadStress/" + kind + "/reader").c_str(), BM_ReadOdb, single)
        ->Unit(benchmark::kMillisecond);
    for (const bool pooled : {false, true})
      benchmark::RegisterBenchmark(("WalkFrames/" + kind + (pooled ? "/pooled" : "/plain")).c_str(), BM_WalkFrames,
                                   single, pooled)
          ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace bench
