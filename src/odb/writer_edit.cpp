// Edits of an existing database, used by tests that break files on purpose:
// attributes, links, replacement datasets and the raw offset of a dataset.
// No globals.
#include <numeric>

#include "odb/h5_write.h"

namespace odbw::edit {

using odb_detail::H5File;
using odb_detail::H5Object;
using odb_detail::WriteAt;

namespace {
// The file opened for editing and the object at `object` in it.
struct Opened {
  H5File file;
  H5Object object;
};
}  // namespace

static Opened openForEdit(const std::string& file, const std::string& object) {
  Opened o;
  o.file = odb_detail::openFile(file, true);
  o.object = odb_detail::openObject({file, object}, o.file.get());
  return o;
}

static void closeEdited(H5File& f, const WriteAt& at) {
  if (H5Fclose(f.release()) < 0) odb_detail::writeFail(at, "cannot close the file");
}

void setIntAttribute(const std::string& file, const std::string& object, const std::string& name, long long value) {
  Opened o = openForEdit(file, object);
  odb_detail::putIntAttr({file, object}, o.object.get(), name, value, H5T_STD_I64LE);
  o.object.reset();
  closeEdited(o.file, {file, object});
}

void setDoubleAttribute(const std::string& file, const std::string& object, const std::string& name, double value) {
  Opened o = openForEdit(file, object);
  odb_detail::putDoubleAttr({file, object}, o.object.get(), name, value);
  o.object.reset();
  closeEdited(o.file, {file, object});
}

void setStringAttribute(const std::string& file, const std::string& object, const std::string& name,
                        const std::string& value) {
  Opened o = openForEdit(file, object);
  odb_detail::putStringAttr({file, object}, o.object.get(), name, value);
  o.object.reset();
  closeEdited(o.file, {file, object});
}

void setStringArrayAttribute(const std::string& file, const std::string& object, const std::string& name,
                             const std::vector<std::string>& values) {
  Opened o = openForEdit(file, object);
  odb_detail::putStringArrayAttr({file, object}, o.object.get(), name, values);
  o.object.reset();
  closeEdited(o.file, {file, object});
}

void removeAttribute(const std::string& file, const std::string& object, const std::string& name) {
  Opened o = openForEdit(file, object);
  if (H5Adelete(o.object.get(), name.c_str()) < 0)
    odb_detail::writeFail({file, object}, "cannot remove attribute " + name);
  o.object.reset();
  closeEdited(o.file, {file, object});
}

void removeLink(const std::string& file, const std::string& object) {
  H5File f = odb_detail::openFile(file, true);
  if (!odb_detail::linkExists(f.get(), object)) odb_detail::writeFail({file, object}, "does not exist");
  if (H5Ldelete(f.get(), object.c_str(), H5P_DEFAULT) < 0) odb_detail::writeFail({file, object}, "cannot remove");
  closeEdited(f, {file, object});
}

static odb_detail::H5PropList intermediateGroups() {
  odb_detail::H5PropList lcpl(H5Pcreate(H5P_LINK_CREATE));
  H5Pset_create_intermediate_group(lcpl.get(), 1);
  return lcpl;
}

void moveLink(const std::string& file, const std::string& from, const std::string& to) {
  H5File f = odb_detail::openFile(file, true);
  if (!odb_detail::linkExists(f.get(), from)) odb_detail::writeFail({file, from}, "does not exist");
  const odb_detail::H5PropList lcpl = intermediateGroups();
  if (H5Lmove(f.get(), from.c_str(), f.get(), to.c_str(), lcpl.get(), H5P_DEFAULT) < 0)
    odb_detail::writeFail({file, from}, "cannot move to " + to);
  closeEdited(f, {file, from});
}

// Replaces the dataset at `object` (parents created) with a contiguous one, so that
// rawDataOffset can find its bytes.
static void replaceDataset(const std::string& file, const std::string& object, hid_t memType, hid_t fileType,
                           const void* values, std::size_t count, const std::vector<unsigned long long>& dims) {
  const WriteAt at{file, object};
  const std::size_t points = std::accumulate(dims.begin(), dims.end(), std::size_t{1},
                                             [](std::size_t a, unsigned long long d) { return a * d; });
  if (points != count)
    odb_detail::writeFail(at, std::to_string(count) + " values do not fill the shape (" + std::to_string(points) + ")");
  const std::size_t slash = object.rfind('/');
  if (slash == std::string::npos || slash + 1 == object.size()) odb_detail::writeFail(at, "is not an absolute path");
  H5File f = odb_detail::openFile(file, true);
  const std::string parentPath = slash == 0 ? "/" : object.substr(0, slash);
  {
    const odb_detail::H5Group parent = odb_detail::ensureGroup({file, parentPath}, f.get(), true);
    const std::string name = object.substr(slash + 1);
    if (H5Lexists(parent.get(), name.c_str(), H5P_DEFAULT) > 0 &&
        H5Ldelete(parent.get(), name.c_str(), H5P_DEFAULT) < 0)
      odb_detail::writeFail(at, "cannot remove the old dataset");
    const std::vector<hsize_t> shape(dims.begin(), dims.end());
    odb_detail::Layout contiguous;
    contiguous.chunked = false;
    odb_detail::putDataset({file, parentPath}, parent.get(), name, memType, fileType, values, shape, contiguous);
  }
  closeEdited(f, at);
}

void writeIntDataset(const std::string& file, const std::string& object, std::span<const int> values,
                     std::vector<unsigned long long> dims) {
  replaceDataset(file, object, H5T_NATIVE_INT, H5T_STD_I32LE, values.data(), values.size(), dims);
}

void writeInt64Dataset(const std::string& file, const std::string& object, std::span<const std::int64_t> values,
                       std::vector<unsigned long long> dims) {
  replaceDataset(file, object, H5T_NATIVE_INT64, H5T_STD_I64LE, values.data(), values.size(), dims);
}

void writeFloatDataset(const std::string& file, const std::string& object, std::span<const float> values,
                       std::vector<unsigned long long> dims) {
  replaceDataset(file, object, H5T_NATIVE_FLOAT, H5T_IEEE_F32LE, values.data(), values.size(), dims);
}

void writeDoubleDataset(const std::string& file, const std::string& object, std::span<const double> values,
                        std::vector<unsigned long long> dims) {
  replaceDataset(file, object, H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, values.data(), values.size(), dims);
}

void createGroup(const std::string& file, const std::string& object) {
  H5File f = odb_detail::openFile(file, true);
  odb_detail::ensureGroup({file, object}, f.get(), true);
  closeEdited(f, {file, object});
}

long long rawDataOffset(const std::string& file, const std::string& object) {
  H5File f = odb_detail::openFile(file, false);
  const WriteAt at{file, object};
  if (!odb_detail::linkExists(f.get(), object)) odb_detail::writeFail(at, "does not exist");
  const odb_detail::H5Dataset d(H5Dopen2(f.get(), object.c_str(), H5P_DEFAULT));
  if (!d.valid()) odb_detail::writeFail(at, "is not a dataset");
  const haddr_t offset = H5Dget_offset(d.get());
  return offset == HADDR_UNDEF ? -1 : static_cast<long long>(offset);
}

}  // namespace odbw::edit
