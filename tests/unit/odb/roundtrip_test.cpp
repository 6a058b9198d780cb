// Write-then-read round trips: every object, attribute and default of the
// sample database, in both precisions.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

using std::tuple;
using Names = std::vector<std::string>;
std::vector<int> ints(const odb_SequenceInt& s) { return std::vector<int>(s.begin(), s.end()); }

class RoundTrip : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { sample::writeSample(path_, GetParam()); }
  testsupport::TempDir dir_;
  std::string path_ = dir_.file("job.odb");
  sample::Finalize finalize_;
};

TEST_P(RoundTrip, ModelAndSets) {
  const odb_Odb& odb = openOdb(path_);
  EXPECT_EQ(tuple(odb.name().str(), odb.description().str()), tuple(path_, "sample database"));
  const odb_Set& pe = odb.parts()["P1"].elementSets(false)["PE"];
  EXPECT_EQ(sample::keys(odb.parts()["P1"].elementSets(false)), Names{"PE"});
  EXPECT_EQ(pe.instanceNames().size(), 0);  // a part set has no instance
  EXPECT_EQ(ints(pe.labels("")), (std::vector<int>{1, 2}));

  const odb_Assembly& a = odb.rootAssembly();
  EXPECT_EQ(a.name().str(), "ASM");
  EXPECT_EQ(sample::keys(a.instances()), (Names{"I1", "I2"}));
  EXPECT_EQ(tuple(sample::keys(a.elementSets(false)), sample::keys(a.nodeSets(false))),
            tuple(Names{"AE"}, Names{"AN"}));
  const odb_Set& ae = a.elementSets(false)["AE"];
  EXPECT_EQ(tuple(ae.type(), ae.instanceNames().size()), tuple(odb_Enum::ELEMENT_SET, 2));
  EXPECT_EQ(ints(ae.labels("I2")), (std::vector<int>{7}));

  const odb_Instance& i1 = a.instances()["I1"];
  EXPECT_EQ(tuple(i1.partName().str(), a.instances()["I2"].partName().str(), i1.nodeCount()), tuple("P1", "", 4));
  const odb_SequenceNode nodes = i1.nodes();
  ASSERT_EQ(nodes.size(), 4);
  EXPECT_EQ(tuple(nodes[2].label(), nodes[2].coordinates()[1]), tuple(3, 1.0));
  const odb_SequenceElement elements = i1.elements();
  ASSERT_EQ(elements.size(), 2);
  EXPECT_EQ(tuple(elements[1].label(), ints(elements[1].connectivity())), tuple(2, std::vector<int>{2, 3, 4}));
  EXPECT_EQ(sample::keys(i1.elementSets(false)), Names{"IE"});
  odb_finalizeAPI();
  // Internal sets: hidden unless asked for, and not loaded at all unless the open asks for them.
  EXPECT_EQ(openOdb(path_, true, false).rootAssembly().elementSets(true).size(), 1);
  odb_finalizeAPI();
  const odb_Odb& all = openOdb(path_, true, true);
  EXPECT_EQ(sample::keys(all.rootAssembly().elementSets(true)), (Names{"AE", "AI"}));
  EXPECT_EQ(sample::keys(all.rootAssembly().elementSets(false)), Names{"AE"});
  EXPECT_EQ(sample::keys(all.rootAssembly().instances()["I1"].nodeSets(true)), (Names{"IN", "IH"}));
  EXPECT_EQ(sample::keys(all.parts()["P1"].elementSets(true)), (Names{"PE", "PI"}));
}

TEST_P(RoundTrip, StepsFramesFieldsAndValues) {
  const odb_Odb& odb = openOdb(path_);
  EXPECT_EQ(sample::keys(odb.steps()), (Names{"Step-1", "Step 2"}));
  const odb_Step& s1 = odb.steps()["Step-1"];
  EXPECT_EQ(tuple(s1.description().str(), s1.mass(), s1.inertiaAboutCenter()[5]), tuple("first", 12.5, 6.0));
  EXPECT_EQ(std::vector<double>(s1.massCenter().begin(), s1.massCenter().end()), (std::vector<double>{1, 0.25, 0}));
  const odb_Step& s2 = odb.steps()["Step 2"];
  EXPECT_EQ(tuple(s2.mass(), s2.massCenter().size(), s2.frames().size()), tuple(-1.0, 0, 0));

  ASSERT_EQ(s1.frames().size(), 2);
  const odb_Frame& f0 = s1.frames()[0];
  EXPECT_EQ(tuple(f0.incrementNumber(), f0.description().str(), f0.frameValue()), tuple(5, "Increment 5", 0.5));
  const odb_Frame& f1 = s1.frames()[1];  // the increment number defaults to the index
  EXPECT_EQ(tuple(f1.frameId(), f1.incrementNumber(), f1.description().str(), f1.frameValue()), tuple(1, 1, "", 0.0));
  EXPECT_EQ(f1.fieldOutputs().size(), 0);
  EXPECT_EQ(sample::keys(f0.fieldOutputs()), (Names{"U", "S", "SN", "EV"}));

  const odb_FieldOutput s = sample::field(odb, "S");
  EXPECT_EQ(tuple(s.description().str(), s.type(), s.isComplex(), s.componentLabels()[3].str()),
            tuple("Stress components", odb_Enum::TENSOR_3D_FULL, false, "S12"));
  ASSERT_EQ(s.validInvariants().size(), 3);
  EXPECT_EQ(s.validInvariants()[0], odb_Enum::MISES);
  const odb_SequenceFieldBulkData& blocks = s.bulkDataBlocks();
  ASSERT_EQ(blocks.size(), 2);  // the empty block is left out
  const odb_FieldBulkData& ip = blocks[0];
  EXPECT_EQ(tuple(ip.position(), ip.precision(), ip.length(), ip.width(), ip.numberOfElements()),
            tuple(odb_Enum::INTEGRATION_POINT, GetParam(), 4, 6, 2));
  EXPECT_EQ(tuple(ip.instanceName().str(), ip.integrationPoints()[3], ip.componentLabels()[5].str()),
            tuple("I1", 2, "23"));
  EXPECT_EQ(tuple(ip.nodeLabels(), ip.data()[23], ip.dataDouble()[7]), tuple(nullptr, 23.0f, 7.0));
  EXPECT_EQ(blocks[1].position(), odb_Enum::CENTROID);

  const odb_FieldOutput uField = sample::field(odb, "U");  // keeps its blocks alive
  const odb_FieldBulkData& u = uField.bulkDataBlocks()[1];
  EXPECT_EQ(u.elementLabels(), nullptr);
  EXPECT_EQ(tuple(u.position(), u.numberOfElements(), u.componentLabels()[2].str()), tuple(odb_Enum::NODAL, 0, "3"));
  const odb_FieldOutput ev = sample::field(odb, "EV");
  const odb_FieldBulkData& whole = ev.bulkDataBlocks()[0];  // stored one-dimensional
  EXPECT_EQ(tuple(whole.position(), whole.width(), whole.sectionPoint(), whole.componentLabels().size()),
            tuple(odb_Enum::WHOLE_ELEMENT, 1, 3, 0));
  EXPECT_EQ(sample::field(odb, "SN").bulkDataBlocks()[0].numberOfElements(), 2);

  const odb_SequenceFieldValue& v = uField.values();
  ASSERT_EQ(v.size(), 6);
  EXPECT_EQ(tuple(v[3].nodeLabel(), v[3].elementLabel(), v[3].integrationPoint(), v[3].data()[2]),
            tuple(4, -1, 0, 33.0f));
  EXPECT_EQ(tuple(v[4].dataDouble()[1], v[4].precision()), tuple(4.0, GetParam()));
  EXPECT_EQ(v[0].nodeLabel(), 1);  // backwards after a forward walk
  EXPECT_THROW(v.constGet(6), odb_Exception);

  EXPECT_EQ(sample::field(odb, "SN").values()[4].position(), odb_Enum::ELEMENT_NODAL);  // labels checked by Subset
  EXPECT_EQ(s.values()[1].integrationPoint(), 2);
  EXPECT_EQ(sample::field(odb, "EV").values()[1].sectionPoint(), 3);
}

TEST_P(RoundTrip, HistoryRegionsAndOutputs) {
  const odb_Odb& odb = openOdb(path_);
  const odb_HistoryRegionRepository& regions = odb.steps()["Step-1"].historyRegions();
  EXPECT_EQ(sample::keys(regions), (Names{"Node I1.1", "Assembly", "R"}));
  const odb_HistoryRegion& node = regions["Node I1.1"];
  EXPECT_EQ(node.description().str(), "node one");
  const odb_HistoryPoint pt = node.historyPoint();
  EXPECT_EQ(tuple(pt.node().label(), pt.element().label(), pt.ipNumber(), pt.instanceName().str()),
            tuple(1, -1, 0, "I1"));
  EXPECT_EQ(tuple(pt.region().name().str(), pt.region().type()), tuple("AN", odb_Enum::NODE_SET));  // the assembly's
  const odb_HistoryOutput& u1 = node.historyOutputs()["U1"];
  EXPECT_EQ(tuple(u1.description().str(), u1.type()), tuple("displacement", 2));
  const odb_SequenceSequenceFloat rows = u1.data();
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[2][1], 4.0f);

  const odb_HistoryRegion& asm_ = regions["Assembly"];
  EXPECT_EQ(asm_.historyPoint().region().name().str(), "");
  EXPECT_EQ(tuple(asm_.historyOutputs()["ALLIE"].type(), asm_.historyOutputs()["ALLIE"].data()[1][1]), tuple(7, 3.0f));
  EXPECT_EQ(regions["R"].historyPoint().region().name().str(), "NOSUCH");
  // Rows of width 0 are rows all the same.
  odb_finalizeAPI();
  odbw::edit::writeFloatDataset(path_, "/steps/Step-1/historyRegions/Assembly/historyOutputs/ALLIE/data", {}, {2, 0});
  const odb_SequenceSequenceFloat empty =
      openOdb(path_).steps()["Step-1"].historyRegions()["Assembly"].historyOutputs()["ALLIE"].data();
  ASSERT_EQ(empty.size(), 2);
  EXPECT_EQ(empty[1].size(), 0);
}

INSTANTIATE_TEST_SUITE_P(Precision, RoundTrip, ::testing::Values(0, 1));

// Starts and stops of the runtime are counted once; a closed database refuses reads; read-write is refused.
TEST(Runtime, CountsStartsAndStopsAndCloses) {
  testsupport::TempDir dir;
  const std::string path = dir.file("a.odb");
  sample::writeSample(path, 0);
  int active = 1;
  const int starts = odb_detail::runtimeStartCount(), stops = odb_detail::runtimeStopCount();
  QVXStsStdB_initialize(active);
  odb_initializeAPI();
  odb_Odb& odb = openOdb(path);
  const odb_FieldOutput s = sample::field(odb, "S");  // not loaded yet
  odb.close();
  EXPECT_FALSE(odb.isOpen());
  EXPECT_THROW(odb.steps(), odb_Exception);
  EXPECT_THROW(s.values(), odb_Exception);
  odb_finalizeAPI();
  QVXStsStdB_finalize(active);
  EXPECT_EQ(tuple(active, odb_detail::runtimeStartCount(), odb_detail::runtimeStopCount()),
            tuple(1, starts + 1, stops + 1));  // the caller's counter is its own
  EXPECT_EQ(sample::messageOf([&] { openOdb(path, false); }),
            path + ": /: databases open read-only, readOnly must be true");
}

}  // namespace
