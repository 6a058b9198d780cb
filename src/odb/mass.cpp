// Mass properties by Gauss integration over solid elements. Tetrahedra and
// wedges use collapsed (Duffy) products of Gauss-Legendre rules, hexahedra a
// 3x3x3 rule; all are exact for straight-sided elements. No globals.
#include "odb_mass.h"

#include <cmath>
#include <vector>

namespace odbw {

int nodesOf(Solid s) {
  switch (s) {
    case Solid::Tet4:
      return 4;
    case Solid::Tet10:
      return 10;
    case Solid::Wedge6:
      return 6;
    case Solid::Wedge15:
      return 15;
    case Solid::Hex8:
      return 8;
    case Solid::Hex20:
      return 20;
    case Solid::None:
      return 0;
  }
  return 0;
}

static void hexShape(bool quadratic, double r, double s, double t, double* N) {
  static constexpr double c[20][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}, {-1, -1, 1},
                                      {1, -1, 1},   {1, 1, 1},   {-1, 1, 1}, {0, -1, -1}, {1, 0, -1},
                                      {0, 1, -1},   {-1, 0, -1}, {0, -1, 1}, {1, 0, 1},   {0, 1, 1},
                                      {-1, 0, 1},   {-1, -1, 0}, {1, -1, 0}, {1, 1, 0},   {-1, 1, 0}};
  for (int i = 0; i < (quadratic ? 20 : 8); ++i) {
    const double a = 1 + r * c[i][0], b = 1 + s * c[i][1], d = 1 + t * c[i][2];
    if (!quadratic)
      N[i] = a * b * d / 8;
    else if (i < 8)
      N[i] = a * b * d * (r * c[i][0] + s * c[i][1] + t * c[i][2] - 2) / 8;
    else if (c[i][0] == 0)
      N[i] = (1 - r * r) * b * d / 4;
    else if (c[i][1] == 0)
      N[i] = a * (1 - s * s) * d / 4;
    else
      N[i] = a * b * (1 - t * t) / 4;
  }
}

static void tetShape(bool quadratic, double r, double s, double t, double* N) {
  const double L[4] = {1 - r - s - t, r, s, t};
  if (!quadratic) {
    for (int i = 0; i < 4; ++i) N[i] = L[i];
    return;
  }
  static constexpr int edge[6][2] = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
  for (int i = 0; i < 4; ++i) N[i] = L[i] * (2 * L[i] - 1);
  for (int e = 0; e < 6; ++e) N[4 + e] = 4 * L[edge[e][0]] * L[edge[e][1]];
}

static void wedgeShape(bool quadratic, double r, double s, double t, double* N) {
  const double L[3] = {1 - r - s, r, s};
  if (!quadratic) {
    for (int i = 0; i < 3; ++i) {
      N[i] = L[i] * (1 - t) / 2;
      N[i + 3] = L[i] * (1 + t) / 2;
    }
    return;
  }
  static constexpr int edge[3][2] = {{0, 1}, {1, 2}, {2, 0}};
  for (int i = 0; i < 3; ++i) {
    N[i] = L[i] * ((2 * L[i] - 1) * (1 - t) - (1 - t * t)) / 2;
    N[i + 3] = L[i] * ((2 * L[i] - 1) * (1 + t) - (1 - t * t)) / 2;
    N[12 + i] = L[i] * (1 - t * t);
  }
  for (int e = 0; e < 3; ++e) {
    N[6 + e] = 2 * L[edge[e][0]] * L[edge[e][1]] * (1 - t);
    N[9 + e] = 2 * L[edge[e][0]] * L[edge[e][1]] * (1 + t);
  }
}

static void shape(Solid s, const double* p, double* N) {
  switch (s) {
    case Solid::Tet4:
    case Solid::Tet10:
      return tetShape(s == Solid::Tet10, p[0], p[1], p[2], N);
    case Solid::Wedge6:
    case Solid::Wedge15:
      return wedgeShape(s == Solid::Wedge15, p[0], p[1], p[2], N);
    case Solid::Hex8:
    case Solid::Hex20:
      return hexShape(s == Solid::Hex20, p[0], p[1], p[2], N);
    case Solid::None:
      return;
  }
}

struct Point {
  double p[3];
  double w;
};

// Gauss-Legendre on [0, 1].
static const std::vector<std::pair<double, double>>& gauss01(int n) {
  static const std::vector<std::pair<double, double>> g3 = [] {
    const double a = std::sqrt(0.6);
    return std::vector<std::pair<double, double>>{{(1 - a) / 2, 5.0 / 18}, {0.5, 8.0 / 18}, {(1 + a) / 2, 5.0 / 18}};
  }();
  static const std::vector<std::pair<double, double>> g4 = [] {
    const double x[2] = {0.3399810435848562648, 0.8611363115940525752};
    const double w[2] = {0.6521451548625461426, 0.3478548451374538574};
    std::vector<std::pair<double, double>> v;
    for (int i = 1; i >= 0; --i) v.emplace_back((1 - x[i]) / 2, w[i] / 2);
    for (int i = 0; i < 2; ++i) v.emplace_back((1 + x[i]) / 2, w[i] / 2);
    return v;
  }();
  return n == 3 ? g3 : g4;
}

static std::vector<Point> makeRule(Solid s) {
  std::vector<Point> pts;
  const auto& g3 = gauss01(3);
  const auto& g4 = gauss01(4);
  if (s == Solid::Hex8 || s == Solid::Hex20) {
    for (auto [a, wa] : g3)
      for (auto [b, wb] : g3)
        for (auto [c, wc] : g3) pts.push_back({{2 * a - 1, 2 * b - 1, 2 * c - 1}, 8 * wa * wb * wc});
  } else if (s == Solid::Tet4 || s == Solid::Tet10) {
    for (auto [u, wu] : g4)
      for (auto [v, wv] : g4)
        for (auto [w, ww] : g4)
          pts.push_back({{u, v * (1 - u), w * (1 - u) * (1 - v)}, wu * wv * ww * (1 - u) * (1 - u) * (1 - v)});
  } else if (s == Solid::Wedge6 || s == Solid::Wedge15) {
    for (auto [u, wu] : g4)
      for (auto [v, wv] : g4)
        for (auto [c, wc] : g3) pts.push_back({{u, v * (1 - u), 2 * c - 1}, 2 * wu * wv * wc * (1 - u)});
  }
  return pts;
}

static const std::vector<Point>& rule(Solid s) {
  static const std::vector<Point> rules[] = {{},
                                             makeRule(Solid::Tet4),
                                             makeRule(Solid::Tet10),
                                             makeRule(Solid::Wedge6),
                                             makeRule(Solid::Wedge15),
                                             makeRule(Solid::Hex8),
                                             makeRule(Solid::Hex20)};
  return rules[static_cast<int>(s)];
}

// Position and Jacobian determinant at a reference point. The shape functions
// are at most quadratic in each reference coordinate, so central differences
// give their derivatives exactly (up to rounding).
static double mapPoint(Solid s, const double* xyz, const double* p, double* x) {
  const int n = nodesOf(s);
  double N[20];
  double J[3][3];
  shape(s, p, N);
  for (int k = 0; k < 3; ++k) {
    x[k] = 0;
    for (int i = 0; i < n; ++i) x[k] += N[i] * xyz[3 * i + k];
  }
  constexpr double h = 0.25;
  for (int d = 0; d < 3; ++d) {
    double q[3] = {p[0], p[1], p[2]};
    double Np[20], Nm[20];
    q[d] = p[d] + h;
    shape(s, q, Np);
    q[d] = p[d] - h;
    shape(s, q, Nm);
    for (int k = 0; k < 3; ++k) {
      double sum = 0;
      for (int i = 0; i < n; ++i) sum += (Np[i] - Nm[i]) * xyz[3 * i + k];
      J[k][d] = sum / (2 * h);
    }
  }
  return J[0][0] * (J[1][1] * J[2][2] - J[1][2] * J[2][1]) - J[0][1] * (J[1][0] * J[2][2] - J[1][2] * J[2][0]) +
         J[0][2] * (J[1][0] * J[2][1] - J[1][1] * J[2][0]);
}

void MassAccumulator::add(Solid s, const double* xyz, double density) {
  for (const Point& g : rule(s)) {
    double x[3];
    const double dm = density * g.w * std::fabs(mapPoint(s, xyz, g.p, x));
    mass_ += dm;
    for (int k = 0; k < 3; ++k) first_[k] += dm * x[k];
    second_[0] += dm * x[0] * x[0];
    second_[1] += dm * x[1] * x[1];
    second_[2] += dm * x[2] * x[2];
    second_[3] += dm * x[0] * x[1];
    second_[4] += dm * x[0] * x[2];
    second_[5] += dm * x[1] * x[2];
  }
}

static std::array<double, 6> inertia(const double J[6]) {
  return {J[1] + J[2], J[0] + J[2], J[0] + J[1], J[3], J[4], J[5]};
}

MassProperties MassAccumulator::result() const {
  MassProperties r;
  r.valid = true;
  r.mass = mass_;
  if (mass_ == 0) return r;
  const double c[3] = {first_[0] / mass_, first_[1] / mass_, first_[2] / mass_};
  const double Jc[6] = {second_[0] - mass_ * c[0] * c[0], second_[1] - mass_ * c[1] * c[1],
                        second_[2] - mass_ * c[2] * c[2], second_[3] - mass_ * c[0] * c[1],
                        second_[4] - mass_ * c[0] * c[2], second_[5] - mass_ * c[1] * c[2]};
  r.center = {c[0], c[1], c[2]};
  r.inertiaOrigin = inertia(second_);
  r.inertiaCenter = inertia(Jc);
  return r;
}

}  // namespace odbw
