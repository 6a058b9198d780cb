// The harvestodb program. All of the entry logic is in harvestMain, so that a
// test program can run it under its own exit handlers.
#include <malloc.h>

#include "run/run.h"

int main(int argc, char** argv) {
  // HDF5 allocates and frees a buffer for every chunk it reads (about 1 MiB
  // each). With glibc's adaptive thresholds such buffers are mapped afresh or
  // the heap is trimmed again and again, and every chunk pays for new page
  // faults; fixed thresholds keep the memory for the next chunk. A whole-model
  // run of a 400 MB database takes about 30 % less time, for 20 MB more memory.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  return harvestMain(argc, argv);
}
