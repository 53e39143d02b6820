// Fixed-background models: the four types, the per-degree table and the
// exponential fit, with hand-checked numbers.
#include "fit/background.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kalvex {
namespace {

class FixedBackgroundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const float counts[8] = {4, 8, 50, 90, 60, 20, 6, 2};
    scan.step_count = 8;
    std::copy(counts, counts + 8, scan.counts.begin());
    scan.count_scale = 2.0f;
  }
  float At(int type, float two_theta) {
    params.bg_type = type;
    return FixedBackground(scan, params, table, two_theta);
  }
  ScanReflection scan{};
  RunParameters params{};
  BackgroundTable table{};
};

TEST_F(FixedBackgroundTest, EndStepTypesUseTheRawCounts) {
  EXPECT_FLOAT_EQ(At(kBgNone, 30.0f), 3.0f);  // (4 + 2) / 2, count_scale not applied
  params.nstep_bg = 1;
  EXPECT_FLOAT_EQ(At(kBgFromScan, 30.0f), 3.0f);
  params.nstep_bg = 2;
  EXPECT_FLOAT_EQ(At(kBgFromScan, 30.0f), 5.0f);  // ((4 + 2) / 2 + (8 + 6) / 2) / 2
  // Out of range: at least the end steps, at most the whole scan.
  params.nstep_bg = 0;
  EXPECT_FLOAT_EQ(At(kBgFromScan, 30.0f), 3.0f);
  params.nstep_bg = 20;
  EXPECT_FLOAT_EQ(At(kBgFromScan, 30.0f), 30.0f);  // 240 / 8
}

TEST_F(FixedBackgroundTest, TableIsInterpolatedAndUnscaled) {
  for (int k = 1; k <= kBgTableSize; ++k) table[k] = 100.0f + k;
  table[10] = 100.0f;
  table[11] = 140.0f;
  EXPECT_FLOAT_EQ(At(kBgSpline, 10.5f), 60.0f);  // (100 + 140) / 2 / 2
  EXPECT_FLOAT_EQ(At(kBgSpline, 10.25f), 55.0f);
  EXPECT_FLOAT_EQ(At(kBgSpline, 10.0f), 50.0f);
  EXPECT_FLOAT_EQ(At(kBgSpline, -10.5f), 60.0f);  // the detector on the other side
  // Below 1 degree towards 0 at 0; from 90 degrees on the last entry.
  EXPECT_FLOAT_EQ(At(kBgSpline, 0.5f), 101.0f * 0.5f / 2.0f);
  EXPECT_FLOAT_EQ(At(kBgSpline, 90.0f), 95.0f);
  EXPECT_FLOAT_EQ(At(kBgSpline, 130.0f), 95.0f);
  EXPECT_FLOAT_EQ(At(kBgSpline, 89.5f), (189.0f + 190.0f) / 2.0f / 2.0f);
}

TEST_F(FixedBackgroundTest, ExponentialIsUnscaled) {
  auto& coefficients = params.pdef[kBackground];
  coefficients = {100.0f, 0.05f, 10.0f};
  EXPECT_NEAR(At(kBgExp, 20.0f), (100.0f * std::exp(-1.0f) + 10.0f) / 2.0f, 1e-5f);
}

BackgroundTable Build(std::vector<BackgroundPoint> points, float fill = 0.0f) {
  BackgroundTable table;
  table.fill(fill);
  BuildBackgroundTable(points.data(), static_cast<int>(points.size()), table);
  return table;
}

TEST(BackgroundTable, OneMeasuredDegreeIsExtendedAndRampedDown) {
  // Three reflections round to 20 degrees; the lowest end background counts.
  const BackgroundTable t = Build({{20.1f, 50.0f}, {19.8f, 40.0f}, {20.3f, 45.0f}});
  // Below: 2 per degree through the origin, smoothed (a straight line stays).
  EXPECT_FLOAT_EQ(t[1], 2.0f);
  EXPECT_FLOAT_EQ(t[10], 20.0f);
  EXPECT_FLOAT_EQ(t[18], 36.0f);
  EXPECT_FLOAT_EQ(t[19], (36.0f + 38.0f + 40.0f) / 3.0f);
  EXPECT_FLOAT_EQ(t[20], (38.0f + 40.0f + 40.0f) / 3.0f);
  for (int k = 21; k <= kBgTableSize; ++k) EXPECT_FLOAT_EQ(t[k], 40.0f) << k;
}

TEST(BackgroundTable, GapsAreFilledFromTheirNeighbours) {
  // 10 and 12 measured, 11 missing.
  const BackgroundTable t = Build({{12.0f, 60.0f}, {10.0f, 100.0f}});
  EXPECT_FLOAT_EQ(t[11], (100.0f + 80.0f + 60.0f) / 3.0f);
  EXPECT_FLOAT_EQ(t[10], (90.0f + 100.0f + 80.0f) / 3.0f);  // 9 on the ramp: 9 x 10
  EXPECT_FLOAT_EQ(t[12], (80.0f + 60.0f + 60.0f) / 3.0f);
}

TEST(BackgroundTable, BinsByNearestDegreeWithHalvesUp) {
  // 10.5 opens bin 11 rather than joining 10.
  const BackgroundTable t = Build({{10.2f, 100.0f}, {10.5f, 40.0f}, {11.4f, 70.0f}});
  EXPECT_FLOAT_EQ(t[12], 40.0f);
  EXPECT_FLOAT_EQ(t[11], (100.0f + 40.0f + 40.0f) / 3.0f);
}

TEST(BackgroundTable, EndsOfTheTableAreFilled) {
  // A reflection beyond 90.5 degrees has no bin; the last measured degree
  // still reaches 90, and 90 itself is filled.
  const BackgroundTable t = Build({{87.0f, 30.0f}, {88.0f, 30.0f}, {120.0f, 5.0f}}, -1.0f);
  EXPECT_FLOAT_EQ(t[89], 30.0f);
  EXPECT_FLOAT_EQ(t[90], 30.0f);
  // Starting at 1 degree: the first entry is measured, not left over.
  const BackgroundTable low = Build({{1.0f, 8.0f}, {2.0f, 8.0f}}, -1.0f);
  EXPECT_FLOAT_EQ(low[1], 8.0f);
  EXPECT_FLOAT_EQ(low[90], 8.0f);
}

TEST(BackgroundTable, OrderAndSideDoNotMatter) {
  std::vector<BackgroundPoint> points{{35.2f, 12.0f}, {12.7f, 30.0f}, {35.0f, 11.0f}, {60.1f, 7.0f}, {13.1f, 28.0f}};
  const BackgroundTable sorted = Build(points);
  std::reverse(points.begin(), points.end());
  EXPECT_EQ(Build(points), sorted);
  for (auto& p : points) p.two_theta = -p.two_theta;
  EXPECT_EQ(Build(points), sorted);
  // Nothing with a bin: the table stays as it was.
  EXPECT_EQ(Build({{0.3f, 5.0f}, {95.0f, 5.0f}}, 3.0f)[40], 3.0f);
}

TEST(BackgroundTable, ANaNTwoThetaNeverIndexesTheTable) {
  BackgroundTable table{};
  table.fill(7.0f);
  EXPECT_EQ(BackgroundTableValue(table, std::nanf("")), 0.0f);
}

TEST(ExponentialBackground, FitsTheDecayAboveTheHighAngleLevel) {
  std::vector<BackgroundPoint> points{{50.0f, 15.0f}, {60.0f, 15.0f}, {70.0f, 15.0f}};
  for (float t : {8.0f, 15.0f, 22.0f, 30.0f}) points.push_back({t, 15.0f + 200.0f * std::exp(-0.04f * t)});
  const ExponentialBackground e = FitExponentialBackground(points.data(), static_cast<int>(points.size()));
  EXPECT_FLOAT_EQ(e.c, 15.0f);
  EXPECT_NEAR(e.a, 200.0f, 0.05f);
  EXPECT_NEAR(e.b, 0.04f, 1e-5f);
}

TEST(ExponentialBackground, DegenerateSets) {
  // Every end background at the level c: nothing to fit.
  std::vector<BackgroundPoint> flat{{10.0f, 9.0f}, {50.0f, 9.0f}, {70.0f, 9.00005f}};
  ExponentialBackground e = FitExponentialBackground(flat.data(), 3);
  EXPECT_EQ(e.a, 1.0f);
  EXPECT_EQ(e.b, 0.1f);
  EXPECT_NEAR(e.c, 9.0f, 1e-4f);

  // Nothing above 45 degrees: the decay runs to zero.
  std::vector<BackgroundPoint> low{{10.0f, 200.0f * std::exp(-0.4f)}, {20.0f, 200.0f * std::exp(-0.8f)}};
  e = FitExponentialBackground(low.data(), 2);
  EXPECT_EQ(e.c, 0.0f);
  EXPECT_NEAR(e.a, 200.0f, 0.01f);
  EXPECT_NEAR(e.b, 0.04f, 1e-6f);

  // One angle only: no slope, the level of the points.
  std::vector<BackgroundPoint> one{{20.0f, 30.0f}, {20.0f, 50.0f}, {60.0f, 10.0f}};
  e = FitExponentialBackground(one.data(), 3);
  EXPECT_EQ(e.b, 0.0f);
  EXPECT_NEAR(e.a, std::sqrt(20.0f * 40.0f), 1e-3f);  // geometric mean of 20 and 40
}

}  // namespace
}  // namespace kalvex
