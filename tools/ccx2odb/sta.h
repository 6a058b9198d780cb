// Reader of the solver's .sta status file: one row per converged
// increment, which places the total times of the .dat in steps and increments.
#pragma once

#include <string>
#include <vector>

#include "input.h"

namespace ccx {

struct StaIncrement {
  int step = 0;
  int increment = 0;
  double totalTime = 0.0;
  double stepTime = 0.0;
};

std::vector<StaIncrement> readSta(InputFile& in);

// Finds the increment whose total time matches time to the printed digits,
// searching from index from on (times of the .dat arrive in order); returns
// -1 when none matches.
int findIncrement(const std::vector<StaIncrement>& increments, double time, std::size_t from);

}  // namespace ccx
