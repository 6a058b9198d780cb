// Scratch folders for the end-to-end runs.
#include "database.h"

#include <sys/stat.h>

#include <cstdint>

#include "odb/odb_writer.h"

namespace e2e {

void writeDatabase(const std::string& path, int formatVersion) {
  odbw::Options options;
  options.formatVersion = formatVersion;
  odbw::Writer w(path, options);
  w.addPart("PART-1");
  w.addInstance("PART-1-1", "PART-1");
  const int nodes[] = {1, 2};
  const double coordinates[] = {0, 0, 0, 1, 0, 0};
  w.setInstanceNodes("PART-1-1", nodes, coordinates);
  const int elements[] = {1};
  const std::int64_t offsets[] = {0, 2};
  w.setInstanceElements("PART-1-1", elements, offsets, nodes);
  w.addAssemblySet(odbw::SetKind::Element, "ESET", {{"PART-1-1", {1}}});
  odbw::StepInfo step;
  step.mass = 12.5;
  step.massCenter = std::vector<double>{1, 0.25, 0};
  w.addStep("Step-1", step);
  w.addHistoryRegion("Step-1", "Node PART-1-1.1");
  const float history[] = {0.0f, 0.0f, 1.0f, 0.5f};
  w.addHistoryOutput("Step-1", "Node PART-1-1.1", "U1", {}, history, 2);
  w.close();
}

void populate(const testsupport::TempDir& dir) {
  writeDatabase(dir.file("db.odb"), 2);
  writeDatabase(dir.file("other.odb"), 2);
  writeDatabase(dir.file("old.odb"), 1);
  testsupport::writeFile(dir.file("cfg.txt"), "ODB EXTRACTIONS\nEXTRACT_MASS\n");
  testsupport::writeFile(dir.file("bad.odb"), "this is not a database\n");
  mkdir(dir.file("cfgdir").c_str(), 0755);
  mkdir(dir.file("folder.odb").c_str(), 0755);
}

std::optional<std::string> fileIn(const testsupport::TempDir& dir, const std::string& name) {
  if (!testsupport::exists(dir.file(name))) return std::nullopt;
  return testsupport::readFile(dir.file(name));
}

testsupport::RunResult runIn(const testsupport::TempDir& dir, const std::string& program,
                             const std::vector<std::string>& args) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::run(argv, dir.path());
}

}  // namespace e2e
