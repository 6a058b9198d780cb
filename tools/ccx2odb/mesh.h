// The mesh the database holds: the .frd's nodes and elements (the mesh the
// results refer to), or the deck's when there is no .frd. Connectivity is in
// the deck's node order.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "frd.h"
#include "inp.h"

namespace ccx {

// A set of labels: a bit per label for the usual small ones, a hash set
// for the rest.
class LabelSet {
 public:
  void insert(int label);
  bool contains(int label) const {
    if (label >= 0 && label < kDense) return static_cast<std::size_t>(label) < bits_.size() && bits_[static_cast<std::size_t>(label)];
    return rest_.count(label) > 0;
  }

 private:
  static constexpr int kDense = 1 << 26;
  std::vector<bool> bits_;
  std::unordered_set<int> rest_;
};

struct Mesh {
  std::vector<int> nodeLabels;
  std::vector<double> coordinates;
  std::vector<int> elementLabels;
  std::vector<int> elementTypes;  // .frd type numbers (0 when taken from a deck)
  std::vector<std::int64_t> offsets{0};
  std::vector<int> connectivity;
  // Elements grouped by type, in order of first appearance: one ELEMENT_NODAL block each.
  std::vector<std::vector<std::size_t>> groups;

  // Adds the nodes and elements of a .frd block that the mesh lacks (the
  // first block, and those written after a model change).
  void mergeNodes(FrdNodes&& nodes);
  void mergeElements(FrdElements&& elements);
  void fromInp(const InpModel& model);
  void addNode(int label, std::span<const double, 3> xyz);
  void addElement(int label, int deckType, std::span<const int> nodes);  // an element of the deck
  void makeGroups();
  bool hasNode(int label) const { return nodeSet_.contains(label); }
  bool hasElement(int label) const { return elementSet_.contains(label); }

 private:
  LabelSet nodeSet_, elementSet_;
};

// Row of a node label within one result block; reused block after block.
class NodeRows {
 public:
  void reset(const std::vector<int>& labels);
  int row(int label) const {
    if (dense_)
      return label >= 0 && static_cast<std::size_t>(label) < rows_.size() ? rows_[static_cast<std::size_t>(label)] : -1;
    auto it = map_.find(label);
    return it == map_.end() ? -1 : it->second;
  }

 private:
  bool dense_ = true;
  std::vector<int> rows_;
  std::vector<int> used_;
  std::unordered_map<int, int> map_;
};

}  // namespace ccx
