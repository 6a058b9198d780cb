// The checked HDF5 layer under the reader, the writer and the upgrade: one
// place type, files, links, groups, attributes and whole-dataset reads. Every
// failure becomes an odb_Exception built by odbFail, naming the file as the
// caller passed it and the absolute object path. Private to src/odb.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "odb/buffer_pool.h"
#include "odb/h5_handle.h"

namespace odb_detail {

// A place in a database, for messages: the file as passed and an absolute object path.
struct Where {
  const std::string& file;
  std::string path;
  // Returns the place of the child `name` (a relative path) below this one.
  Where at(std::string_view name) const;
};

// Throws "<file>: <path>: <what>".
[[noreturn]] void odbFail(const Where& w, std::string_view what);
// Like odbFail, with HDF5's innermost message added in parentheses.
[[noreturn]] void odbFailHdf5(const Where& w, std::string_view what);
// For writes: like odbFail, with HDF5's reason after a colon; for a failed
// system call the system's own ("cannot write the file: No space left on device").
[[noreturn]] void writeFail(const Where& w, std::string_view what);
// Fails with writeFail when an HDF5 call of a write returned a negative status.
void checked(herr_t status, const Where& w, std::string_view what);
// Returns a new property list of class cls (H5P_FILE_ACCESS, ...).
H5PropList propertyList(hid_t cls, const Where& w);

// For a process that writes: lets the library stop HDF5 at exit in place of
// HDF5's own handler, unless a written file was left open (h5_io.cpp says
// why). Does nothing when HDF5 was started before, or on a second call.
void takeHdf5Exit();
// Records that HDF5 could not close a written file (a full disk): HDF5 then
// stays up at exit, since stopping it would close that file again and crash.
void fileLeftOpen();

// Opens an existing file, read-only unless writable; w names the file and "/".
H5File openFile(const Where& w, bool writable = false);
// Returns the size of the open file in bytes.
std::uint64_t fileBytes(hid_t file, const Where& w);
// Opens the root group of an open file.
H5Group openRoot(hid_t file, const Where& w);
// The root checks every database passes (format "odb", a format_version):
// returns the version, which the caller judges.
long long formatVersion(hid_t root, const Where& w);
// Fails unless this library reads a database of that version: 2, or 1 too
// when upgrading.
void checkVersion(long long version, const Where& w, bool upgrading);

enum class Kind { Missing, Group, Dataset, Other };
// Returns what the link `name` (relative or absolute, may hold '/') below loc
// is; Missing when any part of the path is absent. An HDF5 failure is an error.
Kind childKind(hid_t loc, const std::string& name, const Where& w);
// Opens what the path names, with its kind; Kind::Missing and no object when a link on the way is missing.
std::pair<Kind, H5Object> openChild(hid_t loc, const std::string& name, const Where& w);
// Opens the group `name` below loc; w names the group itself.
H5Group openGroup(hid_t loc, const std::string& name, const Where& w);
// Like openGroup, but returns an invalid handle when the link is absent.
H5Group openOptionalGroup(hid_t loc, const std::string& name, const Where& w);
// Returns the link names of a group: creation order when the group tracks it, else name order.
std::vector<std::string> childNames(hid_t group, const Where& w);

// Attributes of an object named by w. Absent attributes give nullopt; a wrong
// class, shape or range fails.
bool hasAttribute(hid_t obj, const char* name, const Where& w);
// Returns the class of an attribute's type, H5T_NO_CLASS when it is absent.
H5T_class_t attributeClass(hid_t obj, const char* name, const Where& w);
std::optional<std::string> readStringAttribute(hid_t obj, const char* name, const Where& w);
std::optional<std::vector<std::string>> readStringArrayAttribute(hid_t obj, const char* name, const Where& w);
std::optional<long long> readIntAttribute(hid_t obj, const char* name, const Where& w);
std::optional<std::vector<long long>> readIntArrayAttribute(hid_t obj, const char* name, const Where& w);
// Accepts integers too, converted.
std::optional<double> readDoubleAttribute(hid_t obj, const char* name, const Where& w);
std::optional<std::vector<double>> readDoubleArrayAttribute(hid_t obj, const char* name, const Where& w);
// Returns an int attribute checked to fit 32 bits, or fallback when absent.
int readInt32Attribute(hid_t obj, const char* name, const Where& w, int fallback);

// An open dataset with its shape and stored type.
struct Dataset {
  H5Dataset id;
  std::string name;            // as named in messages, e.g. "elements/offsets"
  std::vector<hsize_t> dims;
  H5T_class_t cls = H5T_NO_CLASS;
  std::size_t typeSize = 0;
  bool isSigned = true;
  // Rows of a chunk when the chunks can be read as stored (readRows): chunked
  // by whole rows, the Fletcher-32 sum the only filter. 0 when they cannot,
  // -1 until asked.
  mutable long long storedChunkRows = -1;
};

// Opens the dataset `name` below loc; w names loc. Fails when it is absent or not a dataset.
Dataset openDataset(hid_t loc, const std::string& name, const Where& w);
// Like openDataset; nullopt when the link is absent.
std::optional<Dataset> openOptionalDataset(hid_t loc, const std::string& name, const Where& w);
// Fails unless the dataset has this rank.
void requireRank(const Dataset& d, int rank, const Where& w);
// Returns 0 for float32, 1 for float64; fails for any other type.
int floatPrecision(const Dataset& d, const Where& w);
// Checks that a float dataset of d's shape fits within limit bytes (the
// file's size) and returns its number of values.
std::size_t checkedCount(const Dataset& d, const Where& w, std::uint64_t limit);

// Reads a whole integer dataset, each value checked to fit the target.
// limit is the file's size: no array is allocated beyond what the file can hold.
std::vector<int> readInts(const Dataset& d, const Where& w, std::uint64_t limit);
std::vector<std::int64_t> readInt64s(const Dataset& d, const Where& w, std::uint64_t limit);
// Like readInts, into an array of pool (null: the heap).
Buffer<int> readIntBuffer(const Dataset& d, const Where& w, std::uint64_t limit, const PoolRef& pool);
// Reads a whole float32 or float64 dataset, converted to the target type.
std::vector<float> readFloats(const Dataset& d, const Where& w, std::uint64_t limit);
std::vector<double> readDoubles(const Dataset& d, const Where& w, std::uint64_t limit);
// Reads a float dataset of n values (from checkedCount) into out, reusing its storage.
void readFloatsInto(const Dataset& d, const Where& w, std::size_t n, Buffer<float>& out);
void readDoublesInto(const Dataset& d, const Where& w, std::size_t n, Buffer<double>& out);

// Pieces of a dataset, for reads that never hold a whole array.
// Fails unless d's values can be read as ints (an integer of at most 64
// bits), with the messages of the whole read.
void requireIntegerData(const Dataset& d, const Where& w);
// Reads rows [first, first + n) of a rank-1 or rank-2 dataset, every column,
// converted to memType, into buf (n x columns values). spare: the bytes buf
// holds after them, which the read may overwrite; a chunk read as stored
// needs four for its sum, more when it ends past the read.
void readRows(const Dataset& d, const Where& w, hid_t memType, std::size_t first, std::size_t n, void* buf,
              std::size_t spare = 0);
// Like readRows into ints, each value checked to fit as readIntBuffer does
// (entries numbered from the start of the array); spare as readRows.
void readIntRows(const Dataset& d, const Where& w, std::size_t first, std::size_t n, int* out, std::size_t spare = 0);
// The rows of one chunk of d; 0 when d is not chunked.
std::size_t chunkRows(const Dataset& d, const Where& w);

// Returns the number of elements of d, failing when it overflows or exceeds an int.
int elementCount(const Dataset& d, const Where& w);

}  // namespace odb_detail
