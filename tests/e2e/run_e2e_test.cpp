// The harvestodb program end to end: every command-line fault, the element set
// check, the upgrade, library failures, and the runtime start and stop.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "database.h"

namespace {

using e2e::kProgress;
using e2e::kReport;

const std::string kUsage =
    " Program to open an output database and extract output parameters\n"
    " from the database and write them to an ASCII file.\n"
    " Usage: veltra harvestodb -odb <odb_filename> \n"
    "                                 -config <config_filename> \n"
    "                                 -elset(optional) <elsetName> \n"
    " Requirements:\n"
    " 1. -odb   : Name of the output database.\n"
    " 2. -config: Name of the configuration file. \n"
    " 3. -elset : Name of the assembly level element set.\n"
    "             Search will be done only for element \n"
    "             belonging to this set.\n"
    "             If this parameter is not provided, search \n"
    "             will be performed over the entire model.\n"
    " 4. -help  : Print usage\n";

const std::string kNoDatabase = "**ERROR** output database name is not provided\n";
const std::string kNoConfig = "**ERROR** configuration file name is not provided\n";
const std::string kLibraryFailed = "ODB Application exited with error(s)\n";

std::string missingElset(const std::string& set, const std::string& db) {
  return "An assembly level elset " + set + " does not exist in the output database :" + db + "\n";
}

const std::vector<std::string> kGood = {"-odb", "db.odb", "-config", "cfg.txt"};

std::vector<std::string> good(std::vector<std::string> extra) {
  std::vector<std::string> args = kGood;
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

class HarvestRun : public testing::Test {
 protected:
  void SetUp() override { e2e::populate(dir_); }
  testsupport::RunResult run(const std::vector<std::string>& args) { return e2e::runIn(dir_, HARVESTODB_PATH, args); }
  std::optional<std::string> file(const std::string& name) { return e2e::fileIn(dir_, name); }

  testsupport::TempDir dir_;
};

struct Case {
  const char* name;
  std::vector<std::string> args;
  std::string out, err;
  int status;
  std::optional<std::string> params, done;  // nothing: the file must not exist
  bool upgraded;                            // upgradedOdb.odb is left behind
};

const std::optional<std::string> kAbsent;
const std::optional<std::string> kDone = "Done\n";

const Case kCases[] = {
    {"no arguments", {}, kUsage, kNoDatabase, 1, kAbsent, kAbsent, false},
    {"only -odb", {"-odb", "db.odb"}, kUsage, kNoConfig, 1, kAbsent, kAbsent, false},
    {"only -config", {"-config", "cfg.txt"}, kUsage, kNoDatabase, 1, kAbsent, kAbsent, false},
    {"missing database, then -help", {"-odb", "missing.odb", "-help"}, "",
     "**ERROR** output database  missing.odb does not exist\n\n", 1, kAbsent, kAbsent, false},
    {"-help, then missing database", {"-help", "-odb", "missing.odb"}, kUsage, "", 0, kAbsent, kAbsent, false},
    {"-help after a good command line", good({"-hurry"}), kUsage, "", 0, kAbsent, kAbsent, false},
    {"name completed before the test", {"-odb", "job", "-config", "cfg.txt"}, "",
     "**ERROR** output database  job.odb does not exist\n\n", 1, kAbsent, kAbsent, false},
    {"completed name found", {"-odb", "db", "-config", "cfg.txt"}, kProgress, "", 0, kReport, kDone, false},
    {"missing configuration", {"-odb", "db.odb", "-config", "nocfg.txt"}, "",
     "**ERROR** configuration file nocfg.txt does not exist\n\n", 1, kAbsent, kAbsent, false},
    {"configuration tested when met", {"-config", "nocfg.txt", "-odb", "missing.odb"}, "",
     "**ERROR** configuration file nocfg.txt does not exist\n\n", 1, kAbsent, kAbsent, false},
    {"complete run", kGood, kProgress, "", 0, kReport, kDone, false},
    {"unknown arguments ignored", {"-verbose", "-odb", "db.odb", "x", "-config", "cfg.txt", "--quiet"}, kProgress,
     "", 0, kReport, kDone, false},
    {"options known by two characters", {"-odbfile", "db.odb", "-conf", "cfg.txt"}, kProgress, "", 0, kReport,
     kDone, false},
    {"last -odb without value keeps the earlier one", good({"-odb"}), kProgress, "", 0, kReport, kDone, false},
    {"only -odb without value", {"-config", "cfg.txt", "-odb"}, kUsage, kNoDatabase, 1, kAbsent, kAbsent, false},
    {"only -config without value", {"-odb", "db.odb", "-config"}, kUsage, kNoConfig, 1, kAbsent, kAbsent, false},
    {"-elset without value", good({"-elset"}), kProgress, "", 0, kReport, kDone, false},
    {"missing element set", good({"-elset", "NOSUCH"}), "", missingElset("NOSUCH", "db.odb"), 0, kAbsent, kAbsent,
     false},
    {"-extra taken as -elset", good({"-extra", "NOSUCH"}), "", missingElset("NOSUCH", "db.odb"), 0, kAbsent,
     kAbsent, false},
    {"-extra consumes the next argument", {"-extra", "-help", "-odb", "db.odb", "-config", "cfg.txt"}, "",
     missingElset("-help", "db.odb"), 0, kAbsent, kAbsent, false},
    {"existing element set", good({"-elset", "ESET"}), kProgress, "", 0, kReport, kDone, false},
    {"last database wins", {"-odb", "other.odb", "-odb", "db.odb", "-config", "cfg.txt", "-elset", "NOSUCH"}, "",
     missingElset("NOSUCH", "db.odb"), 0, kAbsent, kAbsent, false},
    {"configuration is a folder", {"-odb", "db.odb", "-config", "cfgdir"},
     "Unable to open file" "Processing Step: Step-1\n", "", 0, "", kDone, false},
    {"format-1 database", {"-odb", "old.odb", "-config", "cfg.txt"}, kProgress, "", 0, kReport, kDone, true},
    {"format-1 database, missing element set", {"-odb", "old.odb", "-config", "cfg.txt", "-elset", "NOSUCH"}, "",
     missingElset("NOSUCH", "upgradedOdb.odb"), 0, kAbsent, kAbsent, true},
};

TEST_F(HarvestRun, CommandLineAndOutputFiles) {
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.name);
    for (const char* name : {"params.txt", "paramsdone.txt", "upgradedOdb.odb"}) std::remove(dir_.file(name).c_str());
    const testsupport::RunResult r = run(row.args);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(file("params.txt"), row.params);
    EXPECT_EQ(file("paramsdone.txt"), row.done);
    EXPECT_EQ(file("upgradedOdb.odb").has_value(), row.upgraded);
  }
}

// Only a complete run writes the marker; a failed one leaves an old marker
// and an old report as they were.
TEST_F(HarvestRun, FailedRunKeepsEarlierFiles) {
  testsupport::writeFile(dir_.file("params.txt"), "old report\n");
  testsupport::writeFile(dir_.file("paramsdone.txt"), "old marker\n");
  const testsupport::RunResult r = run(good({"-elset", "NOSUCH"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("params.txt"), "old report\n");
  EXPECT_EQ(file("paramsdone.txt"), "old marker\n");
}

// A library failure: its message, then the closing line, status 0, and no
// marker. The message wording is the library's; it names the file.
TEST_F(HarvestRun, LibraryFailureIsReported) {
  struct Case {
    const char* name;
    std::string database;
    std::string named;  // the library's message starts with the path it was given
  } cases[] = {{"text file", "bad.odb", "bad.odb: "},
               {"folder", "folder.odb", "folder.odb: "},
               {"completed folder name", "folder", "folder.odb: "}};
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const testsupport::RunResult r = run({"-odb", row.database, "-config", "cfg.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    const std::size_t firstEnd = r.err.find('\n');
    ASSERT_NE(firstEnd, std::string::npos) << r.err;
    EXPECT_GT(firstEnd, 0u) << r.err;
    EXPECT_EQ(r.err.rfind(row.named, 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(firstEnd + 1), kLibraryFailed);
    EXPECT_FALSE(file("params.txt").has_value());
    EXPECT_FALSE(file("paramsdone.txt").has_value());
  }
}

// However the run ends, the runtime is started once and stopped once, although
// the shutdown routine runs again at exit.
TEST_F(HarvestRun, RuntimeStartedAndStoppedOnce) {
  const std::string counts = "runtime: started 1, stopped 1, active 0, called 0\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {"complete run", kGood, 0},
      {"-help", {"-help"}, 0},
      {"command-line fault", {}, 1},
      {"missing element set", good({"-elset", "NOSUCH"}), 0},
      {"library failure", {"-odb", "bad.odb", "-config", "cfg.txt"}, 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const testsupport::RunResult r = e2e::runIn(dir_, PROBE_PATH, row.args);
    EXPECT_EQ(r.status, row.status);
    ASSERT_GE(r.out.size(), counts.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - counts.size()), counts);
  }
}

}  // namespace
