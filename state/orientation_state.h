// Orientation matrix, cell, crystal offsets and omega zero of the run.
#pragma once

#include <array>

#include "common/linear_algebra.h"

namespace kalvex {

// a, b, c, alpha, beta, gamma (degrees), volume.
using CellVector = std::array<float, 7>;

struct OrientationState {
  Mat3 ub{};
  Mat3 b{};
  CellVector cell{};
  CellVector cell_esd{};
  std::array<float, 3> offsets{};
  float omega_zero = 0;
  bool corrections_valid = false;
};

}  // namespace kalvex
