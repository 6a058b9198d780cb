// Checked HDF5 calls for writing: file and group creation with the writer's
// properties, attributes and datasets. Private to src/odb (writer, edits,
// upgrade). Every failure throws odb_Exception "<file>: <object path>: <what>".
#pragma once

#include <hdf5.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "odb/h5_handle.h"
#include "odb/odb_writer.h"

namespace odb_detail {

// Where a write happens: the file as the caller named it and an absolute object path.
struct WriteAt {
  const std::string& file;
  std::string path;
  WriteAt child(const std::string& name) const { return {file, path == "/" ? "/" + name : path + "/" + name}; }
};

// How arrays are laid out (the writer's Options, without the public header).
struct Layout {
  bool trackOrder = true;
  bool chunked = true;
  bool checksum = true;
  std::size_t chunkBytes = 1 << 20;
};

[[noreturn]] void writeFail(const WriteAt& at, std::string_view what);

// Switches HDF5's own error printing off; our messages carry what matters.
void silenceHdf5();

H5PropList writerFileCreateProps(bool trackOrder);
H5PropList writerFileAccessProps();
H5PropList writerGroupCreateProps(bool trackOrder);

// Creates the file, replacing any file of that name.
H5File createFile(const std::string& file, bool trackOrder);
// Opens an existing file for reading (readWrite false) or editing.
H5File openFile(const std::string& file, bool readWrite);

// Throws unless name can be an HDF5 link name (not empty, no '/', not ".").
void checkName(const WriteAt& parent, const std::string& name);
bool linkExists(hid_t loc, const std::string& absolutePath);
// Creates group `name` under parent; an existing link of that name is an error.
H5Group createGroup(const WriteAt& parent, hid_t parentId, const std::string& name, bool trackOrder);
// Opens the group at.path, creating it and its missing parents.
H5Group ensureGroup(const WriteAt& at, hid_t file, bool trackOrder);
H5Group openGroup(const WriteAt& at, hid_t file);
H5Object openObject(const WriteAt& at, hid_t file);

// Attributes on object obj (at names it); an existing attribute of that name is replaced.
void putStringAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::string& value);
void putStringArrayAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::vector<std::string>& values);
void putIntAttr(const WriteAt& at, hid_t obj, const std::string& name, long long value, hid_t fileType);
void putIntArrayAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::vector<int>& values);
void putDoubleAttr(const WriteAt& at, hid_t obj, const std::string& name, double value);
void putDoubleArrayAttr(const WriteAt& at, hid_t obj, const std::string& name, const std::vector<double>& values);

// Writes dataset `name` under loc from memory of type memType, stored as fileType, with the
// given shape (empty dims: a scalar). The layout decides chunking and the checksum filter.
void putDataset(const WriteAt& parent, hid_t loc, const std::string& name, hid_t memType, hid_t fileType,
                const void* data, const std::vector<hsize_t>& dims, const Layout& layout);

}  // namespace odb_detail

namespace odbw {

// The writer's state: the open file and what has been written, so that
// frames and blocks get their indices and unknown names are caught before
// anything reaches the file.
struct Writer::Impl {
  struct Frame {
    std::map<std::string, int> blocks;  // field output -> blocks written
  };
  struct Step {
    std::vector<Frame> frames;
    std::map<std::string, std::set<std::string>> regions;  // region -> history outputs
  };

  std::string path;
  Options options;
  odb_detail::Layout layout;
  odb_detail::H5File file;
  std::map<std::string, Step> steps;
  std::set<std::string> parts;
  std::set<std::string> instances;

  odb_detail::WriteAt at(std::string objectPath) const { return {path, std::move(objectPath)}; }
  // Returns the file id; throws once the file is closed.
  hid_t fileId() const;
  // Opens the group at an absolute path, creating missing groups.
  odb_detail::H5Group group(const std::string& objectPath) const;
  Step& step(const std::string& name);
  Frame& frame(const std::string& stepName, int index);
};

// Absolute paths of the objects the writer makes.
std::string stepPath(const std::string& step);
std::string framePath(const std::string& step, int frame);
std::string fieldPath(const std::string& step, int frame, const std::string& field);
std::string regionPath(const std::string& step, const std::string& region);

}  // namespace odbw
