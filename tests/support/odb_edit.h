// Edits of an existing database, for tests and fuzz targets that build broken
// files on purpose: attributes, links and replacement datasets. Paths are absolute object paths such as "/steps/Step-1".
// Every failure is an odb_Exception naming the file and the object path.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace odbw::edit {

using Text = const std::string&;  // file names, object paths and attribute names
using Dims = std::vector<unsigned long long>;

void setIntAttribute(Text file, Text object, Text name, long long value);
void setDoubleAttribute(Text file, Text object, Text name, double value);
void setStringAttribute(Text file, Text object, Text name, Text value);
void setStringArrayAttribute(Text file, Text object, Text name, const std::vector<std::string>& values);
void removeAttribute(Text file, Text object, Text name);
void removeLink(Text file, Text object);     // a group or dataset link
void moveLink(Text file, Text from, Text to);  // renames a link, e.g. a frame "1" to "2"
// Replaces (or creates) a dataset with int32, int64, float32 or float64 data of the given shape.
void writeIntDataset(Text file, Text object, std::span<const int> values, Dims dims);
void writeInt64Dataset(Text file, Text object, std::span<const std::int64_t> values, Dims dims);
void writeFloatDataset(Text file, Text object, std::span<const float> values, Dims dims);
void writeDoubleDataset(Text file, Text object, std::span<const double> values, Dims dims);
void createGroup(Text file, Text object);  // an empty one, and missing parents


// The caller's side of HDF5's error printing, for tests that check the
// library leaves it alone. Installs a handler that counts its calls in
// place of HDF5's printing; ownHandlerSet tells whether it is still set.
void countHdf5Errors();
bool ownHandlerSet();
int hdf5ErrorsCounted();
// A failing HDF5 call of the caller's own: opens a file that is not there.
void failOwnHdf5Call(Text missingFile);
// Puts back the handler countHdf5Errors replaced.
void printHdf5Errors();
}  // namespace odbw::edit
