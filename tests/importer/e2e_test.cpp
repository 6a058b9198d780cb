// The importer end to end. Hand-written jobs (.inp, .frd, .dat, .sta) through ccx2odb, no solver needed: block
// placement and merge order, a missing .sta, node order, component mapping, failures that leave no file. With the
// solver installed, mass properties against the solver's own totals. (The solver's test decks against their .frd and
// .dat: tests/ccx-suite; a buckling step after a perturbation frequency step: the frame clock's table in dat_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "dat.h"
#include "input.h"
#include "odb/odb.h"
#include "odb/vocabulary.h"
#include "test_support.h"

namespace {

using testsupport::run;

// .frd records, fixed-column as the solver writes them.
std::string frdNodes(int first, int last) {
  char row[96];
  std::string s = (std::snprintf(row, sizeof row, "%6s%30d%38d\n", "2C", last - first + 1, 1), row);
  for (int n = first; n <= last; ++n)
    s += (std::snprintf(row, sizeof row, " -1%10d%12.5E%12.5E%12.5E\n", n, 0.1 * n, 0.0, 1.0), row);
  return s + " -3\n";
}

std::string frdElement(int label, int type, const std::vector<int>& nodes) {
  char row[128];
  std::string s = (std::snprintf(row, sizeof row, "%6s%30d%38d\n -1%10d%5d%5d%5d\n", "3C", 1, 1, label, type, 0, 1),
                   row);
  for (std::size_t i = 0; i < nodes.size(); ++i)
    s += (i % 10 ? "" : i ? "\n -2" : " -2") + (std::snprintf(row, sizeof row, "%10d", nodes[i]), std::string(row));
  return s + "\n -3\n";
}

struct Component { const char* name; int type, row, column; };
const std::vector<Component> kDisp = {{"D1", 2, 1, 0}, {"D2", 2, 2, 0}, {"D3", 2, 3, 0}};
const std::vector<Component> kStress = {{"SXX", 4, 1, 1}, {"SYY", 4, 2, 2}, {"SZZ", 4, 3, 3},
                                        {"SXY", 4, 1, 2}, {"SYZ", 4, 2, 3}, {"SZX", 4, 3, 1}};

// A nodal result block of step/increment at total time t over nodes 1..nodes; component k of node n holds
// 10 n + k + 1. Modal blocks give the analysis type (2, 4) and, for a frequency step, the mode.
std::string frdResult(int step, int inc, double t, const char* name, const std::vector<Component>& components,
                      int nodes = 4, int type = 0, int mode = 0) {
  char row[256];
  std::string s = (std::snprintf(row, sizeof row, "    1PSTEP%25d%12d%12d\n", 1, inc, step), row);
  if (mode > 0) s += (std::snprintf(row, sizeof row, "    1PMODE%26d\n", mode), row);
  s += (std::snprintf(row, sizeof row, "  100CL  101%12.5E%12d%22d%5d%12d\n -4  %-8s%5zu%5d\n", t, nodes, type, 1, 1,
                      name, components.size(), 1), row);
  for (const Component& c : components)
    s += (std::snprintf(row, sizeof row, " -5  %-8s%5d%5d%5d%5d\n", c.name, 1, c.type, c.row, c.column), row);
  for (int n = 1; n <= nodes; ++n) {
    s += (std::snprintf(row, sizeof row, " -1%10d", n), row);
    for (std::size_t k = 0; k < components.size(); ++k)
      s += (std::snprintf(row, sizeof row, "%12.5E", 10.0 * n + static_cast<double>(k) + 1), row);
    s += '\n';
  }
  return s + " -3\n";
}

// A .dat print of integration-point stresses at total time t: rows "element point".
std::string datStresses(const std::string& t, const std::vector<std::pair<int, int>>& rows) {
  std::string s = "\n stresses (elem, integ.pnt.,sxx,syy,szz,sxy,sxz,syz) for set EALL and time  " + t + "\n\n";
  char row[128];
  for (const auto& [e, p] : rows)
    s += (std::snprintf(row, sizeof row, "%10d%4d%14.6E%14.6E%14.6E%14.6E%14.6E%14.6E\n", e, p, 1.0, 2.0, 3.0, 4.0,
                        5.0, 6.0 + p), row);
  return s + "\n";
}

const std::string kSta =  // the .sta header
    "SUMMARY OF JOB INFORMATION\n  STEP      INC     ATT  ITRS     TOT TIME     STEP TIME      INC TIME\n";

// The database as text: each element's nodes; per frame its place and its fields, each with the first block's
// position, size, component labels and first row; each history output with its (time, value) rows; then their count.
std::string listing(const std::string& path) {
  odb_Odb& odb = openOdb(path.c_str());
  std::ostringstream s;
  int histories = 0;
  for (const odb_Element& e : odb.rootAssembly().instances()["PART-1-1"].elements()) {
    s << "element " << e.label() << ":";
    for (int n : e.connectivity()) s << ' ' << n;
    s << '\n';
  }
  for (int i = 0; i < odb.steps().size(); ++i) {
    const odb_Step& step = odb.steps().valueAt(i);
    for (const odb_Frame& frame : step.frames()) {
      s << step.name() << ": " << frame.incrementNumber() << ' ' << frame.frameValue() << " \"" << frame.description()
        << "\"\n";
      const odb_FieldOutputRepository fields = frame.fieldOutputs();
      for (int k = 0; k < fields.size(); ++k) {
        const odb_FieldBulkData& b = fields.valueAt(k).bulkDataBlocks()[0];
        s << "  " << fields.keyAt(k) << ' ' << odb_vocab::positionName(b.position()) << ' ' << b.length() << " x "
          << b.width();
        for (const odb_String& label : fields.valueAt(k).componentLabels()) s << ' ' << label;
        s << ':';
        for (int c = 0; c < b.width(); ++c) s << ' ' << b.data()[c];
        s << '\n';
      }
    }
    const odb_HistoryRegionRepository& regions = step.historyRegions();
    for (int r = 0; r < regions.size(); ++r) {
      const odb_HistoryOutputRepository& outputs = regions.valueAt(r).historyOutputs();
      for (int k = 0; k < outputs.size(); ++k, ++histories) {
        s << step.name() << ' ' << regions.keyAt(r) << ' ' << outputs.keyAt(k) << ':';
        for (const odb_SequenceFloat& row : outputs.valueAt(k).data()) s << ' ' << row[0] << ',' << row[1];
        s << '\n';
      }
    }
  }
  odb.close();
  return s.str() + "history outputs: " + std::to_string(histories) + "\n";
}

// The first line of `expected` not in `text` after those before it, then `text`; empty when all are there.
std::string firstMissing(const std::string& text, const std::vector<std::string>& expected) {
  std::istringstream in(text);
  std::string line;
  for (const std::string& e : expected) do {
      if (!std::getline(in, line)) return e + "\nmissing from\n" + text;
    } while (line != e);
  return "";
}

const char* const kTetDeck =
    "*NODE,NSET=NALL\n1,0,0,0\n2,1,0,0\n3,0,1,0\n4,0,0,1\n5,1,1,1\n*ELEMENT,TYPE=C3D4,ELSET=EALL\n1,1,2,3,4\n"
    "2,2,3,4,5\n*STEP\n*STATIC\n*END STEP\n*STEP\n*STATIC\n*END STEP\n";

std::string hex20Deck() {
  std::string s = "*NODE,NSET=NALL\n";
  for (int n = 1; n <= 20; ++n) s += std::to_string(n) + ",0,0,0\n";
  s += "*ELEMENT,TYPE=C3D20,ELSET=EALL\n1";
  for (int n = 1; n <= 20; ++n) s += (n == 16 ? ",\n" : ",") + std::to_string(n);
  return s + "\n*STEP\n*STATIC\n*END STEP\n";
}

long lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

}  // namespace

// Each row: the job's files (an empty .dat or .sta is absent), ccx2odb's options, the status and standard error
// expected, and lines the database's listing must hold in that order. A failure must leave no file behind.
TEST(HandMadeJobs, ImportOrFailAsTheFilesSay) {
  const std::string tet = "    1C\n" + frdNodes(1, 4) + frdElement(1, 3, {1, 2, 3, 4});
  const std::string disp1 = frdResult(1, 1, 1.0, "DISP", kDisp), disp2 = frdResult(1, 2, 1.0, "DISP", kDisp);
  const std::string cut = disp1.substr(0, disp1.rfind(" -1")), job = tet + disp1 + " 9999\n";
  const std::string uRow = "  U NODAL 4 x 3 U1 U2 U3: 11 12 13", inc1 = "Step-1: 1 1 \"Increment 1: Step Time = 1\"";
  const std::string ips = " x 6 S11 S22 S33 S12 S13 S23: 1 2 3 4 5 7";
  const std::string ip1 = "  S_IP INTEGRATION_POINT 1" + ips, ip2 = "  S_IP INTEGRATION_POINT 2" + ips;
  const struct Case {
    const char* name;
    std::string frd, dat, sta;
    int status;
    std::string err;
    std::vector<std::string> expected{};
    const char* command = "ccx2odb job";  // a shell command
    std::string inp = kTetDeck;
  } cases[] = {
      {"no end record: complete blocks imported, one warning", tet + disp1, "", "", 0,
       "ccx2odb: job.frd: no end record; the solver stopped after step 1 increment 1\n",
       {"element 1: 1 2 3 4", inc1, uRow}},
      {"nothing after the header", "    1C\n    1UUSER\n", "", "", 1,
       "ccx2odb: job.frd: nothing after the header: the solver stopped before writing results\n"},
      {"block cut in the middle, --partial", tet + disp1 + cut, "", "", 0,
       "ccx2odb: job.frd:" + std::to_string(lines(tet + disp1 + cut)) +
           ": unexpected end of file inside the DISP block; block dropped\n"
           "ccx2odb: job.frd: no end record; the solver stopped after step 1 increment 1\n",
       {inc1, uRow}, "ccx2odb --partial job"},
      {"model change: a later mesh block adds an element and its node",
       tet + disp1 + frdNodes(5, 5) + frdElement(2, 3, {2, 3, 4, 5}) +
           frdResult(2, 1, 2.0, "ERROR", {{"STR(%)", 1, 1, 0}}) + " 9999\n", "", "", 0, "",
       {"element 2: 2 3 4 5", "Step-2: 1 1 \"Increment 1: Step Time = 1\"", "  ERR_STR NODAL 4 x 1: 11"}},
      {"integration points: elements of 1 and 4 points in one print, element 2 from the deck", job,
       datStresses("0.1000000E+01", {{1, 1}, {2, 1}, {2, 2}, {2, 3}, {2, 4}}), "", 0, "",
       {"element 2: 2 3 4 5", inc1, uRow, ip1}},
      {"merge order: .dat blocks before and at the .frd's increment, placed by the .sta", tet + disp2 + " 9999\n",
       datStresses("0.5000000E+00", {{1, 1}, {2, 1}}) + datStresses("0.1000000E+01", {{1, 1}}) +
           "\n displacements (vx,vy,vz) for set LOAD and time  0.1000000E+01\n\n"
           "         3  2.500000E-01 -1.000000E+00  0.000000E+00\n\n",
       kSta + "    1         1     1     2  0.500000E+00  0.500000E+00  0.500000E+00\n"
              "    1         2     1     2  0.100000E+01  0.100000E+01  0.500000E+00\n", 0, "",
       {"Step-1: 1 0.5 \"Increment 1: Step Time = 0.5\"", ip2, "Step-1: 2 1 \"Increment 2: Step Time = 1\"", uRow, ip1,
        "Step-1 Node PART-1-1.3 U1: 1,0.25", "Step-1 Node PART-1-1.3 U2: 1,-1", "history outputs: 3"}},
      {"a print at a time neither the .sta nor the next .frd block knows: the next increment",
       tet + disp1 + frdResult(1, 2, 2.0, "DISP", kDisp) + " 9999\n",
       datStresses("0.1000000E+01", {{1, 1}}) + datStresses("0.1500000E+01", {{1, 1}}), "", 0, "",
       {inc1, uRow, ip1, "Step-1: 2 2 \"Increment 2: Step Time = 2\"", uRow, ip1}},
      {"20-node brick: deck node order (the .frd lists nodes 13-16 after 17-20), stress components in slot order",
       "    1C\n" + frdNodes(1, 20) +
           frdElement(1, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 17, 18, 19, 20, 13, 14, 15, 16}) +
           frdResult(1, 1, 1.0, "STRESS", kStress, 20) + " 9999\n", "", "", 0, "",
       {"element 1: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20", inc1,
        "  S ELEMENT_NODAL 20 x 6 S11 S22 S33 S12 S13 S23: 11 12 13 14 16 15"}, "ccx2odb job", hex20Deck()},
      {"bad .dat number: each value read from its own 14 columns", job,
       " displacements (vx,vy,vz) for set LOAD and time  0.1000000E+01\n\n"
       "         3  2.463875E-04 -1.7238x1E-04  1.138229E-03\n", "", 1,
       "ccx2odb: job.dat:3: bad number '-1.7238x1E-04' in columns 25-38\n"},
      {"bad .sta row", job, "", kSta + "     1          1     1     2  0.5000x0E+00  0.500000E+00  0.500000E+00\n", 1,
       "ccx2odb: job.sta:3: bad time in increment row\n"},
      {"two frames of one step with one increment: an error naming both blocks",
       tet + frdResult(1, 1, 41.7, "DISP", kDisp, 4, 2, 1) + frdResult(1, 1, 83.1, "DISP", kDisp, 4, 2, 2) +
           frdResult(1, 1, 41.7, "DISP", kDisp, 4, 2, 1) + " 9999\n", "", "", 1,
       "ccx2odb: job.frd:" + std::to_string(lines(tet) + 27) +
           ": the DISP block would open a second frame of Step-1 with increment 1 (the first was opened at job.frd:" +
           std::to_string(lines(tet) + 3) + ")\n"},
      {"write failure", job, "", "", 1, "ccx2odb: job.odb: File too large\n", {}, "ulimit -f 4; ccx2odb job"},
      {"an input as output: refused, the deck untouched, the .frd spelled another way", job, "", "", 1,
       "ccx2odb: ./job.frd: is an input\n", {},
       "cp job.inp saved; ccx2odb -o job.inp job 2>/dev/null && exit 9; cmp -s job.inp saved && rm saved || exit 9; "
       "ccx2odb -o ./job.frd job"},
      {"a directory as output: refused with the reason", job, "", "", 1,
       "ccx2odb: out.odb: is a directory; -o names the database file to write\n", {},
       "mkdir out.odb; ccx2odb -o out.odb job; s=$?; rmdir out.odb; exit $s"},
      {"a result file for the job name", job, "", "", 1,
       "ccx2odb: job.frd: a job name is expected (job or job.inp), not a result file\n", {}, "ccx2odb job.frd"},
      {"the solver never ran: no results, the files looked for named", "", "", "", 1,
       "ccx2odb: job: no results found (looked for job.frd and job.dat)\n"},
      {"a .dat without a .frd: imported with a warning", "", datStresses("0.1000000E+01", {{1, 1}, {2, 1}}), "", 0,
       "ccx2odb: job.frd: not found; only the printed results of job.dat are imported\n",
       {"element 2: 2 3 4 5", inc1, ip2}},
      {"leftovers of killed imports removed, a live import's kept", job, "", "", 0, "", {inc1},
       "touch job.odb.tmp999999999 job.odb.tmp$$ && ccx2odb job && rm job.odb.tmp$$ && ! ls job.odb.tmp* 2>/dev/null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    for (const auto& [file, text] :
         {std::pair{"job.inp", &c.inp}, {"job.frd", &c.frd}, {"job.dat", &c.dat}, {"job.sta", &c.sta}})
      if (!text->empty()) testsupport::writeFile(dir.file(file), *text);
    const auto r = run({"/bin/sh", "-c", std::string("ccx2odb() { '" CCX2ODB "' \"$@\"; }; ") + c.command}, dir.path());
    EXPECT_EQ(std::tie(r.status, r.err), std::tie(c.status, c.err));
    EXPECT_EQ(run({"/bin/sh", "-c", "ls | grep -c odb || true"}, dir.path()).out, c.status ? "0\n" : "1\n");
    if (c.status == 0 && testsupport::exists(dir.file("job.odb"))) {
      EXPECT_EQ(firstMissing(listing(dir.file("job.odb")), c.expected), "");
    }
  }
}

// A 1 x 2 x 3 brick of density 2 away from the origin, solved: the step's mass properties against the EMAS
// totals the solver printed. It prints second moments J; the database holds I11 = J22 + J33 ... and products.
TEST(SolverJobs, MassPropertiesMatchTheSolversTotals) {
  if (run({"/bin/sh", "-c", "command -v ccx"}, ".").status != 0) GTEST_SKIP() << "ccx is not installed";
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("box.inp"),
      "*NODE\n1,1,2,3\n2,2,2,3\n3,2,4,3\n4,1,4,3\n5,1,2,6\n6,2,2,6\n7,2,4,6\n8,1,4,6\n"
      "*ELEMENT,TYPE=C3D8,ELSET=EALL\n1,1,2,3,4,5,6,7,8\n*MATERIAL,NAME=STEEL\n*ELASTIC\n210000,0.3\n*DENSITY\n2.\n"
      "*SOLID SECTION,ELSET=EALL,MATERIAL=STEEL\n*STEP\n*STATIC\n*BOUNDARY\n1,1,3\n2,1,3\n4,1,3\n5,1,3\n*CLOAD\n"
      "7,1,10.\n*EL PRINT,ELSET=EALL,TOTALS=YES\nEMAS\n*NODE FILE\nU\n*END STEP\n");
  const auto r = run({"/bin/sh", "-c", "ccx -i box && test -f box.frd && '" CCX2ODB "' box"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::map<std::string, std::vector<double>> totals;
  ccx::InputFile dat(dir.file("box.dat"));
  ccx::DatReader reader(dat);
  for (ccx::DatBlock b; reader.next(b);)
    if (b.kind == ccx::DatBlock::Kind::Total && !totals.count(b.what)) totals[b.what] = b.values;
  const auto& J = totals["total mass moment of inertia"];
  const auto& Jc = totals["total mass moment of inertia about the center ofgravity"];
  ASSERT_TRUE(totals.count("total mass") && totals["center of gravity"].size() == 3 && J.size() == 6 && Jc.size() == 6);
  odb_Odb& odb = openOdb(dir.file("box.odb").c_str());
  const odb_Step& step = odb.steps()["Step-1"];
  EXPECT_NEAR(step.mass(), totals["total mass"][0], 1e-6);
  for (int k = 0; k < 6; ++k) {
    if (k < 3) { EXPECT_NEAR(step.massCenter()[k], totals["center of gravity"][k], 1e-6); }
    const int a = k == 0 ? 1 : 0, b = k == 2 ? 1 : 2;
    EXPECT_NEAR(step.inertiaAboutOrigin()[k], k < 3 ? J[a] + J[b] : J[k], 1e-6) << k;
    EXPECT_NEAR(step.inertiaAboutCenter()[k], k < 3 ? Jc[a] + Jc[b] : Jc[k], 1e-6) << k;
  }
  odb.close();
}
