// odbgen: writes a deterministic synthetic database (see generate.h).
//   odbgen [options] OUT.odb   (odbgen --help lists them)
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "generate.h"
#include "tool_cli.h"

// Declares the options, filling options and path as they are read.
static void declareOptions(CLI::App& app, odbgen::GenOptions& options, std::string& path, long long& elements) {
  app.add_option("--seed", options.seed, "seed of all numbers written (default 1)");
  app.add_option_function<std::string>(
         "--size", [&](const std::string& word) { options.values = *odbgen::parseSize(word); },
         "values per field output and frame: small (1e4, default), medium (1e6), large (1e7) or a count")
      ->check(CLI::Validator(
          [](const std::string& word) { return odbgen::parseSize(word) ? std::string() : "not a size: " + word; },
          "small|medium|large|N"));
  app.add_option("--elements", elements, "the element count instead (values = elements x points)")
      ->check(CLI::Validator(
          [](const std::string& n) {
            long long count = 0;
            const auto [end, error] = std::from_chars(n.data(), n.data() + n.size(), count);
            return error == std::errc() && end == n.data() + n.size() && count > 0 ? std::string() : "not a count: " + n;
          },
          "N"))
      ->excludes("--size");
  app.add_option("--points", options.points, "integration points per element, 1..8 (default 8)");
  app.add_option("--steps", options.steps, "steps (default 1)");
  app.add_option("--frames", options.frames, "frames per step (default 2)");
  app.add_option("--fields", options.extraFields, "extra scalar node field outputs per frame (default 0)");
  app.add_flag("--single", options.single, "float32 field data instead of float64");
  app.add_option_function<std::string>(
         "--layout",
         [&](const std::string& layout) {
           options.chunked = layout != "contiguous";
           options.checksum = layout == "checksummed";
         },
         "chunked arrays with Fletcher-32 (checksummed, default), without (chunked), or contiguous")
      ->check(CLI::IsMember({"chunked", "checksummed", "contiguous"}));
  app.add_option_function<std::string>(
         "--sets",
         [&](const std::string& sets) {
           using Sets = odbgen::GenOptions::Sets;
           options.sets = sets == "every" ? Sets::Every : sets == "none" ? Sets::None : Sets::Standard;
         },
         "part, instance and assembly sets (standard, default), only ALL_ELEMENTS (every), or none")
      ->check(CLI::IsMember({"standard", "every", "none"}));
  app.add_option("OUT.odb", path, "the database to write")->required();
}

int main(int argc, char** argv) {
  CLI::App app("Writes a synthetic result database: a seeded, sized hexahedral model.", "odbgen");
  odbgen::GenOptions options;
  std::string path;
  long long elements = 0;
  declareOptions(app, options, path, elements);
  if (const auto status = tool_cli::parse(app, "odbgen", argc, argv)) return *status;
  if (elements > 0) options.values = elements * options.points;
  try {
    odbgen::generateOdb(path, options);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "odbgen: %s\n", e.what());
    return tool_cli::kUsageError;
  } catch (const std::exception& e) {
    // A database that could not be written whole is not left behind.
    std::remove(path.c_str());
    const std::string what = e.what();
    if (what.compare(0, path.size() + 2, path + ": ") == 0) std::fprintf(stderr, "odbgen: %s\n", what.c_str());
    else std::fprintf(stderr, "odbgen: %s: %s\n", path.c_str(), what.c_str());
    return 1;
  }
  const odbgen::MeshShape shape = odbgen::meshShape(options.values, options.points);
  const long long stress = shape.elements() * options.points;
  if (std::printf("odbgen: %s: %lld elements, %lld nodes, %lld stress values per frame, %d step(s) x %d frame(s)\n",
                  path.c_str(), shape.elements(), shape.nodes(), stress, options.steps, options.frames) < 0 ||
      std::fflush(stdout) != 0)
    return 1;
  return 0;
}
