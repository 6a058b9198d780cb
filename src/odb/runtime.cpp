// Runtime start and stop, and the databases openOdb hands out.
//
// Globals: the fixed entry points need a little process-wide state, kept
// here and nowhere else in the library. openOdb returns a reference the
// library owns, so someone must own the object: openDatabases does, written
// by openOdb and odb_finalizeAPI. startCount and stopCount count the
// runtime's starts and stops (written by QVXStsStdB_initialize and
// QVXStsStdB_finalize, read by the program's tests). A caller of odb_open
// owns its database and touches none of this.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "odb/impl.h"

using odb_detail::odbFail;
using odb_detail::Where;

static int startCount = 0;  // QVXStsStdB_initialize calls so far
static int stopCount = 0;   // QVXStsStdB_finalize calls so far
// Databases handed out by openOdb and not yet freed: open ones, and closed
// ones until the next openOdb or odb_finalizeAPI.
constinit static std::vector<std::unique_ptr<odb_Odb>> openDatabases;
static bool exitHandlerSet = false;  // closeAtExit registered

// Runs before HDF5's exit handler (registered earlier, so called later):
// files left open by a caller that never finalized are closed while HDF5 is
// still up.
static void closeAtExit() { odb_finalizeAPI(); }

// The fixed runtime start. Programs built on it may write (upgradeOdb) and
// end anywhere with exit(), so this start lets the library stop HDF5 at exit
// (h5_io.cpp, takeHdf5Exit says why).
static void startRuntime() {
  odb_detail::takeHdf5Exit();
  if (exitHandlerSet) return;
  std::atexit(closeAtExit);
  exitHandlerSet = true;
}

void QVXStsStdB_initialize(int&) {
  startRuntime();
  ++startCount;
}

// HDF5 itself stays up until the process ends, so a later start in the same
// process (tests) finds it ready.
void QVXStsStdB_finalize(int&) { ++stopCount; }

void odb_initializeAPI() { startRuntime(); }

void odb_finalizeAPI() {
  for (auto& odb : openDatabases) odb->close();
  openDatabases.clear();
}

odb_Odb& openOdb(const odb_String& path, bool readOnly, bool readInternalSets) {
  startRuntime();  // also when the caller never started the runtime
  if (!readOnly) odbFail(Where{path.str(), "/"}, "databases open read-only, readOnly must be true");
  std::erase_if(openDatabases, [](const std::unique_ptr<odb_Odb>& odb) { return !odb->isOpen(); });
  openDatabases.push_back(odb_open(path, readInternalSets));
  return *openDatabases.back();
}

std::unique_ptr<odb_Odb> odb_open(const odb_String& path, const odb_OpenOptions& options) {
  return std::make_unique<odb_Odb>(odb_detail::loadOdb(path.str(), options));
}

std::unique_ptr<odb_Odb> odb_open(const odb_String& path, bool readInternalSets) {
  odb_OpenOptions options;
  options.readInternalSets = readInternalSets;
  return odb_open(path, options);
}

namespace odb_detail {
int runtimeStartCount() { return startCount; }
int runtimeStopCount() { return stopCount; }
}  // namespace odb_detail
