// Reading a block in pieces (odb_BlockReader): rows of its values and labels
// into the caller's arrays, from the file through the reader's own handles,
// or copied from what the block already holds. No globals.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>

#include "odb/derived.h"
#include "odb/impl.h"
#include "odb/vocabulary.h"

namespace odb_detail {

struct BlockReaderImpl {
  odb_FieldBulkData handle;  // keeps the block alive
  const BlockData* b = nullptr;
  // A subset block whose values are not picked yet: the block it picks
  // from, and its rows there (ascending).
  std::shared_ptr<const BlockData> source;
  std::vector<int> rows;
  const BlockData* file = nullptr;  // the block whose group is read: b or source
  H5Group group;
  std::optional<Dataset> elements, nodes, points;
  int elementCount = -1;             // known once every element label was counted
  std::optional<ElementCounter> counter;
  std::size_t counted = 0;           // element labels counted in order; SIZE_MAX: order broken
  std::vector<double> wide;          // values in the other precision or a span of the source's rows
  std::vector<float> narrow;
  Buffer<int> labels;                // a piece of labels being counted, from the file's pool

  Where where() const { return file->where(); }
  // The block's group: the block's own handle while it keeps one open (the
  // reader is on the block's thread), else one of the reader's.
  hid_t groupId() {
    if (group.valid()) return group.get();
    if (file->group.valid()) return file->group.get();
    const Where w = where();
    group = openGroup(file->ctx->fileId(file->path), file->path, w);
    return group.get();
  }
  void checkRows(int first, int n) const;
  Dataset& labelArray(std::optional<Dataset>& d, const char* name);
  template <class T>
  void readValues(int first, int n, T* out, std::size_t spare = 0);
  template <class T>
  void readValues(int first, int n, std::span<T> out);
  template <class S, class T>
  void readPicked(int first, int n, T* out);
  void readLabels(std::optional<Dataset>& d, const char* name, const Buffer<int>& held, int first, int n, int* out,
                  std::size_t spare = 0);
  void count(int first, int n, const int* labels);
  int countingRows();
};

void BlockReaderImpl::checkRows(int first, int n) const {
  if (first >= 0 && n >= 0 && first <= b->length - n) return;
  odbFail(where(), "rows [" + std::to_string(first) + ", " + std::to_string(static_cast<long long>(first) + n) +
                       ") asked for, the block has " + std::to_string(b->length) + " rows");
}

// A label array opened and checked as the whole read checks it, before any
// of it is read: one entry per row of data, integers that fit the file.
Dataset& BlockReaderImpl::labelArray(std::optional<Dataset>& d, const char* name) {
  if (d) return *d;
  const Where w = where();
  Dataset a = openDataset(groupId(), name, w);
  requireRank(a, 1, w);
  if (a.dims[0] != static_cast<hsize_t>(file->length))
    odbFail(w, std::string(name) + " has " + std::to_string(a.dims[0]) + " entries, data has " +
                   std::to_string(file->length) + " rows");
  requireIntegerData(a, w);
  checkedCount(a, w, file->ctx->bytes);
  d = std::move(a);
  return *d;
}

// Rows near targetBytes of b's stored values; whole chunks when asked and
// the values are still in the file, chunked.
static int suggestRows(const BlockData& b, std::size_t targetBytes, bool wholeChunks, const Where& w) {
  if (b.length == 0) return 0;
  const std::size_t rowBytes = static_cast<std::size_t>(b.width) * (b.precision == 0 ? 4 : 8);
  std::size_t rows = std::max<std::size_t>(1, targetBytes / rowBytes);
  if (wholeChunks && b.pending) {
    const std::size_t chunk = chunkRows(*b.pending, w);
    if (chunk > 0) rows = std::max<std::size_t>(1, rows / chunk) * chunk;
  }
  return static_cast<int>(std::min<std::size_t>(rows, static_cast<std::size_t>(b.length)));
}

template <class T>
static hid_t memoryType() {
  return std::is_same_v<T, float> ? H5T_NATIVE_FLOAT : H5T_NATIVE_DOUBLE;
}

// Rows [first, first + n) of a block's values, stored as S, into out as T;
// spare: the bytes out holds after them (see readRows).
template <class T>
void BlockReaderImpl::readValues(int first, int n, T* out, std::size_t spare) {
  checkRows(first, n);
  if (n == 0) return;
  const auto w = static_cast<std::size_t>(b->width);
  const auto from = static_cast<std::size_t>(first) * w, count = static_cast<std::size_t>(n) * w;
  if (source) {
    if (b->precision == 0) readPicked<float>(first, n, out);
    else readPicked<double>(first, n, out);
    return;
  }
  if (!b->pending) {  // the block holds its values, in the stored precision
    if (b->precision == 0) std::copy_n(b->floatValues.begin() + from, count, out);
    else std::copy_n(b->doubleValues.begin() + from, count, out);
    return;
  }
  // The block's open values array, as long as the block has not read it.
  const Dataset& data = *b->pending;
  file->ctx->fileId(file->path);  // fails once the database is closed
  const bool stored = (b->precision == 0) == std::is_same_v<T, float>;
  if (stored) {
    readRows(data, where(), memoryType<T>(), static_cast<std::size_t>(first), static_cast<std::size_t>(n), out,
             spare);
  } else if (b->precision == 0) {
    narrow.resize(count);
    readRows(data, where(), H5T_NATIVE_FLOAT, static_cast<std::size_t>(first), static_cast<std::size_t>(n), narrow.data());
    std::copy_n(narrow.begin(), count, out);
  } else {
    wide.resize(count);
    readRows(data, where(), H5T_NATIVE_DOUBLE, static_cast<std::size_t>(first), static_cast<std::size_t>(n), wide.data());
    std::copy_n(wide.begin(), count, out);
  }
}

template <class T>
void BlockReaderImpl::readValues(int first, int n, std::span<T> out) {
  checkRows(first, n);
  const std::size_t need = static_cast<std::size_t>(n) * static_cast<std::size_t>(b->width);
  if (out.size() < need)
    odbFail(where(), "rows [" + std::to_string(first) + ", " + std::to_string(static_cast<long long>(first) + n) +
                         ") need " + std::to_string(need) + " numbers, the array holds " +
                         std::to_string(out.size()));
  readValues(first, n, out.data(), (out.size() - need) * sizeof(T));
}

// A subset's rows: the source's rows read in spans of at most a piece of the
// source, or picked from the source's values when it holds them.
template <class S, class T>
void BlockReaderImpl::readPicked(int first, int n, T* out) {
  const auto w = static_cast<std::size_t>(b->width);
  const int* r = rows.data() + first;
  const int* end = r + n;
  auto pick = [&](const S* values, int base, const int* from, const int* to) {
    for (const int* p = from; p != to; ++p, out += w)
      std::copy_n(values + static_cast<std::size_t>(*p - base) * w, w, out);
  };
  if (!source->pending) {
    const Buffer<S>& held = [&]() -> const Buffer<S>& {
      if constexpr (std::is_same_v<S, float>) return source->floatValues;
      else return source->doubleValues;
    }();
    pick(held.data(), 0, r, end);
    return;
  }
  const Dataset& data = *source->pending;
  file->ctx->fileId(file->path);
  const int span = suggestRows(*source, std::size_t{8} << 20, true, where());
  std::vector<S>& buffer = [&]() -> std::vector<S>& {
    if constexpr (std::is_same_v<S, float>) return narrow;
    else return wide;
  }();
  const std::size_t chunk = chunkRows(data, where());
  while (r != end) {
    // From the start of the row's chunk: a span ends at a chunk's end, so
    // no chunk is decoded twice (HDF5 keeps none between reads).
    const int lo = chunk > 0 ? *r - static_cast<int>(static_cast<std::size_t>(*r) % chunk) : *r;
    const int* stop = std::lower_bound(r, end, lo + std::min(span, source->length - lo));
    const int rowsRead = stop[-1] - lo + 1;
    buffer.resize(static_cast<std::size_t>(rowsRead) * w);
    readRows(data, where(), memoryType<S>(), static_cast<std::size_t>(lo), static_cast<std::size_t>(rowsRead),
             buffer.data());
    pick(buffer.data(), lo, r, stop);
    r = stop;
  }
}

void BlockReaderImpl::readLabels(std::optional<Dataset>& d, const char* name, const Buffer<int>& held, int first,
                                 int n, int* out, std::size_t spare) {
  checkRows(first, n);
  if (n == 0) return;
  if (held.size() == static_cast<std::size_t>(b->length)) {
    std::copy_n(held.begin() + first, n, out);
    return;
  }
  readIntRows(labelArray(d, name), where(), static_cast<std::size_t>(first), static_cast<std::size_t>(n), out, spare);
}

// Element labels read in order from row 0 are counted and checked.
void BlockReaderImpl::count(int first, int n, const int* labels) {
  if (elementCount >= 0 || counted == SIZE_MAX) return;
  if (static_cast<std::size_t>(first) != counted) {
    counted = SIZE_MAX;
    return;
  }
  if (!counter) counter.emplace(where());
  counter->add(labels, static_cast<std::size_t>(n));
  counted += static_cast<std::size_t>(n);
  if (counted == static_cast<std::size_t>(b->length)) elementCount = counter->finish();
}

// The rows of the pieces the element labels are counted in, 0 when nothing
// is left to count: whole chunks of the labels, about 1 MiB, a piece that
// stays in the cache as the values' pieces do.
int BlockReaderImpl::countingRows() {
  if (b->haveElementLabels || !b->isElementBlock() || elementCount >= 0) return 0;
  const std::size_t chunk = chunkRows(labelArray(elements, "elementLabels"), where());
  std::size_t rows = std::size_t{1} << 18;
  if (chunk > 0) rows = std::max<std::size_t>(1, rows / chunk) * chunk;
  return static_cast<int>(std::min<std::size_t>(rows, static_cast<std::size_t>(b->length)));
}

}  // namespace odb_detail

using namespace odb_detail;

odb_BlockReader::odb_BlockReader(const odb_FieldBulkData& block) : impl_(std::make_unique<BlockReaderImpl>()) {
  BlockReaderImpl& r = *impl_;
  r.handle = block;
  static const BlockData empty = [] {
    BlockData e;
    e.shape = std::make_shared<FieldShape>();
    return e;
  }();
  r.b = block.impl() ? block.impl() : &empty;
  r.file = r.b;
  if (r.b->source) {
    r.source = r.b->source;
    r.rows = r.b->rows;
    r.file = r.source.get();
  }
  // A whole block's element labels still in the file are checked now.
  if (!r.source && !r.b->haveElementLabels && r.b->isElementBlock()) r.labelArray(r.elements, "elementLabels");
}

odb_BlockReader::~odb_BlockReader() = default;
odb_BlockReader::odb_BlockReader(odb_BlockReader&&) noexcept = default;
odb_BlockReader& odb_BlockReader::operator=(odb_BlockReader&&) noexcept = default;

int odb_BlockReader::length() const { return impl_->b->length; }
int odb_BlockReader::width() const { return impl_->b->width; }
int odb_BlockReader::precision() const { return impl_->b->precision; }

int odb_BlockReader::pieceRows(std::size_t targetBytes) const {
  const BlockReaderImpl& r = *impl_;
  return suggestRows(*r.b, targetBytes, !r.source, r.where());
}

void odb_BlockReader::read(int first, int n, float* out) { impl_->readValues(first, n, out); }
void odb_BlockReader::read(int first, int n, double* out) { impl_->readValues(first, n, out); }
void odb_BlockReader::read(int first, int n, std::span<float> out) { impl_->readValues(first, n, out); }
void odb_BlockReader::read(int first, int n, std::span<double> out) { impl_->readValues(first, n, out); }

bool odb_BlockReader::hasElementLabels() const {
  const BlockData& b = *impl_->b;
  return b.haveElementLabels ? !b.elementLabels.empty() : b.isElementBlock();
}
bool odb_BlockReader::hasNodeLabels() const {
  const BlockData& b = *impl_->b;
  return b.haveLabels ? !b.nodeLabels.empty()
                      : b.position == odb_Enum::NODAL || b.position == odb_Enum::ELEMENT_NODAL;
}
bool odb_BlockReader::hasIntegrationPoints() const {
  const BlockData& b = *impl_->b;
  return b.haveLabels ? !b.integrationPoints.empty() : b.position == odb_Enum::INTEGRATION_POINT;
}

void odb_BlockReader::readElementLabels(int first, int n, int* out) {
  BlockReaderImpl& r = *impl_;
  if (!hasElementLabels()) return r.checkRows(first, n);
  r.readLabels(r.elements, "elementLabels", r.b->elementLabels, first, n, out);
  if (!r.b->haveElementLabels) r.count(first, n, out);
}

void odb_BlockReader::readNodeLabels(int first, int n, int* out) {
  BlockReaderImpl& r = *impl_;
  if (!hasNodeLabels()) return r.checkRows(first, n);
  r.readLabels(r.nodes, "nodeLabels", r.b->nodeLabels, first, n, out);
}

void odb_BlockReader::readIntegrationPoints(int first, int n, int* out) {
  BlockReaderImpl& r = *impl_;
  if (!hasIntegrationPoints()) return r.checkRows(first, n);
  r.readLabels(r.points, "integrationPoints", r.b->integrationPoints, first, n, out);
  for (int i = 0; i < n; ++i)
    if (out[i] < 1)
      odbFail(r.where(), "integrationPoints holds " + std::to_string(out[i]) + " at entry " +
                             std::to_string(first + i) + ", expected 1 or more");
}

int odb_BlockReader::numberOfElements() { return numberOfElements({}); }

int odb_BlockReader::numberOfElements(std::span<std::byte> scratch) {
  BlockReaderImpl& r = *impl_;
  const BlockData& b = *r.b;
  if (b.haveElementLabels) return b.numberOfElements;
  if (!b.isElementBlock()) return 0;
  if (r.elementCount >= 0) return r.elementCount;
  r.counter.reset();
  r.counted = 0;
  const int piece = r.countingRows();
  const std::size_t need = static_cast<std::size_t>(piece) + 1;  // a number to spare: see read(span)
  int* labels = nullptr;
  std::size_t room = scratch.size() / sizeof(int);
  if (room >= need && reinterpret_cast<std::uintptr_t>(scratch.data()) % alignof(int) == 0) {
    labels = std::launder(reinterpret_cast<int*>(scratch.data()));
  } else {
    // From the pool, which keeps the last block's piece: not zero-filled,
    // and no memory touched anew for each block.
    if (r.labels.empty()) r.labels = bufferIn<int>(r.file->ctx ? r.file->ctx->pool : PoolRef());
    r.labels.resize(need);
    labels = r.labels.data();
    room = need;
  }
  for (int first = 0; first < b.length; first += piece) {
    const int n = std::min(piece, b.length - first);
    r.readLabels(r.elements, "elementLabels", b.elementLabels, first, n, labels,
                 (room - static_cast<std::size_t>(n)) * sizeof(int));
    r.count(first, n, labels);
  }
  return r.elementCount;
}

std::size_t odb_BlockReader::countingBytes() const {
  const int rows = impl_->countingRows();
  return rows > 0 ? (static_cast<std::size_t>(rows) + 1) * sizeof(int) : 0;
}

template <class T>
static void misesOf(const BlockData& b, const T* values, int n, float* out) {
  if (!odb_vocab::isTensor(b.type)) {
    std::fill_n(out, n, 0.0f);
    return;
  }
  misesRows(values, b.width, b.shape->cols, n, out);
}

void odb_BlockReader::mises(const float* values, int n, float* out) const { misesOf(*impl_->b, values, n, out); }
void odb_BlockReader::mises(const double* values, int n, float* out) const { misesOf(*impl_->b, values, n, out); }

template <class T>
static void misesRangeOf(const BlockData& b, const T* values, int n, float& max, float& min) {
  if (odb_vocab::isTensor(b.type)) return misesRange(values, b.width, b.shape->cols, n, max, min);
  max = n > 0 ? 0.0f : -INFINITY;  // a block that is no tensor has zeros
  min = n > 0 ? 0.0f : INFINITY;
}

void odb_BlockReader::misesRange(const float* values, int n, float& max, float& min) const {
  misesRangeOf(*impl_->b, values, n, max, min);
}
void odb_BlockReader::misesRange(const double* values, int n, float& max, float& min) const {
  misesRangeOf(*impl_->b, values, n, max, min);
}
