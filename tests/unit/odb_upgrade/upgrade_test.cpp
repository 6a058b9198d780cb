// isUpgradeRequiredForOdb and upgradeOdb: which files need it, what the copy
// holds, and that the source is never touched and no partial copy is left.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>
#include <vector>

#include "inspect.h"
#include "odb/odb_writer.h"

namespace {

// A small database with a field output and two history outputs, one float32, one float64.
void writeDb(const std::string& path, int formatVersion) {
  odbw::Writer w(path, {.formatVersion = formatVersion});
  w.addPart("P");
  w.addInstance("P-1", "P");
  w.setInstanceNodes("P-1", std::vector<int>{1, 2});
  w.addStep("Step-1", {.mass = 3.0});
  w.addFrame("Step-1");
  w.addFieldOutput("Step-1", 0, "NT11", {});
  w.addBlock("Step-1", 0, "NT11", {.instance = "P-1", .nodeLabels = {1, 2}}, std::vector<float>{20, 25}, 1);
  w.addHistoryRegion("Step-1", "Node P-1.2", {.node = 2});
  w.addHistoryOutput("Step-1", "Node P-1.2", "U2", {"Spatial displacement: U2", 2},
                     std::vector<float>{0, 0, 0.5f, -1, 1, -2}, 2);
  w.addHistoryRegion("Step-1", "Assembly ASSEMBLY");
  w.addHistoryOutput("Step-1", "Assembly ASSEMBLY", "ALLIE", {}, std::vector<double>{0, 0, 1, 7.25}, 2);
  w.close();
}

TEST(Upgrade, WhichFilesNeedIt) {
  testsupport::TempDir dir;
  for (const char* f : {"v1.odb", "v2.odb", "v3.odb", "other.h5"}) writeDb(dir.file(f), f[1] == '1' ? 1 : 2);
  odbw::edit::setIntAttribute(dir.file("v3.odb"), "/", "format_version", 3);
  odbw::edit::setStringAttribute(dir.file("other.h5"), "/", "format", "something else");
  testsupport::writeFile(dir.file("text.odb"), "not a database\n");
  const std::pair<const char*, std::string> cases[] = {  // "true", "false" or the message after "<file>: "
      {"v1.odb", "true"},
      {"v2.odb", "false"},
      {"v3.odb", "false"},  // openOdb reports the newer version
      {"other.h5", "/: file is not an output database"},
      {"text.odb", "/: file is not an hdf5 file"},
      {"missing.odb", "/: file does not exist"},
  };
  for (const auto& [file, result] : cases) {
    const std::string path = dir.file(file);
    std::string got;
    try {
      got = isUpgradeRequiredForOdb(path) ? "true" : "false";
    } catch (const odb_Exception& e) {
      got = e.what();
    }
    EXPECT_EQ(got, result[0] == '/' ? path + ": " + result : result) << file;
  }
}

// The copy differs from the source only in the version and the history layout; the reader refuses
// the source and reads the copy.
TEST(Upgrade, CopyConvertsHistoryAndKeepsEverythingElse) {
  testsupport::TempDir dir;
  const std::string source = dir.file("v1.odb");
  writeDb(source, 1);
  const std::string before = testsupport::readFile(source);
  upgradeOdb(source, dir.file("up"));
  EXPECT_EQ(testsupport::readFile(source), before) << "the source must not change";
  EXPECT_FALSE(isUpgradeRequiredForOdb(dir.file("up.odb")));
  std::string expected = inspectH5("v1.odb", dir.path());
  for (const auto& [from, to] : std::initializer_list<std::pair<std::string, std::string>>{
           {"@format_version i4 = 1", "@format_version i4 = 2"},
           {"time f4 [3] chunks=[3] fletcher32=True = [0.0 0.5 1.0]\n"
            "              value f4 [3] chunks=[3] fletcher32=True = [0.0 -1.0 -2.0]\n",
            "data f4 [3, 2] chunks=[3, 2] fletcher32=True = [0.0 0.0 0.5 -1.0 1.0 -2.0]\n"},
           {"time f8 [2] chunks=[2] fletcher32=True = [0.0 1.0]\n"
            "              value f8 [2] chunks=[2] fletcher32=True = [0.0 7.25]\n",
            "data f8 [2, 2] chunks=[2, 2] fletcher32=True = [0.0 0.0 1.0 7.25]\n"}}) {
    ASSERT_NE(expected.find(from), std::string::npos) << from;
    expected.replace(expected.find(from), from.size(), to);
  }
  EXPECT_EQ(inspectH5("up.odb", dir.path()), expected);

  odb_initializeAPI();
  EXPECT_EQ(messageOf([&] { openOdb(source); }), source + ": /: database needs upgrading (format_version 1)");
  odb_Odb& odb = openOdb(dir.file("up.odb"));
  const odb_SequenceSequenceFloat rows =
      odb.steps()["Step-1"].historyRegions()["Node P-1.2"].historyOutputs()["U2"].data();
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[1][0], 0.5f);
  EXPECT_EQ(rows[2][1], -2.0f);
  odb.close();
  odb_finalizeAPI();
}

// A bare name goes to the working directory and replaces an old copy; mixed precision keeps the wider type.
TEST(Upgrade, BareNameAndMixedPrecision) {
  testsupport::TempDir dir;
  writeDb(dir.file("v1.odb"), 1);
  const std::string output = "/steps/Step-1/historyRegions/Node P-1.2/historyOutputs/U2";
  odbw::edit::writeDoubleDataset(dir.file("v1.odb"), output + "/value", std::vector<double>{0.125, 0.25, 0.5}, {3});
  testsupport::writeFile(dir.file("upgradedOdb.odb"), "stale");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string message = messageOf([] { upgradeOdb("v1.odb", "upgradedOdb"); });
  std::filesystem::current_path(cwd);
  EXPECT_EQ(message, "(no exception)");
  EXPECT_EQ(lineWith(inspectH5("upgradedOdb.odb", dir.path()), "data f8 [3, 2]"),
            "data f8 [3, 2] chunks=[3, 2] fletcher32=True = [0.0 0.125 0.5 0.25 1.0 0.5]");
  EXPECT_FALSE(testsupport::exists(dir.file("upgradedOdb.odb.upgrading")));
}

// A failed upgrade leaves the source as it was and no copy, finished or partial.
TEST(Upgrade, FailureLeavesNoCopy) {
  const std::string output = "/steps/Step-1/historyRegions/Node P-1.2/historyOutputs/U2";
  const std::tuple<std::function<void(const std::string&)>, const char*, std::string> cases[] = {
      {[&](auto& f) { odbw::edit::writeFloatDataset(f, output + "/value", std::vector<float>{1, 2}, {2}); }, "up",
       output + ": time has 3 entries, value has 2"},
      {[&](auto& f) { odbw::edit::removeLink(f, output + "/value"); }, "up", output + ": value is missing"},
      {[](auto& f) { odbw::edit::setIntAttribute(f, "/", "format_version", 9); }, "up",
       "/: was written by a newer version (format_version 9)"},
      {[](auto&) {}, "v1", "/: cannot upgrade into {}, it is the database itself"},
  };
  for (const auto& [damage, target, message] : cases) {
    SCOPED_TRACE(message);
    testsupport::TempDir dir;
    const std::string source = dir.file("v1.odb");
    writeDb(source, 1);
    damage(source);
    const std::string before = testsupport::readFile(source);
    std::string expect = source + ": " + message;
    if (expect.find("{}") != std::string::npos) expect.replace(expect.find("{}"), 2, source);
    EXPECT_EQ(messageOf([&] { upgradeOdb(source, dir.file(target)); }), expect);
    EXPECT_FALSE(testsupport::exists(dir.file("up.odb")));
    EXPECT_FALSE(testsupport::exists(dir.file(std::string(target) + ".odb.upgrading")));
    EXPECT_EQ(testsupport::readFile(source), before);
  }
}

}  // namespace
