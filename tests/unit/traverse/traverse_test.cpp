// The traversal against the recording dispatcher: the order in which a frame
// offers its regions, and what each call is handed.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "recording_dispatch.h"
#include "run/settings.h"
#include "sample_db.h"
#include "test_support.h"
#include "traverse/traverse.h"

namespace {

TEST(Traverse, FrameOffersSetsInOrderWhenAsked) {
  testsupport::TempDir dir;
  sample::Finalize finalize;
  sample::writeSample(dir.file("s.odb"), 0);
  // The internal sets are loaded, so leaving them out is up to the frame report.
  odb_Odb& odb = openOdb(odb_String(dir.file("s.odb")), true, true);
  const odb_Frame frame = odb.steps()[odb_String("Step-1")].frames().constGet(0);
  const std::vector<std::string> all = {"ALL ",           "ELEMENT_SET __AE",   "NODE_SET __AN",
                                        "ELEMENT_SET __I1_IE", "NODE_SET __I1_IN", "ELEMENT_SET __P1_PE",
                                        "NODE_SET __P1_PN"};
  // Values of U (nodes 1..4 of I1, 1 2 of I2) on each: the element sets reach nodes through the connectivity;
  // values belong to instances, so the part's sets get empty subsets.
  const int values[] = {6, 5, 3, 3, 1, 0, 0};
  struct Case { const char* name; bool sets, invariants; std::vector<std::string> perField; };
  const Case cases[] = {{"neither: whole model only", false, false, {"ALL "}},
                        {"extract_field_sets", true, false, all},
                        {"tensor_invariants", false, true, all},
                        {"both", true, true, all}};
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    resetSettings();
    extract_field_sets = row.sets;
    tensor_invariants = row.invariants;
    dispatchCalls.clear();
    std::ofstream out(dir.file("params.txt"));
    odbE_printFrame(odb, frame, out, odb_String("Step-1"), odb_String("        "), 9998);
    ASSERT_EQ(dispatchCalls.size() % row.perField.size(), 0u);
    ASSERT_EQ(dispatchCalls[0].field, "U");
    for (std::size_t i = 0; i < dispatchCalls.size(); ++i) {
      // Field outputs in the frame's order, each offered in full before the next.
      const DispatchCall& c = dispatchCalls[i];
      const std::size_t k = i % row.perField.size();
      EXPECT_EQ(c.kind + " " + c.region, row.perField[k]) << i;
      EXPECT_EQ(c.field, dispatchCalls[i - k].field) << i;
      EXPECT_EQ(std::make_tuple(c.step, c.increment, c.indent, c.depth),
                std::make_tuple("Step-1", 5, std::string(12, ' '), 9997));
      if (i < row.perField.size()) {
        EXPECT_EQ(c.values, values[k]) << row.perField[k];
      }
    }
  }
  resetSettings();
}

}  // namespace
