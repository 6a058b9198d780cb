// odbgen: writes a deterministic synthetic database (see generate.h).
//   odbgen [options] OUT.odb   (odbgen --help lists them)
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "generate.h"

static const char kUsage[] =
    "usage: odbgen [--seed N] [--size small|medium|large|N | --elements N] [--points P] [--steps S]\n"
    "              [--frames F] [--fields N] [--single] [--layout chunked|checksummed|contiguous]\n"
    "              [--sets standard|every|none] OUT.odb\n"
    "  --size      field values per field output and frame (default 10000)\n"
    "  --elements  the element count instead (values = elements x points)\n"
    "  --points    integration points per element, 1..8 (default 8)\n"
    "  --fields    extra scalar node field outputs per frame (default 0)\n"
    "  --single    float32 field data instead of float64\n"
    "  --layout    chunked arrays with Fletcher-32 (checksummed, the default), without, or contiguous\n"
    "  --sets      the usual part, instance and assembly sets (standard), only the instance\n"
    "              element set ALL_ELEMENTS (every), or none\n";

template <class T>
static bool parseNumber(std::string_view text, T& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// Reads the command line into options and path; prints the reason and
// returns false when it is not usable.
static bool parseArgs(int argc, char** argv, odbgen::GenOptions& options, std::string& path) {
  long long elements = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--single") {
      options.single = true;
      continue;
    }
    if (arg.starts_with("--")) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "odbgen: %s needs a value\n", argv[i]);
        return false;
      }
      const std::string_view value = argv[++i];
      bool ok = false;
      if (arg == "--seed") {
        ok = parseNumber(value, options.seed);
      } else if (arg == "--steps") {
        ok = parseNumber(value, options.steps);
      } else if (arg == "--frames") {
        ok = parseNumber(value, options.frames);
      } else if (arg == "--size") {
        const auto n = odbgen::parseSize(value);
        ok = n.has_value();
        if (ok) options.values = *n;
        elements = 0;
      } else if (arg == "--elements") {
        ok = parseNumber(value, elements) && elements > 0;
      } else if (arg == "--points") {
        ok = parseNumber(value, options.points);
      } else if (arg == "--fields") {
        ok = parseNumber(value, options.extraFields);
      } else if (arg == "--sets") {
        using Sets = odbgen::GenOptions::Sets;
        ok = value == "standard" || value == "every" || value == "none";
        options.sets = value == "every" ? Sets::Every : value == "none" ? Sets::None : Sets::Standard;
      } else if (arg == "--layout") {
        ok = value == "chunked" || value == "checksummed" || value == "contiguous";
        options.chunked = value != "contiguous";
        options.checksum = value == "checksummed";
      } else {
        std::fprintf(stderr, "odbgen: unknown option %s\n", argv[i - 1]);
        return false;
      }
      if (!ok) {
        std::fprintf(stderr, "odbgen: %s: bad value '%s'\n", argv[i - 1], argv[i]);
        return false;
      }
      continue;
    }
    if (!path.empty()) {
      std::fprintf(stderr, "odbgen: more than one output file\n");
      return false;
    }
    path = arg;
  }
  if (elements > 0) options.values = elements * options.points;
  if (path.empty()) std::fprintf(stderr, "odbgen: no output file\n");
  return !path.empty();
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  odbgen::GenOptions options;
  std::string path;
  if (!parseArgs(argc, argv, options, path)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  try {
    odbgen::generateOdb(path, options);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "odbgen: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    // A database that could not be written whole is not left behind.
    std::remove(path.c_str());
    const std::string what = e.what();
    if (what.compare(0, path.size() + 2, path + ": ") == 0) std::fprintf(stderr, "odbgen: %s\n", what.c_str());
    else std::fprintf(stderr, "odbgen: %s: %s\n", path.c_str(), what.c_str());
    // HDF5's own exit handler crashes on a file whose writes failed; the
    // file is gone, so nothing is left for it to do.
    std::fflush(stdout);
    std::_Exit(1);
  }
  const odbgen::MeshShape shape = odbgen::meshShape(options.values, options.points);
  const long long stress = shape.elements() * options.points;
  if (std::printf("odbgen: %s: %lld elements, %lld nodes, %lld stress values per frame, %d step(s) x %d frame(s)\n",
                  path.c_str(), shape.elements(), shape.nodes(), stress, options.steps, options.frames) < 0 ||
      std::fflush(stdout) != 0)
    return 1;
  return 0;
}
