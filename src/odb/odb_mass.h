// Mass properties of a solid mesh by Gauss integration: mass, centre and
// inertia about the centre and about the origin.
//
// Inertias are stored as I11 I22 I33 I12 I13 I23 with I11 = integral of
// rho (y^2 + z^2) and so on, and the products with the solver's sign:
// I12 = integral of rho x y (positive, as the solver prints them). The
// solver's EMAS print itself holds the second moments J_ij = integral of
// rho x_i x_j; the diagonal converts as I11 = J22 + J33.
#pragma once

#include <array>

namespace odbw {

enum class Solid { None, Tet4, Tet10, Wedge6, Wedge15, Hex8, Hex20 };

// Nodes of an element of the shape (0 for None).
int nodesOf(Solid shape);

struct MassProperties {
  bool valid = false;  // false: the model holds an element or material without mass properties
  double mass = -1.0;
  std::array<double, 3> center{};
  std::array<double, 6> inertiaCenter{};
  std::array<double, 6> inertiaOrigin{};
};

class MassAccumulator {
 public:
  // Adds one element of density rho; xyz holds 3 coordinates per node, in
  // the node order of docs/format.md (the solver's for C3D elements).
  void add(Solid shape, const double* xyz, double density);
  MassProperties result() const;

 private:
  double mass_ = 0;
  double first_[3] = {0, 0, 0};
  double second_[6] = {0, 0, 0, 0, 0, 0};  // J11 J22 J33 J12 J13 J23 about the origin
};

}  // namespace odbw
