// The .frd reader: record keys in the first columns, fixed-width fields
// after them (Fortran formats I5/I10/E12.5), binary records after an ASCII
// header when the block's format flag says so.
#include "frd.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ccx {

int frdNodesPerElement(int frdType) {
  static constexpr int counts[] = {0, 8, 6, 4, 20, 15, 10, 3, 6, 4, 8, 2, 3};
  return frdType >= 1 && frdType <= 12 ? counts[frdType] : 0;
}

// The record key of a line: "2C", "3C", "100C", "1P", "9999", or "-1" ... "-5".
static std::string_view recordKey(std::string_view line) {
  std::size_t a = 0;
  while (a < line.size() && line[a] == ' ') ++a;
  std::size_t b = a;
  if (b < line.size() && line[b] == '-') ++b;
  while (b < line.size() && line[b] >= '0' && line[b] <= '9') ++b;
  if (b < line.size() && line[a] != '-' && line[b] >= 'A' && line[b] <= 'Z') ++b;
  return line.substr(a, b - a);
}

static std::size_t rtrimmedSize(std::string_view line) {
  std::size_t n = line.size();
  while (n > 0 && line[n - 1] == ' ') --n;
  return n;
}

void FrdReader::bad(std::string_view what, std::string_view text) const {
  in_.fail(std::string(what) + " '" + std::string(trim(text)) + "'");
}

// Counts in headers come from the file: a binary block must fit in what is
// left of it, and reservations for ASCII blocks are capped by the same.
static void checkFits(InputFile& in, std::size_t count, std::size_t recordBytes, const char* what) {
  if (in.size() == 0) return;  // size unknown (a pipe): reads fail at the end instead
  const std::uint64_t left = in.size() > in.offset() ? in.size() - in.offset() : 0;
  if (count > 0 && (recordBytes == 0 || count > left / recordBytes))
    throw FrdReader::CutOff(in.name(), in.line(),
                            std::string(what) + " of " + std::to_string(count) + " records runs past the end of the file");
}

static std::size_t reservation(InputFile& in, std::size_t count, std::size_t minLineBytes) {
  if (in.size() == 0) return std::min<std::size_t>(count, 1 << 20);
  const std::uint64_t left = in.size() > in.offset() ? in.size() - in.offset() : 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(count, left / minLineBytes));
}

FrdReader::CutOff::CutOff(const std::string& file, long line, const std::string& message)
    : ParseError(file, line, message) {}

void FrdReader::cutOff(const std::string& message) const { throw CutOff(in_.name(), in_.line(), message); }

FrdReader::Item FrdReader::next() {
  if (!partial_) return nextItem();
  try {
    return nextItem();
  } catch (const CutOff& e) {
    dropped_ = e.what();
    return Item::End;
  }
}

FrdReader::Item FrdReader::nextItem() {
  std::string_view line;
  while (in_.nextLine(line)) {
    const std::string_view key = recordKey(line);
    if (key == "2C") {
      readNodes(line);
      return Item::Nodes;
    }
    if (key == "3C") {
      readElements(line);
      return Item::Elements;
    }
    if (key == "100C") {
      readResult(line);
      return Item::Result;
    }
    if (key == "1P") {
      readParameter(line);
      continue;
    }
    if (key == "9999") {
      complete_ = true;
      return Item::End;
    }
    if (key == "1C" || key == "1U" || key == "-3" || trim(line).empty()) continue;
    if (key.empty()) bad("unknown record", line);
    if (key[0] == '-') bad("data record outside a block", line);
    // Other header records (4C, 5C, user records) carry nothing we map.
  }
  return Item::End;  // no 9999 record: complete() tells
}

// 1PSTEP: block counter, increment, step. Modal steps add 1PMODE with the
// mode number (their increment stays 1 for every mode).
void FrdReader::readParameter(std::string_view line) {
  if (line.substr(0, 10) == "    1PMODE") {
    mode_ = intField(in_, line, 24, 12, "mode number");
    return;
  }
  if (line.substr(0, 10) != "    1PSTEP") return;
  increment_ = intField(in_, line, 36, 12, "increment number");
  step_ = intField(in_, line, 48, 12, "step number");
  mode_ = 0;
}

// Header flag at column 74: 0 short, 1 long, 2 binary floats, 3 binary doubles.
static int formatFlag(InputFile& in, std::string_view line, std::size_t col) {
  long flag = 1;
  const std::string_view f = column(line, col, 2);
  if (!trim(f).empty() && !parseInt(f, flag)) in.fail("bad format flag '" + std::string(f) + "'");
  if (flag < 0 || flag > 3) in.fail("unknown format flag " + std::to_string(flag));
  return static_cast<int>(flag);
}

// The node and element counts of 2C and 3C lines; some solver versions
// leave them blank in ASCII files, where the -3 record ends the block anyway.
static int blockCount(InputFile& in, std::string_view header, int flag, const char* what) {
  if (flag < 2 && trim(column(header, 24, 12)).empty()) return 0;
  const int count = intField(in, header, 24, 12, what);
  if (count < 0) in.fail(std::string("negative ") + what);
  return count;
}

void FrdReader::readNodes(std::string_view header) {
  const int flag = formatFlag(in_, header, 73);
  const int count = blockCount(in_, header, flag, "node count");
  nodes_.labels.clear();
  nodes_.coordinates.clear();
  const std::size_t reserve = reservation(in_, static_cast<std::size_t>(count), 20);
  nodes_.labels.reserve(reserve);
  nodes_.coordinates.reserve(3 * reserve);
  if (flag >= 2) {
    checkFits(in_, static_cast<std::size_t>(count), flag == 3 ? 28 : 16, "node block");
    for (int i = 0; i < count; ++i) {
      std::int32_t id = 0;
      in_.readBytes(&id, 4);
      nodes_.labels.push_back(id);
      for (int k = 0; k < 3; ++k) {
        if (flag == 3) {
          double x;
          in_.readBytes(&x, 8);
          nodes_.coordinates.push_back(x);
        } else {
          float x;
          in_.readBytes(&x, 4);
          nodes_.coordinates.push_back(x);
        }
      }
    }
    return;
  }
  const std::size_t w = flag == 1 ? 10 : 5;
  std::string_view line;
  while (in_.nextLine(line)) {
    const std::string_view key = recordKey(line);
    if (key == "-3") return;
    if (key != "-1") bad("expected a node record (-1) or the end of the block (-3), found", line);
    nodes_.labels.push_back(intField(in_, line, 3, w, "node number"));
    for (int k = 0; k < 3; ++k) nodes_.coordinates.push_back(realField(in_, line, 3 + w + 12 * k, 12));
    if (rtrimmedSize(line) > 3 + w + 36) bad("unexpected text after the coordinates", line.substr(3 + w + 36));
  }
  cutOff("unexpected end of file inside the node block");
}

void FrdReader::readElements(std::string_view header) {
  const int flag = formatFlag(in_, header, 73);
  const int count = blockCount(in_, header, flag, "element count");
  FrdElements& e = elements_;
  e.labels.clear();
  e.types.clear();
  e.connectivity.clear();
  e.offsets.assign(1, 0);
  if (flag >= 2) {
    checkFits(in_, static_cast<std::size_t>(count), 20, "element block");
    for (int i = 0; i < count; ++i) {
      std::int32_t head[4];
      in_.readBytes(head, sizeof head);
      const int n = frdNodesPerElement(head[1]);
      if (n == 0) in_.fail("element " + std::to_string(head[0]) + " has unknown type " + std::to_string(head[1]));
      e.labels.push_back(head[0]);
      e.types.push_back(head[1]);
      const std::size_t at = e.connectivity.size();
      e.connectivity.resize(at + static_cast<std::size_t>(n));
      in_.readBytes(e.connectivity.data() + at, 4 * static_cast<std::size_t>(n));
      e.offsets.push_back(static_cast<std::int64_t>(e.connectivity.size()));
    }
    return;
  }
  const std::size_t w = flag == 1 ? 10 : 5;
  const std::size_t perLine = flag == 1 ? 10 : 15;
  std::string_view line;
  int missing = 0;  // node numbers still expected for the current element
  while (in_.nextLine(line)) {
    const std::string_view key = recordKey(line);
    if (key == "-3") {
      if (missing > 0) in_.fail("element block ends " + std::to_string(missing) + " node numbers short");
      return;
    }
    if (key == "-1") {
      if (missing > 0) in_.fail("element record starts " + std::to_string(missing) + " node numbers short");
      const int label = intField(in_, line, 3, w, "element number");
      const int type = intField(in_, line, 3 + w, 5, "element type");
      missing = frdNodesPerElement(type);
      if (missing == 0) in_.fail("element " + std::to_string(label) + " has unknown type " + std::to_string(type));
      e.labels.push_back(label);
      e.types.push_back(type);
      e.offsets.push_back(e.offsets.back() + missing);
      continue;
    }
    if (key != "-2" || e.labels.empty()) bad("expected an element record (-1, -2) or -3, found", line);
    for (std::size_t k = 0; k < perLine && missing > 0; ++k, --missing) {
      if (3 + w * k >= rtrimmedSize(line))
        in_.fail("element " + std::to_string(e.labels.back()) + " has too few node numbers");
      e.connectivity.push_back(intField(in_, line, 3 + w * k, w, "node number"));
    }
  }
  cutOff("unexpected end of file inside the element block");
}

// -4 line: name and number of components; -5 lines: one per component.
void FrdReader::readComponents() {
  InputFile& in = in_;
  FrdResult& r = result_;
  std::string_view line;
  if (!in.nextLine(line)) cutOff("unexpected end of file after the 100C header");
  if (recordKey(line) != "-4") in.fail("expected the -4 line after the 100C header");
  r.name = std::string(trim(column(line, 5, 8)));
  const int n = intField(in, line, 13, 5, "component count");
  if (n <= 0 || n > 1000) in.fail("bad component count " + std::to_string(n));
  r.components.clear();
  r.storedColumns.clear();
  for (int i = 0; i < n; ++i) {
    if (!in.nextLine(line)) cutOff("unexpected end of file in the components of " + r.name);
    if (recordKey(line) != "-5") in.fail("expected a -5 component line of " + r.name);
    FrdComponent c;
    c.name = std::string(trim(column(line, 5, 8)));
    c.type = intField(in, line, 18, 5, "component type");
    c.row = intField(in, line, 23, 5, "component row");
    c.column = intField(in, line, 28, 5, "component column");
    const std::string_view exist = trim(column(line, 33, 5));
    c.stored = exist.empty() || exist == "0";
    if (c.stored) r.storedColumns.push_back(i);
    r.components.push_back(std::move(c));
  }
}

void FrdReader::readResult(std::string_view header) {
  FrdResult& r = result_;
  r.line = in_.line();
  r.step = step_;
  r.increment = increment_;
  r.mode = mode_;
  r.value = realField(in_, header, 12, 12);
  const int count = intField(in_, header, 24, 12, "node count");
  if (count < 0) in_.fail("negative node count");
  const std::string_view type = trim(column(header, 56, 2));
  r.analysisType = type.empty() ? 0 : intField(in_, header, 56, 2, "analysis type");
  // Only a hint for placing buckling blocks: text that is no number reads as 0.
  const std::string_view set = trim(column(header, 58, 5));
  const auto [end, error] = std::from_chars(set.data(), set.data() + set.size(), r.set);
  if (error != std::errc() || end != set.data() + set.size()) r.set = 0;
  const int flag = formatFlag(in_, header, 73);
  readComponents();
  r.nodes.clear();
  r.values.clear();
  if (flag >= 2) return readResultBinary(static_cast<std::size_t>(count));
  readResultAscii(flag == 1, static_cast<std::size_t>(count));
}

void FrdReader::readResultBinary(std::size_t count) {
  FrdResult& r = result_;
  const std::size_t width = r.storedColumns.size();
  checkFits(in_, count, 4 + 4 * width, "result block");
  r.nodes.resize(count);
  r.values.resize(count * width);
  for (std::size_t i = 0; i < count; ++i) {
    std::int32_t id = 0;
    in_.readBytes(&id, 4);
    r.nodes[i] = id;
    in_.readBytes(r.values.data() + i * width, 4 * width);
  }
}

void FrdReader::readResultAscii(bool longFormat, std::size_t expected) {
  FrdResult& r = result_;
  const std::size_t w = longFormat ? 10 : 5;
  const std::size_t first = 3 + w;
  const std::size_t width = r.storedColumns.size();
  const std::size_t reserve = reservation(in_, expected, 14 + 12 * std::min<std::size_t>(width, 6));
  r.nodes.reserve(reserve);
  r.values.reserve(reserve * width);
  std::size_t missing = 0;  // values still expected for the current node
  std::string_view line;
  while (in_.nextLine(line)) {
    const char* p = line.data();
    const bool dataLine = line.size() >= 3 && p[0] == ' ' && p[1] == '-';
    if (dataLine && p[2] == '1') {
      if (missing > 0)
        in_.fail("node " + std::to_string(r.nodes.back()) + " of " + r.name + " has " +
                 std::to_string(width - missing) + " values, expected " + std::to_string(width));
      r.nodes.push_back(intField(in_, line, 3, w, "node number"));
      missing = width;
    } else if (dataLine && p[2] == '2' && missing > 0) {
    } else if (dataLine && p[2] == '3') {
      if (missing > 0)
        in_.fail("node " + std::to_string(r.nodes.back()) + " of " + r.name + " has " +
                 std::to_string(width - missing) + " values, expected " + std::to_string(width));
      return;
    } else {
      bad("expected a result record (-1, -2) or -3 in " + r.name + ", found", line);
    }
    const std::size_t have = rtrimmedSize(line);
    std::size_t at = first;
    for (std::size_t k = 0; k < 6 && missing > 0; ++k, --missing, at += 12) {
      if (at >= have) break;
      double v = 0;  // the hot loop: the checked field only builds the message
      if (!parseReal(line.substr(at, 12), v)) realField(in_, line, at, 12, "number", r.name);
      r.values.push_back(static_cast<float>(v));
    }
    // Two records run together (a lost line end) must not pass as one.
    if (have > at) bad("unexpected text after the values of " + r.name, line.substr(at));
  }
  cutOff("unexpected end of file inside the " + r.name + " block");
}

}  // namespace ccx
