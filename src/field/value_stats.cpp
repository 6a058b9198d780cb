// Field value statistics over one set: the extremes of the main quantity,
// of the vector or tensor components and of the stress invariants, written
// as result lines. Points tensorCompPtr at S11Max..S23Max and leaves the
// engineering extremes of the tensor slots in S11EnggMax..S23EnggMin.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "field/beside.h"
#include "field/field.h"
#include "field/lines.h"
#include "field/ranges.h"
#include "field/rank_select.h"
#include "field/results.h"
#include "field/stats.h"
#include "odb/buffer_pool.h"
#include "run/settings.h"

namespace {

// One quantity gathered over the values: its extremes and the working array
// the engineering selection reorders, which holds the values that are numbers
// (a NaN takes no part in a selection). The values are kept as floats while
// every one of them is a float exactly (single-precision data, von Mises,
// magnitudes), which halves the memory and the selection's work; the first
// that is not moves them to doubles. Either way the selection sees the same
// numbers. The arrays come from the reader's pool, so a run reuses them; a
// run without engineering extremes keeps no values at all.
struct Gathered {
  QuantityExtremes e = kUntouched;
  odb_detail::Buffer<float> floats;
  odb_detail::Buffer<double> doubles;
  int count = 0;
  bool started = false, keep = false, wide = false;

  // Called before the first value of n.
  void start(int n, const odb_detail::PoolRef& pool) {
    started = true;
    keep = engg_min || engg_max;
    floats = odb_detail::bufferIn<float>(pool);
    doubles = odb_detail::bufferIn<double>(pool);
    if (keep) floats.resize(static_cast<std::size_t>(n));
  }
  // Gives the arrays back to the pool (assigning {} would only empty them).
  void release() {
    floats = odb_detail::Buffer<float>();
    doubles = odb_detail::Buffer<double>();
  }
  void add(double v) {
    trackExtremes(e.max, e.min, v);
    if (!keep) return;
    const auto at = static_cast<std::size_t>(count);
    count += static_cast<int>(v == v);
    if (!wide) {
      const auto f = static_cast<float>(v);
      if (f == v || v != v) {
        floats[at] = f;
        return;
      }
      widen();
    }
    doubles[at] = v;
  }
  void widen() {
    doubles.resize(floats.size());
    std::copy_n(floats.begin(), count, doubles.begin());
    floats = odb_detail::Buffer<float>();
    wide = true;
  }
  // Both wanted extremes in one selection.
  void select(bool min, bool max) {
    if (!keep) return;
    if (wide) selectEngg(doubles.data(), count, per, min, max, e.enggMin, e.enggMax);
    else selectEngg(floats.data(), count, per, min, max, e.enggMin, e.enggMax);
  }
};

// What one call gathers in its reading pass.
struct SetStats {
  Gathered main;
  Gathered vec[3];
  Gathered slot[6];
  int lastType = 0;
  odb_detail::PoolRef pool;  // the database's, for the arrays above

  void begin(Gathered& g, int n) { g.start(n, pool); }
};

// One quantity of a set whose working arrays would not fit the memory
// budget: its numbers are selected in passes over the values. The first pass
// takes the absolute extremes and feeds two selectors, one of floats while
// every number is a float exactly and one of doubles; after it, the one that
// saw what Gathered would have kept goes on alone, so the ranks fall on the
// same numbers as in memory.
struct Passed {
  QuantityExtremes e = kUntouched;
  std::optional<RankSelect<float>> narrow;
  std::optional<RankSelect<double>> wide;
  bool started = false, first = true;

  // bytes: what each of its two ranks may collect.
  void start(std::size_t bytes) {
    started = true;
    if (!(engg_min || engg_max)) return;
    narrow.emplace(per, engg_min, engg_max, bytes / sizeof(float));
    wide.emplace(per, engg_min, engg_max, bytes / sizeof(double));
  }
  void add(double v) {
    if (first) trackExtremes(e.max, e.min, v);
    if (v != v) return;
    if (narrow) {
      const auto f = static_cast<float>(v);
      if (f == v) narrow->add(f);
      else narrow.reset();  // only ever in the first pass: the later ones see the same numbers
    }
    if (wide) wide->add(v);
  }
  void endPass() {
    if (first && narrow) wide.reset();
    first = false;
    if (narrow) narrow->endPass();
    if (wide) wide->endPass();
  }
  bool wantsPass() const { return (narrow && narrow->wantsPass()) || (wide && wide->wantsPass()); }
  // As Gathered::select: no number leaves the start values.
  void select() {
    if (narrow && narrow->count() > 0) {
      if (engg_min) e.enggMin = narrow->enggMin();
      if (engg_max) e.enggMax = narrow->enggMax();
    } else if (wide && wide->count() > 0) {
      if (engg_min) e.enggMin = wide->enggMin();
      if (engg_max) e.enggMax = wide->enggMax();
    }
  }
};

// What the passes over one set gather.
struct PassStats {
  Passed main;
  Passed vec[3];
  Passed slot[6];
  int lastType = 0;
  std::size_t rankBytes = 0;  // what one rank of one quantity may collect

  void begin(Passed& p, int) { p.start(rankBytes); }
  template <class F>
  void forEach(F&& f) {
    f(main);
    for (Passed& p : vec) f(p);
    for (Passed& p : slot) f(p);
  }
};

}  // namespace

// Reads every value once: the main quantity from the extractor, the
// components from the slots it fills. Component arrays are made on the first
// value of their kind, so a field of one type keeps only what it uses.
template <class Stats>
static void readValues(const odb_SequenceFieldValue& values, std::ostream& out,
                       const odb_SequenceInvariant& invariants, const bool marks[6], const odb_String& indent,
                       bool isComplex, Stats& s) {
  const int n = values.size();
  const odb_String valueIndent = indent + "    ";
  for (int i = 0; i < n; ++i) {
    const odb_FieldValue value = values.constGet(i);
    s.main.add(odbE_printFieldValue(value, out, invariants, marks, valueIndent, isComplex));
    s.lastType = value.type();
    if (!extract_field_components) continue;
    if (s.lastType == odb_Enum::VECTOR) {
      for (int c = 0; c < 3; ++c) {
        if (!s.vec[c].started) s.begin(s.vec[c], n);
        s.vec[c].add(*kVecMax[c]);
      }
    } else if (odb_vocab::isTensor(s.lastType)) {
      for (int k = 0; k < 6; ++k) {
        if (!marks[k]) continue;
        if (!s.slot[k].started) s.begin(s.slot[k], n);
        s.slot[k].add(*tensorCompPtr[k]);
      }
    }
  }
}

// Sets of this many values and more run their selections on two threads.
constexpr int kSplitValues = 1 << 16;

// Hands the engineering extremes of the tensor slots a set's values used to
// the slot globals the lines carry. A slot whose values are all NaN selects
// nothing and hands on its start values.
static void handOnSlots(const SetStats& s, const bool marks[6]) {
  for (int k = 0; k < 6; ++k) {
    if (!marks[k] || !s.slot[k].started) continue;
    if (engg_max) *kTensorEnggMax[k] = s.slot[k].e.enggMax;
    if (engg_min) *kTensorEnggMin[k] = s.slot[k].e.enggMin;
  }
}

// One quantity's numbers in one block: rows numbers `stride` apart.
struct Run {
  const float* first;
  std::size_t rows, stride;
};

// A number for the values without an entry at a quantity's place (the walk
// takes 0 for them).
constexpr float kNoEntry = 0.0f;

// The runs of rows numbers that the walk takes for quantity q of a block of
// `kind`'s values (data: rows x width floats; main: the block's main
// quantity): q = 0 the main quantity, then the vector's three components or
// the tensor's marked slots, each slot the value's next entry.
static Run runOf(int kind, const float* data, const float* main, std::size_t rows, std::size_t width, std::size_t q) {
  if (q == 0) return {main, rows, 1};
  const std::size_t entry = q - 1;
  if (kind == odb_Enum::VECTOR && entry >= width) return {&kNoEntry, rows, 0};
  return {data + entry, rows, width};
}

// The engineering extremes of quantities first, first + step, ... into
// their Gathered, from their runs (runs[q]: quantity q's, a run a block) in
// passes, each pass feeding every selection a few thousand rows at a time,
// so that the rows read for one quantity are still in the cache for the
// next: one quantity after another over the whole array took twice as long.
static void selectEvery(const std::vector<std::vector<Run>>& runs, const std::vector<Gathered*>& quantities,
                        std::size_t first, std::size_t step) {
  constexpr std::size_t kChunk = 2048;
  const std::size_t share = memory_budget / (2 * sizeof(float) * quantities.size());
  std::vector<std::size_t> mine;
  std::vector<RankSelect<float>> select;
  for (std::size_t q = first; q < quantities.size(); q += step)
    mine.push_back(q), select.emplace_back(per, engg_min, engg_max, share);
  std::vector<char> active(mine.size());
  for (;;) {
    bool any = false;
    for (std::size_t i = 0; i < mine.size(); ++i) any |= (active[i] = select[i].wantsPass()) != 0;
    if (!any) break;
    for (std::size_t b = 0; b < runs[0].size(); ++b)
      for (std::size_t r = 0; r < runs[0][b].rows; r += kChunk)
        for (std::size_t i = 0; i < mine.size(); ++i) {
          if (!active[i]) continue;
          const Run& run = runs[mine[i]][b];
          select[i].add(run.first + r * run.stride, std::min(kChunk, run.rows - r), run.stride);
        }
    for (std::size_t i = 0; i < mine.size(); ++i)
      if (active[i]) select[i].endPass();
  }
  for (std::size_t i = 0; i < mine.size(); ++i) {
    if (select[i].count() == 0) continue;
    QuantityExtremes& e = quantities[mine[i]]->e;
    if (engg_min) e.enggMin = select[i].enggMin();
    if (engg_max) e.enggMax = select[i].enggMax();
  }
}

// The statistics of values whose blocks are all float32 and all scalars,
// all vectors or all tensors (each with an entry for every marked slot),
// taken from each block's arrays instead of a call of odbE_printFieldValue
// per value: the main quantity from the block's von Mises values, its one
// column or its rows' magnitudes, the components from its columns.
// Each quantity's extremes come as the walk in order makes them, its
// engineering extremes from passes over the arrays (RankSelect: the numbers
// and ranks of the counted selection, without an array of every number);
// the quantities are independent, and the second core takes every other
// one. The tensor slots are left holding the last value's components, as
// the walk leaves them. False, with nothing done, for any other values. On
// the benchmark's every database, whose set holds every element, the run
// with sets took 0.35 s with this and the invariants' counterpart against
// 0.68 s (nine alternating rounds).
static bool blockStats(const odb_SequenceFieldValue& values, const bool marks[6], SetStats& s) {
  const auto count = static_cast<int>(values.blockStarts().size());
  const auto entries = static_cast<int>(std::count(marks, marks + 6, true));
  std::vector<odb_FieldBulkData> blocks;
  int kind = -1;
  for (int b = 0; b < count; ++b) {
    blocks.push_back(values.block(b));
    const odb_FieldBulkData& block = blocks.back();
    const int type = odb_vocab::isTensor(block.type()) ? odb_Enum::TENSOR_3D_FULL : block.type();
    if (block.precision() != 0 || (kind >= 0 && type != kind)) return false;
    if (type != odb_Enum::SCALAR && type != odb_Enum::VECTOR && type != odb_Enum::TENSOR_3D_FULL) return false;
    if (type == odb_Enum::SCALAR && block.width() != 1) return false;
    if (type == odb_Enum::TENSOR_3D_FULL && extract_field_components && block.width() < entries) return false;
    kind = type;
  }
  if (kind < 0) return false;
  const bool components = extract_field_components && kind != odb_Enum::SCALAR;
  std::vector<Gathered*> quantities{&s.main};
  std::vector<int> slotOf{-1};  // the component slot of each quantity
  for (int k = 0; components && k < (kind == odb_Enum::VECTOR ? 3 : 6); ++k) {
    if (kind != odb_Enum::VECTOR && !marks[k]) continue;
    Gathered& g = kind == odb_Enum::VECTOR ? s.vec[k] : s.slot[k];
    g.started = true;
    quantities.push_back(&g);
    slotOf.push_back(k);
  }
  std::vector<std::vector<Run>> runs(quantities.size());
  std::vector<std::vector<float>> magnitudes;
  // Strict comparisons: of equal extremes, the earlier block's stays.
  auto take = [](QuantityExtremes& e, float hi, float lo) {
    if (e.max < hi) e.max = hi;
    if (e.min > lo) e.min = lo;
  };
  for (const odb_FieldBulkData& block : blocks) {
    const auto rows = static_cast<std::size_t>(block.length());
    if (rows == 0) continue;
    s.lastType = block.type();
    const auto width = static_cast<std::size_t>(block.width());
    const float* data = block.data();  // reads the block, on this thread
    const float* main = data;
    if (kind == odb_Enum::TENSOR_3D_FULL) {
      main = block.mises();
    } else if (kind == odb_Enum::VECTOR) {
      std::vector<float>& m = magnitudes.emplace_back(rows);
      const odb_Enum::odb_InvariantEnum magnitude[] = {odb_Enum::MAGNITUDE};
      float* const into[] = {m.data()};
      block.invariants(0, static_cast<int>(rows), magnitude, into);
      main = m.data();
    }
    // The six columns of a full tensor's rows at once.
    float columnHi[6], columnLo[6];
    const bool sixColumns = kind == odb_Enum::TENSOR_3D_FULL && width == 6 && quantities.size() > 1;
    if (sixColumns) tensorRanges(data, rows, columnHi, columnLo);
    for (std::size_t q = 0; q < quantities.size(); ++q) {
      const Run run = runOf(kind, data, main, rows, width, q);
      runs[q].push_back(run);
      float hi, lo;
      if (sixColumns && q > 0) hi = columnHi[q - 1], lo = columnLo[q - 1];
      else if (run.stride == 1) pieceRange(run.first, rows, hi, lo);
      else columnRange(run.first, rows, run.stride, hi, lo);
      take(quantities[q]->e, hi, lo);
    }
  }
  if (engg_min || engg_max)
    runAlternate(values.size() >= kSplitValues && quantities.size() > 1,
                 [&](std::size_t first, std::size_t step) { selectEvery(runs, quantities, first, step); });
  if (kind != odb_Enum::TENSOR_3D_FULL) return true;
  for (std::size_t q = 1; q < quantities.size(); ++q) {
    if (runs[q].empty()) continue;
    const Run& last = runs[q].back();
    *tensorCompPtr[slotOf[q]] = last.first[(last.rows - 1) * last.stride];
  }
  handOnSlots(s, marks);
  return true;
}

// The engineering selections of every gathered quantity. Each is
// independent of the others: with large sets the second core takes every
// other one.
static void selectEngineering(SetStats& s, const bool marks[6], int n) {
  const bool vector = extract_field_components && s.lastType == odb_Enum::VECTOR;
  const bool tensor = extract_field_components && odb_vocab::isTensor(s.lastType);
  std::vector<Gathered*> todo{&s.main};
  if (vector)
    for (Gathered& g : s.vec) todo.push_back(&g);
  if (tensor)
    for (int k = 0; k < 6; ++k)
      if (marks[k] && s.slot[k].started) todo.push_back(&s.slot[k]);
  runAlternate(n >= kSplitValues && todo.size() > 1, [&](std::size_t first, std::size_t step) {
    for (std::size_t i = first; i < todo.size(); i += step) todo[i]->select(engg_min, engg_max);
  });
  if (tensor) handOnSlots(s, marks);
}

template <class Stats>
static void writeTypeLines(std::ostream& out, const std::string& head, const Stats& s, const bool marks[6]) {
  if (s.lastType == odb_Enum::SCALAR) {
    writeGroup(out, head, "", s.main.e);
  } else if (s.lastType == odb_Enum::VECTOR) {
    writeGroup(out, head, "mag", s.main.e);
    if (extract_field_components) {
      const QuantityExtremes c[3] = {s.vec[0].e, s.vec[1].e, s.vec[2].e};
      writeVectorComponents(out, head, c);
    }
  } else if (odb_vocab::isTensor(s.lastType)) {
    writeGroup(out, head, "mises", s.main.e);
    if (!extract_field_components) return;
    for (int k = 0; k < 6; ++k) {
      if (!marks[k]) continue;
      // The engineering lines carry the slot globals, as the bulk path does.
      const QuantityExtremes e{s.slot[k].e.max, s.slot[k].e.min, *kTensorEnggMax[k], *kTensorEnggMin[k]};
      writeGroup(out, head, odb_vocab::kTensorSuffixes[k], e);
    }
  }
}

// The rows of kInvariantRows that invariants holds, into rows; returns their count.
static int invariantRows(const odb_SequenceInvariant& invariants, int rows[9]) {
  int count = 0;
  for (int row = 0; row < 9; ++row)
    if (invariants.isMember(kInvariantRows[row].code)) rows[count++] = row;
  return count;
}

// The lines of one invariant: each extreme that a value reached.
static void writeInvariantGroup(std::ostream& out, const std::string& head, const char* label,
                                const QuantityExtremes& e) {
  if (e.max != -DBL_MAX) writeResultLine(out, head, statSuffix(label, "max"), e.max);
  if (e.min != DBL_MAX) writeResultLine(out, head, statSuffix(label, "min"), e.min);
  if (engg_max && e.enggMax != -DBL_MAX) writeResultLine(out, head, statSuffix(label, "enggmax"), e.enggMax);
  if (engg_min && e.enggMin != DBL_MAX) writeResultLine(out, head, statSuffix(label, "enggmin"), e.enggMin);
}

// The invariants of rows [first, end): their extremes into e, and the ones
// that are numbers into work[k] from index `first` on, counted in numbers.
// The floats odbE_getTensorValue gives, from each block a few thousand rows
// at a time (odb_FieldBulkData::invariants: a row's principal values once
// for all the invariants that need them).
static void invariantsOfRows(const odb_SequenceFieldValue& values, int first, int end, const int* rows, int count,
                             odb_detail::Buffer<float>* work, QuantityExtremes* e, int* numbers) {
  constexpr int kChunk = 2048;
  std::vector<float> chunk(static_cast<std::size_t>(count) * kChunk);
  odb_Enum::odb_InvariantEnum which[9];
  float* out[9];
  for (int k = 0; k < count; ++k) which[k] = kInvariantRows[rows[k]].code, out[k] = chunk.data() + k * kChunk;
  const std::vector<int>& starts = values.blockStarts();
  for (std::size_t b = 0; b < starts.size(); ++b) {
    const int from = std::max(first, starts[b]);
    const int to = std::min(end, b + 1 < starts.size() ? starts[b + 1] : values.size());
    if (from >= to) continue;
    const odb_FieldBulkData block = values.block(static_cast<int>(b));
    for (int i = from; i < to; i += kChunk) {
      const int n = std::min(kChunk, to - i);
      block.invariants(i - starts[b], n, std::span(which, static_cast<std::size_t>(count)),
                       std::span(out, static_cast<std::size_t>(count)));
      for (int k = 0; k < count; ++k)
        for (int j = 0; j < n; ++j) {
          const double x = out[k][j];
          trackExtremes(e[k].max, e[k].min, x);
          work[k][static_cast<std::size_t>(first + numbers[k])] = static_cast<float>(x);
          numbers[k] += static_cast<int>(x == x);
        }
    }
  }
}

// The block start nearest the middle of the values, 0 when they are one block.
static int middleBlockStart(const odb_SequenceFieldValue& values) {
  const int n = values.size();
  int best = 0;
  for (const int start : values.blockStarts())
    if (start > 0 && start < n && std::abs(2 * start - n) < std::abs(2 * best - n)) best = start;
  return best;
}

// One pass over the values for all valid invariants, so that each value's
// principal values are computed once; each invariant has its own array of
// the values that are numbers (floats: the invariants are floats), selected
// from and written in turn. Values that span blocks are computed on two
// threads, each on whole blocks (the library's rule for sharing values), and
// the selections split between them; the extremes and the arrays come out
// as one walk in order makes them.
static void writeInvariantLines(const odb_SequenceFieldValue& values, std::ostream& out, const std::string& head,
                                const odb_SequenceInvariant& invariants) {
  const int n = values.size();
  int rows[9];
  const int count = invariantRows(invariants, rows);
  if (count == 0) return;
  QuantityExtremes e[9], later[9];
  odb_detail::Buffer<float> work[9];
  int numbers[9] = {}, laterNumbers[9] = {};
  for (int k = 0; k < count; ++k) {
    e[k] = later[k] = kUntouched;
    work[k] = odb_detail::bufferIn<float>(odb_detail::poolOf(values.impl()));
    work[k].resize(static_cast<std::size_t>(n));
  }
  const int mid = middleBlockStart(values);
  if (mid == 0) {
    invariantsOfRows(values, 0, n, rows, count, work, e, numbers);
  } else {
    const odb_SequenceFieldValue second = values;  // its own place in the walk
    runBeside([&] { invariantsOfRows(second, mid, n, rows, count, work, later, laterNumbers); },
              [&] { invariantsOfRows(values, 0, mid, rows, count, work, e, numbers); });
    for (int k = 0; k < count; ++k) {
      // Strict comparisons keep the earlier of equal extremes, as one walk does.
      if (e[k].max < later[k].max) e[k].max = later[k].max;
      if (e[k].min > later[k].min) e[k].min = later[k].min;
      float* w = work[k].data();
      if (numbers[k] < mid) std::copy(w + mid, w + mid + laterNumbers[k], w + numbers[k]);
      numbers[k] += laterNumbers[k];
    }
  }
  auto select = [&](int k) {
    selectEngg(work[k].data(), numbers[k], per, engg_min && e[k].min != DBL_MAX, engg_max && e[k].max != -DBL_MAX,
               e[k].enggMin, e[k].enggMax);
  };
  runAlternate(mid != 0 && (engg_min || engg_max), [&](int first, int step) {
    for (int k = first; k < count; k += step) select(k);
  });
  for (int k = 0; k < count; ++k) {
    work[k] = odb_detail::Buffer<float>();
    writeInvariantGroup(out, head, kInvariantRows[rows[k]].label, e[k]);
  }
}

// The invariant lines of a set whose values are read in passes: the same
// quantities and lines as writeInvariantLines, each invariant selected by
// RankSelect over the passes instead of from an array of every value.
static void writeInvariantLinesInPasses(const odb_SequenceFieldValue& values, std::ostream& out,
                                        const std::string& head, const odb_SequenceInvariant& invariants,
                                        std::size_t selectionBytes) {
  const int n = values.size();
  int rows[9];
  const int count = invariantRows(invariants, rows);
  if (count == 0) return;
  QuantityExtremes e[9];
  std::vector<RankSelect<float>> select;
  select.reserve(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    e[k] = kUntouched;
    select.emplace_back(per, engg_min, engg_max, selectionBytes / (2 * sizeof(float) * static_cast<std::size_t>(count)));
  }
  bool active[9];
  for (bool first = true;; first = false) {
    bool any = first;  // the first pass takes the absolute extremes
    for (int k = 0; k < count; ++k) {
      active[k] = select[k].wantsPass();
      any = any || active[k];
    }
    if (!any) break;
    for (int i = 0; i < n; ++i) {
      const odb_FieldValue value = values.constGet(i);
      for (int k = 0; k < count; ++k) {
        const double x = odbE_getTensorValue(value, rows[k]);
        if (first) trackExtremes(e[k].max, e[k].min, x);
        if (active[k] && x == x) select[k].add(static_cast<float>(x));
      }
    }
    for (int k = 0; k < count; ++k)
      if (active[k]) select[k].endPass();
  }
  for (int k = 0; k < count; ++k) {
    if (select[k].count() > 0) {
      if (engg_min && e[k].min != DBL_MAX) e[k].enggMin = select[k].enggMin();
      if (engg_max && e[k].max != -DBL_MAX) e[k].enggMax = select[k].enggMax();
    }
    writeInvariantGroup(out, head, kInvariantRows[rows[k]].label, e[k]);
  }
}

double odbE_getTensorValue(const odb_FieldValue& value, int selector) {
  switch (selector) {
    case 0: return value.tresca();
    case 1: return value.press();
    case 2: return value.inv3();
    case 3: return value.maxPrincipal();
    case 4: return value.midPrincipal();
    case 5: return value.minPrincipal();
    case 6: return value.maxInPlanePrincipal();
    case 7: return value.minInPlanePrincipal();
    case 8: return value.outOfPlanePrincipal();
    default: return -DBL_MAX;
  }
}

// Whether the statistics of a set fit the memory budget: the values as
// stored, and the larger of the working arrays of the value pass (the main
// quantity and the components) and of the invariants, each array counted at
// its widest (doubles; von Mises values and magnitudes stay floats).
static bool fitsBudget(const odb_SequenceFieldValue& values, int type, const bool marks[6], bool invariantLines,
                       const odb_SequenceInvariant& invariants) {
  // Small sets stay in memory: their selections order in place, where -0 and +0 are equal.
  if (values.size() < kCountedSelection) return true;
  const auto n = static_cast<std::size_t>(values.size());
  std::size_t gathered = 0, invariantArrays = 0;
  if (engg_min || engg_max) {
    const bool tensor = odb_vocab::isTensor(type);
    std::size_t components = 0;
    if (extract_field_components && type == odb_Enum::VECTOR) components = 3;
    if (extract_field_components && tensor)
      for (int k = 0; k < 6; ++k) components += marks[k];
    gathered = n * ((tensor || type == odb_Enum::VECTOR ? 4 : 8) + 8 * components);
  }
  if (invariantLines)
    for (const InvariantRow& row : kInvariantRows) invariantArrays += invariants.isMember(row.code) ? 4 * n : 0;
  return values.storedBytes() + std::max(gathered, invariantArrays) <= memory_budget;
}

// The bytes of values a windowed sequence holds at once, per block.
static std::size_t windowBytes() { return std::clamp<std::size_t>(memory_budget / 16, 1 << 20, 32 << 20); }

// The statistics of a set beyond the memory budget: the values are read in
// windows, in passes, and the engineering extremes selected as they go by;
// the lines are those of the in-memory statistics, byte for byte.
static void printInPasses(const odb_SequenceFieldValue& all, std::ostream& out, const std::string& head,
                          const odb_SequenceInvariant& invariants, const bool marks[6], const odb_String& indent,
                          bool isComplex, bool invariantLines) {
  const std::size_t window = windowBytes();
  const odb_SequenceFieldValue values = all.windowed(window);
  const int n = values.size();
  // The selections share a quarter of the budget: at most seven quantities
  // of two ranks each. A rank whose bucket is larger than its share counts
  // the next bits of the keys in one more pass instead of collecting them.
  const std::size_t selectionBytes = memory_budget / 4;
  PassStats s;
  s.rankBytes = selectionBytes / (7 * 2);
  s.begin(s.main, n);
  do {
    readValues(values, out, invariants, marks, indent, isComplex, s);
    s.forEach([](Passed& p) { if (p.started) p.endPass(); });
  } while ([&] {
    bool more = false;
    s.forEach([&](Passed& p) { more |= p.wantsPass(); });
    return more;
  }());
  const bool tensor = extract_field_components && odb_vocab::isTensor(s.lastType);
  s.forEach([](Passed& p) { p.select(); });
  for (int k = 0; k < 6 && tensor; ++k) {
    if (!marks[k] || !s.slot[k].started) continue;
    if (engg_max) *kTensorEnggMax[k] = s.slot[k].e.enggMax;
    if (engg_min) *kTensorEnggMin[k] = s.slot[k].e.enggMin;
  }
  if (s.main.e.max != -DBL_MAX) writeTypeLines(out, head, s, marks);
  if (invariantLines) writeInvariantLinesInPasses(values, out, head, invariants, selectionBytes);
}

void odbE_printFieldValueCon(const odb_SequenceFieldValue& values, std::ostream& out, odb_String stepName,
                             int incrementNumber, odb_String /*regionKind*/, odb_String regionName,
                             odb_String fieldName, const odb_SequenceInvariant& invariants,
                             odb_SequenceString& componentLabels, odb_Enum::odb_DataTypeEnum type,
                             odb_String indent, bool isComplex) {
  const int n = values.size();
  for (int k = 0; k < 6; ++k) tensorCompPtr[k] = kTensorMax[k];
  bool marks[6];
  componentMarks(componentLabels, marks);
  if (containsText(regionName, "Warn") || containsText(regionName, "Info")) return;
  if (n == 0) return;
  // The field output's type only sizes the working arrays; the lines follow the values' own.
  const bool invariantLines = tensor_invariants && cleanName(fieldName) == odb_String("S");
  if (!fitsBudget(values, type, marks, invariantLines, invariants)) {
    printInPasses(values, out, resultHead(stepName, incrementNumber, regionName, fieldName), invariants, marks,
                  indent, isComplex, invariantLines);
    return;
  }

  SetStats s;
  s.pool = odb_detail::poolOf(values.impl());
  if (!blockStats(values, marks, s)) {
    s.main.start(n, s.pool);
    readValues(values, out, invariants, marks, indent, isComplex, s);
    if (engg_min || engg_max) selectEngineering(s, marks, n);
  }
  for (Gathered& g : s.vec) g.release();
  for (Gathered& g : s.slot) g.release();

  const std::string head = resultHead(stepName, incrementNumber, regionName, fieldName);
  if (s.main.e.max != -DBL_MAX) writeTypeLines(out, head, s, marks);
  s.main.release();
  if (tensor_invariants && cleanName(fieldName) == odb_String("S")) writeInvariantLines(values, out, head, invariants);
}
