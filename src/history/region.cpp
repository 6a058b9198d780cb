// History region report: odbE_printHistoryRegion announces a region, works
// out its point name and hands each history output to the output writer.
// Touches no globals.
#include <iostream>

#include "history/history.h"

// The text that says where the region's histories were recorded. Each test
// that holds replaces the name, so a set name beats every label and an
// integration point number beats the element label it belongs to. The point
// is asked for afresh each time, as a value.
static odb_String pointName(const odb_HistoryRegion& region) {
  odb_String name;
  if (region.historyPoint().node().label() >= 0) name = odb_String(region.historyPoint().node().label());
  if (region.historyPoint().element().label() >= 0) name = odb_String(region.historyPoint().element().label());
  if (region.historyPoint().ipNumber() != 0) name = odb_String(region.historyPoint().ipNumber());
  if (region.historyPoint().sectionPoint().number() > 0)
    name = odb_String(region.historyPoint().sectionPoint().number());
  if (!region.historyPoint().region().name().empty()) name = region.historyPoint().region().name();
  return name;
}

void odbE_printHistoryRegion(const odb_HistoryRegion& region, std::ostream& out, odb_String stepName,
                             odb_String indent, int depth) {
  std::cout << "Processing History Region: " << region.description() << std::endl;
  if (depth < 1) return;
  const odb_String point = pointName(region);
  const odb_String childIndent = indent + odb_String("    ");
  const odb_HistoryOutputRepository& outputs = region.historyOutputs();
  odb_HistoryOutputRepositoryIterator it(outputs);
  for (it.first(); !it.isDone(); it.next())
    odbE_printHistoryOutput(it.currentValue(), out, stepName, point, childIndent);
}
