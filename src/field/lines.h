// Result lines: parameter names, the one line writer and the groups of lines
// each quantity gets, plus the table of invariant labels that the field
// routines share. Tensor slots and the tensor test come from odb/vocabulary.h.
#pragma once

#include <cfloat>
#include <ostream>
#include <string>
#include <string_view>

#include "odb/odb.h"
#include "odb/vocabulary.h"
#include "run/settings.h"
#include "text/text.h"

// Invariants in the order of their lines, with the accessor selector of
// odbE_getTensorValue equal to the row index.
struct InvariantRow {
  odb_Enum::odb_InvariantEnum code;
  const char* label;
};
inline constexpr InvariantRow kInvariantRows[9] = {
    {odb_Enum::TRESCA, "tresca"},
    {odb_Enum::PRESS, "press"},
    {odb_Enum::INV3, "inv3"},
    {odb_Enum::MAX_PRINCIPAL, "maxprincipal"},
    {odb_Enum::MID_PRINCIPAL, "midprincipal"},
    {odb_Enum::MIN_PRINCIPAL, "minprincipal"},
    {odb_Enum::MAX_INPLANE_PRINCIPAL, "maxinplaneprincipal"},
    {odb_Enum::MIN_INPLANE_PRINCIPAL, "mininplane_principal"},
    {odb_Enum::OUTOFPLANE_PRINCIPAL, "outofplane_principal"},
};

// True when text occurs anywhere in s (case-sensitive).
inline bool containsText(const odb_String& s, const char* text) {
  return s.str().find(text) != std::string::npos;
}

// Sets mark i when some label ends in odb_vocab::kTensorSuffixes[i]; labels shorter than
// two characters set nothing.
void componentMarks(const odb_SequenceString& labels, bool marks[6]);

// Step label, frame, region and field of a parameter name:
// cleaned step, "__Frame_", increment, cleaned region, "__", cleaned field.
std::string resultHead(const odb_String& stepName, int incrementNumber, const odb_String& regionName,
                       const odb_String& fieldName);

// Writes one result line. Flushed at once so that a run ended by a library
// failure leaves every line written so far in params.txt.
template <class V>
void writeResultLine(std::ostream& out, std::string_view name, std::string_view suffix, V value) {
  out << name << suffix << '\t';
  writeNumber(out, value);
  out << '\n' << std::flush;
}

// The four statistics of one quantity.
template <class V>
struct Stat4 {
  V max, min, enggMax, enggMin;
};
// Maximum, minimum and engineering extremes of one quantity.
using QuantityExtremes = Stat4<double>;
inline constexpr QuantityExtremes kUntouched{-DBL_MAX, DBL_MAX, -DBL_MAX, DBL_MAX};

// "__" label "__max" and so on; a scalar (empty label) gets "__max".
inline std::string statSuffix(std::string_view label, std::string_view stat) {
  std::string s = "__";
  if (!label.empty()) s.append(label).append("__");
  return s.append(stat);
}

// max and min always, then enggmax and enggmin under their settings.
template <class V>
void writeGroup(std::ostream& out, const std::string& head, std::string_view label, const Stat4<V>& s) {
  writeResultLine(out, head, statSuffix(label, "max"), s.max);
  writeResultLine(out, head, statSuffix(label, "min"), s.min);
  if (engg_max) writeResultLine(out, head, statSuffix(label, "enggmax"), s.enggMax);
  if (engg_min) writeResultLine(out, head, statSuffix(label, "enggmin"), s.enggMin);
}

// The vector components 1, 2, 3, grouped by statistic: max and min of each,
// then the engineering maxima, then the engineering minima.
template <class V>
void writeVectorComponents(std::ostream& out, const std::string& head, const Stat4<V> (&c)[3]) {
  static constexpr const char* kNames[3] = {"1", "2", "3"};
  for (int i = 0; i < 3; ++i) {
    writeResultLine(out, head, statSuffix(kNames[i], "max"), c[i].max);
    writeResultLine(out, head, statSuffix(kNames[i], "min"), c[i].min);
  }
  if (engg_max)
    for (int i = 0; i < 3; ++i) writeResultLine(out, head, statSuffix(kNames[i], "enggmax"), c[i].enggMax);
  if (engg_min)
    for (int i = 0; i < 3; ++i) writeResultLine(out, head, statSuffix(kNames[i], "enggmin"), c[i].enggMin);
}
