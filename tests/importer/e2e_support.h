// Shared pieces of the end-to-end importer tests: the solver, a small deck
// and the tools under test.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// The solver's path, or "" when it is not installed.
std::string findSolver();
// A 2x2x2 brick cube of density 2 with two load steps, node and element prints.
std::string cubeDeck();
// Runs the solver on job in folder dir; returns false (and explains) when it fails.
bool solve(const std::string& dir, const std::string& job, std::string& why);

}  // namespace e2e
