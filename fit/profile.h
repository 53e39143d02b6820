// The peak profile of a reflection's omega scan: Gaussian, Lorentzian and
// pseudo-Voigt line shapes of unit area, and the damped weighted least-squares
// fit of a pseudo-Voigt doublet plus constant background (RefineProfile).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "state/fit_state.h"

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

// value where keep holds, else 0: a mask on bits, so that the compiler
// computes both sides and selects instead of branching per step.
inline float KeepIf(bool keep, float value) {
  const std::uint32_t mask = keep ? 0xffffffffu : 0u;
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(value) & mask);
}

// e^x for x <= 0 in plain arithmetic the compiler can vectorise (std::exp is
// a library call it cannot): x = k ln2 + r with |r| <= ln2 / 2 (ln2 split in
// two so that k ln2 is exact), e^r by the classic single-precision minimax
// polynomial, 2^k applied in two halves through the exponent bits so that
// results down to the smallest denormal come out as std::exp's would.
// Within 1 ulp of the exact e^x for x >= kExpFloor (LineShape.FastExponential
// measures it); 0 below, where e^x is less than the smallest denormal
// (1.4e-45) and the arithmetic is meaningless: masked, not branched around.
constexpr float kExpFloor = -103.9f;
inline float ExpNonPositive(float x) {
  constexpr float kLog2e = 1.44269504f;
  constexpr float kLn2High = 0.693359375f;  // 8 significant bits: k * kLn2High is exact
  constexpr float kLn2Low = -2.12194440e-4f;
  constexpr float kRound = 12582912.0f;  // 1.5 * 2^23: adding it rounds to an integer in the low bits
  const float shifted = x * kLog2e + kRound;
  const float k = shifted - kRound;
  // k as an integer, split into halves that are each a normal power of two
  // down to k = -150.
  const auto k_int = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(shifted) -
                                               std::bit_cast<std::uint32_t>(kRound));
  const std::int32_t k_half = k_int >> 1;
  const float scale_1 = std::bit_cast<float>((static_cast<std::uint32_t>(k_half) + 127u) << 23);
  const float scale_2 = std::bit_cast<float>((static_cast<std::uint32_t>(k_int - k_half) + 127u) << 23);
  const float r = (x - k * kLn2High) - k * kLn2Low;
  float poly = 1.9875691500e-4f;
  poly = poly * r + 1.3981999507e-3f;
  poly = poly * r + 8.3334519073e-3f;
  poly = poly * r + 4.1665795894e-2f;
  poly = poly * r + 1.6666665459e-1f;
  poly = poly * r + 5.0000001201e-1f;
  return KeepIf(!(x < kExpFloor), (poly * (r * r) + r + 1.0f) * scale_1 * scale_2);
}

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

// A scan as the profile fit sees it: n counts y at the step positions x
// (n <= 200, the record capacity; steps beyond it are not fitted), and what
// places the alpha2 line: lambda = {lambda1, lambda2}, mono_term, two_theta.
struct ProfileScan {
  const float* x = nullptr;
  const float* y = nullptr;
  int n = 0;
  std::array<float, 2> lambda{};
  float mono_term = 0;
  float two_theta = 0;
};

// What one profile fit gives back: the parameters (the start values where not
// refined; Iratio 0 for a single-line fit), their ESDs (0 where not refined),
// the agreement and the FitStatus. A status-3 fit evaluates nothing: its
// ESDs, rwp and chi2 are 0. ESDs come from a completed pass: a fit that
// fails within its first pass has none (esd_set false).
struct ProfileFit {
  ProfileValues p{};
  ProfileValues esd{};
  bool esd_set = false;
  float rwp = 0;
  float chi2 = 0;
  int status = kFitConverged;
};

// Fits background + Intensity x [V(x; Position) + Iratio V(x; Position + offset)]
// to the scan from `start`, refining the parameters whose flag is 1; yc
// receives the calculated profile per step.
// The step loops run on the widest vector unit the processor has, chosen
// once at start-up; every unit gives the same numbers (the loops keep eight
// lanes and the order of every sum whatever the register width).
ProfileFit RefineProfile(const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags, float* yc);

enum class VectorUnit { kSse2, kAvx2, kAvx512 };
const char* VectorUnitName(VectorUnit unit);
// The units this processor runs, narrowest first.
std::vector<VectorUnit> SupportedVectorUnits();
VectorUnit ActiveVectorUnit();
// Makes RefineProfile use `unit` (tests and benchmarks); false, and no
// change, when the processor lacks it.
bool UseVectorUnit(VectorUnit unit);

}  // namespace kalvex
