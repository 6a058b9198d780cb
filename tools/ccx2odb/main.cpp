// ccx2odb [--partial] [--quiet] [-o FILE] JOB: imports a CalculiX job (JOB.inp, JOB.frd, JOB.dat,
// JOB.sta) into a result database, JOB.odb unless -o names another file.
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <string>

#include "import.h"
#include "input.h"
#include "tool_cli.h"

int main(int argc, char** argv) {
  CLI::App app("Imports a CalculiX job into a result database: reads JOB.inp and, when present, JOB.frd, JOB.dat "
               "and JOB.sta; writes JOB.odb.",
               "ccx2odb");
  ccx::ImportOptions options;
  bool quiet = false;
  app.add_option("-o,--output", options.output, "the database to write instead of JOB.odb");
  app.add_flag("--partial", options.partial, "drop a .frd block cut off by the end of the file instead of failing");
  app.add_flag("--quiet", quiet, "no progress lines for large inputs");
  app.add_option("JOB", options.job, "the job name (JOB.inp also works)")->required();
  if (const auto status = tool_cli::parse(app, "ccx2odb", argc, argv)) return *status;
  options.progress = !quiet;
  if (options.job.size() > 4 && options.job.compare(options.job.size() - 4, 4, ".inp") == 0)
    options.job.resize(options.job.size() - 4);
  // Past a file size limit a write fails with EFBIG instead of killing the
  // process, so the partial database is still removed.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    ccx::importJob(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ccx2odb: %s\n", e.what());
    return 1;
  }
  return 0;
}
