// Subsets of a field output on a set (docs/format.md §6 "Subsets"), with the
// membership index cached per (set, instance) in the database's context.
// No globals.
#include <algorithm>
#include <climits>

#include "odb/impl.h"

namespace odb_detail {

LabelIndex::LabelIndex(const std::vector<int>& labels) {
  if (labels.empty()) return;
  const auto [mn, mx] = std::minmax_element(labels.begin(), labels.end());
  if (dense(*mn, *mx, labels.size())) {
    *this = LabelIndex(*mn, *mx);
    for (int l : labels) mark(l);
    return;
  }
  empty_ = false;
  sorted_ = labels;
  std::sort(sorted_.begin(), sorted_.end());
  sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
}

LabelIndex::LabelIndex(long long lo, long long hi) : lo_(lo), span_(hi - lo + 1) {
  bits_.assign(static_cast<std::size_t>((span_ + 63) / 64), 0);
}

bool LabelIndex::contains(int label) const {
  if (span_ > 0) {
    const long long at = static_cast<long long>(label) - lo_;
    return at >= 0 && at < span_ && (bits_[static_cast<std::size_t>(at / 64)] >> (at % 64) & 1) != 0;
  }
  return std::binary_search(sorted_.begin(), sorted_.end(), label);
}

// Rows [first, first + n) of an integer array as 64-bit integers, each
// value checked to fit as the whole read checks it.
static void readInt64Rows(const Dataset& d, const Where& w, std::size_t first, std::size_t n, std::int64_t* out) {
  if (d.isSigned || d.typeSize < 8) {
    readRows(d, w, H5T_NATIVE_INT64, first, n, out);
    return;
  }
  std::vector<unsigned long long> wide(n);
  readRows(d, w, H5T_NATIVE_ULLONG, first, n, wide.data());
  for (std::size_t i = 0; i < n; ++i) {
    if (wide[i] > static_cast<unsigned long long>(LLONG_MAX))
      odbFail(w, d.name + " holds " + std::to_string(wide[i]) + " at entry " + std::to_string(first + i) +
                     ", which does not fit 64 bits");
    out[i] = static_cast<std::int64_t>(wide[i]);
  }
}

namespace {
// An instance's elements read in pieces: their labels and offsets, checked
// as readElementsButConnectivity checks them before the connectivity is
// read, and the connectivity itself. Never holds more than a piece of each.
class ElementPieces {
 public:
  static constexpr std::size_t kPiece = std::size_t{1} << 18;  // elements, or connectivity entries

  ElementPieces(const FileCtx& ctx, const std::string& path) : w_(ctx.at(path)) {}
  // false: the instance has no elements or no connectivity.
  bool open(const FileCtx& ctx) {
    H5Group g = openGroup(ctx.fileId(w_.path), w_.path, w_);
    labels_ = openOptionalDataset(g.get(), "elements/labels", w_);
    if (!labels_) return false;
    requireIntegerData(*labels_, w_);
    elements_ = checkedCount(*labels_, w_, ctx.bytes);
    offsets_ = openOptionalDataset(g.get(), "elements/offsets", w_);
    if (!offsets_) return false;
    conn_ = openDataset(g.get(), "elements/connectivity", w_);
    requireIntegerData(*conn_, w_);
    checkedCount(*conn_, w_, ctx.bytes);  // as the whole read checks it
    requireIntegerData(*offsets_, w_);
    requireOffsetCount(checkedCount(*offsets_, w_, ctx.bytes), elements_, w_);
    const auto entries = static_cast<std::int64_t>(elementCount(*conn_, w_));
    std::int64_t last = 0;
    forEachOffsets([&](std::size_t first, const std::int64_t* o, std::size_t n) {
      if (first == 0 && o[0] != 0) odbFail(w_, "elements/offsets starts at " + std::to_string(o[0]) + ", expected 0");
      for (std::size_t i = first == 0 ? 1 : 0; i <= n; ++i) {
        if (o[i] < (i == 0 ? last : o[i - 1]))
          odbFail(w_, "elements/offsets decreases at entry " + std::to_string(first + i));
      }
      last = o[n];
    });
    if (last != entries)
      odbFail(w_, "elements/offsets ends at " + std::to_string(last) + ", elements/connectivity has " +
                      std::to_string(entries) + " entries");
    return true;
  }

  // Calls f(node) for each connectivity entry of the elements whose labels
  // `wanted` contains, element by element in order.
  template <class F>
  void forEachNode(const LabelIndex& wanted, F&& f) const {
    std::vector<int> labels(std::min(kPiece, elements_)), nodes;
    std::vector<unsigned char> in(labels.size());
    forEachOffsets([&](std::size_t first, const std::int64_t* o, std::size_t n) {
      readIntRows(*labels_, w_, first, n, labels.data());
      bool any = false;
      for (std::size_t e = 0; e < n; ++e) any |= (in[e] = wanted.contains(labels[e])) != 0;
      if (!any) return;
      std::size_t e = 0;
      for (std::int64_t at = o[0]; at < o[n];) {
        const auto count = static_cast<std::size_t>(std::min<std::int64_t>(o[n] - at, kPiece));
        nodes.resize(count);
        readIntRows(*conn_, w_, static_cast<std::size_t>(at), count, nodes.data());
        for (std::size_t i = 0; i < count; ++i, ++at) {
          while (o[e + 1] <= at) ++e;
          if (in[e]) f(nodes[i]);
        }
      }
    });
  }

 private:
  // Calls f(first, offsets, n) for pieces of n elements from element first:
  // their n + 1 offsets (the last is the next piece's first).
  template <class F>
  void forEachOffsets(F&& f) const {
    std::vector<std::int64_t> o(std::min(kPiece, elements_) + 1);
    for (std::size_t first = 0; first < elements_; first += kPiece) {
      const std::size_t n = std::min(kPiece, elements_ - first);
      readInt64Rows(*offsets_, w_, first, n + 1, o.data());
      f(first, o.data(), n);
    }
  }

  Where w_;
  std::optional<Dataset> labels_, offsets_, conn_;
  std::size_t elements_ = 0;
};
}  // namespace

// The nodes of the set's elements in the instance, through its
// connectivity, read in pieces twice (the range of the nodes, then the
// nodes) and never held whole: a set of every element of a large model
// would hold the mesh next to the field. A bit per node of the range when
// the nodes are dense enough.
static LabelIndex nodesOfElements(const FileCtx& ctx, const std::vector<int>& elements, const std::string& instance) {
  const std::string path = "/assembly/instances/" + instance;
  if (childKind(ctx.fileId(path), path, ctx.at(path)) != Kind::Group) return LabelIndex(std::vector<int>());
  ElementPieces mesh(ctx, path);
  if (!mesh.open(ctx)) return LabelIndex(std::vector<int>());  // no connectivity, no nodes
  const LabelIndex wanted(elements);
  long long lo = LLONG_MAX, hi = LLONG_MIN;
  std::size_t total = 0;
  mesh.forEachNode(wanted, [&](int node) {
    lo = std::min<long long>(lo, node);
    hi = std::max<long long>(hi, node);
    ++total;
  });
  if (total == 0) return LabelIndex(std::vector<int>());
  if (LabelIndex::dense(lo, hi, total)) {
    LabelIndex nodes(lo, hi);
    mesh.forEachNode(wanted, [&](int node) { nodes.mark(node); });
    return nodes;
  }
  std::vector<int> nodes;
  nodes.reserve(total);
  mesh.forEachNode(wanted, [&](int node) { nodes.push_back(node); });
  return LabelIndex(nodes);
}

static const LabelIndex& memberIndex(FileCtx& ctx, const SetImpl& set, const std::string& instance,
                                     bool throughConnectivity) {
  const FileCtx::MemberKey key{&set, instance, throughConnectivity};
  auto it = ctx.members.find(key);
  if (it != ctx.members.end()) return *it->second.second;
  const std::vector<int> labels = set.membersOf(instance);
  auto index = std::make_shared<const LabelIndex>(throughConnectivity ? nodesOfElements(ctx, labels, instance)
                                                                      : LabelIndex(labels));
  ctx.members.emplace(key, std::make_pair(set.shared_from_this(), index));
  return *index;
}

// Label arrays of this many rows and more that the block has not read yet
// are read in pieces to find its rows on a set, and not kept: a set of the
// whole model then shares its blocks without making them hold their labels
// (a field output of many blocks would hold all of them at once).
constexpr int kPiecedLabels = 1 << 16;

// The labels of the rows of a block that has not read its labels, read in
// pieces from row 0 and checked as the whole read checks them.
static void pickLabels(const std::shared_ptr<const BlockData>& src, const std::vector<int>& rows, BlockData& out) {
  odb_BlockReader reader{odb_FieldBulkData(src)};
  const int length = src->length, piece = 1 << 20;
  std::vector<int> labels(static_cast<std::size_t>(std::min(piece, length)));
  using Read = void (odb_BlockReader::*)(int, int, int*);
  auto pick = [&](bool has, Read read, Buffer<int>& to) {
    if (!has) return;
    to.reserve(rows.size());
    std::size_t k = 0;
    for (int first = 0; first < length; first += piece) {
      const int n = std::min(piece, length - first);
      (reader.*read)(first, n, labels.data());
      for (; k < rows.size() && rows[k] < first + n; ++k) to.push_back(labels[static_cast<std::size_t>(rows[k] - first)]);
    }
  };
  pick(reader.hasElementLabels(), &odb_BlockReader::readElementLabels, out.elementLabels);
  reader.numberOfElements();
  pick(reader.hasNodeLabels(), &odb_BlockReader::readNodeLabels, out.nodeLabels);
  pick(reader.hasIntegrationPoints(), &odb_BlockReader::readIntegrationPoints, out.integrationPoints);
}

// A block holding the given rows of b, in their order.
static std::shared_ptr<const BlockData> pickRows(const std::shared_ptr<const BlockData>& src,
                                                 const std::vector<int>& rows) {
  auto out = blockLike(*src);
  out->length = static_cast<int>(rows.size());
  // The values are picked on first use.
  out->source = src;
  out->rows = rows;
  if (src->haveLabels || src->length < kPiecedLabels) {
    const BlockData& b = src->labels();
    auto labels = [&](const Buffer<int>& from, Buffer<int>& to) {
      if (from.empty()) return;
      for (int r : rows) to.push_back(from[static_cast<std::size_t>(r)]);
    };
    labels(b.nodeLabels, out->nodeLabels);
    labels(b.elementLabels, out->elementLabels);
    labels(b.integrationPoints, out->integrationPoints);
  } else {
    pickLabels(src, rows, *out);
  }
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
// Calls f(row, label) for the element or node label of every row of b, in
// order: from the block's arrays, read whole as before, or, for a large
// array still in the file, in pieces through a reader, which checks what the
// whole read checks (the element count included).
template <class F>
static void forEachLabel(const std::shared_ptr<const BlockData>& src, bool elementLabels, F&& f) {
  const BlockData& b = *src;
  const bool held = elementLabels ? b.haveElementLabels : b.haveLabels;
  if (held || b.length < kPiecedLabels) {
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
  if (set.partSet || !set.hasInstance(b.instance.str())) return {};
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
