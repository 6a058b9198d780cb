// The odbinfo tool as a child process: what it prints for the sample, and that a refused
// database gives only the library's message on standard error (HDF5 prints nothing) and status 1.
#include <gtest/gtest.h>

#include "sample_db.h"
#include "test_support.h"

namespace {

TEST(OdbInfo, PrintsTheDatabaseOrTheLibrarysMessage) {
  testsupport::TempDir dir;
  sample::writeSample(dir.file("job.odb"), 0);
  auto r = testsupport::run({ODBINFO_PATH, "job.odb"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  for (const char* line : {
           "database job.odb \"sample database\"\n",
           "  element set PI (internal): 1 members\n",
           "  instance I1 (part P1): 4 nodes, 2 elements\n",
           "step Step-1 \"first\": mass 12.5, centre (1, 0.25, 0), inertia about centre (1, 2, 3, 4, 5, 6), "
           "about origin (6, 5, 4, 3, 2, 1)\n",
           "  history region Node I1.1 \"node one\": node 1, element -1, ip 0, section point 0, region \"AN\", "
           "instance \"I1\"\n",
           "    output U1 type 2: 3 rows\n",
           "      block 0: instance I1, INTEGRATION_POINT, float32, 4 x 6, 2 elements, section point 0\n",
       })
    EXPECT_NE(r.out.find(line), std::string::npos) << line;

  testsupport::writeFile(dir.file("text.odb"), "plain text\n");  // HDF5 itself refuses it and must stay quiet
  r = testsupport::run({ODBINFO_PATH, "text.odb"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "odbinfo: text.odb: /: file is not an hdf5 file\n");
}

}  // namespace
