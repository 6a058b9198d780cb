// The read floor: every array of every field output block (data and labels)
// read with one H5Dread each, in the stored type, into one buffer allocated
// and touched before the clock starts. Nothing else: what no reader can beat.
//   read_floor DB.odb   prints "<seconds> s <arrays> arrays <bytes> bytes"
#include <hdf5.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {
struct Array {
  std::string path;
  std::size_t bytes;
};

herr_t collect(hid_t root, const char* name, const H5O_info_t* info, void* out) {
  if (info->type != H5O_TYPE_DATASET) return 0;
  const std::string path = name;
  if (path.find("/fieldOutputs/") == std::string::npos || path.find("/blocks/") == std::string::npos) return 0;
  const hid_t d = H5Dopen2(root, name, H5P_DEFAULT);
  const hid_t t = H5Dget_type(d), s = H5Dget_space(d);
  const hssize_t n = H5Sget_simple_extent_npoints(s);
  static_cast<std::vector<Array>*>(out)->push_back({path, static_cast<std::size_t>(n) * H5Tget_size(t)});
  H5Sclose(s), H5Tclose(t), H5Dclose(d);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the same allocator settings as harvestodb (src/run/main.cpp)
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  if (argc != 2) {
    std::fputs("usage: read_floor DB.odb\n", stderr);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const hid_t file = H5Fopen(argv[1], H5F_ACC_RDONLY, H5P_DEFAULT);
  if (file < 0) return 1;
  std::vector<Array> arrays;
  if (H5Ovisit(file, H5_INDEX_NAME, H5_ITER_NATIVE, collect, &arrays) < 0) return 1;
  std::size_t largest = 0, total = 0;
  for (const Array& a : arrays) largest = std::max(largest, a.bytes), total += a.bytes;
  auto buffer = std::make_unique<unsigned char[]>(largest + 1);
  std::memset(buffer.get(), 1, largest + 1);
  for (const Array& a : arrays) {
    const hid_t d = H5Dopen2(file, a.path.c_str(), H5P_DEFAULT);
    const hid_t t = H5Dget_type(d);
    const hid_t native = H5Tget_native_type(t, H5T_DIR_ASCEND);
    if (a.bytes > 0 && H5Dread(d, native, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer.get()) < 0) return 1;
    H5Tclose(native), H5Tclose(t), H5Dclose(d);
  }
  H5Fclose(file);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f s %zu arrays %zu bytes\n", s, arrays.size(), total);
  return 0;
}
