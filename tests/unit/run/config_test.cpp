// readConfigFile: the keyword section, substring matching and every form of
// the PERCENTAGE line, checked on whole settings snapshots.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "run/settings.h"
#include "test_support.h"

using namespace std::string_literals;

namespace {

// All settings at once, so a case also catches a keyword that sets too much.
struct Snapshot {
  bool mass, history, field, minMaxHistory, all, stress, spatial, element, enggMin, absMin, enggMax, absMax,
      invariants, fieldSets, components, compute;
  double per;

  static Snapshot current() {
    return {extract_mass, extract_history, extract_field, extract_minMax_history, extract_all_field,
            extract_stress_field, extract_spatial_field, extract_element_field, engg_min, absolute_min, engg_max,
            absolute_max, tensor_invariants, extract_field_sets, extract_field_components, compute_values, ::per};
  }
  static Snapshot defaults() {
    Snapshot s{};
    s.compute = true;
    return s;
  }
  bool operator==(const Snapshot& o) const {
    const bool samePer = per == o.per || (std::isnan(per) && std::isnan(o.per));
    return samePer && mass == o.mass && history == o.history && field == o.field &&
           minMaxHistory == o.minMaxHistory && all == o.all && stress == o.stress && spatial == o.spatial &&
           element == o.element && enggMin == o.enggMin && absMin == o.absMin && enggMax == o.enggMax &&
           absMax == o.absMax && invariants == o.invariants && fieldSets == o.fieldSets &&
           components == o.components && compute == o.compute;
  }
};

void PrintTo(const Snapshot& s, std::ostream* os) {
  *os << "{mass " << s.mass << " history " << s.history << " field " << s.field << " minMaxHistory "
      << s.minMaxHistory << " all " << s.all << " stress " << s.stress << " spatial " << s.spatial << " element "
      << s.element << " enggMin " << s.enggMin << " absMin " << s.absMin << " enggMax " << s.enggMax << " absMax "
      << s.absMax << " invariants " << s.invariants << " fieldSets " << s.fieldSets << " components "
      << s.components << " compute " << s.compute << " per " << s.per << "}";
}

class ConfigFile : public testing::Test {
 protected:
  void SetUp() override { resetSettings(); }
  void TearDown() override { resetSettings(); }

  // Reads content as a configuration file and returns what went to stdout.
  std::string read(const std::string& content) {
    const std::string path = dir_.file("config.txt");
    testsupport::writeFile(path, content);
    testing::internal::CaptureStdout();
    readConfigFile(path.c_str());
    return testing::internal::GetCapturedStdout();
  }

  testsupport::TempDir dir_;
};

struct Case {
  const char* name;
  std::string content;
  void (*expect)(Snapshot&);  // what the file changes from the defaults
};

const std::string kOpen = "ODB EXTRACTIONS\n";

const Case kSectionCases[] = {
    {"empty file", "", [](Snapshot&) {}},
    {"keywords without the opening line", "EXTRACT_MASS\nEXTRACT_FIELD\nPERCENTAGE=5\n", [](Snapshot&) {}},
    {"keywords before the opening line", "EXTRACT_MASS\nPERCENTAGE=5\n" + kOpen + "EXTRACT_HISTORY\n",
     [](Snapshot& s) { s.history = true; }},
    {"opening line is itself scanned", "ODB EXTRACTIONS EXTRACT_MASS\n", [](Snapshot& s) { s.mass = true; }},
    {"opening text inside a longer line", "## my ODB EXTRACTIONS below\nEXTRACT_ALL\n",
     [](Snapshot& s) { s.all = true; }},
    {"opening line is case-sensitive", "odb extractions\nEXTRACT_MASS\n", [](Snapshot&) {}},
    {"keywords are case-sensitive", kOpen + "extract_mass\nExtract_Field\n", [](Snapshot&) {}},
    {"field components also set field", kOpen + "EXTRACT_FIELD_COMPONENTS\n",
     [](Snapshot& s) { s.components = s.field = true; }},
    {"field sets also set field", kOpen + "EXTRACT_FIELD_SETS\n", [](Snapshot& s) { s.fieldSets = s.field = true; }},
    {"keyword inside a longer word", kOpen + "NO_EXTRACT_MASS\n", [](Snapshot& s) { s.mass = true; }},
    {"several keywords on one line", kOpen + "xEXTRACT_STRESSyEXTRACT_SPATIAL,EXTRACT_ELEMENT\n",
     [](Snapshot& s) { s.stress = s.spatial = s.element = true; }},
    {"title, section and example settings",
     "My settings\n" + kOpen + "EXTRACT_FIELD EXTRACT_STRESS\nENGINEERING_MAX\nPERCENTAGE = 5\n",
     [](Snapshot& s) {
       s.field = s.stress = s.enggMax = true;
       s.per = 5.0;
     }},
    {"all seventeen keywords",
     kOpen + "EXTRACT_MASS EXTRACT_HISTORY MINMAX_HISTORY EXTRACT_ALL EXTRACT_STRESS EXTRACT_SPATIAL\n"
             "EXTRACT_ELEMENT EXTRACT_FIELD_SETS EXTRACT_FIELD_COMPONENTS DO_NOT_COMPUTE_VALUES\n"
             "ABSOLUTE_MAX ABSOLUTE_MIN ENGINEERING_MIN ENGINEERING_MAX PERCENTAGE=12.5 TENSOR_INVARIANTS\n",
     [](Snapshot& s) {
       s = {true, true, true, true, true, true, true, true, true, true, true, true, true, true, true, false, 12.5};
     }},
    {"names only is never undone", kOpen + "DO_NOT_COMPUTE_VALUES\nCOMPUTE_VALUES\nEXTRACT_MASS\n",
     [](Snapshot& s) {
       s.compute = false;
       s.mass = true;
     }},
    {"minmax history alone", kOpen + "MINMAX_HISTORY\n", [](Snapshot& s) { s.minMaxHistory = true; }},
    {"absolute extremes are recorded", kOpen + "ABSOLUTE_MAX\nABSOLUTE_MIN\n",
     [](Snapshot& s) { s.absMax = s.absMin = true; }},
    {"engineering minimum and invariants", kOpen + "ENGINEERING_MIN\nTENSOR_INVARIANTS\n",
     [](Snapshot& s) { s.enggMin = s.invariants = true; }},
    {"carriage returns are kept and harmless", "ODB EXTRACTIONS\r\nEXTRACT_MASS\r\nPERCENTAGE=95\r\n",
     [](Snapshot& s) {
       s.mass = true;
       s.per = 95.0;
     }},
    {"last line without a line end", kOpen + "EXTRACT_HISTORY\nTENSOR_INVARIANTS",
     [](Snapshot& s) { s.history = s.invariants = true; }},
    {"binary bytes do not end the line or the file",
     kOpen + "\0\xff\xfe EXTRACT_HISTORY\x01\n\x80\0"s + "EXTRACT_MASS\n",
     [](Snapshot& s) { s.history = s.mass = true; }},
};

TEST_F(ConfigFile, SectionAndKeywords) {
  for (const Case& row : kSectionCases) {
    SCOPED_TRACE(row.name);
    resetSettings();
    EXPECT_EQ(read(row.content), "");
    Snapshot want = Snapshot::defaults();
    row.expect(want);
    EXPECT_EQ(Snapshot::current(), want);
  }
}

struct PercentCase {
  const char* name;
  std::string lines;  // after the opening line
  double per;         // NAN for a NaN result
};

const PercentCase kPercentCases[] = {
    {"no percentage line", "ENGINEERING_MAX\n", 0.0},
    {"plain number", "PERCENTAGE=5\n", 5.0},
    {"blanks around the equals sign", "PERCENTAGE = 7.5\n", 7.5},
    {"last line wins", "PERCENTAGE=90\nEXTRACT_MASS\nPERCENTAGE=95.5\n", 95.5},
    {"nothing after the equals sign", "PERCENTAGE=50\nPERCENTAGE=\n", 0.0},
    {"text that is no number", "PERCENTAGE=50\nPERCENTAGE = abc\n", 0.0},
    {"number followed by text", "PERCENTAGE = 97 %\n", 97.0},
    {"first equals sign of the line", "LIMIT=3 PERCENTAGE=90\n", 3.0},
    {"equals sign of another keyword", "ENGINEERING_MAX=1 PERCENTAGE=2\n", 1.0},
    {"no equals sign keeps the value", "PERCENTAGE=7\nPERCENTAGE 42\n", 7.0},
    {"negative", "PERCENTAGE=-2.5\n", -2.5},
    {"exponent", "PERCENTAGE=1e1\n", 10.0},
    {"hexadecimal", "PERCENTAGE=0x1A\n", 26.0},
    {"infinity", "PERCENTAGE=inf\n", INFINITY},
    {"not a number", "PERCENTAGE=nan\n", NAN},
    {"only 23 characters are converted", "PERCENTAGE=123456789012345678901234567\n", 12345678901234567890123.0},
    {"leading blanks count towards the 23", "PERCENTAGE=" + std::string(22, ' ') + "75\n", 7.0},
    {"percentage before the section is ignored", "", 0.0},
};

TEST_F(ConfigFile, PercentageLine) {
  for (const PercentCase& row : kPercentCases) {
    SCOPED_TRACE(row.name);
    resetSettings();
    const std::string before = row.lines.empty() ? "PERCENTAGE=40\n" : "";
    EXPECT_EQ(read(before + kOpen + row.lines), "");
    if (std::isnan(row.per))
      EXPECT_TRUE(std::isnan(per)) << per;
    else
      EXPECT_EQ(per, row.per);
  }
}

TEST_F(ConfigFile, VeryLongLineIsRead) {
  const std::string longLine(10 * 1024 * 1024, 'x');
  EXPECT_EQ(read(kOpen + longLine + "EXTRACT_ALL PERCENTAGE=" + longLine + "\nEXTRACT_MASS"), "");
  EXPECT_TRUE(extract_all_field);
  EXPECT_TRUE(extract_mass);
  EXPECT_EQ(per, 0.0);
}

// A file that cannot be read prints the message without a line end and
// leaves whatever the settings held.
TEST_F(ConfigFile, UnreadablePathKeepsSettings) {
  extract_mass = true;
  per = 5.0;
  const std::string missing = dir_.file("missing.txt");
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {{"directory", dir_.path()}, {"missing file", missing}};
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    testing::internal::CaptureStdout();
    readConfigFile(row.path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open file");
    Snapshot want = Snapshot::defaults();
    want.mass = true;
    want.per = 5.0;
    EXPECT_EQ(Snapshot::current(), want);
  }
}

TEST_F(ConfigFile, NoPermission) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  const std::string path = dir_.file("locked.txt");
  testsupport::writeFile(path, kOpen + "EXTRACT_MASS\n");
  chmod(path.c_str(), 0);
  testing::internal::CaptureStdout();
  readConfigFile(path.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to open file");
  EXPECT_FALSE(extract_mass);
}

}  // namespace
