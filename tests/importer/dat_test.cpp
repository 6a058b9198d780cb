// The .dat and .sta readers on printed blocks as the solver writes them.
#include "dat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>

#include "frame_clock.h"
#include "mapping.h"
#include "odb/vocabulary.h"
#include "sta.h"

using ccx::DatBlock;
using ccx::DatReader;
using ccx::InputFile;

const char* const kDat = "\n displacements (vx,vy,vz) for set LOAD and time  0.1000000E+01\n\n"
    "         3  2.463875E-04-1.723861E-04  1.138229E-03\n\n"
    " stresses (elem, integ.pnt.,sxx,syy,szz,sxy,sxz,syz) for set EX and time  0.1000000E+01\n\n"
    "         1   1 -2.600167E+00 -2.600167E+00  3.625318E+00  3.062590E+00  1.358358E+00  1.358358E+00\n"
    "         1   2 -5.200285E+00  5.231693E+00  3.297180E+00  2.988195E+00 -1.315433E+01  4.019350E+00\n\n"
    "                    E I G E N V A L U E   O U T P U T\n"
    "                    E I G E N V A L U E    N U M B E R     2\n"
    " heat flux (elem, integ.pnt.,qx,qy,qz) for setEALL and time  0.2000000E+01\n\n"
    "         4   1  1.000000E+00  2.000000E+00  3.000000E+00\n\n"
    " center of gravity for set EALL and time  0.1000000E+01\n\n"
    "        5.000000E-01  5.000000E-01  5.000000E-01\n\n"
    " mass (element, mass) and mass moment of itertia(xx,yy,zz,xy,xz,yz) for set EALL and time  0.1000000E+01\n\n"
    "         1  2.500000E-01  2.083333E-02  2.083333E-02  2.083333E-02  1.562500E-02  1.562500E-02  1.562500E-02\n"
    " contact stress (slave element+face,press,tang1,tang2) for all contact elements and time 0.1000000E+01\n\n"
    "        10          4  5.415709E+00  0.000000E+00  0.000000E+00\n"
    "        10          4  5.524685E+00  0.000000E+00  0.000000E+00\n\n"
    " total contact spring energy for time  0.1000000E+01\n\n        2.000010E-05\n\n"
    " contact stress (slave node,press,tang1,tang2) for all contact elements and time 0.1000000E+01\n\n\n"
    " contact stress (slave node,press,tang1,tang2) for all contact elements and time 0.2000000E+01\n\n"
    "       126  1.333483E+02  2.252051E+00  2.250385E+00\n";

// Each block read, and the first field or history output it becomes; a print after an eigenvalue number banner
// (at the time of the first such print) carries the mode.
TEST(Dat, BlocksOfEveryKindAndTheirMapping) {
  InputFile in("job.dat", kDat);
  DatReader r(in);
  using K = DatBlock::Kind;
  const struct Case {
    const char *what, *set; K kind; double time; int width; std::size_t rows; const char* mapped; int mode = 0;
  } cases[] = {
      {"displacements", "LOAD", K::Node, 1.0, 3, 1, "U1 history"},
      {"stresses", "EX", K::IntegrationPoint, 1.0, 6, 2, "S_IP INTEGRATION_POINT"},
      {"heat flux", "EALL", K::IntegrationPoint, 2.0, 3, 1, "HFL_IP INTEGRATION_POINT", 2},
      {"center of gravity", "EALL", K::Total, 1.0, 3, 1, "CG1 history"},
      {"mass", "EALL", K::Element, 1.0, 7, 1, "EMAS WHOLE_ELEMENT"},
      // Rows of a slave element face: element, face, values at one point of the face.
      {"contact stress", "", K::Face, 1.0, 3, 2, "CONTACT_STRESS_IP INTEGRATION_POINT"},
      {"total contact spring energy", "", K::Total, 1.0, 1, 1, "TOTAL_CONTACT_SPRING_ENERGY history"},
      // Contact prints of slave nodes are node rows; an empty one ends at the next header.
      {"contact stress", "", K::Node, 1.0, 3, 0, "CONTACT_STRESS1 history"},
      {"contact stress", "", K::Node, 2.0, 3, 1, "CONTACT_STRESS1 history"},
  };
  std::vector<DatBlock> b(std::size(cases));
  for (std::size_t i = 0; i < b.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(r.next(b[i]));
    const ccx::DatMapping m = ccx::mapDatBlock(b[i]);
    const std::string mapped = m.history ? m.outputs.at(0) + " history"
                                         : m.fields.at(0).name + " " + std::string(odb_vocab::positionName(m.position));
    EXPECT_EQ(std::tuple(b[i].what, b[i].kind, b[i].set, b[i].width, mapped, b[i].rows(), b[i].mode, b[i].modeKind),
              std::tuple(c.what, c.kind, c.set, c.width, c.mapped, c.rows, c.mode, c.mode ? 2 : 0));
    EXPECT_DOUBLE_EQ(b[i].time, c.time);
  }
  DatBlock end;
  EXPECT_FALSE(r.next(end));
  // Touching values: each is read from its own 14 columns.
  EXPECT_EQ(b[0].values, (std::vector<double>{2.463875e-04, -1.723861e-04, 1.138229e-03}));
  EXPECT_DOUBLE_EQ(b[1].values[10], -13.15433);
  EXPECT_EQ(std::tuple(b[1].points, b[5].ids, b[5].points, b[8].ids),  // b[5]: a contact print's element, face
            std::tuple(std::vector{1, 2}, std::vector{10, 10}, std::vector{4, 4}, std::vector{126}));
  EXPECT_EQ(ccx::mapDatBlock(b[4]).fields.size(), 7u);
  EXPECT_NE(ccx::mapDatBlock(b[4]).fields[0].description.find("Element"), std::string::npos);
}

TEST(Sta, IncrementsPlaceTimes) {
  InputFile in("job.sta", "SUMMARY OF JOB INFORMATION\n"
               "  STEP      INC     ATT  ITRS     TOT TIME     STEP TIME      INC TIME\n"
               "     1          1     1     2  0.100000E+00  0.100000E+00  0.100000E+00\n"
               "     1          2     1     2  0.100000E+01  0.100000E+01  0.900000E+00\n"
               "     2          1     1     3  0.101000E+01  0.100000E-01  0.100000E-01\n");
  const auto inc = ccx::readSta(in);
  ASSERT_EQ(inc.size(), 3u);
  // The search only goes forward; the .sta's six digits match the .dat's seven.
  EXPECT_EQ((std::vector{ccx::findIncrement(inc, 1.0, 0), ccx::findIncrement(inc, 1.01, 0),
                         ccx::findIncrement(inc, 0.1, 1), ccx::findIncrement(inc, 0.5, 0),
                         ccx::findIncrement(inc, 1.0000049, 0)}), (std::vector{1, 2, -1, -1, 1}));
}

// Blocks in, step / increment / frame value / description out. 'f' is a .frd block (step, increment, mode,
// value, analysis type, output counter), 'd' a .dat print at a total time (with a mode: its mode and the kind of
// the table before it); a print sees the next .frd block as pending. The deck's procedures per step, when given.
TEST(FrameClock, PlacesBlocksInStepsAndFrames) {
  struct Block { char source; int step, increment, mode; double value; int type, set = 0; };
  const struct Case {
    const char* name;
    std::vector<ccx::StaIncrement> sta;
    std::vector<Block> blocks;
    std::vector<std::string> expected;  // "Step-S description", "+" when the block opens a frame
    std::vector<int> procedures{};
  } cases[] = {
      {"buckling after a perturbation frequency step: the .frd's step 1 is the deck's third; base state first",
       {{1, 1, 1.0, 1.0}},
       {{'f', 1, 1, 0, 1.0, 0}, {'d', 0, 0, 0, 1.0, 0}, {'f', 2, 1, 1, 41.7, 2}, {'d', 0, 0, 1, 2.0, 2},
        {'f', 2, 1, 2, 83.1, 2}, {'d', 0, 0, 0, 1.0, 0}, {'f', 1, 1, 0, 0.0, 4, 8}, {'f', 1, 1, 0, 0.0, 4, 8},
        {'d', 0, 0, 1, 1.0, 4}, {'f', 1, 1, 0, 1.85, 4, 9}, {'f', 1, 1, 0, 1.85, 4, 9}, {'f', 1, 1, 0, 1.85, 4, 10},
        {'f', 1, 1, 0, 0.0, 4, 11}, {'f', 1, 1, 0, 7.4, 4, 12}},
       {"+Step-1 Increment 1: Step Time = 1", "Step-1 Increment 1: Step Time = 1", "+Step-2 Mode 1: Frequency = 41.7",
        "Step-2 Mode 1: Frequency = 41.7", "+Step-2 Mode 2: Frequency = 83.1", "+Step-3 Base state",
        "Step-3 Base state", "Step-3 Base state", "+Step-3 Mode 1: Buckling factor = 1.85",
        "Step-3 Mode 1: Buckling factor = 1.85", "Step-3 Mode 1: Buckling factor = 1.85",
        "+Step-3 Mode 2: Buckling factor = 1.85", "+Step-4 Base state", "+Step-4 Mode 1: Buckling factor = 7.4"},
       {0, 2, 4, 4}},
      {"dynamic step with tiny increments, each printed increment its own frame",
       {{1, 1, 0.5e-6, 0.5e-6}, {1, 2, 1e-6, 1e-6}, {1, 3, 1.5e-6, 1.5e-6}},
       {{'d', 0, 0, 0, 0.5e-6, 0}, {'d', 0, 0, 0, 1e-6, 0}, {'d', 0, 0, 0, 1e-6, 0}, {'d', 0, 0, 0, 1.5e-6, 0}},
       {"+Step-1 Increment 1: Step Time = 5e-07", "+Step-1 Increment 2: Step Time = 1e-06",
        "Step-1 Increment 2: Step Time = 1e-06", "+Step-1 Increment 3: Step Time = 1.5e-06"}},
      {"modal step without .sta rows: a frame per mode", {{1, 1, 1.0, 1.0}},
       {{'f', 1, 1, 0, 1.0, 0}, {'d', 0, 0, 0, 1.0, 0}, {'f', 2, 1, 1, 41.7, 2}, {'f', 2, 1, 2, 83.1, 2}},
       {"+Step-1 Increment 1: Step Time = 1", "Step-1 Increment 1: Step Time = 1",
        "+Step-2 Mode 1: Frequency = 41.7", "+Step-2 Mode 2: Frequency = 83.1"}},
      {".dat times matching no .frd increment, no .sta", {},
       {{'f', 1, 1, 0, 1.0, 0}, {'d', 0, 0, 0, 1.0, 0}, {'d', 0, 0, 0, 1.5, 0}, {'d', 0, 0, 0, 1.75, 0},
        {'f', 2, 1, 0, 2.5, 0}},
       {"+Step-1 Increment 1: Step Time = 1", "Step-1 Increment 1: Step Time = 1",
        "+Step-1 Increment 2: Step Time = 1.5", "+Step-1 Increment 3: Step Time = 1.75",
        "+Step-2 Increment 1: Step Time = 0.75"}},
      {".dat print of a pending .frd increment, no .sta", {},
       {{'d', 0, 0, 0, 2.0, 0}, {'f', 3, 4, 0, 2.0, 0}},
       {"+Step-3 Increment 4: Step Time = 2", "Step-3 Increment 4: Step Time = 2"}},
      {"step and increment repeated at a later time: the next increment", {},
       {{'f', 2, 1, 0, 1.0, 0}, {'f', 2, 1, 0, 2.0, 0}},
       {"+Step-2 Increment 1: Step Time = 1", "+Step-2 Increment 2: Step Time = 2"}},
      {"a mode line left before a static block does not number it", {},
       {{'f', 1, 2, 3, 1.0, 0}, {'f', 1, 3, 3, 2.0, 1}},
       {"+Step-1 Increment 2: Step Time = 1", "+Step-1 Increment 3: Step Time = 2"}},
      {"a print of a mode with no modal frame to join is placed by its time", {},
       {{'f', 1, 1, 0, 1.0, 0}, {'d', 0, 0, 6, 1.0, 2}},
       {"+Step-1 Increment 1: Step Time = 1", "Step-1 Increment 1: Step Time = 1"}},
      {"file without step lines: a new time is the next increment", {},
       {{'f', 0, 0, 0, 0.5, 0}, {'f', 0, 0, 0, 0.5, 0}, {'f', 0, 0, 0, 1.0, 0}},
       {"+Step-1 Increment 1: Step Time = 0.5", "Step-1 Increment 1: Step Time = 0.5",
        "+Step-1 Increment 2: Step Time = 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ccx::FrameClock clock(c.sta, c.procedures);
    auto frdKey = [&](const Block& b) {
      return clock.keyOfFrdBlock(b.step, b.increment, b.mode, b.value, b.type, b.set);
    };
    std::vector<std::string> got;
    for (auto b = c.blocks.begin(); b != c.blocks.end(); ++b) {
      std::optional<ccx::BlockKey> upcoming;
      const auto next = std::find_if(b + 1, c.blocks.end(), [](const Block& x) { return x.source == 'f'; });
      if (b->source == 'd' && next != c.blocks.end()) upcoming = frdKey(*next);
      const ccx::BlockKey key =
          b->source == 'f' ? frdKey(*b) : clock.keyOfPrint(b->value, upcoming ? &*upcoming : nullptr, b->mode, b->type);
      const ccx::FramePlace p = clock.place(key);
      got.push_back((p.newFrame ? "+" : "") + ccx::stepName(p.step) + " " + p.description);
    }
    EXPECT_EQ(got, c.expected);
  }
}
