// odbinfo DB: prints the model, steps, frames, field outputs with their
// blocks, and history of a database, as the reader sees them. odbinfo --check
// DB reads every array, value, derived quantity, subset and history row
// instead. A database the reader refuses gives "odbinfo: <message>" on
// standard error and status 1, and so does a listing that could not be
// written whole.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <climits>
#include <string>

#include "odb/odb.h"
#include "odb/vocabulary.h"
#include "read_all.h"
#include "tool_cli.h"

namespace {

void printDoubles(std::ostream& os, const odb_SequenceDouble& s) {
  os << "(";
  for (int i = 0; i < s.size(); ++i) os << (i ? ", " : "") << s[i];
  os << ")";
}

void printSets(std::ostream& os, const odb_DiscreteEntity& e, const std::string& indent) {
  for (const odb_SetRepository* repo : {&e.elementSets(true), &e.nodeSets(true)}) {
    for (int i = 0; i < repo->size(); ++i) {
      const odb_Set& s = repo->valueAt(i);
      os << indent << (s.type() == odb_Enum::ELEMENT_SET ? "element set " : "node set ") << s.name()
         << (s.isInternal() ? " (internal)" : "") << ":";
      const odb_SequenceString instances = s.instanceNames();
      if (instances.size() == 0) os << " " << s.labels("").size() << " members";
      for (const odb_String& inst : instances) os << " " << inst << " " << s.labels(inst).size();
      os << "\n";
    }
  }
}

void printModel(std::ostream& os, const odb_Odb& odb) {
  for (int i = 0; i < odb.parts().size(); ++i) {
    os << "part " << odb.parts().keyAt(i) << "\n";
    printSets(os, odb.parts().valueAt(i), "  ");
  }
  const odb_Assembly& a = odb.rootAssembly();
  os << "assembly " << a.name() << "\n";
  for (int i = 0; i < a.instances().size(); ++i) {
    const odb_Instance& inst = a.instances().valueAt(i);
    os << "  instance " << a.instances().keyAt(i) << " (part " << inst.partName() << "): " << inst.nodeCount()
       << " nodes, " << inst.elementCount() << " elements\n";
    printSets(os, inst, "    ");
  }
  printSets(os, a, "  ");
}

void printField(std::ostream& os, const odb_String& name, const odb_FieldOutput& f) {
  os << "    field " << name << " " << odb_vocab::typeName(f.type()) << " \"" << f.description() << "\""
     << (f.isComplex() ? " complex" : "") << "\n      components:";
  for (const odb_String& l : f.componentLabels()) os << " " << l;
  os << "\n      invariants:";
  for (odb_Enum::odb_InvariantEnum k : f.validInvariants()) os << " " << static_cast<int>(k);
  os << "\n";
  const odb_SequenceFieldBulkData& blocks = f.bulkDataBlocks();
  for (int j = 0; j < blocks.size(); ++j) {
    const odb_FieldBulkData& b = blocks[j];
    os << "      block " << j << ": instance " << b.instanceName() << ", " << odb_vocab::positionName(b.position())
       << ", float" << (b.precision() ? 64 : 32) << ", " << b.length() << " x " << b.width() << ", "
       << b.numberOfElements() << " elements, section point " << b.sectionPoint() << "\n";
  }
}

void printStep(std::ostream& os, const odb_Step& step) {
  os << "step " << step.name() << " \"" << step.description() << "\": mass " << step.mass() << ", centre ";
  printDoubles(os, step.massCenter());
  os << ", inertia about centre ";
  printDoubles(os, step.inertiaAboutCenter());
  os << ", about origin ";
  printDoubles(os, step.inertiaAboutOrigin());
  os << "\n";
  const odb_HistoryRegionRepository& regions = step.historyRegions();
  for (int i = 0; i < regions.size(); ++i) {
    const odb_HistoryRegion& r = regions.valueAt(i);
    const odb_HistoryPoint p = r.historyPoint();
    os << "  history region " << r.name() << " \"" << r.description() << "\": node " << p.node().label()
       << ", element " << p.element().label() << ", ip " << p.ipNumber() << ", section point "
       << p.sectionPoint().number() << ", region \"" << p.region().name() << "\", instance \"" << p.instanceName()
       << "\"\n";
    const odb_HistoryOutputRepository& outputs = r.historyOutputs();
    for (int k = 0; k < outputs.size(); ++k)
      os << "    output " << outputs.keyAt(k) << " type " << outputs.valueAt(k).type() << ": "
         << outputs.valueAt(k).data().size() << " rows\n";
  }
  for (int i = 0; i < step.frames().size(); ++i) {
    const odb_Frame& fr = step.frames()[i];
    os << "  frame " << i << ": increment " << fr.incrementNumber() << ", value " << fr.frameValue() << ", \""
       << fr.description() << "\"\n";
    const odb_FieldOutputRepository fields = fr.fieldOutputs();
    for (int k = 0; k < fields.size(); ++k) printField(os, fields.keyAt(k), fields.valueAt(k));
  }
}

int run(const std::string& path) {
  const odb_Odb& odb = openOdb(path, true, true);
  std::cout << "database " << odb.name() << " \"" << odb.description() << "\"\n";
  printModel(std::cout, odb);
  for (int i = 0; i < odb.steps().size(); ++i) printStep(std::cout, odb.steps().valueAt(i));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Lists what a result database holds, as the reader sees it.", "odbinfo");
  std::string path;
  bool check = false;
  app.add_option("DATABASE", path, "the database to list")->required();
  app.add_flag("--check", check, "read every array, value, subset and history row instead of listing");
  if (const auto status = tool_cli::parse(app, "odbinfo", argc, argv)) return *status;
  int status = 1;
  try {
    if (check) {
      readEverything(openOdb(path, true, true), INT_MAX);
      std::cout << path << ": every object reads\n";
      status = 0;
    } else {
      status = run(path);
    }
  } catch (const nex_Exception& e) {
    std::cout.flush();
    std::cerr << "odbinfo: " << e.message() << "\n";
  }
  // A listing cut short by a full disk must not pass for a whole one.
  errno = 0;
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::cerr << "odbinfo: standard output: " << std::strerror(errno ? errno : EIO) << "\n";
    status = 1;
  }
  odb_finalizeAPI();
  return status;
}
