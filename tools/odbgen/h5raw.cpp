// The raw HDF5 baseline: open, read whole datasets, nothing else.
#include "h5raw.h"

#include <hdf5.h>

#include <stdexcept>

#include "odb/h5_handle.h"

namespace odbgen {

using odb_detail::H5Dataset;
using odb_detail::H5Dataspace;
using odb_detail::H5File;

struct RawFile::Impl {
  std::string path;
  H5File file;
};

RawFile::RawFile(const std::string& path) : impl_(std::make_unique<Impl>()) {
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  impl_->path = path;
  impl_->file.reset(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
  if (!impl_->file.valid()) throw std::runtime_error(path + ": cannot open as HDF5");
}

RawFile::~RawFile() = default;

bool RawFile::exists(const std::string& object) const {
  return H5Lexists(impl_->file.get(), object.c_str(), H5P_DEFAULT) > 0;
}

template <class T>
static std::unique_ptr<T[]> readAll(const RawFile::Impl& f, const std::string& object, hid_t memType,
                                    std::size_t& n) {
  const H5Dataset d(H5Dopen2(f.file.get(), object.c_str(), H5P_DEFAULT));
  if (!d.valid()) throw std::runtime_error(f.path + ": " + object + ": cannot open dataset");
  const H5Dataspace space(H5Dget_space(d.get()));
  const hssize_t points = H5Sget_simple_extent_npoints(space.get());
  if (points < 0) throw std::runtime_error(f.path + ": " + object + ": bad dataspace");
  n = static_cast<std::size_t>(points);
  auto out = std::make_unique_for_overwrite<T[]>(n);
  if (n > 0 && H5Dread(d.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.get()) < 0)
    throw std::runtime_error(f.path + ": " + object + ": read failed");
  return out;
}

std::unique_ptr<double[]> RawFile::readDoubles(const std::string& object, std::size_t& n) const {
  return readAll<double>(*impl_, object, H5T_NATIVE_DOUBLE, n);
}

std::unique_ptr<int[]> RawFile::readInts(const std::string& object, std::size_t& n) const {
  return readAll<int>(*impl_, object, H5T_NATIVE_INT, n);
}

}  // namespace odbgen
