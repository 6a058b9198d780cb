// Mass properties of a deck: element types to solid shapes, densities through
// the sections, integration by the writer library's accumulator.
#include "mass.h"

#include <unordered_map>
#include <vector>

namespace ccx {

Solid solidOf(const std::string& t) {
  if (t == "C3D4") return Solid::Tet4;
  if (t == "C3D10" || t == "C3D10T") return Solid::Tet10;
  if (t == "C3D6") return Solid::Wedge6;
  if (t == "C3D15") return Solid::Wedge15;
  if (t == "C3D8" || t == "C3D8R" || t == "C3D8I") return Solid::Hex8;
  if (t == "C3D20" || t == "C3D20R") return Solid::Hex20;
  return Solid::None;
}

MassProperties computeMass(const InpModel& m) {
  // Density per element through its section; elements outside every
  // section, or of a non-solid section, have no mass properties here.
  std::unordered_map<int, double> density;
  for (const InpSection& s : m.sections) {
    const InpSet* set = m.findElementSet(s.elset);
    auto rho = m.densities.find(s.material);
    for (int e : set ? set->labels : std::vector<int>{}) {
      if (!s.solid || rho == m.densities.end()) return {};
      density[e] = rho->second;
    }
  }
  std::unordered_map<int, std::size_t> nodeIndex;
  for (std::size_t i = 0; i < m.nodeLabels.size(); ++i) nodeIndex[m.nodeLabels[i]] = i;
  MassAccumulator acc;
  double xyz[60];
  for (std::size_t e = 0; e < m.elementLabels.size(); ++e) {
    const Solid shape = solidOf(m.typeNames[static_cast<std::size_t>(m.elementTypes[e])]);
    const auto rho = density.find(m.elementLabels[e]);
    const std::int64_t first = m.offsets[e], count = m.offsets[e + 1] - first;
    if (shape == Solid::None || rho == density.end() || count != nodesOf(shape)) return {};
    for (std::int64_t i = 0; i < count; ++i) {
      const auto node = nodeIndex.find(m.connectivity[static_cast<std::size_t>(first + i)]);
      if (node == nodeIndex.end()) return {};
      for (int k = 0; k < 3; ++k) xyz[3 * i + k] = m.coordinates[3 * node->second + static_cast<std::size_t>(k)];
    }
    acc.add(shape, xyz, rho->second);
  }
  if (m.elementLabels.empty()) return {};
  return acc.result();
}

}  // namespace ccx
