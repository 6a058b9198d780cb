// odbgen: writes a deterministic synthetic database (see generate.h).
//   odbgen [--seed N] [--size small|medium|large|N] [--steps S] [--frames F] [--single] OUT.odb
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "generate.h"

static const char kUsage[] =
    "usage: odbgen [--seed N] [--size small|medium|large|N] [--steps S] [--frames F] [--single] OUT.odb\n";

template <class T>
static bool parseNumber(std::string_view text, T& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// Reads the command line into options and path; prints the reason and
// returns false when it is not usable.
static bool parseArgs(int argc, char** argv, odbgen::GenOptions& options, std::string& path) {
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
  } catch (const std::exception& e) {
    std::fprintf(stderr, "odbgen: %s\n", e.what());
    return 1;
  }
  const odbgen::MeshShape shape = odbgen::meshShape(options.values);
  std::printf("odbgen: %s: %lld elements, %lld nodes, %lld stress values per frame, %d step(s) x %d frame(s)\n",
              path.c_str(), shape.elements(), shape.nodes(), shape.elements() * 8, options.steps,
              options.frames);
  return 0;
}
