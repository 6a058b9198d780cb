// The per-value extractor: the number a field value contributes to the set
// statistics, and its components handed over through vecXMax, vecYMax,
// vecZMax and the slots that tensorCompPtr addresses.
#include "field/field.h"
#include "field/lines.h"
#include "field/results.h"
#include "run/settings.h"

// Entry i of a value's data in its own precision, widened to double; a value
// shorter than that yields nothing (the caller decides the fallback).
template <class Seq>
static bool entryAt(const Seq& data, int i, double& out) {
  if (i >= data.size()) return false;
  out = static_cast<double>(data.data()[i]);
  return true;
}

template <class Seq>
static double extractFrom(const odb_FieldValue& value, const Seq& data, int type, const bool componentMarks[6]) {
  if (type == odb_Enum::SCALAR) {
    double first = 0.0;
    entryAt(data, 0, first);
    return first;
  }
  if (type == odb_Enum::VECTOR) {
    if (extract_field_components) {
      // A two-component vector has no Z: it counts as 0.
      for (int i = 0; i < 3; ++i)
        if (!entryAt(data, i, *kVecMax[i])) *kVecMax[i] = 0.0;
    }
    return static_cast<double>(value.magnitude());
  }
  if (extract_field_components) {
    int next = 0;
    for (int slot = 0; slot < 6; ++slot) {
      if (!componentMarks[slot]) continue;
      double v = 0.0;
      if (entryAt(data, next++, v) && tensorCompPtr[slot]) *tensorCompPtr[slot] = v;
    }
  }
  return static_cast<double>(value.mises());
}

double odbE_printFieldValue(const odb_FieldValue& value, std::ostream& /*out*/,
                            const odb_SequenceInvariant& /*invariants*/, const bool componentMarks[6],
                            const odb_String& /*indent*/, bool /*isComplex*/) {
  const int type = value.type();
  if (type != odb_Enum::SCALAR && type != odb_Enum::VECTOR && !odb_vocab::isTensor(type)) return 0.0;
  if (value.precision() == 0) return extractFrom(value, value.data(), type, componentMarks);
  return extractFrom(value, value.dataDouble(), type, componentMarks);
}
