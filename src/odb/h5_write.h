// Checked HDF5 calls for writing: file and group creation with the writer's
// properties, attributes and datasets. Private to src/odb (writer, upgrade)
// and the tests' edit functions. Every failure throws odb_Exception
// "<file>: <object path>: <what>", with HDF5's reason when HDF5 failed.
#pragma once

#include <hdf5.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "odb/h5_handle.h"
#include "odb/h5_io.h"
#include "odb/odb_writer.h"

namespace odb_detail {

// How arrays are laid out (the writer's Options, without the public header).
struct Layout {
  bool trackOrder = true;
  bool chunked = true;
  bool checksum = true;
  std::size_t chunkBytes = 1 << 20;
};

// Creates the file with the writer's properties, replacing any file of that name.
H5File createFile(const std::string& file, bool trackOrder);
// Flushes and closes a file that was written. After a failure nothing of the
// file stays open in HDF5, so nothing is left to write at the process's exit.
void closeWrittenFile(H5File& file, const Where& w);
// The same, for the way out of a failure: reports nothing.
void closeWrittenFileQuietly(H5File& file, const Where& w) noexcept;

// Throws unless name can be an HDF5 link name (not empty, no '/', not ".").
void checkName(const Where& parent, const std::string& name);
// Creates group `name` under parent; an existing link of that name is an error.
H5Group createGroup(const Where& parent, hid_t parentId, const std::string& name, bool trackOrder);
// Opens the group at.path, creating it and its missing parents.
H5Group ensureGroup(const Where& at, hid_t file, bool trackOrder);
// Opens the existing group or dataset at.path.
H5Object openObject(const Where& at, hid_t file);

// Attributes on object obj (at names it); an existing attribute of that name is replaced.
void putStringAttr(const Where& at, hid_t obj, const std::string& name, const std::string& value);
void putStringArrayAttr(const Where& at, hid_t obj, const std::string& name, const std::vector<std::string>& values);
void putIntAttr(const Where& at, hid_t obj, const std::string& name, long long value, hid_t fileType);
void putIntArrayAttr(const Where& at, hid_t obj, const std::string& name, const std::vector<int>& values);
void putDoubleAttr(const Where& at, hid_t obj, const std::string& name, double value);
void putDoubleArrayAttr(const Where& at, hid_t obj, const std::string& name, const std::vector<double>& values);

// Writes dataset `name` under loc from memory of type memType, stored as fileType, with the
// given shape (empty dims: a scalar). The layout decides chunking and the checksum filter.
void putDataset(const Where& parent, hid_t loc, const std::string& name, hid_t memType, hid_t fileType,
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

  odb_detail::Where at(std::string objectPath) const { return {path, std::move(objectPath)}; }
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
