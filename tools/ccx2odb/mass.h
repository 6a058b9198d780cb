// Mass properties of a deck's solid mesh: mass, centre and inertia about
// the centre and about the origin.
//
// Inertias are stored as I11 I22 I33 I12 I13 I23 with I11 = integral of
// rho (y^2 + z^2) and so on, and the products with the solver's sign:
// I12 = integral of rho x y (positive, as the solver prints them). The
// solver's EMAS print itself holds the second moments J_ij = integral of
// rho x_i x_j; the diagonal converts as I11 = J22 + J33.
#pragma once

#include <string>

#include "inp.h"
#include "odb/odb_mass.h"

namespace ccx {

using odbw::MassAccumulator;
using odbw::MassProperties;
using odbw::nodesOf;
using odbw::Solid;

// The solid family of a deck element type ("C3D10" -> Tet10), None for others.
Solid solidOf(const std::string& deckType);

// Mass properties of the deck's mesh with its sections and densities.
MassProperties computeMass(const InpModel& model);

}  // namespace ccx
