// The reduction's kernels: reading the records the integration writes, the
// Lorentz-polarisation factor at its physical limits, the decay model, the
// Laue classes and the CIF's uncertainty notation.
#include <gtest/gtest.h>

#include <cmath>

#include "common/fixed_fields.h"
#include "common/text_files.h"
#include "fit/intensity_file.h"
#include "reduce/reduction.h"
#include "tools/simulate/simulate.h"

namespace kalvex::reduce {
namespace {

IntensityFileContents ParseIntensityFile(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  textfile::LineSource in;
  in.SetText(text);
  return ReadIntensityFile(in);
}

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
  r.seq_no = 418;
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
    EXPECT_EQ(x.standard_index, 2);
    EXPECT_TRUE(x.Accepted());
  }
  EXPECT_FLOAT_EQ(InstrumentAngles(read.records[0], r.parity)[1], 0.012);
  EXPECT_EQ(read.records[1].line_number, 5);
  EXPECT_EQ(read.records[1].seq_no - read.records[0].seq_no, 1);

  // An extended record without its value lines, a "Shelx hkl" file and
  // anything else stop the reading with the line's number.
  EXPECT_NE(ParseIntensityFile({lines[0], lines[1]}).error.find("line 3: the PARAMETERS line"), std::string::npos);
  const std::string shelx = FormatIntegrated(r, kOutputShelx)[0];
  EXPECT_NE(ParseIntensityFile({plain[0], shelx}).error.find("line 2: a \"Shelx hkl\" record"), std::string::npos);
  EXPECT_EQ(ParseIntensityFile({"hello"}).error, "line 1: not an \"Rfine\" record");
  r.class_code[1] = 'R';
  EXPECT_FALSE(ParseIntensityFile(FormatIntegrated(r, kOutputRfine)).records[0].Accepted());
}

// A record no reduction can use ends the reading at its line, the field
// named; before, each of these went through with a wrong number written.
TEST(ReduceRecords, RefusesWhatCannotBeReduced) {
  const std::string good = "  1  2  3  20.000   0.010  30.000  40.000    1000.000 10.0000    50.  NF 1    0";
  ASSERT_EQ(ParseIntensityFile({good}).error, "");
  const auto with = [&good](int column, const std::string& field) {
    return std::string(good).replace(column - 1, field.size(), field);
  };
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{with(1, "  0  0  0")}, "line 1: indices 0 0 0 (columns 1-9)"},
      {{with(55, "-1.0000")}, "line 1: sigma -1 (columns 55-61) is not a positive"},
      {{with(55, " 0.0000")}, "line 1: sigma 0 (columns 55-61)"},
      {{with(62, "  12.34")}, "line 1: the sequence field 12.34 (columns 62-68) is not a whole number"},
      {{good, with(62, "    51.")},
       "line 2: sequence number 5 (columns 62-68) is already that of line 1 (reduce the records of each data file apart)"},
  };
  for (const auto& [lines, message] : cases)
    EXPECT_EQ(ParseIntensityFile(lines).error.substr(0, message.size()), message) << message;

  // 2theta as the instrument turned it, and Lp, against the parameters.
  RunParameters params;
  params.parity = {-1, 1, 1, 1};
  std::vector<IntensityRecord> records = ParseIntensityFile({good}).records;
  EXPECT_NE(CheckGeometry(records, params, {}).find("2theta -20.000"), std::string::npos);
  params.parity = {1, 1, 1, 1};
  EXPECT_EQ(CheckGeometry(records, params, {}), "");
  for (float two_theta : {0.0f, 180.0f, 200.0f}) {
    records[0].angles[0] = two_theta;
    EXPECT_NE(CheckGeometry(records, params, {}).find("is outside (0, 180)"), std::string::npos) << two_theta;
  }
  // Behind a fully polarising monochromator, in its plane, 2theta = 90
  // diffracts nothing: no Lp to divide by.
  records[0].angles[0] = 90.0f;
  params.mono_flag = 1;
  params.mono_2theta = 90;
  params.dihedral = 90;
  EXPECT_NE(CheckGeometry(records, params, {}).find("Lorentz-polarisation factor"), std::string::npos);
  ReduceOptions no_lp;
  no_lp.lp = false;
  EXPECT_EQ(CheckGeometry(records, params, no_lp), "");
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
  // Never a number, and a point group is no Laue class.
  for (const char* name : {"14", "0", "222", "mm2", "Q 9"}) EXPECT_FALSE(FindLaueClass(name)) << name;
  EXPECT_NE(LaueRefusal("14").find("by its symbol"), std::string::npos);
  EXPECT_NE(LaueRefusal("222").find("by its symbol, P21/c) nor a point group (its Laue class is mmm)"),
            std::string::npos);
  EXPECT_NE(LaueRefusal("mm2").find("its Laue class is mmm"), std::string::npos);

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
  EXPECT_EQ(Hklf4Line({1, -2, 3}, 123.456, 7.891, 12, nullptr), "   1  -2   3 123.456 7.89100  12");
  EXPECT_EQ(Hklf4End(), "   0   0   0    0.00    0.00   0");
  // Every digit the eight columns hold, a blank before them, and F8.2
  // reading the explicit point back: the weak keep their value.
  const std::pair<double, const char*> wide[] = {{0.0215, " 0.02150"}, {-0.004, " -0.0040"}, {12063.04, " 12063.0"},
                                                 {99999.99, "99999.99"}, {-9999.99, "-9999.99"}, {-0.000001, " 0.00000"}};
  for (const auto& [value, text] : wide) {
    EXPECT_EQ(WideF8(value), text);
    EXPECT_NEAR(*fields::ReadReal(WideF8(value), 1, 8, 2), value, 0.05 * 1e-4 * std::max(1.0, std::fabs(value)));
  }
}

// Standards that jump are named by standard and round, and their "decay"
// is not applied unless asked; one record far out of line with its
// neighbours does not set the output scale.
TEST(ReduceCorrections, JumpsAndOutliersAreNamedNotApplied) {
  std::vector<IntensityRecord> records;
  int seq = 0;
  for (int round = 0; round < 6; ++round) {
    for (int s = 1; s <= 3; ++s) {
      IntensityRecord r = Record(++seq, s, 1000.0 * (s == 2 && round == 3 ? 0.5 : 1.0));
      r.hkl = {s, 0, 0};
      r.angles[0] = 20;
      records.push_back(r);
    }
    for (int n = 0; n < 50 && round < 5; ++n) {
      ++seq;
      IntensityRecord r = Record(seq, 0, 100.0 + (seq * 37) % 900);
      r.hkl = {seq % 7 + 1, seq % 5, seq % 3};
      r.angles[0] = static_cast<float>(10 + (seq * 13) % 30);
      records.push_back(r);
    }
  }
  records[100].intensity = 3.0e38;
  RunParameters params;
  params.parity = {1, 1, 1, 1};
  const Reduction refused = Correct(records, params, {});
  ASSERT_EQ(refused.decay.jumps.size(), 1u);
  EXPECT_EQ(refused.decay.jumps[0].standard, 2);
  EXPECT_EQ(refused.decay.jumps[0].round, 4);
  EXPECT_NEAR(refused.decay.jumps[0].others, 1.0, 1e-12);
  EXPECT_FALSE(refused.decay_applied);
  ReduceOptions anyway;
  anyway.decay_anyway = true;
  EXPECT_TRUE(Correct(records, params, anyway).decay_applied);

  Reduction r = Correct(records, params, {});
  EXPECT_EQ(r.out_of_line[static_cast<int>(OutOfLine::kNeighbours)], 1);
  Finish(r, {}, params, {});
  // The largest kept intensity, 999 (sigma 9.99) over Lp, fills F8.2.
  EXPECT_GT(r.output_scale, 10.0);
}

TEST(ReduceSymmetry, WhatTheCellAndTheDataContradict) {
  const CellVector orthorhombic{8.5, 11.2, 13.7, 90, 90, 90, 1304.2}, esd{1e-4, 1e-4, 1e-4, 0.001, 0.001, 0.001, 0};
  const MetricCheck cubic = CheckMetric(*FindLaueClass("Fm-3m"), orthorhombic, esd);
  EXPECT_FALSE(cubic.allowed);
  EXPECT_NE(cubic.worst.find("onto a lattice vector of"), std::string::npos) << cubic.worst;
  EXPECT_TRUE(CheckMetric(*FindLaueClass("Pnma"), orthorhombic, esd).allowed);

  // Primitive data: half of h + k odd, all strong. C-centring forbids those.
  std::vector<Observation> data;
  for (int h = 0; h < 6; ++h)
    for (int k = 0; k < 6; ++k) data.push_back({{h, k, 1}, 500, 10});
  const CentringCheck c = CheckCentring(*FindLaueClass("C2/m"), data);
  EXPECT_EQ(c.forbidden, 18);
  EXPECT_EQ(c.observed, 18);
  EXPECT_TRUE(c.Refused());
  for (Observation& o : data)
    if ((o.hkl[0] + o.hkl[1]) % 2 != 0) o.intensity = 0;
  EXPECT_FALSE(CheckCentring(*FindLaueClass("C2/m"), data).Refused());

  // No class beyond -1 merges: the ranking's first row is not believed.
  std::vector<MergingStatistics> table(2);
  table[0].label = "6/mmm", table[0].groups = 40, table[0].r_int = 0.83;
  table[1].label = "-1";
  EXPECT_EQ(ChosenRow(table), 1u);
  table[0].r_int = 0.05;
  EXPECT_EQ(ChosenRow(table), 0u);
}

// The cell from angles made by the simulator's own B and U: recovered
// exactly, free and held to its system; a system the cell does not have
// misfits.
TEST(ReduceSymmetry, CellFromExactAngles) {
  const simulate::Crystal crystal{{7.5, 9.8, 11.3, 90, 101.5, 90}, {12, -25, 40}};
  const simulate::Matrix3 ub = simulate::UBMatrix(crystal);
  std::vector<CellObservation> data;
  for (int h = -3; h <= 3; ++h)
    for (int k = -3; k <= 3; ++k)
      for (int l = -3; l <= 3; ++l) {
        simulate::SettingAngles a;
        if (!simulate::BisectingAngles(ub, {h, k, l}, 0.7093, a)) continue;
        data.push_back({{h, k, l}, {a.two_theta, a.omega, a.chi, a.phi}, 50});
      }
  const double truth[6] = {7.5, 9.8, 11.3, 90, 101.5, 90};
  for (int system : {0, 1}) {
    const CellFit fit = FitCell(data, 0.7093, system);
    ASSERT_EQ(fit.error, "");
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(fit.cell[i], truth[i], 1e-7) << system << " " << i;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(fit.ub[i][j], ub[i][j], 1e-10);
  }
  // Held orthorhombic, beta cannot leave 90 and the angles no longer fit.
  const CellFit held = FitCell(data, 0.7093, 3);
  EXPECT_NEAR(held.cell[4], 90.0, 1e-9);
  EXPECT_GT(held.goodness, 100.0);
}

TEST(ReduceSymmetry, CifNamesAndComments) {
  EXPECT_EQ(BlockName("my data"), "my_data");
  EXPECT_EQ(BlockName("data\xc3\xa9"), "data__");
  EXPECT_EQ(BlockName(""), "kalvex");
  CifContents c;
  c.rows = 2;
  c.row = [](std::size_t n) {
    return CifReflection{{1, 0, static_cast<int>(n)}, {20, 0, 30, 40}, n == 0 ? -1.5 : 0.0215, 0.01, 1, 0, {"NF 1"}};
  };
  std::string text;
  WriteCif(c, [&text](std::string_view s) { text += s; });
  // Decimals enough for two digits of the uncertainty.
  EXPECT_NE(text.find("1 0 0 10.0000 0.000 30.000 40.000 -1.5000 0.0100 1 'NF 1'"), std::string::npos) << text;
  EXPECT_NE(text.find("# written as measured, outside the dictionary's range"), std::string::npos);
  EXPECT_EQ(text.find("_diffrn_refln_standard_code"), std::string::npos);  // no standards, no parent loop
}

}  // namespace
}  // namespace kalvex::reduce
