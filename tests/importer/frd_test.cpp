// The .frd reader on hand-written records: touching numbers, short/long/binary, continuations, malformed input.
#include "frd.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using ccx::FrdReader;
using Item = ccx::FrdReader::Item;
using V = std::vector<int>;

namespace {

const std::string kNodesLong = "    1C\n    2C                             2                                     1\n"
    " -1         1 0.00000E+00-1.00000E+00-2.00000E+00\n -1        12 1.50000E+00 2.50000E-01-3.00000E+02\n -3\n";

const std::string kDispHead = " -4  DISP        4    1\n"
    " -5  D1          1    2    1    0\n -5  D2          1    2    2    0\n -5  D3          1    2    3    0\n"
    " -5  ALL         1    2    0    0    1ALL\n";

const std::string kDispLong = "    1PSTEP                         4           3           2          \n"
    "  100CL  101 0.30000E+00           2                     0    1           1\n" + kDispHead +
    " -1         1 5.18959E-03-8.25219E-04-1.00000E+00\n -1        12-1.00000E+00-2.00000E+00 3.00000E+00\n -3\n";

// The error, or how the file ended: "end" at 9999, "no end record", or the block dropped when partial.
std::string message(const std::string& text, bool partial = false) {
  try {
    ccx::InputFile in("job.frd", text);
    FrdReader r(in, partial);
    while (r.next() != Item::End) continue;
    return !r.dropped().empty() ? "dropped: " + r.dropped() : r.complete() ? "end" : "no end record";
  } catch (const ccx::ParseError& e) {
    return e.what();
  }
}

}  // namespace

// (A 20-node brick continued on -2 lines in long format: tests/importer/e2e_test.cpp.)
TEST(Frd, LongFormatTouchingNumbersAndModes) {
  std::string text = kNodesLong + kDispLong;
  // Every mode of a frequency step has increment 1; 1PMODE tells them apart.
  for (const char* mode : {"1", "2"})
    text += std::string("    1PSTEP                         ") + mode + "           1           2\n" +
            "    1PMODE                         " + mode + "\n" +
            "  100CL  102 32.46996095           0                     2    2MODAL      1\n" + kDispHead + " -3\n";
  ccx::InputFile in("job.frd", text + " 9999\n");
  FrdReader r(in);
  ASSERT_EQ(r.next(), Item::Nodes);
  EXPECT_EQ(std::tuple(r.nodes().labels, r.nodes().coordinates),
            std::tuple(V{1, 12}, std::vector<double>{0, -1, -2, 1.5, 0.25, -300}));
  ASSERT_EQ(r.next(), Item::Result);
  const ccx::FrdResult& d = r.result();
  EXPECT_EQ(std::tuple(d.name, d.step, d.increment), std::tuple("DISP", 2, 3));
  EXPECT_DOUBLE_EQ(d.value, 0.3);
  // DISP declares four components; ALL is computed and has no data column.
  ASSERT_EQ(d.components.size(), 4u);
  EXPECT_EQ(std::tuple(d.components[3].stored, d.storedColumns.size(), d.nodes),
            std::tuple(false, 3u, std::vector{1, 12}));
  EXPECT_EQ(d.values, (std::vector<float>{5.18959e-03f, -8.25219e-04f, -1.0f, -1.0f, -2.0f, 3.0f}));
  for (int mode = 1; mode <= 2; ++mode) {
    ASSERT_EQ(r.next(), Item::Result);
    EXPECT_EQ(std::tuple(r.result().mode, r.result().increment, r.result().analysisType), std::tuple(mode, 1, 2));
    EXPECT_DOUBLE_EQ(r.result().value, 32.46996095);  // written fixed-point, not E12.5
  }
  EXPECT_EQ(r.next(), Item::End);
}

TEST(Frd, ShortFormatAndContinuationLines) {
  // Short format: ids 5 wide. Eight stored components: a -2 line carries the last two.
  std::string text = "    2C                             1                                     0\n"
      " -1    7 1.00000E+00 2.00000E+00 3.00000E+00\n -3\n"
      "    3C                             1                                     0\n"
      " -1    3    3    0    1\n -2    7    7    7    7\n -3\n"
      "  100CL  101 1.00000E+00           1                     0    1           0\n -4  SDV         8    1\n";
  for (char k = '1'; k <= '8'; ++k) text += std::string(" -5  SDV") + k + "        1    1    0    0\n";
  text += " -1    7 1.00000E+00 2.00000E+00 3.00000E+00 4.00000E+00 5.00000E+00 6.00000E+00\n"
      " -2      7.00000E+00 2.50000-001\n -3\n 9999\n";  // an exponent without its E
  ccx::InputFile in("short.frd", text);
  FrdReader r(in);
  ASSERT_EQ(r.next(), Item::Nodes);
  EXPECT_EQ(r.nodes().labels, std::vector<int>{7});
  ASSERT_EQ(r.next(), Item::Elements);
  EXPECT_EQ(std::tuple(r.elements().types, r.elements().connectivity), std::tuple(V{3}, V{7, 7, 7, 7}));
  ASSERT_EQ(r.next(), Item::Result);
  EXPECT_EQ(r.result().values, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 0.25f}));
}

TEST(Frd, BinaryRecords) {
  auto bytes = [](const auto& v) { return std::string(reinterpret_cast<const char*>(&v), sizeof v); };
  const std::int32_t id = 5, elem[8] = {9, 3, 0, 1, 5, 5, 5, 5};
  const double xyz[3] = {1.25, -2.5, 3.0};
  ccx::InputFile in("bin.frd", "    2C                             1                                     3\n" +
      bytes(id) + bytes(xyz) + "    3C                             1                                     2\n" +
      bytes(elem) + "  100CL  101 1.00000E+00           1                     0    1           2\n"
      " -4  NDTEMP      1    1\n -5  T           1    1    0    0\n" + bytes(id) + bytes(42.5f) + " 9999\n");
  FrdReader r(in);
  ASSERT_EQ(r.next(), Item::Nodes);
  EXPECT_EQ(r.nodes().coordinates, (std::vector<double>{1.25, -2.5, 3.0}));
  ASSERT_EQ(r.next(), Item::Elements);
  EXPECT_EQ(std::tuple(r.elements().labels, r.elements().connectivity), std::tuple(V{9}, V{5, 5, 5, 5}));
  ASSERT_EQ(r.next(), Item::Result);
  EXPECT_EQ(std::tuple(r.result().nodes, r.result().values), std::tuple(std::vector{5}, std::vector{42.5f}));
  EXPECT_EQ(r.next(), Item::End);
}

TEST(Frd, MalformedInputNamesFileAndLine) {
  const std::string head = kDispLong.substr(0, kDispLong.find(" -1        12"));
  const std::string cut = kNodesLong.substr(0, kNodesLong.size() - 4);
  const struct Case { const char* name; std::string text; const char* expected; bool partial = false; } cases[] = {
      {"garbled number", std::string(kNodesLong).replace(kNodesLong.find("2.50000E-01"), 11, "2.5x000E-01"),
       "job.frd:4: bad number '2.5x000E-01' in columns 26-37"},
      {"truncated block", cut, "job.frd:4: unexpected end of file inside the node block"},
      {"truncated block, partial", cut, "dropped: job.frd:4: unexpected end of file inside the node block", true},
      {"blank node and element counts",
       "    2C                                                                   1\n -1         1 0.00000E+00"
       " 0.00000E+00 0.00000E+00\n -3\n    3C                                                                   1\n"
       " -1         1   11    0    1\n -2         1         1\n -3\n 9999\n", "end"},
      {"blank node count in a short-format header", "    2C                                                                   0\n"
       " -1    1 0.00000E+00 0.00000E+00 0.00000E+00\n -3\n 9999\n", "end"},
      {"blank node count in a binary header", "    2C                                                                   2\n",
       "job.frd:1: bad node count '' in columns 25-36"},
      {"short result row", head + " -1        12-1.00000E+00\n -3\n",
       "job.frd:10: node 12 of DISP has 1 values, expected 3"},
      {"bad result number", head + " -1        12-1.00000E+00-2.0000QE+00 3.00000E+00\n",
       "job.frd:9: bad number '-2.0000QE+00' in columns 26-37 of DISP"},
      {"unknown element type",
       "    3C                             1                                     1\n -1         1   99    0    1\n",
       "job.frd:2: element 1 has unknown type 99"},
      {"truncated binary", "    2C                             2                                     3\n\x01\x00",
       "job.frd:1: node block of 2 records runs past the end of the file"},
      {"binary result past the end", "  100CL  101 1.00000E+00           3                     0    1           2\n"
       " -4  NDTEMP      1    1\n -5  T           1    1    0    0\n" + std::string(20, '\0'),
       "job.frd:3: result block of 3 records runs past the end of the file"},
  };
  for (const Case& c : cases) EXPECT_EQ(message(c.text, c.partial), c.expected) << c.name;
}

// Fortran numbers as the solver writes them: E12.5 and E14.6 fields, exponents without their E, values that
// underflow (read as the denormal or zero a Fortran reader gives), and texts that are no number.
TEST(Input, FortranNumbers) {
  const struct Case { const char* text; bool ok; double value; } cases[] = {
      {" 1.50000E+00", true, 1.5},     {"-2.50000E-03", true, -2.5e-3}, {"  +4.0  ", true, 4.0},
      {"2.50000-001", true, 0.25},     {"2.5+003", true, 2500.0},       {"-1.25-2", true, -1.25e-2},
      {"1.5e-3", true, 1.5e-3},        {"1.0E-320", true, 1.0e-320},    {"1.0E-400", true, 0.0},
      {"1.0-400", true, 0.0},          {"1.5x", false, 0},              {"1.0-", false, 0},
      {"1.0+3x", false, 0},            {"", false, 0},                  {"-", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double v = -99.0;
    EXPECT_EQ(ccx::parseReal(c.text, v), c.ok);
    if (c.ok) { EXPECT_DOUBLE_EQ(v, c.value); }
  }
}
