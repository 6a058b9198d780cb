// Blocks of a field output (docs/format.md §6 "Blocks"): reading and
// checking one block, and the odb_FieldBulkData handle. No globals.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>

#include "odb/derived.h"
#include "odb/impl.h"
#include "odb/vocabulary.h"

namespace odb_detail {

static odb_Enum::odb_ResultPositionEnum parsePosition(const std::string& p, const Where& w) {
  if (const auto position = odb_vocab::positionFromName(p)) return *position;
  std::string names;
  for (std::size_t i = 0; i < odb_vocab::kPositionNames.size(); ++i)
    names += std::string(i == 0 ? "" : i + 1 == odb_vocab::kPositionNames.size() ? " or " : ", ") +
             std::string(odb_vocab::kPositionNames[i]);
  odbFail(w, "position is '" + p + "', expected " + names);
}

// Reads a label array that must have one entry per row of data.
static Buffer<int> readLabels(hid_t block, const char* name, int rows, const Where& w, const FileCtx& ctx) {
  Dataset d = openDataset(block, name, w);
  requireRank(d, 1, w);
  if (d.dims[0] != static_cast<hsize_t>(rows))
    odbFail(w, std::string(name) + " has " + std::to_string(d.dims[0]) + " entries, data has " +
                   std::to_string(rows) + " rows");
  return readIntBuffer(d, w, ctx.bytes, ctx.pool);
}

bool ElementCounter::seenBefore(int label) const {
  const auto it = std::upper_bound(ranges_.begin(), ranges_.end(), std::pair(label, INT_MAX));
  return it != ranges_.begin() && std::prev(it)->second >= label;
}

// Labels after the first step down: each element must be new.
void ElementCounter::startUnordered(int label) {
  if (seenBefore(label) || !seen_.insert(label).second)
    odbFail(w_, "the values of element " + std::to_string(label) + " do not stand together");
}

void ElementCounter::failCount() const {
  odbFail(w_, "element " + std::to_string(label_) + " has " + std::to_string(values_) + " values, element " +
                  std::to_string(first_) + " has " + std::to_string(perElement_));
}

// The two steps of every element, kept small so that add() takes them in line.
inline void ElementCounter::startElement(int label) {
  if (ascending_ && count_ > 0 && label <= label_) ascending_ = false;
  if (!ascending_) startUnordered(label);
  else if (!ranges_.empty() && ranges_.back().second + 1LL == label) ranges_.back().second = label;
  else ranges_.emplace_back(label, label);
  open_ = true;
  label_ = label;
  values_ = 0;
}

inline void ElementCounter::endElement() {
  if (count_ == 0) {
    perElement_ = values_;
    first_ = label_;
  } else if (values_ != perElement_) {
    failCount();
  }
  ++count_;
  open_ = false;
}

// Whether each of labels[0..count) is the label p before it plus one: an
// OR of differences over the run, which the compiler vectorises (AVX-512's
// sixteen labels at a time where the processor has it).
__attribute__((always_inline)) inline bool stepsByOne(const int* labels, std::size_t p, std::size_t count) {
  unsigned off = 0;
  for (std::size_t j = 0; j < count; ++j)
    off |= static_cast<unsigned>(labels[j + p]) ^ (static_cast<unsigned>(labels[j]) + 1u);
  return off == 0;
}

#if defined(__x86_64__)
__attribute__((target("avx512f"))) static bool stepsByOneAvx512(const int* labels, std::size_t p, std::size_t count) {
  return stepsByOne(labels, p, count);
}
#endif

// stepsByOne in the widest vectors the processor has.
static bool stepsByOneWidest(const int* labels, std::size_t p, std::size_t count) {
#if defined(__x86_64__)
  static const bool wide = __builtin_cpu_supports("avx512f");  // a fact of the processor
  if (wide) return stepsByOneAvx512(labels, p, count);
#endif
  return stepsByOne(labels, p, count);
}

// Whole elements of perElement_ values each, labelled one above another
// from the open element's on, taken at once: the common layout, where the
// element-by-element steps below cost more than reading the labels. Returns
// the values taken. Group g must hold base + g; it holds group g - 1's labels
// plus one, checked a run of values at a time, which vectorises.
std::size_t ElementCounter::wholeElements(const int* labels, std::size_t n) {
  const std::size_t p = perElement_;
  if (!ascending_ || count_ == 0 || !open_ || values_ != p || p == 0) return 0;
  const std::int64_t base = std::int64_t{label_} + 1;
  // Labels stay within int: no group is checked past INT_MAX.
  const std::size_t whole = static_cast<std::size_t>(std::min<std::int64_t>(
      static_cast<std::int64_t>(n / p), std::int64_t{INT_MAX} - base + 1));
  auto holds = [&](std::size_t g) {
    for (std::size_t r = 0; r < p; ++r)
      if (labels[g * p + r] != base + static_cast<std::int64_t>(g)) return false;
    return true;
  };
  if (whole == 0 || !holds(0)) return 0;
  std::size_t m = 1;
  const std::size_t run = std::max<std::size_t>(1, 1024 / p);  // groups checked at once
  while (m < whole) {
    const std::size_t groups = std::min(whole - m, run);
    if (!stepsByOneWidest(labels + (m - 1) * p, p, groups * p)) break;
    m += groups;
  }
  while (m < whole && holds(m)) ++m;
  count_ += static_cast<int>(m);
  label_ = static_cast<int>(base + static_cast<std::int64_t>(m) - 1);
  ranges_.back().second = label_;
  return m * p;
}

void ElementCounter::add(const int* labels, std::size_t n) {
  for (std::size_t i = 0; i < n;) {
    i += wholeElements(labels + i, n - i);
    if (i == n) break;
    if (!open_ || labels[i] != label_) {
      if (open_) endElement();
      startElement(labels[i]);
    }
    const int label = label_;
    std::size_t j = i;
    while (j < n && labels[j] == label) ++j;
    values_ += j - i;
    i = j;
  }
}

int ElementCounter::finish() {
  if (open_) endElement();
  return count_;
}

// Reads the block's attributes and the shape of data into b; returns data.
static Dataset readBlockHeader(hid_t g, const Where& w, int labelCount, BlockData& b) {
  b.instance = readStringAttribute(g, "instance", w).value_or("");
  const auto position = readStringAttribute(g, "position", w);
  if (!position) odbFail(w, "position is missing");
  b.position = parsePosition(*position, w);
  b.sectionPoint = readInt32Attribute(g, "sectionPoint", w, 0);
  Dataset data = openDataset(g, "data", w);
  if (data.dims.size() != 1 && data.dims.size() != 2)
    odbFail(w, "data has rank " + std::to_string(data.dims.size()) + ", expected 1 or 2");
  b.precision = floatPrecision(data, w);
  elementCount(data, w);  // rows x width fits an int
  b.length = static_cast<int>(data.dims[0]);
  b.width = data.dims.size() == 2 ? static_cast<int>(data.dims[1]) : 1;
  const int expected = labelCount == 0 ? 1 : labelCount;
  if (b.width != expected && labelCount == 0)
    odbFail(w, "data has " + std::to_string(b.width) + " columns, expected 1 for a field without component labels");
  if (b.width != expected)
    odbFail(w, "data has " + std::to_string(b.width) + " columns, the field has " + std::to_string(labelCount) +
                   " component labels");
  return data;
}

std::shared_ptr<const BlockData> readBlock(const FieldOutputImpl& field, hid_t blocksGroup, int index) {
  const FileCtx& ctx = *field.ctx;
  const Where w = ctx.at(field.path + "/blocks/" + std::to_string(index));
  H5Group g = openGroup(blocksGroup, std::to_string(index), w);
  auto b = std::make_shared<BlockData>();
  b->shape = field.shape;
  b->type = field.type;
  Dataset data = readBlockHeader(g.get(), w, field.componentLabels.size(), *b);
  // An empty block is left out; writers may omit its (empty) label arrays.
  if (b->length == 0) return nullptr;
  // The values and the labels are read on first use: a run that only lists
  // names reads neither.
  b->count = checkedCount(data, w, ctx.bytes);
  b->ctx = field.ctx;
  b->usePool(ctx.pool);
  b->path = w.path;
  b->pending = std::move(data);
  b->group = std::move(g);
  b->haveElementLabels = b->haveLabels = false;
  return b;
}

void BlockData::loadElementLabels() const {
  const Where w = ctx->at(path);
  ctx->fileId(path);  // fails once the database is closed
  if (isElementBlock()) {
    elementLabels = readLabels(group.get(), "elementLabels", length, w, *ctx);
    ElementCounter counter(w);
    counter.add(elementLabels.data(), elementLabels.size());
    numberOfElements = counter.finish();
  }
  haveElementLabels = true;
}

void BlockData::loadLabels() const {
  elementLabelsRead();
  const Where w = ctx->at(path);
  ctx->fileId(path);
  // docs/format.md §6: the label arrays each position requires.
  if (position == odb_Enum::NODAL || position == odb_Enum::ELEMENT_NODAL)
    nodeLabels = readLabels(group.get(), "nodeLabels", length, w, *ctx);
  if (position == odb_Enum::INTEGRATION_POINT) {
    integrationPoints = readLabels(group.get(), "integrationPoints", length, w, *ctx);
    for (std::size_t i = 0; i < integrationPoints.size(); ++i)
      if (integrationPoints[i] < 1)
        odbFail(w, "integrationPoints holds " + std::to_string(integrationPoints[i]) + " at entry " +
                       std::to_string(i) + ", expected 1 or more");
  }
  haveLabels = true;
  group.reset();
}

// The values of the given rows (ascending) of a block whose values are
// still in the file, read in spans of about 8 MiB of the block: a subset
// holds its own rows and leaves the block unread.
template <class T>
static void pickFromFile(const std::shared_ptr<const BlockData>& source, const std::vector<int>& rows, int width,
                         Buffer<T>& to) {
  odb_BlockReader reader{odb_FieldBulkData(source)};
  const int span = std::max(1, reader.pieceRows());
  const auto w = static_cast<std::size_t>(width);
  to.resize(rows.size() * w);
  std::vector<T> piece;
  auto at = to.begin();
  for (std::size_t i = 0; i < rows.size();) {
    const int lo = rows[i];
    std::size_t j = i;
    while (j < rows.size() && rows[j] - lo < span) ++j;
    const int n = rows[j - 1] - lo + 1;
    piece.resize(static_cast<std::size_t>(n) * w);
    reader.read(lo, n, piece.data());
    for (; i < j; ++i) at = std::copy_n(piece.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(rows[i] - lo) * w), w, at);
  }
}

void BlockData::load() const {
  if (source && source->pending) {
    if (precision == 0) pickFromFile(source, rows, width, floatValues);
    else pickFromFile(source, rows, width, doubleValues);
    source.reset();
    rows = std::vector<int>();
  } else if (source) {
    source->need();
    const auto w = static_cast<std::size_t>(width);
    auto pick = [&](const auto& from, auto& to) {
      to.resize(rows.size() * w);
      auto at = to.begin();
      for (int r : rows) at = std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(r * w), w, at);
    };
    if (precision == 0) pick(source->floatValues, floatValues);
    else pick(source->doubleValues, doubleValues);
    source.reset();
    rows = std::vector<int>();
  } else {
    const Where w = ctx->at(path);
    if (precision == 0) readFloatsInto(*pending, w, count, floatValues);
    else readDoublesInto(*pending, w, count, doubleValues);
    pending.reset();
  }
  haveFloatValues = precision == 0;
  haveDoubleValues = precision != 0;
}

void BlockData::usePool(const PoolRef& p) {
  pool = p;
  nodeLabels = bufferIn<int>(p);
  elementLabels = bufferIn<int>(p);
  integrationPoints = bufferIn<int>(p);
  floatValues = bufferIn<float>(p);
  doubleValues = bufferIn<double>(p);
  mises = bufferIn<float>(p);
}

std::shared_ptr<BlockData> blockLike(const BlockData& b) {
  auto out = std::make_shared<BlockData>();
  out->usePool(b.pool);
  out->shape = b.shape;
  out->instance = b.instance;
  out->position = b.position;
  out->sectionPoint = b.sectionPoint;
  out->type = b.type;
  out->precision = b.precision;
  out->length = b.length;
  out->width = b.width;
  return out;
}

Where BlockData::where() const {
  static const std::string unnamed;
  return ctx ? ctx->at(path) : Where{unnamed, "(subset)"};
}

PoolRef poolOf(const BlockData* block) { return block ? block->pool : nullptr; }

const float* BlockData::floats() const {
  need();
  if (!haveFloatValues) {
    floatValues.assign(doubleValues.begin(), doubleValues.end());
    haveFloatValues = true;
  }
  return floatValues.data();
}

const double* BlockData::doubles() const {
  need();
  if (!haveDoubleValues) {
    doubleValues.assign(floatValues.begin(), floatValues.end());
    haveDoubleValues = true;
  }
  return doubleValues.data();
}

}  // namespace odb_detail

using namespace odb_detail;

// A default-constructed handle reads as an empty block.
static const BlockData& blockOf(const std::shared_ptr<const BlockData>& p) {
  static const BlockData empty = [] {
    BlockData b;
    b.shape = std::make_shared<FieldShape>();
    return b;
  }();
  return p ? *p : empty;
}

static const int* labelsOrNull(const Buffer<int>& v) { return v.empty() ? nullptr : v.data(); }

odb_Enum::odb_DataTypeEnum odb_FieldBulkData::type() const { return blockOf(block_).type; }
int odb_FieldBulkData::precision() const { return blockOf(block_).precision; }
int odb_FieldBulkData::length() const { return blockOf(block_).length; }
int odb_FieldBulkData::width() const { return blockOf(block_).width; }
int odb_FieldBulkData::numberOfElements() const { return blockOf(block_).elementLabelsRead().numberOfElements; }
odb_Enum::odb_ResultPositionEnum odb_FieldBulkData::position() const { return blockOf(block_).position; }
const odb_String& odb_FieldBulkData::instanceName() const { return blockOf(block_).instance; }
int odb_FieldBulkData::sectionPoint() const { return blockOf(block_).sectionPoint; }
const int* odb_FieldBulkData::elementLabels() const {
  return labelsOrNull(blockOf(block_).elementLabelsRead().elementLabels);
}
const int* odb_FieldBulkData::nodeLabels() const { return labelsOrNull(blockOf(block_).labels().nodeLabels); }
const int* odb_FieldBulkData::integrationPoints() const {
  return labelsOrNull(blockOf(block_).labels().integrationPoints);
}
const odb_SequenceString& odb_FieldBulkData::componentLabels() const { return blockOf(block_).shape->blockLabels; }
const float* odb_FieldBulkData::data() const { return block_ ? block_->floats() : nullptr; }
const double* odb_FieldBulkData::dataDouble() const { return block_ ? block_->doubles() : nullptr; }

const float* odb_FieldBulkData::mises() const {
  if (!block_) return nullptr;
  const BlockData& b = *block_;
  if (b.haveMises) return b.mises.data();
  // docs/format.md §6: zeros for a block that is not a tensor, never null.
  if (!odb_vocab::isTensor(b.type)) {
    b.mises.assign(static_cast<std::size_t>(b.length), 0.0f);
  } else {
    b.need();
    b.mises.resize(static_cast<std::size_t>(b.length));
    if (b.precision == 0) misesRows(b.floatValues.data(), b.width, b.shape->cols, b.length, b.mises.data());
    else misesRows(b.doubleValues.data(), b.width, b.shape->cols, b.length, b.mises.data());
  }
  b.haveMises = true;
  return b.mises.data();
}
