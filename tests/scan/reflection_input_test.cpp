// What the dispatch derives for every reflection, which reader a format
// value selects, and the classification summary as the log shows it.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "commands/session.h"
#include "engine/run.h"
#include "scan/parameter_file.h"
#include "scan/reflection_input.h"
#include "tests/scan/reading.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::HeaderStatus;
using testing::ScratchDir;

ScanReflection ScanOf(std::initializer_list<float> counts, float two_theta) {
  ScanReflection scan;
  scan.step_count = static_cast<int>(counts.size());
  std::copy(counts.begin(), counts.end(), scan.counts.begin());
  scan.two_theta = two_theta;
  scan.omega_centre = 1.0f;
  scan.scan_width = 1.0f;
  scan.step_width = 1.0f / scan.step_count;
  scan.calculated.fill(7.0f);
  return scan;
}

TEST(ReflectionDispatch, EqualHighestCountsGiveTheLowerStep) {
  ScanReflection scan = ScanOf({3, 9, 4, 9, 2}, 30.0f);
  DeriveScanQuantities(scan, 0.7093f, 0.71359f, 0.0f);
  EXPECT_EQ(scan.max_count, 9.0f);
  EXPECT_EQ(scan.max_step, 2);
  EXPECT_EQ(scan.calculated[0], 0.0f);
  EXPECT_EQ(scan.calculated[199], 0.0f);
  // Step centres of a width-1 scan of 5 steps centred on 1.
  EXPECT_FLOAT_EQ(scan.step_position[0], 0.6f);
  EXPECT_FLOAT_EQ(scan.step_position[4], 1.4f);

  // No count above zero: the first step stands in.
  scan = ScanOf({0, 0, 0}, 30.0f);
  scan.max_step = 3;
  DeriveScanQuantities(scan, 0.7093f, 0.71359f, 0.0f);
  EXPECT_EQ(scan.max_step, 1);
}

TEST(ReflectionDispatch, NegativeTwoThetaTurnsTheMonochromatorTermAndTheDoubletShift) {
  const float rho = 0.71359f / 0.7093f;
  const float shift_20 = std::asin(rho * std::sin(10.0f / 57.29578f)) * 57.29578f - 10.0f;
  ScanReflection up = ScanOf({1, 2, 1}, 20.0f);
  ScanReflection down = ScanOf({1, 2, 1}, -20.0f);
  DeriveScanQuantities(up, 0.7093f, 0.71359f, 0.012f);
  DeriveScanQuantities(down, 0.7093f, 0.71359f, 0.012f);
  EXPECT_FLOAT_EQ(up.mono_term, 0.012f);
  EXPECT_FLOAT_EQ(down.mono_term, -0.012f);
  EXPECT_NEAR(up.doublet_shift, shift_20, 1e-6);
  EXPECT_GT(up.doublet_shift, 0.05f);  // about 0.06 degrees at 20 degrees 2theta
  EXPECT_NEAR(down.doublet_shift, -shift_20, 1e-6);
}

// A value other than 1, 2 or 3 reads the file as Xscans: the dispatch gives
// what the Xscans reader makes of an Xcalibur file, and the Xcalibur header
// constants stay unset.
TEST(ReflectionDispatch, FormatValuesOutsideOneToThreeDoNotReadAsXcalibur) {
  const std::string xcalibur_file =
      "C c\nI sc s   0.10000   sc w   1.0000 0.5000 1.000000\nP\nP                                                      10\n"
      "P                             0.709300       0.713590\nP\nP\nP\nP\nP\nP                            0        16\n"
      "#    1       1    0    0             NL                        1.0000\n";
  auto reference = FreshState(false);
  reference->files.data.SetText(xcalibur_file);
  const ReadResult as_xscans = ReadXscansHeader(engine::PartsOf(*reference));
  for (int format : {0, 7}) {
    SCOPED_TRACE(format);
    auto state = FreshState(false);
    state->params.input_format = format;
    state->files.data.SetText(xcalibur_file);
    const ReadResult result = ReadScanHeader(engine::PartsOf(*state), state->files.data_file_name);
    EXPECT_EQ(result.status, as_xscans.status);
    EXPECT_EQ(result.error.message, as_xscans.error.message);
    EXPECT_EQ(result.error.line, as_xscans.error.line);
    EXPECT_EQ(state->files.data.LineNumber(), reference->files.data.LineNumber());
    EXPECT_EQ(state->data_set.xcalibur.default_steps, 0);
  }
  auto state = FreshState(false);
  state->params.input_format = kFormatXcalibur;
  state->files.data.SetText(xcalibur_file);
  EXPECT_EQ(HeaderStatus(*state), kReadOk);
  EXPECT_EQ(state->data_set.xcalibur.default_steps, 10);
}

// Written by the simulator, then given what editors on other systems add: a
// byte-order mark in front, an end-of-file character behind, alone or
// ending the last line.
TEST(ReflectionDispatch, FilesFromWindowsReadAsWritten) {
  const auto data = testing::SetForEveryFormat(4, 2);
  const auto path = ScratchDir("files_from_windows") / "set";
  std::string error;
  const std::pair<int, testing::SetWriter> formats[] = {{kFormatCad4, simulate::WriteCad4},
                                            {kFormatSingle, simulate::WriteSingle},
                                            {kFormatXcalibur, simulate::WriteXcalibur},
                                            {0, simulate::WriteParameterFile}};
  for (const auto& [format, write] : formats) {
    ASSERT_TRUE(write(data, path, error)) << error;
    std::stringstream written;
    written << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string text = written.str();
    const std::string bom = "\xEF\xBB\xBF", eof = "\x1A";
    for (const std::string& windows : {bom + text, text + eof, text.substr(0, text.size() - 1) + eof}) {
      SCOPED_TRACE(std::to_string(format) + ": " + windows.substr(0, 4) + " .. " + windows.substr(windows.size() - 4));
      auto state = FreshState(false);
      state->files.data.SetText(windows);
      if (format == 0) {
        ParameterMarks marks{};
        const ParameterFileResult result = ReadParameterFile(state->files.data, state->params, marks);
        EXPECT_FALSE(result.error.has_value());
        EXPECT_EQ(result.echo.front().substr(0, 4), " Sim");  // the mark is no part of the first line
        continue;
      }
      state->params.input_format = format;
      ASSERT_EQ(HeaderStatus(*state), kReadOk);
      std::size_t read = 0;
      while (testing::ReflectionStatus(*state, state->scan.seq_no + 1) == kReadOk) ++read;
      EXPECT_EQ(read, data.reflections.size());  // and no read error on the way
    }
  }
}

TEST(ClassificationSummary, LayoutOfTheThreeBlocks) {
  auto state = FreshState(false);
  state->data_set.input_class = {1, 22, 333, 4, 55, 6};
  for (int k = 1; k <= kOutcomeCounters; ++k) state->fit.outcome[k] = k * 10 - 3;
  state->fit.refitted_count = 12;
  state->fit.recovered_count = 3;
  const auto path = ScratchDir("classification_summary") / "run.log";
  ASSERT_TRUE(state->files.log.Open(path.string(), false));
  engine::Run(*state, {}).WriteSummary();
  state->files.log.Close();
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string expected =
      " \n"
      " \n"
      " REFLECTIONS AS CLASSIFIED IN INPUT FILE:\n"
      "  NUMBER OF LT REFLECTIONS:        1\n"
      "  NUMBER OF WEAK REFLECTIONS:     22\n"
      "  NUMBER OF NORMAL REFLECTIONS:  333\n"
      "  NUMBER OF STRONG REFLECTIONS:    4\n"
      "  NUMBER OF STANDARDS:            55\n"
      "  NUMBER FILTERED REFLECTIONS:     6\n"
      " \n"
      "  TOTAL NUMBER OF REFLECTIONS:   421\n"
      " \n"
      " \n"
      " REFLECTIONS AS CLASSIFIED BY INTEGRATION:\n"
      "        OK       E    C    D    B    I    P    W    R    F    S  \n"
      "         7      17   27   37   47   57   67   77   87   97  107\n"
      " \n"
      " \n"
      " \n"
      "        12 REFLECTIONS REFITTED,     3 RECOVERED\n";
  EXPECT_EQ(text.str(), expected);
  // The log holds exactly the summary's lines.
  std::string lines;
  for (const std::string& line : ClassificationSummary(state->data_set.input_class, state->fit)) lines += line + "\n";
  EXPECT_EQ(lines, expected);
}

// 100,000 and more do not fit the log's five columns ("*****" there); the
// terminal's summary widens every column and keeps the letters over them.
TEST(ClassificationSummary, CountsOfAHundredThousandWidenTheTerminalsColumns) {
  std::array<int, kInputClasses> input{0, 0, 123456, 0, 7, 0};
  FitState fit;
  fit.outcome[1] = 100000;
  fit.outcome[9] = 23463;
  const int width = SummaryWidth(input, fit);
  EXPECT_EQ(width, 7);
  EXPECT_EQ(SummaryWidth({1, 2, 3, 4, 5, 6}, FitState{}), 5);
  const auto wide = ClassificationSummary(input, fit, width);
  for (const std::string& line : wide) EXPECT_EQ(line.find('*'), std::string::npos) << line;
  EXPECT_EQ(wide[5], "  NUMBER OF NORMAL REFLECTIONS: 123456");
  EXPECT_EQ(wide[10], "  TOTAL NUMBER OF REFLECTIONS:  123463");
  // Each letter stands over the last digit of its count, OK over its last two.
  const std::string& heading = wide[14];
  const std::string& counts = wide[15];
  EXPECT_EQ(counts.substr(heading.find("OK"), 2), "00");
  EXPECT_EQ(counts.substr(heading.find('R') - 4, 5), "23463");
  EXPECT_EQ(heading.size(), counts.size() + 2);
  EXPECT_NE(ClassificationSummary(input, fit)[5].find("*****"), std::string::npos);
}

}  // namespace
}  // namespace kalvex
