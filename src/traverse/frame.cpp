// Frame report: odbE_printFrame offers every field output of a frame to the
// field dispatcher, for the whole model and, when sets or invariants are
// asked for, for every element and node set of the model. Reads the settings
// extract_field_sets and tensor_invariants.
#include <iostream>

#include "field/dispatch.h"
#include "run/settings.h"
#include "traverse/traverse.h"

namespace {
// What every dispatcher call of one field output shares.
struct Offer {
  const odb_FieldOutput& field;
  const odb_Frame& frame;
  std::ostream& out;
  const odb_String& stepName;
  const odb_String& indent;
  int depth;
};
}  // namespace

static void dispatch(const Offer& o, const odb_FieldOutput& field, const char* kind, const odb_String& region) {
  // The increment number is asked for on every call, as the dispatcher's
  // other callers would; the frame answers the same each time.
  odbE_printField(field, o.out, o.stepName, o.frame.incrementNumber(), odb_String(kind), region, o.indent, o.depth);
}

// One call per set of the repository, each with the part of the field output
// that lies on it. The subset lives only for its call, so at most one is held.
static void offerSets(const Offer& o, const odb_SetRepository& sets, const char* kind, const odb_String& prefix) {
  odb_SetRepositoryIterator it(sets);
  for (it.first(); !it.isDone(); it.next()) {
    const odb_Set& set = it.currentValue();
    const odb_FieldOutput subset = o.field.getSubset(set);
    dispatch(o, subset, kind, prefix + set.name());
  }
}

static void offerEntity(const Offer& o, const odb_DiscreteEntity& entity, const odb_String& prefix) {
  offerSets(o, entity.elementSets(false), "ELEMENT_SET", prefix);
  offerSets(o, entity.nodeSets(false), "NODE_SET", prefix);
}

// Root assembly sets are named "__SET"; those of instances and parts
// "__OWNER_SET", with the names joined exactly as the library gives them.
static void offerAllSets(const Offer& o, odb_Odb& odb) {
  const odb_Assembly& assembly = odb.rootAssembly();
  offerEntity(o, assembly, odb_String("__"));
  const odb_InstanceRepository& instances = assembly.instances();
  odb_InstanceRepositoryIterator inst(instances);
  for (inst.first(); !inst.isDone(); inst.next()) {
    const odb_Instance& instance = instances[inst.currentKey()];
    offerEntity(o, instance, odb_String("__") + instance.name() + odb_String("_"));
  }
  const odb_PartRepository& parts = odb.parts();
  odb_PartRepositoryIterator part(parts);
  for (part.first(); !part.isDone(); part.next()) {
    const odb_Part& p = parts[part.currentKey()];
    offerEntity(o, p, odb_String("__") + p.name() + odb_String("_"));
  }
}

void odbE_printFrame(odb_Odb& odb, const odb_Frame& frame, std::ostream& out, odb_String stepName,
                     odb_String indent, int depth) {
  std::cout << "Processing Frame: " << frame.description() << std::endl;
  if (depth < 1) return;
  --depth;
  const odb_String childIndent = indent + odb_String("    ");
  const bool offerSetsToo = extract_field_sets || tensor_invariants;
  // fieldOutputs() builds a new repository on every call: take it once, and
  // keep it while its field outputs are in use. A field output is dropped
  // from it once offered, so only one holds its arrays at a time.
  odb_FieldOutputRepository fields = frame.fieldOutputs();
  odb_FieldOutputRepositoryIterator it(fields);
  for (it.first(); !it.isDone(); it.next()) {
    const odb_String& key = it.currentKey();
    const odb_FieldOutput field = fields[key];
    fields.insert(key, odb_FieldOutput());
    const Offer offer{field, frame, out, stepName, childIndent, depth};
    dispatch(offer, field, "ALL", odb_String(""));
    if (offerSetsToo) offerAllSets(offer, odb);
  }
}
