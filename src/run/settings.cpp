// Extraction settings: the process-wide flags and percentage of run/settings.h.
//
// Each global starts at its default here; readConfigFile (config.cpp) is the
// only writer during a run, and resetSettings puts them back for the tests.
#include "run/settings.h"

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
}
