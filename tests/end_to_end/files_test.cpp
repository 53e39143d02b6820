// Opening data, parameter and output files as the File menu does.
#include <gtest/gtest.h>

#include "common/fixed_fields.h"
#include "shell/command_loop.h"
#include "commands/files.h"
#include "engine/run.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::MakeXcaliburSet;
using testing::OpenSimulated;
using testing::ReadLines;
using testing::TestName;

simulate::GeneratorOptions Tiny() {
  simulate::GeneratorOptions o;
  o.reflections = 5;
  o.standards = 1;
  return o;
}

TEST(OpenFiles, DataFileStartsTheLogAndShowsTheFirstReflection) {
  const auto files = MakeXcaliburSet(TestName(), Tiny());
  auto state = FreshState();
  OpenSimulated(*state, files, "");
  EXPECT_TRUE(state->files.data_open);
  EXPECT_EQ(state->files.data_file_name, "set.dca");
  EXPECT_EQ(state->files.browse_dir, files.dir.string());
  EXPECT_EQ(state->params.input_format, kFormatXcalibur);
  EXPECT_EQ(state->scan.seq_no, files.set.reflections[0].seq);
  EXPECT_EQ(state->scan.hkl, files.set.reflections[0].hkl);
  EXPECT_EQ(script::Text(state->widgets.data_file_field), "set.dca");
  // This format has no title: the field shows the blanked one.
  EXPECT_EQ(script::Text(state->widgets.title_field), fields::TrimRight(state->data_set.title));
  EXPECT_EQ(state->preprocessed, 0);
  EXPECT_EQ(script::Status(state->widgets.menu_calc_ub), tk::kGreyed);

  const auto log = ReadLines(files.dir / "set.log");
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[0], " ");
  EXPECT_EQ(log[1], " ");
  const std::string banner = "   LOG FILE CREATED BY WIN-KALVEX V3.3 ON ";
  ASSERT_EQ(log[2].rfind(banner, 0), 0u);
  const std::string stamp = log[2].substr(banner.size());
  ASSERT_EQ(stamp.size(), 24u);
  EXPECT_EQ(stamp[3], ' ');
  EXPECT_EQ(stamp[7], ' ');
  EXPECT_EQ(stamp.substr(13, 1) + stamp.substr(16, 1), "::");
  EXPECT_EQ(log[3], " ");
  EXPECT_EQ(log[4], "   INPUT DATA FILE WAS: set.dca     ");
  EXPECT_EQ(log[5], " ");
  EXPECT_EQ(log[6], " ");

  // A second browse proposes the open file in the remembered directory.
  script::QueueBrowse("", "");
  OpenDataFile(*state);
  ASSERT_EQ(script::Browses().size(), 3u);
  EXPECT_EQ(script::Browses()[2].proposed_name, "set.dca");
  EXPECT_EQ(script::Browses()[2].start_directory, files.dir.string());
  EXPECT_FALSE(state->files.data_open);  // cancelled: the old file is closed
}

TEST(OpenFiles, LogNameAndOutputNameRules) {
  EXPECT_EQ(engine::LogFileName("ab12.dca"), "ab12.log");
  EXPECT_EQ(engine::LogFileName("run.2.dat"), "run.log");
  EXPECT_EQ(engine::LogFileName("noextension"), "log");
  EXPECT_EQ(engine::LogFileName("a-data-file-with-a-long-name.dca"), "a-data-file-with-a-long-name.log");
  EXPECT_EQ(engine::OutputFileName("run5"), "run5.INT");
  EXPECT_EQ(engine::OutputFileName("run5.hkl"), "run5.hkl");
  EXPECT_EQ(engine::OutputFileName("a-long-output-name"), "a-long-output-name.INT");
}

TEST(OpenFiles, ExtensionPreselectsTheFormatAndSingleNeedsAClick) {
  auto state = FreshState();
  const auto& w = state->widgets;
  const std::pair<const char*, int> cases[] = {
      {"x.p4t", kFormatXscans}, {"x.DAT", kFormatCad4}, {"x.dat", kFormatCad4}, {"x.xyz", kFormatCad4},
      {"x.dca", kFormatXcalibur}, {"xyz", kFormatXcalibur}};
  for (const auto& [name, format] : cases) {
    state->files.data_file_name = name;
    script::QueueClick(kCodeFormatOk);
    ChooseInputFormat(*state);
    EXPECT_EQ(state->params.input_format, format) << name;
  }
  state->files.data_file_name = "x.dat";
  script::QueueClick(kCodeOpenData);  // discarded while the dialog waits
  script::QueueToggle(w.format_single, 1);
  script::QueueClick(kCodeFormatOk);
  ChooseInputFormat(*state);
  EXPECT_EQ(state->params.input_format, kFormatSingle);
  EXPECT_FALSE(script::Shown(w.format_dialog));
}

TEST(OpenFiles, OutputFileIsAppendedAndItsNameShown) {
  const auto files = MakeXcaliburSet(TestName(), Tiny());
  std::ofstream(files.dir / "run5.INT") << "earlier line\n";
  auto state = FreshState();
  OpenSimulated(*state, files, "");
  script::QueueBrowse("run5", files.dir.string());
  script::QueueAnswer(0);  // "run5.INT exists": Append
  OpenOutputFile(*state);
  EXPECT_TRUE(state->files.output_open);
  EXPECT_EQ(state->files.output_file_name, "run5.INT");
  EXPECT_EQ(script::Text(state->widgets.output_file_field), "run5.INT");
  EXPECT_EQ(script::Status(state->widgets.output_label), tk::kActive);
  EXPECT_EQ(script::Status(state->widgets.output_file_field), tk::kActive);
  state->files.output.Line("new line");
  state->files.output.Flush();
  EXPECT_EQ(ReadLines(files.dir / "run5.INT"), (std::vector<std::string>{"earlier line", "new line"}));
  const auto log = ReadLines(files.dir / "set.log");
  EXPECT_NE(std::find(log.begin(), log.end(), "  INTEGRATED DATA FILE OPENED: run5.INT    "), log.end());

  // Cancelling a new browse leaves no output file open.
  script::QueueBrowse("", "");
  OpenOutputFile(*state);
  EXPECT_FALSE(state->files.output_open);
  EXPECT_EQ(script::Status(state->widgets.output_label), tk::kHidden);
  EXPECT_EQ(script::Status(state->widgets.output_file_field), tk::kHidden);
  EXPECT_EQ(script::Browses().back().proposed_name, "run5.INT");
  EXPECT_EQ(script::Browses().back().filter, "*.int|(Int)|*.*|(All)");
}

TEST(OpenFiles, ADataFileThatDoesNotOpenBringsTheBrowserBack) {
  const auto files = MakeXcaliburSet(TestName(), Tiny());
  auto state = FreshState();
  script::QueueBrowse("missing.dca", files.dir.string());
  script::QueueBrowse(files.data, files.dir.string());
  script::QueueClick(kCodeFormatOk);
  OpenDataFile(*state);
  ASSERT_FALSE(script::Boxes().empty());
  EXPECT_EQ(script::Boxes()[0].title, "WinKalvex");
  EXPECT_EQ(script::Boxes()[0].message, "Error opening file: Try again");
  ASSERT_EQ(script::Browses().size(), 2u);
  EXPECT_EQ(script::Browses()[1].proposed_name, "");
  EXPECT_TRUE(state->files.data_open);
}

}  // namespace
}  // namespace kalvex
