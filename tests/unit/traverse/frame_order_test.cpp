// The frame report offers each field output for the whole model, then for
// every set of the root assembly, of each instance and of each part, in
// that order, with region names joined exactly as the library gives them.
#include <fstream>

#include "odb/odb_writer.h"
#include "recording_dispatcher.h"
#include "run/settings.h"
#include "traverse/traverse.h"

using odbw::SetKind;

namespace {

// Root assembly: element sets A and B, node set N, an internal element set.
// Instance I (element set E) and instance PART-1-1 (element set "TOP SET-2",
// node set N-1); part P (element set PE, node set "P N"). Two field outputs.
void writeModel(const std::string& file) {
  odbw::Writer w(file);
  const int nodes[] = {1, 2, 3};
  const std::int64_t offsets[] = {0, 3};
  const int conn[] = {1, 2, 3};
  const int elems[] = {1};
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
  for (const char* field : {"U", "S"}) {
    w.addFieldOutput("Step-1", frame, field, fieldInfo);
    odbw::BlockInfo block;
    block.instance = "I";
    block.nodeLabels = {1, 2, 3};
    const float data[] = {1.0f, 2.0f, 3.0f};
    w.addBlock("Step-1", frame, field, block, data, 1);
  }
  w.close();
}

const std::vector<std::string> kSetsOfOneField = {
    "ALL ",
    "ELEMENT_SET __A",
    "ELEMENT_SET __B",
    "NODE_SET __N",
    "ELEMENT_SET __I_E",
    "ELEMENT_SET __PART-1-1_TOP SET-2",
    "NODE_SET __PART-1-1_N-1",
    "ELEMENT_SET __P_PE",
    "NODE_SET __P_P N",
};

}  // namespace

TEST_F(TraverseTest, FrameOffersSetsInOrderWhenAsked) {
  writeModel(path("m.odb"));
  // The internal set is loaded, so leaving it out is up to the frame report.
  odb_Odb& odb = open("m.odb", /*internalSets=*/true);
  const odb_Frame frame = odb.steps()[odb_String("Step-1")].frames().constGet(0);
  struct Case {
    const char* name;
    bool sets, invariants;
    std::vector<std::string> perField;
  };
  const Case cases[] = {
      {"neither: whole model only", false, false, {"ALL "}},
      {"extract_field_sets", true, false, kSetsOfOneField},
      {"tensor_invariants", false, true, kSetsOfOneField},
      {"both", true, true, kSetsOfOneField},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    extract_field_sets = row.sets;
    tensor_invariants = row.invariants;
    recordedCalls().clear();
    std::ofstream out(path("params.txt"));
    odbE_printFrame(odb, frame, out, odb_String("Step-1"), odb_String("        "), 9998);
    std::vector<std::string> expected;
    for (int field = 0; field < 2; ++field) expected.insert(expected.end(), row.perField.begin(), row.perField.end());
    EXPECT_EQ(callOrder(), expected);
    const auto& calls = recordedCalls();
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
}

TEST_F(TraverseTest, SetsGetTheSubsetAndTheModelGetsEverything) {
  writeModel(path("m.odb"));
  odb_Odb& odb = open("m.odb");
  extract_field_sets = true;
  std::ofstream out(path("params.txt"));
  odbE_printFrame(odb, odb.steps()[odb_String("Step-1")].frames().constGet(0), out, odb_String("Step-1"),
                  odb_String("        "), 9998);
  struct Case {
    const char* region;
    int values;
  };
  // The block lies on instance I: its nodes 1..3 are reached through the
  // element of A and E, node 2 through N; sets elsewhere get an empty subset.
  const Case cases[] = {{"", 3}, {"__A", 3}, {"__B", 0}, {"__N", 1}, {"__I_E", 3},
                        {"__PART-1-1_TOP SET-2", 0}, {"__PART-1-1_N-1", 0}, {"__P_PE", 0}, {"__P_P N", 0}};
  const auto& calls = recordedCalls();
  ASSERT_GE(calls.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].region);
    EXPECT_EQ(calls[i].region, cases[i].region);
    EXPECT_EQ(calls[i].values, cases[i].values);
  }
}

TEST_F(TraverseTest, FullWalkReachesFramesOnlyWithExtractField) {
  writeModel(path("m.odb"));
  odb_Odb& odb = open("m.odb");
  std::ofstream out(path("params.txt"));
  odbE_printFullOdb(odb, out);
  EXPECT_TRUE(recordedCalls().empty());
  extract_field = true;
  odbE_printFullOdb(odb, out);
  ASSERT_EQ(callOrder(), (std::vector<std::string>{"ALL ", "ALL "}));
  // A full run starts each step at 9999 with four blanks: the dispatcher
  // sees two levels further down.
  EXPECT_EQ(recordedCalls()[0].depth, 9997);
  EXPECT_EQ(recordedCalls()[0].indent, std::string(12, ' '));
}
