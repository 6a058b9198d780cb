// Mass properties against closed forms: a unit cube of density 2 meshed
// with every solid family, shifted away from the origin, and models that
// have no mass properties.
#include "mass.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using ccx::MassAccumulator;
using ccx::Solid;

namespace {

using Pt = std::array<double, 3>;
using Element = std::vector<Pt>;

Pt mid(const Pt& a, const Pt& b) { return {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2}; }

// Corners of the cube [o, o + 1]^3 in brick order.
std::vector<Pt> corners(const Pt& o) {
  std::vector<Pt> c;
  for (int k = 0; k < 2; ++k)
    for (Pt p : {Pt{0, 0, 0}, Pt{1, 0, 0}, Pt{1, 1, 0}, Pt{0, 1, 0}})
      c.push_back({o[0] + p[0], o[1] + p[1], o[2] + p[2] + k});
  return c;
}

std::vector<Element> hex8(const Pt& o) { return {corners(o)}; }

std::vector<Element> hex20(const Pt& o) {
  Element e = corners(o);
  static constexpr int edges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                       {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
  const Element c = e;
  for (const auto& ed : edges) e.push_back(mid(c[ed[0]], c[ed[1]]));
  return {e};
}

// Six tetrahedra around the diagonal 0-6 (all positively oriented).
std::vector<Element> tet4(const Pt& o) {
  const auto c = corners(o);
  static constexpr int tets[6][4] = {{0, 1, 2, 6}, {0, 2, 3, 6}, {0, 3, 7, 6},
                                     {0, 7, 4, 6}, {0, 4, 5, 6}, {0, 5, 1, 6}};
  std::vector<Element> out;
  for (const auto& t : tets) out.push_back({c[t[0]], c[t[1]], c[t[2]], c[t[3]]});
  return out;
}

std::vector<Element> tet10(const Pt& o) {
  auto out = tet4(o);
  static constexpr int edges[6][2] = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
  for (Element& e : out) {
    const Element c = e;
    for (const auto& ed : edges) e.push_back(mid(c[ed[0]], c[ed[1]]));
  }
  return out;
}

// Two wedges: the bottom face cut along its diagonal 0-2, extruded in z.
std::vector<Element> wedge(const Pt& o, bool quadratic) {
  const auto c = corners(o);
  std::vector<Element> out;
  for (const auto& t : {std::array<int, 3>{0, 1, 2}, std::array<int, 3>{0, 2, 3}}) {
    Element e = {c[t[0]], c[t[1]], c[t[2]], c[t[0] + 4], c[t[1] + 4], c[t[2] + 4]};
    if (quadratic) {
      const Element v = e;
      for (const auto& ed : {std::array<int, 2>{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5}, {5, 3}, {0, 3}, {1, 4}, {2, 5}})
        e.push_back(mid(v[ed[0]], v[ed[1]]));
    }
    out.push_back(e);
  }
  return out;
}

ccx::MassProperties integrate(Solid s, const std::vector<Element>& elements) {
  MassAccumulator acc;
  for (const Element& e : elements) {
    std::vector<double> xyz;
    for (const Pt& p : e) xyz.insert(xyz.end(), p.begin(), p.end());
    acc.add(s, xyz.data(), 2.0);
  }
  return acc.result();
}

}  // namespace

TEST(Mass, UnitCubeOfDensityTwoInEveryFamily) {
  struct Case {
    const char* name;
    Solid shape;
    std::vector<Element> (*mesh)(const Pt&);
  };
  const Case cases[] = {
      {"hex8", Solid::Hex8, hex8},
      {"hex20", Solid::Hex20, hex20},
      {"tet4", Solid::Tet4, tet4},
      {"tet10", Solid::Tet10, tet10},
      {"wedge6", Solid::Wedge6, [](const Pt& o) { return wedge(o, false); }},
      {"wedge15", Solid::Wedge15, [](const Pt& o) { return wedge(o, true); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Pt& o : {Pt{0, 0, 0}, Pt{1, 2, -3}}) {
      const auto r = integrate(c.shape, c.mesh(o));
      ASSERT_TRUE(r.valid);
      EXPECT_NEAR(r.mass, 2.0, 1e-12);
      const Pt centre = {o[0] + 0.5, o[1] + 0.5, o[2] + 0.5};
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.center[k], centre[k], 1e-12);
      // About the centre: 2 (1/12 + 1/12) on the diagonal, no products.
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.inertiaCenter[k], 1.0 / 3, 1e-12);
      for (int k = 3; k < 6; ++k) EXPECT_NEAR(r.inertiaCenter[k], 0.0, 1e-12);
      // About the origin: parallel axes, products m x y with the solver's (positive) sign.
      const double m = 2.0;
      const double x = centre[0], y = centre[1], z = centre[2];
      const double expected[6] = {1.0 / 3 + m * (y * y + z * z),
                                  1.0 / 3 + m * (x * x + z * z),
                                  1.0 / 3 + m * (x * x + y * y),
                                  m * x * y,
                                  m * x * z,
                                  m * y * z};
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.inertiaOrigin[k], expected[k], 1e-11) << k;
    }
  }
}

TEST(Mass, ModelsWithoutMassPropertiesGiveMinusOne) {
  auto model = [](const char* type, const char* section, bool density) {
    ccx::InpModel m;
    m.nodeLabels = {1, 2, 3, 4};
    m.coordinates = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    m.elementLabels = {1};
    m.typeNames = {type};
    m.elementTypes = {0};
    m.offsets = {0, 4};
    m.connectivity = {1, 2, 3, 4};
    m.elementSets.push_back({"E", {1}});
    m.elementSetIndex["E"] = 0;
    m.sections.push_back({"E", "M", std::string(section) == "solid"});
    if (density) m.densities["M"] = 6.0;
    return ccx::computeMass(m);
  };
  EXPECT_NEAR(model("C3D4", "solid", true).mass, 1.0, 1e-12);  // volume 1/6, density 6
  EXPECT_FALSE(model("S4", "solid", true).valid);              // no solid family
  EXPECT_FALSE(model("C3D4", "shell", true).valid);            // a shell section
  EXPECT_FALSE(model("C3D4", "solid", false).valid);           // a material without density
  EXPECT_EQ(model("C3D4", "solid", false).mass, -1.0);
}
