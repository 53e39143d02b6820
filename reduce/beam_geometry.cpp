#include "reduce/beam_geometry.h"

#include <cmath>
#include <numbers>

namespace kalvex::reduce {

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;

double Dot(const Direction& a, const Direction& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Direction Unit(const Direction& a) {
  const double n = std::sqrt(Dot(a, a));
  return {a[0] / n, a[1] / n, a[2] / n};
}

}  // namespace

std::optional<BeamPair> BeamsInCrystal(const Mat3& ub, const std::array<int, 3>& hkl,
                                       const std::array<double, 4>& angles, double lambda) {
  Direction s{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) s[i] += static_cast<double>(ub[i][j]) * hkl[j];
  const double sin_theta = lambda * std::sqrt(Dot(s, s)) / 2.0;
  if (!(sin_theta > 0.0 && sin_theta < 1.0)) return std::nullopt;
  const double cos_theta = std::sqrt(1.0 - sin_theta * sin_theta);

  // The frame's y axis in the crystal's frame: Phi^T X^T Omega^T (0, 1, 0).
  const double om = angles[1] * kRadPerDeg, chi = angles[2] * kRadPerDeg, phi = angles[3] * kRadPerDeg;
  const Direction y{-std::sin(om) * std::cos(chi) * std::cos(phi) - std::cos(om) * std::sin(phi),
                    std::cos(om) * std::cos(phi) - std::sin(om) * std::cos(chi) * std::sin(phi),
                    -std::sin(om) * std::sin(chi)};
  const Direction along = Unit(s);
  // Orthogonal to the diffraction vector from UB, which differs from the
  // angles' by the refinement's residual only.
  const double k = Dot(y, along);
  const Direction across = Unit({y[0] - k * along[0], y[1] - k * along[1], y[2] - k * along[2]});
  BeamPair beams;
  for (int i = 0; i < 3; ++i) {
    beams.reversed_incident[i] = along[i] * sin_theta - across[i] * cos_theta;
    beams.diffracted[i] = along[i] * sin_theta + across[i] * cos_theta;
  }
  return beams;
}

std::array<double, 6> CosinesOnReciprocalAxes(const BeamPair& beams, const Mat3& ub) {
  std::array<double, 6> out{};
  for (int j = 0; j < 3; ++j) {
    const Direction axis = Unit({ub[0][j], ub[1][j], ub[2][j]});
    out[2 * j] = Dot(beams.reversed_incident, axis);
    out[2 * j + 1] = Dot(beams.diffracted, axis);
  }
  return out;
}

}  // namespace kalvex::reduce
