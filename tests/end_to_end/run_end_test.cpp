// A pass's progress in the status bar and the dialog at its end, on the
// headless toolkit: the count made when the file opens, the line followed
// to the end (weak reflections skipped or not), and the dialog's summary
// and unwritten reflections as the log has them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "commands/data_file.h"
#include "commands/files.h"
#include "common/fixed_fields.h"
#include "commands/preprocessing.h"
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

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

TEST(PassProgress, CountsTheFileWhenItOpensAndFollowsEachPassToItsEnd) {
  const auto files = MakeXcaliburSet(TestName(), Small(120));
  const int total = static_cast<int>(files.set.reflections.size());
  const std::string of_total = " of " + std::to_string(total) + " reflections";

  for (const bool skip_weak : {false, true}) {
    SCOPED_TRACE(skip_weak ? "weak reflections skipped" : "every reflection");
    auto state = FreshState();
    std::vector<std::string> shown;
    script::SetStatusObserver([&](const std::string& text) { shown.push_back(text); });
    OpenSimulated(*state, files);
    // The count leaves the file where it was: the first reflection in memory.
    EXPECT_EQ(state->files.reflection_count, total);
    EXPECT_EQ(state->scan.seq_no, files.set.reflections.front().seq);
    EXPECT_EQ(ReflectionsPassed(*state), 1);

    script::QueueClick(kCodePeakQuit);
    if (skip_weak) script::QueueToggle(state->widgets.fit_skip_weak, 1);
    script::QueueClick(kCodeGo);
    script::QueueClick(kCodeStop, 30);
    script::QueueCall([&] { EXPECT_EQ(shown.back(), std::to_string(ReflectionsPassed(*state)) + of_total); });
    script::QueueClick(kCodeGo);
    ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.front(), "1" + of_total);
    // Skipped weak reflections are passed all the same: the end is the count.
    EXPECT_TRUE(StartsWith(shown.back(), std::to_string(total) + of_total)) << shown.back();
    for (std::size_t i = 1; i < shown.size(); ++i)
      EXPECT_LE(std::stoi(shown[i - 1]), std::stoi(shown[i])) << shown[i - 1] << " then " << shown[i];
  }

  // Preprocessing starts again from the first reflection.
  auto state = FreshState();
  std::vector<std::string> shown;
  OpenSimulated(*state, files);
  script::SetStatusObserver([&](const std::string& text) { shown.push_back(text); });
  script::QueueClick(kCodePreprocessGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodePreprocess));
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown.front(), "0" + of_total);
  EXPECT_TRUE(StartsWith(shown.back(), std::to_string(total) + of_total)) << shown.back();
}

TEST(PassProgress, AFileDamagedFurtherOnIsNotCountedAndShowsNoProgress) {
  const auto files = MakeXcaliburSet(TestName(), Small(30));
  {
    // A line of counts made unreadable near the end of the file.
    auto lines = ReadLines(files.dir / files.data);
    lines[lines.size() - 3] = "S      12x45";
    std::ofstream out(files.dir / files.data);
    for (const auto& line : lines) out << line << "\n";
  }
  auto state = FreshState();
  std::vector<std::string> shown;
  script::SetStatusObserver([&](const std::string& text) { shown.push_back(text); });
  OpenSimulated(*state, files);
  ASSERT_TRUE(state->files.data_open);
  EXPECT_EQ(state->files.reflection_count, -1);
  EXPECT_EQ(ReflectionsPassed(*state), -1);
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));
  EXPECT_TRUE(shown.empty()) << shown.front();
}

TEST(RunEnd, TheDialogHoldsTheLogsSummaryAndTheReflectionsNotWritten) {
  const auto files = MakeXcaliburSet(TestName(), Small(40));
  const auto& refl = files.set.reflections;
  auto state = FreshState();
  const Widgets& w = state->widgets;
  OpenSimulated(*state, files);
  // The run begins at the fourth reflection: the first three are not written.
  script::QueueNumber(w.main[kWSeqEntry], static_cast<float>(refl[3].seq));
  script::QueueClick(kCodeSeqGo);
  script::QueueClick(kCodeExit);
  DispatchCommand(*state, kCodeManualFit);
  EXPECT_FALSE(script::Shown(w.run_end_dialog));
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));

  ASSERT_TRUE(script::Shown(w.run_end_dialog));
  const std::string text = script::Text(w.run_end_text);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
  }
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Auto profile fit of set.dca: end of input data file");
  const std::string note = "Reflections " + std::to_string(refl[0].seq) + "-" + std::to_string(refl[2].seq) +
                           " are not in set.int";
  EXPECT_EQ(lines[2], note);
  // The log's summary, line for line and column for column, without the
  // control character (blank lines apart).
  const auto log = ReadLines(files.dir / "set.log");
  const auto first = std::find(log.begin(), log.end(), " REFLECTIONS AS CLASSIFIED IN INPUT FILE:");
  const auto last = std::find_if(first, log.end(), [](const std::string& l) { return l.find("RECOVERED") != l.npos; });
  ASSERT_NE(last, log.end());
  std::vector<std::string> summary;
  for (auto it = first; it <= last; ++it)
    if (!fields::TrimRight(*it).empty()) summary.push_back(std::string(fields::TrimRight(it->substr(1))));
  std::vector<std::string> shown;
  for (const auto& line : lines)
    if (!line.empty()) shown.push_back(line);
  ASSERT_GE(shown.size(), summary.size() + 2);
  EXPECT_EQ(std::vector<std::string>(shown.end() - static_cast<long>(summary.size()), shown.end()), summary);
  EXPECT_NE(text.find("NUMBER OF STANDARDS:"), std::string::npos);

  // "Report..." says there is no report; the dialog stays until "Close".
  script::ClearBoxes();
  EXPECT_TRUE(DispatchCommand(*state, kCodeRunEndReport));
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].message, "No report is available for this run");
  EXPECT_TRUE(script::Shown(w.run_end_dialog));
  EXPECT_TRUE(DispatchCommand(*state, kCodeRunEndClose));
  EXPECT_FALSE(script::Shown(w.run_end_dialog));

  // A whole pass into a new file: every reflection written.
  script::QueueBrowse("whole.int", files.dir.string());
  OpenOutputFile(*state);
  script::QueueNumber(w.main[kWSeqEntry], static_cast<float>(refl[0].seq));
  script::QueueClick(kCodeSeqGo);
  script::QueueClick(kCodeExit);
  DispatchCommand(*state, kCodeManualFit);
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));
  EXPECT_NE(script::Text(w.run_end_text).find("\nEvery reflection of set.dca is in whole.int\n"), std::string::npos);
}

}  // namespace
}  // namespace kalvex
