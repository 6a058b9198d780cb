// What the writer puts in the file, read back with h5py: groups that track
// creation order, chunking and the checksum filter, stored types, optional
// attributes left out, and the format 1 history layout.
#include <gtest/gtest.h>

#include <vector>

#include "inspect.h"
#include "odb/odb_writer.h"

namespace {

using odbw::SetKind;

// A database whose names were added out of name order, so the listing shows
// whether iteration follows creation order.
void writeSample(const std::string& path, const odbw::Options& options) {
  odbw::Writer w(path, options);
  w.setDescription("sample");
  w.addPart("Z-part");
  w.addPart("A-part");
  w.addPartSet("Z-part", SetKind::Element, "E all", std::vector<int>{1, 2}, true);
  w.addInstance("Z-part-1", "Z-part");
  w.addInstance("no part", "");
  w.setInstanceNodes("Z-part-1", std::vector<int>{10, 11, 12}, std::vector<double>{0, 0, 0, 1, 0, 0, 0, 2, 0.5});
  w.setInstanceElements("Z-part-1", std::vector<int>{1}, std::vector<std::int64_t>{0, 3}, std::vector<int>{10, 11, 12});
  w.addAssemblySet(SetKind::Node, "N-set", {{"Z-part-1", {12, 10}}});
  odbw::StepInfo step;
  step.mass = 4.5;
  step.inertiaAboutOrigin = std::vector<double>{1, 2, 3, 4, 5, 6};
  w.addStep("Step-2", step);
  w.addStep("Step-1");
  w.addFrame("Step-2");
  odbw::FrameInfo frame;
  frame.incrementNumber = 7;
  frame.frameValue = 0.25;
  frame.description = "Increment 7: Step Time = 0.25";
  w.addFrame("Step-2", frame);
  odbw::FieldInfo s;
  s.type = odb_Enum::TENSOR_3D_FULL;
  s.componentLabels = {"S11", "S22", "S33", "S12", "S13", "S23"};
  s.validInvariants = {4, 6};
  s.description = "Stress components";
  w.addFieldOutput("Step-2", 1, "S", s);
  odbw::BlockInfo ip;
  ip.position = "INTEGRATION_POINT";
  ip.instance = "Z-part-1";
  ip.elementLabels = {1, 1};
  ip.integrationPoints = {1, 2};
  w.addBlock("Step-2", 1, "S", ip, std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 6);
  odbw::FieldInfo t;
  t.isComplex = 0;
  w.addFieldOutput("Step-2", 1, "TEMP", t);
  odbw::BlockInfo nodal;
  nodal.nodeLabels = {10, 11, 12};
  nodal.sectionPoint = 3;
  nodal.oneDimensional = true;
  w.addBlock("Step-2", 1, "TEMP", nodal, std::vector<float>{20, 21, 22}, 1);
  odbw::HistoryRegionInfo region;
  region.node = 10;
  region.instance = "Z-part-1";
  w.addHistoryRegion("Step-2", "Node Z-part-1.10", region);
  w.addHistoryOutput("Step-2", "Node Z-part-1.10", "U1", {"Spatial displacement: U1", 2},
                     std::vector<float>{0, 0, 1, 0.5f}, 2);
  w.close();
}

TEST(WriterLayout, DefaultLayoutListing) {
  testsupport::TempDir dir;
  writeSample(dir.file("a.odb"), {});
  EXPECT_EQ(inspectH5("a.odb", dir.path()), R"(superblock=3
/ order=tracked
  @description str-vlen-utf-8 = 'sample'
  @format str-vlen-utf-8 = 'odb'
  @format_version i4 = 2
  /parts order=tracked
    /parts/Z-part order=tracked
      /parts/Z-part/elementSets order=tracked
        E all i4 [2] chunks=[2] fletcher32=True = [1 2]
          @internal i4 = 1
    /parts/A-part order=tracked
  /assembly order=tracked
    /assembly/instances order=tracked
      /assembly/instances/Z-part-1 order=tracked
        @part str-vlen-utf-8 = 'Z-part'
        /assembly/instances/Z-part-1/nodes order=tracked
          labels i4 [3] chunks=[3] fletcher32=True = [10 11 12]
          coordinates f8 [3, 3] chunks=[3, 3] fletcher32=True = [0.0 0.0 0.0 1.0 0.0 0.0 0.0 2.0 0.5]
        /assembly/instances/Z-part-1/elements order=tracked
          labels i4 [1] chunks=[1] fletcher32=True = [1]
          offsets i8 [2] chunks=[2] fletcher32=True = [0 3]
          connectivity i4 [3] chunks=[3] fletcher32=True = [10 11 12]
      /assembly/instances/no part order=tracked
    /assembly/nodeSets order=tracked
      /assembly/nodeSets/N-set order=tracked
        Z-part-1 i4 [2] chunks=[2] fletcher32=True = [12 10]
  /steps order=tracked
    /steps/Step-2 order=tracked
      @inertiaAboutOrigin f8[6] = [1.0 2.0 3.0 4.0 5.0 6.0]
      @mass f8 = 4.5
      /steps/Step-2/frames order=tracked
        /steps/Step-2/frames/0 order=tracked
          /steps/Step-2/frames/0/fieldOutputs order=tracked
        /steps/Step-2/frames/1 order=tracked
          @description str-vlen-utf-8 = 'Increment 7: Step Time = 0.25'
          @frameValue f8 = 0.25
          @incrementNumber i4 = 7
          /steps/Step-2/frames/1/fieldOutputs order=tracked
            /steps/Step-2/frames/1/fieldOutputs/S order=tracked
              @componentLabels str-vlen-utf-8[6] = ['S11' 'S22' 'S33' 'S12' 'S13' 'S23']
              @description str-vlen-utf-8 = 'Stress components'
              @type i4 = 5
              @validInvariants i4[2] = [4 6]
              /steps/Step-2/frames/1/fieldOutputs/S/blocks order=tracked
                /steps/Step-2/frames/1/fieldOutputs/S/blocks/0 order=tracked
                  @instance str-vlen-utf-8 = 'Z-part-1'
                  @position str-vlen-utf-8 = 'INTEGRATION_POINT'
                  data f8 [2, 6] chunks=[2, 6] fletcher32=True = [1.0 2.0 3.0 4.0 5.0 6.0 7.0 8.0 9.0 10.0 11.0 12.0]
                  elementLabels i4 [2] chunks=[2] fletcher32=True = [1 1]
                  integrationPoints i4 [2] chunks=[2] fletcher32=True = [1 2]
            /steps/Step-2/frames/1/fieldOutputs/TEMP order=tracked
              @isComplex i4 = 0
              @type i4 = 2
              /steps/Step-2/frames/1/fieldOutputs/TEMP/blocks order=tracked
                /steps/Step-2/frames/1/fieldOutputs/TEMP/blocks/0 order=tracked
                  @position str-vlen-utf-8 = 'NODAL'
                  @sectionPoint i4 = 3
                  data f4 [3] chunks=[3] fletcher32=True = [20.0 21.0 22.0]
                  nodeLabels i4 [3] chunks=[3] fletcher32=True = [10 11 12]
      /steps/Step-2/historyRegions order=tracked
        /steps/Step-2/historyRegions/Node Z-part-1.10 order=tracked
          @instance str-vlen-utf-8 = 'Z-part-1'
          @node i4 = 10
          /steps/Step-2/historyRegions/Node Z-part-1.10/historyOutputs order=tracked
            /steps/Step-2/historyRegions/Node Z-part-1.10/historyOutputs/U1 order=tracked
              @description str-vlen-utf-8 = 'Spatial displacement: U1'
              @type i4 = 2
              data f4 [2, 2] chunks=[2, 2] fletcher32=True = [0.0 0.0 1.0 0.5]
    /steps/Step-1 order=tracked
      /steps/Step-1/frames order=tracked
      /steps/Step-1/historyRegions order=tracked
)");
}

// Without tracking, groups list by name; without chunking, arrays are contiguous.
TEST(WriterLayout, OptionsChangeOrderAndStorage) {
  struct Case {
    const char* name;
    odbw::Options options;
    const char* parts;
    const char* nodeLabels;
  };
  const Case cases[] = {
      {"defaults", {}, "/parts order=tracked", "labels i4 [3] chunks=[3] fletcher32=True = [10 11 12]"},
      {"untracked",
       {2, false, true, true, 1 << 20},
       "/parts order=name",
       "labels i4 [3] chunks=[3] fletcher32=True = [10 11 12]"},
      {"contiguous",
       {2, true, false, true, 1 << 20},
       "/parts order=tracked",
       "labels i4 [3] chunks=none fletcher32=False = [10 11 12]"},
      {"chunked without checksum",
       {2, true, true, false, 1 << 20},
       "/parts order=tracked",
       "labels i4 [3] chunks=[3] fletcher32=False = [10 11 12]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    writeSample(dir.file("a.odb"), c.options);
    const std::string listing = inspectH5("a.odb", dir.path());
    EXPECT_EQ(lineWith(listing, "/parts order"), c.parts);
    EXPECT_EQ(lineWith(listing, "labels i4 [3]"), c.nodeLabels);
    const bool tracked = c.options.trackOrder;
    EXPECT_EQ(listing.find("/parts/Z-part ") < listing.find("/parts/A-part "), tracked);
    EXPECT_EQ(listing.find("/steps/Step-2 ") < listing.find("/steps/Step-1 "), tracked);
  }
}

// A chunk holds max(1, chunkBytes / rowBytes) whole rows, never more than the dataset has.
TEST(WriterLayout, ChunkRowsFollowChunkBytes) {
  struct Case {
    std::size_t chunkBytes;
    int rows;
    const char* expected;
  };
  const Case cases[] = {
      {1 << 20, 100, "data f4 [100, 3] chunks=[100, 3] fletcher32=True"},
      {120, 100, "data f4 [100, 3] chunks=[10, 3] fletcher32=True"},
      {130, 100, "data f4 [100, 3] chunks=[10, 3] fletcher32=True"},
      {5, 100, "data f4 [100, 3] chunks=[1, 3] fletcher32=True"},
      {120, 0, "data f4 [0, 3] chunks=none fletcher32=False = []"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chunkBytes);
    testsupport::TempDir dir;
    odbw::Options options;
    options.chunkBytes = c.chunkBytes;
    odbw::Writer w(dir.file("c.odb"), options);
    w.addStep("s");
    w.addFrame("s");
    odbw::FieldInfo u;
    u.type = odb_Enum::VECTOR;
    u.componentLabels = {"U1", "U2", "U3"};
    w.addFieldOutput("s", 0, "U", u);
    w.addBlock("s", 0, "U", {}, std::vector<float>(static_cast<std::size_t>(c.rows) * 3, 1.0f), 3);
    w.close();
    EXPECT_EQ(lineWith(inspectH5("c.odb", dir.path()), "data f4"), c.expected);
  }
}

TEST(WriterLayout, FormatOneStoresHistoryAsTimeAndValue) {
  testsupport::TempDir dir;
  odbw::Options options;
  options.formatVersion = 1;
  odbw::Writer w(dir.file("v1.odb"), options);
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

}  // namespace
