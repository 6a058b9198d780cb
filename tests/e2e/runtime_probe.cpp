// Runs the program's entry logic and, at process exit, prints how often the
// library runtime was started and stopped. The handler is registered before
// harvestMain registers VLTFinalize, so it runs after that one: the counts
// include the exit-time shutdown.
#include <cstdio>
#include <cstdlib>

#include "run/run.h"

static void printRuntimeCounts() {
  std::printf("runtime: started %d, stopped %d, active %d, called %d\n", odb_detail::runtimeStartCount(),
              odb_detail::runtimeStopCount(), active, called);
}

int main(int argc, char** argv) {
  std::atexit(printRuntimeCounts);
  return harvestMain(argc, argv);
}
