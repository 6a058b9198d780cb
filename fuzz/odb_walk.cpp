// The full read of a database used by fuzz_odb_struct.
#include "odb_walk.h"

#include <algorithm>
#include <vector>

namespace fuzzwalk {

namespace {

struct Walker {
  int maxValues = 0;
  double sum = 0;
  std::vector<odb_Set> sets;  // every set seen, for the subsets

  void add(double v) { sum += v == v ? v : 1.0; }  // NaN counts as 1: the sum stays comparable
  void add(const odb_String& s) { sum += s.length(); }

  void sets_(const odb_DiscreteEntity& entity) {
    for (const bool internal : {false, true}) {
      for (const odb_SetRepository* r : {&entity.elementSets(internal), &entity.nodeSets(internal)}) {
        for (odb_SetRepositoryIterator it(*r); !it.isDone(); it.next()) {
          const odb_Set& set = it.currentValue();
          add(it.currentKey());
          add(set.name());
          add(set.type() + set.isInternal());
          for (const odb_String& instance : set.instanceNames())
            for (const int label : set.labels(instance)) add(label);
          if (internal) sets.push_back(set);
        }
      }
    }
  }

  void model(const odb_Odb& odb) {
    add(odb.name());
    add(odb.description());
    const odb_Assembly& assembly = odb.rootAssembly();
    add(assembly.name());
    sets_(assembly);
    for (odb_InstanceRepositoryIterator it(assembly.instances()); !it.isDone(); it.next()) {
      const odb_Instance& instance = it.currentValue();
      add(instance.partName());
      add(instance.nodeCount() + instance.elementCount());
      for (const odb_Node& n : instance.nodes()) add(n.label() + n.coordinates()[0] + n.coordinates()[2]);
      for (const odb_Element& e : instance.elements()) {
        add(e.label());
        for (const int node : e.connectivity()) add(node);
      }
      sets_(instance);
    }
    for (odb_PartRepositoryIterator it(odb.parts()); !it.isDone(); it.next()) sets_(it.currentValue());
  }

  void block(const odb_FieldBulkData& b) {
    add(b.type() + b.precision() + b.position() + b.sectionPoint() + b.numberOfElements());
    add(b.instanceName());
    for (const odb_String& label : b.componentLabels()) add(label);
    const long long n = b.length(), width = b.width();
    const float* f = b.data();
    const double* d = b.dataDouble();
    const float* mises = b.mises();
    for (long long i = 0; i < n * width; ++i) add(f[i] + d[i]);
    for (const int* labels : {b.elementLabels(), b.nodeLabels(), b.integrationPoints()})
      for (long long i = 0; labels && i < n; ++i) add(labels[i]);
    for (long long i = 0; i < n; ++i) add(mises[i]);
  }

  void value(const odb_FieldValue& v) {
    add(v.instanceName());
    add(v.position() + v.elementLabel() + v.nodeLabel() + v.integrationPoint() + v.sectionPoint() + v.type() +
        v.precision());
    for (const float x : v.data()) add(x);
    for (const double x : v.dataDouble()) add(x);
    add(v.magnitude() + v.mises() + v.tresca() + v.press() + v.inv3());
    add(v.maxPrincipal() + v.midPrincipal() + v.minPrincipal());
    add(v.maxInPlanePrincipal() + v.minInPlanePrincipal() + v.outOfPlanePrincipal());
  }

  void field(const odb_FieldOutput& f, bool subsets) {
    add(f.name());
    add(f.description());
    add(f.type() + f.isComplex());
    for (const odb_String& label : f.componentLabels()) add(label);
    for (const auto invariant : f.validInvariants()) add(invariant);
    for (const odb_FieldBulkData& b : f.bulkDataBlocks()) block(b);
    const odb_SequenceFieldValue& values = f.values();
    for (int i = 0; i < std::min(values.size(), maxValues); ++i) value(values.constGet(i));
    if (!subsets) return;
    for (const odb_Set& set : sets) field(f.getSubset(set), false);
  }

  void history(const odb_HistoryRegion& region) {
    add(region.name());
    add(region.description());
    const odb_HistoryPoint point = region.historyPoint();
    add(point.node().label() + point.element().label() + point.ipNumber() + point.sectionPoint().number());
    add(point.region().name());
    add(point.instanceName());
    for (odb_HistoryOutputRepositoryIterator it(region.historyOutputs()); !it.isDone(); it.next()) {
      const odb_HistoryOutput& out = it.currentValue();
      add(out.name());
      add(out.description());
      add(out.type());
      for (const odb_SequenceFloat& row : out.data())
        for (const float x : row) add(x);
    }
  }

  void steps(const odb_Odb& odb) {
    for (odb_StepRepositoryIterator it(odb.steps()); !it.isDone(); it.next()) {
      const odb_Step& step = it.currentValue();
      add(step.name());
      add(step.description());
      add(step.mass());
      for (const odb_SequenceDouble* s : {&step.massCenter(), &step.inertiaAboutCenter(), &step.inertiaAboutOrigin()})
        for (const double x : *s) add(x);
      for (odb_HistoryRegionRepositoryIterator h(step.historyRegions()); !h.isDone(); h.next())
        history(h.currentValue());
      for (const odb_Frame& frame : step.frames()) {
        add(frame.frameId() + frame.incrementNumber() + frame.frameValue());
        add(frame.description());
        const odb_FieldOutputRepository outputs = frame.fieldOutputs();
        for (odb_FieldOutputRepositoryIterator f(outputs); !f.isDone(); f.next()) field(f.currentValue(), true);
      }
    }
  }
};

}  // namespace

double walkOdb(const odb_Odb& odb, int maxValues) {
  Walker w;
  w.maxValues = maxValues;
  w.model(odb);
  w.steps(odb);
  return w.sum;
}

}  // namespace fuzzwalk
