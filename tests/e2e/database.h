// The scratch folder of an end-to-end run: databases, configuration files and
// the program's outputs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace e2e {

// Mass lines of the step in every database written by writeDatabase, with
// "EXTRACT_MASS" set.
inline const std::string kReport = "Step_1__Mass\t12.5\nStep_1__MassCenter\t(1, 0.25, 0)\n";
inline const std::string kProgress = "Processing Step: Step-1\nExtracting mass properties\n";

// One instance with two nodes and one element, the assembly element set ESET,
// and step Step-1 with its mass, mass centre and one history output.
void writeDatabase(const std::string& path, int formatVersion);

// Fills dir with: db.odb and other.odb (current format), old.odb (format 1),
// cfg.txt (asks for mass lines), bad.odb (a text file), cfgdir/ and folder.odb/ (folders).
void populate(const testsupport::TempDir& dir);

// The file's content, or nothing when it does not exist.
std::optional<std::string> fileIn(const testsupport::TempDir& dir, const std::string& name);

// Runs program with args in dir.
testsupport::RunResult runIn(const testsupport::TempDir& dir, const std::string& program,
                             const std::vector<std::string>& args);

}  // namespace e2e
