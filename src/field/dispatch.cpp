// The field dispatcher: skips warning and information regions, applies the
// selection settings and hands a field output to the set statistics, the
// whole-model bulk statistics, or, in a names-only run, writes the names of
// the lines a computing run would write, each with the value 0.
#include "field/dispatch.h"
#include "field/field.h"
#include "field/lines.h"
#include "field/results.h"
#include "run/settings.h"

static bool isSelected(const odb_String& description) {
  return extract_all_field || (containsText(description, "Stress") && extract_stress_field) ||
         (containsText(description, "Spatial") && extract_spatial_field) ||
         (containsText(description, "Element") && extract_element_field) || tensor_invariants;
}

// Names-only lines of one quantity group: the value is always the integer 0.
static void writeNameGroup(std::ostream& out, const std::string& head, std::string_view label) {
  writeGroup(out, head, label, Stat4<int>{0, 0, 0, 0});
}

static void writeNamesOnly(const odb_FieldOutput& field, std::ostream& out, const odb_String& stepName,
                           int incrementNumber, const odb_String& regionKind, const odb_String& regionName,
                           const odb_SequenceString& labels) {
  const odb_SequenceFieldBulkData& blocks = field.bulkDataBlocks();
  if (blocks.size() == 0) return;
  const int bulkType = blocks[0].type();
  const odb_SequenceInvariant& invariants = field.validInvariants();
  const bool wholeModel = regionKind == odb_String("ALL");
  const std::string head =
      resultHead(stepName, incrementNumber, wholeModel ? odb_String() : regionName, field.name());

  // Unlike a computing run, the invariant groups come first here.
  if (tensor_invariants && cleanName(field.name()) == odb_String("S") && !wholeModel)
    for (const InvariantRow& row : kInvariantRows)
      if (invariants.isMember(row.code)) writeNameGroup(out, head, row.label);

  if (odb_vocab::isTensor(bulkType)) {
    bool marks[6];
    componentMarks(labels, marks);
    writeNameGroup(out, head, "mises");
    if (extract_field_components)
      for (int k = 0; k < 6; ++k)
        if (marks[k]) writeNameGroup(out, head, odb_vocab::kTensorSuffixes[k]);
  } else if (bulkType == odb_Enum::VECTOR) {
    writeNameGroup(out, head, "mag");
    if (extract_field_components) {
      const Stat4<int> zero{0, 0, 0, 0};
      const Stat4<int> c[3] = {zero, zero, zero};
      writeVectorComponents(out, head, c);
    }
  } else {
    writeNameGroup(out, head, "");
  }
}

void odbE_printField(const odb_FieldOutput& field, std::ostream& out, odb_String stepName, int incrementNumber,
                     odb_String regionKind, odb_String regionName, odb_String indent, int depth) {
  const odb_String& description = field.description();
  const odb_SequenceString& labels = field.componentLabels();
  if (containsText(regionName, "Warn") || containsText(regionName, "Info")) return;

  if (!compute_values) {
    if (isSelected(description))
      writeNamesOnly(field, out, stepName, incrementNumber, regionKind, regionName, labels);
    return;
  }

  const bool isComplex = field.isComplex();
  if (depth <= 0) return;
  if (!isSelected(description)) return;
  const odb_String innerIndent = indent + "    ";
  if (!(regionKind == odb_String("ALL"))) {
    odb_SequenceString ownLabels = labels;  // the set statistics get a sequence of their own
    odbE_printFieldValueCon(field.values(), out, stepName, incrementNumber, regionKind, regionName, field.name(),
                            field.validInvariants(), ownLabels, field.type(), innerIndent, isComplex);
  } else {
    odbE_printFieldBulkDataCon(field.bulkDataBlocks(), out, stepName, incrementNumber, regionKind, regionName,
                               field.name(), field.validInvariants(), innerIndent, isComplex);
  }
}
