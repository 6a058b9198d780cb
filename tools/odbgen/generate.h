// Synthetic databases for benchmarks, fuzzing seeds and tool tests: a seeded,
// sized hexahedral model written through odbw::Writer. The same seed and size
// always give the same objects, names and numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace odbgen {

struct GenOptions {
  std::uint64_t seed = 1;
  long long values = 10000;  // field values per field output and frame (8 per element for S)
  int steps = 1;
  int frames = 2;            // frames per step
  bool single = false;       // float32 field data (precision 0) instead of float64
  int points = 8;            // integration points per element (1..8)
  int extraFields = 0;       // scalar node fields F1..Fn on the top plane, per frame
  // Sets: the part, instance and assembly sets (Standard), only the instance
  // set ALL_ELEMENTS (Every), or none.
  enum class Sets { Standard, Every, None } sets = Sets::Standard;
  bool chunked = true;       // arrays in chunks of about 1 MiB ...
  bool checksum = true;      // ... with Fletcher-32
};

// The mesh that GenOptions leads to: nx x ny x nz hexahedra, `points`
// integration points each, the S field split into sBlocks blocks of whole layers.
struct MeshShape {
  int nx = 1, ny = 1, nz = 1;
  int sBlocks = 1;
  long long elements() const { return static_cast<long long>(nx) * ny * nz; }
  long long nodes() const { return static_cast<long long>(nx + 1) * (ny + 1) * (nz + 1); }
};

// Names used by the generated database, for benchmarks that look objects up.
inline constexpr const char* kPart = "PART-1";
inline constexpr const char* kInstance = "PART-1-1";
inline constexpr const char* kStressField = "S";
inline constexpr const char* kDisplacementField = "U";
inline constexpr const char* kScalarField = "PEEQ";
std::string stepName(int step);  // "Step-1", "Step-2", ...

// Returns the value count of a size word: small 1e4, medium 1e6, large 1e7, or a
// plain positive count ("250000"); nothing when the word is neither.
std::optional<long long> parseSize(std::string_view word);

MeshShape meshShape(long long values, int points = 8);

// Writes the database at path, replacing any file there; throws odb_Exception
// (from the writer) or std::invalid_argument for options out of range.
void generateOdb(const std::string& path, const GenOptions& options);

}  // namespace odbgen
