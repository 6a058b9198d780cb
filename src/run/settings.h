// Extraction settings: what the configuration file asks to extract.
//
// Written only by readConfigFile (and resetSettings, for tests); every other
// routine only reads them.
#pragma once

#include <cstddef>

extern bool extract_mass;              // step mass properties ("EXTRACT_MASS")
extern bool extract_history;           // history lines ("EXTRACT_HISTORY")
extern bool extract_field;             // walk the frames ("EXTRACT_FIELD")
extern bool extract_minMax_history;    // history extreme lines ("MINMAX_HISTORY")
extern bool extract_all_field;         // select every field output ("EXTRACT_ALL")
extern bool extract_stress_field;      // select "Stress" field outputs ("EXTRACT_STRESS")
extern bool extract_spatial_field;     // select "Spatial" field outputs ("EXTRACT_SPATIAL")
extern bool extract_element_field;     // select "Element" field outputs ("EXTRACT_ELEMENT")
extern bool engg_min;                  // engineering minima ("ENGINEERING_MIN")
extern bool absolute_min;              // recorded, changes nothing ("ABSOLUTE_MIN")
extern bool engg_max;                  // engineering maxima ("ENGINEERING_MAX")
extern bool absolute_max;              // recorded, changes nothing ("ABSOLUTE_MAX")
extern bool tensor_invariants;         // stress invariants on sets ("TENSOR_INVARIANTS")
extern bool extract_field_sets;        // offer every set ("EXTRACT_FIELD_SETS")
extern bool extract_field_components;  // component lines ("EXTRACT_FIELD_COMPONENTS")
extern bool compute_values;            // false: names only ("DO_NOT_COMPUTE_VALUES")
extern double per;                     // percentage of the engineering extremes ("PERCENTAGE")

// The bytes a run may hold for the values of one field output and the
// working arrays of its statistics. A block of a field output beyond it is
// held for its passes only when it takes at most a quarter of the budget,
// else the passes read the file again.
// Not a configuration setting: setMemoryBudget sets it from the environment
// before the walk. Until then (and after resetSettings) everything fits.
extern std::size_t memory_budget;

// Sets memory_budget from HARVEST_MEMORY_MB's text, a positive decimal number
// of megabytes (1 MB = 1,000,000 bytes); without it (null), a quarter of the
// memory the process may use (the machine's, or its control group's limit if
// lower). Returns false, leaving the budget as it was, when the text is no
// such number.
bool setMemoryBudget(const char* megabytes);

// Puts every setting back to its default.
void resetSettings();

// Reads the configuration file at path into the settings.
void readConfigFile(const char* path);
