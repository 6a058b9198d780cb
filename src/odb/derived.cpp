// Derived tensor quantities: column mapping, von Mises, pressure, third
// invariant and principal values. Touches no globals.
#include "odb/derived.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "odb/vocabulary.h"

namespace odb_detail {

// Index into s[6] of the component a label's last two characters name, or -1.
static int componentIndex(const std::string& label) {
  if (label.size() < 2) return -1;
  const std::string_view tail = std::string_view(label).substr(label.size() - 2);
  for (std::size_t k = 0; k < odb_vocab::kTensorSuffixes.size(); ++k)
    if (tail == odb_vocab::kTensorSuffixes[k]) return static_cast<int>(k);
  return -1;
}

// The components a type stores, in column order (docs/format.md §7).
static std::vector<int> canonicalOrder(int type) {
  switch (type) {
    case odb_Enum::TENSOR_3D_PLANAR:
    case odb_Enum::TENSOR_2D_PLANAR:
      return {0, 1, 2, 3};
    case odb_Enum::TENSOR_3D_SURFACE:
    case odb_Enum::TENSOR_2D_SURFACE:
      return {0, 1, 3};
    default:
      return {0, 1, 2, 3, 4, 5};
  }
}

void tensorColumns(const std::vector<std::string>& storedLabels, int type, int width, int cols[6]) {
  std::fill(cols, cols + 6, -1);
  bool named = false;
  const int n = std::min(width, static_cast<int>(storedLabels.size()));
  for (int c = 0; c < n; ++c) {
    const int k = componentIndex(storedLabels[static_cast<std::size_t>(c)]);
    if (k < 0) continue;
    named = true;
    if (cols[k] < 0) cols[k] = c;  // the first column wins a duplicate
  }
  if (named) return;
  const std::vector<int> order = canonicalOrder(type);
  for (int c = 0; c < width && c < static_cast<int>(order.size()); ++c) cols[order[static_cast<std::size_t>(c)]] = c;
}

double vonMises(const double s[6]) {
  const double d1 = s[0] - s[1], d2 = s[1] - s[2], d3 = s[2] - s[0];
  const double shear = s[3] * s[3] + s[4] * s[4] + s[5] * s[5];
  return std::sqrt((d1 * d1 + d2 * d2 + d3 * d3) / 2.0 + 3.0 * shear);
}

double pressure(const double s[6]) { return -(s[0] + s[1] + s[2]) / 3.0; }

double thirdInvariant(const double s[6]) {
  const double mean = (s[0] + s[1] + s[2]) / 3.0;
  const double a = s[0] - mean, b = s[1] - mean, c = s[2] - mean;
  const double xy = s[3], xz = s[4], yz = s[5];
  const double det = a * (b * c - yz * yz) - xy * (xy * c - yz * xz) + xz * (xy * yz - b * xz);
  return std::cbrt(13.5 * det);
}

// One Jacobi rotation that zeroes a[p][q] of the symmetric matrix a.
static void jacobiRotate(double a[3][3], int p, int q) {
  const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
  const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
  const double c = 1.0 / std::sqrt(t * t + 1.0), sn = t * c;
  for (int k = 0; k < 3; ++k) {  // columns p and q
    const double akp = a[k][p], akq = a[k][q];
    a[k][p] = c * akp - sn * akq;
    a[k][q] = sn * akp + c * akq;
  }
  for (int k = 0; k < 3; ++k) {  // rows p and q
    const double apk = a[p][k], aqk = a[q][k];
    a[p][k] = c * apk - sn * aqk;
    a[q][k] = sn * apk + c * aqk;
  }
}

// Cyclic Jacobi: slower than the closed form but accurate for repeated and
// nearly repeated eigenvalues, and it leaves a diagonal tensor untouched.
void principals(const double s[6], double out[3]) {
  double a[3][3] = {{s[0], s[3], s[4]}, {s[3], s[1], s[5]}, {s[4], s[5], s[2]}};
  static const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  for (int sweep = 0; sweep < 60; ++sweep) {
    const double off = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
    if (off == 0.0) break;
    const double scale = std::fabs(a[0][0]) + std::fabs(a[1][1]) + std::fabs(a[2][2]);
    if (sweep > 3 && off <= 1e-300 + scale * 1e-18) break;
    for (const auto& pq : pairs)
      if (a[pq[0]][pq[1]] != 0.0) jacobiRotate(a, pq[0], pq[1]);
  }
  out[0] = a[0][0];
  out[1] = a[1][1];
  out[2] = a[2][2];
  std::sort(out, out + 3, [](double x, double y) { return x > y; });
}

void inPlanePrincipals(const double s[6], double out[2]) {
  const double mean = (s[0] + s[1]) / 2.0;
  const double radius = std::hypot((s[0] - s[1]) / 2.0, s[3]);
  out[0] = mean + radius;
  out[1] = mean - radius;
}

}  // namespace odb_detail
