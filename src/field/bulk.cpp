// Bulk data statistics over the whole model: the block routine computes one
// bulk data block into bulkmax, bulkmin, bulkEnggMax and bulkEnggMin and the
// vector and tensor component accumulators; the container combines the
// blocks of a field and writes its result lines. Globals: those of
// field/results.h, the settings it reads (memory_budget among them), and
// the working arrays and the fits-the-budget flag below.
//
// A block is read in pieces into reused arrays (streamed blocks, below)
// unless the run takes engineering extremes and the field output fits
// memory_budget: then it is held whole as the library reads it. While the
// block routine computes one large block held whole on a second thread, the
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
#include <climits>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <type_traits>

#include "field/beside.h"
#include "field/field.h"
#include "field/lines.h"
#include "field/ranges.h"
#include "field/rank_select.h"
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
  T* get(std::size_t size) {
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

// The component extremes a block starts afresh.
static void startBlock(bool elementBlock, bool doublePrecision) {
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
}

template <class T>
static void endBlock(const BlockResult<T>& r) {
  bulkmax = r.max;
  bulkmin = r.min;
  bulkEnggMax = r.enggMax;
  bulkEnggMin = r.enggMin;
}

template <class T>
static void computeBlock(const odb_FieldBulkData& block, const T* data, const odb_SequenceInvariant& invariants) {
  const int type = block.type();
  const int width = block.width();
  const int elements = block.numberOfElements();
  const bool elementBlock = elements != 0 && block.elementLabels() != nullptr;
  // Element blocks group their values by element; a value is row e * vpe + p.
  const int rows = elementBlock ? elements * (block.length() / elements) : block.length();
  startBlock(elementBlock, std::is_same_v<T, double>);

  BlockResult<T> r;
  if (elementBlock && odb_vocab::isTensor(type)) {
    tensorElementBlock(block, data, rows, width, r);
  } else if (type == odb_Enum::VECTOR) {
    vectorBlock(data, rows, width, r);
  } else {
    plainBlock(data, rows, width, r);
  }
  endBlock(r);
  if (elementBlock && invariants.isMember(odb_Enum::MISES)) misesInvariantRule(block, rows);
}

// ------------------------------------------------------------ streamed blocks
//
// A block of kStreamedValues and more is read in pieces (odb_BlockReader)
// into arrays kept from block to block, and so is any block of a field
// output that would not fit memory_budget whole: its selections run in
// passes (RankSelect), over the block held whole in those arrays when it
// fits (heldWhole), else over the pieces read again. A full run on the
// model database of bench/targets took 0.5 s this way against 1.2 to 1.6 s
// with the field output held (40 MB of memory against 424 MB). Pieces come
// in row order and every number meets the same comparisons and the same
// selection as in memory, so the results are the same bytes. Without
// selections, pieces are read and computed on the
// calling thread in turn. Computing each piece on a second thread while the
// calling thread reads the next into a second array was measured slower
// (max/min on the model database, eleven alternating runs: 253 ms against
// 246, with either thread spinning before it sleeps; pieces of 256 KiB to
// 8 MiB no better): on the second core the computing took twice as long
// (62 ms against 31), every piece coming from the other core's cache, and
// the reading 10 ms longer. A block held whole for its selections is
// computed on two threads (wholePasses): there the counting costs more than
// the reading.

namespace {

enum class BlockKind { TensorElement, Vector, Plain };

// The selections a pass feeds: the von Mises one and select[i].
struct Feeds {
  bool mises = false, select[7] = {};
  bool any() const { return mises || std::find(select, select + 7, true) != select + 7; }
};

// The state of a block read in passes: its running results (first pass) and
// its selections, [0] the main quantity, [1 + m] component m.
template <class T>
struct Streamed {
  BlockKind kind = BlockKind::Plain;
  int width = 1;
  bool counted[6] = {};
  bool components = false;
  bool misesRule = false;  // element block with the von Mises invariant
  bool firstPass = true;
  BlockResult<T> r;
  double ruleMax = -DBL_MAX, ruleMin = DBL_MAX;
  std::optional<RankSelect<float>> mises;
  std::optional<RankSelect<T>> select[7];
  Feeds feed;  // of this pass

  void startPass() {
    feed.mises = mises && mises->wantsPass();
    for (int i = 0; i < 7; ++i) feed.select[i] = select[i] && select[i]->wantsPass();
  }
  void endPass() {
    if (feed.mises) mises->endPass();
    for (int i = 0; i < 7; ++i)
      if (feed.select[i]) select[i]->endPass();
    firstPass = false;
  }
  // A copy that feeds this pass's selections with other rows (see join).
  Streamed part() const {
    Streamed p(*this);
    if (p.feed.mises) p.mises = mises->part();
    for (int i = 0; i < 7; ++i)
      if (p.feed.select[i]) p.select[i] = select[i]->part();
    return p;
  }
  // Takes in what part `later` fed with the rows after this one's, and ends
  // the pass, of the selections of one half (0 or 1): the von Mises one and
  // select[1], [3], [5], or the others. The halves may run on two threads.
  void joinAndEnd(const Streamed& later, int half) {
    if (feed.mises && half == 0) mises->join(*later.mises), mises->endPass();
    for (int i = 0; i < 7; ++i)
      if (feed.select[i] && (i + 1) % 2 == half) select[i]->join(*later.select[i]), select[i]->endPass();
  }
  bool wantsPass() const {
    if (mises && mises->wantsPass()) return true;
    for (const auto& s : select)
      if (s && s->wantsPass()) return true;
    return false;
  }
};

}  // namespace

// A piece's arrays, kept from block to block: its values, in either
// precision, which also take the element labels while they are counted,
// and its von Mises values.
constinit static WorkArray<std::byte> pieceValues;
constinit static WorkArray<float> pieceMises;

// What trackExtremes over v[0..n) leaves in mx and mn.
template <class T, class R>
static void trackPiece(R& mx, R& mn, const T* v, std::size_t n) {
  T hi, lo;
  pieceRange(v, n, hi, lo);
  if (mx < hi) mx = hi;
  if (mn > lo) mn = lo;
}

// A tensor block's piece; `misesHi` and `misesLo` hold the extremes of its
// von Mises values when the caller took them without the values (mises null).
template <class T>
static void tensorPiece(Streamed<T>& s, const Feeds& f, bool ranges, const T* data, const float* mises, int n,
                        float misesHi, float misesLo) {
  const int width = s.width;
  if (ranges) {
    float hi = misesHi, lo = misesLo;  // widening to T or double keeps the order and the bits' choice
    if (mises) pieceRange(mises, static_cast<std::size_t>(n), hi, lo);
    if (s.r.max < hi) s.r.max = hi;
    if (s.r.min > lo) s.r.min = lo;
    if (s.misesRule && s.ruleMax < hi) s.ruleMax = hi;
    if (s.misesRule && s.ruleMin > lo) s.ruleMin = lo;
    if (s.components) {
      T hiM[6], loM[6];
      if (width == 6) tensorRanges(data, static_cast<std::size_t>(n), hiM, loM);
      for (int m = 0; m < 6; ++m) {
        if (!s.counted[m]) continue;
        if (width != 6)
          columnRange(data + m, static_cast<std::size_t>(n), static_cast<std::size_t>(width), hiM[m], loM[m]);
        if (*kTensorMax[m] < hiM[m]) *kTensorMax[m] = hiM[m];
        if (*kTensorMin[m] > loM[m]) *kTensorMin[m] = loM[m];
      }
    }
  }
  const auto rows = static_cast<std::size_t>(n);
  if (f.mises) {
    RankSelect<float>* one = &*s.mises;
    addColumns(&one, 1, mises, rows);
  }
  RankSelect<T>* columns[6] = {};
  for (int m = 0; m < 6; ++m)
    if (f.select[1 + m]) columns[m] = &*s.select[1 + m];
  if (width <= 6) {
    addColumns(columns, width, data, rows);
    return;
  }
  for (int m = 0; m < 6; ++m)
    if (columns[m]) columns[m]->add(data + m, rows, static_cast<std::size_t>(width));
}

// Rows computed at a time: a run stays in the cache while every quantity
// takes it in turn (4096 rows of six doubles: 192 KiB).
constexpr int kCachedRows = 4096;

// The magnitudes of n rows of width numbers, in a loop of its own so that
// the compiler vectorises the common width of three.
template <class T>
static void magnitudes(const T* data, int width, int n, T* mags) {
  const auto w = static_cast<std::size_t>(width);
  if (width == 3) {
    for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
      const T* row = data + j * 3;
      mags[j] = std::sqrt(T(0) + row[0] * row[0] + row[1] * row[1] + row[2] * row[2]);
    }
    return;
  }
  for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
    const T* row = data + j * w;
    T sum = 0;
    for (std::size_t m = 0; m < w; ++m) sum += row[m] * row[m];
    mags[j] = std::sqrt(sum);
  }
}

template <class T>
static void vectorPiece(Streamed<T>& s, const Feeds& f, bool ranges, const T* data, int n) {
  const int width = s.width;
  T mags[kCachedRows];
  if (ranges || f.select[0]) magnitudes(data, width, n, mags);
  if (ranges) {
    trackPiece(s.r.max, s.r.min, mags, static_cast<std::size_t>(n));
    for (int c = 0; c < 3 && s.components && n > 0; ++c) {
      T hi = 0, lo = 0;  // the missing components of a two-component vector
      if (c < width) columnRange(data + c, static_cast<std::size_t>(n), static_cast<std::size_t>(width), hi, lo);
      if (*kVecMax[c] < hi) *kVecMax[c] = hi;
      if (*kVecMin[c] > lo) *kVecMin[c] = lo;
    }
  }
  const auto rows = static_cast<std::size_t>(n);
  if (f.select[0]) {
    RankSelect<T>* one = &*s.select[0];
    addColumns(&one, 1, mags, rows);
  }
  RankSelect<T>* columns[6] = {};
  const T zero = 0;  // the missing components of a two-component vector
  for (int c = 0; c < 3; ++c) {
    if (!f.select[1 + c]) continue;
    if (c < width && width <= 6) columns[c] = &*s.select[1 + c];
    else s.select[1 + c]->add(c < width ? data + c : &zero, rows, c < width ? static_cast<std::size_t>(width) : 0);
  }
  if (width <= 6) addColumns(columns, width, data, rows);
}

template <class T>
static void plainPiece(Streamed<T>& s, const Feeds& f, bool ranges, const T* data, int n) {
  const int width = s.width;
  if (ranges) trackPiece(s.r.max, s.r.min, data, static_cast<std::size_t>(n) * width);
  if (!f.select[0]) return;
  RankSelect<T>* columns[6] = {};
  if (width <= 6) {
    columns[width - 1] = &*s.select[0];
    addColumns(columns, width, data, static_cast<std::size_t>(n));
  } else {
    s.select[0]->add(data + width - 1, static_cast<std::size_t>(n), static_cast<std::size_t>(width));
  }
}

// What computeRows does with rows: everything (their von Mises values, the
// selections of f and in the first pass the extremes), or only the
// selections of f, the rows' von Mises values being computed already.
enum class Part { All, Selections };

// Computes rows [first, end) of a block in runs of kCachedRows.
template <class T>
static void computeRows(Streamed<T>& s, const Feeds& f, Part part, const odb_BlockReader& reader, const T* values,
                        float* mises, int first, int end) {
  const bool fresh = part == Part::All;
  const bool ranges = s.firstPass && fresh;
  for (int j = first; j < end; j += kCachedRows) {
    const int n = std::min(kCachedRows, end - j);
    const T* data = values + static_cast<std::size_t>(j) * s.width;
    if (s.kind == BlockKind::TensorElement) {
      // Without a von Mises selection the run needs only their extremes.
      if (ranges && !s.mises) {
        float hi, lo;
        reader.misesRange(data, n, hi, lo);
        tensorPiece(s, f, ranges, data, nullptr, n, hi, lo);
        continue;
      }
      if (fresh) reader.mises(data, n, mises + j);
      tensorPiece(s, f, ranges, data, mises + j, n, 0.0f, 0.0f);
    } else if (s.kind == BlockKind::Vector) {
      vectorPiece(s, f, ranges, data, n);
    } else {
      plainPiece(s, f, ranges, data, n);
    }
  }
}

// Bytes of values a piece holds: about a tenth of the budget, between 64 KiB
// and 1 MiB (whole chunks of the stored array, at least one). On the model
// database 8 MiB pieces took the same time and touched 1 900 more pages
// for the first time (8 MB more RSS).
static std::size_t pieceBytes() {
  return std::clamp<std::size_t>(memory_budget / 10, std::size_t{64} << 10, std::size_t{1} << 20);
}

// Set by the container for the blocks of one field: the field output's
// values and working arrays fit memory_budget.
constinit static bool fieldFits = true;

// Whether a block with selections is held whole: its values and von Mises
// values fit the budget when its field output does, else take at most a
// quarter of it (the selections hold at most half). Its passes after the
// first then run over the numbers in memory instead of reading them again:
// a field output of 4 GB in blocks of 15 MB under a 256 MB budget is read
// once, not twice.
template <class T>
static bool heldWhole(int rows, const Streamed<T>& s) {
  const auto rowBytes = static_cast<std::size_t>(s.width) * sizeof(T) + sizeof(float);
  const std::size_t room = fieldFits ? memory_budget : memory_budget / 4;
  return s.wantsPass() && static_cast<std::size_t>(rows) * rowBytes <= room &&
         static_cast<long long>(rows) * s.width <= INT_MAX;
}

// The passes over a block held whole, on two threads. First pass: the calling
// thread reads the block piece after piece and feeds the last two component
// selections of what it read, then counts the element labels (the second
// thread is the slower one), while the second thread computes everything
// else of the rows read so far; each selection sees its numbers in row
// order. Later passes: each thread feeds every selection from half of the
// rows in memory, the second half into a copy of the selections that the
// first then joins after its own (RankSelect::join), so that the results
// are those of one thread; the two threads then join and end the pass of
// half of the selections each. The first pass's shares come from
// the first pass over the stress field of bench/targets' big database in the
// page cache: reading it took about 0.8 s and its labels 0.25 s, counting it
// for one selection 0.15 s, its von Mises values and extremes 0.4 s.
template <class T>
static void wholePasses(odb_BlockReader& reader, int rows, Streamed<T>& s, T* values, float* mises,
                        bool elementBlock) {
  const int piece = std::max(1, std::min(reader.pieceRows(pieceBytes()), rows));
  std::atomic<int> ready{0};  // rows read; -1 once reading failed
  s.startPass();
  Feeds reading, computing = s.feed;
  if (s.kind == BlockKind::TensorElement)
    for (int i : {5, 6}) std::swap(reading.select[i], computing.select[i]);
  runBeside(
      [&] {
        for (int first = 0; first < rows; first += kCachedRows) {
          const int end = std::min(rows, first + kCachedRows);
          int have = ready.load(std::memory_order_acquire);
          while (have >= 0 && have < end) {
            ready.wait(have, std::memory_order_acquire);
            have = ready.load(std::memory_order_acquire);
          }
          if (have < 0) return;
          computeRows(s, computing, Part::All, reader, values, mises, first, end);
        }
      },
      [&] {
        try {
          for (int first = 0; first < rows; first += piece) {
            const int n = std::min(piece, rows - first);
            const std::size_t at = static_cast<std::size_t>(first) * s.width;
            reader.read(first, n, std::span<T>(values + at, static_cast<std::size_t>(rows) * s.width + 1 - at));
            ready.store(first + n, std::memory_order_release);
            ready.notify_one();
            if (reading.any()) computeRows(s, reading, Part::Selections, reader, values, mises, first, first + n);
          }
          if (elementBlock) reader.numberOfElements();
        } catch (...) {
          ready.store(-1, std::memory_order_release);
          ready.notify_one();
          throw;
        }
      });
  s.endPass();
  while (s.wantsPass()) {
    s.startPass();
    const int mid = rows / 2 / kCachedRows * kCachedRows;
    if (mid > 0) {
      Streamed<T> later = s.part();
      runBeside([&] { computeRows(later, s.feed, Part::Selections, reader, values, mises, mid, rows); },
                [&] { computeRows(s, s.feed, Part::Selections, reader, values, mises, 0, mid); });
      runBeside([&] { s.joinAndEnd(later, 1); }, [&] { s.joinAndEnd(later, 0); });
    } else {
      computeRows(s, s.feed, Part::Selections, reader, values, mises, 0, rows);
      s.endPass();
    }
  }
}

// Reads the block's rows in pieces, pass after pass, until no selection
// wants another; an element block's labels are counted first, or in a block
// held whole once its values are read.
template <class T>
static void readPasses(odb_BlockReader& reader, int rows, Streamed<T>& s, bool elementBlock) {
  const bool whole = heldWhole(rows, s);
  const int piece = whole ? rows : std::max(1, std::min(reader.pieceRows(pieceBytes()), rows));
  // One number to spare after the values saves the reader a copy (see read(span)).
  const std::size_t room = static_cast<std::size_t>(piece) * s.width + 1;
  // The element labels are counted through the values' array (unless it
  // holds the whole block), so that reading keeps one array in the cache
  // instead of two taking turns (without the computing, 4 to 6 ms of about
  // 210 on the max/min run of the model database).
  const std::size_t bytes = std::max(room * sizeof(T), elementBlock && !whole ? reader.countingBytes() : 0);
  std::byte* storage = pieceValues.get(bytes);
  T* values = std::launder(reinterpret_cast<T*>(storage));
  float* mises = pieceMises.get(piece);
  if (whole) {
    wholePasses(reader, rows, s, values, mises, elementBlock);
    return;
  }
  if (elementBlock) reader.numberOfElements(std::span(storage, bytes));
  do {
    s.startPass();
    for (int first = 0; first < rows; first += piece) {
      const int n = std::min(piece, rows - first);
      reader.read(first, n, std::span<T>(values, room));
      computeRows(s, s.feed, Part::All, reader, values, mises, 0, n);
    }
    s.endPass();
  } while (s.wantsPass());
}

// The selections a block needs, each holding at most its share of the budget.
template <class T>
static void makeSelections(Streamed<T>& s, bool elementTensor) {
  if (!(engg_max || engg_min)) return;
  const int count = elementTensor ? 1 + (s.components ? 6 : 0) : 1 + (s.components && s.kind == BlockKind::Vector ? 3 : 0);
  const std::size_t share = memory_budget / (2 * sizeof(T) * static_cast<std::size_t>(count));
  if (elementTensor) s.mises.emplace(per, engg_min, engg_max, share);
  else if (s.kind != BlockKind::Plain || s.width > 0) s.select[0].emplace(per, engg_min, engg_max, share);
  if (!s.components) return;
  for (int m = 0; m < (elementTensor ? 6 : s.kind == BlockKind::Vector ? 3 : 0); ++m)
    if (!elementTensor || s.counted[m]) s.select[1 + m].emplace(per, engg_min, engg_max, share);
}

template <class T, class R>
static void takeSelection(const std::optional<RankSelect<T>>& s, R& enggMax, R& enggMin) {
  if (!s || s->count() == 0) return;
  if (engg_min) enggMin = static_cast<R>(s->enggMin());
  if (engg_max) enggMax = static_cast<R>(s->enggMax());
}

// The block routine on a block read in pieces: the same results as
// computeBlock on the block held whole.
template <class T>
static void streamBlock(const odb_FieldBulkData& block, const odb_SequenceInvariant& invariants) {
  odb_BlockReader reader(block);
  const int type = block.type();
  const int width = block.width();
  // Every element of a block has as many values as the first: the reader's
  // count of the element labels checks it, so the rows are the block's
  // whole length (numberOfElements() fails otherwise, before any result).
  const int rows = block.length();
  const bool elementBlock = rows > 0 && reader.hasElementLabels();
  startBlock(elementBlock, std::is_same_v<T, double>);

  Streamed<T> s;
  s.width = width;
  s.components = extract_field_components;
  s.kind = elementBlock && odb_vocab::isTensor(type) ? BlockKind::TensorElement
           : type == odb_Enum::VECTOR                ? BlockKind::Vector
                                                     : BlockKind::Plain;
  s.misesRule = elementBlock && invariants.isMember(odb_Enum::MISES) && s.kind == BlockKind::TensorElement;
  if (s.kind == BlockKind::TensorElement) countedPositions(block, width, s.counted);
  makeSelections(s, s.kind == BlockKind::TensorElement);
  if (rows > 0) readPasses(reader, rows, s, elementBlock);

  BlockResult<T>& r = s.r;
  if (s.kind == BlockKind::TensorElement) {
    float misesEnggMax = -FLT_MAX, misesEnggMin = FLT_MAX;
    takeSelection(s.mises, misesEnggMax, misesEnggMin);
    r.enggMax = misesEnggMax;
    r.enggMin = misesEnggMin;
    if (s.components) {
      for (int m = 0; m < 6; ++m) {
        *kTensorEnggMin[m] = DBL_MAX;
        *kTensorEnggMax[m] = -DBL_MAX;
        takeSelection(s.select[1 + m], *kTensorEnggMax[m], *kTensorEnggMin[m]);
      }
    }
  } else {
    takeSelection(s.select[0], r.enggMax, r.enggMin);
    if (s.kind == BlockKind::Vector)
      for (int c = 0; c < 3; ++c) takeSelection(s.select[1 + c], *kVecEnggMax[c], *kVecEnggMin[c]);
  }
  endBlock(r);
  if (!(elementBlock && invariants.isMember(odb_Enum::MISES))) return;
  // The von Mises values of a block that is no tensor are zeros.
  if (s.kind != BlockKind::TensorElement && rows > 0) s.ruleMax = s.ruleMin = 0.0;
  bulkmax = s.ruleMax;
  bulkmin = s.ruleMin;
}

// Blocks under this many values are read whole when the field fits the
// budget: for a small block a reader costs more than the memory it saves
// (the many-small-frames target).
constexpr int kStreamedValues = 1 << 16;

// Whether the block routine computes a block held whole: a small block of a
// field that fits the budget, and any block too small to be selected in
// passes (kCountedSelection).
static bool computedWhole(const odb_FieldBulkData& block) {
  if (block.length() >= kStreamedValues) return false;
  return fieldFits || ((engg_max || engg_min) && block.length() < kCountedSelection);
}

// What computing a block whole holds: its values as stored, its element
// labels, a working array and for a tensor its von Mises values and theirs.
static std::size_t heldBytes(const odb_FieldBulkData& block) {
  const std::size_t bytes = block.precision() == 0 ? 4 : 8;
  std::size_t perRow = (static_cast<std::size_t>(block.width()) + 1) * bytes;
  if (block.position() != odb_Enum::NODAL) perRow += 4;
  if (odb_vocab::isTensor(block.type())) perRow += 8;
  return perRow * static_cast<std::size_t>(block.length());
}

void odbE_printBulkField(const odb_FieldBulkData& block, std::ostream& /*out*/, odb_String /*stepName*/,
                         int /*incrementNumber*/, odb_String /*fieldName*/, const odb_SequenceInvariant& invariants,
                         odb_String /*indent*/, bool /*isComplex*/) {
  if (!computedWhole(block)) {
    if (block.precision() == 0)
      streamBlock<float>(block, invariants);
    else
      streamBlock<double>(block, invariants);
  } else if (block.precision() == 0) {
    computeBlock(block, block.data(), invariants);
  } else {
    computeBlock(block, block.dataDouble(), invariants);
  }
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
  std::size_t held = 0;
  for (const odb_FieldBulkData& block : blocks) held += heldBytes(block);
  fieldFits = held <= memory_budget;
  for (int i = 0; i < blocks.size(); ++i) {
    if (i == 0 && extract_field_components) resetVectorExtremes();
    const odb_FieldBulkData& block = blocks[i];
    type = block.type();
    odbE_printBulkField(block, out, stepName, incrementNumber, fieldName, invariants, blockIndent, isComplex);
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
