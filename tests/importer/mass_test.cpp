// Mass properties against closed forms (a unit cube of density 2 in every solid family, shifted), and models
// without mass properties.
#include "mass.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "inp.h"

using ccx::Solid;
using Ids = std::vector<std::vector<int>>;

TEST(Mass, UnitCubeOfDensityTwoInEveryFamily) {
  // Corners of the cube in brick order; elements list corners, quadratic
  // ones add the midpoints of their edges (given as element-local pairs).
  const Ids brick = {{0, 1, 2, 3, 4, 5, 6, 7}};
  const Ids tets = {{0, 1, 2, 6}, {0, 2, 3, 6}, {0, 3, 7, 6}, {0, 7, 4, 6}, {0, 4, 5, 6}, {0, 5, 1, 6}};
  const Ids wedges = {{0, 1, 2, 4, 5, 6}, {0, 2, 3, 4, 6, 7}};  // bottom cut along 0-2, extruded
  const Ids brickEdges = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                          {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
  const Ids tetEdges = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
  const Ids wedgeEdges = {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5}, {5, 3}, {0, 3}, {1, 4}, {2, 5}};
  const struct Case { const char* name; Solid shape; const Ids& elements; Ids edges; } cases[] = {
      {"hex8", Solid::Hex8, brick, {}},      {"hex20", Solid::Hex20, brick, brickEdges},
      {"tet4", Solid::Tet4, tets, {}},       {"tet10", Solid::Tet10, tets, tetEdges},
      {"wedge6", Solid::Wedge6, wedges, {}}, {"wedge15", Solid::Wedge15, wedges, wedgeEdges},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::array<double, 3> o : {std::array<double, 3>{0, 0, 0}, {1, 2, -3}}) {
      ccx::MassAccumulator acc;
      for (const auto& ids : c.elements) {
        std::vector<double> xyz;
        for (int i : ids)
          for (double d : {double((i & 1) ^ ((i >> 1) & 1)), double((i >> 1) & 1), double(i >> 2)}) xyz.push_back(d);
        for (const auto& e : c.edges)
          for (int k = 0; k < 3; ++k) xyz.push_back((xyz[3 * e[0] + k] + xyz[3 * e[1] + k]) / 2);
        for (std::size_t k = 0; k < xyz.size(); ++k) xyz[k] += o[k % 3];
        acc.add(c.shape, xyz.data(), 2.0);
      }
      const auto r = acc.result();
      ASSERT_TRUE(r.valid);
      EXPECT_NEAR(r.mass, 2.0, 1e-12);
      const double m = 2.0, x = o[0] + 0.5, y = o[1] + 0.5, z = o[2] + 0.5;
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.center[k], o[k] + 0.5, 1e-12);
      // About the centre: 2 (1/12 + 1/12) on the diagonal, no products.
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.inertiaCenter[k], k < 3 ? 1.0 / 3 : 0.0, 1e-12);
      // About the origin: parallel axes, products m x y with the solver's (positive) sign.
      const double expected[6] = {1.0 / 3 + m * (y * y + z * z), 1.0 / 3 + m * (x * x + z * z),
                                  1.0 / 3 + m * (x * x + y * y), m * x * y, m * x * z, m * y * z};
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.inertiaOrigin[k], expected[k], 1e-11) << k;
    }
  }
}

TEST(Mass, ModelsWithoutMassPropertiesGiveMinusOne) {
  auto model = [](const std::string& type, const std::string& section, bool density) {
    return ccx::computeMass(ccx::readInpText(
        "m.inp", "*NODE\n1,0,0,0\n2,1,0,0\n3,0,1,0\n4,0,0,1\n*ELEMENT,TYPE=" + type + ",ELSET=E\n1,1,2,3,4\n" +
                     "*MATERIAL,NAME=M\n" + (density ? "*DENSITY\n6.\n" : "") + section +
                     " SECTION,ELSET=E,MATERIAL=M\n1.\n"));
  };
  EXPECT_NEAR(model("C3D4", "*SOLID", true).mass, 1.0, 1e-12);  // volume 1/6, density 6
  EXPECT_FALSE(model("S4", "*SOLID", true).valid);              // no solid family
  EXPECT_FALSE(model("C3D4", "*SHELL", true).valid);            // a shell section
  const auto noDensity = model("C3D4", "*SOLID", false);
  EXPECT_EQ(std::pair(noDensity.valid, noDensity.mass), std::pair(false, -1.0));  // a material without density
}
