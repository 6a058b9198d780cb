// Helpers of the writer and upgrade tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "odb/odb.h"
#include "test_support.h"

// Runs f and returns the message of the odb_Exception it throws.
inline std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const odb_Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// Runs inspect_h5.py on a file and returns its listing.
inline std::string inspectH5(const std::string& file, const std::string& cwd) {
  const testsupport::RunResult r = testsupport::run({HARVEST_SYSTEM_PYTHON, INSPECT_H5_SCRIPT, file}, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// Returns the first listing line that contains `needle`, without its indent, or "".
inline std::string lineWith(const std::string& listing, const std::string& needle) {
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);)
    if (line.find(needle) != std::string::npos) return line.substr(line.find_first_not_of(' '));
  return "";
}
