// Edits of an existing database, for tests and fuzz targets that build broken
// files on purpose: attributes, links and replacement datasets. Paths are absolute object paths such as "/steps/Step-1".
// Every failure is an odb_Exception naming the file and the object path.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace odbw::edit {

void setIntAttribute(const std::string& file, const std::string& object, const std::string& name, long long value);
void setDoubleAttribute(const std::string& file, const std::string& object, const std::string& name, double value);
void setStringAttribute(const std::string& file, const std::string& object, const std::string& name,
                        const std::string& value);
void setStringArrayAttribute(const std::string& file, const std::string& object, const std::string& name,
                             const std::vector<std::string>& values);
void removeAttribute(const std::string& file, const std::string& object, const std::string& name);
// Removes a group or dataset link.
void removeLink(const std::string& file, const std::string& object);
// Renames (moves) a link, e.g. a frame "1" to "2".
void moveLink(const std::string& file, const std::string& from, const std::string& to);
// Replaces (or creates) a dataset with int32, int64, float32 or float64 data of the given shape.
void writeIntDataset(const std::string& file, const std::string& object, std::span<const int> values,
                     std::vector<unsigned long long> dims);
void writeInt64Dataset(const std::string& file, const std::string& object, std::span<const std::int64_t> values,
                       std::vector<unsigned long long> dims);
void writeFloatDataset(const std::string& file, const std::string& object, std::span<const float> values,
                       std::vector<unsigned long long> dims);
void writeDoubleDataset(const std::string& file, const std::string& object, std::span<const double> values,
                        std::vector<unsigned long long> dims);
// Creates an empty group (and missing parents).
void createGroup(const std::string& file, const std::string& object);


// The caller's side of HDF5's error printing, for tests that check the
// library leaves it alone. Installs a handler that counts its calls in
// place of HDF5's printing; ownHandlerSet tells whether it is still set.
void countHdf5Errors();
bool ownHandlerSet();
int hdf5ErrorsCounted();
// A failing HDF5 call of the caller's own: opens a file that is not there.
void failOwnHdf5Call(const std::string& missingFile);
// Puts back the handler countHdf5Errors replaced.
void printHdf5Errors();
}  // namespace odbw::edit
