// Plain HDF5 reads with no library in between: the baseline the benchmarks
// hold our reader against. HDF5 stays inside h5raw.cpp, so the benchmarks
// need not include <hdf5.h>.
#pragma once

#include <memory>
#include <string>
#include <cstddef>

namespace odbgen {

class RawFile {
 public:
  // Opens path read-only; throws std::runtime_error naming the file when that fails.
  explicit RawFile(const std::string& path);
  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  // Reads a whole dataset, converted to double / int by HDF5, with one
  // H5Dread into a fresh uninitialised array; n is set to its element count.
  // Throws std::runtime_error naming the object.
  std::unique_ptr<double[]> readDoubles(const std::string& object, std::size_t& n) const;
  std::unique_ptr<int[]> readInts(const std::string& object, std::size_t& n) const;
  // True when the link exists.
  bool exists(const std::string& object) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace odbgen
