#include <gtest/gtest.h>

#include <string>

#include "run/run.h"

namespace {

TEST(RightTrim, CompletesOnlyNamesWithoutTheSuffix) {
  struct Case { const char* name; const char* given; const char* want; } cases[] = {
      {"no suffix", "job", "job.odb"},
      {"suffix at the end", "job.odb", "job.odb"},
      {"suffix anywhere else", "run.odb/my.odb.bak", "run.odb/my.odb.bak"},
      {"other extension", "job.ODB", "job.ODB.odb"},
      {"empty name", "", ".odb"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    odb_String name(row.given);
    rightTrim(name, ".odb");
    EXPECT_EQ(name.str(), row.want);
  }
}

}  // namespace
