// Runs a fuzz target over files, so every target also builds with GCC as a plain program that ctest runs
// over the corpus and the regression inputs: <target>_replay FILE_OR_FOLDER... Folders are read in name
// order (README.md skipped). An input that crashes ends the run; its name was printed just before.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) {
      files.emplace_back(argv[i]);
      continue;
    }
    std::vector<std::filesystem::path> in;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
      if (entry.is_regular_file() && entry.path().filename() != "README.md") in.push_back(entry.path());
    std::sort(in.begin(), in.end());
    files.insert(files.end(), in.begin(), in.end());
  }
  bool ok = true;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "replay: %s: cannot read\n", file.c_str());
      ok = false;
      continue;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::printf("replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replay: %zu input(s)\n", files.size());
  return ok ? 0 : 1;
}
