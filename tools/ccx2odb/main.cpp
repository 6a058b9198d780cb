// ccx2odb [--partial] [-o FILE] JOB: imports a CalculiX job (JOB.inp, JOB.frd, JOB.dat,
// JOB.sta) into a result database, JOB.odb unless -o names another file.
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "import.h"
#include "input.h"

static int usage() {
  std::fputs(
      "usage: ccx2odb [--partial] [-o FILE] JOB\n"
      "  reads JOB.inp and, when present, JOB.frd, JOB.dat and JOB.sta;\n"
      "  writes JOB.odb (or FILE)\n"
      "  --partial  drop a .frd block cut off by the end of the file instead of failing\n",
      stderr);
  return 1;
}

int main(int argc, char** argv) {
  ccx::ImportOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc)
      options.output = argv[++i];
    else if (arg == "--partial")
      options.partial = true;
    else if (arg == "-h" || arg == "--help")
      return usage(), 0;
    else if (!arg.empty() && arg[0] == '-')
      return usage();
    else if (options.job.empty())
      options.job = arg;
    else
      return usage();
  }
  if (options.job.empty()) return usage();
  if (options.job.size() > 4 && options.job.compare(options.job.size() - 4, 4, ".inp") == 0)
    options.job.resize(options.job.size() - 4);
  // Past a file size limit a write fails with EFBIG instead of killing the
  // process, so the partial database is still removed.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    ccx::importJob(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ccx2odb: %s\n", e.what());
    // After a failed write HDF5 may still hold the file it could not close,
    // and closing it again at its exit handler crashes: leave without them
    // (the partial output is already removed).
    std::fflush(stderr);
    std::_Exit(1);
  }
  return 0;
}
