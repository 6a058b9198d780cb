// A stand-in for the field dispatcher that records every call, linked in its
// place so that the traversal is tested on its own.
#pragma once

#include <string>
#include <vector>

struct DispatchCall {
  std::string field, step;
  int increment = 0;
  std::string kind, region, indent;
  int depth = 0, values = 0;  // values of the field output handed over
};

extern std::vector<DispatchCall> dispatchCalls;  // every odbE_printField call since the last clear
