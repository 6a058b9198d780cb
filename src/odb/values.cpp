// Field values: the value sequence as a view over the blocks (whole, or in
// windows of rows), and each value's accessors and derived quantities
// (docs/format.md §7). No globals.
#include <algorithm>
#include <cmath>
#include <type_traits>

#include "odb/derived.h"
#include "odb/h5_io.h"
#include "odb/impl.h"
#include "odb/vocabulary.h"

using namespace odb_detail;

// The window of a block of a windowed sequence: rows [first, first + count)
// of its values in the stored precision, read by the block's reader. An
// array that a data() sequence still holds is left to it, and the window
// moves into a new one.
struct odb_detail::BlockData::Window {
  odb_BlockReader reader;
  int rows = 1;  // the rows of a whole window: whole chunks of the stored array
  int first = 0, count = 0;
  std::shared_ptr<Buffer<float>> floats;
  std::shared_ptr<Buffer<double>> doubles;

  explicit Window(const std::shared_ptr<const BlockData>& block) : reader(odb_FieldBulkData(block)) {}
  // Lets go of the window; the next row asked for reads it again.
  void release() {
    count = 0;
    floats.reset();
    doubles.reset();
  }
  template <class T>
  std::shared_ptr<Buffer<T>>& array() {
    if constexpr (std::is_same_v<T, float>) return floats;
    else return doubles;
  }
};

odb_SequenceFieldValue::odb_SequenceFieldValue(std::vector<std::shared_ptr<const BlockData>> blocks)
    : blocks_(std::move(blocks)) {
  starts_.reserve(blocks_.size());
  for (const auto& b : blocks_) {
    starts_.push_back(size_);
    size_ += b->length;
  }
}

odb_FieldValue odb_SequenceFieldValue::constGet(int i) const {
  if (i < 0 || i >= size_)
    throw odb_Exception("sequence index " + std::to_string(i) + " out of range, size " + std::to_string(size_));
  // A walk in order stays in the block of the previous look-up or steps to
  // the next one; anything else searches.
  auto inBlock = [&](std::size_t k) { return i >= starts_[k] && i - starts_[k] < blocks_[k]->length; };
  if (!inBlock(last_)) {
    // A windowed sequence holds the window of one block at a time.
    if (const auto& w = blocks_[last_]->window) w->release();
    if (last_ + 1 < blocks_.size() && inBlock(last_ + 1)) {
      ++last_;
    } else {
      last_ = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin()) - 1;
    }
  }
  blocks_[last_]->need();
  return odb_FieldValue(blocks_[last_].get(), i - starts_[last_]);
}

odb_FieldBulkData odb_SequenceFieldValue::block(int b) const {
  if (b < 0 || static_cast<std::size_t>(b) >= blocks_.size())
    throw odb_Exception("block index " + std::to_string(b) + " out of range, " + std::to_string(blocks_.size()) +
                        " blocks");
  if (blocks_[static_cast<std::size_t>(b)]->windowOf)
    throw odb_Exception("the blocks of a windowed value sequence are not bulk data");
  return odb_FieldBulkData(blocks_[static_cast<std::size_t>(b)]);
}

std::size_t odb_SequenceFieldValue::storedBytes() const {
  std::size_t bytes = 0;
  for (const auto& b : blocks_)
    bytes += static_cast<std::size_t>(b->length) * static_cast<std::size_t>(b->width) * (b->precision == 0 ? 4 : 8);
  return bytes;
}

// ------------------------------------------------------------------ windows

odb_SequenceFieldValue odb_SequenceFieldValue::windowed(std::size_t bytes) const {
  std::vector<std::shared_ptr<const BlockData>> out;
  out.reserve(blocks_.size());
  for (const auto& b : blocks_) {
    if (b->windowOf || (!b->pending && !b->source)) {  // windowed already, or its values are held
      out.push_back(b);
      continue;
    }
    auto w = blockLike(*b);
    w->windowOf = b;
    w->window = std::make_shared<BlockData::Window>(b);
    w->window->rows = w->window->reader.pieceRows(bytes);
    out.push_back(std::move(w));
  }
  return odb_SequenceFieldValue(std::move(out));
}

// Row `row` of a windowed block's values, the window moved to hold it.
template <class T>
static const T* windowRow(const BlockData& b, int row) {
  BlockData::Window& w = *b.window;
  std::shared_ptr<Buffer<T>>& array = w.array<T>();
  const auto width = static_cast<std::size_t>(b.width);
  if (row < w.first || row - w.first >= w.count) {
    w.count = 0;  // nothing held should the read fail
    w.first = row - row % w.rows;
    const int count = std::min(w.rows, b.length - w.first);
    if (!array || array.use_count() > 1) array = std::make_shared<Buffer<T>>(bufferIn<T>(b.pool));
    array->resize(static_cast<std::size_t>(count) * width);
    w.reader.read(w.first, count, array->data());
    w.count = count;
  }
  return array->data() + static_cast<std::size_t>(row - w.first) * width;
}

// --------------------------------------------------------------- one value

static const odb_String noInstance;

const odb_String& odb_FieldValue::instanceName() const { return block_ ? block_->instance : noInstance; }
odb_Enum::odb_ResultPositionEnum odb_FieldValue::position() const {
  return block_ ? block_->position : odb_Enum::NODAL;
}
// A label of this value, or `none` when its block has no such labels.
static int labelAt(const Buffer<int>& labels, int row, int none) {
  return labels.empty() ? none : labels[static_cast<std::size_t>(row)];
}
int odb_FieldValue::elementLabel() const {
  return block_ ? labelAt(block_->elementLabelsRead().elementLabels, row_, -1) : -1;
}
int odb_FieldValue::nodeLabel() const { return block_ ? labelAt(block_->labels().nodeLabels, row_, -1) : -1; }
int odb_FieldValue::integrationPoint() const {
  return block_ ? labelAt(block_->labels().integrationPoints, row_, 0) : 0;
}
int odb_FieldValue::sectionPoint() const { return block_ ? block_->sectionPoint : 0; }
odb_Enum::odb_DataTypeEnum odb_FieldValue::type() const { return block_ ? block_->type : odb_Enum::SCALAR; }
int odb_FieldValue::precision() const { return block_ ? block_->precision : 0; }

static std::size_t rowStart(const BlockData* b, int row) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(b->width);
}

// The value's row in the stored precision (floats for precision 0).
static const float* floatRow(const BlockData* b, int row) {
  return b->window ? windowRow<float>(*b, row) : b->floatValues.data() + rowStart(b, row);
}
static const double* doubleRow(const BlockData* b, int row) {
  return b->window ? windowRow<double>(*b, row) : b->doubleValues.data() + rowStart(b, row);
}

// The value's numbers from a window: a view that keeps the window's array
// when stored so, else a converted copy.
template <class To, class From>
static odb_NumberSequence<To> fromWindow(const BlockData* b, int row) {
  const From* p = windowRow<From>(*b, row);
  if constexpr (std::is_same_v<To, From>)
    return odb_NumberSequence<To>(p, b->width, b->window->array<From>());
  else
    return odb_NumberSequence<To>(std::vector<To>(p, p + b->width));
}

odb_SequenceFloat odb_FieldValue::data() const {
  if (!block_) return {};
  if (block_->window)
    return block_->precision == 0 ? fromWindow<float, float>(block_, row_) : fromWindow<float, double>(block_, row_);
  return odb_SequenceFloat(block_->floats() + rowStart(block_, row_), block_->width);
}

odb_SequenceDouble odb_FieldValue::dataDouble() const {
  if (!block_) return {};
  if (block_->window)
    return block_->precision == 0 ? fromWindow<double, float>(block_, row_) : fromWindow<double, double>(block_, row_);
  return odb_SequenceDouble(block_->doubles() + rowStart(block_, row_), block_->width);
}

// Gathers the value's tensor; false when the value is not a tensor.
static bool tensorOf(const BlockData* b, int row, double s[6]) {
  if (!b || !odb_vocab::isTensor(b->type)) return false;
  if (b->precision == 0) tensorFromRow(floatRow(b, row), b->shape->cols, s);
  else tensorFromRow(doubleRow(b, row), b->shape->cols, s);
  return true;
}

// The magnitude of a vector's row, 0 for other types.
static float magnitudeOf(const BlockData* b, int row) {
  if (!b || b->type != odb_Enum::VECTOR) return 0.0f;
  double sum = 0.0;
  const float* f = b->precision == 0 ? floatRow(b, row) : nullptr;
  const double* d = b->precision == 0 ? nullptr : doubleRow(b, row);
  for (int k = 0; k < b->width; ++k) {
    const double v = f ? f[k] : d[k];
    sum += v * v;
  }
  return static_cast<float>(std::sqrt(sum));
}

float odb_FieldValue::magnitude() const { return magnitudeOf(block_, row_); }

float odb_FieldValue::mises() const {
  double s[6];
  return tensorOf(block_, row_, s) ? static_cast<float>(vonMises(s)) : 0.0f;
}

float odb_FieldValue::press() const {
  double s[6];
  return tensorOf(block_, row_, s) ? static_cast<float>(pressure(s)) : 0.0f;
}

float odb_FieldValue::inv3() const {
  double s[6];
  return tensorOf(block_, row_, s) ? static_cast<float>(thirdInvariant(s)) : 0.0f;
}

// The principal values of the value's tensor, max first, then its Tresca
// value; null for other types.
static const float* principalsOf(const BlockData* b, int row) {
  if (b && b->principalRow == row) return b->principal;
  double s[6];
  if (!tensorOf(b, row, s)) return nullptr;
  principalFloats(s, b->principal);
  b->principalRow = row;
  return b->principal;
}

// Principal value k (0 max, 1 mid, 2 min, 3 Tresca) of the value's tensor, 0 for other types.
static float principal(const BlockData* b, int row, int k) {
  const float* p = principalsOf(b, row);
  return p ? p[k] : 0.0f;
}

float odb_FieldValue::maxPrincipal() const { return principal(block_, row_, 0); }
float odb_FieldValue::midPrincipal() const { return principal(block_, row_, 1); }
float odb_FieldValue::minPrincipal() const { return principal(block_, row_, 2); }
float odb_FieldValue::tresca() const { return principal(block_, row_, 3); }

static float inPlane(const BlockData* b, int row, int k) {
  double s[6], p[2];
  if (!tensorOf(b, row, s)) return 0.0f;
  inPlanePrincipals(s, p);
  return static_cast<float>(p[k]);
}

float odb_FieldValue::maxInPlanePrincipal() const { return inPlane(block_, row_, 0); }
float odb_FieldValue::minInPlanePrincipal() const { return inPlane(block_, row_, 1); }

float odb_FieldValue::outOfPlanePrincipal() const {
  double s[6];
  return tensorOf(block_, row_, s) ? static_cast<float>(s[2]) : 0.0f;
}

void odb_FieldBulkData::invariants(int first, int n, std::span<const odb_Enum::odb_InvariantEnum> which,
                                   std::span<float* const> out) const {
  if (!block_) return;
  const BlockData& b = *block_;
  const Where where = b.where();
  if (which.size() != out.size())
    odbFail(where, std::to_string(which.size()) + " invariants asked for into " + std::to_string(out.size()) +
                       " arrays");
  if (first < 0 || n < 0 || first > b.length - n)
    odbFail(where, "rows [" + std::to_string(first) + ", " + std::to_string(static_cast<long long>(first) + n) +
                       ") asked for, the block has " + std::to_string(b.length) + " rows");
  const bool tensor = odb_vocab::isTensor(b.type);
  bool principal = false;
  for (const auto w : which) {
    if (w < odb_Enum::MAX_PRINCIPAL || w > odb_Enum::OUTOFPLANE_PRINCIPAL)
      odbFail(where, "no invariant has the code " + std::to_string(static_cast<int>(w)));
    principal = principal || (tensor && (w <= odb_Enum::MIN_PRINCIPAL || w == odb_Enum::TRESCA));
  }
  b.need();
  for (int j = 0; j < n; ++j) {
    const int row = first + j;
    double s[6] = {}, plane[2] = {};
    float p[4] = {};
    if (tensor) tensorOf(&b, row, s);
    if (principal) principalFloats(s, p);
    for (std::size_t k = 0; k < which.size(); ++k) {
      float v = 0.0f;
      switch (which[k]) {
        case odb_Enum::MAGNITUDE: v = magnitudeOf(&b, row); break;
        case odb_Enum::MAX_PRINCIPAL: v = p[0]; break;
        case odb_Enum::MID_PRINCIPAL: v = p[1]; break;
        case odb_Enum::MIN_PRINCIPAL: v = p[2]; break;
        case odb_Enum::TRESCA: v = p[3]; break;
        case odb_Enum::MISES: v = static_cast<float>(vonMises(s)); break;
        case odb_Enum::PRESS: v = static_cast<float>(pressure(s)); break;
        case odb_Enum::INV3: v = static_cast<float>(thirdInvariant(s)); break;
        case odb_Enum::MAX_INPLANE_PRINCIPAL:
        case odb_Enum::MIN_INPLANE_PRINCIPAL:
          inPlanePrincipals(s, plane);
          v = static_cast<float>(plane[which[k] == odb_Enum::MAX_INPLANE_PRINCIPAL ? 0 : 1]);
          break;
        default: v = static_cast<float>(s[2]); break;  // OUTOFPLANE_PRINCIPAL
      }
      out[k][j] = tensor || which[k] == odb_Enum::MAGNITUDE ? v : 0.0f;
    }
  }
}
