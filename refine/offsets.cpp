// Crystal offsets and omega zero refined in alternation with UB; the working
// angles are a private copy with corrected omegas, the list itself never changes.
#include "refine/offsets.h"

#include <cmath>
#include <memory>

#include "refine/cell_lsq.h"
#include "common/constants.h"

namespace kalvex {

namespace {

// The working copy of the angles of a cycle.
struct Working {
  std::array<Angles, kMaxPreprocessed> angles{};
  std::array<float, kMaxPreprocessed> observed_omega{};
  int count = 0;

  explicit Working(std::span<const Angles> observed) {
    count = static_cast<int>(std::min<std::size_t>(observed.size(), kMaxPreprocessed));
    for (int n = 0; n < count; ++n) {
      angles[n] = observed[n];
      observed_omega[n] = observed[n][kOmega];
    }
  }
  std::span<const Angles> View() const { return {angles.data(), static_cast<std::size_t>(count)}; }
};

}  // namespace

int FitOffsets(std::span<const Angles> angles, std::span<const Hkl> hkl, bool refine_omega_zero, float lambda,
               float rs, OrientationState& o, Notices& notices) {
  const int np = refine_omega_zero ? 4 : 3;
  // Without a distance there is no angle an offset could produce.
  if (rs == 0.0f) {
    notices.Add(Notice::kOffsetsSingular);
    return kOffsetsSingularFit;
  }
  const float fac = 1.0f / rs / kRadPerDegOffsets;
  Matrix6 m{};
  Vector6 rhs{};
  for (std::size_t n = 0; n < angles.size(); ++n) {
    float omega_ub = 0.0f;
    if (!PredictOmega(o.ub, angles[n], lambda, hkl[n], omega_ub)) {
      notices.Add(Notice::kLuSingular);
      return kOffsetsNoInverse;
    }
    const float y = angles[n][kOmega] - omega_ub;
    Angles at_ub = angles[n];
    at_ub[kOmega] = omega_ub;
    Vec3 r1{}, r2{};
    DiffractionDirection(at_ub, r1, r2);
    const float theta = 0.5f * at_ub[kTwoTheta] * kRadPerDeg;
    const float st = std::sin(theta), ct = std::cos(theta);
    Vector6 row{};
    for (int j = 0; j < 3; ++j) row[j] = (st * r2[j] + ct * r1[j]) * fac;
    row[3] = 1.0f;
    for (int l = 0; l < np; ++l) {
      rhs[l] += row[l] * y;
      for (int k = 0; k < np; ++k) m[l][k] += row[l] * row[k];
    }
  }
  Matrix6 inverse{};
  float det = 0.0f;
  if (InvertMatrix(m, np, inverse, det) != kLuOk) notices.Add(Notice::kLuSingular);
  if (!(std::fabs(det) >= 1.0e-4f)) {
    notices.Add(Notice::kOffsetsSingular);
    return kOffsetsSingularFit;
  }
  Vector6 s{};
  for (int l = 0; l < np; ++l)
    for (int k = 0; k < np; ++k) s[l] += inverse[l][k] * rhs[k];
  o.offsets = {s[0], s[1], s[2]};
  if (refine_omega_zero) o.omega_zero = s[3];
  return kOffsetsFitted;
}

int LSQ_OFFSETS(bool refine_omega_zero, std::span<const Angles> observed, std::span<const Hkl> hkl, float lambda,
                float rs, OrientationState& o, Notices& notices) {
  o.omega_zero = 0.0f;
  auto work = std::make_unique<Working>(observed);
  Working& w = *work;
  float sum = 0.0f;
  int cycle = 0;
  bool converged = false;
  while (cycle < kOffsetCycles && !converged) {
    const float previous = sum;
    ++cycle;
    LSQ(w.View(), hkl, lambda, o, notices);
    for (int n = 0; n < w.count; ++n) w.angles[n][kOmega] = w.observed_omega[n];
    // UB that cannot be inverted leaves nothing to predict with: one box,
    // not one per reflection and cycle.
    if (FitOffsets(w.View(), hkl, refine_omega_zero, lambda, rs, o, notices) == kOffsetsNoInverse) break;
    sum = 0.0f;
    for (int n = 0; n < w.count; ++n) {
      float omega_ub = 0.0f;
      PredictOmega(o.ub, w.angles[n], lambda, hkl[n], omega_ub);
      const Vec3 correction = OffsetCorrection(w.angles[n], o.offsets, o.omega_zero, rs);
      sum += std::fabs(w.observed_omega[n] - omega_ub - correction[1]);
      w.angles[n][kOmega] = w.observed_omega[n] - correction[1];
    }
    // A zero previous sum makes the ratio infinite (go on), unless this sum
    // is zero too: nothing is left to improve.
    if (previous == 0.0f) {
      converged = sum == 0.0f;
    } else {
      converged = std::fabs(previous - sum) / previous <= 0.05f;
    }
  }
  if (!converged && cycle == kOffsetCycles) notices.Add(Notice::kOffsetsNoConvergence);
  o.corrections_valid = true;
  return cycle;
}

int RefineOmegaZero(std::span<const Angles> observed, std::span<const Hkl> hkl, float lambda, OrientationState& o,
                    Notices& notices) {
  auto work = std::make_unique<Working>(observed);
  Working& w = *work;
  float sum_observed = 0.0f;
  for (int n = 0; n < w.count; ++n) sum_observed += w.observed_omega[n];
  o.omega_zero = 0.0f;
  for (int cycle = 1; cycle <= kOmegaZeroCycles; ++cycle) {
    const float previous = o.omega_zero;
    LSQ(w.View(), hkl, lambda, o, notices);
    float sum_ub = 0.0f;
    for (int n = 0; n < w.count; ++n) {
      float omega_ub = 0.0f;
      if (!PredictOmega(o.ub, w.angles[n], lambda, hkl[n], omega_ub)) {
        notices.Add(Notice::kLuSingular);
        return cycle;
      }
      sum_ub += omega_ub;
    }
    o.omega_zero = (sum_observed - sum_ub) / static_cast<float>(w.count);
    for (int n = 0; n < w.count; ++n) w.angles[n][kOmega] = w.observed_omega[n] - o.omega_zero;
    if (std::fabs(previous - o.omega_zero) < 0.001f) return cycle;
  }
  notices.Add(Notice::kOmegaZeroNoConvergence);
  return kOmegaZeroCycles;
}

}  // namespace kalvex
