// The generator's promises to the benchmarks and the fuzz seeds: sizes, the
// mesh they lead to, and a database whose objects read back as described in
// generate.h.
#include "generate.h"

#include <gtest/gtest.h>

#include <set>

#include "odb/odb.h"
#include "test_support.h"

TEST(OdbgenSize, Words) {
  struct Case {
    const char* word;
    std::optional<long long> values;
  } const cases[] = {
      {"small", 10'000}, {"medium", 1'000'000}, {"large", 10'000'000}, {"250000", 250'000}, {"1", 1},
      {"0", std::nullopt}, {"-5", std::nullopt}, {"12k", std::nullopt}, {"", std::nullopt}, {"Small", std::nullopt},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.word);
    EXPECT_EQ(odbgen::parseSize(row.word), row.values);
  }
}

TEST(OdbgenSize, MeshCoversTheValuesInWholeLayers) {
  for (const long long values : {1LL, 7LL, 8LL, 9LL, 10'000LL, 1'000'000LL, 10'000'000LL}) {
    SCOPED_TRACE(values);
    const odbgen::MeshShape s = odbgen::meshShape(values);
    EXPECT_GE(s.elements() * 8, values);
    EXPECT_LT(s.elements() * 8 - values, 8LL * s.nx * s.ny) << "more than one layer too many";
    EXPECT_GE(s.sBlocks, 1);
    EXPECT_LE(s.sBlocks, s.nz);
    if (s.nz >= 2) {
      EXPECT_GE(s.sBlocks, 2) << "the bulk path must see more than one block";
    }
  }
}

class OdbgenDatabase : public ::testing::Test {
 protected:
  void SetUp() override { odb_initializeAPI(); }
  void TearDown() override { odb_finalizeAPI(); }
  testsupport::TempDir dir;
};

TEST_F(OdbgenDatabase, ReadsBackAsDescribed) {
  odbgen::GenOptions options;
  options.values = 2000;
  options.steps = 2;
  options.frames = 3;
  const std::string path = dir.file("g.odb");
  odbgen::generateOdb(path, options);
  const odbgen::MeshShape shape = odbgen::meshShape(options.values);
  const odb_Odb& odb = openOdb(path.c_str(), true, true);

  const odb_Instance& instance = odb.rootAssembly().instances()[odbgen::kInstance];
  EXPECT_EQ(instance.elementCount(), shape.elements());
  EXPECT_EQ(instance.nodeCount(), shape.nodes());
  EXPECT_EQ(instance.elementSets(false)["ALL_ELEMENTS"].labels(odbgen::kInstance).size(), shape.elements());
  EXPECT_FALSE(instance.elementSets(false).isMember("_TOP_LAYER_INTERNAL"));
  EXPECT_TRUE(instance.elementSets(true).isMember("_TOP_LAYER_INTERNAL"));

  ASSERT_EQ(odb.steps().size(), 2);
  const odb_Step& step = odb.steps()["Step-2"];
  EXPECT_GT(step.mass(), 0.0);
  EXPECT_EQ(step.inertiaAboutOrigin().size(), 6);
  ASSERT_EQ(step.frames().size(), 3);
  const odb_FieldOutputRepository outputs = step.frames()[2].fieldOutputs();
  const odb_FieldOutput& s = outputs[odbgen::kStressField];
  EXPECT_EQ(s.type(), odb_Enum::TENSOR_3D_FULL);
  EXPECT_NE(s.description().find("Stress"), s.description().length());
  EXPECT_EQ(s.validInvariants().size(), 7);
  EXPECT_EQ(s.componentLabels()[5], odb_String("S23"));
  EXPECT_EQ(s.bulkDataBlocks().size(), shape.sBlocks);
  EXPECT_EQ(s.values().size(), shape.elements() * 8);
  std::set<int> points;
  for (const odb_FieldBulkData& b : s.bulkDataBlocks()) {
    EXPECT_EQ(b.precision(), 1);
    EXPECT_EQ(b.length(), b.numberOfElements() * 8);
    points.insert(b.integrationPoints(), b.integrationPoints() + b.length());
  }
  EXPECT_EQ(points, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(outputs[odbgen::kDisplacementField].values().size(), shape.nodes());
  EXPECT_EQ(outputs[odbgen::kScalarField].values().size(), shape.elements() * 8);

  ASSERT_EQ(step.historyRegions().size(), 2);
  const odb_HistoryOutputRepository& history = step.historyRegions().valueAt(0).historyOutputs();
  for (const char* name : {"U1", "U2", "U3"}) EXPECT_EQ(history[name].data().size(), options.frames + 1) << name;
}

TEST_F(OdbgenDatabase, SingleWritesFloat32) {
  odbgen::GenOptions options;
  options.values = 100;
  options.single = true;
  const std::string path = dir.file("f.odb");
  odbgen::generateOdb(path, options);
  const odb_Odb& odb = openOdb(path.c_str());
  const odb_FieldOutputRepository outputs = odb.steps()["Step-1"].frames()[0].fieldOutputs();
  for (const char* field : {odbgen::kStressField, odbgen::kDisplacementField, odbgen::kScalarField})
    EXPECT_EQ(outputs[field].bulkDataBlocks()[0].precision(), 0) << field;
}

TEST(OdbgenOptions, OutOfRangeIsRefused) {
  testsupport::TempDir dir;
  for (const auto& mutate : {+[](odbgen::GenOptions& o) { o.values = 0; }, +[](odbgen::GenOptions& o) { o.steps = 0; },
                             +[](odbgen::GenOptions& o) { o.frames = 0; }}) {
    odbgen::GenOptions options;
    mutate(options);
    EXPECT_THROW(odbgen::generateOdb(dir.file("x.odb"), options), std::invalid_argument);
  }
}
