// Checked HDF5 access, part 2: attributes and whole-dataset reads, with the
// class, shape, range and size checks of docs/format.md §4 and §8.
#include <climits>
#include <cstring>
#include <memory>

#include "odb/fletcher.h"
#include "odb/h5_io.h"

namespace odb_detail {

static const char* classText(H5T_class_t c) {
  switch (c) {
    case H5T_INTEGER: return "an integer";
    case H5T_FLOAT: return "a float";
    case H5T_STRING: return "a string";
    case H5T_BITFIELD: return "a bitfield";
    case H5T_OPAQUE: return "an opaque value";
    case H5T_COMPOUND: return "a compound";
    case H5T_REFERENCE: return "a reference";
    case H5T_ENUM: return "an enum";
    case H5T_VLEN: return "a variable-length sequence";
    case H5T_ARRAY: return "an array type";
    case H5T_TIME: return "a time value";
    default: return "of an unknown class";
  }
}

namespace {
struct Attr {
  H5Attribute id;
  H5Datatype type;
  H5T_class_t cls = H5T_NO_CLASS;
  std::size_t count = 0;  // number of values
  int rank = 0;
};
}  // namespace

bool hasAttribute(hid_t obj, const char* name, const Where& w) {
  const H5Guard guard;
  const htri_t e = H5Aexists(obj, name);
  if (e < 0) odbFailHdf5(w, std::string("cannot look up attribute ") + name);
  return e > 0;
}

static std::optional<Attr> openAttribute(hid_t obj, const char* name, const Where& w) {
  const H5Guard guard;
  if (!hasAttribute(obj, name, w)) return std::nullopt;
  Attr a;
  a.id = H5Attribute(H5Aopen(obj, name, H5P_DEFAULT));
  if (!a.id.valid()) odbFailHdf5(w, std::string("cannot open attribute ") + name);
  a.type = H5Datatype(H5Aget_type(a.id.get()));
  H5Dataspace space(H5Aget_space(a.id.get()));
  if (!a.type.valid() || !space.valid()) odbFailHdf5(w, std::string("cannot read attribute ") + name);
  a.cls = H5Tget_class(a.type.get());
  const hssize_t n = H5Sget_simple_extent_npoints(space.get());
  a.rank = H5Sget_simple_extent_ndims(space.get());
  if (n < 0 || a.rank < 0) odbFailHdf5(w, std::string("cannot read the shape of attribute ") + name);
  a.count = static_cast<std::size_t>(n);
  return a;
}

H5T_class_t attributeClass(hid_t obj, const char* name, const Where& w) {
  const auto a = openAttribute(obj, name, w);
  return a ? a->cls : H5T_NO_CLASS;
}

static void requireClass(const Attr& a, const char* name, const Where& w, bool ok, const char* expected) {
  if (!ok) odbFail(w, std::string(name) + " is " + classText(a.cls) + ", expected " + expected);
}

static void requireOne(const Attr& a, const char* name, const Where& w) {
  if (a.count != 1) odbFail(w, std::string(name) + " has " + std::to_string(a.count) + " values, expected 1");
}

static void requireList(const Attr& a, const char* name, const Where& w) {
  if (a.rank > 1) odbFail(w, std::string(name) + " has rank " + std::to_string(a.rank) + ", expected 1");
}

static std::vector<std::string> readStrings(const Attr& a, const char* name, const Where& w) {
  const H5Guard guard;
  std::vector<std::string> out;
  const htri_t var = H5Tis_variable_str(a.type.get());
  if (var < 0) odbFailHdf5(w, std::string("cannot read attribute ") + name);
  if (var > 0) {
    std::vector<char*> ptrs(a.count, nullptr);
    if (a.count > 0 && H5Aread(a.id.get(), a.type.get(), ptrs.data()) < 0)
      odbFailHdf5(w, std::string("cannot read attribute ") + name);
    for (char* p : ptrs) out.emplace_back(p ? p : "");
    H5Dataspace space(H5Aget_space(a.id.get()));
    if (a.count > 0) H5Dvlen_reclaim(a.type.get(), space.get(), H5P_DEFAULT, ptrs.data());
    return out;
  }
  const std::size_t size = H5Tget_size(a.type.get());
  std::size_t bytes = 0;
  if (size == 0 || __builtin_mul_overflow(size, a.count, &bytes))
    odbFail(w, std::string(name) + " has an impossible string size");
  std::vector<char> buf(bytes);
  if (bytes > 0 && H5Aread(a.id.get(), a.type.get(), buf.data()) < 0)
    odbFailHdf5(w, std::string("cannot read attribute ") + name);
  for (std::size_t i = 0; i < a.count; ++i) {
    std::string s(buf.data() + i * size, size);
    while (!s.empty() && s.back() == '\0') s.pop_back();  // docs/format.md §4: trailing NULs dropped
    out.push_back(std::move(s));
  }
  return out;
}

std::optional<std::string> readStringAttribute(hid_t obj, const char* name, const Where& w) {
  auto a = openAttribute(obj, name, w);
  if (!a) return std::nullopt;
  requireClass(*a, name, w, a->cls == H5T_STRING, "a string");
  requireOne(*a, name, w);
  return readStrings(*a, name, w).front();
}

std::optional<std::vector<std::string>> readStringArrayAttribute(hid_t obj, const char* name, const Where& w) {
  auto a = openAttribute(obj, name, w);
  if (!a) return std::nullopt;
  requireClass(*a, name, w, a->cls == H5T_STRING, "a string");
  requireList(*a, name, w);
  return readStrings(*a, name, w);
}

static std::vector<long long> readIntegers(const Attr& a, const char* name, const Where& w) {
  const H5Guard guard;
  if (H5Tget_size(a.type.get()) > 8) odbFail(w, std::string(name) + " is wider than 64 bits");
  const bool isSigned = H5Tget_sign(a.type.get()) != H5T_SGN_NONE;
  std::vector<long long> out(a.count);
  if (isSigned || H5Tget_size(a.type.get()) < 8) {
    if (a.count > 0 && H5Aread(a.id.get(), H5T_NATIVE_LLONG, out.data()) < 0)
      odbFailHdf5(w, std::string("cannot read attribute ") + name);
    return out;
  }
  std::vector<unsigned long long> u(a.count);
  if (a.count > 0 && H5Aread(a.id.get(), H5T_NATIVE_ULLONG, u.data()) < 0)
    odbFailHdf5(w, std::string("cannot read attribute ") + name);
  for (std::size_t i = 0; i < u.size(); ++i) {
    if (u[i] > static_cast<unsigned long long>(LLONG_MAX))
      odbFail(w, std::string(name) + " holds " + std::to_string(u[i]) + ", which does not fit 64 signed bits");
    out[i] = static_cast<long long>(u[i]);
  }
  return out;
}

std::optional<long long> readIntAttribute(hid_t obj, const char* name, const Where& w) {
  auto a = openAttribute(obj, name, w);
  if (!a) return std::nullopt;
  requireClass(*a, name, w, a->cls == H5T_INTEGER, "an integer");
  requireOne(*a, name, w);
  return readIntegers(*a, name, w).front();
}

std::optional<std::vector<long long>> readIntArrayAttribute(hid_t obj, const char* name, const Where& w) {
  auto a = openAttribute(obj, name, w);
  if (!a) return std::nullopt;
  requireClass(*a, name, w, a->cls == H5T_INTEGER, "an integer");
  requireList(*a, name, w);
  return readIntegers(*a, name, w);
}

int readInt32Attribute(hid_t obj, const char* name, const Where& w, int fallback) {
  const auto v = readIntAttribute(obj, name, w);
  if (!v) return fallback;
  if (*v < INT_MIN || *v > INT_MAX)
    odbFail(w, std::string(name) + " is " + std::to_string(*v) + ", expected a 32-bit integer");
  return static_cast<int>(*v);
}

static std::vector<double> readReals(const Attr& a, const char* name, const Where& w) {
  const H5Guard guard;
  requireClass(a, name, w, a.cls == H5T_FLOAT || a.cls == H5T_INTEGER, "a number");
  std::vector<double> out(a.count);
  if (a.count > 0 && H5Aread(a.id.get(), H5T_NATIVE_DOUBLE, out.data()) < 0)
    odbFailHdf5(w, std::string("cannot read attribute ") + name);
  return out;
}

std::optional<double> readDoubleAttribute(hid_t obj, const char* name, const Where& w) {
  auto a = openAttribute(obj, name, w);
  if (!a) return std::nullopt;
  requireClass(*a, name, w, a->cls == H5T_FLOAT || a->cls == H5T_INTEGER, "a number");
  requireOne(*a, name, w);
  return readReals(*a, name, w).front();
}

std::optional<std::vector<double>> readDoubleArrayAttribute(hid_t obj, const char* name, const Where& w) {
  auto a = openAttribute(obj, name, w);
  if (!a) return std::nullopt;
  requireList(*a, name, w);
  return readReals(*a, name, w);
}

// ------------------------------------------------------------------ datasets

std::optional<Dataset> openOptionalDataset(hid_t loc, const std::string& name, const Where& w) {
  const H5Guard guard;
  auto [k, o] = openChild(loc, name, w);
  if (k == Kind::Missing) return std::nullopt;
  if (k != Kind::Dataset) odbFail(w, name + (k == Kind::Group ? " is a group" : " is a named datatype") +
                                         ", expected a dataset");
  Dataset d;
  d.name = name;
  d.id = H5Dataset(o.release());
  H5Datatype type(H5Dget_type(d.id.get()));
  H5Dataspace space(H5Dget_space(d.id.get()));
  if (!type.valid() || !space.valid()) odbFailHdf5(w, "cannot read the type of " + name);
  d.cls = H5Tget_class(type.get());
  d.typeSize = H5Tget_size(type.get());
  d.isSigned = d.cls != H5T_INTEGER || H5Tget_sign(type.get()) != H5T_SGN_NONE;
  const int rank = H5Sget_simple_extent_ndims(space.get());
  if (rank < 0) odbFailHdf5(w, "cannot read the shape of " + name);
  d.dims.assign(static_cast<std::size_t>(rank), 0);
  if (rank > 0 && H5Sget_simple_extent_dims(space.get(), d.dims.data(), nullptr) < 0)
    odbFailHdf5(w, "cannot read the shape of " + name);
  return d;
}

Dataset openDataset(hid_t loc, const std::string& name, const Where& w) {
  auto d = openOptionalDataset(loc, name, w);
  if (!d) odbFail(w, name + " is missing");
  return std::move(*d);
}

void requireRank(const Dataset& d, int rank, const Where& w) {
  if (static_cast<int>(d.dims.size()) != rank)
    odbFail(w, d.name + " has rank " + std::to_string(d.dims.size()) + ", expected " + std::to_string(rank));
}

int floatPrecision(const Dataset& d, const Where& w) {
  if (d.cls == H5T_FLOAT && d.typeSize == 4) return 0;
  if (d.cls == H5T_FLOAT && d.typeSize == 8) return 1;
  if (d.cls == H5T_FLOAT)
    odbFail(w, d.name + " is a " + std::to_string(d.typeSize * 8) + "-bit float, expected float32 or float64");
  odbFail(w, d.name + " is " + classText(d.cls) + ", expected float32 or float64");
}

int elementCount(const Dataset& d, const Where& w) {
  std::uint64_t n = 1;
  for (hsize_t x : d.dims)
    if (__builtin_mul_overflow(n, static_cast<std::uint64_t>(x), &n) || n > static_cast<std::uint64_t>(INT_MAX))
      odbFail(w, d.name + " has more than " + std::to_string(INT_MAX) + " values");
  return static_cast<int>(n);
}

// docs/format.md §8: a size beyond what the file can hold is an error, found
// before anything is allocated. Compressed arrays may expand, by at most the
// ratio deflate can reach.
std::size_t checkedCount(const Dataset& d, const Where& w, std::uint64_t limit) {
  const H5Guard guard;
  const std::size_t n = static_cast<std::size_t>(elementCount(d, w));
  std::uint64_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(n), static_cast<std::uint64_t>(d.typeSize), &bytes))
    odbFail(w, d.name + " is too large");
  if (bytes <= limit) return n;  // the filters need not be asked for: a copy of them costs an allocation each
  H5PropList dcpl(H5Dget_create_plist(d.id.get()));
  if (!dcpl.valid()) odbFailHdf5(w, "cannot read the layout of " + d.name);
  const int filters = H5Pget_nfilters(dcpl.get());
  std::uint64_t bound = limit;
  if (filters > 0 && __builtin_mul_overflow(limit, std::uint64_t{1100}, &bound)) bound = UINT64_MAX;
  if (bytes > bound)
    odbFail(w, d.name + " needs " + std::to_string(bytes) + " bytes, more than the file's " +
                   std::to_string(limit));
  return n;
}

// ------------------------------------------------- chunks read as stored
//
// HDF5 checks a chunk's Fletcher-32 sum a word at a time, into a buffer of
// its own that it then copies out: on a model's stress field that was 43 %
// of a max/min run, more than reading the file. The chunks of a dataset
// chunked by whole rows, with that sum as its only filter and stored in the
// memory type's own form, are instead read as stored (H5Dread_chunk) straight
// into the caller's array and their sums checked here (fletcher.cpp), with
// HDF5's rule: the sum stored after the chunk, little-endian, or its bytes
// reversed (as older HDF5 wrote it). A chunk's sum lands on the first bytes
// of the rows after it, which the next read then fills; the chunk that ends
// the read, and any read this does not fit, go through HDF5 as before.

// The rows of one chunk when d's chunks can be read as stored, else 0.
static std::size_t storedChunkRows(const Dataset& d) {
  if (d.storedChunkRows >= 0) return static_cast<std::size_t>(d.storedChunkRows);
  d.storedChunkRows = 0;
  H5PropList dcpl(H5Dget_create_plist(d.id.get()));
  if (!dcpl.valid() || H5Pget_layout(dcpl.get()) != H5D_CHUNKED || d.dims.empty() || d.dims.size() > 2) return 0;
  hsize_t chunk[2] = {0, 0};
  unsigned flags = 0;
  std::size_t nameless = 0;
  unsigned config = 0;
  if (H5Pget_chunk(dcpl.get(), 2, chunk) != static_cast<int>(d.dims.size()) || chunk[0] == 0 ||
      (d.dims.size() == 2 && chunk[1] != d.dims[1]) || H5Pget_nfilters(dcpl.get()) != 1 ||
      H5Pget_filter2(dcpl.get(), 0, &flags, &nameless, nullptr, 0, nullptr, &config) != H5Z_FILTER_FLETCHER32)
    return 0;
  d.storedChunkRows = static_cast<long long>(chunk[0]);
  return chunk[0];
}

// The bytes of one row of d as stored.
static std::size_t storedRowBytes(const Dataset& d) {
  return d.typeSize * (d.dims.size() == 2 ? static_cast<std::size_t>(d.dims[1]) : 1);
}

// Reads the chunks of rows [first, first + n) that it can as stored (see
// above) into buf; returns the rows read, from first on. A chunk goes
// straight into buf when the whole stored chunk, its sum included, lands
// inside buf: a chunk followed by more rows of the read, or one the spare
// bytes after the read hold (the sum of a last whole chunk needs four, the
// rest of a chunk that ends past the read its rows too). Another chunk goes
// through an array of the call's own (left uninitialised: the heap hands
// back the last one's pages).
static std::size_t readStoredChunks(const Dataset& d, const Where& w, hid_t memType, std::size_t first,
                                    std::size_t n, void* buf, std::size_t spare) {
  const std::size_t rows = storedChunkRows(d);
  if (rows == 0 || first % rows != 0) return 0;
  H5Datatype fileType(H5Dget_type(d.id.get()));
  if (!fileType.valid() || H5Tequal(fileType.get(), memType) <= 0) return 0;
  const std::size_t rowBytes = storedRowBytes(d);
  const std::size_t chunkBytes = rows * rowBytes;
  auto* out = static_cast<unsigned char*>(buf);
  const std::size_t bufBytes = n * rowBytes + spare;
  std::unique_ptr<unsigned char[]> own;
  std::size_t done = 0;
  for (; done < n; done += rows) {
    const std::size_t take = std::min(rows, n - done);
    unsigned char* at = out + done * rowBytes;
    unsigned char* into = at;
    if (done * rowBytes + chunkBytes + 4 > bufBytes) {
      if (!own) own.reset(new unsigned char[chunkBytes + 4]);
      into = own.get();
    }
    const hsize_t offset[2] = {first + done, 0};
    hsize_t stored = 0;
    if (H5Dget_chunk_storage_size(d.id.get(), offset, &stored) < 0 || stored != chunkBytes + 4) break;
    std::uint32_t filters = 0;
    if (H5Dread_chunk(d.id.get(), H5P_DEFAULT, offset, &filters, into) < 0) odbFailHdf5(w, "cannot read " + d.name);
    if (filters != 0) break;  // stored unfiltered: HDF5 reads it as it is
    if (!storedSumMatches(into, chunkBytes))
      odbFail(w, "cannot read " + d.name + " (data error detected by fletcher32 checksum)");
    if (into != at) std::memcpy(at, into, take * rowBytes);
  }
  return std::min(done, n);
}

// Reads the whole of d into buf (n values); room: buf has a value to spare
// after them (four bytes at least).
static void readAll(const Dataset& d, const Where& w, hid_t memType, void* buf, std::size_t n, bool room = false) {
  const H5Guard guard;
  if (n == 0) return;
  if (storedChunkRows(d) > 0) {
    readRows(d, w, memType, 0, static_cast<std::size_t>(d.dims[0]), buf, room ? 4 : 0);
    return;
  }
  if (H5Dread(d.id.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, buf) < 0) odbFailHdf5(w, "cannot read " + d.name);
}

void requireIntegerData(const Dataset& d, const Where& w) {
  if (d.cls != H5T_INTEGER) odbFail(w, d.name + " is " + classText(d.cls) + ", expected an integer");
  if (d.typeSize > 8) odbFail(w, d.name + " is wider than 64 bits");
}

template <class Target, class Vec = std::vector<Target>>
static Vec readIntegerData(const Dataset& d, const Where& w, std::uint64_t limit, hid_t direct,
                                           long long lo, long long hi, Vec out = Vec()) {
  const H5Guard guard;
  requireIntegerData(d, w);
  const std::size_t n = checkedCount(d, w, limit);
  // Read directly when every stored value fits; otherwise read wide and check
  // each value, since HDF5 would clip silently.
  if ((d.isSigned && d.typeSize <= sizeof(Target)) || (!d.isSigned && d.typeSize < sizeof(Target))) {
    out.resize(n + 1);
    readAll(d, w, direct, out.data(), n, true);
    out.resize(n);
    return out;
  }
  out.resize(n);
  if (d.isSigned) {
    std::vector<long long> wide(n);
    readAll(d, w, H5T_NATIVE_LLONG, wide.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
      if (wide[i] < lo || wide[i] > hi)
        odbFail(w, d.name + " holds " + std::to_string(wide[i]) + " at entry " + std::to_string(i) +
                       ", which does not fit " + std::to_string(sizeof(Target) * 8) + " bits");
      out[i] = static_cast<Target>(wide[i]);
    }
    return out;
  }
  std::vector<unsigned long long> wide(n);
  readAll(d, w, H5T_NATIVE_ULLONG, wide.data(), n);
  for (std::size_t i = 0; i < n; ++i) {
    if (wide[i] > static_cast<unsigned long long>(hi))
      odbFail(w, d.name + " holds " + std::to_string(wide[i]) + " at entry " + std::to_string(i) +
                     ", which does not fit " + std::to_string(sizeof(Target) * 8) + " bits");
    out[i] = static_cast<Target>(wide[i]);
  }
  return out;
}

std::vector<int> readInts(const Dataset& d, const Where& w, std::uint64_t limit) {
  const H5Guard guard;
  return readIntegerData<int>(d, w, limit, H5T_NATIVE_INT, INT_MIN, INT_MAX);
}

std::vector<std::int64_t> readInt64s(const Dataset& d, const Where& w, std::uint64_t limit) {
  const H5Guard guard;
  return readIntegerData<std::int64_t>(d, w, limit, H5T_NATIVE_INT64, LLONG_MIN, LLONG_MAX);
}

Buffer<int> readIntBuffer(const Dataset& d, const Where& w, std::uint64_t limit, const PoolRef& pool) {
  const H5Guard guard;
  return readIntegerData<int, Buffer<int>>(d, w, limit, H5T_NATIVE_INT, INT_MIN, INT_MAX, bufferIn<int>(pool));
}

template <class T>
static std::vector<T> readReals(const Dataset& d, const Where& w, std::uint64_t limit, hid_t memType) {
  const H5Guard guard;
  floatPrecision(d, w);
  const std::size_t n = checkedCount(d, w, limit);
  std::vector<T> out(n);
  readAll(d, w, memType, out.data(), n);
  return out;
}

std::vector<float> readFloats(const Dataset& d, const Where& w, std::uint64_t limit) {
  const H5Guard guard;
  return readReals<float>(d, w, limit, H5T_NATIVE_FLOAT);
}

std::vector<double> readDoubles(const Dataset& d, const Where& w, std::uint64_t limit) {
  const H5Guard guard;
  return readReals<double>(d, w, limit, H5T_NATIVE_DOUBLE);
}

// The arrays of whole reads get one value more while they are read: room for
// the sum of a last chunk read as stored.
void readFloatsInto(const Dataset& d, const Where& w, std::size_t n, Buffer<float>& out) {
  const H5Guard guard;
  out.resize(n + 1);
  readAll(d, w, H5T_NATIVE_FLOAT, out.data(), n, true);
  out.resize(n);
}

void readDoublesInto(const Dataset& d, const Where& w, std::size_t n, Buffer<double>& out) {
  const H5Guard guard;
  out.resize(n + 1);
  readAll(d, w, H5T_NATIVE_DOUBLE, out.data(), n, true);
  out.resize(n);
}

// ------------------------------------------------------------------- pieces

void readRows(const Dataset& d, const Where& w, hid_t memType, std::size_t first, std::size_t n, void* buf,
              std::size_t spare) {
  const H5Guard guard;
  if (const std::size_t done = readStoredChunks(d, w, memType, first, n, buf, spare); done > 0) {
    const std::size_t rowBytes = storedRowBytes(d);
    first += done;
    n -= done;
    buf = static_cast<unsigned char*>(buf) + done * rowBytes;
  }
  if (n == 0) return;
  H5Dataspace file(H5Dget_space(d.id.get()));
  if (!file.valid()) odbFailHdf5(w, "cannot read the shape of " + d.name);
  const hsize_t start[2] = {first, 0};
  const hsize_t count[2] = {n, d.dims.size() == 2 ? d.dims[1] : 1};
  if (H5Sselect_hyperslab(file.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0)
    odbFailHdf5(w, "cannot select rows of " + d.name);
  // The memory space has the selection's shape: HDF5 then maps whole
  // hyperslabs onto chunks, where a flat space costs a look-up per value.
  const int rank = static_cast<int>(d.dims.size());
  H5Dataspace memory(H5Screate_simple(rank, count, nullptr));
  if (!memory.valid()) odbFailHdf5(w, "cannot read " + d.name);
  if (H5Dread(d.id.get(), memType, memory.get(), file.get(), H5P_DEFAULT, buf) < 0)
    odbFailHdf5(w, "cannot read " + d.name);
}

void readIntRows(const Dataset& d, const Where& w, std::size_t first, std::size_t n, int* out, std::size_t spare) {
  const H5Guard guard;
  requireIntegerData(d, w);
  if ((d.isSigned && d.typeSize <= sizeof(int)) || (!d.isSigned && d.typeSize < sizeof(int))) {
    readRows(d, w, H5T_NATIVE_INT, first, n, out, spare);
    return;
  }
  // Read wide and check each value, as the whole read does.
  std::vector<long long> wide(n);
  readRows(d, w, d.isSigned ? H5T_NATIVE_LLONG : H5T_NATIVE_ULLONG, first, n, wide.data());
  for (std::size_t i = 0; i < n; ++i) {
    const bool fits = d.isSigned ? wide[i] >= INT_MIN && wide[i] <= INT_MAX
                                 : static_cast<unsigned long long>(wide[i]) <= static_cast<unsigned long long>(INT_MAX);
    if (!fits)
      odbFail(w, d.name + " holds " +
                     (d.isSigned ? std::to_string(wide[i]) : std::to_string(static_cast<unsigned long long>(wide[i]))) +
                     " at entry " + std::to_string(first + i) + ", which does not fit " +
                     std::to_string(sizeof(int) * 8) + " bits");
    out[i] = static_cast<int>(wide[i]);
  }
}

std::size_t chunkRows(const Dataset& d, const Where& w) {
  const H5Guard guard;
  H5PropList dcpl(H5Dget_create_plist(d.id.get()));
  if (!dcpl.valid()) odbFailHdf5(w, "cannot read the layout of " + d.name);
  if (H5Pget_layout(dcpl.get()) != H5D_CHUNKED || d.dims.empty()) return 0;
  hsize_t chunk[2] = {0, 0};
  if (H5Pget_chunk(dcpl.get(), 2, chunk) < 0) odbFailHdf5(w, "cannot read the layout of " + d.name);
  return static_cast<std::size_t>(chunk[0]);
}

}  // namespace odb_detail
