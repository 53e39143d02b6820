// UB and the cell of a reduction by weighted least squares in double
// precision from reflections of known indices and their setting angles,
// free or held to a crystal system, with ESDs from the full covariance.
#pragma once

#include <array>
#include <span>
#include <string>

#include "reduce/symmetry.h"

namespace kalvex::reduce {

// One reflection the cell is refined from.
struct CellObservation {
  Miller hkl{};
  std::array<double, 4> angles{};  // 2theta, omega, chi, phi (degrees) as the instrument turned
  double i_over_sigma = 0;         // the integration's I / sigma(I)
};

using Matrix3 = std::array<std::array<double, 3>, 3>;
using Cell7 = std::array<double, 7>;  // a, b, c, alpha, beta, gamma, V

// The errors of a reflection's diffraction vector the weights are made of,
// found from the residuals of an equal-weight fit: along the vector (its
// 2theta), across it in the plane of diffraction (omega: a floor and a part
// that falls as 1 / (I/sigma), as a fitted peak position does), and normal
// to that plane (chi and phi). Degrees.
struct AngleErrors {
  double two_theta = 0;
  double across = 0;
  double omega_floor = 0;
  double omega_scale = 0;  // sd of omega = sqrt(floor^2 + (scale / (I/sigma))^2)
};

struct CellFit {
  Matrix3 ub{};  // h(phi axis frame) = UB h, reciprocal Angstrom
  Cell7 cell{}, esd{};
  AngleErrors errors;
  double goodness = 0;  // sqrt of the weighted sum of squares over its degrees of freedom
  std::string error;    // empty when the fit was made
};

// `system` numbers the crystal systems as the refinement's list does: 0
// free, 1 monoclinic (b unique), 2 monoclinic (c unique), 3 orthorhombic,
// 4 tetragonal, 5 hexagonal, 6 cubic. A constrained fit turns a rotation
// and the system's cell parameters; at least four reflections are needed.
CellFit FitCell(std::span<const CellObservation> data, double lambda, int system);

// The cell of a UB.
Cell7 CellOfUB(const Matrix3& ub);

}  // namespace kalvex::reduce
