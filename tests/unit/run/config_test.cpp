#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iomanip>
#include <sstream>
#include <string>

#include "run/settings.h"
#include "test_support.h"

using namespace std::string_literals;

namespace {

// The settings as text: the flags that are set, then the percentage. A case
// thus also catches a keyword that sets more than it should.
std::string settings() {
  const std::pair<const char*, bool> flags[] = {
      {"mass", extract_mass}, {"history", extract_history}, {"field", extract_field},
      {"minmax", extract_minMax_history}, {"all", extract_all_field}, {"stress", extract_stress_field},
      {"spatial", extract_spatial_field}, {"element", extract_element_field}, {"enggmin", engg_min},
      {"absmin", absolute_min}, {"enggmax", engg_max}, {"absmax", absolute_max}, {"inv", tensor_invariants},
      {"sets", extract_field_sets}, {"comp", extract_field_components}, {"compute", compute_values}};
  std::ostringstream s;
  for (const auto& [name, on] : flags) s << (on ? name + std::string(" ") : "");
  s << "per=" << std::setprecision(17) << per;
  return s.str();
}

std::string readPath(const std::string& path) {
  testing::internal::CaptureStdout();
  readConfigFile(path.c_str());
  return testing::internal::GetCapturedStdout();
}

const std::string kOpen = "ODB EXTRACTIONS\n", kLong(10 << 20, 'x');

struct Case { const char* name; std::string content; const char* want; /* settings() afterwards */ };

const Case kCases[] = {
    {"no opening line", "EXTRACT_MASS\nPERCENTAGE=5\n", "compute per=0"},
    {"lines before the opening line", "EXTRACT_MASS\nPERCENTAGE=5\n" + kOpen + "EXTRACT_HISTORY\n",
     "history compute per=0"},
    {"opening line is scanned", "ODB EXTRACTIONS EXTRACT_MASS\n", "mass compute per=0"},
    {"opening text inside a line", "# ODB EXTRACTIONS below\nEXTRACT_ALL\n", "all compute per=0"},
    {"case-sensitive", "odb extractions\nEXTRACT_MASS\n" + kOpen + "extract_mass\n", "compute per=0"},
    {"sets also set field", kOpen + "EXTRACT_FIELD_SETS\n", "field sets compute per=0"},
    {"several on one line, inside longer words", kOpen + "xEXTRACT_STRESSyEXTRACT_SPATIAL,EXTRACT_ELEMENT\n",
     "stress spatial element compute per=0"},
    {"typical file", "My settings\n" + kOpen + "EXTRACT_FIELD EXTRACT_STRESS\nENGINEERING_MAX\nPERCENTAGE = 5\n",
     "field stress enggmax compute per=5"},
    {"every keyword",
     kOpen + "EXTRACT_MASS EXTRACT_HISTORY MINMAX_HISTORY EXTRACT_ALL EXTRACT_STRESS EXTRACT_SPATIAL\n"
             "EXTRACT_ELEMENT EXTRACT_FIELD_SETS EXTRACT_FIELD_COMPONENTS DO_NOT_COMPUTE_VALUES ABSOLUTE_MAX\n"
             "ABSOLUTE_MIN ENGINEERING_MIN ENGINEERING_MAX PERCENTAGE=12.5 TENSOR_INVARIANTS",
     "mass history field minmax all stress spatial element enggmin absmin enggmax absmax inv sets comp per=12.5"},
    {"names only is never undone", kOpen + "DO_NOT_COMPUTE_VALUES\nCOMPUTE_VALUES\n", "per=0"},
    {"CRLF line ends", "ODB EXTRACTIONS\r\nEXTRACT_MASS\r\nPERCENTAGE=95\r\n", "mass compute per=95"},
    {"no final line end", kOpen + "TENSOR_INVARIANTS", "inv compute per=0"},
    {"very long lines", kOpen + kLong + "EXTRACT_ALL\n" + kLong + "EXTRACT_MASS", "mass all compute per=0"},
    {"binary bytes", kOpen + "\0\xff EXTRACT_HISTORY\x01\n\x80\0"s + "MINMAX_HISTORY\n",
     "history minmax compute per=0"},
    // PERCENTAGE: the text after the first "=" of the line, at most 23
    // characters of it, converted as atof does (hexadecimal included).
    {"last percentage wins", kOpen + "PERCENTAGE=90\nPERCENTAGE=95.5\n", "compute per=95.5"},
    {"no number after =", kOpen + "PERCENTAGE=50\nPERCENTAGE = abc\n", "compute per=0"},
    {"number then text", kOpen + "PERCENTAGE = 97 %\n", "compute per=97"},
    {"first = of the line", kOpen + "LIMIT=3 PERCENTAGE=90\n", "compute per=3"},
    {"no = keeps the value", kOpen + "PERCENTAGE=7\nPERCENTAGE 42\n", "compute per=7"},
    {"hexadecimal", kOpen + "PERCENTAGE=0x1A\n", "compute per=26"},
    {"blanks count towards 23", kOpen + "PERCENTAGE=" + std::string(22, ' ') + "75\n", "compute per=7"},
};

TEST(ConfigFile, Keywords) {
  const testsupport::TempDir dir;
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.name);
    resetSettings();
    testsupport::writeFile(dir.file("config.txt"), row.content);
    EXPECT_EQ(readPath(dir.file("config.txt")), "");
    EXPECT_EQ(settings(), row.want);
  }
}

// The message has no line end, and the settings stay as they were.
TEST(ConfigFile, UnreadablePath) {
  const testsupport::TempDir dir;
  testsupport::writeFile(dir.file("locked.txt"), kOpen + "EXTRACT_HISTORY\n");
  chmod(dir.file("locked.txt").c_str(), 0);
  const bool root = geteuid() == 0;  // root reads the locked file anyway
  resetSettings();
  for (const std::string& path : {dir.path(), dir.file("missing.txt"), dir.file("locked.txt")}) {
    SCOPED_TRACE(path);
    if (root && path == dir.file("locked.txt")) continue;
    extract_mass = true;
    EXPECT_EQ(readPath(path), "Unable to open file");
    EXPECT_EQ(settings(), "mass compute per=0");
  }
}

}  // namespace
