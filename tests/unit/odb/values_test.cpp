// Derived quantities through odb_FieldValue and the bulk mises array, on
// tensors with known invariants, in both precisions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

struct Tensor {
  const char* name;
  int type;
  std::vector<std::string> labels;
  std::vector<double> row;
  // mises, press, inv3, max, mid, min, tresca, max in-plane, min in-plane, out-of-plane
  double expect[10];
};

const Tensor tensors[] = {
    {"uniaxial", odb_Enum::TENSOR_3D_FULL, {"S11", "S22", "S33", "S12", "S13", "S23"}, {100, 0, 0, 0, 0, 0},
     {100, -100.0 / 3, 100, 100, 0, 0, 100, 100, 0, 0}},
    {"pure shear", odb_Enum::TENSOR_3D_FULL, {"S11", "S22", "S33", "S12", "S13", "S23"}, {0, 0, 0, 50, 0, 0},
     {50 * std::sqrt(3.0), 0, 0, 50, 0, -50, 100, 50, -50, 0}},
    {"hydrostatic", odb_Enum::TENSOR_3D_FULL, {"S11", "S22", "S33", "S12", "S13", "S23"}, {-7, -7, -7, 0, 0, 0},
     {0, 7, 0, -7, -7, -7, 0, -7, -7, -7}},
    // Plane stress: 11 22 33 12, with s33 = 0 stored; 27/2 det(dev s) = 28000.
    {"plane stress", odb_Enum::TENSOR_3D_PLANAR, {"S11", "S22", "S33", "S12"}, {30, 10, 0, 10},
     {std::sqrt(1000.0), -40.0 / 3, std::cbrt(28000.0), 20 + std::sqrt(200.0), 20 - std::sqrt(200.0), 0, 20 + std::sqrt(200.0),
      20 + std::sqrt(200.0), 20 - std::sqrt(200.0), 0}},
    // A membrane without labels takes the canonical order 11 22 12.
    {"surface, no labels", odb_Enum::TENSOR_2D_SURFACE, {}, {4}, {4, -4.0 / 3, 4, 4, 0, 0, 4, 4, 0, 0}},
    // General: [[2,0,1],[0,8,0],[1,0,2]] has the eigenvalues 8, 3, 1; dev s has 4, -1, -3,
    // so inv3 = cbrt(27/2 * 12) = cbrt(162).
    {"general", odb_Enum::TENSOR_3D_FULL, {"S11", "S22", "S33", "S12", "S13", "S23"}, {2, 8, 2, 0, 1, 0},
     {std::sqrt(39.0), -4, std::cbrt(162.0), 8, 3, 1, 7, 8, 2, 2}},
};

template <class T>
void writeTensor(const std::string& path, const Tensor& t) {
  odbw::Writer w(path);
  w.addStep("Step-1");
  w.addFrame("Step-1");
  w.addFieldOutput("Step-1", 0, "S", {.type = t.type, .componentLabels = t.labels});
  const std::vector<T> row(t.row.begin(), t.row.end());
  w.addBlock("Step-1", 0, "S", {.position = "CENTROID", .instance = "I", .elementLabels = {1}},
             std::span<const T>(row), static_cast<int>(row.size()));
  w.close();
}

TEST(Derived, TensorInvariantsThroughValuesAndBulk) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  for (int precision : {0, 1}) {
    for (const Tensor& t : tensors) {
      SCOPED_TRACE(std::string(t.name) + (precision ? " float64" : " float32"));
      const std::string path = dir.file(std::string(t.name) + std::to_string(precision) + ".odb");
      if (precision == 0) writeTensor<float>(path, t);
      else writeTensor<double>(path, t);
      const odb_FieldOutput s = sample::field(openOdb(path), "S");
      const odb_FieldValue v = s.values()[0];
      const float got[10] = {v.mises(), v.press(), v.inv3(), v.maxPrincipal(), v.midPrincipal(), v.minPrincipal(),
                             v.tresca(), v.maxInPlanePrincipal(), v.minInPlanePrincipal(), v.outOfPlanePrincipal()};
      for (int k = 0; k < 10; ++k) EXPECT_NEAR(got[k], t.expect[k], 1e-4 * (1 + std::fabs(t.expect[k]))) << k;
      EXPECT_EQ(v.magnitude(), 0.0f);  // not a vector
      EXPECT_EQ(s.bulkDataBlocks()[0].mises()[0], v.mises());
    }
  }
}

TEST(Derived, VectorMagnitudeAndZerosForOtherTypes) {
  sample::Finalize finalize;
  testsupport::TempDir dir;
  for (int precision : {0, 1}) {
    SCOPED_TRACE(precision);
    const std::string path = dir.file("s" + std::to_string(precision) + ".odb");
    sample::writeSample(path, precision);
    const odb_Odb& odb = openOdb(path);
    const odb_FieldOutput uField = sample::field(odb, "U");  // keeps its values alive
    const odb_SequenceFieldValue& u = uField.values();
    EXPECT_FLOAT_EQ(u[4].magnitude(), 5.0f);                         // (3, 4, 0)
    EXPECT_FLOAT_EQ(u[1].magnitude(), std::sqrt(121.f + 144 + 169));  // (11, 12, 13)
    EXPECT_EQ(u[1].mises(), 0.0f);
    EXPECT_EQ(u[1].maxPrincipal(), 0.0f);
    const odb_FieldOutput ev = sample::field(odb, "EV");
    EXPECT_EQ(ev.values()[0].magnitude(), 0.0f);
    EXPECT_EQ(ev.values()[0].press(), 0.0f);
    const float* zeros = ev.bulkDataBlocks()[0].mises();  // never null for a non-tensor
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(zeros[0], 0.0f);
    EXPECT_EQ(zeros[1], 0.0f);
    // The sample's centroid block of S is uniaxial 100.
    EXPECT_FLOAT_EQ(sample::field(odb, "S").bulkDataBlocks()[1].mises()[0], 100.0f);
  }
}

}  // namespace
