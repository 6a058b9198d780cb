// Parameter names and component marks for the field result lines.
#include "field/lines.h"

#include <string_view>

void componentMarks(const odb_SequenceString& labels, bool marks[6]) {
  for (int i = 0; i < 6; ++i) marks[i] = false;
  for (int l = 0; l < labels.size(); ++l) {
    const std::string_view label = labels[l].str();
    if (label.size() < 2) continue;
    const std::string_view tail = label.substr(label.size() - 2);
    for (int i = 0; i < 6; ++i)
      if (tail == odb_vocab::kTensorSuffixes[i]) marks[i] = true;
  }
}

std::string resultHead(const odb_String& stepName, int incrementNumber, const odb_String& regionName,
                       const odb_String& fieldName) {
  std::string head = cleanName(stepName).str();
  head.append("__Frame_").append(std::to_string(incrementNumber));
  head.append(cleanName(regionName).str());
  head.append("__").append(cleanName(fieldName).str());
  return head;
}
