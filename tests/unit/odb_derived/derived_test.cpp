// The derived quantities of a tensor value and the mapping of stored columns
// onto tensor components.
#include "odb/derived.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace odb_detail;

using Tensor = std::array<double, 6>;  // 11 22 33 12 13 23

struct Case {
  const char* name; Tensor s; double mises, press, inv3; std::array<double, 3> principal; std::array<double, 2> inPlane;
};

TEST(Derived, StateOfStressTable) {
  const double r3 = std::sqrt(3.0), radius = std::hypot(15.0, 5.0);
  const Case cases[] = {
      {"uniaxial tension", {100, 0, 0, 0, 0, 0}, 100, -100.0 / 3, 100, {100, 0, 0}, {100, 0}},
      {"compression: inv3 keeps its sign", {-100, 0, 0, 0, 0, 0}, 100, 100.0 / 3, -100, {0, 0, -100}, {0, -100}},
      {"pure shear", {0, 0, 0, 50, 0, 0}, 50 * r3, 0, 0, {50, 0, -50}, {50, -50}},
      {"pure shear in 13 is out of plane", {0, 0, 0, 0, 50, 0}, 50 * r3, 0, 0, {50, 0, -50}, {0, 0}},
      {"hydrostatic", {-10, -10, -10, 0, 0, 0}, 0, 10, 0, {-10, -10, -10}, {-10, -10}},
      // inv3 of the plane and general cases: from a numerical eigen solver.
      {"plane stress", {10, -20, 0, 5, 0, 0}, std::sqrt(775.0), 10.0 / 3, -22.32372547792269,
       {-5 + radius, 0, -5 - radius}, {-5 + radius, -5 - radius}},
      {"general", {120.5, -40.25, 33.0, 25.75, -12.5, 8.125}, 148.61753555687835, -37.75, 78.11127620268903,
       {125.85825345985516, 32.93988401299271, -45.5481374728479}, {124.52407064061784, -44.27407064061784}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double tol = 1e-9 * (1 + std::fabs(c.principal[0]) + std::fabs(c.principal[2]));
    EXPECT_NEAR(vonMises(c.s.data()), c.mises, tol);
    EXPECT_NEAR(pressure(c.s.data()), c.press, tol);
    EXPECT_NEAR(thirdInvariant(c.s.data()), c.inv3, 1e-9 * (1 + std::fabs(c.inv3)));
    double p[3], q[2];
    principals(c.s.data(), p), inPlanePrincipals(c.s.data(), q);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(p[i], c.principal[i], tol) << "principal " << i;
    for (std::size_t i = 0; i < 2; ++i) EXPECT_NEAR(q[i], c.inPlane[i], tol) << "in plane " << i;
  }
  // The table as one block of float rows, stored in order and in reverse: each row's von Mises float is
  // vonMises' rounded (four rows at a time, then one by one).
  const int inOrder[6] = {0, 1, 2, 3, 4, 5}, reversed[6] = {5, 4, 3, 2, 1, 0};
  std::vector<float> rows, backwards;
  for (const Case& c : cases)
    for (std::size_t k = 0; k < 6; ++k)
      rows.push_back(static_cast<float>(c.s[k])), backwards.push_back(static_cast<float>(c.s[5 - k]));
  constexpr int n = static_cast<int>(std::size(cases));
  float got[n], gotBackwards[n];
  misesRows(rows.data(), 6, inOrder, n, got), misesRows(backwards.data(), 6, reversed, n, gotBackwards);
  for (int i = 0; i < n; ++i) {
    const float want = static_cast<float>(vonMises(cases[i].s.data()));
    EXPECT_EQ(std::tie(got[i], gotBackwards[i]), std::tie(want, want)) << cases[i].name;
  }
  // And 100 001 random rows of mixed magnitudes, where a changed order of the operations shows in the last bit.
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  constexpr std::size_t many = 100001;
  std::vector<float> random(many * 6), randomGot(many);
  for (float& v : random) v = std::ldexp(unit(rng), static_cast<int>(rng() % 40) - 20);
  // Every loop the processor has, whichever misesRows picks here.
  for (const int lanes : {8, 4, 2, 0}) {
    if (!misesRowsWith(lanes, random.data(), many, randomGot.data())) continue;
    int differ = 0;
    for (std::size_t i = 0; i < many; ++i) {
      double row[6];
      for (std::size_t k = 0; k < 6; ++k) row[k] = random[i * 6 + k];
      differ += randomGot[i] != static_cast<float>(vonMises(row));
    }
    EXPECT_EQ(differ, 0) << lanes << " rows a register";
  }
  // misesRange, sieved and not, takes the extremes of those floats: over runs of the random rows, and over
  // rows that make the sieve's float squares misorder them (groups whose values differ in the last bits),
  // rows whose squares underflow or overflow in float, infinities, NaNs and equal rows.
  std::vector<float> hard;
  auto add = [&](std::array<float, 6> row) { hard.insert(hard.end(), row.begin(), row.end()); };
  // First sixteen rows: a float square that overflows in its sum though the square does not (0.5 x inf),
  // beside a larger one that does not overflow.
  add({1.31e19f, 0, 0, 0, 0, 0}), add({0, 0, 0, 1e19f, 0, 0});
  for (int k = 0; k < 14; ++k) add({1, 2, 3, 0, 0, 0});
  for (int g = 0; g < 2000; ++g) {
    std::array<float, 6> base;
    for (float& v : base) v = std::ldexp(unit(rng), static_cast<int>(rng() % 6));
    for (int k = 0; k < 16; ++k) {
      std::array<float, 6> row = base;
      for (float& v : row)
        for (int step = static_cast<int>(rng() % 4); step > 0; --step) v = std::nextafter(v, rng() % 2 ? 1e30f : -1e30f);
      add(row);
    }
  }
  for (const float scale : {1e-30f, 1e-42f, 1e19f, 3e38f})
    for (int k = 0; k < 40; ++k) add({scale * unit(rng), scale * unit(rng), scale * unit(rng), 0, scale * unit(rng), 0});
  add({INFINITY, 0, 0, 0, 0, 0}), add({NAN, 1, 2, 3, 4, 5}), add({INFINITY, INFINITY, 0, 0, 0, 0});
  for (int k = 0; k < 300; ++k) add({7, -3, 2, 1, 0, 5});
  for (const std::vector<float>* rowsOf : {&random, &hard}) {
    const int total = static_cast<int>(rowsOf->size() / 6);
    std::vector<float> floats(static_cast<std::size_t>(total));
    misesRows(rowsOf->data(), 6, inOrder, total, floats.data());
    int wrong = 0, runs = 0;
    for (int first = 0; first < total; first += 1 + static_cast<int>(rng() % 3000), ++runs) {
      const int n = std::min(total - first, runs == 0 ? 16 : static_cast<int>(rng() % (runs % 2 ? 40 : 4000)));
      float hi = -INFINITY, lo = INFINITY;
      for (int r = first; r < first + n; ++r)
        hi = std::max(hi, floats[static_cast<std::size_t>(r)]), lo = std::min(lo, floats[static_cast<std::size_t>(r)]);
      const float* at = rowsOf->data() + static_cast<std::size_t>(first) * 6;
      float gotHi, gotLo, sievedHi = hi, sievedLo = lo;
      misesRange(at, 6, inOrder, n, gotHi, gotLo), misesRangeSieved(at, n, sievedHi, sievedLo);
      wrong += gotHi != hi || gotLo != lo || sievedHi != hi || sievedLo != lo;
    }
    EXPECT_EQ(wrong, 0) << "of " << runs << " runs of " << (rowsOf == &random ? "random" : "hard") << " rows";
  }
}

// The fast principal floats are the floats of principals(), bit for bit, and
// principals() keeps within the closed form's bounds and, for finite tensors,
// its order, the trace and the Mises value: named edge cases, then random
// tensors of each kind that stresses the closed form, its bounds or the
// eigenvalues' accuracy (nearly repeated values).
TEST(Derived, PrincipalFloatsAreJacobisFloats) {
  const double inf = INFINITY, nan = NAN;
  std::vector<Tensor> cases = {
      {0, -0.0, 0, 0, 0, 0},          {-0.0, 5, -0.0, 0, 0, 0},     {1, 2, 3, -0.0, 0, -0.0},
      {0, 0, 0, 1e-30, 0, 0},          {7, 7, 7, 0, 0, 0},           {2, 1, -3, 0, 4, 0},
      {2, 1, -3, 0, 0, 4},             {100, 0, 0, 0, 0, 0},         {1, 2, 3, 4, 5, nan},
      {inf, 0, 0, 1, 0, 0},            {1e200, 1, 0, 1e199, 0, 1},   {1e-200, 0, 0, 1e-201, 1e-202, 0},
      {3e38, -3e38, 1, 1e38, 2e38, 0}, {1e-300, 1, 1, 1, 1, 1}};
  std::mt19937 rng(24);
  std::uniform_real_distribution<double> u(-1000, 1000);
  for (int n = 0; n < 30000; ++n) {
    Tensor s;
    for (double& x : s) x = u(rng);
    switch (n % 6) {
      case 1: s = {s[0], s[0], s[0], 1e-12 * s[3], 1e-12 * s[4], 1e-12 * s[5]}; break;  // near-hydrostatic
      case 2: for (double& x : s) x = static_cast<float>(x); break;                          // float data
      case 3: s = {s[0], s[1], s[2], s[3], 0, 0}; break;                                     // plane
      case 4: for (double& x : s) x = std::round(x / 400); break;                            // small integers
      case 5: {  // rotated diag(a, a (1 + rel), a + small): repeated and nearly repeated values, large mean
        double w = s[3], x = s[4], y = s[5], z = u(rng);
        const double len = std::sqrt(w * w + x * x + y * y + z * z);
        w /= len, x /= len, y /= len, z /= len;
        const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                                {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                                {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
        const double d[3] = {s[0], s[0] * (1 + std::pow(10.0, -16 + n % 13)), s[0] + s[1] / 300};
        auto m = [&](int i, int j) {
          return r[i][0] * d[0] * r[j][0] + r[i][1] * d[1] * r[j][1] + r[i][2] * d[2] * r[j][2];
        };
        s = {m(0, 0), m(1, 1), m(2, 2), m(0, 1), m(0, 2), m(1, 2)};
      } break;
      default: break;
    }
    cases.push_back(s);
  }
  int decided = 0;
  for (const Tensor& s : cases) {
    double p[3], lo[3], hi[3];
    float f[4];
    principals(s.data(), p);
    decided += principalFloats(s.data(), f);
    const bool bounded = principalBounds(s.data(), lo, hi);
    for (int k = 0; bounded && k < 3; ++k)
      ASSERT_TRUE(lo[k] <= p[k] && p[k] <= hi[k]) << k << ": " << p[k] << " outside bounds";
    const double scale = 1 + std::fabs(s[0]) + std::fabs(s[1]) + std::fabs(s[2]) + std::fabs(s[3]);
    if (std::isfinite(scale) && std::isfinite(s[4] + s[5]) && scale < 1e30) {
      ASSERT_TRUE(p[0] >= p[1] && p[1] >= p[2]);
      EXPECT_NEAR(p[0] + p[1] + p[2], s[0] + s[1] + s[2], 1e-9 * scale);
      EXPECT_NEAR(std::hypot(p[0] - p[1], p[1] - p[2], p[2] - p[0]) / std::sqrt(2.0), vonMises(s.data()), 1e-8 * scale);
    }
    const float want[4] = {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]),
                           static_cast<float>(p[0] - p[2])};
    ASSERT_EQ(std::memcmp(f, want, sizeof f), 0)
        << testing::PrintToString(f) << " != " << testing::PrintToString(want) << " for " << testing::PrintToString(s);
  }
  EXPECT_GT(decided, static_cast<int>(cases.size()) / 2);  // the closed form does carry the load
}

struct ColumnCase { const char* name; std::vector<std::string> labels; int type, width; std::array<int, 6> cols; };

TEST(Derived, TensorColumnsTable) {
  const ColumnCase cases[] = {
      {"full stress", {"S11", "S22", "S33", "S12", "S13", "S23"}, 5, 6, {0, 1, 2, 3, 4, 5}},
      {"strain with a longer prefix", {"LE11", "LE22", "LE33", "LE12"}, 6, 4, {0, 1, 2, 3, -1, -1}},
      {"membrane", {"S11", "S22", "S12"}, 7, 3, {0, 1, -1, 2, -1, -1}},
      {"labels decide over the type's order", {"S22", "S11", "S12"}, 5, 3, {1, 0, -1, 2, -1, -1}},
      {"first column wins a duplicate", {"S11", "X11", "S22"}, 6, 3, {0, 2, -1, -1, -1, -1}},
      {"unnamed columns are ignored when some are named", {"S11", "Sfoo", "S22"}, 5, 3, {0, 2, -1, -1, -1, -1}},
      {"no labels, surface type", {}, 9, 3, {0, 1, -1, 2, -1, -1}},
      {"no labels, planar type wider than its components", {}, 6, 6, {0, 1, 2, 3, -1, -1}},
      {"labels beyond the width name no column", {"S11", "S22", "S33"}, 5, 2, {0, 1, -1, -1, -1, -1}},
      {"one-character labels name nothing: canonical order", {"1", "2", "3"}, 7, 3, {0, 1, -1, 2, -1, -1}},
  };
  for (const ColumnCase& c : cases) {
    SCOPED_TRACE(c.name);
    int cols[6];
    tensorColumns(c.labels, c.type, c.width, cols);
    EXPECT_EQ(std::to_array(cols), c.cols);  // column of 11 22 33 12 13 23, or -1
  }
}

}  // namespace
