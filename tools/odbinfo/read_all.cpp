// Reads every object of an open database as a program that uses it would:
// model, sets, steps, frames, every field output's blocks, values (up to a
// limit per field output) with their derived quantities, its subsets on every
// internal set, and every history row. What is read is summed, so that no read
// can be left out by the compiler.
#include "read_all.h"

#include <algorithm>
#include <vector>

namespace {

struct Walker {
  int maxValues = 0;
  double sum = 0;
  std::vector<odb_Set> sets{};  // the internal sets, for the subsets

  void one(double v) { sum += v == v ? v : 1.0; }  // NaN counts as 1: the sum stays comparable
  void one(const odb_String& s) { sum += s.length(); }
  void add(const auto&... xs) { (one(xs), ...); }
  void addAll(const auto& seq) {
    for (const auto& x : seq) one(x);
  }

  void sets_(const odb_DiscreteEntity& entity) {
    for (const bool internal : {false, true})
      for (const odb_SetRepository* r : {&entity.elementSets(internal), &entity.nodeSets(internal)})
        for (odb_SetRepositoryIterator it(*r); !it.isDone(); it.next()) {
          const odb_Set& set = it.currentValue();
          add(it.currentKey(), set.name(), set.type() + set.isInternal());
          for (const odb_String& instance : set.instanceNames()) addAll(set.labels(instance));
          if (internal) sets.push_back(set);
        }
  }

  void model(const odb_Odb& odb) {
    const odb_Assembly& assembly = odb.rootAssembly();
    add(odb.name(), odb.description(), assembly.name());
    sets_(assembly);
    for (odb_InstanceRepositoryIterator it(assembly.instances()); !it.isDone(); it.next()) {
      const odb_Instance& instance = it.currentValue();
      add(instance.partName(), instance.nodeCount() + instance.elementCount());
      for (const odb_Node& n : instance.nodes()) add(n.label() + n.coordinates()[0] + n.coordinates()[2]);
      for (const odb_Element& e : instance.elements()) add(e.label()), addAll(e.connectivity());
      sets_(instance);
    }
    for (odb_PartRepositoryIterator it(odb.parts()); !it.isDone(); it.next()) sets_(it.currentValue());
  }

  void block(const odb_FieldBulkData& b) {
    add(b.type() + b.precision() + b.position() + b.sectionPoint() + b.numberOfElements(), b.instanceName());
    addAll(b.componentLabels());
    const long long n = b.length(), width = b.width();
    const float *f = b.data(), *mises = b.mises();
    const double* d = b.dataDouble();
    for (long long i = 0; i < n * width; ++i) add(f[i] + d[i]);
    for (const int* labels : {b.elementLabels(), b.nodeLabels(), b.integrationPoints()})
      for (long long i = 0; labels && i < n; ++i) add(labels[i]);
    for (long long i = 0; i < n; ++i) add(mises[i]);
  }

  void value(const odb_FieldValue& v) {
    add(v.instanceName(),
        v.position() + v.elementLabel() + v.nodeLabel() + v.integrationPoint() + v.sectionPoint() + v.type());
    addAll(v.data());
    addAll(v.dataDouble());
    add(v.precision() + v.magnitude() + v.mises() + v.tresca() + v.press() + v.inv3(), v.outOfPlanePrincipal(),
        v.maxPrincipal() + v.midPrincipal() + v.minPrincipal() + v.maxInPlanePrincipal() + v.minInPlanePrincipal());
  }

  void field(const odb_FieldOutput& f, bool subsets) {
    add(f.name(), f.description(), f.type() + f.isComplex());
    addAll(f.componentLabels());
    addAll(f.validInvariants());
    for (const odb_FieldBulkData& b : f.bulkDataBlocks()) block(b);
    const odb_SequenceFieldValue& values = f.values();
    for (int i = 0; i < std::min(values.size(), maxValues); ++i) value(values.constGet(i));
    for (std::size_t i = 0; subsets && i < sets.size(); ++i) field(f.getSubset(sets[i]), false);
  }

  void history(const odb_HistoryRegion& region) {
    add(region.name(), region.description());
    const odb_HistoryPoint point = region.historyPoint();
    add(point.node().label() + point.element().label() + point.ipNumber() + point.sectionPoint().number(),
        point.region().name(), point.instanceName());
    for (odb_HistoryOutputRepositoryIterator it(region.historyOutputs()); !it.isDone(); it.next()) {
      const odb_HistoryOutput& out = it.currentValue();
      add(out.name(), out.description(), out.type());
      for (const odb_SequenceFloat& row : out.data()) addAll(row);
    }
  }

  void steps(const odb_Odb& odb) {
    for (odb_StepRepositoryIterator it(odb.steps()); !it.isDone(); it.next()) {
      const odb_Step& step = it.currentValue();
      add(step.name(), step.description(), step.mass());
      for (const odb_SequenceDouble* s : {&step.massCenter(), &step.inertiaAboutCenter(), &step.inertiaAboutOrigin()})
        addAll(*s);
      for (odb_HistoryRegionRepositoryIterator h(step.historyRegions()); !h.isDone(); h.next())
        history(h.currentValue());
      for (const odb_Frame& frame : step.frames()) {
        add(frame.frameId() + frame.incrementNumber() + frame.frameValue(), frame.description());
        const odb_FieldOutputRepository outputs = frame.fieldOutputs();
        for (odb_FieldOutputRepositoryIterator f(outputs); !f.isDone(); f.next()) field(f.currentValue(), true);
      }
    }
  }
};

}  // namespace

double readEverything(const odb_Odb& odb, int maxValues) {
  Walker walker{.maxValues = maxValues};
  walker.model(odb);
  walker.steps(odb);
  return walker.sum;
}
