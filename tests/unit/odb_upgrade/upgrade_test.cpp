// isUpgradeRequiredForOdb and upgradeOdb: which files need it, what the copy
// holds, and that the source is never touched and no partial copy is left.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "inspect.h"
#include "odb/odb.h"
#include "odb/odb_writer.h"

namespace {

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const odb_Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// A small database with a field output and two history outputs, one float32, one float64.
void writeDb(const std::string& path, int formatVersion) {
  odbw::Options options;
  options.formatVersion = formatVersion;
  odbw::Writer w(path, options);
  w.addPart("P");
  w.addInstance("P-1", "P");
  w.setInstanceNodes("P-1", std::vector<int>{1, 2});
  odbw::StepInfo info;
  info.mass = 3.0;
  w.addStep("Step-1", info);
  w.addFrame("Step-1");
  odbw::FieldInfo temp;
  w.addFieldOutput("Step-1", 0, "NT11", temp);
  odbw::BlockInfo b;
  b.instance = "P-1";
  b.nodeLabels = {1, 2};
  w.addBlock("Step-1", 0, "NT11", b, std::vector<float>{20, 25}, 1);
  odbw::HistoryRegionInfo region;
  region.node = 2;
  w.addHistoryRegion("Step-1", "Node P-1.2", region);
  w.addHistoryOutput("Step-1", "Node P-1.2", "U2", {"Spatial displacement: U2", 2},
                     std::vector<float>{0, 0, 0.5f, -1, 1, -2}, 2);
  w.addHistoryRegion("Step-1", "Assembly ASSEMBLY");
  w.addHistoryOutput("Step-1", "Assembly ASSEMBLY", "ALLIE", {}, std::vector<double>{0, 0, 1, 7.25}, 2);
  w.close();
}

// Replaces the first occurrence of `from` in text by `to`; fails the test when absent.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(Upgrade, WhichFilesNeedIt) {
  testsupport::TempDir dir;
  writeDb(dir.file("v1.odb"), 1);
  writeDb(dir.file("v2.odb"), 2);
  writeDb(dir.file("v3.odb"), 2);
  odbw::edit::setIntAttribute(dir.file("v3.odb"), "/", "format_version", 3);
  writeDb(dir.file("other.h5"), 2);
  odbw::edit::setStringAttribute(dir.file("other.h5"), "/", "format", "something else");
  testsupport::writeFile(dir.file("text.odb"), "not a database\n");
  struct Case {
    const char* file;
    const char* result;  // "true", "false" or the message after "<file>: "
  };
  const Case cases[] = {
      {"v1.odb", "true"},
      {"v2.odb", "false"},
      {"v3.odb", "false"},  // openOdb reports the newer version
      {"other.h5", "/: file is not an output database"},
      {"text.odb", "/: file is not an hdf5 file"},
      {"missing.odb", "/: file does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir.file(c.file);
    std::string result;
    try {
      result = isUpgradeRequiredForOdb(path) ? "true" : "false";
    } catch (const odb_Exception& e) {
      result = e.what();
      EXPECT_EQ(result.substr(0, path.size() + 2), path + ": ");
      result = result.substr(std::min(result.size(), path.size() + 2));
    }
    EXPECT_EQ(result, c.result);
  }
}

TEST(Upgrade, CopyConvertsHistoryAndKeepsEverythingElse) {
  testsupport::TempDir dir;
  const std::string source = dir.file("v1.odb");
  writeDb(source, 1);
  const std::string before = testsupport::readFile(source);
  upgradeOdb(source, dir.file("up"));
  EXPECT_EQ(testsupport::readFile(source), before) << "the source must not change";
  EXPECT_FALSE(isUpgradeRequiredForOdb(dir.file("up.odb")));

  std::string expected = inspectH5("v1.odb", dir.path());
  expected = replaced(expected, "@format_version i4 = 1", "@format_version i4 = 2");
  expected = replaced(expected,
                      "time f4 [3] chunks=[3] fletcher32=True = [0.0 0.5 1.0]\n"
                      "              value f4 [3] chunks=[3] fletcher32=True = [0.0 -1.0 -2.0]\n",
                      "data f4 [3, 2] chunks=[3, 2] fletcher32=True = [0.0 0.0 0.5 -1.0 1.0 -2.0]\n");
  expected = replaced(expected,
                      "time f8 [2] chunks=[2] fletcher32=True = [0.0 1.0]\n"
                      "              value f8 [2] chunks=[2] fletcher32=True = [0.0 7.25]\n",
                      "data f8 [2, 2] chunks=[2, 2] fletcher32=True = [0.0 0.0 1.0 7.25]\n");
  EXPECT_EQ(inspectH5("up.odb", dir.path()), expected);
}

TEST(Upgrade, MixedPrecisionKeepsTheWiderType) {
  testsupport::TempDir dir;
  const std::string source = dir.file("v1.odb");
  writeDb(source, 1);
  const std::string output = "/steps/Step-1/historyRegions/Node P-1.2/historyOutputs/U2";
  odbw::edit::writeDoubleDataset(source, output + "/value", std::vector<double>{0.125, 0.25, 0.5}, {3});
  upgradeOdb(source, dir.file("up"));
  EXPECT_EQ(lineWith(inspectH5("up.odb", dir.path()), "data f8 [3, 2]"),
            "data f8 [3, 2] chunks=[3, 2] fletcher32=True = [0.0 0.125 0.5 0.25 1.0 0.5]");
}

TEST(Upgrade, BareNameGoesToTheWorkingDirectoryAndReplacesOldCopy) {
  testsupport::TempDir dir;
  writeDb(dir.file("v1.odb"), 1);
  testsupport::writeFile(dir.file("upgradedOdb.odb"), "stale");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string message = messageOf([] { upgradeOdb("v1.odb", "upgradedOdb"); });
  std::filesystem::current_path(cwd);
  EXPECT_EQ(message, "(no exception)");
  EXPECT_NE(inspectH5("upgradedOdb.odb", dir.path()).find("@format_version i4 = 2"), std::string::npos);
  EXPECT_FALSE(testsupport::exists(dir.file("upgradedOdb.odb.upgrading")));
}

TEST(Upgrade, FailureLeavesNoCopy) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    const char* message;  // after "<source>: "
  };
  const std::string output = "/steps/Step-1/historyRegions/Node P-1.2/historyOutputs/U2";
  const Case cases[] = {
      {"time and value differ in length",
       [&](const std::string& f) {
         odbw::edit::writeFloatDataset(f, output + "/value", std::vector<float>{1, 2}, {2});
       },
       "/steps/Step-1/historyRegions/Node P-1.2/historyOutputs/U2: time has 3 entries, value has 2"},
      {"value missing", [&](const std::string& f) { odbw::edit::removeLink(f, output + "/value"); },
       "/steps/Step-1/historyRegions/Node P-1.2/historyOutputs/U2: value is missing"},
      {"newer version", [](const std::string& f) { odbw::edit::setIntAttribute(f, "/", "format_version", 9); },
       "/: was written by a newer version (format_version 9)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string source = dir.file("v1.odb");
    writeDb(source, 1);
    c.damage(source);
    const std::string before = testsupport::readFile(source);
    EXPECT_EQ(messageOf([&] { upgradeOdb(source, dir.file("up")); }), source + ": " + c.message);
    EXPECT_FALSE(testsupport::exists(dir.file("up.odb")));
    EXPECT_FALSE(testsupport::exists(dir.file("up.odb.upgrading")));
    EXPECT_EQ(testsupport::readFile(source), before);
  }
}

TEST(Upgrade, RefusesToOverwriteTheSource) {
  testsupport::TempDir dir;
  const std::string source = dir.file("same.odb");
  writeDb(source, 1);
  const std::string before = testsupport::readFile(source);
  EXPECT_EQ(messageOf([&] { upgradeOdb(source, dir.file("same")); }),
            source + ": /: cannot upgrade into " + source + ", it is the database itself");
  EXPECT_EQ(testsupport::readFile(source), before);
}

// Through the reader: a format-1 file is refused, its upgraded copy reads back.
TEST(Upgrade, ReaderRefusesFormatOneAndReadsTheCopy) {
  testsupport::TempDir dir;
  const std::string source = dir.file("v1.odb");
  writeDb(source, 1);
  odb_initializeAPI();
  EXPECT_EQ(messageOf([&] { openOdb(source); }), source + ": /: database needs upgrading (format_version 1)");
  upgradeOdb(source, dir.file("up"));
  odb_Odb& odb = openOdb(dir.file("up.odb"));
  const odb_Step& step = odb.steps()[odb_String("Step-1")];
  EXPECT_EQ(step.mass(), 3.0);
  const odb_HistoryRegion& region = step.historyRegions()[odb_String("Node P-1.2")];
  EXPECT_EQ(region.historyPoint().node().label(), 2);
  const odb_SequenceSequenceFloat rows = region.historyOutputs()[odb_String("U2")].data();
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[1][0], 0.5f);
  EXPECT_EQ(rows[2][1], -2.0f);
  odb.close();
  odb_finalizeAPI();
}

}  // namespace
