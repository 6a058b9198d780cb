// The generator's promises to the benchmarks and the fuzz seeds: sizes and
// the mesh they lead to. (The database it writes: check_odbgen.sh, listing.txt.)
#include "generate.h"

#include <gtest/gtest.h>

TEST(OdbgenSize, Words) {
  struct Case {
    const char* word;
    std::optional<long long> values;
  } const cases[] = {
      {"small", 10'000}, {"medium", 1'000'000}, {"large", 10'000'000}, {"250000", 250'000}, {"1", 1},
      {"0", std::nullopt}, {"-5", std::nullopt}, {"12k", std::nullopt}, {"", std::nullopt}, {"Small", std::nullopt},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.word);
    EXPECT_EQ(odbgen::parseSize(row.word), row.values);
  }
}

TEST(OdbgenSize, MeshCoversTheValuesInWholeLayers) {
  for (const long long values : {1LL, 7LL, 8LL, 9LL, 10'000LL, 1'000'000LL, 10'000'000LL, 176'000'000LL}) {
    SCOPED_TRACE(values);
    const odbgen::MeshShape s = odbgen::meshShape(values);
    EXPECT_GE(s.elements() * 8, values);
    EXPECT_LT(s.elements() * 8 - values, 8LL * s.nx * s.ny) << "more than one layer too many";
    EXPECT_GE(s.sBlocks, 1);
    EXPECT_LE(s.sBlocks, s.nz);
    if (s.nz >= 2) {
      EXPECT_GE(s.sBlocks, 2) << "the bulk path must see more than one block";
    }
  }
}
