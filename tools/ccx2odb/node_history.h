// History regions gathered from the .dat's node prints and set totals over
// one step, written when the step is complete.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dat.h"
#include "mapping.h"
#include "odb/odb_writer.h"

namespace ccx {

class StepHistory {
 public:
  // Adds the rows of a node print or set total at the given step time.
  void add(const DatBlock& block, const DatMapping& mapping, double stepTime);
  // Writes the regions to step and forgets them.
  void write(odbw::Writer& writer, const std::string& step);

 private:
  struct Output {
    std::string name;
    std::string description;
    std::vector<double> data;  // time, value pairs
  };
  struct Region {
    std::string name;
    int node = -1;
    std::string set;
    std::vector<Output> outputs;
  };
  Region& region(const std::string& name);
  static Output& output(Region& r, const std::string& name, const std::string& description);

  std::vector<Region> regions_;
  std::map<std::string, std::size_t> index_;
};

}  // namespace ccx
