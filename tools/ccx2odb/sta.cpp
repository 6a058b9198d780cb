// The .sta reader. Rows are blank-separated here: the file is a short table
// written with list-directed spacing, one increment per row.
#include "sta.h"


namespace ccx {

static std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::vector<StaIncrement> readSta(InputFile& in) {
  std::vector<StaIncrement> out;
  std::string_view line;
  while (in.nextLine(line)) {
    const auto w = words(line);
    if (w.size() < 6) continue;
    long step = 0, inc = 0;
    if (!parseInt(w[0], step) || !parseInt(w[1], inc)) continue;  // headings
    StaIncrement r;
    r.step = static_cast<int>(step);
    r.increment = static_cast<int>(inc);
    if (!parseReal(w[4], r.totalTime) || !parseReal(w[5], r.stepTime)) in.fail("bad time in increment row");
    out.push_back(r);
  }
  return out;
}

int findIncrement(const std::vector<StaIncrement>& increments, double time, std::size_t from) {
  for (std::size_t i = from; i < increments.size(); ++i)
    if (sameTime(increments[i].totalTime, time)) return static_cast<int>(i);
  return -1;
}

}  // namespace ccx
