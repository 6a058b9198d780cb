// History output writer: odbE_printHistoryOutput writes one history output
// as a line of (time, value) entries and its extremes over time. Reads the
// settings extract_history, extract_minMax_history and compute_values.
#include <ostream>

#include "history/history.h"
#include "run/settings.h"
#include "text/text.h"

// The running extremes are floats, like the values, and start at the largest
// finite float magnitude; a history whose entries are all empty shows them.
static constexpr float kFloatMax = 3.4028234663852886e38f;

namespace {
// The running maximum and minimum of a history's values over time.
struct HistoryExtremes {
  float max = -kFloatMax;
  float min = kFloatMax;
};
}  // namespace

// Writes one entry "(t, v)" (or "(0, 0)" names-only); only its last float
// counts for the extremes, and a NaN never replaces one.
static void printEntry(const odb_SequenceFloat& entry, std::ostream& out, HistoryExtremes& ext) {
  if (extract_history) out << "(";
  const int width = entry.size();
  for (int j = 0; j < width; ++j) {
    float x = 0.0f;
    if (compute_values) x = entry.constGet(j);
    if (extract_history) {
      if (compute_values)
        writeNumber(out, x);
      else
        out << '0';
    }
    if (j != width - 1) {
      if (extract_history) out << ", ";
    } else if (compute_values) {
      if (ext.max < x) ext.max = x;
      if (ext.min > x) ext.min = x;
    }
  }
  if (extract_history) out << ")";
}

static void printExtremeLine(std::ostream& out, const odb_String& head, const odb_String& tail, float value) {
  out << head << tail << "\t";
  if (compute_values)
    writeNumber(out, value);
  else
    out << '0';
  out << '\n' << std::flush;
}

void odbE_printHistoryOutput(const odb_HistoryOutput& output, std::ostream& out, odb_String stepName,
                             odb_String pointName, odb_String /*indent*/) {
  const odb_SequenceSequenceFloat data = output.data();
  const int n = data.size();
  const odb_String stepLabel = cleanName(stepName);
  // The point name is written as the library gives it, never cleaned.
  const odb_String tail =
      cleanName(output.name()) + (pointName.empty() ? odb_String("") : odb_String("_") + pointName);
  if (extract_history) out << stepLabel << "__History__" << tail << (n > 0 ? "\t(" : "\t");
  if (n == 0) {
    // An empty history says so and has no extremes to report.
    if (extract_history) out << "None" << '\n' << std::flush;
    return;
  }
  HistoryExtremes ext;
  for (int i = 0; i < n; ++i) {
    const odb_SequenceFloat entry = data.constGet(i);
    printEntry(entry, out, ext);
    if (i != n - 1 && extract_history) out << ", ";
  }
  // Flushed line by line, so a run that dies later keeps every line written.
  if (extract_history) out << ")" << '\n' << std::flush;
  if (!extract_minMax_history) return;
  printExtremeLine(out, stepLabel + odb_String("__History_Max__"), tail, ext.max);
  printExtremeLine(out, stepLabel + odb_String("__History_Min__"), tail, ext.min);
}
