// Bulk data statistics over the whole model: the block routine computes one
// bulk data block into bulkmax, bulkmin, bulkEnggMax and bulkEnggMin and the
// vector and tensor component accumulators; the container combines the
// blocks of a field and writes its result lines.
//
// While the block routine computes one large block on a second thread, the
// container reads the next block's labels and values: the file is only ever
// read from the calling thread, and a block is computed only once it is
// read, so the routine never touches the file.
//
// A block is computed in its own precision: a single-precision block keeps
// its running extremes, magnitudes and working arrays as floats, so its
// untouched extremes show as -3.40282e+38 and 3.40282e+38. The engineering
// selections copy the numbers they select from (never a NaN) into working
// arrays of their own: the block's arrays, mises() included, keep their order.
#include <cfloat>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <type_traits>

#include "field/beside.h"
#include "field/field.h"
#include "field/lines.h"
#include "field/results.h"
#include "field/stats.h"
#include "run/settings.h"

namespace {

// The results of one block, in the block's precision.
template <class T>
struct BlockResult {
  static constexpr T kTop = std::numeric_limits<T>::max();
  T max = -kTop, min = kTop, enggMax = -kTop, enggMin = kTop;
};

// A working array that keeps its storage from block to block and field to
// field: grown to the largest block met, so that a run allocates it a few
// times rather than once per block.
template <class T>
class WorkArray {
 public:
  constexpr WorkArray() = default;
  T* get(int n) {
    const auto size = static_cast<std::size_t>(n);
    if (size > size_) {
      data_ = std::make_unique_for_overwrite<T[]>(size);
      size_ = size;
    }
    return data_.get();
  }
 private:
  std::unique_ptr<T[]> data_;
  std::size_t size_ = 0;
};

}  // namespace

// The selections work on these, never on the block's own arrays.
constinit static WorkArray<float> floatWork;
constinit static WorkArray<double> doubleWork;

template <class T>
static T* workArray(int n) {
  if constexpr (std::is_same_v<T, float>)
    return floatWork.get(n);
  else
    return doubleWork.get(n);
}

static void resetVectorExtremes() {
  for (int c = 0; c < 3; ++c) {
    *kVecMax[c] = -DBL_MAX;
    *kVecMin[c] = DBL_MAX;
  }
}

// Stores v at work[count] and counts it unless it is NaN: a NaN takes no part
// in a selection.
template <class T>
static inline void keepNumber(T* work, int& count, T v) {
  work[count] = v;
  count += static_cast<int>(v == v);
}

// The numbers of column m of a rows x width array into out; returns their count.
template <class T>
static int copyColumn(const T* data, int rows, int width, int m, T* out) {
  int count = 0;
  for (int j = 0; j < rows; ++j) keepNumber(out, count, data[static_cast<std::size_t>(j) * width + m]);
  return count;
}

// The engineering extremes of values[0..count) into enggMax and enggMin, each
// only when its setting asks for it; no value leaves both as they are.
template <class T, class R>
static void selectInto(T* values, int count, R& enggMax, R& enggMin) {
  selectEngg(values, count, per, engg_min, engg_max, enggMin, enggMax);
}

// Table positions that count in a tensor block: the label of the position is
// among the block's labels and the position exists in its rows.
static void countedPositions(const odb_FieldBulkData& block, int width, bool counted[6]) {
  const odb_SequenceString& labels = block.componentLabels();
  for (int m = 0; m < 6; ++m) counted[m] = m < width && labels.isMember(odb_String(std::string(odb_vocab::kTensorSuffixes[m])));
}

// Tensor element block: the main quantity is the von Mises value; the
// components go to S11Max..S23Min and their own selections.
template <class T>
static void tensorElementBlock(const odb_FieldBulkData& block, const T* data, int rows, int width,
                               BlockResult<T>& r) {
  const bool components = extract_field_components;
  const bool engg = engg_max || engg_min;
  bool counted[6];
  countedPositions(block, width, counted);
  const float* mises = block.mises();
  float* misesWork = engg ? workArray<float>(rows) : nullptr;
  int numbers = 0;
  for (int j = 0; j < rows; ++j) {
    trackExtremes(r.max, r.min, static_cast<T>(mises[j]));
    if (misesWork) keepNumber(misesWork, numbers, mises[j]);
    if (!components) continue;
    const T* row = data + static_cast<std::size_t>(j) * width;
    for (int m = 0; m < 6; ++m)
      if (counted[m]) trackExtremes(*kTensorMax[m], *kTensorMin[m], row[m]);
  }
  float misesEnggMax = -FLT_MAX, misesEnggMin = FLT_MAX;
  selectInto(misesWork, numbers, misesEnggMax, misesEnggMin);
  r.enggMax = misesEnggMax;
  r.enggMin = misesEnggMin;

  if (!components) return;
  for (int m = 0; m < 6; ++m) {
    *kTensorEnggMin[m] = DBL_MAX;
    *kTensorEnggMax[m] = -DBL_MAX;
  }
  if (!engg) return;
  // The von Mises selection is done: one working array serves the components in turn.
  T* work = workArray<T>(rows);
  for (int m = 0; m < 6; ++m) {
    if (!counted[m]) continue;
    const int n = copyColumn(data, rows, width, m, work);
    selectInto(work, n, *kTensorEnggMax[m], *kTensorEnggMin[m]);
  }
}

// Vector block, element or node: the main quantity is the magnitude, kept in
// an array for the engineering selection; components 1, 2, 3 go to the
// vector accumulators (a missing component counts as 0).
template <class T>
static void vectorBlock(const T* data, int rows, int width, BlockResult<T>& r) {
  const bool components = extract_field_components;
  T* mags = engg_max || engg_min ? workArray<T>(rows) : nullptr;
  int numbers = 0;
  for (int j = 0; j < rows; ++j) {
    const T* row = data + static_cast<std::size_t>(j) * width;
    T sum = 0;
    for (int m = 0; m < width; ++m) sum += row[m] * row[m];
    if (components)
      for (int c = 0; c < 3; ++c) trackExtremes(*kVecMax[c], *kVecMin[c], c < width ? row[c] : T(0));
    const T mag = std::sqrt(sum);
    trackExtremes(r.max, r.min, mag);
    if (mags) keepNumber(mags, numbers, mag);
  }
  selectInto(mags, numbers, r.enggMax, r.enggMin);
  if (!components || !mags) return;
  // The magnitudes are done with: their array serves the components in turn.
  for (int c = 0; c < 3; ++c) {
    int n = rows;
    if (c < width)
      n = copyColumn(data, rows, width, c, mags);
    else
      std::fill_n(mags, rows, T(0));
    selectInto(mags, n, *kVecEnggMax[c], *kVecEnggMin[c]);
  }
}

// Any other block (and a tensor at nodes): every component counts for the
// absolute extremes, and the last component of each value is what the
// engineering selection sees.
template <class T>
static void plainBlock(const T* data, int rows, int width, BlockResult<T>& r) {
  T* values = (engg_max || engg_min) && width > 0 ? workArray<T>(rows) : nullptr;
  int numbers = 0;
  for (int j = 0; j < rows; ++j) {
    const T* row = data + static_cast<std::size_t>(j) * width;
    for (int m = 0; m < width; ++m) trackExtremes(r.max, r.min, row[m]);
    if (values) keepNumber(values, numbers, row[width - 1]);
  }
  selectInto(values, numbers, r.enggMax, r.enggMin);
}

// Element blocks that carry the von Mises invariant report the extremes of
// the block's von Mises array instead (zeros for a block that is no tensor).
static void misesInvariantRule(const odb_FieldBulkData& block, int rows) {
  const float* mises = block.mises();
  double mx = -DBL_MAX, mn = DBL_MAX;
  for (int j = 0; j < rows; ++j) trackExtremes(mx, mn, static_cast<double>(mises[j]));
  bulkmax = mx;
  bulkmin = mn;
}

template <class T>
static void computeBlock(const odb_FieldBulkData& block, const T* data, const odb_SequenceInvariant& invariants) {
  const int type = block.type();
  const int width = block.width();
  const int elements = block.numberOfElements();
  const bool elementBlock = elements != 0 && block.elementLabels() != nullptr;
  const bool doublePrecision = std::is_same_v<T, double>;
  // Element blocks group their values by element; a value is row e * vpe + p.
  const int rows = elementBlock ? elements * (block.length() / elements) : block.length();

  if (elementBlock && extract_field_components) {
    resetVectorExtremes();
    for (int m = 0; m < 6; ++m) {
      *kTensorMax[m] = -DBL_MAX;
      *kTensorMin[m] = DBL_MAX;
    }
  }
  // Single-precision node blocks carry the vector extremes over from the
  // blocks before them; the container resets them at the first block.
  if (!elementBlock && doublePrecision && extract_field_components) resetVectorExtremes();

  BlockResult<T> r;
  if (elementBlock && odb_vocab::isTensor(type)) {
    tensorElementBlock(block, data, rows, width, r);
  } else if (type == odb_Enum::VECTOR) {
    vectorBlock(data, rows, width, r);
  } else {
    plainBlock(data, rows, width, r);
  }
  bulkmax = r.max;
  bulkmin = r.min;
  bulkEnggMax = r.enggMax;
  bulkEnggMin = r.enggMin;
  if (elementBlock && invariants.isMember(odb_Enum::MISES)) misesInvariantRule(block, rows);
}

void odbE_printBulkField(const odb_FieldBulkData& block, std::ostream& /*out*/, odb_String /*stepName*/,
                         int /*incrementNumber*/, odb_String /*fieldName*/, const odb_SequenceInvariant& invariants,
                         odb_String /*indent*/, bool /*isComplex*/) {
  if (block.precision() == 0)
    computeBlock(block, block.data(), invariants);
  else
    computeBlock(block, block.dataDouble(), invariants);
}

static void writeBulkLines(std::ostream& out, const std::string& head, int type, const QuantityExtremes& combined,
                           const bool present[6]) {
  if (type == odb_Enum::VECTOR) {
    writeGroup(out, head, "mag", combined);
    if (!extract_field_components) return;
    QuantityExtremes c[3];
    for (int i = 0; i < 3; ++i) c[i] = {*kVecMax[i], *kVecMin[i], *kVecEnggMax[i], *kVecEnggMin[i]};
    writeVectorComponents(out, head, c);
  } else if (odb_vocab::isTensor(type)) {
    writeGroup(out, head, "mises", combined);
    if (!extract_field_components) return;
    for (int m = 0; m < 6; ++m) {
      if (!present[m]) continue;
      writeGroup(out, head, odb_vocab::kTensorSuffixes[m],
                 QuantityExtremes{*kTensorMax[m], *kTensorMin[m], *kTensorEnggMax[m], *kTensorEnggMin[m]});
    }
  } else {
    writeGroup(out, head, "", combined);
  }
}

// Reads what the block routine of a block uses from the file: its labels
// (numberOfElements reads them) and its values in the stored precision.
static void readForRoutine(const odb_FieldBulkData& block) {
  block.numberOfElements();
  if (block.precision() == 0)
    block.data();
  else
    block.dataDouble();
}

// Blocks of fewer values are computed in line: a thread would cost more
// than reading and computing them one after the other.
constexpr int kOverlapValues = 1 << 16;

void odbE_printFieldBulkDataCon(const odb_SequenceFieldBulkData& blocks, std::ostream& out, odb_String stepName,
                                int incrementNumber, odb_String /*regionKind*/, odb_String /*regionName*/,
                                odb_String fieldName, const odb_SequenceInvariant& invariants, odb_String indent,
                                bool isComplex) {
  // A field without blocks has no type to choose its lines by: it gets none.
  if (blocks.size() == 0) return;
  QuantityExtremes combined = kUntouched;
  bool present[6] = {};
  int type = 0;
  const odb_String blockIndent = indent + "    ";
  for (int i = 0; i < blocks.size(); ++i) {
    if (i == 0 && extract_field_components) resetVectorExtremes();
    const odb_FieldBulkData& block = blocks[i];
    type = block.type();
    if (i + 1 < blocks.size() && block.length() >= kOverlapValues) {
      readForRoutine(block);
      auto compute = [&] {
        odbE_printBulkField(block, out, stepName, incrementNumber, fieldName, invariants, blockIndent, isComplex);
      };
      runBeside(compute, [&] { readForRoutine(blocks[i + 1]); });
    } else {
      odbE_printBulkField(block, out, stepName, incrementNumber, fieldName, invariants, blockIndent, isComplex);
    }
    if (bulkmax > combined.max) combined.max = bulkmax;
    if (bulkmin < combined.min) combined.min = bulkmin;
    if (bulkEnggMax > combined.enggMax) combined.enggMax = bulkEnggMax;
    if (bulkEnggMin < combined.enggMin) combined.enggMin = bulkEnggMin;
    if (odb_vocab::isTensor(type)) {
      bool counted[6];
      countedPositions(block, block.width(), counted);
      for (int m = 0; m < 6; ++m) present[m] = present[m] || counted[m];
    }
  }
  const std::string head = resultHead(stepName, incrementNumber, odb_String(), fieldName);
  writeBulkLines(out, head, type, combined, present);
}
