// Checked HDF5 write calls shared by the writer, the edit functions and the
// upgrade. Touches no globals except HDF5's error-printing switch.
#include "odb/h5_write.h"

#include <algorithm>

#include "odb/h5_io.h"
#include "odb/odb.h"

namespace odb_detail {

// One message shape for the reader and the writer: "<file>: <path>: <what>".
void writeFail(const WriteAt& at, std::string_view what) { odbFail(Where{at.file, at.path}, what); }

void silenceHdf5() { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); }

static void check(herr_t status, const WriteAt& at, std::string_view what) {
  if (status < 0) writeFail(at, what);
}

static WriteAt rootAt(const std::string& file) { return {file, "/"}; }

H5PropList writerFileCreateProps(bool trackOrder) {
  H5PropList fcpl(H5Pcreate(H5P_FILE_CREATE));
  if (trackOrder) H5Pset_link_creation_order(fcpl.get(), H5P_CRT_ORDER_TRACKED | H5P_CRT_ORDER_INDEXED);
  return fcpl;
}

// Version bounds of 1.10 or later give object headers with metadata checksums.
H5PropList writerFileAccessProps() {
  H5PropList fapl(H5Pcreate(H5P_FILE_ACCESS));
  H5Pset_libver_bounds(fapl.get(), H5F_LIBVER_V110, H5F_LIBVER_LATEST);
  return fapl;
}

H5PropList writerGroupCreateProps(bool trackOrder) {
  H5PropList gcpl(H5Pcreate(H5P_GROUP_CREATE));
  if (trackOrder) H5Pset_link_creation_order(gcpl.get(), H5P_CRT_ORDER_TRACKED | H5P_CRT_ORDER_INDEXED);
  return gcpl;
}

H5File createFile(const std::string& file, bool trackOrder) {
  silenceHdf5();
  const H5PropList fcpl = writerFileCreateProps(trackOrder);
  const H5PropList fapl = writerFileAccessProps();
  H5File f(H5Fcreate(file.c_str(), H5F_ACC_TRUNC, fcpl.get(), fapl.get()));
  if (!f.valid()) writeFail(rootAt(file), "cannot create the file");
  return f;
}

H5File openFile(const std::string& file, bool readWrite) {
  silenceHdf5();
  if (H5Fis_hdf5(file.c_str()) <= 0) writeFail(rootAt(file), "is not an HDF5 file or cannot be read");
  H5File f(H5Fopen(file.c_str(), readWrite ? H5F_ACC_RDWR : H5F_ACC_RDONLY, H5P_DEFAULT));
  if (!f.valid()) writeFail(rootAt(file), readWrite ? "cannot open the file for writing" : "cannot open the file");
  return f;
}

void checkName(const WriteAt& parent, const std::string& name) {
  if (name.empty() || name == "." || name.find('/') != std::string::npos)
    writeFail(parent, "invalid name \"" + name + "\"");
}

bool linkExists(hid_t loc, const std::string& absolutePath) {
  // H5Lexists fails on a missing intermediate group, so test each prefix.
  std::size_t pos = 0;
  while ((pos = absolutePath.find('/', pos + 1)) != std::string::npos)
    if (H5Lexists(loc, absolutePath.substr(0, pos).c_str(), H5P_DEFAULT) <= 0) return false;
  return absolutePath == "/" || H5Lexists(loc, absolutePath.c_str(), H5P_DEFAULT) > 0;
}

H5Group createGroup(const WriteAt& parent, hid_t parentId, const std::string& name, bool trackOrder) {
  checkName(parent, name);
  const WriteAt at = parent.child(name);
  if (H5Lexists(parentId, name.c_str(), H5P_DEFAULT) > 0) writeFail(at, "already exists");
  const H5PropList gcpl = writerGroupCreateProps(trackOrder);
  H5Group g(H5Gcreate2(parentId, name.c_str(), H5P_DEFAULT, gcpl.get(), H5P_DEFAULT));
  if (!g.valid()) writeFail(at, "cannot create the group");
  return g;
}

H5Group ensureGroup(const WriteAt& at, hid_t file, bool trackOrder) {
  H5Group g(H5Gopen2(file, "/", H5P_DEFAULT));
  std::string parentPath = "/";
  std::size_t begin = 1;
  while (begin < at.path.size()) {
    const std::size_t end = std::min(at.path.find('/', begin), at.path.size());
    const std::string name = at.path.substr(begin, end - begin);
    const WriteAt parent{at.file, parentPath};
    const WriteAt here = parent.child(name);
    if (H5Lexists(g.get(), name.c_str(), H5P_DEFAULT) > 0) {
      H5Group next(H5Gopen2(g.get(), name.c_str(), H5P_DEFAULT));
      if (!next.valid()) writeFail(here, "is not a group");
      g = std::move(next);
    } else {
      g = createGroup(parent, g.get(), name, trackOrder);
    }
    parentPath = here.path;
    begin = end + 1;
  }
  return g;
}

H5Group openGroup(const WriteAt& at, hid_t file) {
  if (!linkExists(file, at.path)) writeFail(at, "does not exist");
  H5Group g(H5Gopen2(file, at.path.c_str(), H5P_DEFAULT));
  if (!g.valid()) writeFail(at, "is not a group");
  return g;
}

H5Object openObject(const WriteAt& at, hid_t file) {
  if (!linkExists(file, at.path)) writeFail(at, "does not exist");
  H5Object o(H5Oopen(file, at.path.c_str(), H5P_DEFAULT));
  if (!o.valid()) writeFail(at, "cannot open the object");
  return o;
}

// Creates attribute `name` (removing an old one) and writes one buffer into it.
static void putAttr(const WriteAt& at, hid_t obj, const std::string& name, hid_t fileType, hid_t memType, hid_t space,
                    const void* data) {
  if (H5Aexists(obj, name.c_str()) > 0) check(H5Adelete(obj, name.c_str()), at, "cannot replace attribute " + name);
  H5Attribute a(H5Acreate2(obj, name.c_str(), fileType, space, H5P_DEFAULT, H5P_DEFAULT));
  if (!a.valid()) writeFail(at, "cannot create attribute " + name);
  check(H5Awrite(a.get(), memType, data), at, "cannot write attribute " + name);
}

static H5Datatype utf8StringType() {
  H5Datatype t(H5Tcopy(H5T_C_S1));
  H5Tset_size(t.get(), H5T_VARIABLE);
  H5Tset_cset(t.get(), H5T_CSET_UTF8);
  return t;
}

static H5Dataspace vectorSpace(std::size_t n) {
  const hsize_t dims[1] = {n};
  return H5Dataspace(H5Screate_simple(1, dims, nullptr));
}

void putStringAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::string& value) {
  const H5Datatype t = utf8StringType();
  const H5Dataspace space(H5Screate(H5S_SCALAR));
  const char* p = value.c_str();
  putAttr(at, obj, name, t.get(), t.get(), space.get(), &p);
}

void putStringArrayAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::vector<std::string>& values) {
  const H5Datatype t = utf8StringType();
  const H5Dataspace space = vectorSpace(values.size());
  std::vector<const char*> ptrs;
  for (const std::string& v : values) ptrs.push_back(v.c_str());
  putAttr(at, obj, name, t.get(), t.get(), space.get(), ptrs.data());
}

void putIntAttr(const WriteAt& at, hid_t obj, const std::string& name, long long value, hid_t fileType) {
  const H5Dataspace space(H5Screate(H5S_SCALAR));
  putAttr(at, obj, name, fileType, H5T_NATIVE_LLONG, space.get(), &value);
}

void putIntArrayAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::vector<int>& values) {
  const H5Dataspace space = vectorSpace(values.size());
  putAttr(at, obj, name, H5T_STD_I32LE, H5T_NATIVE_INT, space.get(), values.data());
}

void putDoubleAttr(const WriteAt& at, hid_t obj, const std::string& name, double value) {
  const H5Dataspace space(H5Screate(H5S_SCALAR));
  putAttr(at, obj, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, space.get(), &value);
}

void putDoubleArrayAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::vector<double>& values) {
  const H5Dataspace space = vectorSpace(values.size());
  putAttr(at, obj, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, space.get(), values.data());
}

// Chunks of about chunkBytes hold whole rows; an empty dataset cannot be chunked.
static H5PropList datasetCreateProps(const WriteAt& at, hid_t fileType, const std::vector<hsize_t>& dims,
                                     const Layout& layout) {
  H5PropList dcpl(H5Pcreate(H5P_DATASET_CREATE));
  const bool empty = std::any_of(dims.begin(), dims.end(), [](hsize_t d) { return d == 0; });
  if (!layout.chunked || dims.empty() || empty) return dcpl;
  hsize_t rowBytes = H5Tget_size(fileType);
  for (std::size_t i = 1; i < dims.size(); ++i) rowBytes *= dims[i];
  std::vector<hsize_t> chunk = dims;
  chunk[0] = std::min<hsize_t>(dims[0], std::max<hsize_t>(1, layout.chunkBytes / rowBytes));
  check(H5Pset_chunk(dcpl.get(), static_cast<int>(chunk.size()), chunk.data()), at, "cannot set the chunk size");
  if (layout.checksum) check(H5Pset_fletcher32(dcpl.get()), at, "cannot set the checksum filter");
  return dcpl;
}

void putDataset(const WriteAt& parent, hid_t loc, const std::string& name, hid_t memType, hid_t fileType,
                const void* data, const std::vector<hsize_t>& dims, const Layout& layout) {
  checkName(parent, name);
  const WriteAt at = parent.child(name);
  if (H5Lexists(loc, name.c_str(), H5P_DEFAULT) > 0) writeFail(at, "already exists");
  const H5Dataspace space(dims.empty() ? H5Screate(H5S_SCALAR)
                                       : H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr));
  if (!space.valid()) writeFail(at, "cannot make the dataspace");
  const H5PropList dcpl = datasetCreateProps(at, fileType, dims, layout);
  H5Dataset d(H5Dcreate2(loc, name.c_str(), fileType, space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT));
  if (!d.valid()) writeFail(at, "cannot create the dataset");
  if (H5Sget_simple_extent_npoints(space.get()) == 0) return;
  check(H5Dwrite(d.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data), at, "cannot write the dataset");
}

}  // namespace odb_detail
