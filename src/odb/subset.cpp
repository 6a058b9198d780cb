// Subsets of a field output on a set (docs/format.md §6 "Subsets"), with the
// membership index cached per (set, instance) in the database's context.
// No globals.
#include <algorithm>
#include <climits>

#include "odb/impl.h"

namespace odb_detail {

LabelIndex::LabelIndex(std::vector<int> labels) {
  if (labels.empty()) return;
  empty_ = false;
  const auto [mn, mx] = std::minmax_element(labels.begin(), labels.end());
  lo_ = *mn;
  const long long span = static_cast<long long>(*mx) - lo_ + 1;
  // A bitmap costs a byte per label of the range; take it when the labels fill it well.
  if (span <= 8 * static_cast<long long>(labels.size()) + 64) {
    bits_.assign(static_cast<std::size_t>(span), 0);
    for (int l : labels) bits_[static_cast<std::size_t>(l - lo_)] = 1;
    return;
  }
  std::sort(labels.begin(), labels.end());
  labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
  sorted_ = std::move(labels);
}

bool LabelIndex::contains(int label) const {
  if (!bits_.empty()) {
    const long long at = static_cast<long long>(label) - lo_;
    return at >= 0 && at < static_cast<long long>(bits_.size()) && bits_[static_cast<std::size_t>(at)] != 0;
  }
  return std::binary_search(sorted_.begin(), sorted_.end(), label);
}

static const std::vector<int>* membersIn(const SetImpl& set, const std::string& instance) {
  for (const auto& m : set.members())
    if (m.first == instance) return &m.second;
  return nullptr;
}

// The nodes of the set's elements in the instance, through its
// connectivity; each node once when their labels are dense enough to mark.
static std::vector<int> nodesOfElements(const FileCtx& ctx, const std::vector<int>& elements,
                                        const std::string& instance) {
  const std::string path = "/assembly/instances/" + instance;
  if (childKind(ctx.fileId(path), path, ctx.at(path)) != Kind::Group) return {};
  // The connectivity is read in pieces, twice, and never held whole: a set
  // of every element of a large model would hold it next to the field.
  std::optional<Dataset> conn;
  const Mesh mesh = readElementsButConnectivity(ctx, path, conn);
  if (mesh.offsets.empty() || !conn) return {};  // no connectivity, no nodes
  const Where w = ctx.at(path);
  const auto entries = static_cast<std::size_t>(mesh.offsets.back());
  checkedCount(*conn, w, ctx.bytes);  // as the whole read checks it
  const LabelIndex wanted(elements);
  auto forEachNode = [&](auto&& f) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    std::vector<int> piece(std::min(kPiece, entries));
    std::size_t e = 0;
    for (std::size_t first = 0; first < entries; first += kPiece) {
      const std::size_t n = std::min(kPiece, entries - first);
      readIntRows(*conn, w, first, n, piece.data());
      for (std::size_t i = 0; i < n; ++i) {
        while (static_cast<std::size_t>(mesh.offsets[e + 1]) <= first + i) ++e;
        if (wanted.contains(mesh.labels[e])) f(piece[i]);
      }
    }
  };
  long long lo = LLONG_MAX, hi = LLONG_MIN, total = 0;
  forEachNode([&](int n) {
    lo = std::min<long long>(lo, n);
    hi = std::max<long long>(hi, n);
    ++total;
  });
  std::vector<int> nodes;
  if (total == 0) return nodes;
  if (hi - lo < 8 * total + 64) {
    std::vector<unsigned char> seen(static_cast<std::size_t>(hi - lo + 1), 0);
    forEachNode([&](int n) { seen[static_cast<std::size_t>(n - lo)] = 1; });
    for (std::size_t i = 0; i < seen.size(); ++i)
      if (seen[i]) nodes.push_back(static_cast<int>(lo + static_cast<long long>(i)));
  } else {
    nodes.reserve(static_cast<std::size_t>(total));
    forEachNode([&](int n) { nodes.push_back(n); });
  }
  return nodes;
}

static const LabelIndex& memberIndex(FileCtx& ctx, const SetImpl& set, const std::string& instance,
                                     bool throughConnectivity) {
  const FileCtx::MemberKey key{&set, instance, throughConnectivity};
  auto it = ctx.members.find(key);
  if (it != ctx.members.end()) return *it->second.second;
  const std::vector<int>& labels = *membersIn(set, instance);
  auto index = std::make_shared<const LabelIndex>(throughConnectivity ? nodesOfElements(ctx, labels, instance)
                                                                      : labels);
  ctx.members.emplace(key, std::make_pair(set.shared_from_this(), index));
  return *index;
}

// A block holding the given rows of b, in their order.
static std::shared_ptr<const BlockData> pickRows(const std::shared_ptr<const BlockData>& src,
                                                 const std::vector<int>& rows) {
  const BlockData& b = src->labels();
  auto out = blockLike(b);
  out->length = static_cast<int>(rows.size());
  // The values are picked on first use, from the whole block.
  out->source = src;
  out->rows = rows;
  auto labels = [&](const Buffer<int>& from, Buffer<int>& to) {
    if (from.empty()) return;
    for (int r : rows) to.push_back(from[static_cast<std::size_t>(r)]);
  };
  labels(b.nodeLabels, out->nodeLabels);
  labels(b.elementLabels, out->elementLabels);
  labels(b.integrationPoints, out->integrationPoints);
  if (!out->elementLabels.empty()) {
    std::vector<int> distinct(out->elementLabels.begin(), out->elementLabels.end());
    std::sort(distinct.begin(), distinct.end());
    out->numberOfElements = static_cast<int>(std::unique(distinct.begin(), distinct.end()) - distinct.begin());
  }
  return out;
}

// The rows of b on the set: none when the set does not reach the block, and
// `all` with no list when every row is on it (a set of the whole model
// lists no row).
struct RowsOnSet {
  bool all = false;
  std::vector<int> rows;
};
// Label arrays from this size on that the block has not read yet are read in
// pieces to find its rows on a set, and not kept: a set of the whole model
// then shares the block without making it hold its labels.
constexpr std::size_t kPiecedLabels = std::size_t{32} << 20;

// Calls f(row, label) for the element or node label of every row of b, in
// order: from the block's arrays, read whole as before, or, for a large
// array still in the file, in pieces through a reader, which checks what the
// whole read checks (the element count included).
template <class F>
static void forEachLabel(const std::shared_ptr<const BlockData>& src, bool elementLabels, F&& f) {
  const BlockData& b = *src;
  const bool held = elementLabels ? b.haveElementLabels : b.haveLabels;
  if (held || static_cast<std::size_t>(b.length) * sizeof(int) < kPiecedLabels) {
    const Buffer<int>& labels = elementLabels ? b.elementLabelsRead().elementLabels : b.labels().nodeLabels;
    for (int r = 0; r < b.length; ++r) f(r, labels[static_cast<std::size_t>(r)]);
    return;
  }
  odb_BlockReader reader{odb_FieldBulkData(src)};
  const int piece = 1 << 20;
  std::vector<int> labels(static_cast<std::size_t>(std::min(piece, b.length)));
  for (int first = 0; first < b.length; first += piece) {
    const int n = std::min(piece, b.length - first);
    if (elementLabels) reader.readElementLabels(first, n, labels.data());
    else reader.readNodeLabels(first, n, labels.data());
    for (int i = 0; i < n; ++i) f(first + i, labels[static_cast<std::size_t>(i)]);
  }
  reader.numberOfElements();
}

static RowsOnSet rowsOnSet(FileCtx& ctx, const std::shared_ptr<const BlockData>& src, const SetImpl& set) {
  const BlockData& b = *src;
  if (set.partSet || !membersIn(set, b.instance.str())) return {};
  const bool elementSet = set.type == odb_Enum::ELEMENT_SET;
  const bool byElement = elementSet && b.isElementBlock();
  if (!elementSet && b.position != odb_Enum::NODAL && b.position != odb_Enum::ELEMENT_NODAL) return {};
  const LabelIndex& index = memberIndex(ctx, set, b.instance.str(), elementSet && !byElement);
  RowsOnSet on;
  if (index.empty()) return on;
  int missing = -1;  // the first row not on the set; the list starts there
  forEachLabel(src, byElement, [&](int r, int label) {
    const bool member = index.contains(label);
    if (missing < 0 && !member) {
      missing = r;
      on.rows.resize(static_cast<std::size_t>(r));
      for (int k = 0; k < r; ++k) on.rows[static_cast<std::size_t>(k)] = k;
    } else if (missing >= 0 && member) {
      on.rows.push_back(r);
    }
  });
  on.all = missing < 0;
  return on;
}

}  // namespace odb_detail

using namespace odb_detail;

odb_FieldOutput odb_FieldOutput::getSubset(const odb_Set& set) const {
  if (!impl_) return odb_FieldOutput();
  impl_->load();
  auto out = std::make_shared<FieldOutputImpl>();
  out->ctx = impl_->ctx;
  out->path = impl_->path;
  out->name = impl_->name;
  out->description = impl_->description;
  out->type = impl_->type;
  out->isComplex = impl_->isComplex;
  out->componentLabels = impl_->componentLabels;
  out->validInvariants = impl_->validInvariants;
  out->shape = impl_->shape;
  std::vector<std::shared_ptr<const BlockData>> blocks;
  if (const SetImpl* s = set.impl()) {
    for (const std::shared_ptr<const BlockData>& b : impl_->blocks) {
      const RowsOnSet on = rowsOnSet(*impl_->ctx, b, *s);
      // A block wholly on the set is shared, not copied; empty blocks are dropped.
      if (on.all) blocks.push_back(b);
      else if (!on.rows.empty()) blocks.push_back(pickRows(b, on.rows));
    }
  }
  out->adopt(std::move(blocks));
  return odb_FieldOutput(out);
}
