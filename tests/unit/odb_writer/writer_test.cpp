// The writer on its own, read back with h5py: creation order, chunking and the
// checksum filter, stored types, the format 1 history layout and the error messages.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "inspect.h"
#include "odb/odb_writer.h"

namespace {

using odbw::SetKind;
using odbw::Writer;

// Names are added out of name order, so the listing shows whether iteration follows creation order.
void writeSample(const std::string& path, const odbw::Options& options) {
  Writer w(path, options);
  w.addPart("Z-part");
  w.addPart("A-part");
  w.addPartSet("Z-part", SetKind::Element, "E all", std::vector<int>{1, 2}, true);
  w.addInstance("Z-part-1", "Z-part");
  w.setInstanceNodes("Z-part-1", std::vector<int>{10, 11, 12}, std::vector<double>{0, 0, 0, 1, 0, 0, 0, 2, 0.5});
  w.setInstanceElements("Z-part-1", std::vector<int>{1}, std::vector<std::int64_t>{0, 3}, std::vector<int>{10, 11, 12});
  w.addStep("Step-2", {.mass = 4.5});
  w.addStep("Step-1");
  w.addFrame("Step-2", {.incrementNumber = 7, .frameValue = 0.25});
  w.addFieldOutput("Step-2", 0, "S", {.type = odb_Enum::TENSOR_3D_FULL, .componentLabels = {"S11", "S22"}});
  w.addBlock("Step-2", 0, "S", {.position = odb_Enum::INTEGRATION_POINT, .elementLabels = {1, 1}, .integrationPoints = {1, 2}},
             std::vector<double>{1, 2, 3, 4}, 2);
  w.addFieldOutput("Step-2", 0, "TEMP", {.isComplex = 0});
  w.addBlock("Step-2", 0, "TEMP", {.sectionPoint = 3, .nodeLabels = {10, 11, 12}, .oneDimensional = true},
             std::vector<float>{20, 21, 22}, 1);
  w.close();
}

TEST(WriterLayout, OptionsChangeOrderAndStorage) {
  struct Case {
    const char* name;
    odbw::Options options;
    const char* parts;
    const char* nodeLabels;
  };
  const Case cases[] = {
      {"defaults", {}, "/parts order=tracked", "labels i4 [3] chunks=[3] fletcher32=True = [10 11 12]"},
      {"untracked", {.trackOrder = false}, "/parts order=name", "labels i4 [3] chunks=[3] fletcher32=True"},
      {"contiguous", {.chunked = false}, "/parts order=tracked", "labels i4 [3] chunks=none fletcher32=False"},
      {"no checksum", {.checksum = false}, "/parts order=tracked", "labels i4 [3] chunks=[3] fletcher32=False"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    writeSample(dir.file("a.odb"), c.options);
    const std::string listing = inspectH5("a.odb", dir.path());
    EXPECT_EQ(lineWith(listing, "/parts order"), c.parts);
    EXPECT_EQ(lineWith(listing, "labels i4 [3]").substr(0, std::string(c.nodeLabels).size()), c.nodeLabels);
    EXPECT_EQ(listing.find("/parts/Z-part ") < listing.find("/parts/A-part "), c.options.trackOrder);
    EXPECT_EQ(listing.find("/steps/Step-2 ") < listing.find("/steps/Step-1 "), c.options.trackOrder);
  }
  // Stored types, and optional attributes left out.
  testsupport::TempDir dir;
  writeSample(dir.file("a.odb"), {});
  const std::string listing = inspectH5("a.odb", dir.path());
  for (const char* line : {"superblock=3\n/ order=tracked\n  @format str-vlen-utf-8 = 'odb'\n"
                           "  @format_version i4 = 2\n",
                           "E all i4 [2] chunks=[2] fletcher32=True = [1 2]\n          @internal i4 = 1\n",
                           "coordinates f8 [3, 3] chunks=[3, 3] fletcher32=True = [0.0 0.0 0.0 1.0 0.0 0.0 0.0 2.0 0.5",
                           "offsets i8 [2] chunks=[2] fletcher32=True = [0 3]",
                           "/steps/Step-2 order=tracked\n      @mass f8 = 4.5\n      /steps/Step-2/frames",
                           "/frames/0 order=tracked\n          @frameValue f8 = 0.25\n"
                           "          @incrementNumber i4 = 7\n",
                           "@componentLabels str-vlen-utf-8[2] = ['S11' 'S22']\n              @type i4 = 5\n",
                           "data f8 [2, 2] chunks=[2, 2] fletcher32=True = [1.0 2.0 3.0 4.0]",
                           "@isComplex i4 = 0\n              @type i4 = 2\n",
                           "@position str-vlen-utf-8 = 'NODAL'\n                  @sectionPoint i4 = 3\n"
                           "                  data f4 [3] chunks=[3] fletcher32=True = [20.0 21.0 22.0]\n"})
    EXPECT_NE(listing.find(line), std::string::npos) << line << "\n" << listing;
}

// A chunk holds max(1, chunkBytes / rowBytes) whole rows, never more than the dataset has.
TEST(WriterLayout, ChunkRowsFollowChunkBytes) {
  const std::tuple<std::size_t, int, const char*> cases[] = {
      {1 << 20, 100, "data f4 [100, 3] chunks=[100, 3] fletcher32=True"},
      {130, 100, "data f4 [100, 3] chunks=[10, 3] fletcher32=True"},
      {5, 100, "data f4 [100, 3] chunks=[1, 3] fletcher32=True"},
      {120, 0, "data f4 [0, 3] chunks=none fletcher32=False = []"},
  };
  for (const auto& [chunkBytes, rows, expected] : cases) {
    SCOPED_TRACE(chunkBytes);
    testsupport::TempDir dir;
    Writer w(dir.file("c.odb"), {.chunkBytes = chunkBytes});
    w.addStep("s");
    w.addFrame("s");
    w.addFieldOutput("s", 0, "U", {.type = odb_Enum::VECTOR, .componentLabels = {"U1", "U2", "U3"}});
    w.addBlock("s", 0, "U", {}, std::vector<float>(static_cast<std::size_t>(rows) * 3, 1.0f), 3);
    w.close();
    EXPECT_EQ(lineWith(inspectH5("c.odb", dir.path()), "data f4"), expected);
  }
}

TEST(WriterLayout, FormatOneStoresHistoryAsTimeAndValue) {
  testsupport::TempDir dir;
  Writer w(dir.file("v1.odb"), {.formatVersion = 1});
  w.addStep("Step-1");
  w.addHistoryRegion("Step-1", "Assembly ASSEMBLY");
  w.addHistoryOutput("Step-1", "Assembly ASSEMBLY", "ALLIE", {}, std::vector<double>{0, 1, 0.5, 2, 1, 4}, 2);
  w.close();
  const std::string listing = inspectH5("v1.odb", dir.path());
  EXPECT_EQ(lineWith(listing, "@format_version"), "@format_version i4 = 1");
  EXPECT_EQ(lineWith(listing, "time "), "time f8 [3] chunks=[3] fletcher32=True = [0.0 0.5 1.0]");
  EXPECT_EQ(lineWith(listing, "value "), "value f8 [3] chunks=[3] fletcher32=True = [1.0 2.0 4.0]");
  EXPECT_EQ(lineWith(listing, "data "), "");
}

// Each bad call names the file and the object path and leaves the writer usable.
TEST(WriterErrors, MessagesNameFileAndObject) {
  const std::vector<float> six(6, 1.0f);
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
      {[](Writer& w) { w.addPart("P"); }, "/parts/P: already exists"},
      {[](Writer& w) { w.addFieldOutput("Step-1", 0, "U", {}); }, U + ": already exists"},
      {[](Writer& w) { w.addPartSet("Q", SetKind::Node, "N", std::vector<int>{1}); }, "/parts/Q: no such part"},
      {[](Writer& w) { w.setInstanceNodes("P-1", std::vector<int>{1, 2}, std::vector<double>(5, 0.0)); },
       "/assembly/instances/P-1/nodes/coordinates: coordinates has 5 values, expected 6 (3 for each of 2 nodes)"},
      {[](Writer& w) {
         w.setInstanceElements("P-1", std::vector<int>{1, 2}, std::vector<std::int64_t>{0, 2}, std::vector<int>{1, 2});
       },
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
    w.addPart("P");
    w.addInstance("P-1", "P");
    w.addStep("Step-1");
    w.addFrame("Step-1");
    w.addFieldOutput("Step-1", 0, "U", {.type = odb_Enum::VECTOR, .componentLabels = {"U1", "U2"}});
    w.addHistoryRegion("Step-1", "R");
    EXPECT_EQ(messageOf([&] { call(w); }), dir.file("e.odb") + ": " + message);
    EXPECT_NO_THROW(w.addFrame("Step-1"));
    EXPECT_NO_THROW(w.close());
  }
  testsupport::TempDir dir;
  const std::string path = dir.file("c.odb"), missing = dir.file("no/such/folder/x.odb");
  Writer w(path, {.formatVersion = 1});
  w.addStep("Step-1");
  w.addHistoryRegion("Step-1", "R");
  EXPECT_EQ(messageOf([&] { w.addHistoryOutput("Step-1", "R", "U", {}, std::vector<double>(6, 0.0), 3); }),
            path + ": " + R + "R/historyOutputs/U: format 1 stores history as time and value, width must be 2, got 3");
  w.close();
  EXPECT_EQ(messageOf([&] { w.addStep("s"); }), path + ": /: the file is closed");
  EXPECT_EQ(messageOf([&] { w.close(); }), path + ": /: the file is closed");
  EXPECT_EQ(messageOf([&] { Writer bad(missing); }), missing + ": /: cannot create the file");
  {
    Writer unclosed(dir.file("d.odb"));
    unclosed.addStep("s");
  }
  EXPECT_NE(inspectH5("d.odb", dir.path()).find("/steps/s order=tracked"), std::string::npos);
}

}  // namespace
