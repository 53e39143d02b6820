// Line shapes and the damped least-squares fit of one reflection's scan.
// Pure functions: no state, no allocation; at most 200 steps and 6 parameters.
#include "fit/profile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "common/constants.h"
#include "common/linear_algebra.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex {

namespace {

constexpr float kDegPerRad = kDegPerRadScan;
constexpr float kGaussC = 1.6651092f;     // 2 sqrt(ln 2)
constexpr float kGaussA = 0.9394373f;     // 2 sqrt(ln 2 / pi)
constexpr float kLorentzC = 0.6366198f;   // 2 / pi
constexpr float kGaussCutoff = 6.0f;      // FWHM beyond which the Gaussian is taken as 0
constexpr float kDampingStep = 0.1f;      // shift fraction added per pass ...
constexpr float kMaxDamping = 0.7f;       // ... up to this
constexpr double kMinDiagonal = 1.0e-20;  // a normal-matrix diagonal below this has no information
constexpr float kPivotTolerance = 1.0e-6f;
constexpr float kConvergedShift = 0.01f;  // undamped shift / ESD below which a parameter has settled

}  // namespace

LineValue GaussProfile(float x, float x0, float w) {
  const float d = x - x0;
  if (std::fabs(d) / w > kGaussCutoff) return {};
  const float u = kGaussC * d / w;
  const float g = kGaussA / w * std::exp(-u * u);
  return {g, 2.0f * kGaussC * kGaussC * d * g / (w * w), (2.0f * u * u - 1.0f) * g / w};
}

LineValue LorentzProfile(float x, float x0, float w) {
  const float d = x - x0;
  const float e = w * w + 4.0f * d * d;
  const float e2 = e * e;
  return {kLorentzC * w / e, 8.0f * kLorentzC * w * d / e2, kLorentzC * (4.0f * d * d - w * w) / e2};
}

VoigtValue PseudoVoigt(float x, float x0, float eta, float w) {
  const LineValue g = GaussProfile(x, x0, w);
  const LineValue l = LorentzProfile(x, x0, w);
  const float h = 1.0f - eta;
  return {h * g.value + eta * l.value, h * g.d_x0 + eta * l.d_x0, h * g.d_w + eta * l.d_w, l.value - g.value};
}

float DoubletOffset(float lambda1, float lambda2, float two_theta, float mono_term) {
  const float theta = two_theta / 2.0f;
  return kDegPerRad * std::asin(lambda2 / lambda1 * std::sin(theta / kDegPerRad)) - theta + mono_term;
}

namespace {

// The step loop runs over blocks of kLanes steps with inner loops of fixed
// length, which the compiler turns into vector code at -O2 without a scalar
// remainder; the last block is padded with copies of the last step at weight 0.
constexpr int kLanes = 8;
constexpr int kPaddedSteps = (kMaxSteps + kLanes - 1) / kLanes * kLanes;

// One line of the doublet for a whole pass: its centre and the quantities of
// the common FWHM that every step would otherwise recompute.
struct LineConstants {
  float x0;
  float eta;
  float w;
  float inv_w;
  float gauss_norm;     // A_G / w
  float gauss_slope;    // 2 c_G^2 / w^2
  float lorentz_norm;   // c_L w
  float lorentz_slope;  // 8 c_L w
  float w2;
};

LineConstants MakeLine(float x0, float eta, float w) {
  return {x0, eta, w, 1.0f / w, kGaussA / w, 2.0f * kGaussC * kGaussC / (w * w), kLorentzC * w,
          8.0f * kLorentzC * w, w * w};
}

// PseudoVoigt at one block of steps with the pass constants: the same
// formulas, the Gaussian cut-off as a select so that the loop has no branch.
struct VoigtBlock {
  float value[kLanes];
  float d_x0[kLanes];
  float d_w[kLanes];
  float d_eta[kLanes];
};

void EvaluateVoigt(const float* x, const LineConstants& line, VoigtBlock& v) {
  // Local copies: the compiler cannot prove that the output does not alias
  // x or the constants, and would not vectorise.
  const LineConstants c = line;
  float d_block[kLanes];
  for (int j = 0; j < kLanes; ++j) d_block[j] = x[j] - c.x0;
  for (int j = 0; j < kLanes; ++j) {
    const float d = d_block[j];
    const float q = d / c.w;  // divided, not multiplied by 1/w: exactly 6 FWHM must stay inside
    const float u2 = (kGaussC * q) * (kGaussC * q);
    const float g = KeepIf(!(std::fabs(q) > kGaussCutoff), c.gauss_norm * ExpNonPositive(-u2));
    const float g_x0 = c.gauss_slope * d * g;
    const float g_w = (2.0f * u2 - 1.0f) * g * c.inv_w;
    const float inv_e = 1.0f / (c.w2 + 4.0f * d * d);
    const float l = c.lorentz_norm * inv_e;
    const float l_x0 = c.lorentz_slope * d * inv_e * inv_e;
    const float l_w = kLorentzC * (4.0f * d * d - c.w2) * inv_e * inv_e;
    const float h = 1.0f - c.eta;
    v.value[j] = h * g + c.eta * l;
    v.d_x0[j] = h * g_x0 + c.eta * l_x0;
    v.d_w[j] = h * g_w + c.eta * l_w;
    v.d_eta[j] = l - g;
  }
}

// The scan as the fit sees it: positions, counts + 1 and weights, padded.
struct FitSteps {
  int blocks = 0;
  alignas(32) float x[kPaddedSteps];
  alignas(32) float count[kPaddedSteps];
  alignas(32) float weight[kPaddedSteps];
};

// One pass's model and derivatives at every step: derivative[k] by profile
// parameter k (1-based as the parameters), model without the +1.
struct PassValues {
  alignas(32) float model[kPaddedSteps];
  alignas(32) float residual[kPaddedSteps];
  alignas(32) float derivative[kProfileParameters + 1][kPaddedSteps];
};

template <bool kDoublet>
void EvaluatePass(const FitSteps& s, const ProfileValues& p, float offset, float chain, PassValues& v) {
  const LineConstants alpha1 = MakeLine(p[kPosition], p[kEta], p[kFwhm]);
  const LineConstants alpha2 = MakeLine(p[kPosition] + offset, p[kEta], p[kFwhm]);
  const float background = p[kBackground];
  const float intensity = p[kIntensity];
  const float ratio = p[kIratio];
  VoigtBlock v1;
  VoigtBlock v2{};  // stays 0 for a single line
  for (int block = 0; block < s.blocks; ++block) {
    const int first = block * kLanes;
    EvaluateVoigt(s.x + first, alpha1, v1);
    if (kDoublet) EvaluateVoigt(s.x + first, alpha2, v2);
    for (int j = 0; j < kLanes; ++j) {
      const int i = first + j;
      const float profile = v1.value[j] + ratio * v2.value[j];
      const float model = profile * intensity + background;
      v.model[i] = model;
      v.residual[i] = s.count[i] - (model + 1.0f);
      v.derivative[kBackground][i] = 1.0f;
      v.derivative[kFwhm][i] = (v1.d_w[j] + ratio * v2.d_w[j]) * intensity;
      v.derivative[kIntensity][i] = profile;
      v.derivative[kPosition][i] = (v1.d_x0[j] + ratio * chain * v2.d_x0[j]) * intensity;
      v.derivative[kEta][i] = (v1.d_eta[j] + ratio * v2.d_eta[j]) * intensity;
      v.derivative[kIratio][i] = v2.value[j] * intensity;
    }
  }
}

// The refined derivatives and, after them, the residual, in double as plain
// and weighted columns: a strong scan's sums need the digits, and w D of two
// floats is exact in double, so each product is that of a step-by-step sum.
struct NormalColumns {
  alignas(32) double plain[kProfileParameters + 1][kPaddedSteps];
  alignas(32) double weighted[kProfileParameters + 1][kPaddedSteps];
};

void FillColumn(const float* column, const float* weight, int blocks, double* plain, double* weighted) {
  for (int block = 0; block < blocks; ++block) {
    const int first = block * kLanes;
    for (int j = 0; j < kLanes; ++j) {
      plain[first + j] = column[first + j];
      weighted[first + j] = static_cast<double>(weight[first + j]) * column[first + j];
    }
  }
}

// Sum over the padded steps of a(i) b(i), in kLanes partial sums.
double Dot(const double* a, const double* b, int blocks) {
  double partial[kLanes] = {};
  for (int block = 0; block < blocks; ++block) {
    const int first = block * kLanes;
    for (int j = 0; j < kLanes; ++j) partial[j] += a[first + j] * b[first + j];
  }
  double sum = 0.0;
  for (double term : partial) sum += term;
  return sum;
}

// The whole fit of one scan; compiled once for each vector unit below, into
// which it and the step loops are inlined.
inline ProfileFit RefineProfileBody(const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags,
                                    float* yc) {
  ProfileFit fit;
  fit.p = start;
  const float* x = scan.x;
  const float* y = scan.y;
  const std::array<float, 2>& lambda = scan.lambda;
  const float two_theta = scan.two_theta;
  const float mono_term = scan.mono_term;
  ProfileValues& p = fit.p;
  ProfileValues& e = fit.esd;
  float& rwp = fit.rwp;
  float& chi2 = fit.chi2;
  int& status = fit.status;
  int n = std::clamp(scan.n, 0, kMaxSteps);
  status = kFitNothingToRefine;
  std::array<int, kProfileParameters> refined{};
  int nr = 0;
  for (int k = 1; k <= kProfileParameters; ++k) {
    if (flags[k] == 1) refined[nr++] = k;
  }
  if (nr == 0 || nr >= n) {
    std::fill(yc, yc + n, 0.0f);
    return fit;
  }

  const bool doublet = lambda[1] >= kMinSecondWavelength;
  if (!doublet) p[kIratio] = 0.0f;
  const float rho = doublet ? lambda[1] / lambda[0] : 0.0f;
  const float offset = doublet ? DoubletOffset(lambda[0], lambda[1], two_theta, mono_term) : 0.0f;

  // What stays fixed through the passes, once per call.
  FitSteps steps;
  steps.blocks = (n + kLanes - 1) / kLanes;
  double sum_wy2 = 0.0;
  for (int i = 0; i < steps.blocks * kLanes; ++i) {
    const int from = std::min(i, n - 1);
    steps.x[i] = x[from];
    // Counts + 1 inside the fit keep the weight of a zero count finite.
    steps.count[i] = y[from] + 1.0f;
    steps.weight[i] = i < n ? (steps.count[i] > 0.0f ? 1.0f / steps.count[i] : 1.0f) : 0.0f;
    if (i < n) sum_wy2 += static_cast<double>(steps.weight[i]) * steps.count[i] * steps.count[i];
  }

  PassValues values;
  NormalColumns columns;
  // Every return after a pass hands back that pass's profile.
  auto hand_back_profile = [&] { std::copy(values.model, values.model + n, yc); };

  status = kFitConverged;
  bool settled = false;
  ProfileValues work = p;
  ProfileValues new_esd{};
  for (int pass = 1;; ++pass) {
    if (pass > kMaxFitPasses) {
      status = kFitNoConvergence;
      hand_back_profile();
      return fit;
    }
    const float damping = std::min(kDampingStep * static_cast<float>(pass), kMaxDamping);
    const float position = p[kPosition];
    if (doublet) {
      const float chain = rho * std::cos(position / kDegPerRad) / std::cos((position + offset) / kDegPerRad);
      EvaluatePass<true>(steps, p, offset, chain, values);
    } else {
      EvaluatePass<false>(steps, p, offset, 0.0f, values);
    }

    // Normal equations of the refined parameters (lower triangle).
    for (int m = 0; m <= nr; ++m) {
      FillColumn(m < nr ? values.derivative[refined[m]] : values.residual, steps.weight, steps.blocks,
                 columns.plain[m], columns.weighted[m]);
    }
    double a[kProfileParameters][kProfileParameters] = {};
    double b[kProfileParameters] = {};
    for (int m = 0; m < nr; ++m) {
      b[m] = Dot(columns.weighted[m], columns.plain[nr], steps.blocks);
      for (int l = 0; l <= m; ++l) a[m][l] = Dot(columns.weighted[m], columns.plain[l], steps.blocks);
    }
    const double sum_wr2 = Dot(columns.weighted[nr], columns.plain[nr], steps.blocks);
    rwp = static_cast<float>(std::sqrt(sum_wr2 / sum_wy2));
    chi2 = static_cast<float>(sum_wr2 / (n - nr));
    if (settled) {
      hand_back_profile();
      return fit;
    }

    // Invert the normal matrix scaled to a unit diagonal.
    Matrix6 inverse{};
    double scale[kProfileParameters] = {};
    for (int m = 0; m < nr; ++m) {
      if (!(a[m][m] >= kMinDiagonal)) {
        status = kFitSingular;
        hand_back_profile();
        return fit;
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
      hand_back_profile();
      return fit;
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
        hand_back_profile();
        return fit;
      }
      new_esd[k] = static_cast<float>(std::sqrt(variance));
      if (std::fabs(shift[m]) > kConvergedShift * std::sqrt(variance)) settled = false;
    }
    for (int k = 1; k <= kProfileParameters; ++k) {
      const bool refines = flags[k] == 1;
      if (refines) p[k] = work[k];
      e[k] = refines ? new_esd[k] : 0.0f;
    }
    fit.esd_set = true;
  }
}

// One copy of the fit per vector unit. The arithmetic is the same in each:
// no contraction into fused multiply-adds, and eight lanes of partial sums
// whatever the register width, so the choice changes the speed only.
[[gnu::flatten]] ProfileFit RefineSse2(const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags,
                                       float* yc) {
  return RefineProfileBody(scan, start, flags, yc);
}
[[gnu::target("avx2,fma"), gnu::flatten]] ProfileFit RefineAvx2(const ProfileScan& scan, const ProfileValues& start,
                                                               const ProfileFlags& flags, float* yc) {
  return RefineProfileBody(scan, start, flags, yc);
}
[[gnu::target("avx512f,avx512vl,avx512dq,avx512bw,avx2,fma"), gnu::flatten]] ProfileFit RefineAvx512(
    const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags, float* yc) {
  return RefineProfileBody(scan, start, flags, yc);
}

using RefineFunction = ProfileFit (*)(const ProfileScan&, const ProfileValues&, const ProfileFlags&, float*);

bool Supports(VectorUnit unit) {
  __builtin_cpu_init();
  switch (unit) {
    case VectorUnit::kSse2: return true;
    case VectorUnit::kAvx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case VectorUnit::kAvx512:
      return Supports(VectorUnit::kAvx2) && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
  }
  return false;
}

RefineFunction FunctionOf(VectorUnit unit) {
  switch (unit) {
    case VectorUnit::kAvx2: return RefineAvx2;
    case VectorUnit::kAvx512: return RefineAvx512;
    default: return RefineSse2;
  }
}

struct Dispatch {
  VectorUnit unit;
  RefineFunction refine;
};

Dispatch& Active() {
  static Dispatch active = [] {
    const VectorUnit widest = SupportedVectorUnits().back();
    return Dispatch{widest, FunctionOf(widest)};
  }();
  return active;
}

}  // namespace

ProfileFit RefineProfile(const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags, float* yc) {
  return Active().refine(scan, start, flags, yc);
}

const char* VectorUnitName(VectorUnit unit) {
  switch (unit) {
    case VectorUnit::kAvx2: return "AVX2";
    case VectorUnit::kAvx512: return "AVX-512";
    default: return "SSE2";
  }
}

std::vector<VectorUnit> SupportedVectorUnits() {
  std::vector<VectorUnit> units;
  for (VectorUnit unit : {VectorUnit::kSse2, VectorUnit::kAvx2, VectorUnit::kAvx512})
    if (Supports(unit)) units.push_back(unit);
  return units;
}

VectorUnit ActiveVectorUnit() { return Active().unit; }

bool UseVectorUnit(VectorUnit unit) {
  if (!Supports(unit)) return false;
  Active() = {unit, FunctionOf(unit)};
  return true;
}

}  // namespace kalvex
