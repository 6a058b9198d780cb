// Checked HDF5 write calls shared by the writer and the upgrade. Touches one
// process-wide flag through h5_io.cpp: whether a written file could not be
// closed.
#include "odb/h5_write.h"

#include <algorithm>

#include "odb/odb.h"

namespace odb_detail {

static Where rootOf(const std::string& file) { return {file, "/"}; }

// Link creation order tracked and indexed, on the file's root group or on a group.
static H5PropList orderProps(hid_t cls, bool trackOrder, const Where& w) {
  const H5Guard guard;
  H5PropList p = propertyList(cls, w);
  if (trackOrder)
    checked(H5Pset_link_creation_order(p.get(), H5P_CRT_ORDER_TRACKED | H5P_CRT_ORDER_INDEXED), w,
            "cannot set the link order");
  return p;
}

H5File createFile(const std::string& file, bool trackOrder) {
  takeHdf5Exit();
  const H5Guard guard;
  const Where w = rootOf(file);
  const H5PropList fcpl = orderProps(H5P_FILE_CREATE, trackOrder, w);
  // Version bounds of 1.10 or later give object headers with metadata checksums.
  const H5PropList fapl = propertyList(H5P_FILE_ACCESS, w);
  checked(H5Pset_libver_bounds(fapl.get(), H5F_LIBVER_V110, H5F_LIBVER_LATEST), w, "cannot set the format version");
  H5File f(H5Fcreate(file.c_str(), H5F_ACC_TRUNC, fcpl.get(), fapl.get()));
  if (!f.valid()) writeFail(w, "cannot create the file");
  return f;
}

void closeWrittenFile(H5File& file, const Where& w) {
  const H5Guard guard;
  // HDF5 keeps a file it could not write open, and a second close of it
  // crashes; so the handle is given up after the first failure, and HDF5 is
  // left up at the process's exit (h5_io.cpp).
  if (H5Fflush(file.get(), H5F_SCOPE_GLOBAL) < 0 || H5Fclose(file.get()) < 0) {
    file.release();
    fileLeftOpen();
    writeFail(w, "cannot write the file");
  }
  file.release();
}

void closeWrittenFileQuietly(H5File& file, const Where& w) noexcept {
  if (!file.valid()) return;
  try {
    closeWrittenFile(file, w);
  } catch (const odb_Exception&) {  // the caller reports the failure that brought it here
  }
}

void checkName(const Where& parent, const std::string& name) {
  if (name.empty() || name == "." || name.find('/') != std::string::npos)
    odbFail(parent, "invalid name \"" + name + "\"");
}

H5Group createGroup(const Where& parent, hid_t parentId, const std::string& name, bool trackOrder) {
  const H5Guard guard;
  checkName(parent, name);
  const Where at = parent.at(name);
  if (childKind(parentId, name, at) != Kind::Missing) odbFail(at, "already exists");
  const H5PropList gcpl = orderProps(H5P_GROUP_CREATE, trackOrder, at);
  H5Group g(H5Gcreate2(parentId, name.c_str(), H5P_DEFAULT, gcpl.get(), H5P_DEFAULT));
  if (!g.valid()) writeFail(at, "cannot create the group");
  return g;
}

H5Group ensureGroup(const Where& at, hid_t file, bool trackOrder) {
  H5Group g = openRoot(file, {at.file, "/"});
  for (std::size_t begin = 1; begin < at.path.size();) {
    const std::size_t end = std::min(at.path.find('/', begin), at.path.size());
    const std::string name = at.path.substr(begin, end - begin);
    const Where parent{at.file, begin == 1 ? "/" : at.path.substr(0, begin - 1)};
    if (childKind(g.get(), name, parent.at(name)) == Kind::Missing) {
      g = createGroup(parent, g.get(), name, trackOrder);
    } else {
      g = openGroup(g.get(), name, parent.at(name));
    }
    begin = end + 1;
  }
  return g;
}

H5Object openObject(const Where& at, hid_t file) {
  const H5Guard guard;
  if (childKind(file, at.path, at) == Kind::Missing) odbFail(at, "does not exist");
  H5Object o(H5Oopen(file, at.path.c_str(), H5P_DEFAULT));
  if (!o.valid()) writeFail(at, "cannot open the object");
  return o;
}

// Creates attribute `name` (removing an old one) and writes one buffer into it.
static void putAttr(const Where& at, hid_t obj, const std::string& name, hid_t fileType, hid_t memType,
                    const H5Dataspace& space, const void* data) {
  if (!space.valid()) writeFail(at, "cannot make the dataspace of attribute " + name);
  if (hasAttribute(obj, name.c_str(), at))
    checked(H5Adelete(obj, name.c_str()), at, "cannot replace attribute " + name);
  H5Attribute a(H5Acreate2(obj, name.c_str(), fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT));
  if (!a.valid()) writeFail(at, "cannot create attribute " + name);
  checked(H5Awrite(a.get(), memType, data), at, "cannot write attribute " + name);
}

// Fixed-length UTF-8 strings of `size` bytes, NUL-padded: a reader finds each
// value in the attribute itself, with no heap object whose length could be damaged.
static H5Datatype utf8StringType(std::size_t size, const Where& at) {
  const H5Guard guard;
  H5Datatype t(H5Tcopy(H5T_C_S1));
  if (!t.valid() || H5Tset_size(t.get(), std::max<std::size_t>(size, 1)) < 0 ||
      H5Tset_strpad(t.get(), H5T_STR_NULLPAD) < 0 || H5Tset_cset(t.get(), H5T_CSET_UTF8) < 0)
    writeFail(at, "cannot make the string type");
  return t;
}

static H5Dataspace vectorSpace(std::size_t n) {
  const H5Guard guard;
  const hsize_t dims[1] = {n};
  return H5Dataspace(H5Screate_simple(1, dims, nullptr));
}

// Writes values as fixed-length strings as long as the longest, into a scalar
// attribute when scalar, else a list.
static void putStrings(const Where& at, hid_t obj, const std::string& name, const std::vector<std::string>& values,
                       bool scalar) {
  const H5Guard guard;
  std::size_t size = 1;
  for (const std::string& v : values) size = std::max(size, v.size());
  std::vector<char> bytes(size * values.size(), '\0');
  for (std::size_t i = 0; i < values.size(); ++i)
    std::copy(values[i].begin(), values[i].end(), bytes.begin() + static_cast<std::ptrdiff_t>(i * size));
  const H5Datatype t = utf8StringType(size, at);
  putAttr(at, obj, name, t.get(), t.get(), scalar ? H5Dataspace(H5Screate(H5S_SCALAR)) : vectorSpace(values.size()),
          bytes.data());
}

void putStringAttr(const Where& at, hid_t obj, const std::string& name, const std::string& value) {
  putStrings(at, obj, name, {value}, true);
}

void putStringArrayAttr(const Where& at, hid_t obj, const std::string& name, const std::vector<std::string>& values) {
  putStrings(at, obj, name, values, false);
}

void putIntAttr(const Where& at, hid_t obj, const std::string& name, long long value, hid_t fileType) {
  const H5Guard guard;
  putAttr(at, obj, name, fileType, H5T_NATIVE_LLONG, H5Dataspace(H5Screate(H5S_SCALAR)), &value);
}

void putIntArrayAttr(const Where& at, hid_t obj, const std::string& name, const std::vector<int>& values) {
  const H5Guard guard;
  putAttr(at, obj, name, H5T_STD_I32LE, H5T_NATIVE_INT, vectorSpace(values.size()), values.data());
}

void putDoubleAttr(const Where& at, hid_t obj, const std::string& name, double value) {
  const H5Guard guard;
  putAttr(at, obj, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, H5Dataspace(H5Screate(H5S_SCALAR)), &value);
}

void putDoubleArrayAttr(const Where& at, hid_t obj, const std::string& name, const std::vector<double>& values) {
  const H5Guard guard;
  putAttr(at, obj, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, vectorSpace(values.size()), values.data());
}

// Chunks of about chunkBytes hold whole rows; an empty dataset cannot be chunked.
static H5PropList datasetCreateProps(const Where& at, hid_t fileType, const std::vector<hsize_t>& dims,
                                     const Layout& layout) {
  const H5Guard guard;
  H5PropList dcpl = propertyList(H5P_DATASET_CREATE, at);
  const bool empty = std::any_of(dims.begin(), dims.end(), [](hsize_t d) { return d == 0; });
  if (!layout.chunked || dims.empty() || empty) return dcpl;
  hsize_t rowBytes = H5Tget_size(fileType);
  for (std::size_t i = 1; i < dims.size(); ++i) rowBytes *= dims[i];
  std::vector<hsize_t> chunk = dims;
  chunk[0] = std::min<hsize_t>(dims[0], std::max<hsize_t>(1, layout.chunkBytes / rowBytes));
  checked(H5Pset_chunk(dcpl.get(), static_cast<int>(chunk.size()), chunk.data()), at, "cannot set the chunk size");
  if (layout.checksum) checked(H5Pset_fletcher32(dcpl.get()), at, "cannot set the checksum filter");
  return dcpl;
}

void putDataset(const Where& parent, hid_t loc, const std::string& name, hid_t memType, hid_t fileType,
                const void* data, const std::vector<hsize_t>& dims, const Layout& layout) {
  const H5Guard guard;
  checkName(parent, name);
  const Where at = parent.at(name);
  if (childKind(loc, name, at) != Kind::Missing) odbFail(at, "already exists");
  const H5Dataspace space(dims.empty() ? H5Screate(H5S_SCALAR)
                                       : H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr));
  if (!space.valid()) writeFail(at, "cannot make the dataspace");
  const H5PropList dcpl = datasetCreateProps(at, fileType, dims, layout);
  H5Dataset d(H5Dcreate2(loc, name.c_str(), fileType, space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT));
  if (!d.valid()) writeFail(at, "cannot create the dataset");
  if (H5Sget_simple_extent_npoints(space.get()) == 0) return;
  checked(H5Dwrite(d.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data), at, "cannot write the dataset");
}

}  // namespace odb_detail
