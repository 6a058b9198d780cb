// The two files a run leaves for its caller, params.txt and paramsdone.txt.
// A caller takes paramsdone.txt as the sign that params.txt is whole, so a
// file that could not be written whole is a failed run, never a short one.
#pragma once

#include <streambuf>
#include <string>

// An output file that remembers the first failure of a write, the flush or
// the close. The stream over it writes on whatever happened; close() then
// throws a nex_Exception "<name>: <system reason>", which the process entry
// reports as it does a library failure. Not copyable; the destructor writes
// out what is buffered and closes without checking, and never throws.
class ReportFile : public std::streambuf {
 public:
  // Creates or truncates the file. Fails at once when it cannot be opened.
  explicit ReportFile(std::string name);
  ~ReportFile() override;
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Writes what is buffered and closes the file, throwing on any failure
  // seen since it was opened.
  void close();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool drain();  // writes the buffer out; false once anything failed

  std::string name_;
  int fd_ = -1;
  int error_ = 0;  // errno of the first failure, 0 while all went well
  char buffer_[8192];
};

// Writes paramsdone.txt; when it cannot be written whole it is removed and a
// nex_Exception naming it is thrown.
void writeDoneMarker();
