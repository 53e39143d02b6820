// FitReflection's tests and reason letters on synthetic scans, the
// background ranges and the summation sigma.
#include "fit/fit_reflection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "state/program_state.h"
#include "tests/fit/synthetic_scan.h"

namespace kalvex {
namespace {

using testing::SyntheticScan;

class FitReflectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state = NewProgramState();
    state->params.refine_flag = {0, 1, 1, 1, 1, 1, 0};
    Load(SyntheticScan{});
  }

  // Puts `scan` in memory with start values off the truth, as seeding would.
  void Load(SyntheticScan scan, float count_scale = 1.0f) {
    if (scan.y[0] == 0.0f) scan.Make();
    truth = scan.truth;
    scan.Fill(state->scan, state->params);
    state->scan.count_scale = count_scale;
    state->scan.class_code = {'N', 'x', 'x', 'x', 'x', 'x'};
    auto& P = state->fit.peak.value;
    P = truth;
    P[kBackground] *= 1.2f;
    P[kFwhm] *= 1.2f;
    P[kIntensity] *= 0.8f;
    P[kPosition] += 0.05f;
    P[kEta] = 0.3f;
  }

  // Fits the scan in memory from the start values and refine flags in the
  // state, as the fitting commands do, and keeps the results there.
  // hold_position is the retry of automatic integration.
  void Fit(bool hold_position = false) {
    FitControls controls;
    controls.start = state->fit.peak.value;
    controls.refine = state->params.refine_flag;
    controls.hold_position = hold_position;
    static_cast<FitOutcome&>(state->fit) = FitReflection(state->scan, state->params, controls);
  }

  std::string Code() const { return std::string(state->scan.class_code.begin(), state->scan.class_code.end()); }

  void ExpectNotIntegrated() const {
    EXPECT_EQ(state->fit.i_fit, 0.0f);
    EXPECT_EQ(state->fit.sigma_fit, 1.0f);
    EXPECT_EQ(state->fit.sigma_sum, 1.0f);
  }

  void Check(int k, float low, float high) {
    state->params.check_flag[k] = 1;
    if (k == kRwp) {
      state->params.rwp_max = high;
    } else {
      state->params.low[k] = low;
      state->params.high[k] = high;
    }
  }

  std::unique_ptr<ProgramState> state;
  ProfileValues truth{};
};

TEST_F(FitReflectionTest, AcceptedReflectionIsIntegratedAndScaled) {
  // A Gaussian peak: its tails fall below 1 % of the background inside the scan.
  SyntheticScan scan;
  scan.seed = 3;
  scan.truth[kIntensity] = 1500.0f;
  scan.truth[kEta] = 0.0f;
  scan.Make();
  Load(scan, 2.5f);
  state->params.refine_flag[kEta] = 0;
  state->fit.peak.value[kEta] = 0.0f;
  const float centre = state->scan.omega_centre;
  Fit();
  const FitState& fit = state->fit;
  EXPECT_EQ(Code(), "NF    ");
  EXPECT_EQ(fit.fit_status, kFitConverged);
  const auto& P = fit.peak.value;
  EXPECT_NEAR(P[kIntensity], 1500.0f, 4.0f * fit.peak.esd[kIntensity]);
  EXPECT_FLOAT_EQ(fit.i_fit, 2.5f * P[kIntensity]);
  EXPECT_FLOAT_EQ(fit.sigma_fit, 2.5f * fit.peak.esd[kIntensity]);
  EXPECT_EQ(state->scan.omega_centre, P[kPosition]);
  EXPECT_NE(state->scan.omega_centre, centre);
  // The peak lies inside the scan, with background steps on both sides.
  const auto& r = fit.bg_range;
  EXPECT_EQ(r[1], 1);
  EXPECT_EQ(r[4], scan.steps);
  EXPECT_GT(r[2], 5);
  EXPECT_LT(r[3], scan.steps);
  EXPECT_LT(r[2], r[3]);
  // The summed peak counts are about 1.5 x Intensity / step width (alpha1 and
  // alpha2), on a background of 20 per step.
  const float peak_counts = 1.5f * 1500.0f * static_cast<float>(scan.steps - 1) / scan.width;
  EXPECT_GT(fit.sigma_sum, 2.5f * std::sqrt(0.9f * peak_counts));
  EXPECT_LT(fit.sigma_sum, 2.5f * std::sqrt(peak_counts + 2.0f * 20.0f * scan.steps));
}

TEST_F(FitReflectionTest, LorentzianTailsStillGetASummationSigma) {
  // The usual pseudo-Voigt (Eta 0.4): at 2.5 FWHM from the centre its tails
  // are still 2 % of the background, so the fitted profile stays above
  // 1.01 x Background out to both scan ends.
  SyntheticScan scan;
  scan.seed = 5;
  scan.truth[kIntensity] = 3000.0f;
  scan.Make();
  Load(scan, 2.0f);
  Fit();
  ASSERT_EQ(Code(), "NF    ");
  const FitState& fit = state->fit;
  const float* yc = state->scan.calculated.data();
  const int n = scan.steps;
  ASSERT_GT(yc[0], 1.01f * fit.peak.value[kBackground]);
  ASSERT_GT(yc[n - 1], 1.01f * fit.peak.value[kBackground]);
  // The end steps are the background, everything between them the peak.
  EXPECT_EQ(fit.bg_range, (std::array<int, 5>{0, 1, 1, n, n}));
  double peak = 0.0;
  for (int i = 1; i < n - 1; ++i) peak += scan.y[i];
  const double background = scan.y[0] + scan.y[n - 1];
  EXPECT_NEAR(fit.sigma_sum, 2.0 * std::sqrt(peak + background * (n - 2) / 2.0), 1e-3 * fit.sigma_sum);
}

TEST_F(FitReflectionTest, FailedFirstFitsRejectAtOnce) {
  // Nothing refined: "D".
  state->params.refine_flag = {};
  const float centre = state->scan.omega_centre;
  Fit();
  EXPECT_EQ(Code(), "NRD   ");
  ExpectNotIntegrated();
  EXPECT_EQ(state->scan.omega_centre, centre);

  // Iratio refined on a single-wavelength scan: singular, "E".
  SyntheticScan single;
  single.lambda2 = 0.0f;
  Load(single);
  state->params.refine_flag = {0, 1, 1, 1, 1, 1, 1};
  Fit();
  EXPECT_EQ(Code(), "NRE   ");
  EXPECT_EQ(state->fit.fit_status, kFitSingular);
  ExpectNotIntegrated();
}

TEST_F(FitReflectionTest, UnsettledFirstFitIsRejectedC) {
  // A narrow measured peak, a model line held wide and weak, Position free:
  // the shifts never fall below 1 % of the ESD.
  SyntheticScan narrow;
  narrow.first = -1.0f;
  narrow.width = 2.0f;
  narrow.lambda2 = 0.0f;
  narrow.truth = {0.0f, 10.0f, 0.1f, 100.0f, 0.0f, 0.0f, 0.0f};
  Load(narrow);
  state->fit.peak.value = {0.0f, 10.0f, 0.3f, 1.0f, 0.02f, 0.0f, 0.0f};
  state->params.refine_flag = {0, 0, 0, 0, 1, 0, 0};
  Fit();
  EXPECT_EQ(state->fit.fit_status, kFitNoConvergence);
  EXPECT_EQ(Code(), "NRC   ");
  ExpectNotIntegrated();
}

TEST_F(FitReflectionTest, StrongReflectionIsFittedNotRejected) {
  // About 10^6 counts at the top: its Position variance is below 1e-8 deg^2.
  SyntheticScan scan;
  scan.seed = 11;
  scan.truth[kBackground] = 300.0f;
  scan.truth[kIntensity] = 2.5e5f;
  scan.Make();
  Load(scan);
  ASSERT_GT(state->scan.max_count, 5.0e5f);
  Fit();
  EXPECT_EQ(Code(), "NF    ");
  EXPECT_LT(state->fit.peak.esd[kPosition] * state->fit.peak.esd[kPosition], 1e-8f);
  EXPECT_NEAR(state->fit.i_fit, 2.5e5f, 4.0f * state->fit.sigma_fit);
  EXPECT_GT(state->fit.sigma_fit, 0.0f);
}

TEST_F(FitReflectionTest, PoorAgreementIsFlaggedButIntegratedFromTheFirstFit) {
  Load(SyntheticScan{}, 3.0f);
  Check(kRwp, 0.0f, 1e-6f);
  // An Intensity limit that a fitted reflection would fail is not reached.
  Check(kIntensity, 1e9f, 0.0f);
  Fit();
  EXPECT_EQ(Code(), "NRF   ");
  const FitState& fit = state->fit;
  EXPECT_GT(fit.rwp, 1e-6f);
  EXPECT_FLOAT_EQ(fit.i_fit, 3.0f * fit.peak.value[kIntensity]);
  EXPECT_NEAR(fit.i_fit, 3.0f * truth[kIntensity], 3.0f);
  EXPECT_FLOAT_EQ(fit.sigma_fit, 3.0f * fit.peak.esd[kIntensity]);
  // Lorentzian tails keep the whole scan above 1 % over the background: the
  // end steps are the background, and the summation sigma is integrated too.
  EXPECT_EQ(fit.bg_range, (std::array<int, 5>{0, 1, 1, 96, 96}));
  const auto& y = state->scan.counts;
  double peak = 0.0;
  for (int i = 1; i < 95; ++i) peak += y[i];
  EXPECT_NEAR(fit.sigma_sum, 3.0 * std::sqrt(peak + (y[0] + y[95]) * 94.0 / 2.0), 1e-3 * fit.sigma_sum);
  EXPECT_EQ(state->scan.omega_centre, fit.peak.value[kPosition]);
}

TEST_F(FitReflectionTest, LimitsGiveTheirReasonLetters) {
  struct Case {
    const char* what;
    int parameter;
    float low, high;
    const char* code;
  };
  // Truth: background 20, FWHM 0.3, intensity 400, Eta 0.4, Iratio 0.5.
  const Case cases[] = {
      {"background above its limit", kBackground, 0.0f, 15.0f, "NRB   "},
      {"background below its limit", kBackground, 25.0f, 100.0f, "NRB   "},
      {"intensity below its limit", kIntensity, 500.0f, 0.0f, "NRI   "},
      {"no upper intensity limit", kIntensity, 100.0f, 200.0f, "NF    "},
      {"Eta outside its limits", kEta, 0.5f, 0.9f, "NRS   "},
      {"test-fit FWHM outside", kFwhm, 0.35f, 1.0f, "NRW   "},
      {"test-fit ratio outside", kIratio, 0.6f, 1.0f, "NRR   "},
      {"test-fit ratio inside", kIratio, 0.3f, 0.7f, "NF    "},
      {"position outside the window", kPosition, -0.05f, 0.5f, "NRP   "},
      {"position inside the window", kPosition, 0.5f, 0.5f, "NF    "},
  };
  for (const Case& c : cases) {
    SetUp();
    Check(c.parameter, c.low, c.high);
    Fit();
    EXPECT_EQ(Code(), c.code) << c.what;
    if (c.code[1] == 'R') {
      ExpectNotIntegrated();
    } else {
      EXPECT_GT(state->fit.i_fit, 0.0f) << c.what;
    }
  }
}

TEST_F(FitReflectionTest, HeldParametersAreNotTested) {
  // Background held at a value outside its limits, Eta held likewise.
  state->params.refine_flag[kBackground] = 0;
  state->fit.peak.value[kBackground] = truth[kBackground];
  Check(kBackground, 0.0f, 1.0f);
  state->params.refine_flag[kEta] = 0;
  state->fit.peak.value[kEta] = truth[kEta];
  Check(kEta, 0.8f, 0.9f);
  Fit();
  EXPECT_EQ(Code(), "NF    ");
}

TEST_F(FitReflectionTest, RetryHoldsThePositionAndSkipsTheWindow) {
  // The scan is centred 0.4 degrees off the peak; a window of +-0.1 rejects
  // the normal fit.
  SyntheticScan scan;
  scan.truth[kPosition] = 0.4f;
  scan.Make();
  Load(scan);
  state->fit.peak.value[kPosition] = 0.42f;
  Check(kPosition, 0.1f, 0.1f);
  Fit();
  EXPECT_EQ(Code(), "NRP   ");

  // The retry: its caller switches Position refinement off and places it.
  Load(scan);
  state->params.refine_flag[kPosition] = 0;
  state->fit.peak.value[kPosition] = 0.4f;
  Fit(true);
  EXPECT_EQ(Code(), "NF    ");
  EXPECT_EQ(state->fit.peak.value[kPosition], 0.4f);
  EXPECT_EQ(state->fit.peak.esd[kPosition], 0.0f);
  EXPECT_EQ(state->scan.omega_centre, 0.4f);
}

TEST_F(FitReflectionTest, WeakReflectionSkipsShapeTestsButNotTheWindow) {
  // Noiseless, so that the fit settles, but with the ESDs of 20 counts a step
  // around a peak of about 30 counts in all.
  SyntheticScan weak;
  weak.truth[kIntensity] = 0.5f;
  weak.Make();
  Load(weak);
  Check(kEta, 0.9f, 1.0f);
  Check(kFwhm, 5.0f, 6.0f);
  Check(kIratio, 5.0f, 6.0f);
  Fit();
  ASSERT_LT(state->fit.peak.value[kIntensity], 3.0f * state->fit.peak.esd[kIntensity]);
  EXPECT_EQ(Code(), "NF    ");

  Load(weak);
  Check(kPosition, -1.0f, -1.0f);  // an empty window
  Fit();
  EXPECT_EQ(Code(), "NRP   ");
}

TEST_F(FitReflectionTest, HeldIntensityHasNoSigma) {
  state->params.refine_flag[kIntensity] = 0;
  state->fit.peak.value[kIntensity] = truth[kIntensity];
  Fit();
  EXPECT_EQ(Code(), "NF    ");
  EXPECT_EQ(state->fit.sigma_fit, 0.0f);
  EXPECT_FLOAT_EQ(state->fit.i_fit, truth[kIntensity]);
}

TEST_F(FitReflectionTest, MonochromatorTermIsRecomputedWithTheSignOfTwoTheta) {
  state->params.mono_orient = 1;
  state->params.mono_2theta = 12.16f;
  state->scan.mono_term = 0.5f;
  Fit();
  const float shift = state->scan.mono_term;
  EXPECT_NE(shift, 0.5f);
  EXPECT_GT(shift, 0.0f);
  EXPECT_LT(shift, 0.1f);

  Load(SyntheticScan{});
  state->scan.two_theta = -40.0f;
  Fit();
  EXPECT_FLOAT_EQ(state->scan.mono_term, -shift);

  // Without an orientation the reader's value stands.
  Load(SyntheticScan{});
  state->params.mono_orient = 0;
  state->scan.mono_term = 0.0f;
  Fit();
  EXPECT_EQ(state->scan.mono_term, 0.0f);
}

TEST(BackgroundRanges, PeakStepsAreThoseAboveOnePercentOverBackground) {
  const float calculated[8] = {10.0f, 10.0f, 10.2f, 15.0f, 30.0f, 15.0f, 10.1f, 10.0f};
  std::array<int, 5> r{};
  BackgroundRanges(calculated, 8, 10.0f, r);
  EXPECT_EQ(r, (std::array<int, 5>{0, 1, 2, 7, 8}));  // 10.1 is not above 1.01 x 10

  const float flat[4] = {10.0f, 10.0f, 10.0f, 10.0f};
  BackgroundRanges(flat, 4, 10.0f, r);
  EXPECT_EQ(r, (std::array<int, 5>{0, 1, 4, 5, 4}));

  // A peak that reaches a scan end still leaves that end step as background.
  const float first_high[4] = {30.0f, 10.0f, 10.0f, 10.0f};
  BackgroundRanges(first_high, 4, 10.0f, r);
  EXPECT_EQ(r, (std::array<int, 5>{0, 1, 1, 2, 4}));
  const float last_high[5] = {10.0f, 10.0f, 30.0f, 20.0f, 10.2f};
  BackgroundRanges(last_high, 5, 10.0f, r);
  EXPECT_EQ(r, (std::array<int, 5>{0, 1, 2, 5, 5}));
  const float tails[6] = {10.5f, 12.0f, 30.0f, 25.0f, 11.0f, 10.2f};
  BackgroundRanges(tails, 6, 10.0f, r);
  EXPECT_EQ(r, (std::array<int, 5>{0, 1, 1, 6, 6}));
  // Every step above: two background steps and the rest peak.
  const float all_high[3] = {20.0f, 30.0f, 20.0f};
  BackgroundRanges(all_high, 3, 10.0f, r);
  EXPECT_EQ(r, (std::array<int, 5>{0, 1, 1, 3, 3}));
}

TEST(SummationSigma, BackgroundPeakBackground) {
  const float counts[8] = {1, 2, 3, 10, 20, 10, 3, 2};
  // Given in any order: BG = 1+2+3 + 10+3+2 over NB = 6 steps, PK = 10+20
  // over NP = 2: sqrt(30 + 21 x 2 / 6).
  std::array<int, 5> r{0, 6, 1, 8, 3};
  float sigma = 1.0f;
  ASSERT_TRUE(SummationSigma(r, counts, 8, sigma));
  EXPECT_FLOAT_EQ(sigma, std::sqrt(37.0f));
  EXPECT_EQ(r, (std::array<int, 5>{0, 1, 3, 6, 8}));

  // A profile that never rises: (1, N, N + 1, N) reaches beyond the scan.
  r = {0, 1, 8, 9, 8};
  sigma = 1.0f;
  EXPECT_FALSE(SummationSigma(r, counts, 8, sigma));
  EXPECT_EQ(sigma, 1.0f);
  // A peak at the first step leaves a background range starting at 0.
  r = {0, 1, 0, 2, 8};
  EXPECT_FALSE(SummationSigma(r, counts, 8, sigma));
  EXPECT_EQ(sigma, 1.0f);
}

TEST(SummationSigma, NegativeCountsGiveNoSigma) {
  const float counts[5] = {-40, -40, 2, -40, -40};
  std::array<int, 5> r{0, 1, 2, 4, 5};
  float sigma = 1.0f;
  EXPECT_FALSE(SummationSigma(r, counts, 5, sigma));
  EXPECT_EQ(sigma, 1.0f);
}

}  // namespace
}  // namespace kalvex
