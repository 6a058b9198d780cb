// Step traversal: odbE_printFullOdb walks the steps of the database and
// odbE_printStep reports one step (mass properties, then history regions,
// then frames). Reads the settings extract_mass, extract_history,
// extract_minMax_history, extract_field and compute_values.
#include <algorithm>
#include <iostream>
#include <string>

#include "history/history.h"
#include "run/settings.h"
#include "text/text.h"
#include "traverse/traverse.h"

// Each level of the report hands its children four more blanks.
static const char* const kIndentStep = "    ";

// The budget a full run starts every step with; deep enough never to stop a real walk.
static constexpr int kFullDepth = 9999;

void odbE_printFullOdb(odb_Odb& odb, std::ostream& out) {
  const odb_StepRepository& steps = odb.steps();
  odb_StepRepositoryIterator it(steps);
  for (it.first(); !it.isDone(); it.next()) {
    const odb_String key = it.currentKey();
    odbE_printStep(odb, steps[key], out, odb_String(kIndentStep), kFullDepth);
  }
}

// The mass lines only swap dashes: a blank in a step name stays, unlike the
// cleaned names of the field and history lines.
static odb_String massPrefix(const odb_String& stepName) {
  std::string s = stepName.str();
  std::replace(s.begin(), s.end(), '-', '_');
  return odb_String(std::move(s));
}

// Writes "<prefix><literal>(a, b, c)"; an empty sequence writes nothing.
static void printMassSequence(std::ostream& out, const odb_String& prefix, const char* literal,
                              const odb_SequenceDouble& values) {
  if (values.size() < 1) return;
  out << prefix << literal << "(";
  for (int i = 0; i < values.size(); ++i) {
    if (i > 0) out << ", ";
    if (compute_values)
      writeNumber(out, values.constGet(i));
    else
      out << '0';
  }
  // Flushed line by line, so a run that dies later keeps every line written.
  out << ")" << '\n' << std::flush;
}

static void printMassProperties(const odb_Step& step, std::ostream& out) {
  std::cout << "Extracting mass properties" << std::endl;
  const double mass = step.mass();
  // -1.0 is the library's "mass not known"; the whole group is left out then.
  if (mass == -1.0) return;
  const odb_String prefix = massPrefix(step.name());
  out << prefix << "__Mass\t";
  if (compute_values)
    writeNumber(out, mass);
  else
    out << '0';
  out << '\n' << std::flush;
  printMassSequence(out, prefix, "__MassCenter\t", step.massCenter());
  printMassSequence(out, prefix, "__InertiaCenter\t", step.inertiaAboutCenter());
  printMassSequence(out, prefix, "__InertiaOrigin\t", step.inertiaAboutOrigin());
}

static void printHistoryRegions(const odb_Step& step, std::ostream& out, const odb_String& indent, int depth) {
  const odb_HistoryRegionRepository& regions = step.historyRegions();
  odb_HistoryRegionRepositoryIterator it(regions);
  for (it.first(); !it.isDone(); it.next())
    odbE_printHistoryRegion(it.currentValue(), out, step.name(), indent, depth);
}

void odbE_printStep(odb_Odb& odb, const odb_Step& step, std::ostream& out, odb_String indent, int depth) {
  std::cout << "Processing Step: " << step.name() << std::endl;
  if (extract_mass) printMassProperties(step, out);
  if (depth <= 0) return;
  const int childDepth = depth - 1;
  const odb_String childIndent = indent + odb_String(kIndentStep);
  if (extract_history || extract_minMax_history) printHistoryRegions(step, out, childIndent, childDepth);
  if (!extract_field) return;
  const odb_SequenceFrame& frames = step.frames();
  for (int i = 0; i < frames.size(); ++i)
    odbE_printFrame(odb, frames.constGet(i), out, step.name(), childIndent, childDepth);
}
