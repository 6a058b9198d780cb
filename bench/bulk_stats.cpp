// Whole-model statistics of the stress field, arrays already in memory:
//  - the program's odbE_printFieldBulkDataCon against a plain loop that
//    computes von Mises, maximum, minimum and the engineering extremes of
//    the same arrays (with and without the six component statistics);
//  - a walk over values() with constGet and mises per value against the
//    bulk path over each block's mises array.
// The labels carry the von Mises results, which must agree across each pair.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "bench_common.h"
#include "field/field.h"
#include "field/results.h"
#include "generate.h"
#include "run/settings.h"

namespace bench {

static constexpr double kPercent = 5.0;

// The stress output of the last frame with its arrays read, kept for the run.
static const odb_FieldOutput& loadedStress(bool single) {
  static odb_FieldOutputRepository outputs[2];
  static odb_FieldOutput stress[2];
  const int i = single ? 1 : 0;
  if (outputs[i].size() == 0) {
    outputs[i] = lastFrame(single).fieldOutputs();
    stress[i] = outputs[i][odbgen::kStressField];
    for (const odb_FieldBulkData& b : stress[i].bulkDataBlocks()) benchmark::DoNotOptimize(b.dataDouble());
  }
  return stress[i];
}

static double rowCount(const odb_FieldOutput& field) {
  double rows = 0;
  for (const odb_FieldBulkData& b : field.bulkDataBlocks()) rows += b.length();
  return rows;
}

static void useSettings(bool components) {
  resetSettings();
  per = kPercent;
  engg_max = engg_min = true;
  extract_field_components = components;
}

// Runs the container once into a file and returns the values of its first four lines.
static std::string programChecksum(const odb_FieldOutput& s, const std::string& file) {
  {
    std::ofstream out(file);
    odbE_printFieldBulkDataCon(s.bulkDataBlocks(), out, "Step-1", 1, "ALL", "", s.name(), s.validInvariants(),
                               "    ", false);
  }
  std::ifstream in(file);
  std::string line, text;
  for (int i = 0; i < 4 && std::getline(in, line); ++i) {
    if (i > 0) text += ' ';
    text.append(line, line.find('\t') + 1);
  }
  return text;
}

static void BM_BulkProgram(benchmark::State& state, bool single, bool components) {
  try {
    const odb_FieldOutput& s = loadedStress(single);
    useSettings(components);
    const std::string dir = config().dataDir;
    state.SetLabel(std::string("mises ").append(programChecksum(s, dir + "/bench_bulk_check.txt")));
    std::ofstream out(dir + "/bench_bulk_params.txt");
    for (auto _ : state) {
      odbE_printFieldBulkDataCon(s.bulkDataBlocks(), out, "Step-1", 1, "ALL", "", s.name(), s.validInvariants(),
                                 "    ", false);
    }
    const double rows = rowCount(s);
    setThroughput(state, rows, rows * 6 * (single ? 4 : 8));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

struct MinMaxEngg {  // maximum, minimum and engineering maximum and minimum of some values
  double max = -std::numeric_limits<double>::max(), min = std::numeric_limits<double>::max();
  double enggMax = -std::numeric_limits<double>::max(), enggMin = std::numeric_limits<double>::max();
};

// Maximum, minimum and engineering extremes of n floats, reordering them.
static MinMaxEngg minMaxEngg(float* v, std::size_t n) {
  MinMaxEngg e;
  for (std::size_t i = 0; i < n; ++i) {
    e.max = std::max<double>(e.max, v[i]);
    e.min = std::min<double>(e.min, v[i]);
  }
  const auto k = static_cast<std::size_t>(static_cast<double>(n) * kPercent / 100.0);
  const std::size_t pos = k > 0 ? k - 1 : 0;
  std::nth_element(v, v + pos, v + n);
  e.enggMin = v[pos];
  std::nth_element(v, v + pos, v + n, std::greater<float>());
  e.enggMax = v[pos];
  return e;
}

static float mises(const double* s) {
  const double a = s[0] - s[1], b = s[1] - s[2], c = s[2] - s[0];
  return static_cast<float>(std::sqrt((a * a + b * b + c * c) / 2 + 3 * (s[3] * s[3] + s[4] * s[4] + s[5] * s[5])));
}

// The baseline: what any direct loop over the arrays would do.
static MinMaxEngg plainStatistics(const odb_FieldOutput& s, bool components) {
  MinMaxEngg all;
  for (const odb_FieldBulkData& block : s.bulkDataBlocks()) {
    const std::size_t n = static_cast<std::size_t>(block.length());
    const double* data = block.dataDouble();
    auto work = std::make_unique_for_overwrite<float[]>(n);
    for (std::size_t j = 0; j < n; ++j) work[j] = mises(data + 6 * j);
    const MinMaxEngg e = minMaxEngg(work.get(), n);
    all.max = std::max(all.max, e.max), all.min = std::min(all.min, e.min);
    all.enggMax = std::max(all.enggMax, e.enggMax), all.enggMin = std::min(all.enggMin, e.enggMin);
    for (int c = 0; components && c < 6; ++c) {
      for (std::size_t j = 0; j < n; ++j) work[j] = static_cast<float>(data[6 * j + static_cast<std::size_t>(c)]);
      benchmark::DoNotOptimize(minMaxEngg(work.get(), n));
    }
  }
  return all;
}

static void BM_BulkPlain(benchmark::State& state, bool single, bool components) {
  try {
    const odb_FieldOutput& s = loadedStress(single);
    MinMaxEngg e;
    for (auto _ : state) e = plainStatistics(s, components);
    const double rows = rowCount(s);
    setThroughput(state, rows, rows * 6 * (single ? 4 : 8));
    std::ostringstream label;  // the stream's default format, as the program's lines have it
    label << "mises " << e.max << ' ' << e.min << ' ' << e.enggMax << ' ' << e.enggMin;
    state.SetLabel(label.str());
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

static void BM_WalkValues(benchmark::State& state, bool single) {
  try {
    const odb_SequenceFieldValue& values = loadedStress(single).values();
    double max = 0, min = 0;
    for (auto _ : state) {
      max = -std::numeric_limits<double>::max(), min = std::numeric_limits<double>::max();
      for (int i = 0; i < values.size(); ++i) {
        const double m = values.constGet(i).mises();
        max = std::max(max, m), min = std::min(min, m);
      }
    }
    setThroughput(state, values.size(), values.size() * 6.0 * (single ? 4 : 8));
    state.SetLabel(checksum({{"mises max", max}, {"min", min}}));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

static void BM_WalkBulk(benchmark::State& state, bool single) {
  try {
    const odb_FieldOutput& s = loadedStress(single);
    double max = 0, min = 0;
    for (auto _ : state) {
      max = -std::numeric_limits<double>::max(), min = std::numeric_limits<double>::max();
      for (const odb_FieldBulkData& block : s.bulkDataBlocks()) {
        const float* m = block.mises();
        for (int j = 0; j < block.length(); ++j) max = std::max<double>(max, m[j]), min = std::min<double>(min, m[j]);
      }
    }
    const double rows = rowCount(s);
    setThroughput(state, rows, rows * 6 * (single ? 4 : 8));
    state.SetLabel(checksum({{"mises max", max}, {"min", min}}));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void registerBulkBenchmarks() {
  for (const bool single : {false, true}) {
    const std::string kind = single ? "f32/" : "f64/";
    for (const bool comps : {false, true}) {
      const std::string what = comps ? "mises+components/" : "mises/";
      benchmark::RegisterBenchmark(("BulkStats/" + kind + what + "plain-loop").c_str(), BM_BulkPlain, single, comps)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("BulkStats/" + kind + what + "program").c_str(), BM_BulkProgram, single, comps)
          ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(("WalkMises/" + kind + "values-constGet").c_str(), BM_WalkValues, single)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("WalkMises/" + kind + "bulk-mises").c_str(), BM_WalkBulk, single)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace bench
