// The writer on its own, the sample read back with h5py: creation order,
// chunking and the checksum filter, stored types; and the error messages.
#include <gtest/gtest.h>

#include <vector>

#include "odb/odb_writer.h"
#include "sample_db.h"
#include "test_support.h"

namespace {

using odbw::Writer;
using sample::lineWith;

TEST(WriterLayout, OptionsChangeOrderAndStorage) {
  const struct Case { const char* name; odbw::Options options; const char *parts, *nodeLabels; } cases[] = {
      {"defaults", {}, "/parts order=tracked", "labels i4 [4] chunks=[4] fletcher32=True = [1 2 3 4]"},
      {"untracked", {.trackOrder = false}, "/parts order=name", "labels i4 [4] chunks=[4] fletcher32=True"},
      {"contiguous", {.chunked = false}, "/parts order=tracked", "labels i4 [4] chunks=none fletcher32=False"},
      {"no checksum", {.checksum = false}, "/parts order=tracked", "labels i4 [4] chunks=[4] fletcher32=False"},
      {"small chunks", {.chunkBytes = 30}, "/parts order=tracked", "labels i4 [4] chunks=[4] fletcher32=True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    sample::writeSample(dir.file("a.odb"), 0, c.options);
    const std::string listing = sample::inspectH5("a.odb", dir.path());
    EXPECT_EQ(lineWith(listing, "/parts order"), c.parts);
    EXPECT_EQ(lineWith(listing, "labels i4 [4]").substr(0, std::string(c.nodeLabels).size()), c.nodeLabels);
    EXPECT_EQ(listing.find("/steps/Step-1 ") < listing.find("/steps/Step 2 "), c.options.trackOrder);
    if (c.options.chunkBytes == 30) {
      EXPECT_EQ(lineWith(listing, "data f4 [4, 6]"), "data f4 [4, 6] chunks=[1, 6] fletcher32=True");
    }
  }
  // Stored types, fixed-length strings, and optional attributes left out.
  testsupport::TempDir dir;
  sample::writeSample(dir.file("a.odb"), 1);
  const std::string listing = sample::inspectH5("a.odb", dir.path());
  for (const char* line : {"superblock=3\n/ order=tracked\n  @description str-fixed-utf-8 = 'sample database'\n"
                           "  @format str-fixed-utf-8 = 'odb'\n  @format_version i4 = 2\n",
                           "PI i4 [1] chunks=[1] fletcher32=True = [2]\n          @internal i4 = 1\n",
                           "coordinates f8 [4, 3] chunks=[4, 3] fletcher32=True = [0.0 0.0 0.0 1.0 0.0 0.0 1.0 1.0 0.0 0.0 1.0 0.0]",
                           "offsets i8 [3] chunks=[3] fletcher32=True = [0 3 6]",
                           "@frameValue f8 = 0.5\n          @incrementNumber i4 = 5\n",
                           "@componentLabels str-fixed-utf-8[3] = ['U1' 'U2' 'U3']\n",
                           "@position str-fixed-utf-8 = 'WHOLE_ELEMENT'\n                  @sectionPoint i4 = 3\n"
                           "                  data f8 [2] chunks=[2] fletcher32=True = [0.5 1.5]\n",
                           "/steps/Step 2 order=tracked\n      /steps/Step 2/frames"})
    EXPECT_NE(listing.find(line), std::string::npos) << line << "\n" << listing;
}

// Each bad call names the file and the object path and leaves the writer usable.
TEST(WriterErrors, MessagesNameFileAndObject) {
  const std::vector<float> six(6, 1.0f);
  const std::vector<int> two{1, 2};
  const std::string U = "/steps/Step-1/frames/0/fieldOutputs/U", R = "/steps/Step-1/historyRegions/";
  const std::pair<std::function<void(Writer&)>, std::string> cases[] = {
      {[](Writer& w) { w.addFrame("Step-9"); }, "/steps/Step-9: no such step"},
      {[](Writer& w) { w.addFieldOutput("Step-1", 1, "S", {}); },
       "/steps/Step-1/frames/1: no such frame, the step has 1 frames"},
      {[&](Writer& w) { w.addBlock("Step-1", 0, "S", {}, six, 6); },
       "/steps/Step-1/frames/0/fieldOutputs/S: no such field output"},
      {[&](Writer& w) { w.addBlock("Step-1", 0, "U", {}, six, 4); },
       U + "/blocks/0: data has 6 values, not a multiple of width 4"},
      {[&](Writer& w) { w.addBlock("Step-1", 0, "U", {.nodeLabels = {1, 2, 3, 4}}, six, 2); },
       U + "/blocks/0: nodeLabels has 4 entries, data has 3 rows"},
      {[&](Writer& w) { w.addBlock("Step-1", 0, "U", {.oneDimensional = true}, six, 2); },
       U + "/blocks/0: one-dimensional data needs width 1, got 2"},
      {[&](Writer& w) { w.addBlock("Step-1", 0, "U", {.position = odb_Enum::odb_ResultPositionEnum(7)}, six, 2); },
       U + "/blocks/0: position 7 is not a result position"},
      {[](Writer& w) { w.addPart("P"); }, "/parts/P: already exists"},
      {[](Writer& w) { w.addFieldOutput("Step-1", 0, "U", {}); }, U + ": already exists"},
      {[](Writer& w) { w.addPartSet("Q", odbw::SetKind::Node, "N", std::vector<int>{1}); }, "/parts/Q: no such part"},
      {[&](Writer& w) { w.setInstanceNodes("P-1", two, std::vector<double>(5, 0.0)); },
       "/assembly/instances/P-1/nodes/coordinates: coordinates has 5 values, expected 6 (3 for each of 2 nodes)"},
      {[&](Writer& w) { w.setInstanceElements("P-1", two, std::vector<std::int64_t>{0, 2}, two); },
       "/assembly/instances/P-1/elements/offsets: offsets has 2 entries, expected 3"},
      {[](Writer& w) { w.addStep("a/b"); }, "/steps: invalid name \"a/b\""},
      {[&](Writer& w) { w.addHistoryOutput("Step-1", "X", "U1", {}, six, 2); }, R + "X: no such history region"},
      {[&](Writer& w) { w.addHistoryOutput("Step-1", "R", "U1", {}, six, 4); },
       R + "R/historyOutputs/U1: data has 6 values, not a multiple of width 4"},
  };
  for (const auto& [call, message] : cases) {
    SCOPED_TRACE(message);
    testsupport::TempDir dir;
    Writer w(dir.file("e.odb"));
    w.addPart("P"), w.addInstance("P-1", "P"), w.addStep("Step-1"), w.addFrame("Step-1");
    w.addFieldOutput("Step-1", 0, "U", {.type = odb_Enum::VECTOR, .componentLabels = {"U1", "U2"}});
    w.addHistoryRegion("Step-1", "R");
    EXPECT_EQ(sample::messageOf([&] { call(w); }), dir.file("e.odb") + ": " + message);
    EXPECT_NO_THROW((w.addFrame("Step-1"), w.close()));
  }
  testsupport::TempDir dir;
  const std::string path = dir.file("c.odb"), missing = dir.file("no/such/folder/x.odb");
  Writer w(path, {.formatVersion = 1});
  w.addStep("Step-1"), w.addHistoryRegion("Step-1", "R");
  EXPECT_EQ(sample::messageOf([&] { w.addHistoryOutput("Step-1", "R", "U", {}, std::vector<double>(6, 0.0), 3); }),
            path + ": " + R + "R/historyOutputs/U: format 1 stores history as time and value, width must be 2, got 3");
  w.close();
  EXPECT_EQ(sample::messageOf([&] { w.addStep("s"); }), path + ": /: the file is closed");
  EXPECT_EQ(sample::messageOf([&] { Writer bad(missing); }), missing + ": /: cannot create the file: No such file or directory");
  Writer(dir.file("d.odb")).addStep("s");  // never closed: the destructor closes it
  EXPECT_NE(sample::inspectH5("d.odb", dir.path()).find("/steps/s order=tracked"), std::string::npos);
}

}  // namespace
