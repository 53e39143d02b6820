// The command a window's run writes to its log: run by a shell in a fresh
// copy of the data, it writes the same intensity file and log, byte for
// byte; the clipboard gets the same line; and what no option can say is
// named below it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/fixed_fields.h"
#include "engine/batch_command.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"
#include "ui/user_interface.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;

// The lines the log gives after its heading of the equivalent command.
std::vector<std::string> CommandLines(const fs::path& log) {
  const auto lines = testing::ReadLines(log);
  std::vector<std::string> after;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].starts_with(" THE SAME RUN FROM THE COMMAND LINE")) continue;
    for (std::size_t j = i + 1; j < lines.size() && !fields::TrimRight(lines[j]).empty(); ++j)
      after.push_back(lines[j].substr(1));
  }
  return after;
}

// A Single file (its format and omega step must be named) whose name needs
// quoting, integrated in the window with a choice in every dialog the
// command has an option for.
TEST(BatchCommand, TheLineOfAWindowRunWritesTheSameFilesByteForByte) {
  simulate::GeneratorOptions options;
  options.reflections = 70;
  options.mean_intensity = 150;
  options.attenuated_fraction = 0;
  simulate::ScanSettings scan;
  scan.width_b = 0;
  const simulate::DataSet set = simulate::Generate({{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}}, {}, scan, {}, options);
  const fs::path window = testing::ScratchDir("batch_command_window");
  const fs::path shell = testing::ScratchDir("batch_command_shell");
  const std::string data = "scan one.dat";
  for (const fs::path& dir : {window, shell}) {
    std::string error;
    ASSERT_TRUE(simulate::WriteSingle(set, dir / data, error)) << error;
    ASSERT_TRUE(simulate::WriteParameterFile(set, dir / "set.par", error)) << error;
  }

  script::Reset();
  tk::ResetRegistry();
  auto state = NewProgramState();
  ASSERT_TRUE(BuildUserInterface(*state));
  state->params.output_format = kOutputRfine;
  state->tick_budget_ms = 0;
  const Widgets& w = state->widgets;
  script::QueueBrowse(data, window.string());
  script::QueueToggle(w.format_single, 1);
  script::QueueClick(kCodeFormatOk);
  script::QueueClick(kCodeOmegaOk);
  OpenDataFile(*state);
  script::QueueBrowse("set.par", window.string());
  OpenParameterFile(*state);
  script::QueueBrowse("out.int", window.string());
  OpenOutputFile(*state);
  script::QueueToggle(w.out_rfine_extended, 1);
  script::QueueClick(kCodeOutputSave);
  ASSERT_TRUE(DispatchCommand(*state, kCodeOutputFormat));
  script::QueueClick(kCodeBgFromScan);
  script::QueueNumber(w.bg_nstep, 4.0f);
  script::QueueClick(kCodeBgSave);
  ASSERT_TRUE(DispatchCommand(*state, kCodeBackgrounds));
  script::QueueNumber(w.preprocess_threshold, 12.0f);
  script::QueueClick(kCodePreprocessGo);
  script::QueueClick(kCodeOmegaOk);
  ASSERT_TRUE(DispatchCommand(*state, kCodePreprocess));
  script::QueueClick(kCodeFwhmSave);
  ASSERT_TRUE(DispatchCommand(*state, kCodeCalcFwhm));
  script::QueueToggle(w.refine_omega_zero, 1);
  script::QueueClick(kCodeRefineGo);
  script::QueueClick(kCodeResultsOk);
  ASSERT_TRUE(DispatchCommand(*state, kCodeCalcUB));
  script::QueueNumber(w.main[kWSeqEntry], 1.0f);
  script::QueueClick(kCodeSeqGo);
  script::QueueClick(kCodeExit);
  ASSERT_TRUE(DispatchCommand(*state, kCodeManualFit));
  script::QueueClick(kCodePeakQuit);
  script::QueueToggle(w.fit_rows[kPosition].default_toggle, 1);
  script::QueueToggle(w.fit_rows[kEta].default_toggle, 1);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));
  ASSERT_TRUE(DispatchCommand(*state, kCodeCopyCommand));
  state->files.output.Close();
  state->files.log.Close();

  const std::vector<std::string> logged = CommandLines(window / "scan one.log");
  ASSERT_EQ(logged.size(), 1u) << "nothing should be left unrepeated";
  const std::string& line = logged[0];
  EXPECT_EQ(script::Clipboard(), line);
  // Every choice above has its option (or the outputs below would differ);
  // the name with a blank is quoted for the shell that runs the line.
  EXPECT_TRUE(line.starts_with("kalvex integrate 'scan one.dat' --par set.par --out out.int")) << line;
  const std::string command = "cd '" + shell.string() + "' && " + KALVEX_COMMAND + line.substr(6) + " --quiet > stdout";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string records = testing::ContentsWithoutLogTime(shell / "out.int");
  EXPECT_GT(std::count(records.begin(), records.end(), '\n'), 200);  // four lines a record
  EXPECT_EQ(testing::ContentsWithoutLogTime(window / "out.int"), records);
  EXPECT_EQ(testing::ContentsWithoutLogTime(window / "scan one.log"), testing::ContentsWithoutLogTime(shell / "scan one.log"));
}

// What the command cannot repeat is said under it; files elsewhere are
// named from the data file's directory, a quote in a name quoted.
TEST(BatchCommand, WhatNoOptionSaysIsNamedUnderTheLine) {
  simulate::GeneratorOptions options;
  options.reflections = 30;
  auto state = testing::FreshState();
  const auto files = testing::MakeXcaliburSet(testing::TestName(), options);
  testing::OpenSimulated(*state, files, "");
  script::QueueClick(kCodePeakQuit);
  script::QueueToggle(state->widgets.fit_rows[kRwp].limits_toggle, 1);
  script::QueueNumber(state->widgets.fit_rows[kRwp].high, 0.173f);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));
  EXPECT_EQ(CommandLines(files.dir / "set.log"),
            (std::vector<std::string>{"kalvex integrate set.dca --par set.par",
                                      "NOT REPEATED BY IT: no intensity file was open (the command writes one)",
                                      "                    limits changed in Fitting Controls"}));
  engine::IntegrateRequest r;
  r.data = "/x/d/it's.dca";
  r.parameters = "/x/p/set.par";
  EXPECT_EQ(engine::CommandLine(r, "/x/d"), "kalvex integrate 'it'\\''s.dca' --par ../p/set.par");
}

}  // namespace
}  // namespace kalvex
