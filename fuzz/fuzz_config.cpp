// Fuzz target: the configuration reader on arbitrary bytes. Besides not
// crashing, reading the same file twice must give the same settings: a
// difference means the reader depends on memory it never wrote.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "run/settings.h"

namespace {

struct Snapshot {
  bool flags[16];
  double per;
  bool operator==(const Snapshot& o) const {
    return std::memcmp(flags, o.flags, sizeof flags) == 0 &&
           (per == o.per || (per != per && o.per != o.per));  // NaN equals NaN here
  }
};

}  // namespace

static Snapshot snapshot() {
  return Snapshot{{extract_mass, extract_history, extract_field, extract_minMax_history, extract_all_field,
                   extract_stress_field, extract_spatial_field, extract_element_field, engg_min, absolute_min,
                   engg_max, absolute_max, tensor_invariants, extract_field_sets, extract_field_components,
                   compute_values},
                  per};
}

static const std::string& inputPath() {
  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("harvest-fuzz-config-" + std::to_string(getpid()) + ".txt")).string();
  return path;
}

static void readBytes(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(inputPath().c_str(), "wb");
  if (!f) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  resetSettings();
  readConfigFile(inputPath().c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  readBytes(data, size);
  const Snapshot first = snapshot();
  readBytes(data, size);
  if (!(snapshot() == first)) {
    std::fprintf(stderr, "fuzz_config: the same input gave different settings\n");
    std::abort();
  }
  std::remove(inputPath().c_str());
  return 0;
}
