// The deck reader: GENERATE, nested sets, continuation lines, keyword case, *INCLUDE and bad decks.
#include "inp.h"

#include <gtest/gtest.h>

#include <tuple>

#include "test_support.h"

using ccx::readInpText;

namespace {

std::vector<int> labels(const ccx::InpSet* s) { return s ? s->labels : std::vector<int>{-1}; }

std::string error(const std::string& text, const std::string& dir = ".") {
  try {
    readInpText("job.inp", text, dir);
  } catch (const ccx::ParseError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(Inp, MeshSetsMaterialsAndSteps) {
  const ccx::InpModel m = readInpText(
      "job.inp", "** a comment\n*Node, nset=Nall\n1, 0., 0., 0.\n2, 1., 0., 0.\n3, 0., 1., 0.\n4, 0., 0., 1.\n"
      "*element, type=c3d4,\n  elset=Solid\n7, 1, 2,\n   3, 4\n*ELEMENT,TYPE=B32,ELSET=BEAM\n8, 1, 2, 3,\n*NSET, NSET=base, GENERATE\n1, 3, 2\n*nset,nset=Both\n"
      "base, 4\n*ELSET,ELSET=Outer\nsolid\n*MATERIAL,NAME=Steel\n*DENSITY\n7.8e-9\n"
      "*SOLID SECTION, ELSET=OUTER, MATERIAL=STEEL\n*STEP\n*STATIC\n*END STEP\n*Step, perturbation\n*Frequency\n6\n"
      "*End Step\n*STEP\n*CLOAD\n1,3,-1.\n*BUCKLE\n3\n*END STEP\n*STEP\n*END STEP\n");
  EXPECT_EQ(m.nodeLabels, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(m.elementLabels, (std::vector<int>{7, 8}));
  EXPECT_EQ(m.typeNames, (std::vector<std::string>{"C3D4", "B32"}));
  // Continued on the next line; a complete node list ends even after a trailing comma.
  EXPECT_EQ(m.connectivity, (std::vector<int>{1, 2, 3, 4, 1, 2, 3}));
  EXPECT_EQ(labels(m.findNodeSet("NALL")), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(labels(m.findNodeSet("BASE")), (std::vector<int>{1, 3}));     // GENERATE 1, 3, 2
  EXPECT_EQ(labels(m.findNodeSet("BOTH")), (std::vector<int>{1, 3, 4}));  // nested set name
  EXPECT_EQ(labels(m.findElementSet("SOLID")), std::vector<int>{7});      // from *ELEMENT, ELSET=
  EXPECT_EQ(labels(m.findElementSet("OUTER")), std::vector<int>{7});
  ASSERT_EQ(m.sections.size(), 1u);
  EXPECT_DOUBLE_EQ(m.densities.at("STEEL"), 7.8e-9);
  EXPECT_EQ(std::tuple(m.steps, m.procedures), std::tuple(4, std::vector{0, 2, 4, -1}));  // .frd analysis types
}

TEST(Inp, IncludeReadsFilesNextToTheDeck) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("mesh.inp"), "*NODE,NSET=N\n5,1,2,3\n");
  const ccx::InpModel m = readInpText("job.inp", "*INCLUDE, INPUT=mesh.inp\n*NSET,NSET=M\nN\n", dir.path());
  EXPECT_EQ(std::tuple(m.nodeLabels, labels(m.findNodeSet("M"))), std::tuple(std::vector{5}, std::vector{5}));
  EXPECT_EQ(m.includes, std::vector<std::string>{dir.file("mesh.inp")});
  // An absolute path is taken as it is, wherever the deck lies.
  testsupport::TempDir other;
  const ccx::InpModel a =
      readInpText("job.inp", "*INCLUDE, INPUT=" + dir.file("mesh.inp") + "\n*NSET,NSET=M\nN\n", other.path());
  EXPECT_EQ(a.nodeLabels, std::vector<int>{5});
  EXPECT_EQ(error("*include,input=gone.inp\n", dir.path()),
            dir.path() + "/gone.inp: cannot open: No such file or directory");
}

TEST(Inp, BadDecksNameFileAndLine) {
  const struct Case { const char* name; const char* text; const char* expected; } cases[] = {
      {"unknown nested set", "*NODE\n1,0,0,0\n*NSET,NSET=A\n1\n*NSET,NSET=B\nA,\nmissing\n",
       "job.inp:7: unknown node set MISSING"},
      {"unknown section set", "*SOLID SECTION,ELSET=Nowhere,MATERIAL=M\n",
       "job.inp:1: *SOLID SECTION names an unknown element set NOWHERE"},
      {"bad node number", "*NODE\n1x,0,0,0\n", "job.inp:2: bad node number '1x'"},
      {"element without type", "*ELEMENT,ELSET=E\n1,1,2\n", "job.inp:1: *ELEMENT without TYPE="},
      {"bad generate", "*ELSET,ELSET=E,GENERATE\n5,1\n", "job.inp:2: bad GENERATE range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error(c.text), c.expected);
  }
}
