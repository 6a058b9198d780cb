// Configuration reader: fills the extraction settings (run/settings.h) from
// the keyword lines of the configuration file. The only writer of those
// globals during a run.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "run/settings.h"

namespace {

// A keyword and the flag it sets; a null flag marks PERCENTAGE, whose value
// comes from the line itself.
struct Keyword {
  const char* text;
  bool* flag;
  bool value;
};

}  // namespace

// Every line of the section is searched for all of these, in this order.
// Matching is by plain substring, so EXTRACT_FIELD_SETS also sets
// extract_field, and NO_EXTRACT_MASS still sets extract_mass.
static const Keyword keywords[] = {
    {"EXTRACT_MASS", &extract_mass, true},
    {"EXTRACT_HISTORY", &extract_history, true},
    {"EXTRACT_FIELD", &extract_field, true},
    {"MINMAX_HISTORY", &extract_minMax_history, true},
    {"EXTRACT_ALL", &extract_all_field, true},
    {"EXTRACT_STRESS", &extract_stress_field, true},
    {"EXTRACT_SPATIAL", &extract_spatial_field, true},
    {"EXTRACT_ELEMENT", &extract_element_field, true},
    {"EXTRACT_FIELD_SETS", &extract_field_sets, true},
    {"EXTRACT_FIELD_COMPONENTS", &extract_field_components, true},
    {"DO_NOT_COMPUTE_VALUES", &compute_values, false},
    {"ABSOLUTE_MAX", &absolute_max, true},
    {"ABSOLUTE_MIN", &absolute_min, true},
    {"ENGINEERING_MIN", &engg_min, true},
    {"ENGINEERING_MAX", &engg_max, true},
    {"PERCENTAGE", nullptr, false},
    {"TENSOR_INVARIANTS", &tensor_invariants, true},
};

// The value text of a PERCENTAGE line is what follows the first "=" of the
// whole line (so "LIMIT=3 PERCENTAGE=90" gives 3). It is kept to 23
// characters and converted the way atof does, so "97 %" gives 97, "abc"
// gives 0, and hexadecimal, "inf" and "nan" texts are numbers too. A line
// without "=" leaves the percentage as it was.
static void readPercentage(const std::string& line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return;
  char value[24];
  const std::size_t n = line.copy(value, sizeof value - 1, eq + 1);
  value[n] = '\0';
  per = std::atof(value);
}

static void scanLine(const std::string& line) {
  for (const Keyword& k : keywords) {
    if (line.find(k.text) == std::string::npos) continue;
    if (k.flag)
      *k.flag = k.value;
    else
      readPercentage(line);
  }
}

void readConfigFile(const char* path) {
  std::ifstream in(path);
  // A directory opens like a file on this platform and only fails on the
  // first read; either way it is a file we cannot read, and the run goes on
  // with the defaults.
  if (in.is_open()) in.peek();
  if (!in.is_open() || (!in.good() && !in.eof())) {
    std::cout << "Unable to open file";
    return;
  }
  bool inSection = false;
  std::string line;
  // Stops at the end of the file, and also on a read error, which would
  // otherwise never reach the end. A file ending in a line feed gives one
  // last empty line, which matches nothing.
  while (in.good()) {
    line.clear();
    std::getline(in, line);
    if (!inSection && line.find("ODB EXTRACTIONS") != std::string::npos) inSection = true;
    if (inSection) scanLine(line);
  }
}
