// The read floor: what no reader of the arrays a whole-model run needs can beat.
// Per field output block it reads `data` and the labels that place a value
// (elementLabels, or nodeLabels in a node block), in the stored type, a chunk
// at a time into one reused buffer: no memory is touched for
// the first time after the first chunk, so neither the size of the blocks nor
// the page size decides the figure, only the file's bytes and their decoding
// (checksums, filters). A chunk whose only filter is the Fletcher-32 sum is
// read as stored and its sum checked with the library's own check
// (src/odb/fletcher.cpp), which is faster than HDF5's: the floor is what a
// reader that checks every sum needs, however it checks them.
//   read_floor [--all] [--whole | --raw] [--piece-chunks N] DB.odb
//     --all     also the other label arrays (integration points, node labels of element blocks)
//     --whole   one H5Dread per array into one buffer as large as the largest array, touched first
//               (the floor before pieces: beaten by readers whose blocks are large)
//     --piece-chunks N   chunks per piece (default 1; a contiguous array reads N MiB a piece)
//     --raw     chunked arrays as stored bytes, a chunk at a time with H5Dread_chunk: no filter runs, so
//               checksums are not verified; the bound below every reader that decodes the chunks
//   prints "<seconds> s <arrays> arrays <bytes> bytes <minor faults> faults"
#include <hdf5.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "odb/fletcher.h"

namespace {
struct Options {
  bool all = false;
  bool whole = false;
  bool raw = false;
  long pieceChunks = 1;
};

struct Array {
  std::string path;
  std::size_t bytes;
};

struct Visit {
  Options options;
  std::vector<Array> arrays;
};

herr_t collect(hid_t root, const char* name, const H5O_info_t* info, void* out) {
  if (info->type != H5O_TYPE_DATASET) return 0;
  Visit& v = *static_cast<Visit*>(out);
  const std::string path = name;
  if (path.find("/fieldOutputs/") == std::string::npos || path.find("/blocks/") == std::string::npos) return 0;
  const std::string base = path.substr(path.rfind('/') + 1), block = path.substr(0, path.size() - base.size());
  const bool locates = base == "elementLabels" ||
                       (base == "nodeLabels" && H5Lexists(root, (block + "elementLabels").c_str(), H5P_DEFAULT) <= 0);
  if (base != "data" && !locates && !v.options.all) return 0;
  const hid_t d = H5Dopen2(root, name, H5P_DEFAULT);
  const hid_t t = H5Dget_type(d), s = H5Dget_space(d);
  const hssize_t n = H5Sget_simple_extent_npoints(s);
  v.arrays.push_back({path, static_cast<std::size_t>(n) * H5Tget_size(t)});
  H5Sclose(s), H5Tclose(t), H5Dclose(d);
  return 0;
}

// Reads every chunk of an array whose only filter is the Fletcher-32 sum as
// stored, each into the front of buffer, and checks its sum as HDF5 would;
// false when a sum differs or a read fails.
bool readCheckedChunks(hid_t d, const hsize_t chunk[2], const hsize_t dims[2], std::vector<unsigned char>& buffer) {
  bool ok = true;
  for (hsize_t row = 0; ok && row < dims[0]; row += chunk[0]) {
    const hsize_t offset[2] = {row, 0};
    hsize_t bytes = 0;
    ok = H5Dget_chunk_storage_size(d, offset, &bytes) >= 0 && bytes >= 4;
    if (!ok) break;
    if (buffer.size() < bytes) buffer.resize(bytes, 1);
    std::uint32_t filters = 0;
    ok = H5Dread_chunk(d, H5P_DEFAULT, offset, &filters, buffer.data()) >= 0;
    if (!ok || filters != 0) continue;  // a chunk stored unfiltered carries no sum
    ok = odb_detail::storedSumMatches(buffer.data(), bytes - 4);
  }
  return ok;
}

// Reads one array in pieces of whole chunks (rows), each into the front of buffer.
bool readPieces(hid_t d, hid_t native, std::vector<unsigned char>& buffer, long pieceChunks) {
  const hid_t space = H5Dget_space(d);
  const int rank = H5Sget_simple_extent_ndims(space);
  hsize_t dims[2] = {0, 1};
  H5Sget_simple_extent_dims(space, dims, nullptr);
  const hsize_t width = rank == 2 ? dims[1] : 1;
  const std::size_t rowBytes = H5Tget_size(native) * width;
  hsize_t rows = 0;  // rows a piece
  const hid_t dcpl = H5Dget_create_plist(d);
  if (H5Pget_layout(dcpl) == H5D_CHUNKED) {
    hsize_t chunk[2] = {1, 1};
    H5Pget_chunk(dcpl, 2, chunk);
    unsigned flags = 0, config = 0;
    std::size_t none = 0;
    if (pieceChunks == 1 && (rank == 1 || chunk[1] == width) && H5Pget_nfilters(dcpl) == 1 &&
        H5Pget_filter2(dcpl, 0, &flags, &none, nullptr, 0, nullptr, &config) == H5Z_FILTER_FLETCHER32) {
      H5Pclose(dcpl);
      H5Sclose(space);
      return readCheckedChunks(d, chunk, dims, buffer);
    }
    rows = chunk[0] * static_cast<hsize_t>(pieceChunks);
  } else {
    rows = std::max<hsize_t>(1, (static_cast<hsize_t>(pieceChunks) << 20) / rowBytes);
  }
  H5Pclose(dcpl);
  rows = std::min(rows, dims[0]);
  if (buffer.size() < rows * rowBytes) buffer.resize(rows * rowBytes, 1);
  bool ok = true;
  for (hsize_t start = 0; ok && start < dims[0]; start += rows) {
    const hsize_t count[2] = {std::min(rows, dims[0] - start), width};
    const hsize_t offset[2] = {start, 0};
    H5Sselect_hyperslab(space, H5S_SELECT_SET, offset, nullptr, count, nullptr);
    const hid_t mem = H5Screate_simple(rank, count, nullptr);
    ok = H5Dread(d, native, mem, space, H5P_DEFAULT, buffer.data()) >= 0;
    H5Sclose(mem);
  }
  H5Sclose(space);
  return ok;
}
// Reads the stored bytes of every chunk of a chunked array (filters not applied); false when the
// array is not chunked or a read fails.
bool readRawChunks(hid_t d, std::vector<unsigned char>& buffer) {
  const hid_t dcpl = H5Dget_create_plist(d);
  const bool chunked = H5Pget_layout(dcpl) == H5D_CHUNKED;
  hsize_t chunk[2] = {1, 1};
  if (chunked) H5Pget_chunk(dcpl, 2, chunk);
  H5Pclose(dcpl);
  if (!chunked) return false;
  const hid_t space = H5Dget_space(d);
  hsize_t dims[2] = {0, 1};
  H5Sget_simple_extent_dims(space, dims, nullptr);
  H5Sclose(space);
  bool ok = true;
  for (hsize_t row = 0; ok && row < dims[0]; row += chunk[0]) {
    const hsize_t offset[2] = {row, 0};
    hsize_t bytes = 0;
    ok = H5Dget_chunk_storage_size(d, offset, &bytes) >= 0;
    if (buffer.size() < bytes) buffer.resize(bytes, 1);
    std::uint32_t filters = 0;
    ok = ok && H5Dread_chunk(d, H5P_DEFAULT, offset, &filters, buffer.data()) >= 0;
  }
  return ok;
}
}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the same allocator settings as harvestodb (src/run/main.cpp)
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  Visit visit;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--all") visit.options.all = true;
    else if (a == "--whole") visit.options.whole = true;
    else if (a == "--raw") visit.options.raw = true;
    else if (a == "--piece-chunks" && i + 1 < argc) visit.options.pieceChunks = std::atol(argv[++i]);
    else if (!path && a[0] != '-') path = argv[i];
    else path = nullptr, i = argc;
  }
  if (!path || visit.options.pieceChunks < 1) {
    std::fputs("usage: read_floor [--all] [--whole | --raw] [--piece-chunks N] DB.odb\n", stderr);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const hid_t file = H5Fopen(path, H5F_ACC_RDONLY, H5P_DEFAULT);
  if (file < 0) return 1;
  if (H5Ovisit(file, H5_INDEX_NAME, H5_ITER_NATIVE, collect, &visit) < 0) return 1;
  std::size_t largest = 0, total = 0;
  for (const Array& a : visit.arrays) largest = std::max(largest, a.bytes), total += a.bytes;
  std::vector<unsigned char> buffer(visit.options.whole ? largest + 1 : 0, 1);
  for (const Array& a : visit.arrays) {
    const hid_t d = H5Dopen2(file, a.path.c_str(), H5P_DEFAULT);
    const hid_t t = H5Dget_type(d);
    const hid_t native = H5Tget_native_type(t, H5T_DIR_ASCEND);
    const bool ok = a.bytes == 0 || (visit.options.raw && readRawChunks(d, buffer)) ||
                    (visit.options.whole ? H5Dread(d, native, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer.data()) >= 0
                                         : readPieces(d, native, buffer, visit.options.pieceChunks));
    H5Tclose(native), H5Tclose(t), H5Dclose(d);
    if (!ok) return 1;
  }
  H5Fclose(file);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%.3f s %zu arrays %zu bytes %ld faults\n", s, visit.arrays.size(), total, usage.ru_minflt);
  return 0;
}
