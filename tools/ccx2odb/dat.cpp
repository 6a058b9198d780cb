// The .dat reader. Headers are matched by their words, rows by columns:
// ids are I10 (and I4 for the integration point), values E14.6, and total
// rows have six blanks before their values.
#include "dat.h"

namespace ccx {

static std::vector<std::string> splitColumns(std::string_view list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string_view item = trim(list.substr(start, comma == list.npos ? list.npos : comma - start));
    if (!item.empty()) out.emplace_back(item);
    if (comma == list.npos) return out;
    start = comma + 1;
  }
}

// "stresses (elem, integ.pnt.,sxx,...) for set EX and time  0.1000000E+01"
bool DatReader::header(std::string_view line, DatBlock& b) {
  const std::size_t timeAt = line.rfind(" and time");
  const std::size_t setAt = line.rfind("for set");
  if (timeAt == line.npos || setAt == line.npos || setAt > timeAt) return false;
  if (!parseReal(line.substr(timeAt + 9), b.time)) in_.fail("bad time in the header of a printed block");
  b.set = upper(trim(line.substr(setAt + 7, timeAt - setAt - 7)));
  const std::string_view head = trim(line.substr(0, setAt));
  const std::size_t paren = head.find('(');
  b.what = std::string(trim(head.substr(0, paren)));
  b.columns.clear();
  for (std::size_t p = paren; p != head.npos; p = head.find('(', p + 1)) {
    const std::size_t close = head.find(')', p);
    if (close == head.npos) break;
    for (auto& c : splitColumns(head.substr(p + 1, close - p - 1))) b.columns.push_back(std::move(c));
  }
  const bool total = b.what.rfind("total", 0) == 0 || b.what.rfind("center of gravity", 0) == 0;
  if (total) {
    b.kind = DatBlock::Kind::Total;
  } else if (b.columns.size() >= 2 && b.columns[0] == "elem" && b.columns[1].rfind("integ", 0) == 0) {
    b.kind = DatBlock::Kind::IntegrationPoint;
    b.columns.erase(b.columns.begin(), b.columns.begin() + 2);
  } else if (!b.columns.empty() && (b.columns[0] == "element" || b.columns[0] == "elem")) {
    b.kind = DatBlock::Kind::Element;
    b.columns.erase(b.columns.begin());
  } else {
    b.kind = DatBlock::Kind::Node;
  }
  // Prints without a column list ("temperatures", "center of gravity") take
  // their width from the first row.
  b.width = static_cast<int>(b.columns.size());
  return true;
}

static std::string columns(std::size_t first, std::size_t width) {
  return "columns " + std::to_string(first + 1) + "-" + std::to_string(first + width);
}

static int intColumn(InputFile& in, std::string_view line, std::size_t first, std::size_t width, const char* what) {
  long v = 0;
  const std::string_view f = column(line, first, width);
  if (!parseInt(f, v) || v < -2147483647L || v > 2147483647L)
    in.fail(std::string("bad ") + what + " '" + std::string(trim(f)) + "' in " + columns(first, width));
  return static_cast<int>(v);
}

void DatReader::rows(DatBlock& b) {
  const std::size_t first = b.kind == DatBlock::Kind::Total ? 6 : b.kind == DatBlock::Kind::IntegrationPoint ? 14 : 10;
  std::string_view line;
  bool started = false;
  while (in_.nextLine(line)) {
    if (trim(line).empty()) {
      if (started) return;
      continue;
    }
    if (!started && b.width == 0) {
      const std::size_t used = trim(line).size() + static_cast<std::size_t>(line.find_first_not_of(' '));
      b.width = used > first ? static_cast<int>((used - first + 13) / 14) : 0;
      if (b.width == 0) in_.fail("row has no values");
      for (int k = 0; k < b.width; ++k) b.columns.push_back(b.what);
    }
    started = true;
    if (b.kind != DatBlock::Kind::Total) b.ids.push_back(intColumn(in_, line, 0, 10, "number"));
    if (b.kind == DatBlock::Kind::IntegrationPoint)
      b.points.push_back(intColumn(in_, line, 10, 4, "integration point"));
    for (int k = 0; k < b.width; ++k) {
      const std::size_t at = first + 14 * static_cast<std::size_t>(k);
      double v = 0;
      const std::string_view f = column(line, at, 14);
      if (trim(f).empty()) in_.fail("row has " + std::to_string(k) + " values, expected " + std::to_string(b.width));
      if (!parseReal(f, v)) in_.fail("bad number '" + std::string(trim(f)) + "' in " + columns(at, 14));
      b.values.push_back(v);
    }
  }
}

// The prints the importer maps; rows of other prints have layouts of their own.
static bool known(const std::string& what) {
  static const char* const names[] = {"displacements",
                                      "forces",
                                      "temperatures",
                                      "stresses",
                                      "strains",
                                      "mechanical strains",
                                      "equivalent plastic strain",
                                      "internal energy density",
                                      "heat flux",
                                      "internal energy",
                                      "volume",
                                      "mass",
                                      "total force",
                                      "total mass",
                                      "total mass moment of inertia",
                                      "total mass moment of inertia about the center ofgravity",
                                      "center of gravity",
                                      "total internal energy",
                                      "total volume"};
  for (const char* n : names)
    if (what == n) return true;
  return false;
}

static void skipRows(InputFile& in) {
  std::string_view line;
  bool started = false;
  while (in.nextLine(line)) {
    if (!trim(line).empty())
      started = true;
    else if (started)
      return;
  }
}

bool DatReader::next(DatBlock& b) {
  std::string_view line;
  while (in_.nextLine(line)) {
    if (line.size() < 2 || line[0] != ' ' || !(line[1] >= 'a' && line[1] <= 'z')) continue;
    const std::string text(line);
    if (!header(text, b)) continue;
    if (!known(b.what)) {
      skipRows(in_);
      continue;
    }
    b.line = in_.line();
    b.ids.clear();
    b.points.clear();
    b.values.clear();
    rows(b);
    return true;
  }
  return false;
}

}  // namespace ccx
