// Reading parameter files: keywords, fields, presence marks, the log echo.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "common/fixed_fields.h"

#include "shell/files.h"
#include "shell/parameter_file.h"
#include "tests/support/headless.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::ScratchDir;

// A line of fields laid out by column: keyword, then fields of the given widths.
std::string Line(const std::string& key, std::initializer_list<std::pair<std::string, int>> fields) {
  std::string line = key;
  line.resize(6, ' ');
  for (const auto& [text, width] : fields) line += std::string(width - text.size(), ' ') + text;
  return line;
}

const std::string kComplete =
    "Test crystal, parameter file for the tests\n" +
    Line("PKPAR", {{"0.25", 10}, {"0.1", 10}, {"0.5", 10}}) + "\n" +
    Line("FITLIM", {{"0", 10}, {"1000", 10}, {"0.05", 10}, {"2", 10}, {"0", 10}, {"1E7", 10}, {"-.2", 10},
                    {".2", 10}, {"0", 10}, {"1", 10}, {"0.3", 10}, {"0.7", 10}, {"0.25", 10}}) + "\n" +
    Line("ATTEN", {{"15.4", 10}}) + "\n" +
    Line("WAVEL", {{"2", 5}, {"0.70930", 10}, {"0.71359", 10}, {"0.5", 10}}) + "\n" +
    Line("RFLAGS", {{"1", 5}, {"1", 5}, {"1", 5}, {"1", 5}, {"0", 5}, {"0", 5}}) + "\n" +
    Line("TFLAGS", {{"1", 10}, {"1", 10}, {"0", 10}, {"1", 10}, {"0", 10}, {"0", 10}, {"1", 10}}) + "\n" +
    Line("PARITY", {{"1", 10}, {"-1", 10}, {"1", 10}, {"1", 10}}) + "\n" +
    Line("MONO", {{"1", 5}, {"12.16", 10}, {"90", 10}, {"1", 5}}) + "\n";

class ParameterFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = FreshState();
    dir_ = ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void Read(const std::string& text, const std::string& name = "run.par") {
    std::ofstream(dir_ / name) << text;
    script::QueueBrowse(name, dir_.string());
    OpenParameterFile(*state_);
  }
  std::unique_ptr<ProgramState> state_;
  std::filesystem::path dir_;
};

TEST_F(ParameterFileTest, CompleteFileFillsEveryField) {
  Read(kComplete);
  const RunParameters& p = state_->params;
  EXPECT_FLOAT_EQ(p.pdef[kFwhm][kCoefA], 0.25f);
  EXPECT_FLOAT_EQ(p.pdef[kFwhm][kCoefB], 0.1f);
  EXPECT_FLOAT_EQ(p.pdef[kEta][kCoefA], 0.5f);
  EXPECT_FLOAT_EQ(p.low[kBackground], 0.0f);
  EXPECT_FLOAT_EQ(p.high[kBackground], 1000.0f);  // no decimal point: a whole number
  EXPECT_FLOAT_EQ(p.high[kIntensity], 1e7f);
  EXPECT_FLOAT_EQ(p.low[kPosition], -0.2f);
  // The seventh to thirteenth FITLIM fields lie beyond column 80 and are read.
  EXPECT_FLOAT_EQ(p.low[kIratio], 0.3f);
  EXPECT_FLOAT_EQ(p.high[kIratio], 0.7f);
  EXPECT_FLOAT_EQ(p.rwp_max, 0.25f);
  EXPECT_FLOAT_EQ(p.atten, 15.4f);
  EXPECT_EQ(p.n_wavelengths, 2);
  EXPECT_FLOAT_EQ(p.lambda2, 0.71359f);
  EXPECT_FLOAT_EQ(p.iratio, 0.5f);
  EXPECT_FLOAT_EQ(p.pdef[kIratio][kCoefA], 0.5f);
  EXPECT_EQ(p.refine_flag, (std::array<int, 7>{0, 1, 1, 1, 1, 0, 0}));
  EXPECT_EQ(p.check_flag, (std::array<int, 8>{0, 1, 1, 0, 1, 0, 0, 1}));
  EXPECT_EQ(p.parity, (std::array<int, 4>{1, -1, 1, 1}));
  EXPECT_EQ(p.mono_flag, 1);
  EXPECT_FLOAT_EQ(p.dihedral, 90.0f);
  // mono_shift = asin(l2/l1 * sin(6.08 deg)) - 6.08 deg, parallel.
  const double expected = std::asin(0.71359 / 0.70930 * std::sin(6.08 / 57.29578)) * 57.29578 - 6.08;
  EXPECT_NEAR(p.mono_shift, expected, 1e-5);
  EXPECT_EQ(p.bg_type, kBgNone);  // no BACKGR line
  EXPECT_TRUE(script::Boxes().empty());
}

TEST_F(ParameterFileTest, KeywordsAreTakenCaseBlindAndByTheirColumns) {
  std::string text = kComplete;
  text.replace(text.find("PKPAR"), 5, "pkpar");
  text += "MONOXX    0     14.0      45.0    0\n";
  text += Line("RCRSab", {{"1.5", 10}, {"173", 10}}) + "\n";
  text += Line("BACKGR", {{"1", 5}, {"9", 10}}) + "\n";
  text += "WAVELX    1   1.54060   1.54439       0.5\n";  // not WAVEL + blank: ignored
  state_->params.mono_shift = 0.123f;
  state_->params.nstep_bg = 4;
  Read(text);
  const RunParameters& p = state_->params;
  EXPECT_FLOAT_EQ(p.pdef[kFwhm][kCoefA], 0.25f);
  EXPECT_EQ(p.mono_orient, 0);
  EXPECT_FLOAT_EQ(p.mono_2theta, 14.0f);
  EXPECT_FLOAT_EQ(p.mono_shift, 0.123f);  // orientation 0 leaves it alone
  EXPECT_FLOAT_EQ(p.rc, 1.5f);
  EXPECT_FLOAT_EQ(p.rs, 173.0f);
  EXPECT_EQ(p.bg_type, kBgSpline);
  EXPECT_EQ(p.nstep_bg, 4);
  EXPECT_FLOAT_EQ(p.lambda1, 0.70930f);
}

TEST_F(ParameterFileTest, OneWavelengthForcesTheRatioToZero) {
  std::string text = kComplete;
  text.replace(text.find("WAVEL"), 41, Line("WAVEL", {{"1", 5}, {"1.54060", 10}, {"1.54439", 10}, {"0.5", 10}}));
  Read(text);
  EXPECT_FLOAT_EQ(state_->params.iratio, 0.0f);
  EXPECT_FLOAT_EQ(state_->params.pdef[kIratio][kCoefA], 0.0f);
  EXPECT_FLOAT_EQ(state_->params.lambda2, 1.54439f);
}

TEST_F(ParameterFileTest, BackgroundTypesReadTheirOwnFields) {
  Read(kComplete + Line("BACKGR", {{"2", 5}, {"120", 10}, {"0.015", 10}, {"3.5", 10}}) + "\n");
  EXPECT_EQ(state_->params.bg_type, kBgExp);
  EXPECT_FLOAT_EQ(state_->params.pdef[kBackground][kCoefB], 0.015f);
  Read(kComplete + Line("BACKGR", {{"3", 5}, {"6", 5}}) + "\n", "second.par");
  EXPECT_EQ(state_->params.bg_type, kBgFromScan);
  EXPECT_EQ(state_->params.nstep_bg, 6);
  EXPECT_FLOAT_EQ(state_->params.pdef[kBackground][kCoefA], 120.0f);
}

TEST_F(ParameterFileTest, ASecondFileMayLeaveOutWhatTheFirstGave) {
  Read(kComplete);
  Read(Line("ATTEN", {{"2.5", 10}}) + "\n", "only_atten.par");
  EXPECT_FLOAT_EQ(state_->params.atten, 2.5f);
  EXPECT_FLOAT_EQ(state_->params.lambda1, 0.70930f);
}

TEST_F(ParameterFileTest, EveryLineIsEchoedToTheLog) {
  std::ofstream(dir_ / "a.dca") << "";
  state_->files.log.Open((dir_ / "a.log").string(), false);
  Read(kComplete);
  state_->files.log.Close();
  std::ifstream in(dir_ / "a.log");
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_GE(lines.size(), 16u);
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], " ");
  EXPECT_EQ(lines[2], "  INSTRUMENT PARAMETER FILE OPENED: run.par     ");
  EXPECT_EQ(lines[3], "  CONTENTS ARE:");
  EXPECT_EQ(lines[4], " ");
  EXPECT_EQ(lines[5], " " + fields::Fixed("Test crystal, parameter file for the tests", 80));
  // The FITLIM echo keeps the record's 80 columns.
  EXPECT_EQ(lines[7].size(), 81u);
  EXPECT_EQ(lines[lines.size() - 4], " ");
  EXPECT_EQ(lines[lines.size() - 3], " ****************END OF PARAMETER FILE***************");
  EXPECT_EQ(lines[lines.size() - 1], " ");
}

TEST_F(ParameterFileTest, MissingRequiredKeywordIsFatal) {
  std::string text = kComplete;
  text.erase(text.find("PARITY"));
  EXPECT_EXIT(Read(text), ::testing::ExitedWithCode(1), "MISSING DATA FROM PARAMETER FILE");
}

TEST_F(ParameterFileTest, FieldsThatDoNotConvertAreFatal) {
  for (const std::string& bad : {Line("ATTEN", {{"1.2.3", 10}}), Line("RFLAGS", {{"x", 5}}),
                                 Line("BACKGR", {{"2", 5}, {"abc", 10}}), Line("RCRS", {{"1", 10}, {"--", 10}})}) {
    EXPECT_EXIT(Read(kComplete + bad + "\n"), ::testing::ExitedWithCode(1), "ERROR READING PARAMETER FILE") << bad;
  }
}

TEST_F(ParameterFileTest, AFileThatCannotBeOpenedAsksAgain) {
  std::ofstream(dir_ / "good.par") << kComplete;
  script::QueueBrowse("missing.par", dir_.string());
  script::QueueBrowse("good.par", dir_.string());
  OpenParameterFile(*state_);
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "ERROR");
  EXPECT_EQ(script::Boxes()[0].message, "Error opening file: Try again");
  EXPECT_EQ(script::Browses().size(), 2u);
  EXPECT_FLOAT_EQ(state_->params.atten, 15.4f);
}

TEST(MonoShift, FollowsTheOrientationSignAndSurvivesNoWavelength) {
  const float parallel = MonoShift(12.16f, 1, 0.70930f, 0.71359f);
  EXPECT_GT(parallel, 0.0f);
  EXPECT_FLOAT_EQ(MonoShift(12.16f, -1, 0.70930f, 0.71359f), -parallel);
  EXPECT_FLOAT_EQ(MonoShift(-12.16f, 1, 0.70930f, 0.71359f), MonoShift(12.16f, 1, 0.70930f, 0.71359f) + 12.16f);
}

}  // namespace
}  // namespace kalvex
