// Write-then-read round trips: every object, attribute and default of the
// sample database, in both precisions.
#include <gtest/gtest.h>

#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

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
  EXPECT_EQ(odb.name().str(), path_);
  EXPECT_EQ(odb.description().str(), "sample database");
  const odb_Part& part = odb.parts()["P1"];
  EXPECT_EQ(sample::keys(part.elementSets(false)), (std::vector<std::string>{"PE"}));
  EXPECT_EQ(part.elementSets(false)["PE"].instanceNames().size(), 0);  // a part set has no instance
  EXPECT_EQ(ints(part.elementSets(false)["PE"].labels("")), (std::vector<int>{1, 2}));

  const odb_Assembly& a = odb.rootAssembly();
  EXPECT_EQ(a.name().str(), "ASM");
  EXPECT_EQ(sample::keys(a.instances()), (std::vector<std::string>{"I1", "I2"}));
  EXPECT_EQ(sample::keys(a.elementSets(false)), (std::vector<std::string>{"AE"}));
  EXPECT_EQ(sample::keys(a.nodeSets(false)), (std::vector<std::string>{"AN"}));
  const odb_Set& ae = a.elementSets(false)["AE"];
  EXPECT_EQ(ae.type(), odb_Enum::ELEMENT_SET);
  EXPECT_EQ(ae.instanceNames().size(), 2);
  EXPECT_EQ(ints(ae.labels("I2")), (std::vector<int>{7}));

  const odb_Instance& i1 = a.instances()["I1"];
  EXPECT_EQ(i1.partName().str(), "P1");
  EXPECT_EQ(a.instances()["I2"].partName().str(), "");
  EXPECT_EQ(i1.nodeCount(), 4);
  const odb_SequenceNode nodes = i1.nodes();
  ASSERT_EQ(nodes.size(), 4);
  EXPECT_EQ(nodes[2].label(), 3);
  EXPECT_EQ(nodes[2].coordinates()[1], 1.0);
  const odb_SequenceElement elements = i1.elements();
  ASSERT_EQ(elements.size(), 2);
  EXPECT_EQ(elements[1].label(), 2);
  EXPECT_EQ(ints(elements[1].connectivity()), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(sample::keys(i1.elementSets(false)), (std::vector<std::string>{"IE"}));
  odb_finalizeAPI();
  // Internal sets: hidden unless asked for, and not loaded at all unless the open asks for them.
  EXPECT_EQ(openOdb(path_, true, false).rootAssembly().elementSets(true).size(), 1);
  odb_finalizeAPI();
  const odb_Odb& all = openOdb(path_, true, true);
  EXPECT_EQ(sample::keys(all.rootAssembly().elementSets(true)), (std::vector<std::string>{"AE", "AI"}));
  EXPECT_EQ(sample::keys(all.rootAssembly().elementSets(false)), (std::vector<std::string>{"AE"}));
  EXPECT_EQ(sample::keys(all.rootAssembly().instances()["I1"].nodeSets(true)), (std::vector<std::string>{"IN", "IH"}));
  EXPECT_EQ(sample::keys(all.parts()["P1"].elementSets(true)), (std::vector<std::string>{"PE", "PI"}));
}

TEST_P(RoundTrip, StepsFramesFieldsAndValues) {
  const odb_Odb& odb = openOdb(path_);
  EXPECT_EQ(sample::keys(odb.steps()), (std::vector<std::string>{"Step-1", "Step 2"}));
  const odb_Step& s1 = odb.steps()["Step-1"];
  EXPECT_EQ(s1.description().str(), "first");
  EXPECT_EQ(s1.mass(), 12.5);
  EXPECT_EQ(std::vector<double>(s1.massCenter().begin(), s1.massCenter().end()), (std::vector<double>{1, 0.25, 0}));
  EXPECT_EQ(s1.inertiaAboutCenter()[5], 6.0);
  const odb_Step& s2 = odb.steps()["Step 2"];
  EXPECT_EQ(s2.mass(), -1.0);
  EXPECT_EQ(s2.massCenter().size(), 0);
  EXPECT_EQ(s2.frames().size(), 0);

  ASSERT_EQ(s1.frames().size(), 2);
  const odb_Frame& f0 = s1.frames()[0];
  EXPECT_EQ(f0.incrementNumber(), 5);
  EXPECT_EQ(f0.description().str(), "Increment 5");
  EXPECT_EQ(f0.frameValue(), 0.5);
  const odb_Frame& f1 = s1.frames()[1];
  EXPECT_EQ(f1.frameId(), 1);
  EXPECT_EQ(f1.incrementNumber(), 1);  // defaults to the index
  EXPECT_EQ(f1.description().str(), "");
  EXPECT_EQ(f1.frameValue(), 0.0);
  EXPECT_EQ(f1.fieldOutputs().size(), 0);
  EXPECT_EQ(sample::keys(f0.fieldOutputs()), (std::vector<std::string>{"U", "S", "SN", "EV"}));

  const odb_FieldOutput s = sample::field(odb, "S");
  EXPECT_EQ(s.description().str(), "Stress components");
  EXPECT_EQ(s.type(), odb_Enum::TENSOR_3D_FULL);
  EXPECT_FALSE(s.isComplex());
  EXPECT_EQ(s.componentLabels()[3].str(), "S12");
  ASSERT_EQ(s.validInvariants().size(), 3);
  EXPECT_EQ(s.validInvariants()[0], odb_Enum::MISES);
  const odb_SequenceFieldBulkData& blocks = s.bulkDataBlocks();
  ASSERT_EQ(blocks.size(), 2);  // the empty block is left out
  const odb_FieldBulkData& ip = blocks[0];
  EXPECT_EQ(ip.position(), odb_Enum::INTEGRATION_POINT);
  EXPECT_EQ(ip.precision(), GetParam());
  EXPECT_EQ(ip.length(), 4);
  EXPECT_EQ(ip.width(), 6);
  EXPECT_EQ(ip.numberOfElements(), 2);
  EXPECT_EQ(ip.instanceName().str(), "I1");
  EXPECT_EQ(ip.integrationPoints()[3], 2);
  EXPECT_EQ(ip.nodeLabels(), nullptr);
  EXPECT_EQ(ip.componentLabels()[5].str(), "23");
  EXPECT_EQ(ip.data()[23], 23.0f);
  EXPECT_EQ(ip.dataDouble()[7], 7.0);
  EXPECT_EQ(blocks[1].position(), odb_Enum::CENTROID);

  const odb_FieldOutput uField = sample::field(odb, "U");  // keeps its blocks alive
  const odb_FieldBulkData& u = uField.bulkDataBlocks()[1];
  EXPECT_EQ(u.position(), odb_Enum::NODAL);
  EXPECT_EQ(u.elementLabels(), nullptr);
  EXPECT_EQ(u.numberOfElements(), 0);
  EXPECT_EQ(u.componentLabels()[2].str(), "3");
  const odb_FieldOutput ev = sample::field(odb, "EV");
  const odb_FieldBulkData& whole = ev.bulkDataBlocks()[0];
  EXPECT_EQ(whole.position(), odb_Enum::WHOLE_ELEMENT);
  EXPECT_EQ(whole.width(), 1);  // stored one-dimensional
  EXPECT_EQ(whole.sectionPoint(), 3);
  EXPECT_EQ(whole.componentLabels().size(), 0);
  EXPECT_EQ(sample::field(odb, "SN").bulkDataBlocks()[0].numberOfElements(), 2);

  const odb_SequenceFieldValue& v = uField.values();
  ASSERT_EQ(v.size(), 6);
  EXPECT_EQ(v[3].nodeLabel(), 4);
  EXPECT_EQ(v[3].elementLabel(), -1);
  EXPECT_EQ(v[3].integrationPoint(), 0);
  EXPECT_EQ(v[3].data()[2], 33.0f);
  EXPECT_EQ(v[4].dataDouble()[1], 4.0);
  EXPECT_EQ(v[0].nodeLabel(), 1);  // backwards after a forward walk
  EXPECT_EQ(v[4].precision(), GetParam());
  EXPECT_THROW(v.constGet(6), odb_Exception);

  EXPECT_EQ(sample::field(odb, "SN").values()[4].position(), odb_Enum::ELEMENT_NODAL);  // labels checked by Subset
  EXPECT_EQ(s.values()[1].integrationPoint(), 2);
  EXPECT_EQ(sample::field(odb, "EV").values()[1].sectionPoint(), 3);
}

TEST_P(RoundTrip, HistoryRegionsAndOutputs) {
  const odb_Odb& odb = openOdb(path_);
  const odb_HistoryRegionRepository& regions = odb.steps()["Step-1"].historyRegions();
  EXPECT_EQ(sample::keys(regions), (std::vector<std::string>{"Node I1.1", "Assembly", "R"}));
  const odb_HistoryRegion& node = regions["Node I1.1"];
  EXPECT_EQ(node.description().str(), "node one");
  const odb_HistoryPoint pt = node.historyPoint();
  EXPECT_EQ(pt.node().label(), 1);
  EXPECT_EQ(pt.element().label(), -1);
  EXPECT_EQ(pt.ipNumber(), 0);
  EXPECT_EQ(pt.region().name().str(), "AN");
  EXPECT_EQ(pt.region().type(), odb_Enum::NODE_SET);  // the assembly's set
  EXPECT_EQ(pt.instanceName().str(), "I1");
  const odb_HistoryOutput& u1 = node.historyOutputs()["U1"];
  EXPECT_EQ(u1.description().str(), "displacement");
  EXPECT_EQ(u1.type(), 2);
  const odb_SequenceSequenceFloat rows = u1.data();
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[2][1], 4.0f);

  const odb_HistoryRegion& asm_ = regions["Assembly"];
  EXPECT_EQ(asm_.historyPoint().region().name().str(), "");
  EXPECT_EQ(asm_.historyOutputs()["ALLIE"].type(), 7);
  EXPECT_EQ(asm_.historyOutputs()["ALLIE"].data()[1][1], 3.0f);
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
  EXPECT_EQ(active, 1);  // the caller's counter is its own
  EXPECT_EQ(odb_detail::runtimeStartCount(), starts + 1);
  EXPECT_EQ(odb_detail::runtimeStopCount(), stops + 1);
  EXPECT_THROW(
      try { openOdb(path, false); } catch (const odb_Exception& e) {
        EXPECT_EQ(e.message(), path + ": /: databases open read-only, readOnly must be true");
        throw;
      },
      odb_Exception);
}

}  // namespace
