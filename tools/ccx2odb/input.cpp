// Buffered input and number fields shared by the .frd, .dat, .inp and .sta
// parsers.
#include "input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace ccx {

static std::string where(const std::string& file, long line) {
  return line > 0 ? file + ":" + std::to_string(line) : file;
}

ParseError::ParseError(const std::string& file, long line, const std::string& message)
    : std::runtime_error(where(file, line) + ": " + message) {}

static constexpr std::size_t kChunk = std::size_t{1} << 20;

InputFile::InputFile(const std::string& path) : name_(path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) throw ParseError(path, 0, std::string("cannot open: ") + std::strerror(errno));
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) size_ = static_cast<std::uint64_t>(st.st_size);
  capacity_ = 4 * kChunk;
  buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
}

InputFile::InputFile(const std::string& name, std::string text) : name_(name), text_(std::move(text)) {
  size_ = text_.size();
  capacity_ = text_.size();
  end_ = text_.size();
  eof_ = true;
}

InputFile::~InputFile() {
  if (file_) std::fclose(file_);
}

void InputFile::fail(const std::string& message) const { throw ParseError(name_, line_, message); }

bool InputFile::fill() {
  if (eof_) return false;
  char* base = buffer_.get();
  const std::size_t rest = end_ - pos_;
  if (pos_ > 0) {
    std::memmove(base, base + pos_, rest);
    consumed_ += pos_;
    pos_ = 0;
    end_ = rest;
  }
  if (end_ + kChunk > capacity_) {  // a line longer than the buffer: grow it
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity_ * 2);
    std::memcpy(bigger.get(), base, end_);
    buffer_ = std::move(bigger);
    capacity_ *= 2;
    base = buffer_.get();
  }
  const std::size_t got = std::fread(base + end_, 1, capacity_ - end_, file_);
  if (got == 0) {
    if (std::ferror(file_)) fail("read error");
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool InputFile::nextLine(std::string_view& line) {
  for (;;) {
    const char* base = file_ ? buffer_.get() : text_.data();
    const char* start = base + pos_;
    const void* nl = std::memchr(start, '\n', end_ - pos_);
    if (nl || eof_ || !fill()) {
      if (!nl && pos_ == end_) return false;
      base = file_ ? buffer_.get() : text_.data();
      start = base + pos_;
      nl = std::memchr(start, '\n', end_ - pos_);
      const char* stop = nl ? static_cast<const char*>(nl) : base + end_;
      std::size_t n = static_cast<std::size_t>(stop - start);
      pos_ += n + (nl ? 1 : 0);
      if (n > 0 && start[n - 1] == '\r') --n;
      line = std::string_view(start, n);
      ++line_;
      return true;
    }
  }
}

void InputFile::readBytes(void* destination, std::size_t n) {
  char* out = static_cast<char*>(destination);
  while (n > 0) {
    if (pos_ == end_ && !fill()) fail("unexpected end of file inside a binary record");
    const char* base = file_ ? buffer_.get() : text_.data();
    const std::size_t take = std::min(n, end_ - pos_);
    std::memcpy(out, base + pos_, take);
    pos_ += take;
    out += take;
    n -= take;
  }
}

bool InputFile::atEnd() { return pos_ == end_ && (eof_ || !fill()); }

std::string_view trim(std::string_view text) {
  std::size_t a = 0, b = text.size();
  while (a < b && (text[a] == ' ' || text[a] == '\t' || text[a] == '\r')) ++a;
  while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t' || text[b - 1] == '\r')) --b;
  return text.substr(a, b - a);
}

std::string upper(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// "1.00000-100": a mantissa followed directly by a signed exponent.
static bool parseBareExponent(const char* p, const char* end, double mantissa, double& value) {
  long exponent = 0;
  const char* q = p + 1;
  auto [ptr, ec] = std::from_chars(q, end, exponent);
  if (ec != std::errc() || ptr != end || q == end) return false;
  if (*p == '-') exponent = -exponent;
  char text[64];
  std::snprintf(text, sizeof text, "%.17ge%ld", mantissa, exponent);
  auto [p2, ec2] = std::from_chars(text, text + std::strlen(text), value);
  // from_chars leaves the value alone when it is out of range; the C
  // library gives the zero, denormal or infinity a Fortran reader would.
  if (ec2 == std::errc::result_out_of_range) value = std::strtod(text, nullptr);
  return ec2 == std::errc() || ec2 == std::errc::result_out_of_range;
}

// Narrows [p, end) to the field without blanks around it (and a CR at its
// end) and without a leading '+'; false when nothing is left.
static bool trimNumber(std::string_view field, const char*& p, const char*& end) {
  p = field.data();
  end = p + field.size();
  while (p < end && *p == ' ') ++p;
  while (end > p && (end[-1] == ' ' || end[-1] == '\r')) --end;
  if (p == end) return false;
  if (*p == '+') ++p;
  return true;
}

bool parseReal(std::string_view field, double& value) {
  const char *p, *end;
  if (!trimNumber(field, p, end)) return false;
  auto [ptr, ec] = std::from_chars(p, end, value);
  if (ec == std::errc::result_out_of_range) {
    // Underflow to a denormal or zero is what Fortran readers give as well.
    const double v = std::strtod(std::string(p, end).c_str(), nullptr);
    value = v;
    return true;
  }
  if (ec != std::errc()) return false;
  if (ptr == end) return true;
  if ((*ptr == '-' || *ptr == '+') && ptr > p && ptr[-1] != 'E' && ptr[-1] != 'e')
    return parseBareExponent(ptr, end, value, value);
  return false;
}

bool parseInt(std::string_view field, long& value) {
  const char *p, *end;
  if (!trimNumber(field, p, end)) return false;
  auto [ptr, ec] = std::from_chars(p, end, value);
  return ec == std::errc() && ptr == end;
}

static std::string fieldMessage(std::string_view what, std::string_view field, std::size_t first, std::size_t width,
                                std::string_view of) {
  std::string m = "bad " + std::string(what) + " '" + std::string(trim(field)) + "'";
  if (width != std::string_view::npos)
    m += " in columns " + std::to_string(first + 1) + "-" + std::to_string(first + width);
  return of.empty() ? m : m + " of " + std::string(of);
}

int intField(InputFile& in, std::string_view line, std::size_t first, std::size_t width, std::string_view what) {
  long v = 0;
  const std::string_view f = width == std::string_view::npos ? line : column(line, first, width);
  if (!parseInt(f, v) || v < -2147483647L || v > 2147483647L) in.fail(fieldMessage(what, f, first, width, {}));
  return static_cast<int>(v);
}

double realField(InputFile& in, std::string_view line, std::size_t first, std::size_t width, std::string_view what,
                 std::string_view of) {
  double v = 0;
  const std::string_view f = width == std::string_view::npos ? line : column(line, first, width);
  if (!parseReal(f, v)) in.fail(fieldMessage(what, f, first, width, of));
  return v;
}

std::vector<std::string_view> splitCommas(std::string_view line) {
  std::vector<std::string_view> out;
  for (std::size_t start = 0;;) {
    const std::size_t comma = line.find(',', start);
    out.push_back(trim(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start)));
    if (comma == std::string_view::npos) return out;
    start = comma + 1;
  }
}

// Six printed digits round each time by up to 5e-6 of its size; two such
// roundings stay within 1e-5. Increments closer than that cannot be told
// apart in the files anyway.
bool sameTime(double a, double b) { return std::fabs(a - b) <= 1e-5 * std::max(std::fabs(a), std::fabs(b)); }

}  // namespace ccx
