// The odbinfo tool as a child process: what it prints for the sample, and
// that a refused database gives only the library's message on standard error
// (HDF5 itself prints nothing) and status 1.
#include <gtest/gtest.h>

#include "sample_db.h"
#include "test_support.h"

namespace {

TEST(OdbInfo, PrintsTheDatabaseAsTheReaderSeesIt) {
  testsupport::TempDir dir;
  sample::writeSample(dir.file("job.odb"), 0);
  const auto r = testsupport::run({ODBINFO_PATH, "job.odb"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  for (const char* line : {
           "database job.odb \"sample database\"\n",
           "  element set PI (internal): 1 members\n",
           "  instance I1 (part P1): 4 nodes, 2 elements\n",
           "  node set AN: I1 2 I2 1\n",
           "step Step-1 \"first\": mass 12.5, centre (1, 0.25, 0), inertia about centre (1, 2, 3, 4, 5, 6), "
           "about origin (6, 5, 4, 3, 2, 1)\n",
           "  history region Node I1.1 \"node one\": node 1, element -1, ip 0, section point 0, region \"AN\", "
           "instance \"I1\"\n",
           "    output U1 type 2: 3 rows\n",
           "  frame 1: increment 1, value 0, \"\"\n",
           "      block 0: instance I1, INTEGRATION_POINT, float32, 4 x 6, 2 elements, section point 0\n",
           "step Step 2 \"\": mass -1, centre (), inertia about centre (), about origin ()\n",
       })
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

TEST(OdbInfo, RefusedDatabaseGivesTheLibrarysMessage) {
  testsupport::TempDir dir;
  struct Case {
    const char* name;
    std::string content;  // empty: a sample with frame 1 renamed to 3
    std::string err;
  };
  const Case cases[] = {
      {"text", "plain text\n", "odbinfo: bad.odb: /: file is not an hdf5 file\n"},
      {"frames 0, 3", "", "odbinfo: bad.odb: /steps/Step-1/frames: found frame '3', expected frames named 0..1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.content.empty()) {
      sample::writeSample(dir.file("bad.odb"), 1);
      odbw::edit::moveLink(dir.file("bad.odb"), "/steps/Step-1/frames/1", "/steps/Step-1/frames/3");
    } else {
      testsupport::writeFile(dir.file("bad.odb"), c.content);
    }
    const auto r = testsupport::run({ODBINFO_PATH, "bad.odb"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
