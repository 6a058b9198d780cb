// Edits of an existing database through the library's checked HDF5 layer.
#include "odb_edit.h"

#include <functional>
#include <numeric>

#include "odb/h5_write.h"

namespace odbw::edit {

using namespace odb_detail;

// Opens the file for editing, runs body on it and closes it, checked.
// Opens the file for editing, runs body on it and closes it, checked.
template <class Body>
static void editFile(Text file, Text object, Body body) {
  const Where at{file, object};
  H5File f = openFile({file, "/"}, true);
  try { body(f.get(), at); } catch (const odb_Exception&) { closeWrittenFileQuietly(f, at); throw; }
  closeWrittenFile(f, at);
}

template <class Put>
static void editObject(Text file, Text object, Put put) {
  editFile(file, object, [&](hid_t f, const Where& at) { put(at, openObject(at, f).get()); });
}

void setIntAttribute(Text file, Text object, Text name, long long value) {
  editObject(file, object, [&](const Where& at, hid_t o) { putIntAttr(at, o, name, value, H5T_STD_I64LE); });
}
void setDoubleAttribute(Text file, Text object, Text name, double value) {
  editObject(file, object, [&](const Where& at, hid_t o) { putDoubleAttr(at, o, name, value); });
}
void setStringAttribute(Text file, Text object, Text name, Text value) {
  editObject(file, object, [&](const Where& at, hid_t o) { putStringAttr(at, o, name, value); });
}
void setStringArrayAttribute(Text file, Text object, Text name, const std::vector<std::string>& values) {
  editObject(file, object, [&](const Where& at, hid_t o) { putStringArrayAttr(at, o, name, values); });
}
void removeAttribute(Text file, Text object, Text name) {
  editObject(file, object,
             [&](const Where& at, hid_t o) { checked(H5Adelete(o, name.c_str()), at, "cannot remove attribute " + name); });
}

void removeLink(Text file, Text object) {
  editFile(file, object, [&](hid_t f, const Where& at) {
    if (childKind(f, object, at) == Kind::Missing) odbFail(at, "does not exist");
    checked(H5Ldelete(f, object.c_str(), H5P_DEFAULT), at, "cannot remove");
  });
}

void moveLink(Text file, Text from, Text to) {
  editFile(file, from, [&](hid_t f, const Where& at) {
    if (childKind(f, from, at) == Kind::Missing) odbFail(at, "does not exist");
    const H5PropList lcpl = propertyList(H5P_LINK_CREATE, at);
    checked(H5Pset_create_intermediate_group(lcpl.get(), 1), at, "cannot set up the move");
    checked(H5Lmove(f, from.c_str(), f, to.c_str(), lcpl.get(), H5P_DEFAULT), at, "cannot move to " + to);
  });
}

// Replaces the dataset at `object` (parents created) with a contiguous one.
static void replaceDataset(Text file, Text object, hid_t memType, hid_t fileType, const void* values, std::size_t count,
                           const Dims& dims) {
  const unsigned long long points = std::accumulate(dims.begin(), dims.end(), 1ull, std::multiplies<>());
  const std::size_t slash = object.rfind('/');
  editFile(file, object, [&](hid_t f, const Where& at) {
    if (points != count) odbFail(at, std::to_string(count) + " values do not fill the shape (" + std::to_string(points) + ")");
    if (slash == std::string::npos || slash + 1 == object.size()) odbFail(at, "is not an absolute path");
    const Where parentAt{file, slash == 0 ? "/" : object.substr(0, slash)};
    const H5Group parent = ensureGroup(parentAt, f, true);
    const std::string name = object.substr(slash + 1);
    if (childKind(parent.get(), name, at) != Kind::Missing)
      checked(H5Ldelete(parent.get(), name.c_str(), H5P_DEFAULT), at, "cannot remove the old dataset");
    putDataset(parentAt, parent.get(), name, memType, fileType, values, std::vector<hsize_t>(dims.begin(), dims.end()),
               Layout{.chunked = false});
  });
}

void writeIntDataset(Text file, Text object, std::span<const int> values, Dims dims) {
  replaceDataset(file, object, H5T_NATIVE_INT, H5T_STD_I32LE, values.data(), values.size(), dims);
}
void writeInt64Dataset(Text file, Text object, std::span<const std::int64_t> values, Dims dims) {
  replaceDataset(file, object, H5T_NATIVE_INT64, H5T_STD_I64LE, values.data(), values.size(), dims);
}
void writeFloatDataset(Text file, Text object, std::span<const float> values, Dims dims) {
  replaceDataset(file, object, H5T_NATIVE_FLOAT, H5T_IEEE_F32LE, values.data(), values.size(), dims);
}
void writeDoubleDataset(Text file, Text object, std::span<const double> values, Dims dims) {
  replaceDataset(file, object, H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, values.data(), values.size(), dims);
}

void createGroup(Text file, Text object) {
  editFile(file, object, [&](hid_t f, const Where& at) { ensureGroup(at, f, true); });
}

static int errorsCounted = 0;  // calls of countError since countHdf5Errors
static H5E_auto2_t printing = nullptr;  // the handler countHdf5Errors replaced
static void* printingData = nullptr;

static herr_t countError(hid_t, void*) { ++errorsCounted; return 0; }

void countHdf5Errors() {
  errorsCounted = 0;
  H5Eget_auto2(H5E_DEFAULT, &printing, &printingData);
  H5Eset_auto2(H5E_DEFAULT, countError, nullptr);
}

bool ownHandlerSet() {
  H5E_auto2_t f = nullptr;
  return H5Eget_auto2(H5E_DEFAULT, &f, nullptr) >= 0 && f == countError;
}

int hdf5ErrorsCounted() { return errorsCounted; }

void failOwnHdf5Call(Text missingFile) {
  if (const hid_t f = H5Fopen(missingFile.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT); f >= 0) H5Fclose(f);
}

void printHdf5Errors() { H5Eset_auto2(H5E_DEFAULT, printing, printingData); }

}  // namespace odbw::edit
