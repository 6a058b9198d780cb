// The .dat and .sta readers on printed blocks as the solver writes them.
#include "dat.h"

#include <gtest/gtest.h>

#include <optional>

#include "frame_clock.h"
#include "mapping.h"
#include "sta.h"

using ccx::DatBlock;
using ccx::DatReader;
using ccx::InputFile;

const char* const kDat =
    "\n displacements (vx,vy,vz) for set LOAD and time  0.1000000E+01\n\n"
    "         3  2.463875E-04-1.723861E-04  1.138229E-03\n\n"
    " stresses (elem, integ.pnt.,sxx,syy,szz,sxy,sxz,syz) for set EX and time  0.1000000E+01\n\n"
    "         1   1 -2.600167E+00 -2.600167E+00  3.625318E+00  3.062590E+00  1.358358E+00  1.358358E+00\n"
    "         1   2 -5.200285E+00  5.231693E+00  3.297180E+00  2.988195E+00 -1.315433E+01  4.019350E+00\n\n"
    "                    E I G E N V A L U E   O U T P U T\n"
    " heat flux (elem, integ.pnt.,qx,qy,qz) for setEALL and time  0.2000000E+01\n\n"
    "         4   1  1.000000E+00  2.000000E+00  3.000000E+00\n\n"
    " center of gravity for set EALL and time  0.1000000E+01\n\n"
    "        5.000000E-01  5.000000E-01  5.000000E-01\n\n"
    " mass (element, mass) and mass moment of itertia(xx,yy,zz,xy,xz,yz) for set EALL and time  0.1000000E+01\n\n"
    "         1  2.500000E-01  2.083333E-02  2.083333E-02  2.083333E-02  1.562500E-02  1.562500E-02  1.562500E-02\n"
    " contact stress (slave element+face,press,tang1,tang2) for all contact elements and time 0.1000000E+01\n\n"
    "        10          4  5.415709E+00  0.000000E+00  0.000000E+00\n\n"
    " contact stress (slave node,press,tang1,tang2) for all contact elements and time 0.1000000E+01\n\n\n"
    " contact stress (slave node,press,tang1,tang2) for all contact elements and time 0.2000000E+01\n\n"
    "       126  1.333483E+02  2.252051E+00  2.250385E+00\n";

TEST(Dat, BlocksOfEveryKindAndTheirMapping) {
  InputFile in("job.dat", kDat);
  DatReader r(in);
  struct Case { const char *what, *set; DatBlock::Kind kind; double time; int width; std::size_t rows; } cases[] = {
      {"displacements", "LOAD", DatBlock::Kind::Node, 1.0, 3, 1},
      {"stresses", "EX", DatBlock::Kind::IntegrationPoint, 1.0, 6, 2},
      {"heat flux", "EALL", DatBlock::Kind::IntegrationPoint, 2.0, 3, 1},
      {"center of gravity", "EALL", DatBlock::Kind::Total, 1.0, 3, 1},
      {"mass", "EALL", DatBlock::Kind::Element, 1.0, 7, 1},
      // Contact prints of slave nodes are node rows (faces are skipped); an empty one ends at the next header.
      {"contact stress", "", DatBlock::Kind::Node, 1.0, 3, 0},
      {"contact stress", "", DatBlock::Kind::Node, 2.0, 3, 1},
  };
  std::vector<DatBlock> b(8);
  for (std::size_t i = 0; i < 7; ++i) {
    SCOPED_TRACE(cases[i].what);
    ASSERT_TRUE(r.next(b[i]));
    EXPECT_EQ(b[i].what, cases[i].what);
    EXPECT_EQ(b[i].kind, cases[i].kind);
    EXPECT_EQ(b[i].set, cases[i].set);
    EXPECT_DOUBLE_EQ(b[i].time, cases[i].time);
    EXPECT_EQ(b[i].width, cases[i].width);
    EXPECT_EQ(b[i].rows(), cases[i].rows);
  }
  EXPECT_FALSE(r.next(b[7]));
  EXPECT_EQ(b[6].ids, std::vector<int>{126});
  // Touching values: each is read from its own 14 columns.
  EXPECT_EQ(b[0].values, (std::vector<double>{2.463875e-04, -1.723861e-04, 1.138229e-03}));
  EXPECT_EQ(b[1].ids, (std::vector<int>{1, 1}));
  EXPECT_EQ(b[1].points, (std::vector<int>{1, 2}));
  EXPECT_DOUBLE_EQ(b[1].values[10], -13.15433);

  ccx::DatMapping m = ccx::mapDatBlock(b[0]);
  EXPECT_TRUE(m.history);
  EXPECT_EQ(m.outputs, (std::vector<std::string>{"U1", "U2", "U3"}));
  m = ccx::mapDatBlock(b[1]);
  ASSERT_EQ(m.fields.size(), 1u);
  EXPECT_EQ(m.fields[0].name, "S_IP");
  EXPECT_EQ(m.fields[0].labels.front(), "S11");
  EXPECT_EQ(m.position, odb_Enum::INTEGRATION_POINT);
  m = ccx::mapDatBlock(b[4]);
  EXPECT_EQ(m.position, odb_Enum::WHOLE_ELEMENT);
  ASSERT_EQ(m.fields.size(), 7u);
  EXPECT_EQ(m.fields[0].name, "EMAS");
  EXPECT_NE(m.fields[0].description.find("Element"), std::string::npos);
}

TEST(Dat, MalformedRowNamesFileAndLine) {
  InputFile in("job.dat",
               " displacements (vx,vy,vz) for set LOAD and time  0.1000000E+01\n\n"
               "         3  2.463875E-04 -1.7238x1E-04  1.138229E-03\n");
  DatBlock b;
  try {
    DatReader(in).next(b);
    FAIL() << "no error";
  } catch (const ccx::ParseError& e) {
    EXPECT_STREQ(e.what(), "job.dat:3: bad number '-1.7238x1E-04' in columns 25-38");
  }
}

TEST(Sta, IncrementsPlaceTimes) {
  InputFile in("job.sta",
               "SUMMARY OF JOB INFORMATION\n"
               "  STEP      INC     ATT  ITRS     TOT TIME     STEP TIME      INC TIME\n"
               "     1          1     1     2  0.100000E+00  0.100000E+00  0.100000E+00\n"
               "     1          2     1     2  0.100000E+01  0.100000E+01  0.900000E+00\n"
               "     2          1     1     3  0.101000E+01  0.100000E-01  0.100000E-01\n");
  const auto inc = ccx::readSta(in);
  ASSERT_EQ(inc.size(), 3u);
  EXPECT_EQ(ccx::findIncrement(inc, 1.0000000, 0), 1);
  EXPECT_EQ(ccx::findIncrement(inc, 1.0100000, 0), 2);
  EXPECT_EQ(ccx::findIncrement(inc, 0.1000000, 1), -1);  // the search only goes forward
  EXPECT_EQ(ccx::findIncrement(inc, 0.5, 0), -1);
  EXPECT_EQ(ccx::findIncrement(inc, 1.0000049, 0), 1);  // the .sta's six digits against the .dat's seven
}

// Blocks in, step / increment / frame value / description out. 'f' is a .frd block (step, increment, mode,
// value, analysis type), 'd' a .dat print at a total time; a print sees the next .frd block as pending.
TEST(FrameClock, PlacesBlocksInStepsAndFrames) {
  struct Block { char source; int step, increment, mode; double value; int type; };
  const struct Case {
    const char* name;
    std::vector<ccx::StaIncrement> sta;
    std::vector<Block> blocks;
    std::vector<std::string> expected;  // "Step-S description", "+" when the block opens a frame
  } cases[] = {
      {"dynamic step with tiny increments, each printed increment its own frame",
       {{1, 1, 0.5e-6, 0.5e-6}, {1, 2, 1e-6, 1e-6}, {1, 3, 1.5e-6, 1.5e-6}},
       {{'d', 0, 0, 0, 0.5e-6, 0}, {'d', 0, 0, 0, 1e-6, 0}, {'d', 0, 0, 0, 1e-6, 0}, {'d', 0, 0, 0, 1.5e-6, 0}},
       {"+Step-1 Increment 1: Step Time = 5e-07", "+Step-1 Increment 2: Step Time = 1e-06",
        "Step-1 Increment 2: Step Time = 1e-06", "+Step-1 Increment 3: Step Time = 1.5e-06"}},
      {"modal step without .sta rows: a frame per mode",
       {{1, 1, 1.0, 1.0}},
       {{'f', 1, 1, 0, 1.0, 0}, {'d', 0, 0, 0, 1.0, 0}, {'f', 2, 1, 1, 41.7, 2}, {'f', 2, 1, 2, 83.1, 2}},
       {"+Step-1 Increment 1: Step Time = 1", "Step-1 Increment 1: Step Time = 1",
        "+Step-2 Mode 1: Frequency = 41.7", "+Step-2 Mode 2: Frequency = 83.1"}},
      {".dat times matching no .frd increment, no .sta",
       {},
       {{'f', 1, 1, 0, 1.0, 0}, {'d', 0, 0, 0, 1.0, 0}, {'d', 0, 0, 0, 1.5, 0}, {'d', 0, 0, 0, 1.75, 0},
        {'f', 2, 1, 0, 2.5, 0}},
       {"+Step-1 Increment 1: Step Time = 1", "Step-1 Increment 1: Step Time = 1",
        "+Step-1 Increment 2: Step Time = 1.5", "+Step-1 Increment 3: Step Time = 1.75",
        "+Step-2 Increment 1: Step Time = 0.75"}},
      {".dat print of a pending .frd increment, no .sta",
       {},
       {{'d', 0, 0, 0, 2.0, 0}, {'f', 3, 4, 0, 2.0, 0}},
       {"+Step-3 Increment 4: Step Time = 2", "Step-3 Increment 4: Step Time = 2"}},
      {"step and increment repeated at a later time: the next increment",
       {},
       {{'f', 2, 1, 0, 1.0, 0}, {'f', 2, 1, 0, 2.0, 0}},
       {"+Step-2 Increment 1: Step Time = 1", "+Step-2 Increment 2: Step Time = 2"}},
      {"file without step lines: a new time is the next increment",
       {},
       {{'f', 0, 0, 0, 0.5, 0}, {'f', 0, 0, 0, 0.5, 0}, {'f', 0, 0, 0, 1.0, 0}},
       {"+Step-1 Increment 1: Step Time = 0.5", "Step-1 Increment 1: Step Time = 0.5",
        "+Step-1 Increment 2: Step Time = 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ccx::FrameClock clock(c.sta);
    std::vector<std::string> got;
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
      const Block& b = c.blocks[i];
      ccx::BlockKey key;
      if (b.source == 'f') {
        key = clock.frdKey(b.step, b.increment, b.mode, b.value, b.type);
      } else {
        std::optional<ccx::BlockKey> upcoming;
        for (std::size_t j = i + 1; j < c.blocks.size() && !upcoming; ++j)
          if (c.blocks[j].source == 'f')
            upcoming = clock.frdKey(c.blocks[j].step, c.blocks[j].increment, c.blocks[j].mode, c.blocks[j].value,
                                    c.blocks[j].type);
        key = clock.datKey(b.value, upcoming ? &*upcoming : nullptr);
      }
      const ccx::FramePlace p = clock.place(key);
      got.push_back((p.newFrame ? "+" : "") + ccx::stepName(p.step) + " " + p.description);
    }
    EXPECT_EQ(got, c.expected);
  }
}
