// The solver's own test decks (Debian's calculix-ccx-test): each solved,
// imported and reported with everything switched on; the whole-model
// extremes of U (magnitude) and S (von Mises) in params.txt are checked
// against values computed here straight from the .frd.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "dat.h"
#include "e2e_support.h"
#include "frd.h"
#include "sta.h"
#include "test_support.h"

namespace {

const char* const kConfig =
    "ODB EXTRACTIONS\nEXTRACT_MASS\nEXTRACT_HISTORY\nMINMAX_HISTORY\nEXTRACT_FIELD\nEXTRACT_ALL\n"
    "EXTRACT_FIELD_SETS\nEXTRACT_FIELD_COMPONENTS\nENGINEERING_MAX\nENGINEERING_MIN\nTENSOR_INVARIANTS\n"
    "PERCENTAGE=5\n";

struct Extremes {
  double max = -HUGE_VAL, min = HUGE_VAL;
  void add(double v) {
    max = std::max(max, v);
    min = std::min(min, v);
  }
};

// "Step_1__Frame_3__U__mag" -> extremes, from the .frd alone.
std::map<std::string, Extremes> expectedFromFrd(const std::string& path) {
  std::map<std::string, Extremes> out;
  ccx::InputFile in(path);
  ccx::FrdReader frd(in);
  std::vector<char> inElement;
  for (auto item = frd.next(); item != ccx::FrdReader::Item::End; item = frd.next()) {
    if (item == ccx::FrdReader::Item::Elements) {
      for (int n : frd.elements().connectivity) {
        if (static_cast<std::size_t>(n) >= inElement.size()) inElement.resize(static_cast<std::size_t>(n) + 1, 0);
        inElement[static_cast<std::size_t>(n)] = 1;
      }
    }
    if (item != ccx::FrdReader::Item::Result) continue;
    const auto& b = frd.result();
    const std::string prefix = "Step_" + std::to_string(b.step) + "__Frame_" + std::to_string(b.increment) + "__";
    const std::size_t w = b.storedColumns.size();
    for (std::size_t i = 0; i < b.nodes.size(); ++i) {
      const float* x = &b.values[w * i];
      if (b.name == "DISP" && w == 3) {
        out[prefix + "U__mag"].add(std::sqrt(double(x[0]) * x[0] + double(x[1]) * x[1] + double(x[2]) * x[2]));
      } else if (b.name == "STRESS" && w == 6) {
        const auto n = static_cast<std::size_t>(b.nodes[i]);
        if (n >= inElement.size() || !inElement[n]) continue;  // stresses reach the database through elements
        const double a = x[0], c = x[1], d = x[2];
        out[prefix + "S__mises"].add(std::sqrt(((a - c) * (a - c) + (c - d) * (c - d) + (d - a) * (d - a)) / 2 +
                                               3 * (double(x[3]) * x[3] + double(x[4]) * x[4] + double(x[5]) * x[5])));
      }
    }
  }
  return out;
}

// The same from the .dat, for decks that print their results: stresses at
// integration points (S_IP, von Mises), heat flux (HFL_IP, magnitude) per
// frame, and node prints as history maxima and minima.
std::map<std::string, Extremes> expectedFromDat(const std::string& job) {
  std::map<std::string, Extremes> out;
  if (!testsupport::exists(job + ".dat") || !testsupport::exists(job + ".sta")) return out;
  ccx::InputFile sta(job + ".sta");
  const auto increments = ccx::readSta(sta);
  ccx::InputFile in(job + ".dat");
  ccx::DatReader dat(in);
  ccx::DatBlock b;
  while (dat.next(b)) {
    const int i = ccx::findIncrement(increments, b.time, 0);
    if (i < 0) continue;
    const auto& inc = increments[static_cast<std::size_t>(i)];
    const std::string step = "Step_" + std::to_string(inc.step);
    const std::string frame = step + "__Frame_" + std::to_string(inc.increment) + "__";
    for (std::size_t r = 0; r < b.rows(); ++r) {
      const double* x = &b.values[r * static_cast<std::size_t>(b.width)];
      if (b.what == "stresses") {
        out[frame + "S_IP__mises"].add(std::sqrt(
            ((x[0] - x[1]) * (x[0] - x[1]) + (x[1] - x[2]) * (x[1] - x[2]) + (x[2] - x[0]) * (x[2] - x[0])) / 2 +
            3 * (x[3] * x[3] + x[4] * x[4] + x[5] * x[5])));
      } else if (b.what == "heat flux") {
        out[frame + "HFL_IP__mag"].add(std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]));
      } else if (b.what == "displacements") {
        for (int k = 0; k < 3; ++k) {
          Extremes& e = out[step + "__History_" + std::to_string(k + 1) + "_" + std::to_string(b.ids[r])];
          e.add(static_cast<float>(x[k]));
        }
      }
    }
  }
  return out;
}

// History extremes are on two lines: Step_1__History_Max__U1_7 and ..._Min__....
void expectHistory(const std::map<std::string, double>& params, const std::string& key, const Extremes& e);

std::map<std::string, double> readParams(const std::string& path) {
  std::map<std::string, double> out;
  std::istringstream s(testsupport::readFile(path));
  std::string line;
  while (std::getline(s, line)) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) out[line.substr(0, tab)] = std::atof(line.c_str() + tab + 1);
  }
  return out;
}

void expectClose(const std::map<std::string, double>& params, const std::string& name, double expected) {
  SCOPED_TRACE(name);
  const auto it = params.find(name);
  ASSERT_NE(it, params.end()) << "no line " << name;
  // params.txt holds six significant digits.
  EXPECT_NEAR(it->second, expected, 1e-5 * std::fabs(expected) + 1e-30);
}

void expectHistory(const std::map<std::string, double>& params, const std::string& key, const Extremes& e) {
  // key: Step_1__History_<component>_<node>
  const std::size_t at = key.find("__History_");
  const std::string step = key.substr(0, at), rest = key.substr(at + 10);
  expectClose(params, step + "__History_Max__U" + rest, e.max);
  expectClose(params, step + "__History_Min__U" + rest, e.min);
}

}  // namespace

TEST(SolverDecks, WholeModelExtremesMatchTheFrd) {
  if (e2e::findSolver().empty()) GTEST_SKIP() << "ccx is not installed";
  const std::string decks = CCX_TEST_DECKS;
  if (decks.empty()) GTEST_SKIP() << "calculix-ccx-test is not installed";
  const char* const jobs[] = {"beamp", "b31",        "shell1",  "contact2", "planestress3", "oneel",
                              "truss", "changefric", "achtel2", "contact1", "beampt",       "axrad"};
  for (const char* job : jobs) {
    SCOPED_TRACE(job);
    testsupport::TempDir dir;
    const std::string copy = "if [ -f '" + decks + "/" + job + ".inp' ]; then cp '" + decks + "/" + job +
                             ".inp' .; else gzip -dc '" + decks + "/" + job + ".inp.gz' > " + job + ".inp; fi";
    ASSERT_EQ(testsupport::run({"/bin/sh", "-c", copy}, dir.path()).status, 0);
    std::string why;
    ASSERT_TRUE(e2e::solve(dir.path(), job, why)) << why;
    const auto imported = testsupport::run({CCX2ODB, job}, dir.path());
    ASSERT_EQ(imported.status, 0) << imported.err;
    testsupport::writeFile(dir.file("cfg.txt"), kConfig);
    const auto report =
        testsupport::run({HARVESTODB, "-odb", std::string(job) + ".odb", "-config", "cfg.txt"}, dir.path());
    ASSERT_EQ(report.status, 0) << report.err;
    ASSERT_TRUE(testsupport::exists(dir.file("paramsdone.txt"))) << report.err;
    const auto params = readParams(dir.file("params.txt"));
    auto expected = expectedFromFrd(dir.file(std::string(job) + ".frd"));
    expected.merge(expectedFromDat(dir.file(job)));
    EXPECT_FALSE(expected.empty());
    for (const auto& [name, e] : expected) {
      if (name.find("__History_") != std::string::npos) {
        expectHistory(params, name, e);
        continue;
      }
      expectClose(params, name + "__max", e.max);
      expectClose(params, name + "__min", e.min);
    }
  }
}
