// Mesh conversion from the .frd and the deck, element grouping and the node
// row index used to spread nodal tensors over elements.
#include "mesh.h"

#include <algorithm>

namespace ccx {

// The .frd writes the 20-node brick as deck nodes 1-12, 17-20, 13-16 and
// the 15-node wedge as 1-9, 13-15, 10-12; put them back in deck order.
static void toDeckOrder(int type, int* nodes) {
  if (type == 4) {
    int tmp[4];
    std::copy(nodes + 12, nodes + 16, tmp);
    std::copy(nodes + 16, nodes + 20, nodes + 12);
    std::copy(tmp, tmp + 4, nodes + 16);
  } else if (type == 5) {
    int tmp[3];
    std::copy(nodes + 9, nodes + 12, tmp);
    std::copy(nodes + 12, nodes + 15, nodes + 9);
    std::copy(tmp, tmp + 3, nodes + 12);
  }
}

void Mesh::fromFrdNodes(FrdNodes&& nodes) {
  nodeLabels = std::move(nodes.labels);
  coordinates = std::move(nodes.coordinates);
}

void Mesh::fromFrdElements(FrdElements&& e) {
  elementLabels = std::move(e.labels);
  elementTypes = std::move(e.types);
  offsets = std::move(e.offsets);
  connectivity = std::move(e.connectivity);
  for (std::size_t i = 0; i < elementLabels.size(); ++i) toDeckOrder(elementTypes[i], connectivity.data() + offsets[i]);
  makeGroups();
}

void Mesh::fromFrd(FrdNodes&& nodes, FrdElements&& elements) {
  fromFrdNodes(std::move(nodes));
  fromFrdElements(std::move(elements));
}

void Mesh::fromInp(const InpModel& m) {
  nodeLabels = m.nodeLabels;
  coordinates = m.coordinates;
  elementLabels = m.elementLabels;
  elementTypes.assign(m.elementTypes.begin(), m.elementTypes.end());
  for (int& t : elementTypes) t += 100;  // deck type indices, kept apart from .frd numbers
  offsets = m.offsets;
  connectivity = m.connectivity;
  makeGroups();
}

void Mesh::makeGroups() {
  groups.clear();
  std::vector<std::pair<int, std::size_t>> seen;  // type -> group
  for (std::size_t i = 0; i < elementLabels.size(); ++i) {
    auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& p) { return p.first == elementTypes[i]; });
    if (it == seen.end()) {
      seen.emplace_back(elementTypes[i], groups.size());
      groups.emplace_back();
      it = seen.end() - 1;
    }
    groups[it->second].push_back(i);
  }
}

void NodeRows::reset(const std::vector<int>& labels) {
  for (int u : used_) rows_[static_cast<std::size_t>(u)] = -1;
  used_.clear();
  map_.clear();
  int maxLabel = 0;
  for (int l : labels) maxLabel = std::max(maxLabel, l);
  // Dense lookup unless the labels are very sparse.
  dense_ = static_cast<std::size_t>(maxLabel) <= 8 * labels.size() + (1u << 20);
  if (!dense_) {
    for (std::size_t i = 0; i < labels.size(); ++i) map_.emplace(labels[i], static_cast<int>(i));
    return;
  }
  if (rows_.size() <= static_cast<std::size_t>(maxLabel)) rows_.resize(static_cast<std::size_t>(maxLabel) + 1, -1);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] < 0) continue;
    rows_[static_cast<std::size_t>(labels[i])] = static_cast<int>(i);
    used_.push_back(labels[i]);
  }
}

}  // namespace ccx
