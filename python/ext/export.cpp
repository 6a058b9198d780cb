// What odb2xdmf (harvestodb/xdmf.py) hands to C++: a block's values read in
// pieces into reused buffers, measured and reduced per element, and placed
// into the export's arrays; the volume test that tells a flat element from
// a solid one; the export's label tables, and labels turned into rows
// through them; the export's HDF5 file, whose datasets it makes and whose
// bytes it writes itself; the start of its writes to disk; its read-ahead.
// The results are the numbers the numpy code computes (the same operations
// in the same order), so an export is the same with or without these
// helpers. The GIL is released while they work. No globals.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <hdf5.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <pybind11/stl.h>

#include "common.h"

namespace harvest_py {
namespace {

enum class Measure { mises, magnitude, value };

// A writable, C-contiguous float32 or float64 array of rows (one- or
// two-dimensional) taken from Python; empty for None.
struct Target {
  char* data = nullptr;
  bool wide = false;  // float64, else float32
  std::size_t width = 1;
  std::size_t rows = 0;

  void put(std::size_t row, std::size_t col, double v) const {
    const std::size_t at = row * width + col;
    if (wide) reinterpret_cast<double*>(data)[at] = v;
    else reinterpret_cast<float*>(data)[at] = static_cast<float>(v);  // exact: float values only reach float arrays
  }
};

Target target(const py::object& o, const char* what) {
  Target t;
  if (o.is_none()) return t;
  const auto a = py::cast<py::array>(o);
  const bool f32 = a.dtype().is(py::dtype::of<float>()), f64 = a.dtype().is(py::dtype::of<double>());
  if (!(f32 || f64) || a.ndim() < 1 || a.ndim() > 2 || !a.writeable() ||
      !(a.flags() & py::array::c_style))
    throw py::value_error(std::string(what) + ": expected a writable, C-contiguous float32 or float64 array");
  t.data = static_cast<char*>(const_cast<void*>(a.data()));
  t.wide = f64;
  t.rows = static_cast<std::size_t>(a.shape(0));
  t.width = a.ndim() == 2 ? static_cast<std::size_t>(a.shape(1)) : 1;
  return t;
}

// The export's label table: row index[label - low] holds the label, -1 when none.
struct Index {
  const void* data = nullptr;
  bool wide = false;
  std::int64_t low = 0, size = 0, rows = 0;  // rows: of the arrays it places into

  std::int64_t at(int label) const {
    const std::int64_t i = static_cast<std::int64_t>(label) - low;
    if (i < 0 || i >= size) return -1;
    const std::int64_t row = wide ? static_cast<const std::int64_t*>(data)[i] : static_cast<const std::int32_t*>(data)[i];
    if (row >= rows) throw std::out_of_range("label table: row " + std::to_string(row) + " of " + std::to_string(rows));
    return row;
  }
};

// numpy's float sum of n values (pairwise, eight running sums), as
// ndarray.sum adds up a row: the mean of a row rounds as numpy's does.
template <class Q>
Q pairwiseSum(const Q* a, std::size_t n) {
  if (n < 8) {
    Q res = 0;
    for (std::size_t i = 0; i < n; ++i) res += a[i];
    return res;
  }
  if (n <= 128) {
    Q r[8];
    for (int j = 0; j < 8; ++j) r[j] = a[j];
    std::size_t i = 8;
    for (; i < n - n % 8; i += 8)
      for (int j = 0; j < 8; ++j) r[j] += a[i + j];
    Q res = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
    for (; i < n; ++i) res += a[i];
    return res;
  }
  std::size_t half = n / 2;
  half -= half % 8;
  return pairwiseSum(a, half) + pairwiseSum(a + half, n - half);
}

struct Outputs {
  Target rows, high, low, mean;
  Index index;
};

template <class T, class Q>
void measureRows(const odb_BlockReader& r, Measure m, const T* v, std::size_t n, std::size_t w, Q* q) {
  if constexpr (std::is_same_v<Q, float>) {
    if (m == Measure::mises) return r.mises(v, static_cast<int>(n), q);
  }
  if constexpr (std::is_same_v<Q, T>) {
    for (std::size_t i = 0; i < n; ++i, v += w) {
      if (m == Measure::value) {
        q[i] = v[0];
        continue;
      }
      Q total = 0;
      for (std::size_t c = 0; c < w; ++c) total += v[c] * v[c];
      q[i] = std::sqrt(total);
    }
  }
}

// A value row into the export's rows, vectors padded with zeros as the export pads them.
template <class T>
void putRow(const Target& rows, std::size_t at, const T* v, std::size_t w) {
  for (std::size_t c = 0; c < rows.width; ++c) rows.put(at, c, c < w ? static_cast<double>(v[c]) : 0.0);
}

// One element's rows [s, e): the row of the largest measure, the largest, smallest and mean.
// false when the element has a NaN (the caller's numpy code treats that block).
template <class T, class Q>
bool reduceElement(const Outputs& out, const T* v, const Q* q, std::size_t w, std::size_t s, std::size_t e,
                   std::int64_t at) {
  const std::size_t n = e - s;
  std::size_t best = s;
  Q high = q[s], low = q[s];
  bool nan = std::isnan(q[s]);
  for (std::size_t j = s + 1; j < e; ++j) {  // without branches: which point wins is a coin toss
    const Q x = q[j];
    nan |= std::isnan(x);
    const bool above = x > high;
    best = above ? j : best;
    high = above ? x : high;
    low = low < x ? low : x;
  }
  if (n > 1 && nan) return false;
  if (at < 0) return true;
  const auto row = static_cast<std::size_t>(at);
  const Q mean = n == 1 ? q[s] : static_cast<Q>(static_cast<double>(Q(0) + pairwiseSum(q + s, n)) / static_cast<double>(n));
  if (out.rows.data) putRow(out.rows, row, v + best * w, w);
  if (out.high.data) out.high.put(row, 0, high);
  if (out.low.data) out.low.put(row, 0, low);
  if (out.mean.data) out.mean.put(row, 0, mean);
  return true;
}

// The buffers a run of _place_block calls shares (an export's): they grow to the largest
// block's pieces and are faulted in once, not once a block.
struct Bytes {
  std::unique_ptr<std::byte[]> data;  // not zeroed: every piece is written before it is read
  std::size_t size = 0;
};
struct PieceBuffers {
  Bytes values[2], labels[2], q[2];
};

template <class T>
T* grown(Bytes& bytes, std::size_t n) {
  if (bytes.size < n * sizeof(T)) {
    bytes.data.reset();
    bytes.data = std::make_unique_for_overwrite<std::byte[]>(n * sizeof(T));
    bytes.size = n * sizeof(T);
  }
  return reinterpret_cast<T*>(bytes.data.get());  // operator new's alignment suits float, double and int
}

// A piece of a block: rows [first, first + n) of values, their measures and labels (node or
// element).
template <class T, class Q>
struct Piece {
  T* values = nullptr;
  Q* q = nullptr;
  int* labels = nullptr;
  std::size_t first = 0, n = 0;
};

// Reads a block's pieces on a thread of its own, into two pieces taken in turn, and measures
// each row (von Mises, magnitude, value), so that the file is read, its checksums checked and
// its rows measured while the caller reduces and places the piece before. Only this thread
// uses the reader.
template <class T, class Q>
class PieceReader {
 public:
  PieceReader(odb_BlockReader& r, Measure m, bool nodal, PieceBuffers& buffers) : r_(r), m_(m), nodal_(nodal) {
    const auto length = static_cast<std::size_t>(r.length()), w = static_cast<std::size_t>(r.width());
    const std::size_t rows = std::min(length, static_cast<std::size_t>(std::max(1, r.pieceRows())));
    capacity_ = rows * w + 1;  // a number to spare: the last chunk of a piece is read in place, not copied
    valuesMeasured_ = std::is_same_v<Q, T> && m == Measure::value && w == 1;
    for (int i = 0; i < 2; ++i) {
      pieces_[i].values = grown<T>(buffers.values[i], capacity_);
      pieces_[i].q = valuesMeasured_ ? reinterpret_cast<Q*>(pieces_[i].values) : grown<Q>(buffers.q[i], rows);
      pieces_[i].labels = grown<int>(buffers.labels[i], rows);
    }
    thread_ = std::thread([this, length, rows] { run(length, rows); });
  }
  ~PieceReader() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  PieceReader(const PieceReader&) = delete;
  PieceReader& operator=(const PieceReader&) = delete;

  // The next piece, nullptr after the last; rethrows the reader's failure.
  const Piece<T, Q>* next() {
    std::unique_lock lock(mutex_);
    if (taken_ > 0) ++done_;  // the piece taken before is free again
    changed_.notify_all();
    changed_.wait(lock, [&] { return read_ > taken_ || finished_; });
    if (read_ > taken_) return &pieces_[taken_++ % 2];
    if (failure_) std::rethrow_exception(failure_);
    return nullptr;
  }

 private:
  void run(std::size_t length, std::size_t rows) {
    try {
      for (std::size_t first = 0, i = 0; first < length; first += rows, ++i) {
        {
          std::unique_lock lock(mutex_);
          changed_.wait(lock, [&] { return stop_ || i < done_ + 2; });
          if (stop_) break;
        }
        Piece<T, Q>& p = pieces_[i % 2];
        p.first = first;
        p.n = std::min(rows, length - first);
        const int at = static_cast<int>(first), n = static_cast<int>(p.n);
        r_.read(at, n, std::span<T>(p.values, capacity_));
        if (!valuesMeasured_) measureRows(r_, m_, p.values, p.n, static_cast<std::size_t>(r_.width()), p.q);
        if (nodal_) r_.readNodeLabels(at, n, p.labels);
        else r_.readElementLabels(at, n, p.labels);
        const std::lock_guard lock(mutex_);
        ++read_;
        changed_.notify_all();
      }
    } catch (...) {
      const std::lock_guard lock(mutex_);
      failure_ = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }

  odb_BlockReader& r_;
  Measure m_;
  bool nodal_;
  std::size_t capacity_ = 0;  // numbers each piece's values hold
  bool valuesMeasured_ = false;  // a scalar's measure is its value: the values serve, no copy of them
  Piece<T, Q> pieces_[2];
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t read_ = 0, taken_ = 0, done_ = 0;  // pieces read, handed out, given back
  bool stop_ = false, finished_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

// The rows of an element that runs on into the next piece.
template <class T, class Q>
struct Carry {
  std::vector<T> values;
  std::vector<int> labels;
  std::vector<Q> q;
  void add(const T* v, const int* l, const Q* m, std::size_t n, std::size_t w) {
    values.insert(values.end(), v, v + n * w), labels.insert(labels.end(), l, l + n), q.insert(q.end(), m, m + n);
  }
  void clear() { values.clear(), labels.clear(), q.clear(); }
};

// Reads the block piece by piece and places each element (a run of rows of one label) or node.
// Returns the values per element (0 for a node block), -1 when the caller's numpy code must
// treat the block (a NaN in an element of several values, labels the block does not hold).
template <class T, class Q>
int place(odb_BlockReader& r, Measure m, bool nodal, const Outputs& out, PieceBuffers& buffers) {
  if (nodal ? !r.hasNodeLabels() : !r.hasElementLabels()) return -1;
  const std::size_t length = static_cast<std::size_t>(r.length()), w = static_cast<std::size_t>(r.width());
  PieceReader<T, Q> pieces(r, m, nodal, buffers);
  Carry<T, Q> carry;
  int k = 0;
  const auto element = [&](const T* v, const int* l, const Q* mq, std::size_t s, std::size_t e) {
    if (k == 0) k = static_cast<int>(e - s);
    return reduceElement(out, v, mq, w, s, e, out.index.at(l[s]));
  };
  while (const Piece<T, Q>* p = pieces.next()) {
    const std::size_t n = p->n;
    const T* v = p->values;
    const int* labels = p->labels;
    const Q* q = p->q;
    if (nodal) {
      for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t at = out.index.at(labels[i]);
        if (at < 0) continue;
        putRow(out.rows, static_cast<std::size_t>(at), v + i * w, w);
        if (out.high.data) out.high.put(static_cast<std::size_t>(at), 0, q[i]);
      }
      continue;
    }
    const bool last = p->first + n == length;
    std::size_t start = 0;  // the rows before it finish the carried element
    if (!carry.labels.empty()) {
      while (start < n && labels[start] == carry.labels[0]) ++start;
      carry.add(v, labels, q, start, w);
      if (start == n && !last) continue;
      if (!element(carry.values.data(), carry.labels.data(), carry.q.data(), 0, carry.labels.size())) return -1;
      carry.clear();
    }
    std::size_t end = n;  // the elements complete in this piece end here
    if (!last)
      for (end = n - 1; end > start && labels[end - 1] == labels[n - 1];) --end;
    for (std::size_t s = start; s < end;) {
      std::size_t e = s + 1;
      while (e < end && labels[e] == labels[s]) ++e;
      if (!element(v, labels, q, s, e)) return -1;
      s = e;
    }
    carry.add(v + end * w, labels + end, q + end, n - end, w);
  }
  return k;
}

int placeBlock(const Block& b, const std::string& measure, std::int64_t low, const py::array& index,
               const py::object& rows, const py::object& high, const py::object& lowest, const py::object& mean,
               PieceBuffers* shared) {
  Outputs out{target(rows, "rows"), target(high, "high"), target(lowest, "low"), target(mean, "mean"), {}};
  const Measure m = measure == "mises" ? Measure::mises : measure == "magnitude" ? Measure::magnitude : Measure::value;
  const bool wide = index.dtype().is(py::dtype::of<std::int64_t>());
  if (!(wide || index.dtype().is(py::dtype::of<std::int32_t>())) || index.ndim() != 1 ||
      !(index.flags() & py::array::c_style))
    throw py::value_error("index: expected a C-contiguous int32 or int64 array");
  out.index = Index{index.data(), wide, low, index.shape(0), static_cast<std::int64_t>(out.rows.rows)};
  for (const Target* t : {&out.high, &out.low, &out.mean})
    if (t->data && t->rows != out.rows.rows) throw py::value_error("the arrays differ in length");
  if (!out.rows.data || out.rows.width < static_cast<std::size_t>(b.block.width())) return -1;
  const bool nodal = b.block.position() == odb_Enum::NODAL;
  PieceBuffers own;
  PieceBuffers& buffers = shared ? *shared : own;
  py::gil_scoped_release unlocked;
  odb_BlockReader r(b.block);
  const bool f64 = r.precision() == 1;
  if (m == Measure::mises)
    return f64 ? place<double, float>(r, m, nodal, out, buffers) : place<float, float>(r, m, nodal, out, buffers);
  return f64 ? place<double, double>(r, m, nodal, out, buffers) : place<float, float>(r, m, nodal, out, buffers);
}

// The volume spanned by corners a, b, c of each element starting at start[i] (seen from its first
// node) and the largest coordinate difference, in xdmf.py's cell_kinds order of operations.
template <class I>
py::tuple solidMeasures(const double* xyz, std::size_t nodes, const I* conn, std::size_t connSize,
                        const std::int64_t* start, std::size_t n, std::array<std::size_t, 3> corners) {
  py::array_t<double> volume(static_cast<py::ssize_t>(n)), size(static_cast<py::ssize_t>(n));
  double* vol = volume.mutable_data();
  double* big = size.mutable_data();
  {
    py::gil_scoped_release unlocked;
    const auto node = [&](std::int64_t at) {
      if (at < 0 || static_cast<std::size_t>(at) >= connSize) throw std::out_of_range("connectivity");
      const I i = conn[at];
      if (i < 0 || static_cast<std::size_t>(i) >= nodes) throw std::out_of_range("node index");
      return xyz + 3 * static_cast<std::size_t>(i);
    };
    for (std::size_t e = 0; e < n; ++e) {
      const double* p0 = node(start[e]);
      double d[3][3];
      for (int c = 0; c < 3; ++c) {
        const double* p = node(start[e] + static_cast<std::int64_t>(corners[static_cast<std::size_t>(c)]));
        for (int x = 0; x < 3; ++x) d[c][x] = p[x] - p0[x];
      }
      const auto& [ax, ay, az] = d[0];
      const auto& [bx, by, bz] = d[1];
      const auto& [cx, cy, cz] = d[2];
      vol[e] = std::fabs(ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx));
      double s = std::fabs(ax);
      for (const double v : {ay, az, bx, by, bz, cx, cy, cz}) {
        const double a = std::fabs(v);
        s = (s >= a || std::isnan(s)) ? s : a;  // numpy's maximum: a NaN wins
      }
      big[e] = s;
    }
  }
  return py::make_tuple(volume, size);
}

// index[label - low] of each label, -1 outside the table, in the table's integer type.
template <class I>
py::array lookup(const I* index, std::int64_t size, std::int64_t low, const std::int32_t* labels, std::size_t n) {
  py::array_t<I> out(static_cast<py::ssize_t>(n));
  I* o = out.mutable_data();
  py::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t at = static_cast<std::int64_t>(labels[i]) - low;
    o[i] = at >= 0 && at < size ? index[at] : I(-1);
  }
  return out;
}

// The table of n labels, all in [low, low + size): table[label - low] is base + the row of the
// label's first appearance, -1 where no label is.
template <class I>
py::array labelTable(const std::int32_t* labels, std::size_t n, std::int64_t low, std::int64_t size,
                     std::int64_t base) {
  py::array_t<I> out(static_cast<py::ssize_t>(size));
  I* table = out.mutable_data();
  py::gil_scoped_release unlocked;
  std::fill(table, table + size, I(-1));
  for (std::size_t i = n; i-- > 0;) {  // from the last: the first of repeated labels stays
    const std::int64_t at = static_cast<std::int64_t>(labels[i]) - low;
    if (at < 0 || at >= size) throw std::out_of_range("label " + std::to_string(labels[i]) + " outside the table");
    table[at] = static_cast<I>(base + static_cast<std::int64_t>(i));
  }
  return out;
}

// odb2xdmf's read-ahead: a thread of its own that reads a file into the page cache from the
// start, while the export reads and computes. It asks the kernel for the next window bytes
// (posix_fadvise WILLNEED, step bytes a request: the kernel reads at most the device's
// read-ahead size of each and drops the rest) and waits for them with a sendfile to /dev/null,
// which copies nothing into the process and reads what a device with a smaller limit left out.
// It never takes the GIL: run from Python, a loop of its own waited for the GIL whenever the
// caller sat in a long call that holds it (opening the database), and the disk stood idle.
// Where a file or a call is refused, it stops reading; the export then reads as it goes.
class ReadAhead {
 public:
  ReadAhead(const std::string& path, std::int64_t window, std::int64_t step)
      : window_(std::max<std::int64_t>(window, 1)), step_(std::max<std::int64_t>(step, 1)) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    null_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd_ >= 0 && null_ >= 0) thread_ = std::thread([this] { run(); });
  }
  ~ReadAhead() {
    stop();
    for (const int fd : {fd_, null_})
      if (fd >= 0) ::close(fd);
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Ends the reading (within one window's sendfile) and waits for the thread.
  void stop() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    const off_t size = ::lseek(fd_, 0, SEEK_END);
    off_t at = 0, queued = 0;
    while (at < size && !stop_.load(std::memory_order_relaxed)) {
      for (const off_t ahead = std::min<off_t>(size, at + window_); queued < ahead; queued += step_)
        if (posix_fadvise(fd_, queued, std::min<off_t>(step_, size - queued), POSIX_FADV_WILLNEED) != 0) return;
      off_t from = at;
      const ssize_t n = sendfile(null_, fd_, &from, static_cast<std::size_t>(std::min<off_t>(window_, size - at)));
      if (n <= 0) return;
      at += n;
    }
  }

  std::int64_t window_, step_;
  int fd_ = -1, null_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The export's HDF5 file: datasets made with their space allocated at once and never filled,
// contiguous, in the array's own type, so that the caller writes each array's bytes at the
// dataset's offset itself. Only the thread that holds the GIL uses it, and never while the
// library reads on another (the library's reads run inside _place_block, which the caller waits
// for), so HDF5's state is never shared between two threads.
class H5Out {
 public:
  explicit H5Out(const std::string& path) {
    H5E_BEGIN_TRY { file_ = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT); }
    H5E_END_TRY;
    if (file_ < 0) fail("/", "cannot create the file");
  }
  ~H5Out() { close(); }
  H5Out(const H5Out&) = delete;
  H5Out& operator=(const H5Out&) = delete;

  // Makes the dataset at path (groups on the way made too) of shape and numpy dtype code
  // ("f4", "f8", "i4", "i8", "u1"); returns the offset of its bytes in the file, -1 when it
  // holds none.
  std::int64_t dataset(const std::string& path, const std::vector<hsize_t>& shape, const std::string& code) {
    if (file_ < 0) fail(path, "the file is closed");
    const hid_t type = code == "f4"   ? H5T_IEEE_F32LE
                       : code == "f8" ? H5T_IEEE_F64LE
                       : code == "i4" ? H5T_STD_I32LE
                       : code == "i8" ? H5T_STD_I64LE
                       : code == "u1" ? H5T_STD_U8LE
                                      : -1;
    if (type < 0) throw py::value_error(path + ": arrays of dtype " + code + " are not written");
    haddr_t offset = HADDR_UNDEF;
    bool made = false;
    H5E_BEGIN_TRY {
      const hid_t space = H5Screate_simple(static_cast<int>(shape.size()), shape.data(), nullptr);
      const hid_t lcpl = H5Pcreate(H5P_LINK_CREATE), dcpl = H5Pcreate(H5P_DATASET_CREATE);
      if (space >= 0 && lcpl >= 0 && dcpl >= 0 && H5Pset_create_intermediate_group(lcpl, 1) >= 0 &&
          H5Pset_alloc_time(dcpl, H5D_ALLOC_TIME_EARLY) >= 0 && H5Pset_fill_time(dcpl, H5D_FILL_TIME_NEVER) >= 0) {
        const hid_t d = H5Dcreate2(file_, path.c_str(), type, space, lcpl, dcpl, H5P_DEFAULT);
        if (d >= 0) {
          made = true;
          offset = H5Dget_offset(d);
          H5Dclose(d);
        }
      }
      for (const hid_t id : {space, lcpl, dcpl})
        if (id >= 0) (id == space ? H5Sclose(id) : H5Pclose(id));
    }
    H5E_END_TRY;
    if (!made) fail(path, "cannot make the dataset");
    return offset == HADDR_UNDEF ? -1 : static_cast<std::int64_t>(offset);
  }

  void close() {
    if (file_ < 0) return;
    herr_t closed = -1;
    H5E_BEGIN_TRY { closed = H5Fclose(file_); }
    H5E_END_TRY;
    file_ = -1;
    if (closed < 0) fail("/", "cannot close the file");
  }

 private:
  [[noreturn]] static void fail(const std::string& at, const std::string& what) {
    throw std::runtime_error(at + ": " + what);  // the caller names the file
  }

  hid_t file_ = -1;
};

}  // namespace

void bindExport(py::module_& m) {
  m.def(
      "_lookup",
      [](const py::array& index, std::int64_t low, const py::array_t<std::int32_t, py::array::c_style>& labels) {
        if (index.ndim() != 1 || !(index.flags() & py::array::c_style))
          throw py::value_error("index: expected a flat, C-contiguous array");
        const auto n = static_cast<std::size_t>(labels.size());
        if (index.dtype().is(py::dtype::of<std::int64_t>()))
          return lookup(static_cast<const std::int64_t*>(index.data()), index.shape(0), low, labels.data(), n);
        if (index.dtype().is(py::dtype::of<std::int32_t>()))
          return lookup(static_cast<const std::int32_t*>(index.data()), index.shape(0), low, labels.data(), n);
        throw py::value_error("index: expected int32 or int64");
      },
      py::arg("index"), py::arg("low"), py::arg("labels"),
      "odb2xdmf's label table: index[label - low] of each label, -1 where the table has none.");
  m.def(
      "_label_table",
      [](const py::array_t<std::int32_t, py::array::c_style>& labels, std::int64_t low, std::int64_t size,
         std::int64_t base, bool wide) {
        if (labels.ndim() != 1 || size < 0) throw py::value_error("labels: expected a flat array and a size");
        const auto n = static_cast<std::size_t>(labels.size());
        return wide ? labelTable<std::int64_t>(labels.data(), n, low, size, base)
                    : labelTable<std::int32_t>(labels.data(), n, low, size, base);
      },
      py::arg("labels"), py::arg("low"), py::arg("size"), py::arg("base"), py::arg("wide"),
      "odb2xdmf's label table: base + the first row of each label at [label - low], -1 elsewhere.");
  py::class_<ReadAhead>(m, "_ReadAhead",
                        "odb2xdmf's read-ahead: a thread, without the GIL, that reads a file into the page cache "
                        "from the start, window bytes ahead of what it has read, in requests of step bytes.")
      .def(py::init<const std::string&, std::int64_t, std::int64_t>(), py::arg("path"), py::arg("window"),
           py::arg("step"))
      .def("stop", &ReadAhead::stop, py::call_guard<py::gil_scoped_release>(),
           "Ends the reading and waits for the thread.");
  m.def(
      "_start_writeback",
      [](int fd, std::int64_t offset, std::int64_t size) {
        const py::gil_scoped_release unlocked;
        return sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE) == 0;
      },
      py::arg("fd"), py::arg("offset"), py::arg("size"),
      "odb2xdmf's writer: starts writing a range of a file to disk, without waiting; false where it cannot.");
  py::class_<H5Out>(m, "_H5Out", "odb2xdmf's HDF5 file: datasets whose bytes the caller writes at their offset.")
      .def(py::init<const std::string&>(), py::arg("path"))
      .def("dataset", &H5Out::dataset, py::arg("path"), py::arg("shape"), py::arg("dtype"),
           "Makes a dataset, allocated and never filled; the offset of its bytes, -1 when it has none.")
      .def("close", &H5Out::close);
  py::class_<PieceBuffers>(m, "_PieceBuffers", "Buffers that _place_block calls given them share (one call at a time).").def(py::init<>());
  m.def("_place_block", &placeBlock, py::arg("block"), py::arg("measure"), py::arg("low"), py::arg("index"),
        py::arg("rows"), py::arg("high"), py::arg("low_values"), py::arg("mean"), py::arg("buffers") = nullptr,
        "odb2xdmf's reader of a block (see harvestodb/xdmf.py): the values per element placed, or -1.");
  m.def(
      "_solid_measures",
      [](const py::array_t<double, py::array::c_style>& xyz, const py::array& conn,
         const py::array_t<std::int64_t, py::array::c_style>& start, std::array<std::size_t, 3> corners) {
        if (xyz.ndim() != 2 || xyz.shape(1) != 3) throw py::value_error("xyz: expected an (n, 3) array");
        const auto nodes = static_cast<std::size_t>(xyz.shape(0)), n = static_cast<std::size_t>(start.size());
        if (conn.ndim() != 1 || !(conn.flags() & py::array::c_style)) throw py::value_error("conn: expected a flat array");
        const auto size = static_cast<std::size_t>(conn.size());
        if (conn.dtype().is(py::dtype::of<std::int64_t>()))
          return solidMeasures(xyz.data(), nodes, static_cast<const std::int64_t*>(conn.data()), size, start.data(), n,
                               corners);
        if (conn.dtype().is(py::dtype::of<std::int32_t>()))
          return solidMeasures(xyz.data(), nodes, static_cast<const std::int32_t*>(conn.data()), size, start.data(), n,
                               corners);
        throw py::value_error("conn: expected int32 or int64");
      },
      py::arg("xyz"), py::arg("conn"), py::arg("start"), py::arg("corners"),
      "odb2xdmf's solid test: the volume of three corners of each element and its largest coordinate difference.");
}

}  // namespace harvest_py
