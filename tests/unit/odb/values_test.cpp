// Derived quantities reach odb_FieldValue and the bulk mises array through the
// column mapping, in both precisions; the formulas are tested in odb_derived.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

template <class T>
void writeTensor(const std::string& path) {
  // [[2,0,1],[0,8,0],[1,0,2]] in shuffled columns: eigenvalues 8 3 1, dev s 4 -1 -3, inv3 = cbrt(162).
  odbw::Writer w(path);
  w.addStep("Step-1");
  w.addFrame("Step-1");
  w.addFieldOutput("Step-1", 0, "S", {.type = odb_Enum::TENSOR_3D_FULL,
                                      .componentLabels = {"S13", "S22", "S11", "S33", "S12", "S23"}});
  const std::vector<T> row = {1, 8, 2, 2, 0, 0};
  w.addBlock("Step-1", 0, "S", {.position = odb_Enum::CENTROID, .instance = "I", .elementLabels = {1}},
             std::span<const T>(row), 6);
  w.close();
}

TEST(Derived, ValuesAndBulkUseTheMappedTensor) {
  const double expect[10] = {std::sqrt(39.0), -4, std::cbrt(162.0), 8, 3, 1, 7, 8, 2, 2};
  sample::Finalize finalize;
  testsupport::TempDir dir;
  for (int precision : {0, 1}) {
    SCOPED_TRACE(precision);
    const std::string path = dir.file("t" + std::to_string(precision) + ".odb");
    if (precision == 0) writeTensor<float>(path);
    else writeTensor<double>(path);
    const odb_FieldOutput s = sample::field(openOdb(path), "S");
    const odb_FieldValue v = s.values()[0];
    const float got[10] = {v.mises(), v.press(), v.inv3(), v.maxPrincipal(), v.midPrincipal(), v.minPrincipal(),
                           v.tresca(), v.maxInPlanePrincipal(), v.minInPlanePrincipal(), v.outOfPlanePrincipal()};
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(got[k], expect[k], 1e-4 * (1 + std::fabs(expect[k]))) << k;
    EXPECT_EQ(v.magnitude(), 0.0f);  // not a vector
    EXPECT_EQ(s.bulkDataBlocks()[0].mises()[0], v.mises());

    const std::string sp = dir.file("s" + std::to_string(precision) + ".odb");
    sample::writeSample(sp, precision);
    const odb_Odb& odb = openOdb(sp);
    const odb_FieldOutput uField = sample::field(odb, "U");  // keeps its values alive
    const odb_SequenceFieldValue& u = uField.values();
    EXPECT_FLOAT_EQ(u[4].magnitude(), 5.0f);                         // (3, 4, 0)
    EXPECT_FLOAT_EQ(u[1].magnitude(), std::sqrt(121.f + 144 + 169));  // (11, 12, 13)
    const odb_FieldOutput ev = sample::field(odb, "EV");
    EXPECT_EQ(std::pair(u[1].mises(), ev.values()[0].magnitude()), std::pair(0.0f, 0.0f));
    const float* zeros = ev.bulkDataBlocks()[0].mises();  // never null for a non-tensor
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(zeros[1], 0.0f);
  }
}

}  // namespace
