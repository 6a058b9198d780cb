#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "field/field.h"
#include "field/lines.h"
#include "field/results.h"
#include "odb/odb_writer.h"
#include "run/settings.h"
#include "test_support.h"

namespace {

const float kNaNf = std::nanf("");

class FieldRoutines : public ::testing::Test {
 protected:
  void SetUp() override { resetSettings(), resetResults(); }
  void TearDown() override { resetSettings(), resetResults(), odb_finalizeAPI(); }
  testsupport::TempDir dir_;
};

odb_FieldOutput fieldOf(const odb_Odb& odb, const char* name) {
  return odb.steps()["Step-1"].frames()[0].fieldOutputs()[name];
}

template <class T>
void addField(odbw::Writer& w, const char* name, int type, std::vector<std::string> labels,
              const odbw::BlockInfo& at, const std::vector<T>& data, int width) {
  odbw::FieldInfo info;
  info.type = static_cast<odb_Enum::odb_DataTypeEnum>(type);
  info.componentLabels = std::move(labels);
  w.addFieldOutput("Step-1", 0, name, info);
  w.addBlock("Step-1", 0, name, at, std::span<const T>(data), width);
}

// Labels 1..count on instance I: nodes, or elements at the centroid.
odbw::BlockInfo block(int count, bool elements = false, const char* instance = "I") {
  odbw::BlockInfo b;
  b.instance = instance;
  if (elements) b.position = odb_Enum::CENTROID;
  for (int i = 1; i <= count; ++i) (elements ? b.elementLabels : b.nodeLabels).push_back(i);
  return b;
}

std::map<std::string, std::string> parseLines(const std::string& text) {
  std::map<std::string, std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    lines[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return lines;
}

TEST_F(FieldRoutines, ValueExtractorHandsOverComponents) {
  const std::string path = dir_.file("values.odb");
  {
    odbw::Writer w(path);
    w.addStep("Step-1");
    w.addFrame("Step-1");
    addField(w, "SF", odb_Enum::SCALAR, {}, block(1), std::vector<float>{2.5f}, 1);
    addField(w, "SD", odb_Enum::SCALAR, {}, block(1), std::vector<double>{0.1}, 1);
    addField(w, "UD", odb_Enum::VECTOR, {"UD1", "UD2", "UD3"}, block(1), std::vector<double>{3, 4, 0.1}, 3);
    addField(w, "U2", odb_Enum::VECTOR, {"U21", "U22"}, block(1), std::vector<float>{6, 8}, 2);
    addField(w, "SM", odb_Enum::TENSOR_3D_SURFACE, {"SM11", "SM22", "SM12"}, block(1, true),
             std::vector<double>{0.25, 2, 3}, 3);
    addField(w, "O4", 4, {}, block(1), std::vector<float>{9}, 1);
    w.close();
  }
  constexpr double U = 123;  // an untouched slot
  // Magnitudes and Mises values come as floats; slots are vecXMax..vecZMax, then S11Max..S23Max.
  const struct Case { const char* field; bool components; double result, slot[9]; } cases[] = {
      {"SF", true, 2.5, {U, U, U, U, U, U, U, U, U}},
      {"SD", true, 0.1, {U, U, U, U, U, U, U, U, U}},
      {"UD", false, static_cast<float>(std::sqrt(25.01)), {U, U, U, U, U, U, U, U, U}},
      {"UD", true, static_cast<float>(std::sqrt(25.01)), {3, 4, 0.1, U, U, U, U, U, U}},
      {"U2", true, 10, {6, 8, 0, U, U, U, U, U, U}},  // the missing Z counts as 0
      // Marks 11, 22, 12: the third entry goes to slot 12, slot 33 is skipped.
      {"SM", true, static_cast<float>(std::sqrt(30.5625)), {U, U, U, 0.25, 2, U, 3, U, U}},
      {"SM", false, static_cast<float>(std::sqrt(30.5625)), {U, U, U, U, U, U, U, U, U}},
      {"O4", true, 0, {U, U, U, U, U, U, U, U, U}},
  };
  const odb_Odb& odb = openOdb(path);
  std::ofstream out(dir_.file("params.txt"));
  double* const slots[9] = {&vecXMax, &vecYMax, &vecZMax, &S11Max, &S22Max, &S33Max, &S12Max, &S13Max, &S23Max};
  for (int k = 0; k < 6; ++k) tensorCompPtr[k] = slots[k + 3];
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + (c.components ? " with components" : ""));
    extract_field_components = c.components;
    for (double* p : slots) *p = U;
    const odb_FieldOutput field = fieldOf(odb, c.field);
    bool marks[6];
    componentMarks(field.componentLabels(), marks);
    const double got = odbE_printFieldValue(field.values()[0], out, field.validInvariants(), marks, "", false);
    EXPECT_EQ(got, c.result);
    for (int k = 0; k < 9; ++k) EXPECT_EQ(*slots[k], c.slot[k]) << (k < 3 ? "vec" : kTensorLabels[k - 3]) << k;
  }
  out.close();
  EXPECT_EQ(testsupport::readFile(dir_.file("params.txt")), "");  // the extractor writes nothing
}

TEST_F(FieldRoutines, BulkBlockQuirks) {
  const std::string path = dir_.file("blocks.odb");
  {
    odbw::Writer w(path);
    w.addStep("Step-1");
    w.addFrame("Step-1");
    addField(w, "NAN", odb_Enum::SCALAR, {}, block(4), std::vector<float>{kNaNf, 2, kNaNf, -1}, 1);
    addField(w, "ALLNAN", odb_Enum::SCALAR, {}, block(2), std::vector<float>{kNaNf, kNaNf}, 1);
    addField(w, "ALLNAND", odb_Enum::SCALAR, {}, block(1), std::vector<double>{std::nan("")}, 1);
    // A tensor at nodes is no element block: every component counts, the last one is selected from.
    addField(w, "SN", odb_Enum::TENSOR_3D_PLANAR, {"SN11", "SN22", "SN33", "SN12"}, block(2),
             std::vector<float>{-50, 0, 0, 1, 40, 0, 0, 3}, 4);
    // Vector element block: magnitudes 5, 10, 13 are kept for the selection.
    addField(w, "VE", odb_Enum::VECTOR, {"VE1", "VE2", "VE3"}, block(3, true),
             std::vector<double>{3, 4, 0, 6, 8, 0, 5, 12, 0}, 3);
    w.close();
  }
  // NaN has no place in an order, so blocks holding one are not selected from.
  struct Case { const char* field; bool engineering; double max, min, enggMax, enggMin; } cases[] = {
      {"NAN", false, 2, -1, 0, 0},
      {"ALLNAN", false, -FLT_MAX, FLT_MAX, 0, 0},
      {"ALLNAND", false, -DBL_MAX, DBL_MAX, 0, 0},
      {"SN", true, 40, -50, 3, 1},
      {"VE", true, 13, 5, 13, 5},
  };
  per = 0;
  const odb_Odb& odb = openOdb(path);
  std::ofstream out(dir_.file("params.txt"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    const odb_FieldOutput field = fieldOf(odb, c.field);
    engg_max = engg_min = c.engineering;
    odbE_printBulkField(field.bulkDataBlocks()[0], out, "Step-1", 0, c.field, field.validInvariants(), "", false);
    EXPECT_EQ(bulkmax, c.max);
    EXPECT_EQ(bulkmin, c.min);
    if (engg_max) {
      EXPECT_EQ(bulkEnggMax, c.enggMax);
      EXPECT_EQ(bulkEnggMin, c.enggMin);
    }
  }
}

// On a node set that covers the whole model, the set statistics and the
// whole-model statistics see the same values, so what they must agree on,
// they do: maxima and minima always, engineering extremes when the field has
// one block (the whole model selects block by block) or at per 0.
TEST_F(FieldRoutines, SetCoveringTheModelAgreesWithTheWholeModel) {
  const std::string path = dir_.file("cross.odb");
  const int nodes = 60;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> value(-1e3, 1e3);
  std::vector<double> a(nodes), b(nodes);
  for (double& x : a) x = value(rng);
  for (double& x : b) x = value(rng);
  a[7] = -3e300, b[13] = 2e300;  // out of float range: a path that narrows to float shows inf here
  {
    odbw::Writer w(path);
    std::vector<int> labels(nodes);
    std::iota(labels.begin(), labels.end(), 1);
    for (const char* instance : {"A", "B"}) w.addInstance(instance, ""), w.setInstanceNodes(instance, labels);
    w.addAssemblySet(odbw::SetKind::Node, "EVERY", {{"A", labels}, {"B", labels}});
    w.addStep("Step-1");
    odbw::FrameInfo frame;
    frame.incrementNumber = 1;
    w.addFrame("Step-1", frame);
    odbw::FieldInfo info;
    info.description = "Temperature";
    w.addFieldOutput("Step-1", 0, "TWO", info);
    w.addBlock("Step-1", 0, "TWO", block(nodes, false, "A"), std::span<const double>(a), 1);
    w.addBlock("Step-1", 0, "TWO", block(nodes, false, "B"), std::span<const double>(b), 1);
    w.addFieldOutput("Step-1", 0, "ONE", info);
    w.addBlock("Step-1", 0, "ONE", block(nodes, false, "A"), std::span<const double>(a), 1);
    w.close();
  }
  odb_Odb& odb = openOdb(path);
  const odb_Set& every = odb.rootAssembly().nodeSets(false)["EVERY"];
  extract_all_field = engg_max = engg_min = true;
  for (double percentage : {0.0, 5.0, 37.5}) {
    per = percentage;
    for (const char* name : {"TWO", "ONE"}) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(percentage));
      const std::string file = dir_.file(std::string(name) + ".txt");
      {
        std::ofstream out(file);
        const odb_FieldOutput field = fieldOf(odb, name);
        odbE_printField(field, out, "Step-1", 1, "ALL", "", "", 10);
        odbE_printField(field.getSubset(every), out, "Step-1", 1, "NODE_SET", "__EVERY", "", 10);
      }
      auto lines = parseLines(testsupport::readFile(file));
      ASSERT_EQ(lines.size(), 8u);
      const std::string whole = "Step_1__Frame_1__" + std::string(name);
      const std::string set = "Step_1__Frame_1__EVERY__" + std::string(name);
      EXPECT_EQ(lines[whole + "__max"], lines[set + "__max"]);
      EXPECT_EQ(lines[whole + "__min"], lines[set + "__min"]);
      EXPECT_EQ(lines[whole + "__min"], "-3e+300");
      if (std::string(name) == "TWO") {
        EXPECT_EQ(lines[whole + "__max"], "2e+300");
      }
      if (percentage == 0 || std::string(name) == "ONE") {
        EXPECT_EQ(lines[whole + "__enggmax"], lines[set + "__enggmax"]);
        EXPECT_EQ(lines[whole + "__enggmin"], lines[set + "__enggmin"]);
      }
    }
  }
}

// A names-only run reads no value: it completes, with the same lines, when
// every data array of the database is damaged, while a computing run fails.
TEST_F(FieldRoutines, NamesOnlyReadsNoValue) {
  const std::vector<double> s = {101, 102, 103, 104, 105, 106, 111, 112, 113, 114, 115, 116};
  const std::vector<float> u = {201, 202, 203, 211, 212, 213, 221, 222, 223}, t = {301, 302, 303};
  const std::string path = dir_.file("names.odb"), damaged = dir_.file("damaged.odb");
  {
    odbw::Writer w(path);
    w.addInstance("I", "");
    w.setInstanceNodes("I", std::vector<int>{1, 2, 3});
    w.setInstanceElements("I", std::vector<int>{1, 2}, std::vector<std::int64_t>{0, 2, 4}, std::vector<int>{1, 2, 2, 3});
    w.addAssemblySet(odbw::SetKind::Element, "E", {{"I", {1, 2}}});
    w.addAssemblySet(odbw::SetKind::Node, "N", {{"I", {1, 2, 3}}});
    w.addStep("Step-1");
    w.addFrame("Step-1");
    addField(w, "S", odb_Enum::TENSOR_3D_FULL, {"S11", "S22", "S33", "S12", "S13", "S23"}, block(2, true), s, 6);
    addField(w, "U", odb_Enum::VECTOR, {"U1", "U2", "U3"}, block(3), u, 3);
    addField(w, "T", odb_Enum::SCALAR, {}, block(3), t, 1);
    w.close();
  }
  std::string bytes = testsupport::readFile(path);
  auto damage = [&](const void* values, std::size_t size) {
    const std::size_t at = bytes.find(std::string(static_cast<const char*>(values), size));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 1] = static_cast<char>(bytes[at + 1] ^ 0x40);  // the chunk's checksum no longer holds
  };
  damage(s.data(), s.size() * sizeof(double));
  damage(u.data(), u.size() * sizeof(float));
  damage(t.data(), t.size() * sizeof(float));
  testsupport::writeFile(damaged, bytes);

  extract_all_field = extract_field_components = engg_max = tensor_invariants = true;
  auto report = [&](const std::string& db) {
    std::ostringstream out;
    odb_Odb& odb = openOdb(db);
    for (const char* name : {"S", "U", "T"}) {
      const odb_FieldOutput field = fieldOf(odb, name);
      odbE_printField(field, out, "Step-1", 1, "ALL", "", "", 10);
      odbE_printField(field.getSubset(odb.rootAssembly().elementSets(false)["E"]), out, "Step-1", 1, "ELEMENT_SET",
                      "__E", "", 10);
      odbE_printField(field.getSubset(odb.rootAssembly().nodeSets(false)["N"]), out, "Step-1", 1, "NODE_SET",
                      "__N", "", 10);
    }
    odb.close();
    return out.str();
  };
  compute_values = false;
  const std::string names = report(path);
  EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 87);  // S: 21 + 21 on E, U: 12 x 3, T: 3 x 3
  EXPECT_EQ(report(damaged), names);
  compute_values = true;
  try {
    report(damaged);
    ADD_FAILURE() << "a computing run read the damaged values";
  } catch (const odb_Exception& e) {
    const std::string expected = damaged + ": /steps/Step-1/frames/0/fieldOutputs/S/blocks/0: cannot read data";
    EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
  }
}

}  // namespace
