// The profile fit as first written: PseudoVoigt per step and line, normal
// equations summed step by step in double. Kept as the reference for the fast fit.
#include "tests/fit/profile_oracle.h"

#include <algorithm>
#include <cmath>

#include "common/linear_algebra.h"
#include "fit/fit_reflection.h"
#include "scan/parameter_file.h"

namespace kalvex::oracle {

namespace {

constexpr float kDegPerRad = 57.29578f;
constexpr float kDampingStep = 0.1f;
constexpr float kMaxDamping = 0.7f;
constexpr double kMinDiagonal = 1.0e-20;
constexpr float kPivotTolerance = 1.0e-6f;
constexpr float kConvergedShift = 0.01f;

// The fit as first written, its results left where the first interface put
// them: p from the start values to the result, e, rwp, chi2 and status.
void Refine(const float* x, const float* y, int n, const std::array<float, 2>& lambda, float mono_term,
            float two_theta, ProfileValues& p, const ProfileFlags& flags, float* yc, ProfileValues& e, bool& esd_set,
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
    esd_set = true;
  }
}

}  // namespace

ProfileFit RefineProfile(const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags, float* yc) {
  ProfileFit fit;
  fit.p = start;
  Refine(scan.x, scan.y, scan.n, scan.lambda, scan.mono_term, scan.two_theta, fit.p, flags, yc, fit.esd,
         fit.esd_set, fit.rwp, fit.chi2, fit.status);
  return fit;
}

FitOutcome FitReflection(ScanReflection& scan, const RunParameters& par, const FitControls& controls) {
  return kalvex::FitReflectionWith(scan, par, controls, RefineProfile);
}

}  // namespace kalvex::oracle
