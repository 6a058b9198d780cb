// Fuzz target: the configuration reader on arbitrary bytes. Besides not crashing, reading the same file
// twice must give the same settings: a difference means the reader depends on memory it never wrote.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <unistd.h>

#include "run/settings.h"

// The settings after reading the bytes; `per` as (is NaN, value or 0) so that NaN read twice compares equal.
static std::pair<std::array<bool, 17>, double> readBytes(const std::uint8_t* data, std::size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("harvest-fuzz-config-" + std::to_string(getpid()) + ".txt")).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size)) std::abort();
  std::fclose(f);
  resetSettings();
  readConfigFile(path.c_str());
  std::remove(path.c_str());
  return {{extract_mass, extract_history, extract_field, extract_minMax_history, extract_all_field,
          extract_stress_field, extract_spatial_field, extract_element_field, engg_min, absolute_min, engg_max,
          absolute_max, tensor_invariants, extract_field_sets, extract_field_components, compute_values,
          per != per}, per == per ? per : 0.0};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (readBytes(data, size) != readBytes(data, size)) {
    std::fprintf(stderr, "fuzz_config: the same input gave different settings\n");
    std::abort();
  }
  return 0;
}
