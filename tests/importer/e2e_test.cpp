// Real solver output: a small cube solved, imported and read back (mass against the solver's EMAS totals,
// broken inputs); then the solver's test decks, params.txt extremes against values read from .frd and .dat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "dat.h"
#include "frd.h"
#include "odb/odb.h"
#include "sta.h"
#include "test_support.h"

namespace {

using testsupport::run;

std::string findSolver() {
  const auto r = run({"/bin/sh", "-c", "command -v ccx"}, ".");
  return r.status == 0 ? r.out.substr(0, r.out.find('\n')) : "";
}

// Runs the solver on job in folder dir; returns "" or why it failed.
std::string solve(const std::string& dir, const std::string& job) {
  const auto r = run({findSolver(), "-i", job}, dir);
  if (r.status == 0 && testsupport::exists(dir + "/" + job + ".frd")) return "";
  return "ccx failed with status " + std::to_string(r.status) + ":\n" +
         r.out.substr(r.out.size() - std::min<std::size_t>(r.out.size(), 2000));
}

// A 2x2x2 brick cube of density 2 with two load steps, node and element prints.
std::string cubeDeck() {
  auto id = [](int i, int j, int k) { return 1 + i + 3 * (j + 3 * k); };
  std::ostringstream s;
  s << "*NODE,NSET=NALL\n";
  for (int n = 0; n < 27; ++n)
    s << n + 1 << "," << 0.5 * (n % 3) << "," << 0.5 * (n / 3 % 3) << "," << 0.5 * (n / 9) << "\n";
  s << "*ELEMENT,TYPE=C3D8,ELSET=EALL\n";
  for (int e = 0; e < 8; ++e) {
    const int i = e % 2, j = e / 2 % 2, k = e / 4;
    s << e + 1;
    for (int c = 0; c < 8; ++c) s << "," << id(i + ((c & 1) ^ ((c >> 1) & 1)), j + ((c >> 1) & 1), k + (c >> 2));
    s << "\n";
  }
  s << "*NSET,NSET=FIX\n1,4,7,10,13,16,19,22,25\n*NSET,NSET=LOAD\n3,6,9\n*ELSET,ELSET=EX,GENERATE\n1,8,2\n"
       "*MATERIAL,NAME=STEEL\n*ELASTIC\n210000,0.3\n*DENSITY\n2.\n*SOLID SECTION,ELSET=EALL,MATERIAL=STEEL\n"
       "*STEP\n*STATIC\n0.5,1.\n*BOUNDARY\nFIX,1,3\n*CLOAD\nLOAD,1,10.\n*NODE PRINT,NSET=LOAD\nU\n"
       "*EL PRINT,ELSET=EALL,TOTALS=YES\nEMAS\n*EL PRINT,ELSET=EX\nS\n*NODE FILE\nU\n*EL FILE\nS\n*END STEP\n"
       "*STEP\n*STATIC\n*CLOAD\nLOAD,2,5.\n*END STEP\n";
  return s.str();
}

template <class T>
double mises(const T* s) {  // three direct stresses, then three shears in any order
  const double a = s[0], b = s[1], c = s[2];
  return std::sqrt(((a - b) * (a - b) + (b - c) * (b - c) + (c - a) * (c - a)) / 2 +
                   3 * (double(s[3]) * s[3] + double(s[4]) * s[4] + double(s[5]) * s[5]));
}

class CubeJob : public ::testing::Test {
 protected:
  void SetUp() override {
    if (findSolver().empty()) GTEST_SKIP() << "ccx is not installed";
    testsupport::writeFile(dir_.file("cube.inp"), cubeDeck());
    ASSERT_EQ(solve(dir_.path(), "cube"), "");
  }
  testsupport::RunResult import() { return run({CCX2ODB, "cube"}, dir_.path()); }
  testsupport::TempDir dir_;
};

}  // namespace

TEST_F(CubeJob, DatabaseMatchesSolverOutputWithAndWithoutSta) {
  const auto r = import();
  ASSERT_EQ(r.status, 0) << r.err;
  odb_Odb& odb = openOdb(dir_.file("cube.odb"));
  const odb_Instance& inst = odb.rootAssembly().instances()["PART-1-1"];
  EXPECT_EQ(inst.nodeCount(), 27);
  EXPECT_EQ(inst.elementCount(), 8);
  EXPECT_TRUE(odb.rootAssembly().nodeSets(false).isMember("FIX"));
  EXPECT_TRUE(odb.rootAssembly().elementSets(false).isMember("EX"));
  ASSERT_EQ(odb.steps().size(), 2);
  const odb_Step& step2 = odb.steps()["Step-2"];
  ASSERT_EQ(step2.frames().size(), 1);
  const odb_Frame& frame = step2.frames()[0];
  EXPECT_EQ(frame.incrementNumber(), 1);
  EXPECT_EQ(frame.description().str(), "Increment 1: Step Time = 1");
  EXPECT_DOUBLE_EQ(frame.frameValue(), 1.0);
  odb_FieldOutputRepository fields = frame.fieldOutputs();
  const odb_FieldOutput& u = fields["U"];
  EXPECT_EQ(u.type(), odb_Enum::VECTOR);
  EXPECT_EQ(u.description().str(), "Spatial displacement");
  EXPECT_EQ(u.values().size(), 27);
  ASSERT_EQ(fields["S"].bulkDataBlocks().size(), 1);
  const odb_FieldBulkData& block = fields["S"].bulkDataBlocks()[0];
  EXPECT_EQ(block.position(), odb_Enum::ELEMENT_NODAL);
  EXPECT_EQ(block.length(), 64);  // 8 bricks x 8 nodes
  EXPECT_EQ(fields["S_IP"].values().size(), 32);  // 4 bricks of EX x 8 points
  EXPECT_EQ(fields["EMAS"].bulkDataBlocks()[0].position(), odb_Enum::WHOLE_ELEMENT);

  // Each element-nodal stress is the file's nodal stress at that node (the last STRESS block: Step-2).
  ccx::InputFile in(dir_.file("cube.frd"));
  ccx::FrdReader frd(in);
  std::map<int, double> expected;
  for (auto item = frd.next(); item != ccx::FrdReader::Item::End; item = frd.next())
    if (item == ccx::FrdReader::Item::Result && frd.result().name == "STRESS")
      for (std::size_t i = 0; i < frd.result().nodes.size(); ++i)
        expected[frd.result().nodes[i]] = mises(&frd.result().values[6 * i]);
  for (int i = 0; i < block.length(); ++i) {
    const double e = expected.at(block.nodeLabels()[i]);
    EXPECT_NEAR(block.mises()[i], e, 1e-4 * (1 + e));
  }
  const odb_HistoryRegion& region = step2.historyRegions()["Node PART-1-1.3"];
  EXPECT_EQ(region.historyPoint().node().label(), 3);
  ASSERT_EQ(region.historyOutputs()["U2"].data().size(), 1);
  EXPECT_DOUBLE_EQ(region.historyOutputs()["U2"].data()[0][0], 1.0);  // step time

  // Mass properties against the EMAS totals the solver printed in the first step.
  std::map<std::string, std::vector<double>> totals;
  ccx::InputFile dat(dir_.file("cube.dat"));
  ccx::DatReader reader(dat);
  for (ccx::DatBlock b; reader.next(b);)
    if (b.kind == ccx::DatBlock::Kind::Total && !totals.count(b.what)) totals[b.what] = b.values;
  const auto& J = totals["total mass moment of inertia"];
  const auto& Jc = totals["total mass moment of inertia about the center ofgravity"];
  ASSERT_TRUE(totals.count("total mass") && J.size() == 6u && Jc.size() == 6u);
  const odb_Step& step = odb.steps()["Step-1"];
  EXPECT_NEAR(step.mass(), totals["total mass"][0], 1e-6);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(step.massCenter()[k], totals["center of gravity"][k], 1e-6);
  // The solver prints second moments J; we store I11 = J22 + J33 ... and its products.
  for (int k = 0; k < 6; ++k) {
    const int a = k == 0 ? 1 : 0, b = k == 2 ? 1 : 2;
    EXPECT_NEAR(step.inertiaAboutOrigin()[k], k < 3 ? J[a] + J[b] : J[k], 1e-6) << k;
    EXPECT_NEAR(step.inertiaAboutCenter()[k], k < 3 ? Jc[a] + Jc[b] : Jc[k], 1e-6) << k;
  }
  odb.close();

  // Without the .sta file Step-2 starts where Step-1 ended; the stresses printed at total time 2 join its frame.
  std::remove(dir_.file("cube.sta").c_str());
  ASSERT_EQ(import().status, 0);
  odb_Odb& again = openOdb(dir_.file("cube.odb"));
  ASSERT_EQ(again.steps()["Step-2"].frames().size(), 1);
  EXPECT_EQ(again.steps()["Step-2"].frames()[0].description().str(), "Increment 1: Step Time = 1");
  EXPECT_TRUE(again.steps()["Step-2"].frames()[0].fieldOutputs().isMember("S_IP"));
  EXPECT_EQ(again.steps()["Step-2"].historyRegions()["Node PART-1-1.3"].historyOutputs()["U2"].data()[0][0], 1.0f);
  again.close();
}

TEST_F(CubeJob, BrokenInputsGiveFileLineAndLeaveNoDatabase) {
  const std::string frd = testsupport::readFile(dir_.file("cube.frd"));
  const std::string inp = testsupport::readFile(dir_.file("cube.inp"));
  auto line = [](const std::string& text, std::size_t pos) {
    return std::to_string(std::count(text.begin(), text.begin() + static_cast<long>(pos), '\n') + 1);
  };
  const std::size_t disp = frd.find(" -1", frd.find("-4  DISP"));
  const std::size_t cut = frd.find('\n', frd.find('\n', disp) + 1) + 1;  // two data rows kept
  const std::size_t step = inp.find("*STEP");
  const struct Case { const char* file; std::string text, expected; } cases[] = {
      {"cube.frd", frd.substr(0, cut),
       "ccx2odb: cube.frd:" + line(frd, cut - 1) + ": unexpected end of file inside the DISP block\n"},
      {"cube.inp", inp.substr(0, step) + "*NSET,NSET=BAD\nNOPE\n" + inp.substr(step),
       "ccx2odb: cube.inp:" + std::to_string(std::stoi(line(inp, step)) + 1) + ": unknown node set NOPE\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::string original = testsupport::readFile(dir_.file(c.file));
    testsupport::writeFile(dir_.file(c.file), c.text);
    const auto r = import();
    testsupport::writeFile(dir_.file(c.file), original);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.expected);
    EXPECT_EQ(run({"/bin/sh", "-c", "ls | grep -c odb || true"}, dir_.path()).out, "0\n");
  }
}

namespace {

// A one-tetrahedron job written by hand: the deck, and .frd records put together from these pieces.
const char* const kTetDeck =
    "*NODE,NSET=NALL\n1,0,0,0\n2,1,0,0\n3,0,1,0\n4,0,0,1\n5,1,1,1\n*ELEMENT,TYPE=C3D4,ELSET=EALL\n1,1,2,3,4\n"
    "2,2,3,4,5\n*STEP\n*STATIC\n*END STEP\n*STEP\n*STATIC\n*END STEP\n";

std::string frdNodes(int first, int last) {
  std::string s = "    2C                             " + std::to_string(last - first + 1) +
                  "                                     1\n";
  for (int n = first; n <= last; ++n) s += " -1" + std::string(10 - std::to_string(n).size(), ' ') +
                                           std::to_string(n) + " 0.00000E+00 0.00000E+00 1.00000E+00\n";
  return s + " -3\n";
}

std::string frdTet(int label, const char* nodes) {
  return "    3C                             1                                     1\n -1         " +
         std::to_string(label) + "    3    0    1\n -2" + nodes + "\n -3\n";
}

// A nodal block at nodes 1..4 of step/increment at total time t (one value per node, or DISP's three).
std::string frdBlock(int step, int inc, const char* t, const char* name, const char* component) {
  const bool disp = std::string(name) == "DISP";
  std::string s = "    1PSTEP                         1           " + std::to_string(inc) + "           " +
                  std::to_string(step) + "\n  100CL  101 " + t + "           4                     0    1           1\n";
  char head[64];
  std::snprintf(head, sizeof head, " -4  %-8s    %d    1\n", name, disp ? 4 : 1);
  s += head;
  for (int k = 1; k <= (disp ? 3 : 1); ++k) {
    std::snprintf(head, sizeof head, " -5  %-8s    1    2    %d    0\n", disp ? ("D" + std::to_string(k)).c_str() : component, k);
    s += head;
  }
  if (disp) s += " -5  ALL         1    2    0    0    1ALL\n";
  for (int n = 1; n <= 4; ++n)
    s += " -1         " + std::to_string(n) + (disp ? " 1.00000E+00 0.00000E+00 0.00000E+00\n" : " 2.50000E+00\n");
  return s + " -3\n";
}

}  // namespace

// Whole jobs written by hand, imported: solver output without an end record, model changes, mixed integration
// point counts, field names, and write failures. Each row: the .frd, the .dat, the options, the status and the
// standard error expected, and what the database must then hold.
TEST(HandMadeJobs, ImportOrFailAsTheFilesSay) {
  const std::string mesh = "    1C\n" + frdNodes(1, 4) + frdTet(1, "         1         2         3         4");
  const std::string disp1 = frdBlock(1, 1, "1.00000E+00", "DISP", "");
  const std::string cut = disp1.substr(0, disp1.rfind(" -1"));
  const std::string ip =
      "\n stresses (elem, integ.pnt.,sxx,syy,szz,sxy,sxz,syz) for set EALL and time  0.1000000E+01\n\n" +
      [] {
        std::string rows;
        for (int e = 1; e <= 2; ++e)
          for (int p = 1; p <= (e == 1 ? 1 : 4); ++p)
            rows += "         " + std::to_string(e) + "   " + std::to_string(p) +
                    "  1.000000E+00  2.000000E+00  3.000000E+00  0.000000E+00  0.000000E+00  0.000000E+00\n";
        return rows;
      }() + "\n";
  const struct Case {
    const char* name;
    std::string frd, dat;
    std::string prefix;  // shell commands before the import
    const char* options;
    int status;
    std::string err;
    int elements = 0;                    // elements of the database's instance, when it is written
    std::vector<std::string> fields{};   // fields of the last frame
  } cases[] = {
      {"no end record: complete blocks imported, one warning", mesh + disp1, "", "", "", 0,
       "ccx2odb: job.frd: no end record; the solver stopped after step 1 increment 1\n", 1, {"U"}},
      {"nothing after the header", "    1C\n    1UUSER\n", "", "", "", 1,
       "ccx2odb: job.frd: nothing after the header: the solver stopped before writing results\n"},
      {"block cut in the middle", mesh + cut, "", "", "", 1,
       "ccx2odb: job.frd:" + std::to_string(std::count(mesh.begin(), mesh.end(), '\n') +
                                            std::count(cut.begin(), cut.end(), '\n')) +
           ": unexpected end of file inside the DISP block\n"},
      {"block cut in the middle, --partial", mesh + disp1 + frdBlock(2, 1, "2.00000E+00", "DISP", "").substr(0, 300),
       "", "", "--partial", 0,
       "ccx2odb: job.frd:30: unexpected end of file inside the DISP block; block dropped\n"
       "ccx2odb: job.frd: no end record; the solver stopped after step 1 increment 1\n",
       1, {"U"}},
      {"model change: a later mesh block adds an element and its node",
       mesh + disp1 + frdNodes(5, 5) + frdTet(2, "         2         3         4         5") +
           frdBlock(2, 1, "2.00000E+00", "ERROR", "STR(%)") + " 9999\n",
       "", "", "", 0, "", 2, {"ERR_STR"}},
      {"integration points: elements of 1 and 4 points in one print, element 2 from the deck",
       mesh + disp1 + " 9999\n", ip, "", "", 0, "", 2, {"S_IP", "U"}},
      {"write failure", mesh + disp1 + " 9999\n", "", "ulimit -f 4; ", "", 1, "ccx2odb: job.odb: File too large\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("job.inp"), kTetDeck);
    testsupport::writeFile(dir.file("job.frd"), c.frd);
    if (!c.dat.empty()) testsupport::writeFile(dir.file("job.dat"), c.dat);
    const auto r = run({"/bin/sh", "-c", c.prefix + "exec '" CCX2ODB "' " + c.options + " job"}, dir.path());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    const bool written = testsupport::exists(dir.file("job.odb"));
    EXPECT_EQ(run({"/bin/sh", "-c", "ls | grep -c odb || true"}, dir.path()).out, written ? "1\n" : "0\n");
    if (c.status != 0 || !written) {
      EXPECT_FALSE(written);
      continue;
    }
    odb_Odb& odb = openOdb(dir.file("job.odb"));
    EXPECT_EQ(odb.rootAssembly().instances()["PART-1-1"].elementCount(), c.elements);
    int s = odb.steps().size() - 1;  // the last step with a frame
    while (s > 0 && odb.steps().valueAt(s).frames().size() == 0) --s;
    const odb_Step& last = odb.steps().valueAt(s);
    odb_FieldOutputRepository fields = last.frames()[last.frames().size() - 1].fieldOutputs();
    for (const std::string& f : c.fields)
      EXPECT_TRUE(fields.isMember(f.c_str()) && fields[f.c_str()].values().size() > 0) << f;
    odb.close();
  }
}

namespace {

struct Extremes {
  double max = -HUGE_VAL, min = HUGE_VAL;
  void add(double v) { max = std::max(max, v), min = std::min(min, v); }
};
using ExtremesMap = std::map<std::string, Extremes>;

// "Step_1__Frame_3__U__mag" -> extremes, from the .frd alone.
void expectedFromFrd(const std::string& path, ExtremesMap& out) {
  ccx::InputFile in(path);
  ccx::FrdReader frd(in);
  std::set<int> inElement;  // stresses reach the database through elements
  for (auto item = frd.next(); item != ccx::FrdReader::Item::End; item = frd.next()) {
    if (item == ccx::FrdReader::Item::Elements)
      inElement.insert(frd.elements().connectivity.begin(), frd.elements().connectivity.end());
    if (item != ccx::FrdReader::Item::Result) continue;
    const auto& b = frd.result();
    const std::string prefix = "Step_" + std::to_string(b.step) + "__Frame_" + std::to_string(b.increment) + "__";
    const std::size_t w = b.storedColumns.size();
    for (std::size_t i = 0; i < b.nodes.size(); ++i) {
      const float* x = &b.values[w * i];
      if (b.name == "DISP" && w == 3)
        out[prefix + "U__mag"].add(std::sqrt(double(x[0]) * x[0] + double(x[1]) * x[1] + double(x[2]) * x[2]));
      else if (b.name == "STRESS" && w == 6 && inElement.count(b.nodes[i]))
        out[prefix + "S__mises"].add(mises(x));
    }
  }
}

// The same from the .dat: stresses at integration points (S_IP, von Mises), heat flux (HFL_IP, magnitude)
// per frame, and node prints as history extremes, "Step_1__History_<component>_<node>".
void expectedFromDat(const std::string& job, ExtremesMap& out) {
  if (!testsupport::exists(job + ".dat") || !testsupport::exists(job + ".sta")) return;
  ccx::InputFile sta(job + ".sta"), in(job + ".dat");
  const auto increments = ccx::readSta(sta);
  ccx::DatReader dat(in);
  for (ccx::DatBlock b; dat.next(b);) {
    const int i = ccx::findIncrement(increments, b.time, 0);
    if (i < 0) continue;
    const auto& inc = increments[static_cast<std::size_t>(i)];
    const std::string step = "Step_" + std::to_string(inc.step);
    const std::string frame = step + "__Frame_" + std::to_string(inc.increment) + "__";
    for (std::size_t r = 0; r < b.rows(); ++r) {
      const double* x = &b.values[r * static_cast<std::size_t>(b.width)];
      if (b.what == "stresses") out[frame + "S_IP__mises"].add(mises(x));
      if (b.what == "heat flux") out[frame + "HFL_IP__mag"].add(std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]));
      if (b.what == "displacements")
        for (int k = 0; k < 3; ++k)
          out[step + "__History_" + std::to_string(k + 1) + "_" + std::to_string(b.ids[r])].add(
              static_cast<float>(x[k]));
    }
  }
}

void expectClose(const std::map<std::string, double>& params, const std::string& name, double expected) {
  const auto it = params.find(name);
  ASSERT_NE(it, params.end()) << "no line " << name;
  EXPECT_NEAR(it->second, expected, 1e-5 * std::fabs(expected) + 1e-30) << name;  // params.txt has six digits
}

}  // namespace

TEST(SolverDecks, WholeModelExtremesMatchTheFrd) {
  if (findSolver().empty()) GTEST_SKIP() << "ccx is not installed";
  const std::string decks = CCX_TEST_DECKS;
  if (decks.empty()) GTEST_SKIP() << "calculix-ccx-test is not installed";
  // achtel2 and axrad have their results in the .dat only.
  for (const std::string job : {"beamp", "b31", "shell1", "planestress3", "oneel", "truss", "achtel2", "axrad"}) {
    SCOPED_TRACE(job);
    testsupport::TempDir dir;
    const std::string deck = decks + "/" + job + ".inp", copy = "cp '" + deck + "' . || gzip -dc '" + deck + ".gz' > ";
    ASSERT_EQ(run({"/bin/sh", "-c", copy + job + ".inp"}, dir.path()).status, 0);
    ASSERT_EQ(solve(dir.path(), job), "");
    const auto imported = run({CCX2ODB, job}, dir.path());
    ASSERT_EQ(imported.status, 0) << imported.err;
    testsupport::writeFile(dir.file("cfg.txt"),
        "ODB EXTRACTIONS\nEXTRACT_MASS\nEXTRACT_HISTORY\nMINMAX_HISTORY\nEXTRACT_FIELD\nEXTRACT_ALL\n"
        "EXTRACT_FIELD_SETS\nEXTRACT_FIELD_COMPONENTS\nENGINEERING_MAX\nENGINEERING_MIN\n"
        "TENSOR_INVARIANTS\nPERCENTAGE=5\n");
    const auto report = run({HARVESTODB, "-odb", job + ".odb", "-config", "cfg.txt"}, dir.path());
    ASSERT_EQ(report.status, 0) << report.err;
    ASSERT_TRUE(testsupport::exists(dir.file("paramsdone.txt"))) << report.err;
    std::map<std::string, double> params;
    std::istringstream lines(testsupport::readFile(dir.file("params.txt")));
    for (std::string l; std::getline(lines, l);)
      if (l.find('\t') != std::string::npos)
        params[l.substr(0, l.find('\t'))] = std::atof(l.c_str() + l.find('\t') + 1);
    ExtremesMap expected;
    expectedFromFrd(dir.file(job + ".frd"), expected);
    expectedFromDat(dir.file(job), expected);
    EXPECT_FALSE(expected.empty());
    for (const auto& [name, e] : expected) {
      const std::size_t at = name.find("__History_");  // history: Step_1__History_Max__U1_7 and ..._Min__...
      auto line = [&](const char* h, const char* f) {
        return at == std::string::npos ? name + f : name.substr(0, at) + h + name.substr(at + 10);
      };
      expectClose(params, line("__History_Max__U", "__max"), e.max);
      expectClose(params, line("__History_Min__U", "__min"), e.min);
    }
  }
}
