#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <sstream>
#include <vector>

#include "field/field.h"
#include "field/lines.h"
#include "field/results.h"
#include "field/rank_select.h"
#include "field/stats.h"
#include "run/settings.h"
#include "sample_db.h"
#include "test_support.h"

namespace {

const double kNaN = std::nan("");

std::vector<double> range(int from, int to) {
  std::vector<double> v(static_cast<std::size_t>(to - from + 1));
  std::iota(v.begin(), v.end(), from);
  std::shuffle(v.begin(), v.end(), std::mt19937(7));  // so that a selection right on sorted input only fails
  return v;
}

// 20000 ones, then 20000 twos.
std::vector<double> twoValues() { std::vector<double> v(20000, 1.0); v.resize(40000, 2.0); return v; }

TEST(EngineeringSelection, PicksTheKthValueFromEachEnd) {
  const struct Case { const char* name; std::vector<double> values; double per, enggMin, enggMax; } cases[] = {
      {"per 0 is the extreme itself", {5, 1, 3}, 0, 1, 5},
      {"per 100 crosses over", {5, 1, 3}, 100, 5, 1},
      {"1..3 at 50: k = 1", {2, 3, 1}, 50, 1, 3},
      {"1..10 at 25: k = 2", range(1, 10), 25, 2, 9},
      {"k is n * per / 100, not n * (per / 100)", range(1, 100), 29, 29, 72},
      {"negative values at 50", {-5, -3, -9, -1}, 50, -5, -3},
      {"per above 100 acts as 100", range(1, 10), 150, 10, 1},
      {"per below 0 acts as 0", range(1, 10), -20, 1, 10},
      {"NaN per acts as 0", range(1, 10), kNaN, 1, 10},
      {"duplicates: k = 2 lands on the second copy", {2, 2, 1, 1, 3, 3}, 40, 1, 3},
      // From 16384 values on, the keys' top bits are counted first and one bucket is ordered.
      {"counted: both signs at 30", range(-60000, 60000), 30, -24001, 24001},
      {"counted: one value everywhere, both ranks in one bucket", std::vector<double>(20000, 7), 5, 7, 7},
      {"counted: the maximum's rank opens the upper bucket", twoValues(), 50, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> work = c.values;
    const int n = static_cast<int>(work.size());  // minimum first on the same array, as the writers do
    EXPECT_EQ(enggMinimum(work.data(), n, c.per), c.enggMin);
    EXPECT_EQ(enggMaximum(work.data(), n, c.per), c.enggMax);
    std::vector<float> single(c.values.begin(), c.values.end());
    EXPECT_EQ(enggMinimum(single.data(), n, c.per), static_cast<float>(c.enggMin));
    EXPECT_EQ(enggMaximum(single.data(), n, c.per), static_cast<float>(c.enggMax));
  }
}

// Selection in passes against the counted in-memory selection: the same numbers, bit for bit, at budgets that collect a
// bucket at once and at one that counts through every bit of the keys; float data in two passes at most, double data in
// four; whole or in two parts joined. The numbers come in runs of 777, every other one of an array whose numbers in
// between must take no part.
template <class T>
void checkPasses(const std::vector<double>& data, double per, std::size_t budget) {
  std::vector<T> numbers, negated, strided;
  for (double v : data) {
    if (v == v) numbers.push_back(static_cast<T>(v)), negated.push_back(-static_cast<T>(v));
    strided.insert(strided.end(), {static_cast<T>(v), T(1e30)});
  }
  // (minimum, maximum) as bits: of a selection, and in memory of the numbers and of their negations.
  using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
  const auto bits = [](T mn, T mx) { return std::pair(std::bit_cast<Bits>(mn), std::bit_cast<Bits>(mx)); };
  const auto of = [&](const RankSelect<T>& s) { return bits(s.enggMin(), s.enggMax()); };
  std::pair<Bits, Bits> want[2];
  for (std::vector<T>* v : {&numbers, &negated}) {
    T mn{}, mx{};
    enggExtremes(v->data(), static_cast<int>(v->size()), per, &mn, &mx);
    want[v == &negated] = bits(mn, mx);
  }
  // Whole, and in two parts: the runs after the middle go to a part() of the selection, joined after each pass.
  const std::size_t middle = data.size() / 2 / 777 * 777;
  for (bool parts : {false, true}) {
    RankSelect<T> select(per, true, true, budget);
    do {
      RankSelect<T> later = select.part();
      for (std::size_t i = 0; i < data.size(); i += 777) {
        const std::size_t n = std::min<std::size_t>(777, data.size() - i);
        (parts && i >= middle ? later : select).add(strided.data() + 2 * i, n, 2);
      }
      select.join(later), select.endPass();
    } while (select.wantsPass());
    EXPECT_EQ(std::tuple(select.count(), of(select)), std::tuple(std::ssize(numbers), want[0])) << parts;
    EXPECT_LE(select.passes(), sizeof(T) == 4 ? 2 : 4);
  }

  // The same through addColumns, every column of rows x width numbers selected at once: the numbers in the
  // last column, their negations in the others.
  for (int width : {1, 2, 3, 6}) {
    SCOPED_TRACE("addColumns, width " + std::to_string(width));
    const auto w = static_cast<std::size_t>(width);
    std::vector<T> rows(data.size() * w);
    for (std::size_t i = 0; i < data.size(); ++i)
      for (std::size_t m = 0; m < w; ++m)
        rows[i * w + m] = m + 1 == w ? static_cast<T>(data[i]) : -static_cast<T>(data[i]);
    std::vector<RankSelect<T>> columns(w, RankSelect<T>(per, true, true, budget));
    for (bool more = true; more;) {
      RankSelect<T>* feed[6] = {};
      for (std::size_t m = 0; m < w; ++m) feed[m] = columns[m].wantsPass() ? &columns[m] : nullptr;
      for (std::size_t i = 0; i < data.size(); i += 777)
        addColumns(feed, width, rows.data() + i * w, std::min<std::size_t>(777, data.size() - i));
      more = false;
      for (std::size_t m = 0; m < w; ++m)
        if (feed[m]) columns[m].endPass(), more = more || columns[m].wantsPass();
    }
    for (std::size_t m = 0; m < w; ++m) EXPECT_EQ(of(columns[m]), want[m + 1 < w]) << m;
  }
}

TEST(EngineeringSelection, InPassesAsInMemory) {
  std::mt19937 rng(11);
  std::vector<double> wide(50000), zeros(40000, 0.0), nan = range(1, 30000), fine(60000);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (double& v : wide) v = std::ldexp(unit(rng), static_cast<int>(rng() % 600) - 300);
  for (std::size_t i = 0; i < zeros.size(); i += 2) zeros[i] = -0.0;
  for (std::size_t i = 0; i < nan.size(); i += 3) nan[i] = kNaN;
  // Neighbours in the last bits: one bucket of the top 16 bits holds them all.
  for (double& v : fine) v = 1.0 + std::ldexp(static_cast<double>(rng() % 1000), -40);
  // Mostly NaN: fewer numbers than a counted selection takes, zeros of both signs at the ranks.
  std::vector<double> sparse(40000, kNaN);
  for (std::size_t i = 0; i < sparse.size(); i += 4) sparse[i] = (i / 4) % 3 == 0 ? -0.0 : (i / 4) % 3 == 1 ? 0.0 : 1.0;
  // Infinities at both ranks, beside NaNs of payload 1, whose keys share the infinities' buckets.
  std::vector<double> infinite(30000);
  const double nanOne = std::bit_cast<double>(std::bit_cast<std::uint64_t>(HUGE_VAL) | 1);
  for (std::size_t i = 0; i < infinite.size(); ++i)
    infinite[i] = i % 4 == 0 ? HUGE_VAL : i % 4 == 1 ? -HUGE_VAL : i % 4 == 2 ? nanOne : static_cast<double>(i);
  const struct Case { const char* name; std::vector<double> values; double per; } cases[] = {
      {"both signs at 30", range(-60000, 60000), 30},
      {"one value everywhere", std::vector<double>(20000, 7), 5},
      {"two values, the maximum's rank opens the upper bucket", twoValues(), 50},
      {"signed zeros: -0 below +0", zeros, 50},
      {"huge and tiny magnitudes", wide, 33.3},
      {"NaN takes no part", nan, 10},
      {"neighbours in the last bits", fine, 5},
      {"per 0 and the extremes", range(-20000, 20000), 0},
      {"mostly NaN: ordered as in memory, -0 and +0 tie", sparse, 40},
      {"infinities beside NaNs in their buckets", infinite, 10},
  };
  for (const Case& c : cases)
    for (std::size_t budget : {std::size_t{1}, std::size_t{5000}, std::size_t{1} << 30}) {
      SCOPED_TRACE(std::string(c.name) + ", budget " + std::to_string(budget));
      checkPasses<float>(c.values, c.per, budget);
      checkPasses<double>(c.values, c.per, budget);
    }
}

TEST(RunningExtremes, StrictSignedAndBlindToNaN) {
  struct Case { const char* name; std::vector<double> values; double max, min; } cases[] = {
      {"negative values", {-5, -3}, -3, -5},
      {"NaN first", {kNaN, 2, kNaN, -1}, 2, -1},
      {"all NaN (or no value) leaves the start values", {kNaN, kNaN}, -DBL_MAX, DBL_MAX},
      {"signed zeros compare equal", {0.0, -0.0}, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    double mx = -DBL_MAX, mn = DBL_MAX;
    for (double v : c.values) trackExtremes(mx, mn, v);
    EXPECT_EQ(std::tuple(mx, mn), std::tuple(c.max, c.min)) << c.name;
  }
}

// Numbers are written as "%g" prints them, whatever the stream's settings.
TEST(ResultLine, NumbersAsPrintfWritesThem) {
  const double values[] = {245.3, 1.5e-05, 1e30, -DBL_MAX, -FLT_MAX, 1234567.0, 0.0, -0.0, 100000, 999999.5,
                           1e-320, INFINITY, -INFINITY, kNaN, -kNaN, std::nextafter(1.0, 2.0), 0.1f};
  std::ostringstream out;
  out.precision(17);
  out.setf(std::ios::fixed | std::ios::showpos);
  for (double v : values) {
    char want[32];
    std::snprintf(want, sizeof want, "%g", v);
    out.str(""), writeResultLine(out, "S", "__max", v);
    EXPECT_EQ(out.str(), std::string("S__max\t") + want + "\n");
  }
}

TEST(ComponentMarks, LastTwoCharacters) {
  struct Case { const char* name; std::vector<odb_String> labels; std::vector<bool> marks; } cases[] = {
      {"full stress", {"S11", "S22", "S33", "S12", "S13", "S23"}, {1, 1, 1, 1, 1, 1}},
      {"plane stress", {"S11", "S22", "S33", "S12"}, {1, 1, 1, 1, 0, 0}},
      {"strain and bare labels", {"LE11", "22", "E12"}, {1, 1, 0, 1, 0, 0}},
      {"short labels set nothing", {"1", "", "U1"}, {0, 0, 0, 0, 0, 0}},
      {"reversed pair is not a match", {"S21", "S31"}, {0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool marks[6];
    componentMarks(odb_SequenceString(c.labels), marks);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(marks[i], c.marks[static_cast<std::size_t>(i)]) << i;
  }
}

// The per-value extractor hands each marked tensor component over through tensorCompPtr; the marks come from
// the caller, and a value with fewer data entries than marked components leaves the slots past its data alone.
// labels: the stored field's, one value of as many entries; slots: 11 22 33 12 13 23 afterwards, each starting at
// -7, all six marked.
TEST(PerValueComponents, MarkedSlotsGetTheValuesData) {
  const struct Case { const char* name; std::vector<std::string> labels; std::vector<double> slots; } cases[] = {
      {"full tensor", {"S11", "S22", "S33", "S12", "S13", "S23"}, {1, 2, 3, 4, 5, 6}},
      {"fewer data entries than marked components", {"S11", "S22", "S33"}, {1, 2, 3, -7, -7, -7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    std::vector<float> data(c.labels.size());
    std::iota(data.begin(), data.end(), 1.0f);
    odbw::Writer w(dir.file("v.odb"));
    w.addPart("PART-1"), w.addInstance("PART-1-1", "PART-1"), w.addStep("Step-1");
    w.setInstanceNodes("PART-1-1", std::vector<int>{1}, std::vector<double>{0, 0, 0});
    w.addFrame("Step-1", {.incrementNumber = 1});
    w.addFieldOutput("Step-1", 0, "S", {.type = odb_Enum::TENSOR_3D_FULL, .componentLabels = c.labels});
    w.addBlock("Step-1", 0, "S", {.instance = "PART-1-1", .nodeLabels = {1}}, data, static_cast<int>(data.size()));
    w.close();
    odb_Odb& odb = openOdb(dir.file("v.odb"));
    const odb_FieldOutput s = sample::field(odb, "S");
    const bool marks[6] = {true, true, true, true, true, true};
    double slots[6] = {-7, -7, -7, -7, -7, -7};
    for (int k = 0; k < 6; ++k) tensorCompPtr[k] = &slots[k];
    const bool before = std::exchange(extract_field_components, true);
    std::ostringstream out;
    odbE_printFieldValue(s.values()[0], out, {}, marks, "", false);
    extract_field_components = before;
    for (int k = 0; k < 6; ++k) tensorCompPtr[k] = nullptr;
    EXPECT_EQ(std::vector<double>(slots, slots + 6), c.slots);
    odb.close();
  }
}

}  // namespace
