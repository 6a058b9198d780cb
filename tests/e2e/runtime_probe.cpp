// harvestMain, then at exit the runtime start and stop counts. Registered before
// harvestMain registers VLTFinalize, the handler runs after it: the counts include that.
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
