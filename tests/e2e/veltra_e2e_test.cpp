// The veltra launcher: its command list, unknown commands, and that it runs
// harvestodb exactly as a direct start would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "database.h"

namespace {

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

TEST(Veltra, HelpListsTheProgramsBesideIt) {
  std::string want = "usage: veltra <command> [arguments...]\n\ncommands:\n";
  want += "  harvestodb  extract extreme values from an output database into params.txt\n";
  // The other programs are listed only when they were built next to veltra.
  const std::string folder = folderOf(VELTRA_PATH);
  if (testsupport::exists(folder + "odbinfo")) want += "  odbinfo     describe the contents of an output database\n";
  if (testsupport::exists(folder + "ccx2odb"))
    want += "  ccx2odb     convert CalculiX results into an output database\n";
  testsupport::TempDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"help"}}) {
    SCOPED_TRACE(args.empty() ? "no command" : "help");
    const testsupport::RunResult r = e2e::runIn(dir, VELTRA_PATH, args);
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Veltra, UnknownCommand) {
  testsupport::TempDir dir;
  const testsupport::RunResult r = e2e::runIn(dir, VELTRA_PATH, {"harvest", "-help"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "veltra: unknown command 'harvest' (try 'veltra help')\n");
  EXPECT_EQ(r.status, 1);
}

// Same streams, status and files as starting harvestodb directly.
TEST(Veltra, RunsHarvestodbWithTheSameArguments) {
  const std::vector<std::string> cases[] = {
      {"-help"},
      {},
      {"-odb", "missing", "-help"},
      {"-odb", "db.odb", "-config", "cfg.txt", "-elset", "NOSUCH"},
      {"-odb", "db.odb", "-config", "cfg.txt"},
  };
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    testsupport::TempDir direct, launched;
    e2e::populate(direct);
    e2e::populate(launched);
    std::vector<std::string> viaVeltra{"harvestodb"};
    viaVeltra.insert(viaVeltra.end(), args.begin(), args.end());
    const testsupport::RunResult want = e2e::runIn(direct, HARVESTODB_PATH, args);
    const testsupport::RunResult got = e2e::runIn(launched, VELTRA_PATH, viaVeltra);
    EXPECT_EQ(got.out, want.out);
    EXPECT_EQ(got.err, want.err);
    EXPECT_EQ(got.status, want.status);
    for (const char* name : {"params.txt", "paramsdone.txt"})
      EXPECT_EQ(e2e::fileIn(launched, name), e2e::fileIn(direct, name)) << name;
  }
}

// A link to veltra elsewhere still runs the programs of the folder veltra is in.
TEST(Veltra, FindsItsProgramsThroughALink) {
  testsupport::TempDir dir;
  ASSERT_EQ(symlink(VELTRA_PATH, dir.file("veltra").c_str()), 0);
  const testsupport::RunResult r = e2e::runIn(dir, dir.file("veltra"), {"harvestodb", "-help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(" Program to open an output database", 0), 0u) << r.out;
}

}  // namespace
