// Databases of the traversal and history golden cases (trav_*, hist_*).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "odb_edit.h"
#include "recipes.h"

using odbw::HistoryRegionInfo;
using odbw::Writer;

namespace {

// A frame of the increment at the time, with a scalar field TEMP on nodes 1, 2, ... of the instance (none: the
// file's default).
void addTemperature(Writer& w, const std::string& step, int increment, double time, const std::vector<float>& values,
                    std::optional<std::string> instance = {}) {
  char description[64];
  std::snprintf(description, sizeof description, "Increment %6d: Step Time = %8.3f", increment, time);
  const int frame = w.addFrame(step, {.incrementNumber = increment, .description = description});
  w.addFieldOutput(step, frame, "TEMP", {.description = "Temperature"});
  odbw::BlockInfo block{.instance = instance};
  for (int i = 1; i <= static_cast<int>(values.size()); ++i) block.nodeLabels.push_back(i);
  w.addBlock(step, frame, "TEMP", block, values, 1);
}

// An empty list is left out of the file, as a solver that records none would.
std::optional<std::vector<double>> listed(std::vector<double> v) {
  return v.empty() ? std::nullopt : std::optional(std::move(v));
}

odbw::StepInfo massProperties(double mass, std::vector<double> centre, std::vector<double> aboutCentre = {},
                              std::vector<double> aboutOrigin = {}) {
  return {.mass = mass, .massCenter = listed(centre), .inertiaAboutCenter = listed(aboutCentre),
          .inertiaAboutOrigin = listed(aboutOrigin)};
}

// -1 (no node, no element) and 0 (no point) are the file's defaults anyway.
HistoryRegionInfo pointInfo(const std::string& description, int node, int element = -1, int ip = 0, int sp = 0,
                            const char* set = nullptr) {
  return {.description = description, .node = node, .element = element, .ipNumber = ip, .sectionPoint = sp,
          .region = set ? std::optional<std::string>(set) : std::nullopt};
}

void addHistory(Writer& w, const std::string& step, const std::string& region, const std::string& output,
                const std::vector<float>& rows, int width = 2) {
  w.addHistoryOutput(step, region, output, {}, rows, width);
}

}  // namespace

GOLDEN_RECIPE(trav_no_steps) {
  Writer w(path);
  w.close();
}

// Two steps written Step-1 first, so the file's order differs from the name
// order; each with mass properties, a history region and frames.
GOLDEN_RECIPE(trav_walk) {
  Writer w(path);
  w.addStep("Step-1", massProperties(12.5, {1, 0.25, 0}, {1e-05, 2, 3, 0, -0.5, 1234567}, {10, 20, 30, 0.5, 0, 0}));
  addTemperature(w, "Step-1", 0, 0, {0, 0, 0});
  addTemperature(w, "Step-1", 1, 1, {1, 5, 3});
  w.addHistoryRegion("Step-1", "Node PART-1-1.7", pointInfo("Output at Node 7", 7));
  addHistory(w, "Step-1", "Node PART-1-1.7", "U2", {0, 0, 0.5f, 0.25f, 1, 0.5f});
  addHistory(w, "Step-1", "Node PART-1-1.7", "RF-2", {0, -1, 1, -3});

  w.addStep("Load-Step-2", massProperties(3, {-1.5, 2, 1e+30}, {1, 1, 1, 0, 0, 0}, {2, 2, 2, 0, 0, 0}));
  addTemperature(w, "Load-Step-2", 4, 2, {-2, 7.25f});
  w.addHistoryRegion("Load-Step-2", "Element PART-1-1.12 Int Point 3",
                     pointInfo("Output at Element 12 Int Point 3", -1, 12, 3));
  addHistory(w, "Load-Step-2", "Element PART-1-1.12 Int Point 3", "S11", {0, 100, 1, 250});
  w.close();
}

// Mass edge cases: -1.0 drops the group; an absent centre drops one line;
// a NaN mass is written; a step without mass behaves as -1.0.
GOLDEN_RECIPE(trav_mass_special) {
  Writer w(path);
  w.addStep("Step-1", massProperties(-1.0, {1, 2, 3}, {1, 1, 1, 0, 0, 0}));
  w.addStep("Step 2-b", massProperties(7, {}, {1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1}));
  w.addStep("Step-3", massProperties(std::numeric_limits<double>::quiet_NaN(), {0, 0, -0.001}));
  w.addStep("Step-4");
  w.close();
}

// Where a history region stands decides its point name: the last test
// that holds wins (node, element, integration point, section point, set).
GOLDEN_RECIPE(hist_points) {
  Writer w(path);
  const std::string s = "Step 1-a";
  w.addStep(s);
  const std::vector<float> rows = {0, 1, 1, 2};
  const struct { const char* region; HistoryRegionInfo info; } regions[] = {
      {"Node I.7", pointInfo("Node 7", 7)},
      {"Node I.0", pointInfo("Node 0", 0)},
      {"Element I.12", pointInfo("Element 12", -1, 12)},
      {"Element I.12 Int Point 3", pointInfo("Element 12 IP 3", 4, 12, 3)},
      {"Element I.12 IP 3 SP 5", pointInfo("Element 12 IP 3 SP 5", -1, 12, 3, 5)},
      {"Set TOP SET-1", pointInfo("Set", 7, 12, 3, 5, "TOP SET-1")},
      {"Assembly ASSEMBLY", pointInfo("Whole model", -1)},
  };
  for (const auto& r : regions) {
    w.addHistoryRegion(s, r.region, r.info);
    addHistory(w, s, r.region, "U-2 x", rows);
  }
  w.close();
}

// History values: an empty history, entries of width 0 and 3, negative
// values, a NaN, times larger than every value, and small and large floats.
GOLDEN_RECIPE(hist_values) {
  Writer w(path);
  w.addStep("Step-1");
  const std::string r = "Node I.7";
  w.addHistoryRegion("Step-1", r, pointInfo("Node 7", 7));
  addHistory(w, "Step-1", r, "EMPTY", {});
  addHistory(w, "Step-1", r, "W0", {0, 0}, 2);  // reshaped below to 3 rows of no floats
  addHistory(w, "Step-1", r, "W3", {0, 1, 2, 1, 9, -4}, 3);
  addHistory(w, "Step-1", r, "NEG", {0, -2, 1, -5});
  addHistory(w, "Step-1", r, "NAN", {0, 1, 1, std::numeric_limits<float>::quiet_NaN(), 2, 3});
  addHistory(w, "Step-1", r, "TIME", {100, 1, 200, 2});
  addHistory(w, "Step-1", r, "SMALL", {0, 1e-05f, 0.5f, 0.25f, 1, 1234567});
  w.close();
  odbw::edit::writeFloatDataset(path, "/steps/Step-1/historyRegions/" + r + "/historyOutputs/W0/data", {}, {3, 0});
}

// Chunks carry a Fletcher-32 checksum: one flipped byte in the stored values
// makes their read fail, and only their read.
void golden::damageStored(const std::string& path, const void* values, std::size_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string needle(static_cast<const char*>(values), size);
  const std::size_t at = bytes.find(needle);
  if (at == std::string::npos || bytes.find(needle, at + 1) != std::string::npos)
    throw std::runtime_error(path + ": the values to damage are not stored exactly once");
  bytes[at + 6] = static_cast<char>(bytes[at + 6] ^ 0x40);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A history whose stored values fail their checksum, in the second step:
// the first step is reported in full before the library gives up.
GOLDEN_RECIPE(trav_damaged) {
  const std::vector<float> marked = {0, 1111, 1, 2222, 2, 3333, 3, 4444};
  Writer w(path);
  w.addStep("Step-1", massProperties(1, {}));
  w.addHistoryRegion("Step-1", "Node I.7", pointInfo("Node 7", 7));
  addHistory(w, "Step-1", "Node I.7", "U2", {0, 0, 1, 0.5f});
  w.addStep("Step-2", massProperties(2, {}));
  w.addHistoryRegion("Step-2", "Node I.8", pointInfo("Node 8", 8));
  addHistory(w, "Step-2", "Node I.8", "U2", marked);
  w.close();
  golden::damageStored(path, marked.data(), marked.size() * sizeof(float));
}

// Sets of the root assembly, an instance and a part, with blanks, dashes
// and a "Warn" set that the dispatcher drops; one scalar field output. Field
// values belong to instances, so the part's sets get empty subsets, for which
// a names-only run writes nothing.
GOLDEN_RECIPE(trav_sets) {
  Writer w(path);
  const int nodes[] = {1, 2, 3}, elements[] = {1};
  const std::int64_t offsets[] = {0, 3};
  w.addPart("P");
  w.addInstance("PART-1-1", "P");
  w.setInstanceNodes("PART-1-1", nodes);
  w.setInstanceElements("PART-1-1", elements, offsets, nodes);
  for (const char* set : {"A", "Set Warn-1", "B"}) w.addAssemblySet(odbw::SetKind::Element, set, {{"PART-1-1", {1}}});
  w.addAssemblySet(odbw::SetKind::Node, "N", {{"PART-1-1", {2}}});
  w.addInstanceSet("PART-1-1", odbw::SetKind::Element, "TOP SET-2", elements);
  w.addInstanceSet("PART-1-1", odbw::SetKind::Node, "N-1", nodes);
  w.addPartSet("P", odbw::SetKind::Element, "PE", elements);
  w.addPartSet("P", odbw::SetKind::Node, "P N", nodes);
  w.addStep("Step-1");
  addTemperature(w, "Step-1", 1, 1, {1, 2, 3}, "PART-1-1");
  w.close();
}
