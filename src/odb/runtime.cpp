// Runtime start and stop, and the registry of open databases.
// Globals: startCount and stopCount (written by QVXStsStdB_initialize and
// QVXStsStdB_finalize), openDatabases (written by openOdb and
// odb_finalizeAPI and by the exit handler).
#include <cstdlib>
#include <vector>

#include "odb/impl.h"

using odb_detail::odbFail;
using odb_detail::Where;

static int startCount = 0;  // QVXStsStdB_initialize calls so far
static int stopCount = 0;   // QVXStsStdB_finalize calls so far
// Databases handed out by openOdb, owned here until odb_finalizeAPI.
constinit static std::vector<std::unique_ptr<odb_Odb>> openDatabases;
static bool exitHandlerSet = false;  // closeAtExit registered

// Runs before HDF5's own exit handler (registered earlier, so called later):
// files left open by a caller that never finalized are closed while HDF5 is
// still up.
static void closeAtExit() { odb_finalizeAPI(); }

static void startRuntime() {
  odb_detail::startHdf5();
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
  openDatabases.push_back(std::make_unique<odb_Odb>(odb_detail::loadOdb(path.str(), readInternalSets)));
  return *openDatabases.back();
}

std::unique_ptr<odb_Odb> odb_open(const odb_String& path, bool readInternalSets) {
  odb_detail::startHdf5();
  return std::make_unique<odb_Odb>(odb_detail::loadOdb(path.str(), readInternalSets));
}

namespace odb_detail {
int runtimeStartCount() { return startCount; }
int runtimeStopCount() { return stopCount; }
}  // namespace odb_detail
