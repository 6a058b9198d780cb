// Runs inspect_h5.py on a file and returns its listing.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

inline std::string inspectH5(const std::string& file, const std::string& cwd) {
  const testsupport::RunResult r = testsupport::run({HARVEST_SYSTEM_PYTHON, INSPECT_H5_SCRIPT, file}, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// Returns the listing line of a dataset or attribute that contains `needle`, or "".
inline std::string lineWith(const std::string& listing, const std::string& needle) {
  std::size_t start = 0;
  while (start < listing.size()) {
    std::size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    const std::string line = listing.substr(start, end - start);
    if (line.find(needle) != std::string::npos) return line.substr(line.find_first_not_of(' '));
    start = end + 1;
  }
  return "";
}
