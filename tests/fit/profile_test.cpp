// Line shapes against their textbook forms and finite differences, and the
// profile fit on synthetic doublet scans.
#include "fit/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "state/run_parameters.h"
#include "tests/fit/synthetic_scan.h"

namespace kalvex {
namespace {

using testing::ProfileOutcome;

using testing::SyntheticScan;

// Area under a line shape by the trapezoid rule over [-range, range].
template <typename Shape>
double Area(Shape shape, double range, int intervals) {
  const double h = 2.0 * range / intervals;
  double sum = 0.0;
  for (int i = 0; i <= intervals; ++i) {
    const double f = shape(static_cast<float>(-range + i * h));
    sum += (i == 0 || i == intervals) ? f / 2.0 : f;
  }
  return sum * h;
}

TEST(LineShape, GaussHasUnitAreaAndTheTextbookForm) {
  for (float w : {0.05f, 0.3f, 2.0f}) {
    EXPECT_NEAR(Area([w](float x) { return GaussProfile(x, 0.0f, w).value; }, 6.0 * w, 4000), 1.0, 1e-5);
    for (float d : {0.0f, 0.1f * w, 0.5f * w, 1.7f * w, 5.9f * w}) {
      EXPECT_NEAR(GaussProfile(1.0f + d, 1.0f, w).value, testing::TextbookGauss(d, w),
                  2e-6 * testing::TextbookGauss(0.0, w));
    }
  }
  // Half maximum at half the FWHM from the centre.
  EXPECT_NEAR(GaussProfile(0.15f, 0.0f, 0.3f).value / GaussProfile(0.0f, 0.0f, 0.3f).value, 0.5, 1e-6);
}

TEST(LineShape, GaussStopsJustBeyondSixWidths) {
  // 3.0 / 0.5 is exactly 6 in floats: still evaluated.
  const LineValue at = GaussProfile(3.0f, 0.0f, 0.5f);
  EXPECT_GT(at.value, 0.0f);
  EXPECT_NE(at.d_x0, 0.0f);
  const LineValue beyond = GaussProfile(-3.0001f, 0.0f, 0.5f);
  EXPECT_EQ(beyond.value, 0.0f);
  EXPECT_EQ(beyond.d_x0, 0.0f);
  EXPECT_EQ(beyond.d_w, 0.0f);
}

TEST(LineShape, LorentzHasUnitAreaAndTheCauchyForm) {
  for (float w : {0.05f, 0.3f, 2.0f}) {
    // No cut-off: the area within +-R is (2/pi) atan(2R/w).
    const double range = 20.0 * w;
    EXPECT_NEAR(Area([w](float x) { return LorentzProfile(x, 0.0f, w).value; }, range, 20000),
                2.0 / testing::kPi * std::atan(2.0 * range / w), 1e-5);
    for (float d : {0.0f, 0.5f * w, 3.0f * w, 40.0f * w}) {
      EXPECT_NEAR(LorentzProfile(d - 2.0f, -2.0f, w).value, testing::TextbookLorentz(d, w),
                  2e-6 * testing::TextbookLorentz(0.0, w));
    }
  }
}

TEST(LineShape, PseudoVoigtMixesGaussAndLorentz) {
  const float x = 0.07f, x0 = -0.02f, w = 0.25f;
  const LineValue g = GaussProfile(x, x0, w);
  const LineValue l = LorentzProfile(x, x0, w);
  const VoigtValue pure_gauss = PseudoVoigt(x, x0, 0.0f, w);
  const VoigtValue pure_lorentz = PseudoVoigt(x, x0, 1.0f, w);
  EXPECT_FLOAT_EQ(pure_gauss.value, g.value);
  EXPECT_FLOAT_EQ(pure_gauss.d_w, g.d_w);
  EXPECT_FLOAT_EQ(pure_lorentz.value, l.value);
  EXPECT_FLOAT_EQ(pure_lorentz.d_x0, l.d_x0);
  const VoigtValue v = PseudoVoigt(x, x0, 0.3f, w);
  EXPECT_NEAR(v.value, testing::TextbookVoigt(x - x0, w, 0.3), 1e-5 * v.value);
  EXPECT_FLOAT_EQ(v.d_eta, l.value - g.value);
  EXPECT_NEAR(Area([](float t) { return PseudoVoigt(t, 0.0f, 0.4f, 0.3f).value; }, 1.8, 4000),
              0.6 + 0.4 * 2.0 / testing::kPi * std::atan(2.0 * 1.8 / 0.3), 1e-5);
}

// The step loop's own exponential against the double-precision one, in
// units of the float spacing at the exact value.
TEST(LineShape, FastExponential) {
  // From 0 through the denormals, where the float spacing stays 1.4e-45.
  double worst_ulp = 0.0;
  for (int i = 0; i <= 2000000; ++i) {
    const float x = static_cast<float>(kExpFloor * i / 2000000.0);
    const double exact = std::exp(static_cast<double>(x));
    const float ulp = std::nextafter(static_cast<float>(exact), 1.0f) - static_cast<float>(exact);
    worst_ulp = std::max(worst_ulp, std::fabs(ExpNonPositive(x) - exact) / ulp);
  }
  EXPECT_LT(worst_ulp, 1.0);
  EXPECT_EQ(ExpNonPositive(0.0f), 1.0f);
  EXPECT_EQ(ExpNonPositive(-1.0f), std::exp(-1.0f));
  // The Gaussian at exactly 6 FWHM: u^2 = 36 c_G^2 = 99.8, still a (denormal) value.
  EXPECT_GT(ExpNonPositive(-36.0f * 1.6651092f * 1.6651092f), 0.0f);
  // Below the floor the result is 0, however far below.
  for (float x : {-104.0f, -1.0e4f, -1.0e30f, -std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(ExpNonPositive(x), 0.0f) << x;
  }
  EXPECT_TRUE(std::isnan(ExpNonPositive(std::nanf(""))));
  RecordProperty("worst_ulp", std::to_string(worst_ulp));
}

// Central differences in double around the float kernels.
TEST(LineShape, DerivativesMatchFiniteDifferences) {
  const float w = 0.3f;
  for (float d : {-0.8f, -0.31f, -0.05f, 0.0f, 0.02f, 0.17f, 0.6f}) {
    const float x = 10.0f + d, x0 = 10.0f;
    const float h = 1e-3f;
    auto check = [&](auto shape, const char* name) {
      const auto at = shape(x, x0, w);
      const double by_x0 = (shape(x, x0 + h, w).value - shape(x, x0 - h, w).value) / (2.0 * h);
      const double by_w = (shape(x, x0, w + h).value - shape(x, x0, w - h).value) / (2.0 * h);
      const double tolerance = 2e-3 * (std::fabs(at.value) / w / w + 1e-3);
      EXPECT_NEAR(at.d_x0, by_x0, tolerance) << name << " d = " << d;
      EXPECT_NEAR(at.d_w, by_w, tolerance) << name << " d = " << d;
    };
    check(GaussProfile, "Gauss");
    check(LorentzProfile, "Lorentz");
    check([](float a, float b, float c) { return PseudoVoigt(a, b, 0.35f, c); }, "pseudo-Voigt");
    const double by_eta =
        (PseudoVoigt(x, x0, 0.35f + h, w).value - PseudoVoigt(x, x0, 0.35f - h, w).value) / (2.0 * h);
    EXPECT_NEAR(PseudoVoigt(x, x0, 0.35f, w).d_eta, by_eta, 1e-2);
  }
}

ProfileOutcome Fit(const SyntheticScan& scan, const ProfileValues& start, const ProfileFlags& flags) {
  return testing::RunFit(RefineProfile, scan.Input(), start, flags);
}

// Start values off the truth as the default rules would leave them.
ProfileValues Perturbed(const ProfileValues& truth) {
  ProfileValues s = truth;
  s[kBackground] *= 1.3f;
  s[kFwhm] *= 1.25f;
  s[kIntensity] *= 0.7f;
  s[kPosition] += 0.06f;
  s[kEta] = 0.2f;
  return s;
}

const ProfileFlags kAllButRatio{0, 1, 1, 1, 1, 1, 0};

TEST(RefineProfile, NoiselessDoubletIsRecovered) {
  SyntheticScan scan;
  scan.Make();
  ProfileOutcome fit = Fit(scan, Perturbed(scan.truth), kAllButRatio);
  ASSERT_EQ(fit.status, kFitConverged);
  EXPECT_NEAR(fit.p[kBackground], scan.truth[kBackground], 0.01f);
  EXPECT_NEAR(fit.p[kFwhm], scan.truth[kFwhm], 1e-4f);
  EXPECT_NEAR(fit.p[kIntensity], scan.truth[kIntensity], 0.05f);
  EXPECT_NEAR(fit.p[kPosition], scan.truth[kPosition], 1e-5f);
  EXPECT_NEAR(fit.p[kEta], scan.truth[kEta], 1e-3f);
  EXPECT_EQ(fit.p[kIratio], scan.truth[kIratio]);  // held
  EXPECT_EQ(fit.e[kIratio], 0.0f);
  EXPECT_LT(fit.rwp, 1e-4f);
  // chi2 of a perfect fit is ~0, but the ESDs keep the counting statistics.
  EXPECT_LT(fit.chi2, 1e-3f);
  EXPECT_GT(fit.e[kIntensity], 1.0f);
  // Converged means within 1 % of an ESD, so the profile within ~1 % of a count's sigma.
  for (int i = 0; i < scan.steps; ++i) EXPECT_NEAR(fit.yc[i], scan.y[i], 0.01f * std::sqrt(scan.y[i])) << "step " << i + 1;
}

TEST(RefineProfile, NoisyDoubletsAreRecoveredWithinTheirEsds) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SyntheticScan scan;
    scan.seed = seed;
    scan.truth[kIntensity] = 2000.0f;
    scan.two_theta = 80.0f;  // alpha1 and alpha2 0.28 degrees apart: the ratio is measurable
    scan.Make();
    // Odd seeds also refine the ratio.
    ProfileFlags flags = kAllButRatio;
    if (seed % 2 == 1) flags[kIratio] = 1;
    ProfileValues start = Perturbed(scan.truth);
    if (flags[kIratio] == 1) start[kIratio] = 0.6f;
    ProfileOutcome fit = Fit(scan, start, flags);
    ASSERT_EQ(fit.status, kFitConverged) << "seed " << seed;
    for (int k = 1; k <= kProfileParameters; ++k) {
      if (flags[k] != 1) continue;
      ASSERT_GT(fit.e[k], 0.0f);
      EXPECT_LT(std::fabs(fit.p[k] - scan.truth[k]), 4.0f * fit.e[k]) << "seed " << seed << " parameter " << k;
    }
    EXPECT_GT(fit.chi2, 0.6f);
    EXPECT_LT(fit.chi2, 1.6f);
  }
}

TEST(RefineProfile, SecondWavelengthBelowATenthMakesASingleLine) {
  SyntheticScan scan;
  scan.lambda2 = 0.05f;
  scan.Make();
  ProfileValues start = Perturbed(scan.truth);
  start[kIratio] = 0.5f;
  ProfileOutcome single = Fit(scan, start, kAllButRatio);
  EXPECT_EQ(single.status, kFitConverged);
  EXPECT_EQ(single.p[kIratio], 0.0f);
  EXPECT_NEAR(single.p[kPosition], scan.truth[kPosition], 1e-5f);

  // At 0.1 the fit is a doublet again: the ratio stays and a second line
  // (here far off at the short wavelength) is part of the model.
  scan.lambda2 = 0.1f;
  ProfileOutcome doublet = Fit(scan, start, {0, 1, 0, 0, 0, 0, 0});
  EXPECT_EQ(doublet.p[kIratio], 0.5f);
}

TEST(RefineProfile, AStrongReflectionIsFittedNotRejected) {
  // About 10^6 counts in the peak: the Position variance is far below 1e-8
  // deg^2, a precise result and no singularity.
  SyntheticScan scan;
  scan.seed = 42;
  scan.truth[kBackground] = 200.0f;
  scan.truth[kIntensity] = 2.0e5f;
  scan.Make();
  float peak = 0.0f;
  for (int i = 0; i < scan.steps; ++i) peak = std::max(peak, scan.y[i]);
  ASSERT_GT(peak, 5.0e5f);
  ProfileOutcome fit = Fit(scan, Perturbed(scan.truth), kAllButRatio);
  ASSERT_EQ(fit.status, kFitConverged);
  EXPECT_LT(fit.e[kPosition] * fit.e[kPosition], 1e-8f);
  EXPECT_GT(fit.e[kPosition], 0.0f);
  for (int k = 1; k <= 5; ++k) {
    EXPECT_LT(std::fabs(fit.p[k] - scan.truth[k]), 4.0f * fit.e[k]) << "parameter " << k;
  }
}

TEST(RefineProfile, NothingToRefineEvaluatesNothing) {
  SyntheticScan scan;
  scan.Make();
  std::array<float, kMaxSteps> yc{};
  yc.fill(3.0f);
  const ProfileFit none = RefineProfile(scan.Input(), scan.truth, ProfileFlags{}, yc.data());
  EXPECT_EQ(none.status, kFitNothingToRefine);
  // No pass ran: no agreement and no ESDs to give, the start values back.
  EXPECT_EQ(none.rwp, 0.0f);
  EXPECT_EQ(none.chi2, 0.0f);
  EXPECT_EQ(none.esd, ProfileValues{});
  EXPECT_EQ(none.p, scan.truth);
  for (int i = 0; i < scan.steps; ++i) EXPECT_EQ(yc[i], 0.0f);
  EXPECT_EQ(yc[scan.steps], 3.0f);  // beyond the scan: untouched

  // As many refined parameters as steps.
  scan.steps = 3;
  EXPECT_EQ(Fit(scan, scan.truth, {0, 1, 0, 1, 0, 0, 0}).status, kFitConverged);
  EXPECT_EQ(Fit(scan, scan.truth, {0, 1, 1, 1, 0, 0, 0}).status, kFitNothingToRefine);
}

TEST(RefineProfile, StepsBeyondTheRecordCapacityAreNotFitted) {
  // A caller that passes more steps than a record holds: the first 200 are
  // fitted and nothing is written beyond them.
  SyntheticScan scan;
  scan.steps = kMaxSteps;
  scan.Make();
  std::array<float, kMaxSteps + 50> x{}, y{}, yc{};
  std::copy(scan.x.begin(), scan.x.end(), x.begin());
  std::copy(scan.y.begin(), scan.y.end(), y.begin());
  for (int i = kMaxSteps; i < kMaxSteps + 50; ++i) {
    x[i] = scan.x[kMaxSteps - 1];
    y[i] = 1.0e6f;
  }
  yc.fill(-7.0f);
  ProfileScan input = scan.Input();
  input.x = x.data();
  input.y = y.data();
  input.n = kMaxSteps + 50;
  const ProfileFit fit = RefineProfile(input, Perturbed(scan.truth), kAllButRatio, yc.data());
  const ProfileOutcome within = Fit(scan, Perturbed(scan.truth), kAllButRatio);
  ASSERT_EQ(fit.status, kFitConverged);
  EXPECT_EQ(fit.p, within.p);
  EXPECT_EQ(fit.esd, within.e);
  for (int i = 0; i < kMaxSteps; ++i) EXPECT_EQ(yc[i], within.yc[i]);
  for (int i = kMaxSteps; i < kMaxSteps + 50; ++i) EXPECT_EQ(yc[i], -7.0f);
}

TEST(RefineProfile, ASingularNormalMatrixIsStatusOne) {
  SyntheticScan scan;
  scan.lambda2 = 0.0f;
  scan.Make();
  // A single-line fit has no alpha2 to scale: the ratio's column is empty.
  const ProfileValues start = Perturbed(scan.truth);
  ProfileOutcome ratio = Fit(scan, start, {0, 1, 0, 1, 0, 0, 1});
  EXPECT_EQ(ratio.status, kFitSingular);
  EXPECT_EQ(ratio.p[kBackground], start[kBackground]);  // no pass completed
  EXPECT_GT(ratio.rwp, 0.0f);                           // but the profile was evaluated
  EXPECT_NEAR(ratio.yc[0], start[kBackground] + start[kIntensity] * PseudoVoigt(scan.x[0], start[kPosition],
                                                                                 start[kEta], start[kFwhm]).value,
              1e-3f);

  // A peak far outside the scan: Intensity and Position leave no trace.
  ProfileValues away = scan.truth;
  away[kPosition] = 50.0f;
  away[kEta] = 0.0f;
  EXPECT_EQ(Fit(scan, away, {0, 1, 1, 1, 0, 0, 0}).status, kFitSingular);
}

TEST(RefineProfile, CountsOfMinusOneOrLessWeighOne) {
  // A background-only fit is the weighted mean of the counts + 1 with the
  // weights 1 / (count + 1): 0.1 for the three nines, 1 for the last step.
  const float x[4] = {0.0f, 0.1f, 0.2f, 0.3f};
  for (float last : {-1.0f, -5.0f}) {
    const float y[4] = {9.0f, 9.0f, 9.0f, last};
    const ProfileValues start{0.0f, 5.0f, 0.1f, 0.0f, 0.1f, 0.0f, 0.0f};
    std::array<float, 4> yc{};
    const ProfileFit fit =
        RefineProfile({x, y, 4, {0.7093f, 0.0f}, 0.0f, 20.0f}, start, {0, 1, 0, 0, 0, 0, 0}, yc.data());
    ASSERT_EQ(fit.status, kFitConverged);
    const double mean = (3.0 * 0.1 * 10.0 + 1.0 * (last + 1.0)) / (3.0 * 0.1 + 1.0);
    EXPECT_NEAR(fit.p[kBackground], mean - 1.0, 0.01) << "last count " << last;
  }
}

// A narrow measured peak against a model line held three times as wide and
// a hundred times too weak: only the Position is free, and its Gauss-Newton
// step overshoots by more than the 70 % damping can absorb.
SyntheticScan NarrowPeak() {
  SyntheticScan scan;
  scan.first = -1.0f;
  scan.width = 2.0f;
  scan.lambda2 = 0.0f;
  scan.truth = {0.0f, 10.0f, 0.1f, 100.0f, 0.0f, 0.0f, 0.0f};
  scan.Make();
  return scan;
}
const ProfileValues kWideWeakLine{0.0f, 10.0f, 0.3f, 1.0f, 0.02f, 0.0f, 0.0f};

TEST(RefineProfile, AFitThatNeverSettlesStopsAfterTwoHundredPasses) {
  const SyntheticScan scan = NarrowPeak();
  ProfileOutcome fit = Fit(scan, kWideWeakLine, {0, 0, 0, 0, 1, 0, 0});
  EXPECT_EQ(fit.status, kFitNoConvergence);
  EXPECT_NE(fit.p[kPosition], kWideWeakLine[kPosition]);
  EXPECT_GT(fit.e[kPosition], 0.0f);
}

TEST(RefineProfile, DampingRampsToSeventyPercentAndConvergesOnTheUndampedShift) {
  // Background alone is linear: every pass's undamped shift is the whole
  // remaining error, of which the pass applies 10 %, 20 %, ... then 70 %. A
  // start 4 counts off keeps chi2 below 1, so the ESD is 1 / sqrt(sum w).
  // A flat scan: the model fits it exactly.
  SyntheticScan scan;
  scan.truth[kIntensity] = 0.0f;
  scan.Make();
  double sum_w = 0.0;
  for (int i = 0; i < scan.steps; ++i) sum_w += 1.0 / (scan.y[i] + 1.0);
  const double esd = 1.0 / std::sqrt(sum_w);
  double error = 4.0;
  int passes = 0;
  for (bool settled = false; !settled;) {
    ++passes;
    settled = error <= 0.01 * esd;
    error *= 1.0 - std::min(0.1 * passes, 0.7);
  }
  ASSERT_GT(passes, 7);  // the ramp is over before the fit settles

  ProfileValues p = scan.truth;
  p[kBackground] += 4.0f;
  ProfileOutcome fit = Fit(scan, p, {0, 1, 0, 0, 0, 0, 0});
  ASSERT_EQ(fit.status, kFitConverged);
  EXPECT_NEAR(fit.p[kBackground] - scan.truth[kBackground], error, 5e-5);
  EXPECT_NEAR(fit.e[kBackground], esd, 1e-4);
  EXPECT_LT(fit.chi2, 1.0f);
}

}  // namespace
}  // namespace kalvex
