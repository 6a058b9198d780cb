#include "recording_dispatch.h"

#include "field/dispatch.h"

std::vector<DispatchCall> dispatchCalls;

void odbE_printField(const odb_FieldOutput& field, std::ostream&, odb_String stepName, int incrementNumber,
                     odb_String regionKind, odb_String regionName, odb_String indent, int depth) {
  dispatchCalls.push_back({field.name().str(), stepName.str(), incrementNumber, regionKind.str(), regionName.str(),
                           indent.str(), depth, field.values().size()});
}
