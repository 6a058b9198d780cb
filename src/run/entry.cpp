// Process entry: brackets the run driver with the start and shutdown of the
// library runtime, and is the one place where exceptions are caught.
// Owns the globals `called` and `active`.
#include <cassert>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "run/run.h"

int called = 0;  // umkInitialize calls not yet matched by umkFinalize
int active = 0;  // 1 while the library runtime is up; handed to its start and stop

// Only the first of nested calls starts the runtime.
void umkInitialize(int& active) {
  const int before = called++;
  if (before != 0) return;
  ++active;
  QVXStsStdB_initialize(active);
  odb_initializeAPI();
}

// Only the call that matches the first umkInitialize stops the runtime, in the
// reverse order of the start.
void umkFinalize(int& active) {
  if (--called != 0) return;
  --active;
  odb_finalizeAPI();
  QVXStsStdB_finalize(active);
}

// Runs at the end of harvestMain and again at process exit; the second call
// finds the runtime down and does nothing.
void VLTFinalize() {
  if (active != 0) umkFinalize(active);
  assert(active == 0);
}

int harvestMain(int argc, char** argv) {
  // Past a file size limit a write then fails with EFBIG, and the report's
  // failure is told like any other (a message, no marker) instead of the
  // process dying silently by the signal.
  std::signal(SIGXFSZ, SIG_IGN);
  umkInitialize(active);
  // The driver ends the process itself on command-line faults, after "-help"
  // and after a missing element set; the runtime must go down then too.
  std::atexit(VLTFinalize);
  int status = 0;
  try {
    status = VLTmain(argc, argv);
  } catch (const nex_Exception& e) {
    std::cerr << e.message() << "\n";
    std::cerr << "ODB Application exited with error(s)\n";
  } catch (...) {
    std::cerr << "ODB Application exited with error(s)\n";
  }
  VLTFinalize();
  return status;
}
