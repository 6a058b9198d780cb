// The importer: reads JOB.inp, JOB.frd, JOB.dat and JOB.sta and writes one
// database through odbw::Writer, atomically (a temporary file beside the
// output, renamed at the end).
#pragma once

#include <cstdio>
#include <string>

namespace ccx {

struct ImportOptions {
  std::string job;       // path without extension: JOB.inp, JOB.frd, ...
  std::string output;    // database path; JOB.odb when empty
  bool progress = true;  // progress lines on stderr for large inputs
  bool partial = false;  // a .frd block cut off by the end of the file is dropped, not an error
};

// Throws ParseError for bad input and odb_Exception when writing fails;
// nothing is left at the output path (or its temporary) in either case.
void importJob(const ImportOptions& options);

// The names the importer gives to model objects.
inline constexpr const char* kPart = "PART-1";
inline constexpr const char* kInstance = "PART-1-1";

}  // namespace ccx
