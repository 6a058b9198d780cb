// Parse rate of the .frd reader in MB/s, on a synthetic long-format ASCII
// file (a node block, then DISP and STRESS for every node), from memory and
// from a file. Each run also reports a checksum of the values read, so a
// fast but wrong change shows.
// The size is HARVEST_BENCH_CCX_NODES nodes (default 200000, about 40 MB).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frd.h"

namespace {

int nodeCount() {
  const char* n = std::getenv("HARVEST_BENCH_CCX_NODES");
  return n && std::atoi(n) > 0 ? std::atoi(n) : 200000;
}

void appendE(std::string& s, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%12.5E", v);
  s += buf;
}

std::string makeFrd(int nodes) {
  std::string s = "    1C\n";
  char line[128];
  std::snprintf(line, sizeof line, "    2C%30d%37d\n", nodes, 1);
  s += line;
  for (int n = 1; n <= nodes; ++n) {
    std::snprintf(line, sizeof line, " -1%10d", n);
    s += line;
    for (int k = 0; k < 3; ++k) appendE(s, (n % 97) * 0.25 - k * 1.5);
    s += '\n';
  }
  s += " -3\n";
  const char* blocks[2][8] = {{"DISP", "D1", "D2", "D3", "ALL"}, {"STRESS", "SXX", "SYY", "SZZ", "SXY", "SYZ", "SZX"}};
  for (int b = 0; b < 2; ++b) {
    const int comps = b == 0 ? 3 : 6;
    std::snprintf(line, sizeof line, "    1PSTEP%26d%12d%12d\n", b + 1, 1, 1);
    s += line;
    std::snprintf(line, sizeof line, "  100CL  101%12.5E%12d%20s%2d%5d%10s%2d\n", 1.0, nodes, "", 0, b + 1, "", 1);
    s += line;
    std::snprintf(line, sizeof line, " -4  %-8s%5d%5d\n", blocks[b][0], b == 0 ? 4 : 6, 1);
    s += line;
    for (int c = 1; c <= (b == 0 ? 4 : 6); ++c) {
      std::snprintf(line, sizeof line, " -5  %-8s%5d%5d%5d%5d%s\n", blocks[b][c], 1, b == 0 ? 2 : 4, c, 0,
                    b == 0 && c == 4 ? "    1ALL" : "");
      s += line;
    }
    for (int n = 1; n <= nodes; ++n) {
      std::snprintf(line, sizeof line, " -1%10d", n);
      s += line;
      for (int k = 0; k < comps; ++k) appendE(s, ((n * 7 + k) % 1000) * -1.25e-3);
      s += '\n';
    }
    s += " -3\n";
  }
  s += " 9999\n";
  return s;
}

const std::string& frdText() {
  static const std::string text = makeFrd(nodeCount());
  return text;
}

double parseAll(ccx::InputFile& in) {
  ccx::FrdReader r(in);
  double sum = 0;
  for (auto item = r.next(); item != ccx::FrdReader::Item::End; item = r.next()) {
    if (item == ccx::FrdReader::Item::Nodes) sum += r.nodes().coordinates.back();
    if (item == ccx::FrdReader::Item::Result)
      for (float v : r.result().values) sum += v;
  }
  return sum;
}

void FrdFromMemory(benchmark::State& state) {
  const std::string& text = frdText();
  double sum = 0;
  for (auto _ : state) {
    state.PauseTiming();  // the in-memory input owns a copy of the text: not part of parsing
    ccx::InputFile in("bench.frd", text);
    state.ResumeTiming();
    sum = parseAll(in);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["checksum"] = sum;
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void FrdFromFile(benchmark::State& state) {
  const std::string& text = frdText();
  char path[] = "/tmp/ccx_frd_benchXXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the temporary .frd");
    return;
  }
  ::close(fd);
  double sum = 0;
  for (auto _ : state) {
    ccx::InputFile in(path);
    sum = parseAll(in);
    benchmark::DoNotOptimize(sum);
  }
  ::unlink(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["checksum"] = sum;
}

BENCHMARK(FrdFromMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(FrdFromFile)->Unit(benchmark::kMillisecond);

}  // namespace
