// Run driver: the command line, the existence checks, the upgrade and open of
// the database, the element set check, and the two output files (written
// through report_file.h). Reads and writes no globals of its own; the
// configuration goes through readConfigFile.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "run/report_file.h"
#include "run/run.h"
#include "run/settings.h"
#include "traverse/traverse.h"

namespace {

// What the command line named, for the length of the run.
struct CommandLine {
  odb_String odbName;
  odb_String configName;
  odb_String elsetName;
  bool odbGiven = false;
  bool configGiven = false;
  bool elsetGiven = false;
};

}  // namespace

bool fileExists(const odb_String& name) {
  struct stat info;
  return stat(name.cStr(), &info) == 0;
}

// The library's find reports an absent suffix at the name's length, so "job"
// becomes "job.odb" while "job.odb" and "my.odb.bak" stay as they are.
void rightTrim(odb_String& name, const char* suffix) {
  const int length = name.length();
  const int position = name.find(suffix);
  if (position == length) name.append(suffix);
}

void printExecutionSummary() {
  std::cout << " Program to open an output database and extract output parameters\n";
  std::cout << " from the database and write them to an ASCII file.\n";
  std::cout << " Usage: veltra harvestodb -odb <odb_filename> \n";
  std::cout << "                                 -config <config_filename> \n";
  std::cout << "                                 -elset(optional) <elsetName> \n";
  std::cout << " Requirements:\n";
  std::cout << " 1. -odb   : Name of the output database.\n";
  std::cout << " 2. -config: Name of the configuration file. \n";
  std::cout << " 3. -elset : Name of the assembly level element set.\n";
  std::cout << "             Search will be done only for element \n";
  std::cout << "             belonging to this set.\n";
  std::cout << "             If this parameter is not provided, search \n";
  std::cout << "             will be performed over the entire model.\n";
  std::cout << " 4. -help  : Print usage\n";
}

// Command-line faults end the process here, with the atexit shutdown of the
// library runtime still to come.
[[noreturn]] static void failWithUsage(const char* message) {
  std::cerr << message;
  printExecutionSummary();
  std::exit(1);
}

// Options are known by their first two characters only, and each file is
// tested when its option is met, so an earlier faulty option wins over a
// later "-help". An option with no value after it is ignored.
static CommandLine scanCommandLine(int argc, char** argv) {
  CommandLine cl;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strncmp(arg, "-h", 2) == 0) {
      printExecutionSummary();
      std::exit(0);
    }
    const bool takesValue =
        std::strncmp(arg, "-o", 2) == 0 || std::strncmp(arg, "-c", 2) == 0 || std::strncmp(arg, "-e", 2) == 0;
    if (!takesValue || i + 1 >= argc) continue;
    const char* value = argv[++i];
    if (arg[1] == 'o') {
      cl.odbName = value;
      rightTrim(cl.odbName, ".odb");
      if (!fileExists(cl.odbName)) {
        std::cerr << "**ERROR** output database  " << cl.odbName << " does not exist\n\n";
        std::exit(1);
      }
      cl.odbGiven = true;
    } else if (arg[1] == 'c') {
      cl.configName = value;
      if (!fileExists(cl.configName)) {
        std::cerr << "**ERROR** configuration file " << cl.configName << " does not exist\n\n";
        std::exit(1);
      }
      cl.configGiven = true;
    } else {
      cl.elsetName = value;
      cl.elsetGiven = true;
    }
  }
  if (!cl.odbGiven) failWithUsage("**ERROR** output database name is not provided\n");
  if (!cl.configGiven) failWithUsage("**ERROR** configuration file name is not provided\n");
  return cl;
}

int VLTmain(int argc, char** argv) {
  CommandLine cl = scanCommandLine(argc, argv);
  readConfigFile(cl.configName.cStr());
  const char* budget = std::getenv("HARVEST_MEMORY_MB");
  if (!setMemoryBudget(budget)) {
    std::cerr << "**ERROR** HARVEST_MEMORY_MB is not a positive number of megabytes: " << budget << "\n\n";
    std::exit(1);
  }

  // The library writes the upgraded copy under the base name plus ".odb", in
  // the working directory, and it stays there after the run.
  if (isUpgradeRequiredForOdb(cl.odbName)) {
    upgradeOdb(cl.odbName, "upgradedOdb");
    cl.odbName = "upgradedOdb.odb";
  }
  odb_Odb& odb = openOdb(cl.odbName, true, false);
  odb_Assembly& rootAssembly = odb.rootAssembly();

  // The set only has to exist: the report still covers the whole model.
  if (cl.elsetGiven && !rootAssembly.elementSets(false).isMember(cl.elsetName)) {
    std::cerr << "An assembly level elset " << cl.elsetName << " does not exist in the output database :"
              << odb.name() << "\n";
    odb.close();
    std::exit(0);
  }

  // A library exception from here on leaves this function with the file
  // closed by its destructor, keeping what was written, and no marker file.
  // So does a report that could not be written whole, found at the close.
  ReportFile report("params.txt");
  std::ostream out(&report);
  odbE_printFullOdb(odb, out);
  odb.close();
  report.close();
  writeDoneMarker();
  return 0;
}
