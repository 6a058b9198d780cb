// The sample database; tests/unit/odb/sample.odbinfo lists its objects. Members and values:
//   I1 elements 1 (1 2 3), 2 (2 3 4); I2 element 7 (1 2); sets PE [1 2], PN [1], PI [2], IE [2], IN [4],
//   IH [1], AE {I1 1, I2 7}, AN {I1 1 2, I2 2}, AI {I1 2}
//   U: I1 node i (1..4) (10(i-1)+1, +2, +3); I2 nodes 1 2 (3, 4, 0), (0, 0, 2)
//   S: I1 rows 0..3 hold 6r .. 6r+5, then an empty CENTROID block, I2 element 7 (100, 0, 0, 0, 0, 0)
//   SN 1..6 (ELEMENT_NODAL, elements 1 and 2), EV 0.5 1.5 (one-dimensional)
//   history U1 [[0,0],[1,2],[2,4]] (float64), ALLIE [[0,1],[1,3]] (float32, type 7); region R names a missing set
#include "sample_db.h"

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>
#include <vector>

#include "test_support.h"

namespace sample {

using odbw::SetKind;

template <class T>
static void writeFields(odbw::Writer& w) {
  const auto block = [&](const char* field, const odbw::BlockInfo& info, const std::vector<double>& data, int width) {
    const std::vector<T> t(data.begin(), data.end());
    w.addBlock("Step-1", 0, field, info, std::span<const T>(t), width);
  };
  w.addFieldOutput("Step-1", 0, "U", {.description = "Spatial displacement", .type = odb_Enum::VECTOR,
                                      .componentLabels = {"U1", "U2", "U3"}, .validInvariants = {odb_Enum::MAGNITUDE}});
  std::vector<double> u, s(24);
  for (int n = 0; n < 12; ++n) u.push_back(10 * (n / 3) + n % 3 + 1);  // node n / 3 + 1, component n % 3 + 1
  std::iota(s.begin(), s.end(), 0.0);
  block("U", {.position = odb_Enum::NODAL, .instance = "I1", .nodeLabels = {1, 2, 3, 4}}, u, 3);
  block("U", {.position = odb_Enum::NODAL, .instance = "I2", .nodeLabels = {1, 2}}, {3, 4, 0, 0, 0, 2}, 3);

  w.addFieldOutput("Step-1", 0, "S", {.description = "Stress components", .type = odb_Enum::TENSOR_3D_FULL,
                                      .componentLabels = {"S11", "S22", "S33", "S12", "S13", "S23"},
                                      .validInvariants = {odb_Enum::MISES, odb_Enum::MAX_PRINCIPAL, odb_Enum::MIN_PRINCIPAL}, .isComplex = 0});
  block("S", {.position = odb_Enum::INTEGRATION_POINT, .instance = "I1", .elementLabels = {1, 1, 2, 2},
              .integrationPoints = {1, 2, 1, 2}}, s, 6);
  block("S", {.position = odb_Enum::CENTROID, .instance = "I1"}, {}, 6);
  block("S", {.position = odb_Enum::CENTROID, .instance = "I2", .elementLabels = {7}}, {100, 0, 0, 0, 0, 0}, 6);

  w.addFieldOutput("Step-1", 0, "SN", {.type = odb_Enum::SCALAR});
  block("SN", {.position = odb_Enum::ELEMENT_NODAL, .instance = "I1", .nodeLabels = {1, 2, 3, 2, 3, 4},
               .elementLabels = {1, 1, 1, 2, 2, 2}}, {1, 2, 3, 4, 5, 6}, 1);
  w.addFieldOutput("Step-1", 0, "EV", {.type = odb_Enum::SCALAR});
  block("EV", {.position = odb_Enum::WHOLE_ELEMENT, .instance = "I1", .sectionPoint = 3, .elementLabels = {1, 2},
               .oneDimensional = true}, {0.5, 1.5}, 1);
}

static void writeModel(odbw::Writer& w) {
  w.addPart("P1");
  w.addPartSet("P1", SetKind::Element, "PE", std::vector<int>{1, 2});
  w.addPartSet("P1", SetKind::Node, "PN", std::vector<int>{1});
  w.addPartSet("P1", SetKind::Element, "PI", std::vector<int>{2}, true);
  w.setAssemblyName("ASM");
  w.addInstance("I1", "P1");
  w.setInstanceNodes("I1", std::vector<int>{1, 2, 3, 4}, std::vector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0});
  w.setInstanceElements("I1", std::vector<int>{1, 2}, std::vector<std::int64_t>{0, 3, 6},
                        std::vector<int>{1, 2, 3, 2, 3, 4});
  w.addInstanceSet("I1", SetKind::Element, "IE", std::vector<int>{2});
  w.addInstanceSet("I1", SetKind::Node, "IN", std::vector<int>{4});
  w.addInstanceSet("I1", SetKind::Node, "IH", std::vector<int>{1}, true);
  w.addInstance("I2", "");
  w.setInstanceNodes("I2", std::vector<int>{1, 2});
  w.setInstanceElements("I2", std::vector<int>{7}, std::vector<std::int64_t>{0, 2}, std::vector<int>{1, 2});
  w.addAssemblySet(SetKind::Element, "AE", {{"I1", {1}}, {"I2", {7}}});
  w.addAssemblySet(SetKind::Node, "AN", {{"I1", {1, 2}}, {"I2", {2}}});
  w.addAssemblySet(SetKind::Element, "AI", {{"I1", {2}}}, true);
}

void writeSample(const std::string& path, int precision, const odbw::Options& options) {
  odbw::Writer w(path, options);
  w.setDescription("sample database");
  writeModel(w);
  w.addStep("Step-1", {.description = "first", .mass = 12.5, .massCenter = std::vector<double>{1, 0.25, 0},
                       .inertiaAboutCenter = std::vector<double>{1, 2, 3, 4, 5, 6},
                       .inertiaAboutOrigin = std::vector<double>{6, 5, 4, 3, 2, 1}});
  w.addFrame("Step-1", {.incrementNumber = 5, .description = "Increment 5", .frameValue = 0.5});
  w.addFrame("Step-1");
  precision == 0 ? writeFields<float>(w) : writeFields<double>(w);
  w.addHistoryRegion("Step-1", "Node I1.1", {.description = "node one", .node = 1, .region = "AN", .instance = "I1"});
  w.addHistoryOutput("Step-1", "Node I1.1", "U1", {.description = "displacement"},
                     std::vector<double>{0, 0, 1, 2, 2, 4}, 2);
  w.addHistoryRegion("Step-1", "Assembly");
  w.addHistoryOutput("Step-1", "Assembly", "ALLIE", {.type = 7}, std::vector<float>{0, 1, 1, 3}, 2);
  w.addHistoryRegion("Step-1", "R", {.region = "NOSUCH"});
  w.addStep("Step 2");
  w.close();
}

template <class T>
static void writeLargeFrames(odbw::Writer& w, int rows) {
  for (int frame = 0; frame < 2; ++frame) {
    w.addFrame("Step-1");
    w.addFieldOutput("Step-1", frame, "S", {.type = odb_Enum::TENSOR_3D_FULL,
                                            .componentLabels = {"S11", "S22", "S33", "S12", "S13", "S23"},
                                            .validInvariants = {odb_Enum::MISES, odb_Enum::MAX_PRINCIPAL}});
    for (int first = 0; first < rows; first += rows / 2) {
      odbw::BlockInfo info{.position = odb_Enum::INTEGRATION_POINT, .instance = "I1"};
      std::vector<T> data;
      for (int r = first; r < first + rows / 2; ++r) {
        info.elementLabels.push_back(r / 4 + 1);
        info.integrationPoints.push_back(r % 4 + 1);
        for (int k = 0; k < 6; ++k) data.push_back(static_cast<T>((r % 1000) * (k + 1) + frame));
      }
      w.addBlock("Step-1", frame, "S", info, std::span<const T>(data), 6);
    }
  }
}

void writeLarge(const std::string& path, int rows, int precision) {
  odbw::Writer w(path);
  w.addPart("P1");
  w.addInstance("I1", "P1");
  w.addStep("Step-1");
  precision == 0 ? writeLargeFrames<float>(w, rows) : writeLargeFrames<double>(w, rows);
  w.close();
}

odb_FieldOutput field(const odb_Odb& odb, const char* name) {
  return odb.steps()["Step-1"].frames()[0].fieldOutputs()[name];
}

std::string messageOf(const std::function<void()>& body) {
  try { body(); } catch (const odb_Exception& e) { return e.message(); }
  return "(no exception)";
}

std::string inspectH5(const std::string& file, const std::string& cwd) {
  const testsupport::RunResult r = testsupport::run({HARVEST_SYSTEM_PYTHON, INSPECT_H5_SCRIPT, file}, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

std::string lineWith(const std::string& listing, const std::string& needle) {
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);)
    if (line.find(needle) != std::string::npos) return line.substr(line.find_first_not_of(' '));
  return "";
}

}  // namespace sample
