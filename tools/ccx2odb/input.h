// Line and byte input for the CalculiX parsers, fixed-column number fields
// and the one error type of the importer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ccx {

// A malformed or unreadable input: main prints "ccx2odb: " + what().
// what() reads "FILE:LINE: message", or "FILE: message" when line is 0.
class ParseError : public std::runtime_error {
 public:
  ParseError(const std::string& file, long line, const std::string& message);
};

// Reads a file (or an in-memory text, for tests) line by line, with
// byte-exact reads in between for the binary records of the .frd. The buffer
// is refilled in large pieces, so lines are views into it that stay valid
// until the next call.
class InputFile {
 public:
  // Opens path; throws ParseError "FILE: cannot open: reason".
  explicit InputFile(const std::string& path);
  // Reads from text; name is used in messages.
  InputFile(const std::string& name, std::string text);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Returns the next line without its line end ("\n" or "\r\n"); false at
  // the end of the input.
  bool nextLine(std::string_view& line);
  // Reads exactly n bytes; throws "unexpected end of file" when fewer remain.
  void readBytes(void* destination, std::size_t n);
  // Returns true when nothing is left to read.
  bool atEnd();

  const std::string& name() const { return name_; }
  long line() const { return line_; }  // number of the last line returned
  std::uint64_t offset() const { return consumed_ + pos_; }
  std::uint64_t size() const { return size_; }  // total bytes, 0 when unknown

  [[noreturn]] void fail(const std::string& message) const;

 private:
  bool fill();  // moves the unread rest to the front and reads more; false at end

  std::string name_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::string text_;
  std::size_t capacity_ = 0;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t consumed_ = 0;
  std::uint64_t size_ = 0;
  long line_ = 0;
  bool eof_ = false;
};

// Parses a Fortran number field: blanks around it, an optional sign, and
// also the exponent form without "E" ("1.00000-100") that Fortran writes
// for three-digit exponents. Returns false unless the whole field is used.
bool parseReal(std::string_view field, double& value);
bool parseInt(std::string_view field, long& value);

// The checked number fields of all parsers: columns [first, first + width)
// of line (the whole line when width is npos). A field that is not a number
// fails with "bad WHAT 'text' in columns A-B" (without the columns for a
// whole line), followed by " of OF" when of is given (the block's name).
int intField(InputFile& in, std::string_view line, std::size_t first, std::size_t width, std::string_view what);
double realField(InputFile& in, std::string_view line, std::size_t first, std::size_t width,
                 std::string_view what = "number", std::string_view of = {});

// Splits a line at its commas; items are trimmed, empty ones kept.
std::vector<std::string_view> splitCommas(std::string_view line);

// Whether two printed times are the same instant: the files print six or
// seven significant digits, so times are compared relative to their size.
bool sameTime(double a, double b);

// Returns columns [first, first + width) of line (0-based), clipped to it.
inline std::string_view column(std::string_view line, std::size_t first, std::size_t width) {
  if (first >= line.size()) return {};
  return line.substr(first, width);
}

std::string_view trim(std::string_view text);
std::string upper(std::string_view text);

}  // namespace ccx
