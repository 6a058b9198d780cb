// harvestMain, then the runtime start/stop counts at exit (registered first, so printed after VLTFinalize ran).
#include <cstdio>
#include <cstdlib>

#include "run/run.h"

int main(int argc, char** argv) {
  std::atexit([] {
    std::printf("runtime: started %d, stopped %d, active %d, called %d\n", odb_detail::runtimeStartCount(),
                odb_detail::runtimeStopCount(), active, called);
  });
  return harvestMain(argc, argv);
}
