// Crystal offsets and omega zero recovered from simulated omegas, and the
// cycles' ends: convergence, singular fits, warnings.
#include "refine/offsets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "refine/cell_lsq.h"
#include "tests/refine/synthetic.h"
#include "tests/support/headless.h"

namespace kalvex {
namespace {

constexpr float kLambda = 0.71073f;
constexpr float kRs = 180.0f;
const CellVector kCell{7.1f, 9.3f, 11.2f, 84.0f, 97.5f, 103.0f, 0};

struct Data {
  std::vector<Angles> angles;
  std::vector<Hkl> hkl;
};

// Reflections whose observed omega carries the correction of the given
// offsets and omega zero (and noise of noise_sd on omega), with |chi| in
// [min_chi, max_chi]. A small change of UB moves the omegas much as omega
// zero does, so the alternating cycles approach omega zero slowly; high chi
// tells the two apart best.
Data Simulate(const Mat3& ub, const Vec3& offsets, float omega_zero, int count, unsigned seed, double noise_sd,
              double min_chi = 0.0, double max_chi = 90.0) {
  Data d;
  for (const auto& r : testing::MakeReflections(ub, kLambda, 1000, seed, noise_sd)) {
    if (std::fabs(r.angles[kChi]) > max_chi || std::fabs(r.angles[kChi]) < min_chi) continue;
    if (static_cast<int>(d.angles.size()) == count) break;
    Angles a = r.angles;
    a[kOmega] += OffsetCorrection(a, offsets, omega_zero, kRs)[1];
    d.angles.push_back(a);
    d.hkl.push_back(r.hkl);
  }
  return d;
}

// The largest |observed - predicted - correction| omega over the data.
float LargestRest(const Data& d, const OrientationState& o) {
  float largest = 0;
  for (std::size_t n = 0; n < d.angles.size(); ++n) {
    float omega_ub = 0;
    EXPECT_TRUE(PredictOmega(o.ub, d.angles[n], kLambda, d.hkl[n], omega_ub));
    const Vec3 c = OffsetCorrection(d.angles[n], o.offsets, o.omega_zero, kRs);
    largest = std::max(largest, std::fabs(d.angles[n][kOmega] - omega_ub - c[1]));
  }
  return largest;
}

TEST(Offsets, LsqOffsetsRecoversOffsetsAndUBWhileOmegaZeroCreeps) {
  const Mat3 ub = testing::MakeUB(kCell, 25, 40, -70);
  const Vec3 offsets{0.2f, -0.15f, 0.25f};
  const Data d = Simulate(ub, offsets, 0.03f, 60, 17, 0.0005, 40.0);
  ASSERT_EQ(d.angles.size(), 60u);
  OrientationState o;
  Notices notices;
  // Omega zero gains about a seventh of what is left per cycle, so the sum
  // of residuals still falls by more than 5 % in the 20th cycle.
  EXPECT_EQ(LSQ_OFFSETS(true, d.angles, d.hkl, kLambda, kRs, o, notices), kOffsetCycles);
  ASSERT_EQ(notices.count, 1);
  EXPECT_EQ(notices.code[0], Notice::kOffsetsNoConvergence);
  EXPECT_EQ(NoticeText(notices.code[0]), "WARNING: NO CONVERGENCE AFTER 20 CYCLES IN LSQ_OFFSETS");
  EXPECT_EQ(NoticeTitle(notices.code[0]), "Win-Kalvex");
  EXPECT_TRUE(o.corrections_valid);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(o.offsets[i], offsets[i], 0.01f) << i;
  EXPECT_GT(o.omega_zero, 0.02f);
  EXPECT_LT(o.omega_zero, 0.031f);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(o.ub[i][j], ub[i][j], 2e-4f);
  // UB takes up what omega zero has not yet: the predictions still fit.
  EXPECT_LT(LargestRest(d, o), 0.005f);
}

TEST(Offsets, WithoutOmegaZeroOnlyTheOffsetsAreFitted) {
  const Mat3 ub = testing::MakeUB(kCell, 25, 40, -70);
  const Vec3 offsets{-0.1f, 0.3f, 0.1f};
  const Data d = Simulate(ub, offsets, 0.0f, 60, 23, 0.0005);
  OrientationState o;
  o.omega_zero = 0.7f;  // the cycle starts from zero
  Notices notices;
  EXPECT_LT(LSQ_OFFSETS(false, d.angles, d.hkl, kLambda, kRs, o, notices), kOffsetCycles);
  EXPECT_EQ(notices.count, 0);
  EXPECT_EQ(o.omega_zero, 0.0f);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(o.offsets[i], offsets[i], 0.01f) << i;
  EXPECT_LT(LargestRest(d, o), 0.003f);
}

TEST(Offsets, SingularFitInEveryCycleKeepsZeroOffsetsAndEnds) {
  // Without the distance RS no offset can be fitted: one box per cycle.
  auto state = testing::FreshState(false);
  state->params.lambda1 = kLambda;
  state->params.rs = 0.0f;
  const Mat3 ub = testing::MakeUB(kCell, 25, 40, -70);
  const Data d = Simulate(ub, {0, 0, 0}, 0.02f, 20, 5, 0.002);
  PreprocessedList& list = state->preprocessed_list;
  for (std::size_t n = 0; n < d.angles.size(); ++n) {
    list.entries[n].angles = d.angles[n];
    list.entries[n].hkl = d.hkl[n];
  }
  list.count = static_cast<int>(d.angles.size());
  const int cycles = testing::StateLSQ_OFFSETS(*state, 1);
  EXPECT_GE(cycles, 2);
  EXPECT_LE(cycles, kOffsetCycles);
  ASSERT_EQ(static_cast<int>(script::Boxes().size()), cycles);
  for (const auto& box : script::Boxes()) {
    EXPECT_EQ(box.title, "WinKalvex");
    EXPECT_EQ(box.message, "SINGULAR MATRIX IN LSQ FOR XTAL OFFSETS");
  }
  EXPECT_EQ(state->orientation.offsets, (Vec3{0, 0, 0}));
  EXPECT_EQ(state->orientation.omega_zero, 0.0f);
  EXPECT_TRUE(state->orientation.corrections_valid);
  // The list itself is never changed by the cycles.
  for (std::size_t n = 0; n < d.angles.size(); ++n) EXPECT_EQ(list.entries[n].angles, d.angles[n]);
}

TEST(Offsets, CycleWithoutAnyOrientationEndsAtOnce) {
  // Reflections of one zone give no UB; the start-up UB of zeros cannot
  // predict omegas, so the cycle stops instead of a box per reflection.
  const Mat3 ub = testing::MakeUB(kCell, 25, 40, -70);
  Data d;
  for (Hkl h : {Hkl{1, 0, 0}, Hkl{0, 1, 0}, Hkl{1, 1, 0}, Hkl{2, -1, 0}}) {
    Angles a{};
    ASSERT_TRUE(testing::SettingAngles(ub, h, kLambda, 0.0, a));
    d.angles.push_back(a);
    d.hkl.push_back(h);
  }
  OrientationState o;
  Notices notices;
  EXPECT_EQ(LSQ_OFFSETS(true, d.angles, d.hkl, kLambda, kRs, o, notices), 1);
  EXPECT_EQ(notices.Count(Notice::kLsqSingular), 1);
  EXPECT_EQ(notices.Count(Notice::kLuSingular), 2);
  EXPECT_EQ(notices.count, 3);
  EXPECT_EQ(o.offsets, (Vec3{0, 0, 0}));
}

TEST(Offsets, RefineOmegaZeroStopsOnceOmegaZeroSettles) {
  const Mat3 ub = testing::MakeUB(kCell, -35, 62, 14);
  OrientationState o;
  o.offsets = {0.1f, 0.2f, 0.3f};
  Notices notices;
  // Exact data: omega zero stays 0 and the first cycle ends the refinement.
  const Data exact = Simulate(ub, {0, 0, 0}, 0.0f, 40, 31, 0.0);
  EXPECT_EQ(RefineOmegaZero(exact.angles, exact.hkl, kLambda, o, notices), 1);
  EXPECT_EQ(notices.count, 0);
  EXPECT_NEAR(o.omega_zero, 0.0f, 2e-4f);
  EXPECT_EQ(o.offsets, (Vec3{0.1f, 0.2f, 0.3f}));

  // A small omega zero is approached until a cycle moves it by less than
  // 0.001 degree; UB takes up the rest, so the predictions fit.
  const Data d = Simulate(ub, {0, 0, 0}, 0.01f, 50, 31, 0.0005, 65.0);
  const int cycles = RefineOmegaZero(d.angles, d.hkl, kLambda, o, notices);
  EXPECT_GT(cycles, 1);
  EXPECT_LT(cycles, kOmegaZeroCycles);
  EXPECT_EQ(notices.count, 0);
  EXPECT_GT(o.omega_zero, 0.003f);
  EXPECT_LT(o.omega_zero, 0.011f);
  o.offsets = {0, 0, 0};
  EXPECT_LT(LargestRest(d, o), 0.006f);  // within the omega-zero shortfall
}

TEST(Offsets, RefineOmegaZeroWarnsOnceWhenStillMoving) {
  // A large omega zero still moves by more than 0.001 in the 10th cycle.
  auto state = testing::FreshState(false);
  state->params.lambda1 = kLambda;
  const Mat3 ub = testing::MakeUB(kCell, -35, 62, 14);
  const Data d = Simulate(ub, {0, 0, 0}, 0.5f, 30, 31, 0.0);
  ASSERT_EQ(d.angles.size(), 30u);
  PreprocessedList& list = state->preprocessed_list;
  for (std::size_t n = 0; n < d.angles.size(); ++n) {
    list.entries[n].angles = d.angles[n];
    list.entries[n].hkl = d.hkl[n];
  }
  list.count = static_cast<int>(d.angles.size());
  EXPECT_EQ(testing::StateRefineOmegaZero(*state), kOmegaZeroCycles);
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "Win-Kalvex");
  EXPECT_EQ(script::Boxes()[0].message, "WARNING: NO CONVERGENCE AFTER 10 CYCLES IN LSQ_OFFSETS");
}

}  // namespace
}  // namespace kalvex
