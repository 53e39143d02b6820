// Intensity-file records, column for column.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fit/intensity_file.h"

namespace kalvex {
namespace {

IntegratedReflection Sample() {
  IntegratedReflection r;
  r.hkl = {1, -2, 13};
  r.angles = {24.5f, 0.0312f, 190.0f, -180.0f};
  r.parity = {1, 1, 1, 1};
  r.intensity = 999.5f;
  r.sigma = 12.25f;
  r.seq_no = 57;
  r.standard_index = 2;
  r.class_code = {'S', 'F', ' ', '1', ' ', ' '};
  r.rwp = 0.0812f;
  r.chi2 = 1.234f;
  r.count_scale = 1.0f;
  r.step_width = 0.02f;
  r.p = {10.5f, 0.35f, 120.0f, 0.0312f, 0.5f, 0.5f};
  r.esd = {0.5f, 0.01f, 3.0f, 0.001f, 0.0f, 0.0f};
  r.sigma_sum = 13.0f;
  return r;
}

TEST(IntensityFile, RfineRecordColumnForColumn) {
  const auto lines = FormatIntegrated(Sample(), kOutputRfine);
  ASSERT_EQ(lines.size(), 1u);
  // hkl 3I3 | angles 4F8.3 (chi 190 -> -170, phi -180 -> 180) | 1X F11.5 | 1X F7.4 | F7.0 | 2X 6A1 | I3
  EXPECT_EQ(lines[0],
            "  1 -2 13"
            "  24.500   0.031-170.000 180.000"
            "   999.50000"
            " 12.2500"
            "   572."
            "  SF 1  "
            "  0");
}

TEST(IntensityFile, DecimalsFollowTheSizeOfIntensityAndSigma) {
  auto r = Sample();
  r.intensity = 1000.0f;
  r.sigma = 1000.0f;
  const std::string rec = FormatIntegrated(r, kOutputRfine)[0];
  EXPECT_EQ(rec.substr(41, 12), "    1000.000");  // F11.3 after 1X
  // Sigma exactly 1000 takes F7.3, which cannot hold it: one decimal fewer.
  EXPECT_EQ(rec.substr(53, 8), " 1000.00");
  r.intensity = 2.0e8f;
  r.sigma = 20000.0f;
  const std::string big = FormatIntegrated(r, kOutputRfine)[0];
  EXPECT_EQ(big.substr(41, 12), "  200000000.");
  EXPECT_EQ(big.substr(53, 8), " 20000.0");
  r.intensity = 5.0e7f;  // F11.3 cannot hold it; F11.2 can
  EXPECT_EQ(FormatIntegrated(r, kOutputRfine)[0].substr(42, 11), "50000000.00");
  r.intensity = -12345.678f;  // F11.5 cannot hold it either
  EXPECT_EQ(FormatIntegrated(r, kOutputRfine)[0].substr(42, 11), "-12345.6777");
  r.intensity = 123456.0f;  // "Shelx hkl" F8.2
  EXPECT_EQ(FormatIntegrated(r, kOutputShelx)[0].substr(12, 8), "123456.0");
}

TEST(IntensityFile, TooLargeValuesAreNotWritten) {
  auto r = Sample();
  r.intensity = 1.5e9f;
  EXPECT_TRUE(FormatIntegrated(r, kOutputRfine).empty());
  r = Sample();
  r.sigma = 1.5e5f;
  EXPECT_TRUE(FormatIntegrated(r, kOutputShelx).empty());
}

TEST(IntensityFile, ExtendedRecordAddsThreeLinesOfUnscaledValues) {
  auto r = Sample();
  r.count_scale = 2.5f;
  const auto lines = FormatIntegrated(r, kOutputRfineExtended);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "  3");
  EXPECT_EQ(lines[1], "FACTORS       0.0812    1.2340    2.5000    0.0200");
  EXPECT_EQ(lines[2], "PARAMETERS   10.5000    0.3500  120.0000    0.0312    0.5000    0.5000");
  EXPECT_EQ(lines[3], "SIGMAS        0.5000    0.0100    3.0000    0.0010    0.0000    0.0000   13.0000");
}

TEST(IntensityFile, ExtendedValuesGiveUpDecimalsRatherThanBeLost) {
  auto r = Sample();
  r.sigma_sum = 23456.789f;  // an attenuated reflection's summation sigma
  const auto lines = FormatIntegrated(r, kOutputRfineExtended);
  EXPECT_EQ(lines[3].substr(lines[3].size() - 10), " 23456.789");
}

TEST(IntensityFile, ShelxRecordCarriesBatchOneAndSigned2Theta) {
  auto r = Sample();
  r.parity = {-1, 1, 1, 1};
  r.intensity = 1234.567f;
  const auto lines = FormatIntegrated(r, kOutputShelx);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "   1  -2  13 1234.57   12.25   1 -24.50000");
}

TEST(IntensityFile, WrapAngleBringsIntoHalfOpenRange) {
  EXPECT_FLOAT_EQ(WrapAngle(190.0f), -170.0f);
  EXPECT_FLOAT_EQ(WrapAngle(-180.0f), 180.0f);
  EXPECT_FLOAT_EQ(WrapAngle(180.0f), 180.0f);
  EXPECT_FLOAT_EQ(WrapAngle(-540.0f), 180.0f);
  EXPECT_FLOAT_EQ(WrapAngle(725.0f), 5.0f);
  // Angles a damaged file can carry, where adding 360 changes nothing: the
  // wrap still ends, inside the range.
  for (float huge : {1.0e10f, -1.0e10f, 1.0e30f, -3.4e38f}) {
    const float wrapped = WrapAngle(huge);
    EXPECT_GT(wrapped, -180.0f) << huge;
    EXPECT_LE(wrapped, 180.0f) << huge;
  }
  EXPECT_TRUE(std::isinf(WrapAngle(std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(WrapAngle(std::numeric_limits<float>::quiet_NaN())));
}

}  // namespace
}  // namespace kalvex
