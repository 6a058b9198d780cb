// Node prints become one region per node ("Node PART-1-1.7"), set totals one
// region per set ("Set FIX") and totals of no set (the contact spring energy)
// the region "Whole model"; each column is an output of (time, value) rows.
#include "node_history.h"

#include "import.h"

namespace ccx {

StepHistory::Region& StepHistory::region(const std::string& name) {
  auto [it, inserted] = index_.emplace(name, regions_.size());
  if (inserted) regions_.push_back(Region{name, -1, {}, {}});
  return regions_[it->second];
}

StepHistory::Output& StepHistory::output(Region& r, const std::string& name, const std::string& description) {
  for (Output& o : r.outputs)
    if (o.name == name) return o;
  r.outputs.push_back(Output{name, description, {}});
  return r.outputs.back();
}

void StepHistory::add(const DatBlock& b, const DatMapping& m, double stepTime) {
  const std::size_t rows = b.rows();
  for (std::size_t i = 0; i < rows; ++i) {
    const bool atNode = b.kind == DatBlock::Kind::Node;
    Region& r = atNode       ? region(std::string("Node ") + kInstance + "." + std::to_string(b.ids[i]))
                : b.set.empty() ? region("Whole model")
                                : region("Set " + b.set);
    if (atNode)
      r.node = b.ids[i];
    else
      r.set = b.set;
    for (int k = 0; k < b.width; ++k) {
      Output& o = output(r, m.outputs[static_cast<std::size_t>(k)], m.outputDescription);
      o.data.push_back(stepTime);
      o.data.push_back(b.values[i * static_cast<std::size_t>(b.width) + static_cast<std::size_t>(k)]);
    }
  }
}

void StepHistory::write(odbw::Writer& w, const std::string& step) {
  for (const Region& r : regions_) {
    odbw::HistoryRegionInfo info;
    info.description = r.name;
    info.instance = kInstance;
    if (r.node >= 0) info.node = r.node;
    if (!r.set.empty()) info.region = r.set;
    w.addHistoryRegion(step, r.name, info);
    for (const Output& o : r.outputs) {
      odbw::HistoryOutputInfo oi;
      oi.description = o.description;
      w.addHistoryOutput(step, r.name, o.name, oi, std::span<const double>(o.data), 2);
    }
  }
  regions_.clear();
  index_.clear();
}

}  // namespace ccx
