// The peak profile of a reflection's omega scan: Gaussian, Lorentzian and
// pseudo-Voigt line shapes of unit area, and the damped weighted least-squares
// fit of a pseudo-Voigt doublet plus constant background (RefineProfile).
#pragma once

#include <array>

namespace kalvex {

// A line shape's value at x and its derivatives by the centre x0 and the
// FWHM w (degrees).
struct LineValue {
  float value = 0;
  float d_x0 = 0;
  float d_w = 0;
};

// The pseudo-Voigt adds the derivative by the Lorentzian fraction eta.
struct VoigtValue {
  float value = 0;
  float d_x0 = 0;
  float d_w = 0;
  float d_eta = 0;
};

// Unit-area Gaussian; zero beyond 6 FWHM from the centre (exactly 6 is still
// evaluated).
LineValue GaussProfile(float x, float x0, float w);
// Unit-area Lorentzian, no cut-off.
LineValue LorentzProfile(float x, float x0, float w);
// (1 - eta) Gauss + eta Lorentz with a common FWHM.
VoigtValue PseudoVoigt(float x, float x0, float eta, float w);

// Profile parameters and ESDs, 1-based in the program's parameter order
// (kBackground .. kIratio); element 0 is not used.
using ProfileValues = std::array<float, 7>;
using ProfileFlags = std::array<int, 7>;

// FitStatus of RefineProfile.
constexpr int kFitConverged = 0;
constexpr int kFitSingular = 1;
constexpr int kFitNoConvergence = 2;
constexpr int kFitNothingToRefine = 3;

constexpr int kMaxFitPasses = 200;

// Wavelengths below this make the fit single-line: there is no alpha2.
constexpr float kMinSecondWavelength = 0.1f;

// The separation of the alpha2 line from alpha1 at 2theta (degrees of the
// scan axis), monochromator term included.
float DoubletOffset(float lambda1, float lambda2, float two_theta, float mono_term);

// Fits background + Intensity x [V(x; Position) + Iratio V(x; Position + offset)]
// to the n counts y at the step positions x (n <= 200), refining the
// parameters whose flag is 1. p holds the start values and receives the
// result (Iratio is set to 0 for a single-line fit); e receives the ESDs (0
// for parameters not refined); yc receives the calculated profile per step.
// lambda = {lambda1, lambda2}; mono_term and two_theta place the alpha2 line.
// A status-3 return evaluates nothing and leaves rwp, chi2 and e as they came.
void RefineProfile(const float* x, const float* y, int n, const std::array<float, 2>& lambda, float mono_term,
                   float two_theta, ProfileValues& p, const ProfileFlags& flags, float* yc, ProfileValues& e,
                   float& rwp, float& chi2, int& status);

}  // namespace kalvex
