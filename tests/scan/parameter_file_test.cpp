// Reading parameter files: keywords, fields, presence marks, the echo and
// the errors; and the command that opens one, logs it and keeps the run's
// parameters when it cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "commands/files.h"
#include "scan/parameter_file.h"
#include "state/run_parameters.h"
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
  // Reads `text` with the reader into the run's parameters and marks.
  ParameterFileResult Read(const std::string& text) {
    textfile::LineSource in;
    in.SetText(text);
    return ReadParameterFile(in, state_->params, state_->parameter_marks);
  }
  // A file meant to be readable.
  void ReadGood(const std::string& text) {
    const ParameterFileResult read = Read(text);
    ASSERT_FALSE(read.error) << read.error->message << " at line " << read.error->line;
  }
  // Opens `text` as the file `name` through the command, as the user does.
  void Open(const std::string& text, const std::string& name = "run.par") {
    std::ofstream(dir_ / name) << text;
    script::QueueBrowse(name, dir_.string());
    OpenParameterFile(*state_);
  }
  std::vector<std::string> LogLines() {
    state_->files.log.Close();
    std::ifstream in(dir_ / "a.log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  std::unique_ptr<ProgramState> state_;
  std::filesystem::path dir_;
};

TEST_F(ParameterFileTest, CompleteFileFillsEveryField) {
  ReadGood(kComplete);
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
  EXPECT_EQ(state_->parameter_marks, (ParameterMarks{true, true, true, true, true, true, true, true}));
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
  ReadGood(text);
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
  ReadGood(text);
  EXPECT_FLOAT_EQ(state_->params.iratio, 0.0f);
  EXPECT_FLOAT_EQ(state_->params.pdef[kIratio][kCoefA], 0.0f);
  EXPECT_FLOAT_EQ(state_->params.lambda2, 1.54439f);
}

TEST_F(ParameterFileTest, BackgroundTypesReadTheirOwnFields) {
  ReadGood(kComplete + Line("BACKGR", {{"2", 5}, {"120", 10}, {"0.015", 10}, {"3.5", 10}}) + "\n");
  EXPECT_EQ(state_->params.bg_type, kBgExp);
  EXPECT_FLOAT_EQ(state_->params.pdef[kBackground][kCoefB], 0.015f);
  ReadGood(kComplete + Line("BACKGR", {{"3", 5}, {"6", 5}}) + "\n");
  EXPECT_EQ(state_->params.bg_type, kBgFromScan);
  EXPECT_EQ(state_->params.nstep_bg, 6);
  EXPECT_FLOAT_EQ(state_->params.pdef[kBackground][kCoefA], 120.0f);
}

TEST_F(ParameterFileTest, ASecondFileMayLeaveOutWhatTheFirstGave) {
  ReadGood(kComplete);
  ReadGood(Line("ATTEN", {{"2.5", 10}}) + "\n");
  EXPECT_FLOAT_EQ(state_->params.atten, 2.5f);
  EXPECT_FLOAT_EQ(state_->params.lambda1, 0.70930f);
}

// Each line as it stands, however long: the FITLIM line's fields run to
// column 136.
TEST_F(ParameterFileTest, EchoHoldsEveryLineWhole) {
  const std::string note = "Remark " + std::string(140, '=');
  const ParameterFileResult read = Read(kComplete + note + "\n");
  ASSERT_FALSE(read.error);
  ASSERT_EQ(read.echo.size(), 10u);
  EXPECT_EQ(read.echo[0], " Test crystal, parameter file for the tests");
  EXPECT_EQ(read.echo[2], " " + kComplete.substr(kComplete.find("FITLIM"), 136));
  EXPECT_EQ(read.echo[9], " " + note);
}

TEST_F(ParameterFileTest, EveryLineIsEchoedToTheLog) {
  ASSERT_TRUE(state_->files.log.Open((dir_ / "a.log").string(), false));
  Open(kComplete);
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 16u);
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], " ");
  EXPECT_EQ(lines[2], "  INSTRUMENT PARAMETER FILE OPENED: run.par     ");
  EXPECT_EQ(lines[3], "  CONTENTS ARE:");
  EXPECT_EQ(lines[4], " ");
  EXPECT_EQ(lines[5], " Test crystal, parameter file for the tests");
  // The FITLIM line reaches the log whole.
  EXPECT_EQ(lines[7], " " + kComplete.substr(kComplete.find("FITLIM"), 136));
  EXPECT_EQ(lines[lines.size() - 4], " ");
  EXPECT_EQ(lines[lines.size() - 3], " ****************END OF PARAMETER FILE***************");
  EXPECT_EQ(lines[lines.size() - 1], " ");
  EXPECT_TRUE(script::Boxes().empty());
}

// The reader stops at the first error with its message and the true number
// of the line read last.
TEST_F(ParameterFileTest, MissingRequiredKeywordIsAnError) {
  std::string text = kComplete;
  text.erase(text.find("PARITY"));  // seven lines left, MONO gone with PARITY
  const ParameterFileResult read = Read(text);
  ASSERT_TRUE(read.error);
  EXPECT_EQ(read.error->message, "MISSING DATA FROM PARAMETER FILE: PARITY");  // the first missing
  EXPECT_EQ(read.error->line, 7);
  EXPECT_EQ(read.echo.size(), 7u);
}

// Fields that do not convert, and values the run cannot use, each named by
// keyword and line.
TEST_F(ParameterFileTest, FieldsThatDoNotConvertOrCannotBeUsedAreErrors) {
  const std::string fitlim_cut = kComplete.substr(kComplete.find("FITLIM"), 126);  // no rwp_max
  const struct {
    std::string keyword, line;
  } rows[] = {
      {"ATTEN", Line("ATTEN", {{"1.2.3", 10}})},
      {"RFLAGS", Line("RFLAGS", {{"x", 5}})},
      {"BACKGR", Line("BACKGR", {{"2", 5}, {"abc", 10}})},
      {"RCRS", Line("RCRSab", {{"1", 10}, {"--", 10}})},
      {"ATTEN", Line("atten", {{"0", 10}})},
      {"ATTEN", Line("ATTEN", {{"-15.4", 10}})},
      {"WAVEL", Line("WAVEL", {{"2", 5}, {"0", 10}, {"0.71359", 10}, {"0.5", 10}})},
      {"WAVEL", Line("WAVEL", {{"2", 5}, {"0.70930", 10}, {"", 10}, {"0.5", 10}})},
      {"WAVEL", Line("WAVEL", {{"1", 5}, {"1.5406", 10}, {"-1", 10}})},
      {"PKPAR", Line("PKPAR", {{"0", 10}, {"0.1", 10}, {"0.5", 10}})},
      {"PKPAR", Line("PKPAR", {{"0.25", 10}, {"-0.1", 10}, {"0.5", 10}})},
      {"FITLIM", fitlim_cut},
      {"FITLIM", fitlim_cut + std::string(10, ' ')},  // blanks are no field
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    // After the nine lines of the complete file, and before it.
    const ParameterFileResult after = Read(kComplete + row.line + "\n");
    ASSERT_TRUE(after.error);
    EXPECT_EQ(after.error->message, "ERROR READING PARAMETER FILE: " + row.keyword + " at line 10");
    EXPECT_EQ(after.error->line, 10);
    const ParameterFileResult before = Read("title\n" + row.line + "\n" + kComplete);
    ASSERT_TRUE(before.error);
    EXPECT_EQ(before.error->message, "ERROR READING PARAMETER FILE: " + row.keyword + " at line 2");
    EXPECT_EQ(before.error->line, 2);
    EXPECT_EQ(before.echo.size(), 2u);  // nothing after the line that failed
  }
  // Zeros that mean something stay readable: a constant width (no tangent
  // term), a pure Gaussian, no second wavelength with one wavelength; and a
  // FITLIM line of blank (zero) fields that reaches into its last field.
  ReadGood(kComplete + Line("PKPAR", {{"0.25", 10}, {"0", 10}, {"0", 10}}) + "\n" +
           Line("WAVEL", {{"1", 5}, {"1.54060", 10}, {"0", 10}}) + "\n" + Line("FITLIM", {{"", 120}}) + "0.25\n");
  EXPECT_FLOAT_EQ(state_->params.pdef[kFwhm][kCoefB], 0.0f);
  EXPECT_FLOAT_EQ(state_->params.lambda2, 0.0f);
  EXPECT_FLOAT_EQ(state_->params.high[kBackground], 0.0f);
  EXPECT_FLOAT_EQ(state_->params.rwp_max, 0.25f);
}

// A file that cannot be read leaves the run's parameters as they were: the
// message is the program's box and a log line, with no closing banner.
TEST_F(ParameterFileTest, AFileThatCannotBeReadKeepsTheParametersBefore) {
  ASSERT_TRUE(state_->files.log.Open((dir_ / "a.log").string(), false));
  Open(kComplete);
  const RunParameters before = state_->params;
  std::string text = kComplete;
  text.replace(text.find("ATTEN"), 16, Line("ATTEN", {{"2.5", 10}}));
  Open(text + Line("RFLAGS", {{"x", 5}}) + "\n", "broken.par");
  EXPECT_FLOAT_EQ(state_->params.atten, before.atten);
  EXPECT_FLOAT_EQ(state_->params.atten, 15.4f);
  EXPECT_EQ(state_->params.refine_flag, before.refine_flag);
  const std::string message = "ERROR READING PARAMETER FILE: RFLAGS at line 10";
  EXPECT_EQ(state_->parameter_error, message);
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "WinKalvex");
  EXPECT_EQ(script::Boxes()[0].message, message);
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), " " + message);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), " ****************END OF PARAMETER FILE***************"), 1);

  // A file read in full clears the error.
  Open(kComplete, "again.par");
  EXPECT_TRUE(state_->parameter_error.empty());
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
