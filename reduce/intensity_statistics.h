// What the intensities say of the structure: the Wilson plot with its
// overall B and scale, normalised intensities E^2 in resolution shells, the
// centric test and the L-test for twinning.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "reduce/absences.h"
#include "reduce/formula.h"
#include "reduce/symmetry.h"
#include "state/orientation_state.h"

namespace gemmi {
struct SpaceGroup;
}

namespace kalvex::reduce {

// One point of the Wilson plot: ln(<I/eps> / sum f^2) at the bin's mean s^2.
struct WilsonPoint {
  double s2 = 0;  // (sin theta / lambda)^2, 1/A^2
  double mean_intensity = 0;
  double sum_f2 = 0;  // Z sum_j n_j f_j(s)^2 of the cell's atoms at rest
  double y = 0;
  int reflections = 0;
  bool fitted = false;  // inside the fitted range
};

// <I/eps> = scale sum f^2 exp(-2 B s^2), fitted to the points with d <= 4 A
// (all points when fewer than three lie there), each weighted by its count.
// The points are equal-count bins of the reflections in general positions
// of the Laue class, which have eps 1 and one distribution in every group
// of the class (of all reflections when fewer than 150 are general).
struct WilsonFit {
  std::vector<WilsonPoint> points;
  double b = 0, b_esd = 0;  // A^2
  double scale = 0, scale_esd = 0;
  bool valid = false;          // at least three points fitted
  bool average_atom = false;   // no formula: carbon, one atom per 18 A^3
};

// E^2 = I / (eps <I/eps>) in one of ten equal-count resolution shells:
// within the shell the fitted Wilson curve, its level the shell's mean.
// Counted over the reflections in general positions of the Laue class
// (where centric and acentric groups differ).
struct EShell {
  double d_max = 0, d_min = 0;
  int reflections = 0;
  double mean_e2 = 0;
  double mean_abs_e2_minus_1 = 0;
};

// The centric test. <|E^2 - 1|> is 0.968 for a centrosymmetric structure,
// 0.736 for a non-centrosymmetric one without error; measurement error
// raises both, and the values expected of these data's errors are given
// beside. The verdict is the likelihood ratio of the two distributions,
// each with the reflections' errors: its margin ln(L centric / L acentric),
// decided beyond +-ln 1000.
struct CentricTest {
  int reflections = 0;
  double mean_abs_e2_minus_1 = 0;
  double expected_centric = 0.968, expected_acentric = 0.736;  // with these data's errors
  double margin = 0;
  // N(z), the fraction with E^2 <= z, at z = 0.1, 0.2 ... 1.0, and the
  // curves of the two distributions: erf(sqrt(z / 2)) and 1 - exp(-z).
  std::array<double, 10> n_z{}, n_z_centric{}, n_z_acentric{};
  double rms_centric = 0, rms_acentric = 0;  // N(z) against each curve
  std::vector<EShell> shells;
  Centricity verdict = Centricity::kUndecided;
};

// The L-test on pairs of acentric reflections whose indices differ by 0 or
// +-2 in each (Padilla and Yeates): L = (I1 - I2) / (I1 + I2); <|L|> is
// 0.500 untwinned and 0.375 for a perfect twin. Taken from the shells whose
// mean I/sigma reaches 3 (all when none does).
enum class TwinVerdict { kNotApplicable, kUntwinned, kTwinned, kUndecided };
struct LTest {
  int pairs = 0;
  double mean_abs_l = 0, mean_l2 = 0;  // 1/3 untwinned, 1/5 perfect twin
  std::array<double, 10> n_l{};  // fraction with |L| <= 0.1 ... 1.0; |L| untwinned, |L|(3 - L^2)/2 twinned
  // (<|L|> - 0.4375) in standard errors: positive untwinned; beyond +-3 a verdict.
  double margin = 0;
  TwinVerdict verdict = TwinVerdict::kNotApplicable;
};

// ln p(I) of a reflection whose true intensity follows the Wilson
// distribution of mean `mean`, centric or acentric, measured with normal
// error sigma.
double LogWilsonDensity(double intensity, double sigma, double mean, bool centric);

struct IntensityStatistics {
  WilsonFit wilson;
  CentricTest centric;
  LTest l_test;
  std::vector<std::string> notes;
};

// The statistics of merged reflections (one per unique reflection of the
// Laue class) in the space group `group` (a group of the leading tie of
// the absences): its absent reflections are left out, its point group gives
// eps and its Laue class the general positions. `z` formula units in the
// cell; an empty formula takes the average atom. The L-test is run unless
// the centric test says centric.
IntensityStatistics AnalyseIntensities(std::span<const Observation> merged, const gemmi::SpaceGroup& group,
                                       const CellVector& cell, std::span<const FormulaElement> formula, double z);

}  // namespace kalvex::reduce
