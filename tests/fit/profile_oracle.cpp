// The profile fit as first written: PseudoVoigt per step and line, normal
// equations summed step by step in double. Kept as the reference for the fast fit.
#include "tests/fit/profile_oracle.h"

#include <algorithm>
#include <cmath>

#include "fit/fit_reflection.h"
#include "refine/linear_algebra.h"
#include "shell/parameter_file.h"
#include "shell/run_parameters.h"

namespace kalvex::oracle {

namespace {

constexpr float kDegPerRad = 57.29578f;
constexpr float kDampingStep = 0.1f;
constexpr float kMaxDamping = 0.7f;
constexpr double kMinDiagonal = 1.0e-20;
constexpr float kPivotTolerance = 1.0e-6f;
constexpr float kConvergedShift = 0.01f;

}  // namespace

void RefineProfile(const float* x, const float* y, int n, const std::array<float, 2>& lambda, float mono_term,
                   float two_theta, ProfileValues& p, const ProfileFlags& flags, float* yc, ProfileValues& e,
                   float& rwp, float& chi2, int& status) {
  status = kFitNothingToRefine;
  std::array<int, kProfileParameters> refined{};
  int nr = 0;
  for (int k = 1; k <= kProfileParameters; ++k) {
    if (flags[k] == 1) refined[nr++] = k;
  }
  if (nr == 0 || nr >= n) {
    std::fill(yc, yc + std::max(n, 0), 0.0f);
    return;
  }

  const bool doublet = lambda[1] >= kMinSecondWavelength;
  if (!doublet) p[kIratio] = 0.0f;
  const float rho = doublet ? lambda[1] / lambda[0] : 0.0f;
  const float offset = doublet ? DoubletOffset(lambda[0], lambda[1], two_theta, mono_term) : 0.0f;

  status = kFitConverged;
  bool settled = false;
  ProfileValues work = p;
  ProfileValues new_esd{};
  for (int pass = 1;; ++pass) {
    if (pass > kMaxFitPasses) {
      status = kFitNoConvergence;
      return;
    }
    const float damping = std::min(kDampingStep * static_cast<float>(pass), kMaxDamping);

    const float background = p[kBackground];
    const float fwhm = p[kFwhm];
    const float intensity = p[kIntensity];
    const float position = p[kPosition];
    const float eta = p[kEta];
    const float ratio = p[kIratio];
    const float chain = doublet ? rho * std::cos(position / kDegPerRad) / std::cos((position + offset) / kDegPerRad)
                                : 0.0f;

    // Normal equations accumulate in double: a strong scan's weighted sums
    // span more digits than a float holds.
    double a[kProfileParameters][kProfileParameters] = {};
    double b[kProfileParameters] = {};
    double sum_wr2 = 0.0;
    double sum_wy2 = 0.0;
    for (int i = 0; i < n; ++i) {
      const VoigtValue v1 = PseudoVoigt(x[i], position, eta, fwhm);
      const VoigtValue v2 = doublet ? PseudoVoigt(x[i], position + offset, eta, fwhm) : VoigtValue{};
      const float profile = v1.value + ratio * v2.value;
      const float model = profile * intensity + background;
      yc[i] = model;
      // Counts + 1 inside the fit keep the weight of a zero count finite.
      const float count = y[i] + 1.0f;
      const float r = count - (model + 1.0f);
      const float w = count > 0.0f ? 1.0f / count : 1.0f;
      const float d[kProfileParameters + 1] = {
          0.0f,
          1.0f,
          (v1.d_w + ratio * v2.d_w) * intensity,
          profile,
          (v1.d_x0 + ratio * chain * v2.d_x0) * intensity,
          (v1.d_eta + ratio * v2.d_eta) * intensity,
          v2.value * intensity,
      };
      for (int m = 0; m < nr; ++m) {
        const double wdm = static_cast<double>(w) * d[refined[m]];
        b[m] += wdm * r;
        for (int l = 0; l <= m; ++l) a[m][l] += wdm * d[refined[l]];
      }
      sum_wr2 += static_cast<double>(w) * r * r;
      sum_wy2 += static_cast<double>(w) * count * count;
    }
    rwp = static_cast<float>(std::sqrt(sum_wr2 / sum_wy2));
    chi2 = static_cast<float>(sum_wr2 / (n - nr));
    if (settled) return;

    // Invert the normal matrix scaled to a unit diagonal.
    Matrix6 inverse{};
    double scale[kProfileParameters] = {};
    for (int m = 0; m < nr; ++m) {
      if (!(a[m][m] >= kMinDiagonal)) {
        status = kFitSingular;
        return;
      }
      scale[m] = 1.0 / std::sqrt(a[m][m]);
    }
    for (int m = 0; m < nr; ++m) {
      for (int l = 0; l <= m; ++l) {
        inverse[m][l] = inverse[l][m] = static_cast<float>(a[m][l] * scale[m] * scale[l]);
      }
    }
    if (GaussJordanInvert(inverse, nr, kPivotTolerance) < nr) {
      status = kFitSingular;
      return;
    }
    double shift[kProfileParameters] = {};
    for (int m = 0; m < nr; ++m) {
      for (int l = 0; l < nr; ++l) shift[m] += inverse[m][l] * scale[m] * scale[l] * b[l];
    }

    // ESDs scale with chi2 but never shrink below the counting statistics.
    const double error_scale = std::max(static_cast<double>(chi2), 1.0);
    settled = true;
    for (int m = 0; m < nr; ++m) {
      const int k = refined[m];
      work[k] += static_cast<float>(damping * shift[m]);
      // A tiny variance is a well-measured parameter; only a variance that is
      // not positive or not finite means the fit has lost its footing.
      const double variance = error_scale * inverse[m][m] * scale[m] * scale[m];
      if (!(variance > 0.0) || !std::isfinite(variance)) {
        status = kFitSingular;
        return;
      }
      new_esd[k] = static_cast<float>(std::sqrt(variance));
      if (std::fabs(shift[m]) > kConvergedShift * std::sqrt(variance)) settled = false;
    }
    for (int k = 1; k <= kProfileParameters; ++k) {
      const bool refines = flags[k] == 1;
      if (refines) p[k] = work[k];
      e[k] = refines ? new_esd[k] : 0.0f;
    }
  }
}

namespace {

// class_code positions written here (0-based): fit status and reason; the
// attempt and the two output blanks follow.
constexpr int kStatusChar = 1;
constexpr int kReasonChar = 2;

bool Outside(float value, float low, float high) { return value < low || value > high; }

void Reject(ScanReflection& scan, char reason) {
  scan.class_code[kStatusChar] = 'R';
  scan.class_code[kReasonChar] = reason;
}

// Runs RefineProfile on the current scan into `v` and `profile`, leaving E,
// rwp, chi2 and the status in the fit results.
void Refine(ProgramState& state, ProfileValues& v, const ProfileFlags& flags, float* profile) {
  ScanReflection& scan = state.scan;
  FitState& fit = state.fit;
  const int n = std::clamp(scan.step_count, 0, kMaxSteps);
  RefineProfile(scan.step_position.data(), scan.counts.data(), n, {state.params.lambda1, state.params.lambda2},
                scan.mono_term, scan.two_theta, v, flags, profile, fit.peak.esd, fit.rwp, fit.chi2, fit.fit_status);
}

// The tests between the first and the final fit. Returns false when the
// reflection is rejected early (no integration).
bool PassesTests(ProgramState& state, int mode) {
  const RunParameters& par = state.params;
  ScanReflection& scan = state.scan;
  const ProfileValues& P = state.fit.peak.value;
  const ProfileValues& E = state.fit.peak.esd;
  const auto& check = par.check_flag;
  const auto& refine = par.refine_flag;

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
      Refine(state, q, flags, test_profile.data());
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
  if (mode == kFitNormal && check[kPosition] == 1 && refine[kPosition] == 1 &&
      Outside(P[kPosition], scan.omega_centre - par.low[kPosition], scan.omega_centre + par.high[kPosition])) {
    Reject(scan, 'P');
    return false;
  }
  return true;
}

}  // namespace

void FitReflection(ProgramState& state, int mode) {
  ScanReflection& scan = state.scan;
  FitState& fit = state.fit;
  const RunParameters& par = state.params;
  ProfileValues& P = fit.peak.value;

  fit.i_fit = 0.0f;
  fit.sigma_fit = 1.0f;
  fit.sigma_sum = 1.0f;
  std::fill(scan.class_code.begin() + 1, scan.class_code.end(), ' ');
  ProfileFlags flags = par.refine_flag;
  if (mode == kFitRetry) flags[kPosition] = 0;

  // The monochromator's share of the alpha1-alpha2 separation follows the
  // sign of 2theta, as the reader's mono_term does.
  if (par.mono_orient != 0) {
    const float shift = MonoShift(par.mono_2theta, par.mono_orient, par.lambda1, par.lambda2);
    const float magnitude = std::isfinite(shift) ? shift : 0.0f;
    scan.mono_term = scan.two_theta < 0.0f ? -magnitude : magnitude;
  }

  Refine(state, P, flags, scan.calculated.data());
  switch (fit.fit_status) {
    case kFitSingular: Reject(scan, 'E'); return;
    case kFitNoConvergence: Reject(scan, 'C'); return;
    case kFitNothingToRefine: Reject(scan, 'D'); return;
    default: break;
  }

  if (par.check_flag[kRwp] == 1 && fit.rwp > par.rwp_max) {
    // A poor agreement is flagged but still integrated from the first fit.
    Reject(scan, 'F');
  } else {
    if (!PassesTests(state, mode)) return;
    Refine(state, P, par.refine_flag, scan.calculated.data());
    scan.class_code[kStatusChar] = 'F';
    scan.class_code[kReasonChar] = ' ';
  }

  const int n = std::clamp(scan.step_count, 0, kMaxSteps);
  fit.i_fit = P[kIntensity];
  fit.sigma_fit = fit.peak.esd[kIntensity];
  scan.omega_centre = P[kPosition];
  BackgroundRanges(scan.calculated.data(), n, P[kBackground], fit.bg_range);
  SummationSigma(fit.bg_range, scan.counts.data(), n, fit.sigma_sum);
  fit.i_fit *= scan.count_scale;
  fit.sigma_fit *= scan.count_scale;
  fit.sigma_sum *= scan.count_scale;
}

}  // namespace kalvex::oracle
