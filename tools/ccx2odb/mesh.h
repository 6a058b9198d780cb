// The mesh the database holds: the .frd's nodes and elements (the mesh the
// results refer to), or the deck's when there is no .frd. Connectivity is in
// the deck's node order.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "frd.h"
#include "inp.h"

namespace ccx {

struct Mesh {
  std::vector<int> nodeLabels;
  std::vector<double> coordinates;
  std::vector<int> elementLabels;
  std::vector<int> elementTypes;  // .frd type numbers (0 when taken from a deck)
  std::vector<std::int64_t> offsets{0};
  std::vector<int> connectivity;
  // Elements grouped by type, in order of first appearance: one ELEMENT_NODAL block each.
  std::vector<std::vector<std::size_t>> groups;

  void fromFrd(FrdNodes&& nodes, FrdElements&& elements);
  void fromFrdNodes(FrdNodes&& nodes);
  void fromFrdElements(FrdElements&& elements);
  void fromInp(const InpModel& model);
  void makeGroups();
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
