// Move-only owners of HDF5 identifiers. Private to src/odb and tools.
#pragma once

#include <hdf5.h>

#include <utility>

namespace odb_detail {

// Every HDF5 call of the library runs while one of these lives (guards nest).
// HDF5 as Debian builds it is not thread-safe: two threads in HDF5 at once
// corrupt it, even on different files. So the library keeps one lock for
// all its HDF5 work, process-wide because HDF5's own state is; it holds no
// state of any database or caller. While the outermost guard lives, HDF5's
// error printing is off (failures come back as odb_Exception); the caller's
// handler is put back when it ends.
class H5Guard {
 public:
  H5Guard();
  ~H5Guard();
  H5Guard(const H5Guard&) = delete;
  H5Guard& operator=(const H5Guard&) = delete;
};

template <herr_t (*Close)(hid_t)>
class H5Handle {  // one owner, no reference counting
 public:
  H5Handle() = default;
  explicit H5Handle(hid_t id) : id_(id) {}
  H5Handle(H5Handle&& o) noexcept : id_(std::exchange(o.id_, H5I_INVALID_HID)) {}
  H5Handle& operator=(H5Handle&& o) noexcept {
    reset(std::exchange(o.id_, H5I_INVALID_HID));
    return *this;
  }
  H5Handle(const H5Handle&) = delete;
  H5Handle& operator=(const H5Handle&) = delete;
  ~H5Handle() { reset(); }  // never throws

  hid_t get() const { return id_; }
  bool valid() const { return id_ >= 0; }
  hid_t release() { return std::exchange(id_, H5I_INVALID_HID); }
  void reset(hid_t id = H5I_INVALID_HID) noexcept {
    if (id_ >= 0) {
      const H5Guard guard;
      Close(id_);
    }
    id_ = id;
  }

 private:
  hid_t id_ = H5I_INVALID_HID;
};

using H5File = H5Handle<H5Fclose>;
using H5Group = H5Handle<H5Gclose>;
using H5Dataset = H5Handle<H5Dclose>;
using H5Attribute = H5Handle<H5Aclose>;
using H5Dataspace = H5Handle<H5Sclose>;
using H5Datatype = H5Handle<H5Tclose>;
using H5PropList = H5Handle<H5Pclose>;
using H5Object = H5Handle<H5Oclose>;

}  // namespace odb_detail
