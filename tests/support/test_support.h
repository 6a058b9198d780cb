// Small helpers shared by the tests: scratch folders, files, child processes.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away (kept when HARVEST_KEEP_TMP is set).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool exists(const std::string& path);
// The bytes this process has taken from the heap and not given back (under a
// sanitizer, the sanitizer's count, which leaves out its quarantine).
long heapBytesInUse();

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs argv[0] with the arguments in folder cwd, standard input empty, and
// collects its output.
RunResult run(const std::vector<std::string>& argv, const std::string& cwd);

}  // namespace testsupport
