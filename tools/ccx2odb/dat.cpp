// The .dat reader. Headers are matched by their words, rows by columns:
// ids are I10 (then I4 for the integration point, or I11 for the face of
// a contact print), values E14.6, and total rows have six blanks before
// their values.
#include "dat.h"

#include <algorithm>
#include <charconv>

namespace ccx {

// "stresses (elem, integ.pnt.,sxx,...) for set EX and time  0.1000000E+01",
// "contact stress (slave node,...) for all contact elements and time ...",
// "total contact spring energy for time ..." (a total of the whole model).
bool DatReader::header(std::string_view line, DatBlock& b) {
  const std::size_t timeAt = line.rfind("time");
  if (timeAt == line.npos) return false;
  std::string_view rest = trim(line.substr(0, timeAt));
  std::size_t forAt = line.npos;
  bool contact = false;
  b.set.clear();
  if (rest.ends_with(" and")) {
    rest.remove_suffix(4);
    const std::size_t setAt = rest.rfind("for set");
    const std::size_t contactAt = rest.rfind("for all contact elements");
    if (setAt != rest.npos) {
      forAt = setAt;
      b.set = upper(trim(rest.substr(setAt + 7)));
    } else if (contactAt != rest.npos && contactAt + 24 == rest.size()) {
      forAt = contactAt;
      contact = true;
    }
  } else if (rest.ends_with(" for")) {
    forAt = rest.size() - 3;
  }
  if (forAt == line.npos) return false;
  if (!parseReal(line.substr(timeAt + 4), b.time)) in_.fail("bad time in the header of a printed block");
  const std::string_view head = trim(rest.substr(0, forAt));
  const std::size_t paren = head.find('(');
  b.what = std::string(trim(head.substr(0, paren)));
  b.columns.clear();
  for (std::size_t p = paren; p != head.npos; p = head.find('(', p + 1)) {
    const std::size_t close = head.find(')', p);
    if (close == head.npos) break;
    for (std::string_view c : splitCommas(head.substr(p + 1, close - p - 1)))
      if (!c.empty()) b.columns.emplace_back(c);
  }
  const bool total = b.what.rfind("total", 0) == 0 || b.what.rfind("center of gravity", 0) == 0;
  if (contact) {
    // Rows of slave nodes are node rows; those of slave element faces hold
    // the element, the face and the values at one point of that face.
    if (b.columns.empty() || (b.columns[0] != "slave node" && b.columns[0] != "slave element+face")) return false;
    b.kind = b.columns[0] == "slave node" ? DatBlock::Kind::Node : DatBlock::Kind::Face;
    b.columns.erase(b.columns.begin());
  } else if (total) {
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
  // Prints without a column list ("temperatures", "center of gravity"), or
  // whose list describes rather than names the columns ("values", "total
  // pressure for gases, ..."), take their width from the first row.
  const bool named = std::none_of(b.columns.begin(), b.columns.end(),
                                  [](const std::string& c) { return c == "values" || c.find(' ') != c.npos; });
  if (!named) b.columns.clear();
  b.width = static_cast<int>(b.columns.size());
  return true;
}

void DatReader::rows(DatBlock& b) {
  using K = DatBlock::Kind;
  const std::size_t first = b.kind == K::Total ? 6 : b.kind == K::IntegrationPoint ? 14 : b.kind == K::Face ? 21 : 10;
  std::string_view line;
  bool started = false;
  while (in_.nextLine(line)) {
    if (trim(line).empty()) {
      if (started) return;
      continue;
    }
    if (line.size() > 1 && line[1] >= 'a' && line[1] <= 'z') {  // the next header (after an empty block)
      held_.assign(line);
      return;
    }
    if (!started && b.width == 0) {
      const std::size_t used = trim(line).size() + static_cast<std::size_t>(line.find_first_not_of(' '));
      b.width = used > first ? static_cast<int>((used - first + 13) / 14) : 0;
      if (b.width == 0) in_.fail("row has no values");
      for (int k = 0; k < b.width; ++k) b.columns.push_back(b.what);
    }
    started = true;
    if (b.kind != K::Total) b.ids.push_back(intField(in_, line, 0, 10, "number"));
    if (b.kind == K::IntegrationPoint) b.points.push_back(intField(in_, line, 10, 4, "integration point"));
    if (b.kind == K::Face) b.points.push_back(intField(in_, line, 10, 11, "face"));
    for (int k = 0; k < b.width; ++k) {
      const std::size_t at = first + 14 * static_cast<std::size_t>(k);
      if (trim(column(line, at, 14)).empty())
        in_.fail("row has " + std::to_string(k) + " values, expected " + std::to_string(b.width));
      b.values.push_back(realField(in_, line, at, 14));
    }
  }
}

// The spaced-out banners of modal steps: which table came last, and the
// mode whose shapes the next prints (those at one time) show.
void DatReader::banner(std::string_view line) {
  std::string text;
  for (char c : line)
    if (c != ' ') text += c;
  if (text == "EIGENVALUEOUTPUT") modeKind_ = 2;
  if (text == "BUCKLINGFACTOROUTPUT") modeKind_ = 4;
  if (text.rfind("EIGENVALUENUMBER", 0) != 0) return;
  const std::string_view number = std::string_view(text).substr(16);
  int mode = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), mode);
  mode_ = error == std::errc() && end == number.data() + number.size() && modeKind_ ? mode : 0;
  modeTimed_ = false;
  modePrints_.clear();
}

bool DatReader::next(DatBlock& b) {
  std::string_view line;
  std::string held;
  while (!held_.empty() || in_.nextLine(line)) {
    if (!held_.empty()) {
      held.swap(held_);
      held_.clear();
      line = held;
    }
    if (line.size() < 2 || line[0] != ' ' || !(line[1] >= 'a' && line[1] <= 'z')) {
      if (line.find("E I G E N") != line.npos || line.find("B U C K L") != line.npos) banner(line);
      continue;
    }
    const std::string text(line);
    if (!header(text, b)) continue;
    b.line = in_.line();
    // A mode's prints follow its banner at one time, each request once; a
    // print at another time or a second one of a request belongs to a later step.
    const std::string request = b.what + '\n' + b.set;
    const bool repeated = std::find(modePrints_.begin(), modePrints_.end(), request) != modePrints_.end();
    if (mode_ > 0 && ((modeTimed_ && !sameTime(modeTime_, b.time)) || repeated)) mode_ = 0;
    if (mode_ > 0) modePrints_.push_back(request);
    if (mode_ > 0 && !modeTimed_) modeTime_ = b.time, modeTimed_ = true;
    b.mode = mode_;
    b.modeKind = mode_ > 0 ? modeKind_ : 0;
    b.ids.clear();
    b.points.clear();
    b.values.clear();
    rows(b);
    return true;
  }
  return false;
}

}  // namespace ccx
