// The nesting budget: a frame, history region or step reached with no
// budget left announces itself on the console and goes no deeper.
#include <fstream>
#include <functional>

#include "history/history.h"
#include "odb/odb_writer.h"
#include "recording_dispatcher.h"
#include "run/settings.h"
#include "traverse/traverse.h"

namespace {

void writeSmall(const std::string& file) {
  odbw::Writer w(file);
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
  const float one[] = {1.0f};
  w.addBlock("Step-1", frame, "U", block, one, 1);
  odbw::HistoryRegionInfo point;
  point.description = "Node 7";
  point.node = 7;
  w.addHistoryRegion("Step-1", "Node I.7", point);
  frameInfo.incrementNumber = 4;
  frameInfo.description = "Increment 4: nothing recorded";
  w.addFrame("Step-1", frameInfo);
  const float rows[] = {0.0f, 0.0f, 1.0f, 0.5f};
  w.addHistoryOutput("Step-1", "Node I.7", "U2", {}, rows, 2);
  w.close();
}

}  // namespace

TEST_F(TraverseTest, DepthBudgetStopsBelowTheConsoleLine) {
  writeSmall(path("d.odb"));
  odb_Odb& odb = open("d.odb");
  const odb_Step& step = odb.steps()[odb_String("Step-1")];
  extract_mass = extract_history = extract_field = true;
  const std::string kHistory = "Step_1__History__U2_7\t((0, 0), (1, 0.5))\n";
  struct Case {
    const char* name;
    std::function<void(std::ofstream&)> call;
    std::string stdoutText, params;
    std::size_t dispatches;
  };
  const Case cases[] = {
      {"frame at depth 0",
       [&](std::ofstream& out) { odbE_printFrame(odb, step.frames().constGet(0), out, "Step-1", "", 0); },
       "Processing Frame: Increment 3\n", "", 0},
      {"frame at depth 1",
       [&](std::ofstream& out) { odbE_printFrame(odb, step.frames().constGet(0), out, "Step-1", "", 1); },
       "Processing Frame: Increment 3\n", "", 1},
      {"frame without field outputs",
       [&](std::ofstream& out) { odbE_printFrame(odb, step.frames().constGet(1), out, "Step-1", "", 5); },
       "Processing Frame: Increment 4: nothing recorded\n", "", 0},
      {"history region at depth 0",
       [&](std::ofstream& out) {
         odbE_printHistoryRegion(step.historyRegions()[odb_String("Node I.7")], out, "Step-1", "", 0);
       },
       "Processing History Region: Node 7\n", "", 0},
      {"history region at depth 1",
       [&](std::ofstream& out) {
         odbE_printHistoryRegion(step.historyRegions()[odb_String("Node I.7")], out, "Step-1", "", 1);
       },
       "Processing History Region: Node 7\n", kHistory, 0},
      {"step at depth 0: mass only",
       [&](std::ofstream& out) { odbE_printStep(odb, step, out, "    ", 0); },
       "Processing Step: Step-1\nExtracting mass properties\n", "Step_1__Mass\t2\n", 0},
      {"step at depth 1: children at depth 0",
       [&](std::ofstream& out) { odbE_printStep(odb, step, out, "    ", 1); },
       "Processing Step: Step-1\nExtracting mass properties\nProcessing History Region: Node 7\n"
       "Processing Frame: Increment 3\nProcessing Frame: Increment 4: nothing recorded\n",
       "Step_1__Mass\t2\n", 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    recordedCalls().clear();
    {
      std::ofstream out(path("params.txt"));
      testing::internal::CaptureStdout();
      row.call(out);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), row.stdoutText);
    }
    EXPECT_EQ(testsupport::readFile(path("params.txt")), row.params);
    EXPECT_EQ(recordedCalls().size(), row.dispatches);
    if (row.dispatches > 0) {
      EXPECT_EQ(recordedCalls()[0].depth, 0);
    }
  }
}
