// "Auto profile fit" from the menu to the intensity file and the log.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "common/fixed_fields.h"
#include "commands/auto_fit.h"
#include "commands/session.h"
#include "engine/run.h"
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

// The first reflection is read when the data file opens, before the
// parameter file gives the attenuator factor; it integrates as any other.
TEST(AutoFit, AFirstReflectionBehindTheAttenuatorIntegratesAsAnyOther) {
  simulate::GeneratorOptions options = Small(6);
  options.weak_fraction = 0;
  options.attenuated_fraction = 1;
  options.standards = 0;
  const auto files = MakeXcaliburSet(TestName(), options);
  ASSERT_EQ(files.set.reflections[0].cls, simulate::ReflectionClass::kFiltered);
  auto state = FreshState();
  OpenSimulated(*state, files);
  RunToTheEnd(*state);
  const auto lines = ReadLines(files.dir / "set.int");
  ASSERT_EQ(lines.size(), files.set.reflections.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Record r = ParseRfine(lines[i]);
    EXPECT_GT(r.sigma, 0) << i;
    EXPECT_NEAR(r.intensity, files.set.reflections[i].truth.intensity, 5 * r.sigma) << i;
  }
}

// The sequence numbers of the records, in file order.
std::vector<int> RecordSeqs(const std::filesystem::path& file) {
  std::vector<int> seqs;
  for (const auto& line : ReadLines(file)) seqs.push_back(ParseRfine(line).seq);
  return seqs;
}

int Total(const std::filesystem::path& log) {
  const auto lines = ReadLines(log);
  const auto at = std::find_if(lines.rbegin(), lines.rend(),
                               [](const std::string& l) { return l.starts_with("  TOTAL NUMBER OF REFLECTIONS:"); });
  return at == lines.rend() ? -1 : *fields::ReadInt(*at, 32, 5);
}

bool BoxShown(const std::string& text) {
  for (const auto& box : script::Boxes())
    if (box.message == text) return true;
  return false;
}

// Every way back into a run writes each reflection once, unless the user
// asks for a second copy: Stop then Go, automatic after manual, Accept after
// Previous, and an existing file appended to or replaced.
TEST(IntensityFile, EachReflectionIsWrittenOnce) {
  const auto files = MakeXcaliburSet(TestName(), Small(30));
  const int n = static_cast<int>(files.set.reflections.size());
  const auto seq = [&](int i) { return files.set.reflections[static_cast<std::size_t>(i)].seq; };
  auto state = FreshState();
  OpenSimulated(*state, files);

  // Go, four ticks, Stop, Go (the reflection in memory is written already),
  // two ticks, Exit.
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  script::QueueClick(kCodeStop, 4);
  script::QueueClick(kCodeGo);
  script::QueueClick(kCodeExit, 2);
  DispatchCommand(*state, kCodeAutoFit);
  EXPECT_EQ(RecordSeqs(files.dir / "set.int"), (std::vector<int>{seq(0), seq(1), seq(2), seq(3), seq(4), seq(5), seq(6)}));

  // Manual: Previous, Accept asks, No keeps the file as it is; Accept again,
  // Yes writes the second copy asked for; then the reflection after it.
  script::QueueClick(kCodePrevious);
  script::QueueClick(kCodeAccept);
  script::QueueAnswer(1);
  script::QueueClick(kCodeAccept);
  script::QueueAnswer(0);
  script::QueueClick(kCodeExit);
  script::ClearBoxes();
  DispatchCommand(*state, kCodeManualFit);
  EXPECT_TRUE(BoxShown("Reflection " + std::to_string(seq(5)) + " is already in set.int. Write it again?"));
  EXPECT_EQ(RecordSeqs(files.dir / "set.int").size(), 8u);
  EXPECT_EQ(state->scan.seq_no, seq(6));

  // Automatic after manual goes on from the reflection in memory (written)
  // to the end; every reflection of the pass counts once.
  script::ClearBoxes();
  RunToTheEnd(*state);
  const auto seqs = RecordSeqs(files.dir / "set.int");
  EXPECT_EQ(seqs.size(), static_cast<std::size_t>(n) + 1);
  EXPECT_EQ(std::set<int>(seqs.begin(), seqs.end()).size(), static_cast<std::size_t>(n));
  EXPECT_EQ(Total(files.dir / "set.log"), n - 6);
  EXPECT_TRUE(BoxShown("End of input data file"));

  // A fresh session that starts in the middle names what it left out, and
  // a whole pass counts every reflection (none before the first). This
  // session's log is closed first: a log is written by one run at a time.
  state->files.log.Close();
  {
    auto again = FreshState();
    script::QueueBrowse(files.data, files.dir.string());
    script::QueueClick(470);
    OpenDataFile(*again);
    script::QueueBrowse(files.parameters, files.dir.string());
    OpenParameterFile(*again);
    script::QueueBrowse("part.int", files.dir.string());
    OpenOutputFile(*again);
    script::QueueNumber(again->widgets.main[kWSeqEntry], static_cast<float>(seq(4)));
    script::QueueClick(kCodeSeqGo);
    script::QueueClick(kCodeExit);
    DispatchCommand(*again, kCodeManualFit);
    script::ClearBoxes();
    RunToTheEnd(*again);
    EXPECT_EQ(RecordSeqs(files.dir / "part.int").size(), static_cast<std::size_t>(n - 4));
    const std::string note = "Reflections " + std::to_string(seq(0)) + "-" + std::to_string(seq(3)) +
                             " are not in part.int";
    EXPECT_TRUE(BoxShown("End of input data file\n" + note));
    const auto log = ReadLines(files.dir / "set.log");
    EXPECT_NE(std::find(log.begin(), log.end(), " " + note), log.end());
  }
  {
    auto whole = FreshState();
    OpenSimulated(*whole, files, "whole.int");
    RunToTheEnd(*whole);
    EXPECT_EQ(RecordSeqs(files.dir / "whole.int").size(), static_cast<std::size_t>(n));
    EXPECT_EQ(Total(files.dir / "set.log"), n);
  }

  ASSERT_TRUE(state->files.log.Open((files.dir / "set.log").string(), true, textfile::Lock::kExclusive));

  // An existing file: Cancel leaves it closed and as it was, Append adds,
  // Replace empties it only once chosen.
  const auto reopen = [&](int answer) {
    script::QueueBrowse("whole.int", files.dir.string());
    script::QueueAnswer(answer);
    OpenOutputFile(*state);
  };
  script::ClearBoxes();
  reopen(2);
  EXPECT_TRUE(BoxShown("whole.int exists: Append / Replace / Cancel"));
  EXPECT_FALSE(state->files.output_open);
  EXPECT_EQ(ReadLines(files.dir / "whole.int").size(), static_cast<std::size_t>(n));
  reopen(0);
  ASSERT_TRUE(state->files.output_open);
  ASSERT_TRUE(engine::Run(*state, WindowEvents(*state)).Write());
  EXPECT_EQ(ReadLines(files.dir / "whole.int").size(), static_cast<std::size_t>(n) + 1);
  reopen(1);
  EXPECT_TRUE(state->files.output_open);
  EXPECT_TRUE(ReadLines(files.dir / "whole.int").empty());
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
  engine::Run(*state, WindowEvents(*state)).Write();
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
                           "  NOT READ IN FULL: NOT FITTED, NOT WRITTEN (cut.p4t ends at line " +
                           std::to_string(ReadLines(dir / "cut.p4t").size()) + ")";
  EXPECT_NE(std::find(log.begin(), log.end(), note), log.end());
  // The box says the same, and the end of the run names it again; the
  // window shows no intensity for the scan that was never fitted.
  EXPECT_TRUE(BoxShown(note.substr(1)));
  EXPECT_EQ(state->fit.i_fit, 0.0f);
  EXPECT_EQ(state->fit.sigma_fit, 0.0f);
}

}  // namespace
}  // namespace kalvex
