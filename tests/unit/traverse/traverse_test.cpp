// The traversal against a stand-in odbE_printField that records every call:
// the order in which a frame offers its regions, and the nesting budget.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "field/field.h"
#include "history/history.h"
#include "odb/odb_writer.h"
#include "run/settings.h"
#include "test_support.h"
#include "traverse/traverse.h"

using odbw::SetKind;

struct DispatchCall {
  std::string field, step;
  int increment = 0;
  std::string kind, region, indent;
  int depth = 0, values = 0;  // values of the field output handed over
};

namespace {
std::vector<DispatchCall> calls;  // every odbE_printField call since the last clear
}  // namespace

void odbE_printField(const odb_FieldOutput& field, std::ostream&, odb_String stepName, int incrementNumber,
                     odb_String regionKind, odb_String regionName, odb_String indent, int depth) {
  calls.push_back({field.name().str(), stepName.str(), incrementNumber, regionKind.str(), regionName.str(),
                   indent.str(), depth, field.values().size()});
}

namespace {

// "KIND NAME" per call, e.g. "ELEMENT_SET __A".
std::vector<std::string> callOrder() {
  std::vector<std::string> order;
  for (const DispatchCall& c : calls) order.push_back(c.kind + " " + c.region);
  return order;
}

class TraverseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int active = 0;
    if (active == 0) QVXStsStdB_initialize(active), odb_initializeAPI();
    resetSettings();
    calls.clear();
  }
  void TearDown() override {
    for (odb_Odb* odb : open_) odb->close();
  }
  // With internalSets the library loads the internal sets too.
  odb_Odb& open(const std::string& file, bool internalSets = false) {
    return *open_.emplace_back(&openOdb(odb_String(path(file)), true, internalSets));
  }
  std::string path(const std::string& file) const { return dir_.file(file); }
  testsupport::TempDir dir_;
  std::vector<odb_Odb*> open_;
};

// Root assembly: element sets A and B, node set N, an internal element set.
// Instance I (element set E) and instance PART-1-1 (element set "TOP SET-2",
// node set N-1); part P (element set PE, node set "P N"). Two field outputs.
void writeModel(const std::string& file) {
  odbw::Writer w(file);
  const int nodes[] = {1, 2, 3}, conn[] = {1, 2, 3}, elems[] = {1};
  const std::int64_t offsets[] = {0, 3};
  for (const char* inst : {"I", "PART-1-1"}) {
    w.addInstance(inst, "P");
    w.setInstanceNodes(inst, nodes);
    w.setInstanceElements(inst, elems, offsets, conn);
  }
  w.addAssemblySet(SetKind::Element, "A", {{"I", {1}}});
  w.addAssemblySet(SetKind::Element, "HIDDEN", {{"I", {1}}}, /*internal=*/true);
  w.addAssemblySet(SetKind::Element, "B", {{"PART-1-1", {1}}});
  w.addAssemblySet(SetKind::Node, "N", {{"I", {2}}});
  w.addInstanceSet("I", SetKind::Element, "E", elems);
  w.addInstanceSet("PART-1-1", SetKind::Element, "TOP SET-2", elems);
  w.addInstanceSet("PART-1-1", SetKind::Node, "N-1", nodes);
  w.addPart("P");
  w.addPartSet("P", SetKind::Element, "PE", elems);
  w.addPartSet("P", SetKind::Node, "P N", nodes);
  w.addStep("Step-1");
  odbw::FrameInfo frameInfo;
  frameInfo.incrementNumber = 12;
  frameInfo.description = "Increment 12";
  const int frame = w.addFrame("Step-1", frameInfo);
  odbw::FieldInfo fieldInfo;
  fieldInfo.type = odb_Enum::SCALAR;
  odbw::BlockInfo block;
  block.instance = "I";
  block.nodeLabels = {1, 2, 3};
  const float data[] = {1.0f, 2.0f, 3.0f};
  for (const char* field : {"U", "S"}) {
    w.addFieldOutput("Step-1", frame, field, fieldInfo);
    w.addBlock("Step-1", frame, field, block, data, 1);
  }
  w.close();
}

}  // namespace

TEST_F(TraverseTest, FrameOffersSetsInOrderWhenAsked) {
  writeModel(path("m.odb"));
  // The internal set is loaded, so leaving it out is up to the frame report.
  odb_Odb& odb = open("m.odb", /*internalSets=*/true);
  const odb_Frame frame = odb.steps()[odb_String("Step-1")].frames().constGet(0);
  const std::vector<std::string> all = {"ALL ", "ELEMENT_SET __A", "ELEMENT_SET __B", "NODE_SET __N",
                                        "ELEMENT_SET __I_E", "ELEMENT_SET __PART-1-1_TOP SET-2",
                                        "NODE_SET __PART-1-1_N-1", "ELEMENT_SET __P_PE", "NODE_SET __P_P N"};
  struct Case { const char* name; bool sets, invariants; std::vector<std::string> perField; };
  const Case cases[] = {{"neither: whole model only", false, false, {"ALL "}},
                        {"extract_field_sets", true, false, all},
                        {"tensor_invariants", false, true, all},
                        {"both", true, true, all}};
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    extract_field_sets = row.sets;
    tensor_invariants = row.invariants;
    calls.clear();
    std::ofstream out(path("params.txt"));
    odbE_printFrame(odb, frame, out, odb_String("Step-1"), odb_String("        "), 9998);
    std::vector<std::string> expected = row.perField;
    expected.insert(expected.end(), row.perField.begin(), row.perField.end());
    EXPECT_EQ(callOrder(), expected);
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
      // Field outputs in the frame's order, each offered in full before the next.
      EXPECT_EQ(calls[i].field, i < calls.size() / 2 ? "U" : "S") << i;
      EXPECT_EQ(calls[i].step, "Step-1");
      EXPECT_EQ(calls[i].increment, 12);
      EXPECT_EQ(calls[i].indent, std::string(12, ' '));
      EXPECT_EQ(calls[i].depth, 9997);
    }
  }
  // The block lies on instance I: its nodes 1..3 are reached through the
  // element of A and E, node 2 through N; sets elsewhere get an empty subset.
  const int values[] = {3, 3, 0, 1, 3, 0, 0, 0, 0};
  for (std::size_t i = 0; i < std::size(values); ++i) EXPECT_EQ(calls[i].values, values[i]) << all[i];
}

TEST_F(TraverseTest, FullWalkReachesFramesOnlyWithExtractField) {
  writeModel(path("m.odb"));
  odb_Odb& odb = open("m.odb");
  std::ofstream out(path("params.txt"));
  odbE_printFullOdb(odb, out);
  EXPECT_TRUE(calls.empty());
  extract_field = true;
  odbE_printFullOdb(odb, out);
  ASSERT_EQ(callOrder(), (std::vector<std::string>{"ALL ", "ALL "}));
  // A full run starts each step at 9999 with four blanks: the dispatcher sees two levels further down.
  EXPECT_EQ(calls[0].depth, 9997);
  EXPECT_EQ(calls[0].indent, std::string(12, ' '));
}

// A frame, history region or step reached with no budget left announces
// itself on the console and goes no deeper.
TEST_F(TraverseTest, DepthBudgetStopsBelowTheConsoleLine) {
  {
    odbw::Writer w(path("d.odb"));
    odbw::StepInfo stepInfo;
    stepInfo.mass = 2.0;
    w.addStep("Step-1", stepInfo);
    odbw::FrameInfo frameInfo;
    frameInfo.incrementNumber = 3;
    frameInfo.description = "Increment 3";
    const int frame = w.addFrame("Step-1", frameInfo);
    odbw::FieldInfo fieldInfo;
    fieldInfo.type = odb_Enum::SCALAR;
    w.addFieldOutput("Step-1", frame, "U", fieldInfo);
    odbw::BlockInfo block;
    block.nodeLabels = {7};
    const float one[] = {1.0f}, rows[] = {0.0f, 0.0f, 1.0f, 0.5f};
    w.addBlock("Step-1", frame, "U", block, one, 1);
    odbw::HistoryRegionInfo point;
    point.description = "Node 7";
    point.node = 7;
    w.addHistoryRegion("Step-1", "Node I.7", point);
    frameInfo.incrementNumber = 4;
    frameInfo.description = "Increment 4: nothing recorded";
    w.addFrame("Step-1", frameInfo);
    w.addHistoryOutput("Step-1", "Node I.7", "U2", {}, rows, 2);
    w.close();
  }
  odb_Odb& odb = open("d.odb");
  const odb_Step& step = odb.steps()[odb_String("Step-1")];
  extract_mass = extract_history = extract_field = true;
  using Call = std::function<void(std::ofstream&)>;
  auto frame = [&](int i, int depth) -> Call {
    return [&, i, depth](std::ofstream& o) {
      odbE_printFrame(odb, step.frames().constGet(i), o, "Step-1", "", depth);
    };
  };
  auto region = [&](int depth) -> Call {
    return [&, depth](std::ofstream& o) {
      odbE_printHistoryRegion(step.historyRegions()[odb_String("Node I.7")], o, "Step-1", "", depth);
    };
  };
  auto stepAt = [&](int depth) -> Call {
    return [&, depth](std::ofstream& o) { odbE_printStep(odb, step, o, "    ", depth); };
  };
  const std::string mass = "Processing Step: Step-1\nExtracting mass properties\n";
  struct Case { const char* name; Call call; std::string stdoutText, params; std::size_t dispatches; };
  const Case cases[] = {
      {"frame at depth 0", frame(0, 0), "Processing Frame: Increment 3\n", "", 0},
      {"frame at depth 1", frame(0, 1), "Processing Frame: Increment 3\n", "", 1},
      {"frame without field outputs", frame(1, 5), "Processing Frame: Increment 4: nothing recorded\n", "", 0},
      {"history region at depth 0", region(0), "Processing History Region: Node 7\n", "", 0},
      {"history region at depth 1", region(1), "Processing History Region: Node 7\n",
       "Step_1__History__U2_7\t((0, 0), (1, 0.5))\n", 0},
      {"step at depth 0: mass only", stepAt(0), mass, "Step_1__Mass\t2\n", 0},
      {"step at depth 1: children at depth 0", stepAt(1),
       mass + "Processing History Region: Node 7\nProcessing Frame: Increment 3\n"
              "Processing Frame: Increment 4: nothing recorded\n",
       "Step_1__Mass\t2\n", 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    calls.clear();
    {
      std::ofstream out(path("params.txt"));
      testing::internal::CaptureStdout();
      row.call(out);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), row.stdoutText);
    }
    EXPECT_EQ(testsupport::readFile(path("params.txt")), row.params);
    EXPECT_EQ(calls.size(), row.dispatches);
    for (const DispatchCall& c : calls) EXPECT_EQ(c.depth, 0);
  }
}
