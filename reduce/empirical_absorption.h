// The empirical ("multi-scan") absorption correction: a smooth transmission
// surface over the two beam directions, refined so that equivalent
// measurements agree.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "reduce/beam_geometry.h"

namespace kalvex::reduce {

// Real spherical harmonics, orthonormal over the sphere, of the unit vector
// `u` for l = 0 .. lmax: out[l * l + l + m] for m = -l .. l (cos m phi for
// m > 0, sin |m| phi for m < 0).
void RealSphericalHarmonics(int lmax, const Direction& u, std::vector<double>& out);

// One measurement: the set of equivalents it belongs to (any integer naming
// the unique reflection), its intensity and sigma on any common scale, and
// its beams in the crystal's frame.
struct AbsorptionMeasurement {
  int group = 0;
  double intensity = 0;
  double sigma = 0;
  BeamPair beams;
};

struct EmpiricalOptions {
  int lmax = 4;  // 2 .. 6
  // Weight of the restraint towards a flat surface: each coefficient of order
  // l is held to 0 with (l (l + 1) / 6)^2 times this fraction of the data's
  // mean information per coefficient.
  double restraint = 1e-3;
  // The largest transmission the surface is scaled to: 1 (a relative
  // surface) unless the caller knows mu and the crystal's size.
  std::optional<double> expected_tmax;
};

// The model: ln T = g(reversed incident) + g(diffracted), the same function g
// of both directions, g = sum over l = 1 .. lmax of c_lm Y_lm (the constant
// term is the scale, fixed). Even orders always; odd orders too when the data
// allow them by the rule below. Refined by Gauss-Newton least squares on
// (I - T <I>) / sigma with each group's <I> the value that fits it best
// (eliminated from the normal equations), plus the restraint. Only groups of two or more measurements count;
// the data determine the coefficients when the comparisons among
// equivalents (measurements in groups less the number of groups) are at
// least twice their number.
struct EmpiricalAbsorption {
  std::string refusal;  // empty when the surface was refined
  int lmax = 0;
  bool odd_orders = false;
  int coefficients = 0;
  int comparisons = 0;
  int iterations = 0;
  std::vector<double> c;             // indexed l * l + l + m, zero where not refined
  double scale = 1;                  // multiplies exp(g + g): the normalisation
  std::vector<double> transmission;  // of each measurement given, normalised
  double t_min = 0, t_max = 0;       // over those
  double r_int_before = 0, r_int_after = 0;
  bool Usable() const { return refusal.empty(); }
  // The normalised transmission of any pair of beams.
  double TransmissionOf(const BeamPair& beams) const;
};

EmpiricalAbsorption RefineEmpiricalAbsorption(std::span<const AbsorptionMeasurement> data,
                                              const EmpiricalOptions& options = {});

// R_int = sum |I - <I>| / sum I over the groups of two or more measurements,
// each intensity divided by its transmission (all 1 when `transmission` is
// empty).
double RInt(std::span<const AbsorptionMeasurement> data, std::span<const double> transmission = {});

// How far one set of transmissions is from another after one common scale:
// the rms and the largest relative difference.
struct TransmissionComparison {
  double rms = 0;
  double worst = 0;
};
TransmissionComparison CompareTransmissions(std::span<const double> a, std::span<const double> b);

}  // namespace kalvex::reduce
