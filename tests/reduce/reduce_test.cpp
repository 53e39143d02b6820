// The reduction's kernels: reading the records the integration writes, the
// Lorentz-polarisation factor at its physical limits, the decay model, the
// Laue classes and the CIF's uncertainty notation.
#include <gtest/gtest.h>

#include <cmath>

#include "fit/intensity_file.h"
#include "reduce/reduction.h"

namespace kalvex::reduce {
namespace {

TEST(ReduceRecords, ReadsWhatTheIntegrationWrites) {
  IntegratedReflection r;
  r.hkl = {3, -1, 7};
  r.angles = {23.456f, 0.012f, -45.5f, 170.25f};
  r.parity = {1, -1, 1, 1};
  r.intensity = 1234.5f;
  r.sigma = 12.25f;
  r.seq_no = 417;
  r.standard_index = 2;
  r.class_code = {'S', 'F', ' ', '1', ' ', ' '};
  std::vector<std::string> lines = FormatIntegrated(r, kOutputRfineExtended);
  const std::vector<std::string> plain = FormatIntegrated(r, kOutputRfine);
  lines.insert(lines.end(), plain.begin(), plain.end());
  const IntensityFileContents read = ParseIntensityFile(lines);
  ASSERT_EQ(read.error, "");
  ASSERT_EQ(read.records.size(), 2u);
  for (const IntensityRecord& x : read.records) {
    EXPECT_EQ(x.hkl, r.hkl);
    EXPECT_NEAR(x.angles[1], -0.012, 1e-6);  // as written: parity applied
    EXPECT_NEAR(x.angles[3], 170.25, 1e-6);
    EXPECT_NEAR(x.intensity, 1234.5, 1e-3);
    EXPECT_NEAR(x.sigma, 12.25, 1e-3);
    EXPECT_EQ(x.seq_no, 417);
    EXPECT_EQ(x.standard_index, 2);
    EXPECT_TRUE(x.Accepted());
  }
  EXPECT_EQ(InstrumentAngles(read.records[0], r.parity)[1], 0.012);
  EXPECT_EQ(read.records[1].line_number, 5);

  // An extended record without its value lines, a "Shelx hkl" file and
  // anything else stop the reading with the line's number.
  EXPECT_NE(ParseIntensityFile({lines[0], lines[1]}).error.find("line 3: the PARAMETERS line"), std::string::npos);
  const std::string shelx = FormatIntegrated(r, kOutputShelx)[0];
  EXPECT_NE(ParseIntensityFile({plain[0], shelx}).error.find("line 2: a \"Shelx hkl\" record"), std::string::npos);
  EXPECT_EQ(ParseIntensityFile({"hello"}).error, "line 1: not an \"Rfine\" record");
  r.class_code[1] = 'R';
  EXPECT_FALSE(ParseIntensityFile(FormatIntegrated(r, kOutputRfine)).records[0].Accepted());
}

TEST(ReduceCorrections, LorentzPolarisationAtItsLimits) {
  // Unpolarised: at 2theta = 90 L = 1 and half the intensity is lost.
  EXPECT_NEAR(LorentzPolarisation(90.0, {}), 0.5, 1e-12);
  EXPECT_NEAR(LorentzPolarisation(30.0, {}), (1 + 0.75) / 2 / 0.5, 1e-12);
  // A monochromator at 2theta_M = 90 polarises the beam completely: normal
  // to the sample's plane (rho = 0) nothing is lost, in it (rho = 90) the
  // sample's cos^2 2theta applies in full.
  EXPECT_NEAR(LorentzPolarisation(60.0, {true, 90.0, 0.0}), 1 / std::sin(M_PI / 3), 1e-12);
  EXPECT_NEAR(LorentzPolarisation(60.0, {true, 90.0, 90.0}), 0.25 / std::sin(M_PI / 3), 1e-12);
  // 2theta_M = 0 leaves it unpolarised whatever rho.
  EXPECT_NEAR(LorentzPolarisation(40.0, {true, 0.0, 37.0}), LorentzPolarisation(40.0, {}), 1e-12);
}

IntensityRecord Record(int seq, int standard, double intensity, char status = 'F') {
  IntensityRecord r;
  r.seq_no = seq;
  r.standard_index = standard;
  r.intensity = intensity;
  r.sigma = 0.01 * intensity;
  r.class_code = std::string("N") + status + " 1";
  return r;
}

TEST(ReduceCorrections, DecayFromRoundsOfStandards) {
  // Three rounds of two standards at sequence 1-2, 13-14 and 25-26 losing
  // 10 % a round; a rejected measurement counts for nothing.
  std::vector<IntensityRecord> records;
  for (int round = 0; round < 3; ++round) {
    const double f = 1.0 - 0.1 * round;
    records.push_back(Record(12 * round + 1, 1, 1000 * f));
    records.push_back(Record(12 * round + 2, 2, 400 * f));
    if (round < 2)
      for (int n = 3; n <= 12; ++n) records.push_back(Record(12 * round + n, 0, 50));
  }
  records.push_back(Record(27, 1, 5, 'R'));
  const DecayModel model = FitDecay(records);
  ASSERT_TRUE(model.Usable()) << model.refusal;
  ASSERT_EQ(model.rounds.size(), 3u);
  EXPECT_EQ(model.standards, 2);
  EXPECT_EQ(model.interval, 10);
  EXPECT_NEAR(model.rounds[2].scale, 0.8, 1e-12);
  EXPECT_NEAR(model.largest_decay_percent, 20.0, 1e-9);
  EXPECT_NEAR(ScaleAt(model, 1.5).scale, 1.0, 1e-12);
  EXPECT_NEAR(ScaleAt(model, 7.5).scale, 0.95, 1e-12);  // half-way between rounds 1 and 2
  EXPECT_NEAR(ScaleAt(model, 40).scale, 0.8, 1e-12);    // constant beyond the last
  EXPECT_GT(ScaleAt(model, 7.5).sigma, 0.0);
  EXPECT_EQ(ScaleGroup(model, 5), 1);
  EXPECT_EQ(ScaleGroup(model, 13), 2);
  EXPECT_EQ(ScaleGroup(model, 30), 2);

  records.resize(12);  // one round only
  const DecayModel one = FitDecay(records);
  EXPECT_FALSE(one.Usable());
  EXPECT_EQ(ScaleAt(one, 5).scale, 1.0);
}

TEST(ReduceSymmetry, LaueClassesFromGemmiTables) {
  const auto two_m = FindLaueClass("2/m");
  const auto p21c = FindLaueClass("P21/c");
  ASSERT_TRUE(two_m && p21c);
  EXPECT_EQ(p21c->LaueSymbol(), "2/m");
  EXPECT_TRUE(p21c->space_group_named);
  for (const Miller& h : std::vector<Miller>{{-1, 2, -3}, {-1, -2, -3}, {1, -2, 3}}) {
    EXPECT_EQ(two_m->Unique(h), two_m->Unique({1, 2, 3}));
    EXPECT_EQ(p21c->Unique(h), two_m->Unique({1, 2, 3}));
  }
  EXPECT_NE(two_m->Unique({1, 2, -3}), two_m->Unique({1, 2, 3}));
  EXPECT_EQ(FindLaueClass("m-3m")->order, 48);
  EXPECT_EQ(FindLaueClass("14")->LaueSymbol(), "2/m");
  EXPECT_FALSE(FindLaueClass("mm2"));
  EXPECT_FALSE(FindLaueClass("Q 9"));

  const CellVector esd{1e-4, 1e-4, 1e-4, 0.01, 0.01, 0.01, 0};
  const auto mmm = FindLaueClass("mmm"), four = FindLaueClass("4/mmm"), hex = FindLaueClass("6/mmm");
  EXPECT_TRUE(MetricAllows(*four, {9.0, 9.0001, 13.7, 90, 90, 90, 0}, esd));
  EXPECT_FALSE(MetricAllows(*four, {9.0, 9.01, 13.7, 90, 90, 90, 0}, esd));
  EXPECT_TRUE(MetricAllows(*mmm, {9.0, 9.01, 13.7, 90, 90.02, 90, 0}, esd));
  EXPECT_FALSE(MetricAllows(*mmm, {9.0, 9.01, 13.7, 90, 90.3, 90, 0}, esd));
  EXPECT_TRUE(MetricAllows(*hex, {5.0, 5.0, 8.0, 90, 90, 120, 0}, esd));
  EXPECT_FALSE(MetricAllows(*hex, {5.0, 5.0, 8.0, 90, 90, 90, 0}, esd));
}

TEST(ReduceSymmetry, MergingAndNotation) {
  const auto mmm = FindLaueClass("mmm");
  // Two groups: (1 2 3) measured 100 and 120, (2 0 0) 50 and 50; one single.
  const std::vector<Observation> data{{{1, 2, 3}, 100, 5}, {{-1, 2, -3}, 120, 5}, {{2, 0, 0}, 50, 2},
                                      {{-2, 0, 0}, 50, 2}, {{4, 1, 1}, 10, 1}};
  const MergingStatistics s = Merge(*mmm, data);
  EXPECT_EQ(s.unique, 3);
  EXPECT_EQ(s.groups, 2);
  EXPECT_NEAR(s.r_int, 20.0 / 320.0, 1e-12);
  EXPECT_NEAR(s.r_meas, std::sqrt(2.0) * 20.0 / 320.0, 1e-12);
  EXPECT_NEAR(s.r_sigma, 15.0 / 330.0, 1e-12);

  EXPECT_EQ(WithUncertainty(8.500123, 0.00011, 5), "8.50012(11)");
  EXPECT_EQ(WithUncertainty(8.500123, 0.00026, 5), "8.5001(3)");
  EXPECT_EQ(WithUncertainty(104.7, 2.6, 3), "105(3)");
  EXPECT_EQ(WithUncertainty(90.00003, 0.0, 3), "90");

  const std::vector<double> big{120000.0, -50.0}, small{3.0}, negative{-25000.0};
  EXPECT_DOUBLE_EQ(OutputScale(big, small), 0.5);
  EXPECT_DOUBLE_EQ(OutputScale(std::vector<double>{410.0}, small), 200.0);
  EXPECT_DOUBLE_EQ(OutputScale(negative, small), 0.2);
  EXPECT_EQ(Hklf4Line({1, -2, 3}, 123.456, 7.891, 12, nullptr), "   1  -2   3  123.46    7.89  12");
}

}  // namespace
}  // namespace kalvex::reduce
