// The sample database as odbinfo lists it (tests/unit/odb/sample.odbinfo), in
// both precisions, and a refused file: the library's message alone (HDF5
// prints nothing) and status 1.
#include <gtest/gtest.h>

#include "sample_db.h"
#include "test_support.h"

namespace {

TEST(OdbInfo, ListsTheSampleOrGivesTheLibrarysMessage) {
  testsupport::TempDir dir;
  for (int precision : {0, 1}) {
    sample::writeSample(dir.file("job.odb"), precision);
    const auto r = testsupport::run({ODBINFO_PATH, "job.odb"}, dir.path());
    std::string expected = testsupport::readFile(SAMPLE_LISTING);
    for (std::size_t at; precision == 1 && (at = expected.find("float32")) != std::string::npos;)
      expected.replace(at, 7, "float64");
    EXPECT_EQ(r.out, expected) << "precision " << precision;
    EXPECT_EQ(std::pair(r.status, r.err), std::pair(0, std::string()));
  }
  testsupport::writeFile(dir.file("text.odb"), "plain text\n");
  const auto r = testsupport::run({ODBINFO_PATH, "text.odb"}, dir.path());
  EXPECT_EQ(std::pair(r.status, r.err), std::pair(1, std::string("odbinfo: text.odb: /: file is not an hdf5 file\n")));
}

}  // namespace
