// harvestodb and veltra end to end, run in scratch folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

using Args = std::vector<std::string>;

// The sample database's mass lines (EXTRACT_MASS); its second step has no mass.
const std::string kReport = "Step_1__Mass\t12.5\nStep_1__MassCenter\t(1, 0.25, 0)\n"
                            "Step_1__InertiaCenter\t(1, 2, 3, 4, 5, 6)\nStep_1__InertiaOrigin\t(6, 5, 4, 3, 2, 1)\n";
const std::string kProgress = "Processing Step: Step-1\nExtracting mass properties\n"
                              "Processing Step: Step 2\nExtracting mass properties\n";
const std::string kUsage =
    " Program to open an output database and extract output parameters\n from the database and write them to an ASCII"
    " file.\n Usage: veltra harvestodb -odb <odb_filename> \n                                 -config <config_filename>"
    " \n                                 -elset(optional) <elsetName> \n Requirements:\n 1. -odb   : Name of the output"
    " database.\n 2. -config: Name of the configuration file. \n 3. -elset : Name of the assembly level element set.\n"
    "             Search will be done only for element \n             belonging to this set.\n             If this"
    " parameter is not provided, search \n             will be performed over the entire model.\n 4. -help  : Print"
    " usage\n";
const std::string kNoDatabase = "**ERROR** output database name is not provided\n",
                  kNoConfig = "**ERROR** configuration file name is not provided\n", kOld = "old\n";

std::string noElset(const std::string& set, const std::string& db = "db.odb") {
  return "An assembly level elset " + set + " does not exist in the output database :" + db + "\n";
}
std::string noDb(const std::string& name) { return "**ERROR** output database  " + name + " does not exist\n\n"; }
std::string failed(const std::string& message) { return message + "\nODB Application exited with error(s)\n"; }

Args concat(Args a, const Args& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Args on(const std::string& db, const Args& e = {}) { return concat({"-odb", db, "-config", "cfg.txt"}, e); }
Args good(const Args& e = {}) { return on("db.odb", e); }

// db.odb, other.odb, old.odb (format 1), cfg.txt (the mass lines), bad.odb (text), folders cfgdir and folder.odb,
// veltra-link (a link to veltra).
class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* db : {"db.odb", "other.odb"}) sample::writeSample(dir_.file(db), 0);
    sample::writeSample(dir_.file("old.odb"), 0, {.formatVersion = 1});
    testsupport::writeFile(dir_.file("cfg.txt"), "ODB EXTRACTIONS\nEXTRACT_MASS\n");
    testsupport::writeFile(dir_.file("bad.odb"), "this is not a database\n");
    for (const char* folder : {"cfgdir", "folder.odb"}) mkdir(dir_.file(folder).c_str(), 0755);
    ASSERT_EQ(symlink(VELTRA_PATH, dir_.file("veltra-link").c_str()), 0);
  }
  testsupport::RunResult run(const std::string& program, const Args& args) {
    return testsupport::run(concat({program}, args), dir_.path());
  }
  std::string file(const std::string& name) {
    struct stat info;
    if (lstat(dir_.file(name).c_str(), &info) != 0) return "(absent)";
    if (S_ISLNK(info.st_mode) || S_ISDIR(info.st_mode)) return S_ISLNK(info.st_mode) ? "(link)" : "(folder)";
    return testsupport::readFile(dir_.file(name));
  }
  testsupport::TempDir dir_;
};

// params/done: params.txt and paramsdone.txt afterwards (both kOld before); upgraded: upgradedOdb.odb left behind;
// shell: commands run in the folder before the program, to make its output files unwritable (or the whole
// command, when it runs the program itself as "$0").
struct Case {
  const char* name; Args args; std::string out, err; int status; std::string params, done; bool upgraded;
  std::string shell = "";
};
Case ok(const char* name, const Args& args, bool upgraded = false) {  // writes the report
  return {name, args, kProgress, "", 0, kReport, "Done\n", upgraded};
}
Case kept(const char* name, const Args& args, std::string out, std::string err, int status, bool upgraded = false) {
  return {name, args, out, err, status, kOld, kOld, upgraded};
}
// A run whose output cannot be written whole ends as after a library failure, with no new marker.
const std::string kFull = "rm params.txt; ln -s /dev/full params.txt;",
                  kFolder = "folder.odb: /: is a directory, expected a file";
Case unwritten(const char* name, const Args& args, std::string shell, std::string message, std::string params,
               std::string done = kOld) {
  return {name, args, kProgress, failed(message), 0, params, done, false, shell};
}

const Case kCases[] = {
    kept("no arguments", {}, kUsage, kNoDatabase, 1),
    kept("only -odb", {"-odb", "db.odb"}, kUsage, kNoConfig, 1),
    kept("only -config", {"-config", "cfg.txt"}, kUsage, kNoDatabase, 1),
    kept("missing database, then -help", {"-odb", "missing.odb", "-help"}, "", noDb("missing.odb"), 1),
    kept("-help, then missing database", {"-help", "-odb", "missing.odb"}, kUsage, "", 0),
    kept("-h prefix after a good command line", good({"-hurry"}), kUsage, "", 0),
    kept("name completed before the test", on("job"), "", noDb("job.odb"), 1),
    ok("completed name found", on("db")),
    kept("configuration tested when met", {"-config", "nocfg.txt", "-odb", "missing.odb"}, "",
         "**ERROR** configuration file nocfg.txt does not exist\n\n", 1),
    ok("complete run", good()),
    ok("unknown arguments ignored", {"-verbose", "-odb", "db.odb", "x", "-config", "cfg.txt", "--quiet"}),
    ok("known by two characters", {"-odbfile", "db.odb", "-conf", "cfg.txt"}),
    ok("last -odb without value", good({"-odb"})),
    kept("only -odb, without value", {"-config", "cfg.txt", "-odb"}, kUsage, kNoDatabase, 1),
    kept("only -config, without value", {"-odb", "db.odb", "-config"}, kUsage, kNoConfig, 1),
    ok("-elset without value", good({"-elset"})),
    kept("missing element set", good({"-elset", "NOSUCH"}), "", noElset("NOSUCH"), 0),
    kept("-extra consumes the next argument", {"-extra", "-help", "-odb", "db.odb", "-config", "cfg.txt"}, "",
         noElset("-help"), 0),
    ok("existing element set", good({"-elset", "AE"})),
    kept("last database wins", concat({"-odb", "other.odb"}, good({"-elset", "NOSUCH"})), "", noElset("NOSUCH"), 0),
    {"configuration is a folder", {"-odb", "db.odb", "-config", "cfgdir"},
     "Unable to open file" "Processing Step: Step-1\nProcessing Step: Step 2\n", "", 0, "", "Done\n", false},
    ok("format-1 database", on("old.odb"), true),
    // The library's message, naming the database as completed, then the closing line.
    kept("not a database", on("bad.odb"), "", failed("bad.odb: /: file is not an hdf5 file"), 0),
    kept("database is a folder", on("folder.odb"), "", failed(kFolder), 0),
    kept("completed name is a folder", on("folder"), "", failed(kFolder), 0),
    kept("format-1 database, missing element set", on("old.odb", {"-elset", "NOSUCH"}), "",
         noElset("NOSUCH", "upgradedOdb.odb"), 0, true),
    unwritten("report on a full disk", good(), kFull, "params.txt: No space left on device", "(link)"),
    unwritten("marker on a full disk", good(), "rm paramsdone.txt; ln -s /dev/full paramsdone.txt;",
              "paramsdone.txt: No space left on device", kReport, "(absent)"),
    // The limit only for the program, whose stdout and stderr reach the captured files through cat.
    unwritten("report over the file size limit", good(),
              "{ { { ulimit -f 0; exec \"$0\" \"$@\"; } 2>&1 1>&3 | cat >&2; } 3>&1 | cat; }",
              "params.txt: File too large", ""),
    // (A small budget accepted, the same report: the golden case field_large_budget.)
    {"memory budget not a number", good(), "", "**ERROR** HARVEST_MEMORY_MB is not a positive number of megabytes: "
     "0x\n\n", 1, kOld, kOld, false, "export HARVEST_MEMORY_MB=0x;"},
    {"report in a folder", good(), "", failed("params.txt: Is a directory"), 0, "(folder)", kOld, false,
     "rm params.txt; mkdir params.txt;"},
    {"upgrade over the file size limit", on("old.odb"), "",
     failed("upgradedOdb.odb: /: cannot write the file: File too large"), 0, kOld, kOld, false,
     "ulimit -f 8; trap '' XFSZ;"},  // 4 KiB in 512-byte blocks
};

// Each row also through the probe, which prints the runtime counts at exit: however the run ends, the runtime is
// started once and stopped once, although the shutdown routine runs again at exit. And through veltra, by a link,
// as veltra finds the programs beside it by its own path: the same streams, status and files as a direct start.
const std::tuple<const char*, Args, std::string> kPrograms[] = {
    {HARVESTODB_PATH, {}, ""},
    {PROBE_PATH, {}, "runtime: started 1, stopped 1, active 0, called 0\n"},
    {"./veltra-link", {"harvestodb"}, ""}};

TEST_F(EndToEnd, CommandLineAndOutputFiles) {
  for (const Case& row : kCases)
    for (const auto& [program, command, counts] : kPrograms) {
      SCOPED_TRACE(std::string(row.name) + " with " + program);
      for (const char* f : {"params.txt", "paramsdone.txt", "upgradedOdb.odb"}) std::remove(dir_.file(f).c_str());
      for (const char* f : {"params.txt", "paramsdone.txt"}) testsupport::writeFile(dir_.file(f), kOld);
      const bool whole = row.shell.find("\"$0\"") != std::string::npos;
      const Args shell = {"-c", whole ? row.shell : row.shell + " exec \"$0\" \"$@\"", program};
      const testsupport::RunResult r = row.shell.empty() ? run(program, concat(command, row.args))
                                                         : run("/bin/sh", concat(shell, concat(command, row.args)));
      EXPECT_EQ(std::tie(r.out, r.err, r.status), std::make_tuple(row.out + counts, row.err, row.status));
      EXPECT_EQ(std::make_tuple(file("params.txt"), file("paramsdone.txt")), std::tie(row.params, row.done));
      EXPECT_EQ(testsupport::exists(dir_.file("upgradedOdb.odb")), row.upgraded);
    }
}

// The help lists the programs beside veltra, harvestodb first (each with its summary from the launcher's table);
// a copy of veltra alone in a folder lists none.
TEST_F(EndToEnd, VeltraHelpListsTheProgramsBesideIt) {
  std::filesystem::copy_file(VELTRA_PATH, dir_.file("veltra"));
  const std::string head = "usage: veltra <command> [arguments...]\n\ncommands:\n";
  const testsupport::RunResult help = run(VELTRA_PATH, {});
  EXPECT_EQ(help.out.rfind(head + "  harvestodb        extract extreme values", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("\n  odbinfo           describe"), std::string::npos) << help.out;
  const std::tuple<std::string, Args, std::string, std::string, int> cases[] = {
      {VELTRA_PATH, {"help"}, help.out, "", 0}, {dir_.file("veltra"), {}, head, "", 0},
      {VELTRA_PATH, {"harvest", "-help"}, "", "veltra: unknown command 'harvest' (try 'veltra help')\n", 1}};
  for (const auto& [program, args, out, err, status] : cases) {
    const testsupport::RunResult r = run(program, args);
    EXPECT_EQ(std::tie(r.out, r.err, r.status), std::tie(out, err, status)) << program;
  }
}

// A listing cut short is a failure, whether the tool is started directly or through veltra.
TEST_F(EndToEnd, OdbinfoFailsWhenItsListingCannotBeWritten) {
  const std::string odbinfo = std::string(VELTRA_PATH).substr(0, std::string(VELTRA_PATH).rfind('/') + 1) + "odbinfo";
  if (!testsupport::exists(odbinfo)) GTEST_SKIP() << "odbinfo is not built";
  for (const Args& args : {Args{odbinfo, "db.odb"}, Args{VELTRA_PATH, "odbinfo", "db.odb"}}) {
    SCOPED_TRACE(args[0]);
    const testsupport::RunResult r = run("/bin/sh", concat({"-c", "exec \"$0\" \"$@\" >/dev/full"}, args));
    EXPECT_EQ(std::tie(r.out, r.err, r.status),
              std::make_tuple("", "odbinfo: standard output: No space left on device\n", 1));
  }
}

}  // namespace
