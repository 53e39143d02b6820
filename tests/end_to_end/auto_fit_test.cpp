// "Auto profile fit" from the menu to the intensity file and the log.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "common/fixed_fields.h"
#include "commands/auto_fit.h"
#include "commands/fitting.h"
#include "fit/intensity_file.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::MakeXcaliburSet;
using testing::OpenSimulated;
using testing::ReadLines;
using testing::TestName;

simulate::GeneratorOptions Small(int reflections) {
  simulate::GeneratorOptions o;
  o.reflections = reflections;
  o.standards_every = 20;
  return o;
}

struct Record {
  std::array<int, 3> hkl{};
  double intensity = 0, sigma = 0;
  int seq = 0;
  std::string code;
};

// "Rfine": hkl 1-9, angles 10-41, intensity 43-53, sigma 55-61,
// 10*seq+standard 62-68, output code 71-76, 77-79 the value 0.
Record ParseRfine(const std::string& line) {
  Record r;
  for (int i = 0; i < 3; ++i) r.hkl[i] = *fields::ReadInt(line, 1 + 3 * i, 3);
  r.intensity = *fields::ReadReal(line, 43, 11, 0);
  r.sigma = *fields::ReadReal(line, 55, 7, 0);
  r.seq = static_cast<int>(*fields::ReadReal(line, 62, 7, 0)) / 10;
  r.code = line.substr(70, 6);
  return r;
}

// Runs "Auto profile fit" with "Go" pressed at once and lets the timer run
// to the end of the data.
void RunToTheEnd(ProgramState& state) {
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(state, kCodeAutoFit));
}

TEST(AutoFit, IntegratesTheWholeFileAndRecoversTheTrueIntensities) {
  const auto files = MakeXcaliburSet(TestName(), Small(150));
  auto state = FreshState();
  OpenSimulated(*state, files);
  RunToTheEnd(*state);

  const auto lines = ReadLines(files.dir / "set.int");
  ASSERT_EQ(lines.size(), files.set.reflections.size());
  int strong = 0, within = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Record r = ParseRfine(lines[i]);
    const auto& truth = files.set.reflections[i];
    ASSERT_EQ(r.seq, truth.seq);
    ASSERT_EQ(r.hkl, truth.hkl);
    EXPECT_EQ(lines[i].size(), 79u);
    if (r.code[1] == 'F' && r.intensity > 20 * r.sigma) {
      ++strong;
      if (std::fabs(r.intensity - truth.truth.intensity) < 4 * r.sigma) ++within;
    }
  }
  // Counting statistics: nearly all strong reflections within 4 sigma.
  ASSERT_GT(strong, 30);
  EXPECT_GE(within, strong * 95 / 100) << within << " of " << strong;

  // The run ends with the timer off, the main window back and the summary.
  EXPECT_EQ(script::TimerCode(), 0);
  EXPECT_EQ(script::Status(state->widgets.main[kWGo]), tk::kHidden);
  EXPECT_FALSE(script::Shown(state->widgets.fit_dialog));
  for (int h : state->widgets.menu_titles) EXPECT_EQ(script::Status(h), tk::kActive);
  int end_boxes = 0;
  for (const auto& box : script::Boxes()) end_boxes += box.message == "End of input data file";
  EXPECT_EQ(end_boxes, 1);

  const auto log = ReadLines(files.dir / "set.log");
  const auto at = std::find(log.begin(), log.end(), " REFLECTIONS AS CLASSIFIED BY INTEGRATION:");
  ASSERT_NE(at, log.end());
  int fitted = 0;
  for (const auto& line : lines) fitted += ParseRfine(line).code[1] == 'F';
  EXPECT_EQ(*fields::ReadInt(*(at + 2), 6, 5), fitted);
  EXPECT_EQ(log.back(), "         0 REFLECTIONS REFITTED,     0 RECOVERED");
}

TEST(AutoFit, StopThenGoFitsAndWritesTheReflectionInMemoryAgain) {
  const auto files = MakeXcaliburSet(TestName(), Small(30));
  auto state = FreshState();
  OpenSimulated(*state, files);
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  script::QueueClick(kCodeStop, 4);  // after four ticks
  script::QueueCall([&] {
    EXPECT_EQ(script::TimerCode(), 0);
    EXPECT_EQ(script::Status(state->widgets.main[kWGo]), tk::kActive);
    EXPECT_EQ(script::Status(state->widgets.main[kWStop]), tk::kGreyed);
  });
  script::QueueClick(kCodeGo);
  script::QueueClick(kCodeExit, 2);
  DispatchCommand(*state, kCodeAutoFit);

  const auto lines = ReadLines(files.dir / "set.int");
  // Go, four ticks, Go (the fifth reflection again), two ticks.
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[4], lines[5]);
  EXPECT_EQ(ParseRfine(lines[7]).seq, files.set.reflections[6].seq);
  // Exit: no summary, no timer left running.
  EXPECT_EQ(script::TimerCode(), 0);
  const auto log = ReadLines(files.dir / "set.log");
  EXPECT_EQ(std::find(log.begin(), log.end(), " REFLECTIONS AS CLASSIFIED BY INTEGRATION:"), log.end());
}

TEST(AutoFit, WritesEveryOutputFormat) {
  const auto files = MakeXcaliburSet(TestName(), Small(20));
  const std::pair<int, const char*> formats[] = {{kOutputRfineExtended, "ext.int"}, {kOutputShelx, "shelx.hkl"}};
  for (const auto& [format, name] : formats) {
    auto state = FreshState();
    OpenSimulated(*state, files, name);
    state->params.output_format = format;
    RunToTheEnd(*state);
    const auto lines = ReadLines(files.dir / name);
    const std::size_t n = files.set.reflections.size();
    if (format == kOutputRfineExtended) {
      ASSERT_EQ(lines.size(), 4 * n);
      EXPECT_EQ(lines[1].rfind("FACTORS   ", 0), 0u);
      EXPECT_EQ(lines[2].rfind("PARAMETERS", 0), 0u);
      EXPECT_EQ(lines[3].rfind("SIGMAS    ", 0), 0u);
      EXPECT_EQ(lines[0].substr(76), "  3");
    } else {
      ASSERT_EQ(lines.size(), n);
      for (const auto& l : lines) {
        EXPECT_EQ(l.size(), 42u);
        EXPECT_EQ(l.substr(28, 4), "   1");
      }
    }
  }
}

TEST(AutoFit, WithoutAnOutputFileNothingIsWritten) {
  const auto files = MakeXcaliburSet(TestName(), Small(10));
  auto state = FreshState();
  OpenSimulated(*state, files, "");
  RunToTheEnd(*state);
  EXPECT_FALSE(std::filesystem::exists(files.dir / "set.int"));
  EXPECT_GT(state->fit.outcome[1], 0);
}

TEST(AutoFit, NoRetryWithoutARefinedOrientation) {
  const auto files = MakeXcaliburSet(TestName(), Small(20));
  auto state = FreshState();
  OpenSimulated(*state, files);
  RunToTheEnd(*state);
  // Without a refined orientation nothing is retried.
  EXPECT_EQ(state->fit.refitted_count, 0);
  for (const auto& line : ReadLines(files.dir / "set.int")) EXPECT_EQ(line[73], '1');
}

TEST(AutoFit, ValuesTooLargeForTheFileAreNamedInTheLog) {
  auto state = FreshState();
  const auto dir = testing::ScratchDir(TestName());
  state->files.log.Open((dir / "r.log").string(), false);
  state->files.output.Open((dir / "r.int").string(), true);
  state->files.output_open = true;
  state->scan.seq_no = 42;
  state->scan.hkl = {1, -2, 3};
  state->fit.i_fit = 2.0e9f;
  state->fit.sigma_fit = 10.0f;
  WriteIntegrated(*state);
  state->files.log.Close();
  state->files.output.Close();
  EXPECT_TRUE(ReadLines(dir / "r.int").empty());
  const auto log = ReadLines(dir / "r.log");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind(" REFLECTION     42  HKL   1  -2   3  NOT WRITTEN: I =", 0), 0u) << log[0];
}

TEST(AutoFit, AReflectionCutShortIsNamedAndNeitherFittedNorWritten) {
  const auto dir = testing::ScratchDir(TestName());
  const auto set = simulate::Generate({{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}}, {}, {}, {}, Small(8));
  std::string error;
  ASSERT_TRUE(simulate::WriteXscans(set, dir / "cut.p4t", error)) << error;
  ASSERT_TRUE(simulate::WriteParameterFile(set, dir / "cut.par", error)) << error;
  // The file ends in the middle of the last reflection's counts.
  auto lines = ReadLines(dir / "cut.p4t");
  lines.pop_back();
  {
    std::ofstream out(dir / "cut.p4t");
    for (const auto& l : lines) out << l << "\n";
  }
  auto state = FreshState();
  script::QueueBrowse("cut.p4t", dir.string());
  script::QueueClick(kCodeFormatOk);
  OpenDataFile(*state);
  ASSERT_EQ(state->params.input_format, kFormatXscans);
  script::QueueBrowse("cut.par", dir.string());
  OpenParameterFile(*state);
  script::QueueBrowse("cut.int", dir.string());
  OpenOutputFile(*state);
  RunToTheEnd(*state);

  const auto& last = set.reflections.back();
  EXPECT_EQ(ReadLines(dir / "cut.int").size(), set.reflections.size() - 1);
  const auto log = ReadLines(dir / "cut.log");
  const std::string note = " REFLECTION " + fields::FormatInt(last.seq, 6) + "  HKL" + fields::FormatInt(last.hkl[0], 4) +
                           fields::FormatInt(last.hkl[1], 4) + fields::FormatInt(last.hkl[2], 4) +
                           "  NOT READ IN FULL: NOT FITTED, NOT WRITTEN";
  EXPECT_NE(std::find(log.begin(), log.end(), note), log.end());
}

}  // namespace
}  // namespace kalvex
