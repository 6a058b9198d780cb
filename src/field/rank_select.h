// Engineering extremes of numbers too many to hold: the same selection as
// enggExtremes (field/stats.h), found in passes over data the caller reads
// again for each pass, holding a bounded number of values.
//
// Each pass sees the same numbers (no NaN), in any order. The first pass
// counts them and the top 16 bits of their order keys; the bucket that holds
// a wanted rank then either fits the budget and is collected and ordered in
// the next pass, or the next 16 bits of the keys inside it are counted, until
// the key is whole. So float data takes two passes at most and double data
// four, whatever the numbers are: one value repeated everywhere just runs
// through the key bits like any other. Keys order -0 below +0, as the counted
// in-memory selection does. Fewer than kCountedSelection numbers (a large
// array of mostly NaN) are collected whole in the second pass, in the order
// they come, and selected as in memory (enggExtremes), where -0 and +0 tie.
//
//   RankSelect<float> select(per, wantMin, wantMax, budgetValues);
//   do {
//     for (each run of the data) select.add(run, n, stride);
//     select.endPass();
//   } while (select.wantsPass());
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "field/stats.h"

template <class T>
class RankSelect {
  using Key = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
  static constexpr int kKeyBits = static_cast<int>(sizeof(Key)) * 8;
  static constexpr int kBits = 16;
  static constexpr std::size_t kBuckets = std::size_t{1} << kBits;

 public:
  // budgetValues: the most numbers one wanted rank may collect at once.
  RankSelect(double percentage, bool wantMin, bool wantMax, std::size_t budgetValues)
      : per_(percentage), budget_(std::max<std::size_t>(budgetValues, 1)) {
    rank_[0].wanted = wantMin;
    rank_[1].wanted = wantMax;
    if (wantMin || wantMax) first_.assign(kBuckets, 0);
  }

  // True while the data must be read (again): from the start until every
  // wanted rank is found. Nothing wanted: no pass at all.
  bool wantsPass() const { return pending() && (pass_ == 0 || rank_[0].active() || rank_[1].active()); }

  void add(T v) { add(&v, 1, 1); }
  // Adds data[0], data[stride], ... (n numbers) to the pass, skipping NaN.
  void add(const T* data, std::size_t n, std::size_t stride) {
    if (few_) {
      for (std::size_t i = 0; i < n; ++i)
        if (const T v = data[i * stride]; v == v) all_.push_back(v);
      return;
    }
    if (pass_ == 0) {
      std::uint32_t* counts = first_.data();
      std::size_t numbers = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const T v = data[i * stride];
        if (v != v) continue;
        ++numbers;
        ++counts[orderKey(v) >> (kKeyBits - kBits)];
      }
      count_ += static_cast<long long>(numbers);
      return;
    }
    // Later passes: the numbers whose keys start with a gathering rank's prefix
    // are few; one loop tests every number against both ranks' key ranges.
    Rank* gathering[2] = {};
    int g = 0;
    for (Rank& k : rank_)
      if (k.active() && k.sharedWith < 0) gathering[g++] = &k;
    if (g == 1) gather<1>(gathering, data, n, stride);
    if (g == 2) gather<2>(gathering, data, n, stride);
  }

  void endPass() {
    if (pass_++ == 0) {
      firstPassDone();
      return;
    }
    if (few_) {
      selectFew();
      return;
    }
    // How this pass gathered, before the first rank's results change it.
    const bool collected[2] = {rank_[0].collect, rank_[1].collect};
    for (int r = 0; r < 2; ++r) {
      Rank& k = rank_[r];
      if (!k.active()) continue;
      const int from = k.sharedWith >= 0 ? k.sharedWith : r;
      Rank& source = rank_[from];
      if (collected[from]) {
        // Both ranks may select in one array: the second selection reorders what the first left.
        if (k.rank >= static_cast<long long>(source.picked.size())) changed();
        const auto nth = source.picked.begin() + static_cast<std::ptrdiff_t>(k.rank);
        std::nth_element(source.picked.begin(), nth, source.picked.end());
        k.value = *nth;
        k.found = true;
      } else {
        narrow(k, source.counts);
      }
    }
    for (Rank& k : rank_)
      if (k.found) {
        k.picked = std::vector<T>();
        k.counts = std::vector<std::uint32_t>();
      }
    if (rank_[0].active() || rank_[1].active()) share();
  }

  // A selection that takes part of this pass's numbers beside this one: a
  // copy of it as the pass starts, with nothing counted or kept yet. join()
  // then adds what it saw to this one's.
  RankSelect part() const {
    RankSelect p(*this);
    for (Rank& k : p.rank_)
      if (k.active() && k.sharedWith < 0 && k.collect) k.picked.reserve(k.expected);
    return p;
  }
  // Takes in what part `later` saw of this pass: numbers that come after
  // this one's, so that kept numbers stand in the order one selection would
  // have kept them.
  void join(const RankSelect& later) {
    if (few_) {
      all_.insert(all_.end(), later.all_.begin(), later.all_.end());
      return;
    }
    if (pass_ == 0) {
      count_ += later.count_;
      for (std::size_t b = 0; b < first_.size(); ++b) first_[b] += later.first_[b];
      return;
    }
    for (int r = 0; r < 2; ++r) {
      Rank& k = rank_[r];
      const Rank& o = later.rank_[r];
      if (!k.active() || k.sharedWith >= 0) continue;
      if (k.collect) k.picked.insert(k.picked.end(), o.picked.begin(), o.picked.end());
      else
        for (std::size_t b = 0; b < kBuckets; ++b) k.counts[b] += o.counts[b];
    }
  }

  // A number of a pass after the first that may lie in a key range: kept as
  // add() keeps it.
  void keep(T v) {
    if (v != v) return;
    const Key key = orderKey(v);
    for (Rank& k : rank_)
      if (k.active() && k.sharedWith < 0) {
        Key low, span;
        keyRange(k, low, span);
        if (static_cast<Key>(key - low) <= span) take(k, v, key);
      }
  }

  // The key ranges a pass after the first keeps numbers from (at most two):
  // add() passes over every number whose key is in none of them. Returns
  // their count, or -1 when the pass takes every number (the first pass,
  // few numbers).
  int keyRanges(Key low[2], Key span[2]) const {
    if (pass_ == 0 || few_) return -1;
    int g = 0;
    for (const Rank& k : rank_)
      if (k.active() && k.sharedWith < 0) keyRange(k, low[g], span[g]), ++g;
    return g;
  }

  // The first pass's counts of the top bits of the keys, for addColumns,
  // which then counts the numbers it took (counted): null in other passes.
  std::uint32_t* firstCounts() { return pass_ == 0 && !first_.empty() ? first_.data() : nullptr; }
  void counted(long long numbers) { count_ += numbers; }
  static constexpr int kTopShift = kKeyBits - kBits;

  // The numbers of one pass (after the first).
  long long count() const { return count_; }
  // The engineering minimum and maximum: valid once wantsPass() is false, when
  // count() > 0 and the extreme was wanted.
  T enggMin() const { return rank_[0].value; }
  T enggMax() const { return rank_[1].value; }
  // The passes read so far.
  int passes() const { return pass_; }

 private:
  struct Rank {
    bool wanted = false, found = false;
    long long rank = 0;  // among the numbers whose keys start with prefix
    Key prefix = 0;
    int known = 0;       // bits of the key known: those of prefix
    bool collect = false;
    int sharedWith = -1;  // the rank that gathers for this one in this pass
    std::size_t expected = 0;  // the numbers in the bucket of prefix
    std::vector<T> picked;
    std::vector<std::uint32_t> counts;
    T value{};
    bool active() const { return wanted && !found; }
  };

  bool pending() const { return (rank_[0].wanted || rank_[1].wanted) && !(pass_ > 0 && count_ == 0); }

  static T fromKey(Key key) {
    constexpr Key top = Key{1} << (kKeyBits - 1);
    return std::bit_cast<T>((key & top) ? key ^ top : ~key);
  }

  void firstPassDone() {
    if (count_ == 0) {
      rank_[0].wanted = rank_[1].wanted = false;
      return;
    }
    const int n = static_cast<int>(count_);
    if (n < kCountedSelection) {
      few_ = true;
      all_.reserve(static_cast<std::size_t>(n));
      first_ = std::vector<std::uint32_t>();
      return;
    }
    const int pos = enggPosition(n, per_);
    rank_[0].rank = pos;
    rank_[1].rank = n - 1 - pos;
    for (Rank& k : rank_)
      if (k.wanted) narrow(k, first_);
    first_ = std::vector<std::uint32_t>();
    share();
  }

  // The selection of the in-memory path over the numbers collected in order.
  void selectFew() {
    if (static_cast<long long>(all_.size()) != count_) changed();
    T mn{}, mx{};
    enggExtremes(all_.data(), static_cast<int>(all_.size()), per_, rank_[0].wanted ? &mn : nullptr,
                 rank_[1].wanted ? &mx : nullptr);
    for (Rank& k : rank_) k.found = k.wanted;
    rank_[0].value = mn;
    rank_[1].value = mx;
    few_ = false;
    all_ = std::vector<T>();
  }

  // Finds the bucket of counts that holds k's rank: the key gains 16 bits.
  void narrow(Rank& k, const std::vector<std::uint32_t>& counts) {
    std::size_t b = 0;
    long long under = 0;
    constexpr std::size_t kRun = 64;  // buckets passed over at once while the rank lies beyond them
    for (; b + kRun <= counts.size(); b += kRun) {
      std::uint64_t run = 0;
      for (std::size_t i = 0; i < kRun; ++i) run += counts[b + i];
      if (under + static_cast<long long>(run) > k.rank) break;
      under += static_cast<long long>(run);
    }
    while (b < counts.size() && under + counts[b] <= k.rank) under += counts[b++];
    if (b == counts.size()) changed();
    k.rank -= under;
    k.prefix = static_cast<Key>((k.known == 0 ? Key{0} : k.prefix << kBits) | static_cast<Key>(b));
    k.known += kBits;
    const std::uint32_t inBucket = counts[b];
    if (k.known == kKeyBits) {
      k.value = fromKey(k.prefix);
      k.found = true;
      return;
    }
    k.collect = inBucket <= budget_;
    k.expected = inBucket;
  }

  // The keys that start with k's prefix: [low, low + span].
  static void keyRange(const Rank& k, Key& low, Key& span) {
    const int shift = kKeyBits - k.known;
    low = k.prefix << shift;
    span = (Key{1} << shift) - 1;
  }

  // A later pass over data for G ranks.
  template <int G>
  static void gather(Rank* const* ranks, const T* data, std::size_t n, std::size_t stride) {
    Key low[G], span[G];
    for (int r = 0; r < G; ++r) keyRange(*ranks[r], low[r], span[r]);
    for (std::size_t i = 0; i < n; ++i) {
      const T v = data[i * stride];
      const Key key = orderKey(v);
      bool in[G], any = false;
      for (int r = 0; r < G; ++r) any |= in[r] = static_cast<Key>(key - low[r]) <= span[r];
      if (!any) [[likely]] continue;
      if (v != v) continue;
      for (int r = 0; r < G; ++r)
        if (in[r]) take(*ranks[r], v, key);
    }
  }

  // A number of k's bucket in a later pass: collected, or its next bits counted.
  static void take(Rank& k, T v, Key key) {
    if (k.collect) k.picked.push_back(v);
    else ++k.counts[(key >> (kKeyBits - k.known - kBits)) & (kBuckets - 1)];
  }

  // The data of a pass differed from the first pass's.
  [[noreturn]] static void changed() { throw std::logic_error("the numbers changed between passes"); }

  // Prepares the next pass: a rank whose bucket is the other's leaves the work to it.
  void share() {
    for (Rank& k : rank_) k.sharedWith = -1;
    Rank &lo = rank_[0], &hi = rank_[1];
    if (lo.active() && hi.active() && lo.known == hi.known && lo.prefix == hi.prefix) hi.sharedWith = 0;
    for (Rank& k : rank_) {
      if (!k.active() || k.sharedWith >= 0) continue;
      k.picked.clear();
      if (k.collect) {
        k.counts = std::vector<std::uint32_t>();
        k.picked.reserve(k.expected);
      } else {
        k.counts.assign(kBuckets, 0);
      }
    }
  }

  double per_;
  std::size_t budget_;
  int pass_ = 0;
  long long count_ = 0;
  std::vector<std::uint32_t> first_;
  bool few_ = false;  // fewer than kCountedSelection numbers: all_ collects them
  std::vector<T> all_;
  Rank rank_[2];
};

// Whether every lane of a comparison's result is set.
template <class Lanes>
inline bool allLanes(Lanes mask) {
#if defined(__SSE2__)
  __m128i bytes;
  std::memcpy(&bytes, &mask, sizeof bytes);
  return _mm_movemask_epi8(bytes) == 0xffff;
#else
  for (std::size_t j = 0; j < sizeof mask / sizeof mask[0]; ++j)
    if (!mask[j]) return false;
  return true;
#endif
}

// The first pass of the selections of the columns whose counts are
// first[m]: each number's key computed sixteen bytes at a time, then
// counted. A run with a NaN is counted number by number, without it; the
// rows after the last whole run go to the selections' add().
template <class T>
void countColumns(RankSelect<T>* const* select, std::uint32_t* const* first, int width, int vectors, const T* data,
                  std::size_t rows) {
  using Key = decltype(orderKey(T{}));
  typedef Key Lanes __attribute__((vector_size(16)));
  typedef T Numbers __attribute__((vector_size(16)));
  constexpr int k = 16 / sizeof(T);
  constexpr int shift = RankSelect<T>::kTopShift;
  const auto w = static_cast<std::size_t>(width);
  const std::size_t runRows = static_cast<std::size_t>(vectors * k) / w;
  std::uint32_t* lane[3 * k];  // the counts of lane j of a run, null for a column not counted here
  for (int j = 0; j < vectors * k; ++j) lane[j] = first[j % width];
  long long nan[6] = {};
  auto sweep = [&]<int V>() {
    std::size_t row = 0;
    for (; row + runRows <= rows; row += runRows) {
      const T* at = data + row * w;
      Lanes top[V];
      bool clean = true;
      for (int v = 0; v < V; ++v) {
        Numbers x;
        std::memcpy(&x, at + v * k, sizeof x);
        clean &= allLanes(x == x);
        top[v] = keyOfBits<Key>((Lanes)x) >> shift;
      }
      if (clean) [[likely]] {
        for (int v = 0; v < V; ++v)
          for (int j = 0; j < k; ++j)
            if (std::uint32_t* counts = lane[v * k + j]) ++counts[top[v][j]];
        continue;
      }
      for (int j = 0; j < V * k; ++j)
        if (std::uint32_t* counts = lane[j]) {
          if (at[j] == at[j]) ++counts[orderKey(at[j]) >> shift];
          else ++nan[j % width];
        }
    }
    return row;
  };
  const std::size_t row = vectors == 1 ? sweep.template operator()<1>() : sweep.template operator()<3>();
  for (int m = 0; m < width; ++m) {
    if (!first[m]) continue;
    select[m]->counted(static_cast<long long>(row) - nan[m]);
    if (row < rows) select[m]->add(data + row * w + static_cast<std::size_t>(m), rows - row, w);
  }
}

// A pass of several selections over the columns of rows x width numbers,
// select[m] (null: none) taking column m: the same as each one's add() over
// its column, row after row, but a run of rows where no column's key falls
// in its selection's ranges (RankSelect::keyRanges) is passed over with one
// test. The columns are taken as one array, sixteen bytes at a time, in
// runs of whole rows that fill whole vectors (width 1, 2, 3 or 6); in a run
// that holds a kept key, the numbers in those lanes go to their selections.
// Columns in their first pass are counted (countColumns).
template <class T>
void addColumns(RankSelect<T>* const* select, int width, const T* data, std::size_t rows) {
  using Key = decltype(orderKey(T{}));
  typedef Key Lanes __attribute__((vector_size(16)));
  constexpr int k = 16 / sizeof(T);
  const int vectors = width == 1 || width == 2 ? 1 : width == 3 || width == 6 ? 3 : 0;
  const auto w = static_cast<std::size_t>(width);
  bool each[6] = {};  // columns that take every number: their own add()
  Key low[2][6] = {}, span[2][6] = {};  // a column without ranges keeps only key 0 (a NaN), and only in the test
  std::uint32_t* first[6] = {};  // columns in their first pass: their counts
  bool any = false, counting = false, ranged[6] = {};
  for (int m = 0; m < width; ++m) {
    if (!select[m]) continue;
    if (vectors > 0 && (first[m] = select[m]->firstCounts())) {
      counting = true;
      continue;
    }
    Key lo[2], sp[2];
    const int g = select[m]->keyRanges(lo, sp);
    each[m] = g < 0 || vectors == 0;
    if (g <= 0 || each[m]) continue;
    any = ranged[m] = true;
    for (int r = 0; r < 2; ++r) low[r][m] = lo[g == 2 ? r : 0], span[r][m] = sp[g == 2 ? r : 0];
  }
  for (int m = 0; m < width; ++m)
    if (each[m]) select[m]->add(data + m, rows, w);
  if (counting) countColumns(select, first, width, vectors, data, rows);
  if (!any) return;
  // Lane j of vector v in a run holds column (v * k + j) % width. A key is
  // in [low, low + span] when key - low <= span as unsigned numbers, that is
  // when key - (low - top) <= span + top as signed ones: out when greater.
  using SKey = std::make_signed_t<Key>;
  typedef SKey Signed __attribute__((vector_size(16)));
  constexpr Key top = Key{1} << (sizeof(Key) * 8 - 1);
  Lanes base[2][3];
  Signed limit[2][3];
  for (int r = 0; r < 2; ++r)
    for (int v = 0; v < vectors; ++v)
      for (int j = 0; j < k; ++j) {
        const int m = (v * k + j) % width;
        base[r][v][j] = low[r][m] - top;
        limit[r][v][j] = static_cast<SKey>(span[r][m] + top);
      }
  const std::size_t runRows = static_cast<std::size_t>(vectors * k) / w;
  RankSelect<T>* gathering[3 * k] = {};  // the selection of lane j of a run when it has key ranges
  for (int j = 0; j < vectors * k; ++j)
    if (ranged[j % width]) gathering[j] = select[j % width];
  auto sweep = [&]<int V>() {
    std::size_t row = 0;
    for (; row + runRows <= rows; row += runRows) {
      const T* at = data + row * w;
      Signed out[V], all = ~Signed{};
      for (int v = 0; v < V; ++v) {
        Lanes bits;
        std::memcpy(&bits, at + v * k, sizeof bits);
        const Lanes key = keyOfBits<Key>(bits);
        out[v] = (Signed)((Signed)(key - base[0][v]) > limit[0][v]) &
                 (Signed)((Signed)(key - base[1][v]) > limit[1][v]);
        all &= out[v];
      }
      if (allLanes(all)) [[likely]] continue;
      // Lane by lane, so each column's numbers come in row order.
      for (int v = 0; v < V; ++v)
        for (int j = 0; j < k; ++j)
          if (out[v][j] == 0)
            if (RankSelect<T>* to = gathering[v * k + j]) to->keep(at[v * k + j]);
    }
    return row;
  };
  const std::size_t row = vectors == 1 ? sweep.template operator()<1>() : sweep.template operator()<3>();
  for (int m = 0; m < width; ++m)
    if (ranged[m] && row < rows) select[m]->add(data + row * w + static_cast<std::size_t>(m), rows - row, w);
}
