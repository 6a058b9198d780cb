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

void LabelSet::insert(int label) {
  if (label < 0 || label >= kDense) {
    rest_.insert(label);
    return;
  }
  const auto at = static_cast<std::size_t>(label);
  if (at >= bits_.size()) bits_.resize(std::max(at + 1, 2 * bits_.size()));
  bits_[at] = true;
}

void Mesh::mergeNodes(FrdNodes&& nodes) {
  if (nodeLabels.empty()) {
    nodeLabels = std::move(nodes.labels);
    coordinates = std::move(nodes.coordinates);
    for (int n : nodeLabels) nodeSet_.insert(n);
    return;
  }
  for (std::size_t i = 0; i < nodes.labels.size(); ++i)
    if (!hasNode(nodes.labels[i])) addNode(nodes.labels[i], std::span<const double, 3>(&nodes.coordinates[3 * i], 3));
}

void Mesh::mergeElements(FrdElements&& e) {
  const bool first = elementLabels.empty();
  for (std::size_t i = 0; i < e.labels.size(); ++i) {
    if (!first && hasElement(e.labels[i])) continue;
    elementSet_.insert(e.labels[i]);
    elementLabels.push_back(e.labels[i]);
    elementTypes.push_back(e.types[i]);
    const auto at = connectivity.size();
    connectivity.insert(connectivity.end(), e.connectivity.begin() + e.offsets[i], e.connectivity.begin() + e.offsets[i + 1]);
    offsets.push_back(static_cast<std::int64_t>(connectivity.size()));
    toDeckOrder(e.types[i], connectivity.data() + at);
  }
  makeGroups();
}

void Mesh::addNode(int label, std::span<const double, 3> xyz) {
  nodeSet_.insert(label);
  nodeLabels.push_back(label);
  coordinates.insert(coordinates.end(), xyz.begin(), xyz.end());
}

void Mesh::addElement(int label, int deckType, std::span<const int> nodes) {
  elementSet_.insert(label);
  elementLabels.push_back(label);
  elementTypes.push_back(100 + deckType);  // deck type indices, kept apart from .frd numbers
  connectivity.insert(connectivity.end(), nodes.begin(), nodes.end());
  offsets.push_back(static_cast<std::int64_t>(connectivity.size()));
}

void Mesh::fromInp(const InpModel& m) {
  nodeLabels = m.nodeLabels;
  coordinates = m.coordinates;
  elementLabels = m.elementLabels;
  elementTypes.assign(m.elementTypes.begin(), m.elementTypes.end());
  for (int& t : elementTypes) t += 100;  // deck type indices, kept apart from .frd numbers
  offsets = m.offsets;
  connectivity = m.connectivity;
  for (int n : nodeLabels) nodeSet_.insert(n);
  for (int e : elementLabels) elementSet_.insert(e);
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
