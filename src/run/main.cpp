// The harvestodb program. All of the entry logic is in harvestMain, so that a
// test program can run it under its own exit handlers.
#include "run/run.h"

int main(int argc, char** argv) { return harvestMain(argc, argv); }
