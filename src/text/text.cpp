// Name cleaning and number text of the report lines. No globals.
#include "text/text.h"

#include <algorithm>
#include <charconv>
#include <string>

odb_String cleanName(const odb_String& name) {
  std::string s = name.str();
  std::replace(s.begin(), s.end(), '-', '_');
  std::replace(s.begin(), s.end(), ' ', '_');
  return odb_String(std::move(s));
}

void writeNumber(std::ostream& out, double value) {
  char buf[32];  // "%g" of a double needs at most 13 characters
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  out.write(buf, r.ptr - buf);
}

void writeNumber(std::ostream& out, int value) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.write(buf, r.ptr - buf);
}
