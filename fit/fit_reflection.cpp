// FitReflection: the fits and tests that turn the current scan into an
// integrated intensity with its status and reason letters.
#include "fit/fit_reflection.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "common/constants.h"
#include "fit/profile.h"

namespace kalvex {

namespace {

// class_code positions written here (0-based): fit status and reason; the
// attempt and the two output blanks follow.
constexpr int kStatusChar = 1;
constexpr int kReasonChar = 2;

// Calculated values above the background by more than this fraction mark the peak.
constexpr float kPeakThreshold = 1.01f;

bool Outside(float value, float low, float high) { return value < low || value > high; }

void Reject(ScanReflection& scan, char reason) {
  scan.class_code[kStatusChar] = 'R';
  scan.class_code[kReasonChar] = reason;
}

// Runs the profile fit on the scan from `v` into `v` and `profile`, leaving
// the ESDs, rwp, chi2 and status in the outcome; a fit with nothing to refine
// leaves the ESDs, rwp and chi2 as they were, one that fails within its first
// pass the ESDs.
void Refine(const ScanReflection& scan, const RunParameters& par, ProfileFitter refine, ProfileValues& v,
            const ProfileFlags& flags, float* profile, FitOutcome& out) {
  const int n = std::clamp(scan.step_count, 0, kMaxSteps);
  const ProfileScan input{scan.step_position.data(), scan.counts.data(), n, {par.lambda1, par.lambda2},
                          scan.mono_term, scan.two_theta};
  const ProfileFit fit = refine(input, v, flags, profile);
  v = fit.p;
  out.fit_status = fit.status;
  if (fit.status == kFitNothingToRefine) return;
  if (fit.esd_set) out.peak.esd = fit.esd;
  out.rwp = fit.rwp;
  out.chi2 = fit.chi2;
}

// The tests between the first and the final fit. Returns false when the
// reflection is rejected early (no integration).
bool PassesTests(ScanReflection& scan, const RunParameters& par, const ProfileFlags& refine, bool hold_position,
                 ProfileFitter refine_profile, FitOutcome& out) {
  const ProfileValues& P = out.peak.value;
  const ProfileValues& E = out.peak.esd;
  const auto& check = par.check_flag;

  if (check[kBackground] == 1 && refine[kBackground] == 1 &&
      Outside(P[kBackground], par.low[kBackground], par.high[kBackground])) {
    Reject(scan, 'B');
    return false;
  }
  // There is no upper intensity limit.
  if (check[kIntensity] == 1 && P[kIntensity] < par.low[kIntensity]) {
    Reject(scan, 'I');
    return false;
  }
  // Weak reflections cannot support the Eta and doublet tests.
  const bool strong = !(P[kIntensity] < 3.0f * E[kIntensity]);
  if (strong) {
    if (check[kEta] == 1 && refine[kEta] == 1 && Outside(P[kEta], par.low[kEta], par.high[kEta])) {
      Reject(scan, 'S');
      return false;
    }
    if (check[kIratio] == 1 || check[kFwhm] == 1) {
      // The doublet test fit frees the alpha2 ratio with the shape held;
      // width and position are freed too once the lines are resolved.
      ProfileValues q = P;
      ProfileFlags flags{0, 0, 0, 1, 0, refine[kEta], 1};
      const float separation = DoubletOffset(par.lambda1, par.lambda2, scan.two_theta, scan.mono_term);
      if (separation > P[kFwhm]) flags[kFwhm] = flags[kPosition] = 1;
      std::array<float, kMaxSteps> test_profile{};
      Refine(scan, par, refine_profile, q, flags, test_profile.data(), out);
      if (check[kIratio] == 1 && Outside(q[kIratio], par.low[kIratio], par.high[kIratio])) {
        Reject(scan, 'R');
        return false;
      }
      if (check[kFwhm] == 1 && Outside(q[kFwhm], par.low[kFwhm], par.high[kFwhm])) {
        Reject(scan, 'W');
        return false;
      }
    }
  }
  // low(4) and high(4) are distances below and above the scan's expected centre.
  if (!hold_position && check[kPosition] == 1 && refine[kPosition] == 1 &&
      Outside(P[kPosition], scan.omega_centre - par.low[kPosition], scan.omega_centre + par.high[kPosition])) {
    Reject(scan, 'P');
    return false;
  }
  return true;
}

}  // namespace

void BackgroundRanges(const float* calculated, int n, float background, std::array<int, 5>& bg_range) {
  const float threshold = kPeakThreshold * background;
  int first = 0;
  int last = 0;
  for (int i = 1; i <= n; ++i) {
    if (calculated[i - 1] > threshold) {
      if (first == 0) first = i;
      last = i;
    }
  }
  bg_range[1] = 1;
  bg_range[2] = first > 0 ? first - 1 : n;
  bg_range[3] = last > 0 ? last + 1 : 1;
  // The Lorentzian tails of most peaks stay above the threshold out to a
  // scan end; the end step on each side is kept as background so that the
  // ranges stay inside the scan and the peak still gets its summation sigma.
  // A profile that never rises keeps (1, N, N + 1, N), which has none.
  bg_range[2] = std::max(bg_range[2], 1);
  bg_range[3] = std::min(bg_range[3], n);
  if (bg_range[3] <= bg_range[2]) bg_range[3] = bg_range[2] + 1;
  bg_range[4] = n;
}

bool SummationSigma(std::array<int, 5>& bg_range, const float* counts, int n, float& sigma_sum) {
  std::sort(bg_range.begin() + 1, bg_range.end());
  if (bg_range[1] <= 0 || bg_range[4] > n) return false;
  auto sum = [counts](int from, int to) {
    float s = 0.0f;
    for (int i = from; i <= to; ++i) s += counts[i - 1];
    return s;
  };
  const float bg = sum(bg_range[1], bg_range[2]) + sum(bg_range[3], bg_range[4]);
  const float pk = sum(bg_range[2] + 1, bg_range[3] - 1);
  const int nb = bg_range[2] - bg_range[1] + bg_range[4] - bg_range[3] + 2;
  const int np = bg_range[3] - bg_range[2] - 1;
  const float variance = pk + bg * static_cast<float>(np) / static_cast<float>(nb);
  // Negative counts (a subtracted background) can leave no variance to take
  // the root of; the sigma then stays as it was.
  if (!(variance >= 0.0f)) return false;
  sigma_sum = std::sqrt(variance);
  return true;
}

FitOutcome FitReflection(ScanReflection& scan, const RunParameters& par, const FitControls& controls) {
  return FitReflectionWith(scan, par, controls, RefineProfile);
}

FitOutcome FitReflectionWith(ScanReflection& scan, const RunParameters& par, const FitControls& controls,
                             ProfileFitter refine) {
  FitOutcome out;
  ProfileValues& P = out.peak.value;
  P = controls.start;

  out.i_fit = 0.0f;
  out.sigma_fit = 1.0f;
  out.sigma_sum = 1.0f;
  std::fill(scan.class_code.begin() + 1, scan.class_code.end(), ' ');
  ProfileFlags flags = controls.refine;
  if (controls.hold_position) flags[kPosition] = 0;

  // The monochromator's share of the alpha1-alpha2 separation follows the
  // sign of 2theta, as the reader's mono_term does.
  if (par.mono_orient != 0) {
    const float shift = MonoShift(par.mono_2theta, par.mono_orient, par.lambda1, par.lambda2);
    const float magnitude = std::isfinite(shift) ? shift : 0.0f;
    scan.mono_term = scan.two_theta < 0.0f ? -magnitude : magnitude;
  }

  Refine(scan, par, refine, P, flags, scan.calculated.data(), out);
  switch (out.fit_status) {
    case kFitSingular: Reject(scan, 'E'); return out;
    case kFitNoConvergence: Reject(scan, 'C'); return out;
    case kFitNothingToRefine: Reject(scan, 'D'); return out;
    default: break;
  }

  if (par.check_flag[kRwp] == 1 && out.rwp > par.rwp_max) {
    // A poor agreement is flagged but still integrated from the first fit.
    Reject(scan, 'F');
  } else {
    if (!PassesTests(scan, par, flags, controls.hold_position, refine, out)) return out;
    Refine(scan, par, refine, P, flags, scan.calculated.data(), out);
    scan.class_code[kStatusChar] = 'F';
    scan.class_code[kReasonChar] = ' ';
  }

  const int n = std::clamp(scan.step_count, 0, kMaxSteps);
  out.i_fit = P[kIntensity];
  out.sigma_fit = out.peak.esd[kIntensity];
  scan.omega_centre = P[kPosition];
  BackgroundRanges(scan.calculated.data(), n, P[kBackground], out.bg_range);
  SummationSigma(out.bg_range, scan.counts.data(), n, out.sigma_sum);
  out.i_fit *= scan.count_scale;
  out.sigma_fit *= scan.count_scale;
  out.sigma_sum *= scan.count_scale;
  return out;
}

float DefaultFwhm(const RunParameters& par, float two_theta) {
  const auto& pdef = par.pdef;
  return pdef[kFwhm][kCoefA] + pdef[kFwhm][kCoefB] * std::tan(two_theta / 2.0f / kDegPerRadScan);
}

ProfileValues SeedStartValues(const ScanReflection& scan, const RunParameters& par, const FitControls& controls,
                              float fixed_background, std::optional<float> predicted) {
  const ProfileFlags& refine = controls.refine;
  const ProfileFlags& use_default = controls.use_default;
  const ProfileValues& input = controls.start;
  ProfileValues P = input;
  const int n = scan.step_count;
  if (refine[kBackground] == 1) {
    P[kBackground] = n > 0 ? (scan.counts[0] + scan.counts[n - 1]) / 2.0f : 0.0f;
  } else if (use_default[kBackground] == 1) {
    P[kBackground] = fixed_background;
  }
  if (use_default[kFwhm] == 1) P[kFwhm] = DefaultFwhm(par, scan.two_theta);
  if (refine[kIntensity] == 1) P[kIntensity] = scan.max_count * P[kFwhm];
  if (refine[kPosition] == 1) {
    P[kPosition] = scan.step_position[scan.max_step - 1];
  } else if (use_default[kPosition] == 1 && predicted) {
    P[kPosition] = *predicted;
  }
  if (use_default[kEta] == 1) P[kEta] = par.pdef[kEta][kCoefA];
  if (use_default[kIratio] == 1) P[kIratio] = par.iratio;
  return P;
}

ProfileValues DefaultStartValues(const ScanReflection& scan, const RunParameters& par, const FitControls& controls,
                                 float fixed_background, std::optional<float> predicted, const ProfileValues& current) {
  ProfileValues P = current;
  P[kBackground] = controls.use_default[kBackground] == 1 ? fixed_background : scan.counts[0];
  P[kFwhm] = DefaultFwhm(par, scan.two_theta);
  P[kIntensity] = scan.max_count * P[kFwhm];
  if (controls.refine[kPosition] == 1) {
    P[kPosition] = scan.step_position[scan.max_step - 1];
  } else if (predicted) {
    P[kPosition] = *predicted;
  }
  P[kEta] = par.pdef[kEta][kCoefA];
  P[kIratio] = par.pdef[kIratio][kCoefA];
  return P;
}

int OutcomeCounterOf(char reason) {
  constexpr std::string_view kLetters = " ECDBIPWRFS";
  const auto at = kLetters.find(reason, 1);
  return at == std::string_view::npos || at > 9 ? 11 : static_cast<int>(at) + 1;
}

}  // namespace kalvex
