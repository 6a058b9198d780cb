// ccx2odb [-o FILE] JOB: imports a CalculiX job (JOB.inp, JOB.frd, JOB.dat,
// JOB.sta) into a result database, JOB.odb unless -o names another file.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "import.h"
#include "input.h"

static int usage() {
  std::fputs(
      "usage: ccx2odb [-o FILE] JOB\n"
      "  reads JOB.inp and, when present, JOB.frd, JOB.dat and JOB.sta;\n"
      "  writes JOB.odb (or FILE)\n",
      stderr);
  return 1;
}

int main(int argc, char** argv) {
  ccx::ImportOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc)
      options.output = argv[++i];
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
  try {
    ccx::importJob(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ccx2odb: %s\n", e.what());
    return 1;
  }
  return 0;
}
