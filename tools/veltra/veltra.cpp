// veltra: the product launcher. "veltra harvestodb ARGS..." runs the
// harvestodb program with exactly those arguments; "veltra" or "veltra help"
// lists the programs it can run.
//
// A program is looked for next to veltra itself first, so an installed or
// freshly built tree runs its own programs whatever PATH says; PATH is only
// the fallback.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Command {
  const char* name;
  const char* summary;
};

}  // namespace

static const Command commands[] = {
    {"harvestodb", "extract extreme values from an output database into params.txt"},
    {"odbinfo", "describe the contents of an output database"},
    {"ccx2odb", "convert CalculiX results into an output database"},
    {"harvest-run", "run harvestodb safely: checked configuration, judged by a fresh marker"},
    {"harvest-many", "run harvestodb over many databases into one results table"},
    {"harvest-plot", "summarise and plot a params.txt or a results table"},
    {"harvest-response", "the named values an optimiser reads from a report"},
    {"odb2xdmf", "write an output database as an XDMF time series for ParaView"},
    {"mesh2odb", "convert VTU, XDMF, MED, Exodus II or Gmsh results into an output database"},
};

// The folder that holds this executable, with a final "/"; empty when the
// platform cannot tell.
static std::string ownFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  const std::string self(buffer.data(), static_cast<std::size_t>(n));
  const std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

static std::string sibling(const char* name) {
  const std::string folder = ownFolder();
  if (folder.empty()) return {};
  const std::string path = folder + name;
  return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

static int printHelp() {
  std::printf("usage: veltra <command> [arguments...]\n\ncommands:\n");
  for (const Command& c : commands)
    if (!sibling(c.name).empty()) std::printf("  %-18s%s\n", c.name, c.summary);
  return 0;
}

// Replaces this process with the program; returns only when that failed.
static int runCommand(const Command& c, int argc, char** argv) {
  std::vector<char*> args;
  const std::string path = sibling(c.name);
  args.push_back(const_cast<char*>(path.empty() ? c.name : path.c_str()));
  for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  if (path.empty())
    execvp(c.name, args.data());
  else
    execv(path.c_str(), args.data());
  std::fprintf(stderr, "veltra: cannot run '%s': %s\n", c.name, std::strerror(errno));
  return 127;
}

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "help") == 0) return printHelp();
  for (const Command& c : commands)
    if (std::strcmp(argv[1], c.name) == 0) return runCommand(c, argc, argv);
  std::fprintf(stderr, "veltra: unknown command '%s' (try 'veltra help')\n", argv[1]);
  return 1;
}
