// Placeholder: replaced by the run-control work.
#include "run/settings.h"
bool extract_mass = false, extract_history = false, extract_field = false, extract_minMax_history = false,
     extract_all_field = false, extract_stress_field = false, extract_spatial_field = false,
     extract_element_field = false, engg_min = false, absolute_min = false, engg_max = false,
     absolute_max = false, tensor_invariants = false, extract_field_sets = false,
     extract_field_components = false, compute_values = true;
double per = 0.0;
void resetSettings() {}
void readConfigFile(const char*) {}
