// The command-line convention of the tools, on CLI11: --help prints the
// options on standard output with status 0; a usage error prints
// "tool: message" on standard error with status 2. Options take their value
// as "--name value" or "--name=value".
#pragma once

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>

namespace tool_cli {

inline constexpr int kUsageError = 2;

// Parses argv into app. Returns the status to exit with when the program
// stops here (help shown, or a usage error), nothing when it goes on.
inline std::optional<int> parse(CLI::App& app, const char* tool, int argc, char** argv) {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    const std::string help = app.help();
    return std::fputs(help.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
  } catch (const CLI::ParseError& e) {
    std::string message = e.what();
    // "The following argument ..." reads "the following ...", but "JOB is required" keeps its name.
    if (message.size() > 1 && std::islower(static_cast<unsigned char>(message[1])))
      message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return kUsageError;
  }
}

}  // namespace tool_cli
