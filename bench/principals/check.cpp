// Runs both principal-value methods over tensors read from stdin (six
// doubles each: 11 22 33 12 13 23) and writes, per tensor, the fast floats
// (max, mid, min, Tresca), the cyclic Jacobi values as doubles and whether
// the closed form decided and whether a Jacobi value fell outside the
// closed form's bounds (a 48-byte record; check.py reads them). The time per
// tensor of each method (best of three rounds) goes to stderr.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "odb/derived.h"

namespace {

struct Record {
  float fast[4];
  double jacobi[3];
  std::int32_t decided, outside;
};

double secondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  std::vector<double> in;
  double buf[6 * 4096];
  std::size_t got;
  while ((got = std::fread(buf, sizeof(double), 6 * 4096, stdin)) > 0) in.insert(in.end(), buf, buf + got);
  const std::size_t n = in.size() / 6;
  std::vector<Record> out(n);
  // Each method three times; the fastest round counts (a shared machine).
  double fast = 1e300, jacobi = 1e300;
  for (int round = 0; round < 3; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < n; ++i) out[i].decided = odb_detail::principalFloats(&in[6 * i], out[i].fast);
    fast = std::min(fast, secondsSince(t0));
    t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < n; ++i) odb_detail::principals(&in[6 * i], out[i].jacobi);
    jacobi = std::min(jacobi, secondsSince(t0));
  }
  for (std::size_t i = 0; i < n; ++i) {
    double lo[3], hi[3];
    if (!odb_detail::principalBounds(&in[6 * i], lo, hi)) continue;
    for (int k = 0; k < 3; ++k) out[i].outside |= !(lo[k] <= out[i].jacobi[k] && out[i].jacobi[k] <= hi[k]);
  }
  for (const Record& r : out) {  // packed: 4 floats, 3 doubles, two ints
    char rec[48];
    std::memcpy(rec, r.fast, 16);
    std::memcpy(rec + 16, r.jacobi, 24);
    std::memcpy(rec + 40, &r.decided, 4);
    std::memcpy(rec + 44, &r.outside, 4);
    std::fwrite(rec, 1, sizeof rec, stdout);
  }
  const double per = n ? 1e9 / static_cast<double>(n) : 0.0;
  std::fprintf(stderr, "per tensor: fast %.1f ns, jacobi %.1f ns\n", fast * per, jacobi * per);
  return 0;
}
