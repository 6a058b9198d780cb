// Extraction settings: the process-wide flags and percentage of run/settings.h.
//
// Each global starts at its default here; readConfigFile (config.cpp) is the
// only writer during a run, and resetSettings puts them back for the tests.
#include "run/settings.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

constinit bool extract_mass = false;              // EXTRACT_MASS: mass lines of every step
constinit bool extract_history = false;           // EXTRACT_HISTORY: history output lines
constinit bool extract_field = false;             // EXTRACT_FIELD: walk the frames of every step
constinit bool extract_minMax_history = false;    // MINMAX_HISTORY: history extreme lines
constinit bool extract_all_field = false;         // EXTRACT_ALL: every field output is selected
constinit bool extract_stress_field = false;      // EXTRACT_STRESS: "Stress" field outputs
constinit bool extract_spatial_field = false;     // EXTRACT_SPATIAL: "Spatial" field outputs
constinit bool extract_element_field = false;     // EXTRACT_ELEMENT: "Element" field outputs
constinit bool engg_min = false;                  // ENGINEERING_MIN: engineering minima
constinit bool absolute_min = false;              // ABSOLUTE_MIN: recorded only, nothing reads it
constinit bool engg_max = false;                  // ENGINEERING_MAX: engineering maxima
constinit bool absolute_max = false;              // ABSOLUTE_MAX: recorded only, nothing reads it
constinit bool tensor_invariants = false;         // TENSOR_INVARIANTS: stress invariants on sets
constinit bool extract_field_sets = false;        // EXTRACT_FIELD_SETS: offer every set too
constinit bool extract_field_components = false;  // EXTRACT_FIELD_COMPONENTS: component lines
constinit bool compute_values = true;             // cleared by DO_NOT_COMPUTE_VALUES: names only
constinit double per = 0.0;                       // PERCENTAGE: share passed over by engineering extremes
constinit std::size_t memory_budget = SIZE_MAX;  // HARVEST_MEMORY_MB, see setMemoryBudget

// The memory this process may use: the machine's, or less when its control
// group says so (cgroup v2 "memory.max", v1 "memory.limit_in_bytes").
static double usableMemory() {
  double bytes = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGE_SIZE));
  for (const char* limit : {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
    std::ifstream in(limit);
    double value = 0;
    if (in >> value && value > 0 && value < bytes) bytes = value;
  }
  return bytes;
}

bool setMemoryBudget(const char* megabytes) {
  double bytes = 0;
  if (megabytes == nullptr) {
    // A run keeps its own working arrays and the file's pages in the page
    // cache besides the values; a quarter leaves room for both and for a few
    // runs side by side on one node.
    bytes = usableMemory() / 4;
  } else {
    char* end = nullptr;
    const double mb = std::strtod(megabytes, &end);
    if (end == megabytes || *end != '\0' || !std::isfinite(mb) || !(mb > 0)) return false;
    bytes = mb * 1e6;
  }
  memory_budget = bytes >= static_cast<double>(SIZE_MAX) ? SIZE_MAX : static_cast<std::size_t>(bytes);
  return true;
}

void resetSettings() {
  extract_mass = false;
  extract_history = false;
  extract_field = false;
  extract_minMax_history = false;
  extract_all_field = false;
  extract_stress_field = false;
  extract_spatial_field = false;
  extract_element_field = false;
  engg_min = false;
  absolute_min = false;
  engg_max = false;
  absolute_max = false;
  tensor_invariants = false;
  extract_field_sets = false;
  extract_field_components = false;
  compute_values = true;
  per = 0.0;
  memory_budget = SIZE_MAX;
}
