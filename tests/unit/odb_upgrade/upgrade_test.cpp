// isUpgradeRequiredForOdb and upgradeOdb on the sample written as format 1:
// which files need it, what the copy holds, and that the source is never
// touched and no partial copy is left.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>
#include <vector>

#include "odb_edit.h"
#include "sample_db.h"
#include "test_support.h"

namespace {

const std::string U1 = "/steps/Step-1/historyRegions/Node I1.1/historyOutputs/U1",
                  ALLIE = "/steps/Step-1/historyRegions/Assembly/historyOutputs/ALLIE";

void writeV1(const std::string& path) { sample::writeSample(path, 0, {.formatVersion = 1}); }

// Replaces the listing line `from` (without its indent) by `to`, or removes it when to is empty.
void replaceLine(std::string& listing, const std::string& from, const std::string& to) {
  const std::size_t at = listing.find(from + "\n");
  ASSERT_NE(at, std::string::npos) << from;
  if (to.empty()) listing.erase(listing.rfind('\n', at) + 1, at + from.size() + 1 - (listing.rfind('\n', at) + 1));
  else listing.replace(at, from.size(), to);
}

TEST(Upgrade, WhichFilesNeedIt) {
  testsupport::TempDir dir;
  writeV1(dir.file("v1.odb"));
  for (const char* f : {"v2.odb", "v3.odb"}) sample::writeSample(dir.file(f), 0);
  odbw::edit::setIntAttribute(dir.file("v3.odb"), "/", "format_version", 3);  // openOdb reports the newer version
  testsupport::writeFile(dir.file("text.odb"), "not a database\n");
  EXPECT_EQ(std::tuple(isUpgradeRequiredForOdb(dir.file("v1.odb")), isUpgradeRequiredForOdb(dir.file("v2.odb")),
                       isUpgradeRequiredForOdb(dir.file("v3.odb"))),
            std::tuple(true, false, false));
  // The reader's open checks throw as they do for openOdb.
  EXPECT_EQ(sample::messageOf([&] { isUpgradeRequiredForOdb(dir.file("text.odb")); }),
            dir.file("text.odb") + ": /: file is not an hdf5 file");
}

// The copy differs from the source only in the version and the history layout; the reader refuses
// the source and reads the copy. A bare name goes to the working directory and replaces an old copy.
TEST(Upgrade, CopyConvertsHistoryAndKeepsEverythingElse) {
  testsupport::TempDir dir;
  const std::string source = dir.file("v1.odb");
  writeV1(source);
  const std::string before = testsupport::readFile(source);
  upgradeOdb(source, dir.file("up"));
  EXPECT_EQ(testsupport::readFile(source), before) << "the source must not change";
  std::string expected = sample::inspectH5("v1.odb", dir.path());
  replaceLine(expected, "@format_version i4 = 1", "@format_version i4 = 2");
  replaceLine(expected, "time f8 [3] chunks=[3] fletcher32=True = [0.0 1.0 2.0]",
              "data f8 [3, 2] chunks=[3, 2] fletcher32=True = [0.0 0.0 1.0 2.0 2.0 4.0]");
  replaceLine(expected, "value f8 [3] chunks=[3] fletcher32=True = [0.0 2.0 4.0]", "");
  replaceLine(expected, "time f4 [2] chunks=[2] fletcher32=True = [0.0 1.0]",
              "data f4 [2, 2] chunks=[2, 2] fletcher32=True = [0.0 1.0 1.0 3.0]");
  replaceLine(expected, "value f4 [2] chunks=[2] fletcher32=True = [1.0 3.0]", "");
  EXPECT_EQ(sample::inspectH5("up.odb", dir.path()), expected);

  sample::Finalize finalize;
  EXPECT_EQ(sample::messageOf([&] { openOdb(source); }), source + ": /: database needs upgrading (format_version 1)");
  EXPECT_EQ(openOdb(dir.file("up.odb")).steps()["Step-1"].historyRegions()["Node I1.1"].historyOutputs()["U1"].data()[2][1],
            4.0f);

  // Mixed precision keeps the wider type.
  odbw::edit::writeDoubleDataset(source, ALLIE + "/value", std::vector<double>{0.125, 0.25}, {2});
  testsupport::writeFile(dir.file("upgradedOdb.odb"), "stale");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string message = sample::messageOf([] { upgradeOdb("v1.odb", "upgradedOdb"); });
  std::filesystem::current_path(cwd);
  EXPECT_EQ(message, "(no exception)");
  EXPECT_EQ(sample::lineWith(sample::inspectH5("upgradedOdb.odb", dir.path()), "data f8 [2, 2]"),
            "data f8 [2, 2] chunks=[2, 2] fletcher32=True = [0.0 0.125 1.0 0.25]");
}

// A failed upgrade leaves the source as it was and no copy, finished or partial.
TEST(Upgrade, FailureLeavesNoCopy) {
  const std::tuple<std::function<void(const std::string&)>, const char*, std::string> cases[] = {
      {[&](auto& f) { odbw::edit::writeFloatDataset(f, U1 + "/value", std::vector<float>{1, 2}, {2}); }, "up",
       U1 + ": time has 3 entries, value has 2"},
      {[&](auto& f) { odbw::edit::removeLink(f, U1 + "/value"); }, "up", U1 + ": value is missing"},
      {[](auto& f) { odbw::edit::setIntAttribute(f, "/", "format_version", 9); }, "up",
       "/: was written by a newer version (format_version 9)"},
      {[](auto&) {}, "v1", "/: cannot upgrade into {}, it is the database itself"},
  };
  for (const auto& [damage, target, message] : cases) {
    SCOPED_TRACE(message);
    testsupport::TempDir dir;
    const std::string source = dir.file("v1.odb");
    writeV1(source);
    damage(source);
    const std::string before = testsupport::readFile(source);
    std::string expect = source + ": " + message;
    if (expect.find("{}") != std::string::npos) expect.replace(expect.find("{}"), 2, source);
    EXPECT_EQ(sample::messageOf([&] { upgradeOdb(source, dir.file(target)); }), expect);
    EXPECT_FALSE(testsupport::exists(dir.file("up.odb")));
    EXPECT_EQ(testsupport::readFile(source), before);
  }
}

}  // namespace
