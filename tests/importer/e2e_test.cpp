// End to end on real solver output: a small cube solved with ccx, imported,
// and read back through the library; the computed mass properties against
// the solver's own EMAS totals; broken inputs leave no database.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "dat.h"
#include "e2e_support.h"
#include "frd.h"
#include "odb/odb.h"
#include "test_support.h"

namespace {

class CubeJob : public ::testing::Test {
 protected:
  void SetUp() override {
    if (e2e::findSolver().empty()) GTEST_SKIP() << "ccx is not installed";
    testsupport::writeFile(dir_.file("cube.inp"), e2e::cubeDeck());
    std::string why;
    ASSERT_TRUE(e2e::solve(dir_.path(), "cube", why)) << why;
  }
  testsupport::RunResult import() { return testsupport::run({CCX2ODB, "cube"}, dir_.path()); }

  // Totals the solver printed in the first step: name -> values.
  std::map<std::string, std::vector<double>> solverTotals() {
    std::map<std::string, std::vector<double>> out;
    ccx::InputFile in(dir_.file("cube.dat"));
    ccx::DatReader reader(in);
    ccx::DatBlock b;
    while (reader.next(b))
      if (b.kind == ccx::DatBlock::Kind::Total && !out.count(b.what)) out[b.what] = b.values;
    return out;
  }

  testsupport::TempDir dir_;
};

double misesOf(const float* s) {  // 11 22 33 12 13 23
  const double a = s[0], b = s[1], c = s[2];
  return std::sqrt(((a - b) * (a - b) + (b - c) * (b - c) + (c - a) * (c - a)) / 2 +
                   3 * (double(s[3]) * s[3] + double(s[4]) * s[4] + double(s[5]) * s[5]));
}

}  // namespace

TEST_F(CubeJob, DatabaseHoldsModelResultsAndHistory) {
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
  const odb_FieldOutput& s = fields["S"];
  ASSERT_EQ(s.bulkDataBlocks().size(), 1);
  EXPECT_EQ(s.bulkDataBlocks()[0].position(), odb_Enum::ELEMENT_NODAL);
  EXPECT_EQ(s.bulkDataBlocks()[0].length(), 64);  // 8 bricks x 8 nodes
  EXPECT_EQ(fields["S_IP"].values().size(), 32);  // 4 bricks of EX x 8 points
  EXPECT_EQ(fields["EMAS"].bulkDataBlocks()[0].position(), odb_Enum::WHOLE_ELEMENT);

  // Each element-nodal stress is the file's nodal stress at that node.
  ccx::InputFile in(dir_.file("cube.frd"));
  ccx::FrdReader frd(in);
  std::map<int, double> mises;  // the last STRESS block: Step-2
  for (auto item = frd.next(); item != ccx::FrdReader::Item::End; item = frd.next()) {
    if (item != ccx::FrdReader::Item::Result || frd.result().name != "STRESS") continue;
    const auto& b = frd.result();
    for (std::size_t i = 0; i < b.nodes.size(); ++i) {
      const float* x = &b.values[6 * i];
      const float t[6] = {x[0], x[1], x[2], x[3], x[5], x[4]};  // xx yy zz xy yz zx -> 11 22 33 12 13 23
      mises[b.nodes[i]] = misesOf(t);
    }
  }
  const odb_FieldBulkData& block = s.bulkDataBlocks()[0];
  for (int i = 0; i < block.length(); ++i)
    EXPECT_NEAR(block.mises()[i], mises.at(block.nodeLabels()[i]), 1e-4 * (1 + mises.at(block.nodeLabels()[i])));

  const odb_HistoryRegion& region = step2.historyRegions()["Node PART-1-1.3"];
  EXPECT_EQ(region.historyPoint().node().label(), 3);
  const auto data = region.historyOutputs()["U2"].data();
  ASSERT_EQ(data.size(), 1);
  EXPECT_DOUBLE_EQ(data[0][0], 1.0);  // step time
  odb.close();
}

TEST_F(CubeJob, WithoutTheStaFileFramesFollowTheFrd) {
  std::remove(dir_.file("cube.sta").c_str());
  ASSERT_EQ(import().status, 0);
  odb_Odb& odb = openOdb(dir_.file("cube.odb"));
  const odb_Step& step2 = odb.steps()["Step-2"];
  ASSERT_EQ(step2.frames().size(), 1);
  // Step-2 starts where Step-1 ended (total time 1), and the printed
  // stresses of total time 2 join the .frd's frame.
  EXPECT_EQ(step2.frames()[0].description().str(), "Increment 1: Step Time = 1");
  EXPECT_TRUE(step2.frames()[0].fieldOutputs().isMember("S_IP"));
  EXPECT_EQ(step2.historyRegions()["Node PART-1-1.3"].historyOutputs()["U2"].data()[0][0], 1.0f);
  odb.close();
}

TEST_F(CubeJob, BinaryFrdGivesTheSameValues) {
  // *NODE OUTPUT / *ELEMENT OUTPUT make the solver write binary records.
  std::string deck = e2e::cubeDeck();
  deck.replace(deck.find("*NODE FILE"), 10, "*NODE OUTPUT");
  deck.replace(deck.find("*EL FILE"), 8, "*ELEMENT OUTPUT");
  testsupport::writeFile(dir_.file("binary.inp"), deck);
  std::string why;
  ASSERT_TRUE(e2e::solve(dir_.path(), "binary", why)) << why;
  ASSERT_NE(testsupport::readFile(dir_.file("binary.frd")).find("                                     2\n"),
            std::string::npos);
  ASSERT_EQ(import().status, 0);
  ASSERT_EQ(testsupport::run({CCX2ODB, "binary"}, dir_.path()).status, 0);
  odb_Odb& ascii = openOdb(dir_.file("cube.odb"));
  odb_Odb& binary = openOdb(dir_.file("binary.odb"));
  for (const char* field : {"U", "S"}) {
    SCOPED_TRACE(field);
    const auto a = ascii.steps()["Step-1"].frames()[0].fieldOutputs()[field].bulkDataBlocks()[0];
    const auto b = binary.steps()["Step-1"].frames()[0].fieldOutputs()[field].bulkDataBlocks()[0];
    ASSERT_EQ(a.length(), b.length());
    ASSERT_EQ(a.width(), b.width());
    for (int i = 0; i < a.length() * a.width(); ++i)  // ASCII has six digits
      EXPECT_NEAR(a.data()[i], b.data()[i], 1e-5 * std::fabs(b.data()[i]) + 1e-12);
  }
  ascii.close();
  binary.close();
}

TEST_F(CubeJob, MassPropertiesMatchTheSolversTotals) {
  ASSERT_EQ(import().status, 0);
  auto totals = solverTotals();
  ASSERT_TRUE(totals.count("total mass"));
  const auto& J = totals["total mass moment of inertia"];
  const auto& Jc = totals["total mass moment of inertia about the center ofgravity"];
  ASSERT_EQ(J.size(), 6u);
  ASSERT_EQ(Jc.size(), 6u);
  // The solver prints second moments J; we store I11 = J22 + J33 ... and its products.
  auto inertia = [](const std::vector<double>& j) {
    return std::vector<double>{j[1] + j[2], j[0] + j[2], j[0] + j[1], j[3], j[4], j[5]};
  };
  odb_Odb& odb = openOdb(dir_.file("cube.odb"));
  const odb_Step& step = odb.steps()["Step-1"];
  EXPECT_NEAR(step.mass(), totals["total mass"][0], 1e-6);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(step.massCenter()[k], totals["center of gravity"][k], 1e-6);
  const auto origin = inertia(J), centre = inertia(Jc);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_NEAR(step.inertiaAboutOrigin()[k], origin[static_cast<std::size_t>(k)], 1e-6);
    EXPECT_NEAR(step.inertiaAboutCenter()[k], centre[static_cast<std::size_t>(k)], 1e-6);
  }
  odb.close();
}

TEST_F(CubeJob, BrokenInputsGiveFileLineAndLeaveNoDatabase) {
  const std::string frd = testsupport::readFile(dir_.file("cube.frd"));
  const std::string inp = testsupport::readFile(dir_.file("cube.inp"));
  auto lineOf = [](const std::string& text, std::size_t pos) {
    return std::count(text.begin(), text.begin() + static_cast<long>(pos), '\n') + 1;
  };
  const std::size_t disp = frd.find(" -1", frd.find("-4  DISP"));
  const std::size_t cut = frd.find('\n', frd.find('\n', disp) + 1) + 1;  // two data rows kept
  std::string garbled = frd;
  garbled.replace(disp + 13, 12, " 1.23456Q+00");
  const std::size_t step = inp.find("*STEP");
  struct Case {
    const char* name;
    std::string file;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"truncated frd", "cube.frd", frd.substr(0, cut),
       "ccx2odb: cube.frd:" + std::to_string(lineOf(frd, cut - 1)) +
           ": unexpected end of file inside the DISP block\n"},
      {"garbled number", "cube.frd", garbled,
       "ccx2odb: cube.frd:" + std::to_string(lineOf(frd, disp)) +
           ": bad number '1.23456Q+00' in columns 14-25 of DISP\n"},
      {"unknown set", "cube.inp", inp.substr(0, step) + "*NSET,NSET=BAD\nNOPE\n" + inp.substr(step),
       "ccx2odb: cube.inp:" + std::to_string(lineOf(inp, step) + 1) + ": unknown node set NOPE\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string original = testsupport::readFile(dir_.file(c.file));
    testsupport::writeFile(dir_.file(c.file), c.text);
    const auto r = import();
    testsupport::writeFile(dir_.file(c.file), original);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.expected);
    EXPECT_FALSE(testsupport::exists(dir_.file("cube.odb")));
    const auto left = testsupport::run({"/bin/sh", "-c", "ls | grep -c odb || true"}, dir_.path());
    EXPECT_EQ(left.out, "0\n");
  }
}
