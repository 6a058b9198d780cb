// The driver's file helpers: name completion and the existence test.
#include <gtest/gtest.h>

#include <string>

#include "run/run.h"
#include "test_support.h"

namespace {

TEST(RightTrim, CompletesOnlyNamesWithoutTheSuffix) {
  struct Case {
    const char* name;
    const char* given;
    const char* want;
  } cases[] = {
      {"no suffix", "job", "job.odb"},
      {"suffix at the end", "job.odb", "job.odb"},
      {"suffix inside the name", "my.odb.bak", "my.odb.bak"},
      {"suffix in a folder name", "run.odb/job", "run.odb/job"},
      {"other extension", "job.ODB", "job.ODB.odb"},
      {"empty name", "", ".odb"},
      {"dot only", ".", "..odb"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    odb_String name(row.given);
    rightTrim(name, ".odb");
    EXPECT_EQ(name.str(), row.want);
  }
}

TEST(FileExists, AnyKindOfFileCounts) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("plain.txt"), "x");
  testsupport::writeFile(dir.file("empty.txt"), "");
  struct Case {
    const char* name;
    std::string path;
    bool want;
  } cases[] = {
      {"plain file", dir.file("plain.txt"), true},
      {"empty file", dir.file("empty.txt"), true},
      {"directory", dir.path(), true},
      {"missing", dir.file("missing.txt"), false},
      {"below a file", dir.file("plain.txt/x"), false},
      {"empty name", "", false},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(fileExists(odb_String(row.path)), row.want);
  }
}

}  // namespace
