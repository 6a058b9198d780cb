// A small database with one of everything, written by odbw::Writer, shared by
// the library's tests. Its contents are listed in sample_db.cpp.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "odb/odb.h"
#include "odb/odb_writer.h"

namespace sample {

// Writes the sample database with field data in float32 (precision 0) or float64 (1).
void writeSample(const std::string& path, int precision, const odbw::Options& options = {});

// Writes a database whose arrays are large enough for the reader's pool: in
// each of two frames of Step-1 a tensor field S of two integration-point
// blocks, rows/2 rows each (element r/4 + 1, point r % 4 + 1), component k
// of row r holding (r % 1000) * (k + 1) + frame.
void writeLarge(const std::string& path, int rows, int precision);

odb_FieldOutput field(const odb_Odb& odb, const char* name);  // of frame 0 of Step-1

// Returns the keys of a repository in its order.
std::vector<std::string> keys(const auto& repo) {
  std::vector<std::string> out;
  for (int i = 0; i < repo.size(); ++i) out.push_back(repo.keyAt(i).str());
  return out;
}

// The message of the odb_Exception that body throws, or "(no exception)".
std::string messageOf(const std::function<void()>& body);

// Runs tests/support/inspect_h5.py on a file and returns its listing.
std::string inspectH5(const std::string& file, const std::string& cwd);
// Returns the first listing line that contains `needle`, without its indent, or "".
std::string lineWith(const std::string& listing, const std::string& needle);

// Closes every database the library holds, so no test leaks into the next.
struct Finalize { ~Finalize() { odb_finalizeAPI(); } };

}  // namespace sample
