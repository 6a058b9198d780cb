// Field values: the value sequence as a view over the blocks, and each
// value's accessors and derived quantities (docs/format.md §7). No globals.
#include <algorithm>
#include <cmath>

#include "odb/derived.h"
#include "odb/impl.h"
#include "odb/vocabulary.h"

using namespace odb_detail;

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
    if (last_ + 1 < blocks_.size() && inBlock(last_ + 1)) {
      ++last_;
    } else {
      last_ = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin()) - 1;
    }
  }
  blocks_[last_]->need();
  return odb_FieldValue(blocks_[last_].get(), i - starts_[last_]);
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

odb_SequenceFloat odb_FieldValue::data() const {
  if (!block_) return {};
  return odb_SequenceFloat(block_->floats() + rowStart(block_, row_), block_->width);
}

odb_SequenceDouble odb_FieldValue::dataDouble() const {
  if (!block_) return {};
  return odb_SequenceDouble(block_->doubles() + rowStart(block_, row_), block_->width);
}

// Gathers the value's tensor; false when the value is not a tensor.
static bool tensorOf(const BlockData* b, int row, double s[6]) {
  if (!b || !odb_vocab::isTensor(b->type)) return false;
  if (b->precision == 0) tensorFromRow(b->floatValues.data() + rowStart(b, row), b->shape->cols, s);
  else tensorFromRow(b->doubleValues.data() + rowStart(b, row), b->shape->cols, s);
  return true;
}

float odb_FieldValue::magnitude() const {
  if (!block_ || block_->type != odb_Enum::VECTOR) return 0.0f;
  double sum = 0.0;
  const std::size_t at = rowStart(block_, row_);
  for (int k = 0; k < block_->width; ++k) {
    const double v = block_->precision == 0 ? block_->floatValues[at + static_cast<std::size_t>(k)]
                                            : block_->doubleValues[at + static_cast<std::size_t>(k)];
    sum += v * v;
  }
  return static_cast<float>(std::sqrt(sum));
}

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
