// The .dat and .sta readers on printed blocks as the solver writes them.
#include "dat.h"

#include <gtest/gtest.h>

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
    "         1  2.500000E-01  2.083333E-02  2.083333E-02  2.083333E-02  1.562500E-02  1.562500E-02  1.562500E-02\n";

TEST(Dat, BlocksOfEveryKindAndTheirMapping) {
  InputFile in("job.dat", kDat);
  DatReader r(in);
  struct Case { const char *what, *set; DatBlock::Kind kind; double time; int width; std::size_t rows; } cases[] = {
      {"displacements", "LOAD", DatBlock::Kind::Node, 1.0, 3, 1},
      {"stresses", "EX", DatBlock::Kind::IntegrationPoint, 1.0, 6, 2},
      {"heat flux", "EALL", DatBlock::Kind::IntegrationPoint, 2.0, 3, 1},
      {"center of gravity", "EALL", DatBlock::Kind::Total, 1.0, 3, 1},
      {"mass", "EALL", DatBlock::Kind::Element, 1.0, 7, 1},
  };
  std::vector<DatBlock> b(6);
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(cases[i].what);
    ASSERT_TRUE(r.next(b[i]));
    EXPECT_EQ(b[i].what, cases[i].what);
    EXPECT_EQ(b[i].kind, cases[i].kind);
    EXPECT_EQ(b[i].set, cases[i].set);
    EXPECT_DOUBLE_EQ(b[i].time, cases[i].time);
    EXPECT_EQ(b[i].width, cases[i].width);
    EXPECT_EQ(b[i].rows(), cases[i].rows);
  }
  EXPECT_FALSE(r.next(b[5]));
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
  EXPECT_EQ(m.position, "INTEGRATION_POINT");
  m = ccx::mapDatBlock(b[4]);
  EXPECT_EQ(m.position, "WHOLE_ELEMENT");
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
}
