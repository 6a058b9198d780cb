// Output files checked at every write, at the flush and at the close.
#include "run/report_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <utility>

#include "odb/odb.h"

[[noreturn]] static void failWith(const std::string& name, int error) {
  throw nex_Exception(name + ": " + std::strerror(error));
}

ReportFile::ReportFile(std::string name) : name_(std::move(name)) {
  fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) failWith(name_, errno);
  setp(buffer_, buffer_ + sizeof buffer_);
}

// Keeps what was written, as after a library failure halfway through.
ReportFile::~ReportFile() {
  if (fd_ < 0) return;
  drain();
  ::close(fd_);
}

bool ReportFile::drain() {
  const char* p = pbase();
  std::size_t left = static_cast<std::size_t>(pptr() - pbase());
  setp(buffer_, buffer_ + sizeof buffer_);
  // After a failure the rest is dropped: the file is lost anyway, and the
  // first reason is the one worth reporting.
  while (error_ == 0 && left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error_ = n < 0 ? errno : EIO;
    if (n > 0) p += n, left -= static_cast<std::size_t>(n);
  }
  return error_ == 0;
}

ReportFile::int_type ReportFile::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize ReportFile::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize done = 0; done < n;) {
    if (pptr() == epptr() && !drain()) return done;
    const std::streamsize room = std::min<std::streamsize>(epptr() - pptr(), n - done);
    std::memcpy(pptr(), s + done, static_cast<std::size_t>(room));
    pbump(static_cast<int>(room));
    done += room;
  }
  return n;
}

int ReportFile::sync() { return drain() ? 0 : -1; }

void ReportFile::close() {
  drain();
  const int fd = std::exchange(fd_, -1);
  // A file system may report a failed write only at the close.
  if (::close(fd) != 0 && error_ == 0 && errno != EINTR) error_ = errno;
  if (error_ != 0) failWith(name_, error_);
}

namespace {
// Removes a file on the way out unless it was written whole.
struct RemoveUnlessWhole {
  const char* name;
  bool whole = false;
  ~RemoveUnlessWhole() {
    if (!whole) std::remove(name);
  }
};
}  // namespace

void writeDoneMarker() {
  RemoveUnlessWhole marker{"paramsdone.txt"};
  ReportFile file(marker.name);
  std::ostream(&file) << "Done\n";
  file.close();
  marker.whole = true;
}
