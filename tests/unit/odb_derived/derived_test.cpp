// The derived quantities of a tensor value and the mapping of stored columns
// onto tensor components.
#include "odb/derived.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace odb_detail;

using Tensor = std::array<double, 6>;  // 11 22 33 12 13 23

struct Case {
  const char* name;
  Tensor s;
  double mises, press, inv3;
  std::array<double, 3> principal;
  std::array<double, 2> inPlane;
};

TEST(Derived, StateOfStressTable) {
  const double r3 = std::sqrt(3.0);
  const double radius = std::hypot(15.0, 5.0);
  const Case cases[] = {
      {"uniaxial tension", {100, 0, 0, 0, 0, 0}, 100, -100.0 / 3, 100, {100, 0, 0}, {100, 0}},
      {"compression: inv3 keeps its sign", {-100, 0, 0, 0, 0, 0}, 100, 100.0 / 3, -100, {0, 0, -100}, {0, -100}},
      {"pure shear", {0, 0, 0, 50, 0, 0}, 50 * r3, 0, 0, {50, 0, -50}, {50, -50}},
      {"pure shear in 13 is out of plane", {0, 0, 0, 0, 50, 0}, 50 * r3, 0, 0, {50, 0, -50}, {0, 0}},
      {"hydrostatic", {-10, -10, -10, 0, 0, 0}, 0, 10, 0, {-10, -10, -10}, {-10, -10}},
      // inv3 of the plane and general cases: from a numerical eigen solver.
      {"plane stress",
       {10, -20, 0, 5, 0, 0},
       std::sqrt(775.0),
       10.0 / 3,
       -22.32372547792269,
       {-5 + radius, 0, -5 - radius},
       {-5 + radius, -5 - radius}},
      {"general",
       {120.5, -40.25, 33.0, 25.75, -12.5, 8.125},
       148.61753555687835,
       -37.75,
       78.11127620268903,
       {125.85825345985516, 32.93988401299271, -45.5481374728479},
       {124.52407064061784, -44.27407064061784}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double tol = 1e-9 * (1 + std::fabs(c.principal[0]) + std::fabs(c.principal[2]));
    EXPECT_NEAR(vonMises(c.s.data()), c.mises, tol);
    EXPECT_NEAR(pressure(c.s.data()), c.press, tol);
    EXPECT_NEAR(thirdInvariant(c.s.data()), c.inv3, 1e-9 * (1 + std::fabs(c.inv3)));
    double p[3];
    principals(c.s.data(), p);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], c.principal[static_cast<std::size_t>(i)], tol) << "principal " << i;
    double q[2];
    inPlanePrincipals(c.s.data(), q);
    EXPECT_NEAR(q[0], c.inPlane[0], tol);
    EXPECT_NEAR(q[1], c.inPlane[1], tol);
  }
}

// Eigenvalues must keep the trace and reproduce the Mises value of the tensor,
// also for nearly repeated eigenvalues, where closed forms lose accuracy.
TEST(Derived, PrincipalsKeepInvariantsOfRandomTensors) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> u(-1000, 1000);
  for (int n = 0; n < 500; ++n) {
    Tensor s;
    for (double& x : s) x = u(rng);
    if (n % 3 == 1) s = {s[0], s[0], s[0], 1e-9 * s[3], 1e-9 * s[4], 1e-9 * s[5]};  // near-hydrostatic
    if (n % 3 == 2) s = {s[0], s[0], s[2], s[3], 0, 0};
    double p[3];
    principals(s.data(), p);
    SCOPED_TRACE(n);
    ASSERT_GE(p[0], p[1]);
    ASSERT_GE(p[1], p[2]);
    const double scale = 1 + std::fabs(s[0]) + std::fabs(s[1]) + std::fabs(s[2]) + std::fabs(s[3]);
    EXPECT_NEAR(p[0] + p[1] + p[2], s[0] + s[1] + s[2], 1e-9 * scale);
    const double fromPrincipals =
        std::sqrt(((p[0] - p[1]) * (p[0] - p[1]) + (p[1] - p[2]) * (p[1] - p[2]) + (p[2] - p[0]) * (p[2] - p[0])) / 2);
    EXPECT_NEAR(fromPrincipals, vonMises(s.data()), 1e-8 * scale);
  }
}

struct ColumnCase {
  const char* name;
  std::vector<std::string> labels;
  int type;
  int width;
  std::array<int, 6> cols;  // column of 11 22 33 12 13 23, or -1
};

TEST(Derived, TensorColumnsTable) {
  const ColumnCase cases[] = {
      {"full stress", {"S11", "S22", "S33", "S12", "S13", "S23"}, 5, 6, {0, 1, 2, 3, 4, 5}},
      {"strain with a longer prefix", {"LE11", "LE22", "LE33", "LE12"}, 6, 4, {0, 1, 2, 3, -1, -1}},
      {"membrane", {"S11", "S22", "S12"}, 7, 3, {0, 1, -1, 2, -1, -1}},
      {"labels decide over the type's order", {"S22", "S11", "S12"}, 5, 3, {1, 0, -1, 2, -1, -1}},
      {"first column wins a duplicate", {"S11", "X11", "S22"}, 6, 3, {0, 2, -1, -1, -1, -1}},
      {"unnamed columns are ignored when some are named", {"S11", "Sfoo", "S22"}, 5, 3, {0, 2, -1, -1, -1, -1}},
      {"no recognisable labels: canonical order", {"A", "B", "C", "D"}, 6, 4, {0, 1, 2, 3, -1, -1}},
      {"no labels, surface type", {}, 9, 3, {0, 1, -1, 2, -1, -1}},
      {"no labels, planar type wider than its components", {}, 6, 6, {0, 1, 2, 3, -1, -1}},
      {"labels beyond the width name no column", {"S11", "S22", "S33"}, 5, 2, {0, 1, -1, -1, -1, -1}},
      {"one-character labels name nothing", {"1", "2", "3"}, 7, 3, {0, 1, -1, 2, -1, -1}},
  };
  for (const ColumnCase& c : cases) {
    SCOPED_TRACE(c.name);
    int cols[6];
    tensorColumns(c.labels, c.type, c.width, cols);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(cols[k], c.cols[static_cast<std::size_t>(k)]) << "component " << k;
  }
}

}  // namespace
