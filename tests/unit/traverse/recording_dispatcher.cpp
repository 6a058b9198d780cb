// The recording dispatcher and the fixture shared by the traversal tests.
#include "recording_dispatcher.h"

#include "field/field.h"
#include "run/settings.h"

std::vector<DispatchCall>& recordedCalls() {
  static std::vector<DispatchCall> calls;
  return calls;
}

std::vector<std::string> callOrder() {
  std::vector<std::string> order;
  for (const DispatchCall& c : recordedCalls()) order.push_back(c.kind + " " + c.region);
  return order;
}

void odbE_printField(const odb_FieldOutput& field, std::ofstream&, odb_String stepName, int incrementNumber,
                     odb_String regionKind, odb_String regionName, odb_String indent, int depth) {
  recordedCalls().push_back({field.name().str(), stepName.str(), incrementNumber, regionKind.str(),
                             regionName.str(), indent.str(), depth, field.values().size()});
}

void TraverseTest::SetUp() {
  static int active = 0;
  if (active == 0) {
    QVXStsStdB_initialize(active);
    odb_initializeAPI();
  }
  resetSettings();
  recordedCalls().clear();
}

void TraverseTest::TearDown() {
  for (odb_Odb* odb : open_) odb->close();
}

odb_Odb& TraverseTest::open(const std::string& file, bool internalSets) {
  odb_Odb& odb = openOdb(odb_String(path(file)), true, internalSets);
  open_.push_back(&odb);
  return odb;
}
