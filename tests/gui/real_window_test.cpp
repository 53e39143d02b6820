// The whole program in its real Qt window, driven as a user drives it: the
// bundled example opened through the browsers, manual and automatic profile
// fitting, preprocessing and Calc UB, the files they write, and screenshots.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/fixed_fields.h"
#include "shell/command_loop.h"
#include "state/program_state.h"
#include "ui/codes.h"
#include "ui/user_interface.h"
#include "toolkit/pvgui.h"
#include "toolkit/qt/pvgui_qt_testing.h"
#include "toolkit/toolkit.h"

#include "tests/gui/real_window.h"

namespace kalvex {
namespace {

using namespace realwin;

// The session of a crystallographer with the bundled example, from start-up
// to the refined cell, each action a click, key or menu choice on the real
// widgets while the program waits in its own loop.
TEST(RealWindowSession, ExampleFromStartUpToTheRefinedCell) {
  FreshToolkit();
  const fs::path dir = ScratchCopyOfExample("real-window-session");
  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  // One reflection a tick up to Stop, so that Stop comes in the run on a
  // machine of any speed; the rest of the file runs at the window's pace.
  const int window_budget = state->tick_budget_ms;
  state->tick_budget_ms = 0;
  const Widgets& w = state->widgets;
  User user;

  // Start-up: the data file, its format, the parameter file.
  pvgui_qt::AnswerNextBrowse("example.dca", dir.string());
  pvgui_qt::AnswerNextBrowse("example.par", dir.string());
  user.When("the format dialog", [&] { return Shown(w.format_dialog); }, [&] {
    EXPECT_TRUE(qobject_cast<QRadioButton*>(W(w.format_xcalibur))->isChecked());  // from ".dca"
    Click(w.format_ok);
  });
  StartUp(*state);
  EXPECT_EQ(fs::current_path(), fs::canonical(dir));
  EXPECT_EQ(Field(w.data_file_field)->text(), "example.dca");
  EXPECT_EQ(state->scan.seq_no, 1);
  EXPECT_FLOAT_EQ(state->params.lambda2, 0.71359f);
  EXPECT_FALSE(pvgui_qt::ActionOf(w.menu_calc_ub)->isEnabled());
  Screenshot(W(w.main_window), "window_start.png");

  OpenOutputWhenIdle(w, user, dir, "example.int");

  // Manual fitting: 1 -> 2 -> 3 -> 2, Accept (2), hkl 3 1 7 (seq 42), Refit,
  // Accept (42), Reject (43), Exit at 44.
  user.When("Integrate > Manual profile fit", [&] { return Idle(w) && Shown(w.output_label); }, [&] {
    EXPECT_EQ(Field(w.output_file_field)->text(), "example.int");
    Choose(w, w.menu_manual_fit);
  });
  user.When("Next", [&] { return Shown(w.fit_dialog); }, [&] {
    EXPECT_EQ(state->scan.seq_no, 1);
    EXPECT_TRUE(Usable(w.main[kWAccept]) && Usable(w.main[kWReject]));
    EXPECT_FALSE(Shown(w.main[kWGo]) || Shown(w.main[kWStop]));
    EXPECT_FALSE(MenusActive(w));
    Click(w.main[kWNext]);
  });
  user.When("Next again", [&] { return state->scan.seq_no == 2; }, [&] { Click(w.main[kWNext]); });
  user.When("Previous", [&] { return state->scan.seq_no == 3; }, [&] { Click(w.main[kWPrevious]); });
  user.When("Accept reflection 2", [&] { return state->scan.seq_no == 2; }, [&] { Click(w.main[kWAccept]); });
  user.When("hkl 3 1 7 and Go", [&] { return state->scan.seq_no == 3; }, [&] {
    QLineEdit* hkl = Field(w.main[kWHklEntry]);
    hkl->selectAll();
    QTest::keyClicks(hkl, "3 1 7");
    Click(w.main[kWHklGo]);
  });
  user.When("Refit", [&] { return state->scan.seq_no == 42; }, [&] {
    EXPECT_EQ(state->scan.hkl, (std::array<int, 3>{3, 1, 7}));
    EXPECT_EQ(Field(w.main[kWHklEntry])->text(), "3 1 7");
    EXPECT_EQ(Field(w.main[kWSeqEntry])->text(), "42");
    EXPECT_EQ(Field(w.fit_flags)->text().mid(1, 1), "F");  // fitted, not rejected
    // The alpha1 peak lies 0.02 degrees off the bisecting position.
    EXPECT_NEAR(state->fit.peak.value[kPosition], 0.02f, 0.01f);
    const fs::path shot = Screenshot(W(w.main_window), "window_fitted_scan.png");
    EXPECT_LT(fs::file_size(shot), 200'000u);
    // Counts and fit in two colours.
    QWidget* frame = W(w.frame);
    const Ink ink = InkOf(frame->grab().toImage());
    EXPECT_GT(ink.counts, 300);
    EXPECT_GT(ink.fit, 300);
    // The omega axis spans the frame less the labels' margin; the counts
    // reach from the residual strip to near the top of the counts axis.
    EXPECT_GT(ink.counts_box.width(), frame->width() * 4 / 5);
    EXPECT_GT(ink.fit_box.width(), frame->width() * 4 / 5);
    EXPECT_GT(ink.counts_box.height(), frame->height() * 11 / 20);
    EXPECT_GT(ink.fit_box.height(), frame->height() / 3);
    Click(w.main[kWRefit]);
  });
  user.When("Accept reflection 42", [&] { return true; }, [&] {
    EXPECT_EQ(state->scan.seq_no, 42);
    Click(w.main[kWAccept]);
  });
  user.When("Reject reflection 43", [&] { return state->scan.seq_no == 43; }, [&] { Click(w.main[kWReject]); });
  user.When("Exit from manual fitting", [&] { return state->scan.seq_no == 44; }, [&] {
    EXPECT_EQ(Seqs(ReadLines(dir / "example.int")), (std::vector<int>{2, 42}));
    Click(w.main[kWExit]);
  });

  // Automatic integration: Quit the peak defaults, Go, Stop, Go to the end.
  int stopped_at = 0;
  user.When("Integrate > Auto profile fit", [&] { return Idle(w); }, [&] {
    EXPECT_FALSE(Shown(w.main[kWNext]));
    EXPECT_TRUE(InkOf(W(w.frame)->grab().toImage()).counts == 0);  // the frame was cleared
    Choose(w, w.menu_auto_fit);
  });
  user.When("Quit the peak defaults", [&] { return Shown(w.peak_dialog); }, [&] {
    EXPECT_EQ(Field(w.peak_fwhm_a)->text(), "0.200");
    Click(w.peak_quit);
  });
  user.When("Go", [&] { return !Shown(w.peak_dialog) && Usable(w.main[kWGo]); }, [&] {
    EXPECT_TRUE(Shown(w.main[kWStop]) && !W(w.main[kWStop])->isEnabled());
    EXPECT_FALSE(Shown(w.main[kWAccept]));
    Click(w.main[kWGo]);
  });
  user.When("Stop during the run", [&] { return state->scan.seq_no >= 60; }, [&] {
    EXPECT_TRUE(Usable(w.main[kWStop]));
    EXPECT_FALSE(W(w.main[kWGo])->isEnabled());
    ExpectTextsFit(W(w.fit_dialog));
    ExpectTextsFit(W(w.main_window));
    // The background's upper limit, 1000000, shows fewer decimals to fit
    // and still gives back the number it holds.
    EXPECT_EQ(Field(w.fit_rows[kBackground].high)->text(), "1000000.0");
    EXPECT_EQ(::GetNumber(w.fit_rows[kBackground].high), state->params.high[kBackground]);
    // The greyed Go passed the focus on, but not to a display field.
    if (auto* focus = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
      EXPECT_FALSE(focus->isReadOnly()) << focus->text().toStdString();
    }
    const fs::path shot = Screenshot(W(w.fit_dialog), "window_fitting_controls_running.png");
    EXPECT_GT(fs::file_size(shot), 5'000u);
    stopped_at = state->scan.seq_no;
    Click(w.main[kWStop]);
    // The worst moment: the next tick falls due before the program has
    // taken the Stop.
    EXPECT_TRUE(QTest::qWaitFor(
        [] { return pvgui_qt::PendingCodes() == std::vector<int>{kCodeStop, kCodeTimer}; }, kPatienceMs));
  });
  // Once stopped, the program sits in its loop with nothing queued.
  int stopped_beats = 0;
  QElapsedTimer run_clock;
  std::clock_t run_cpu = 0;
  user.When("stopped", [&] { return Usable(w.main[kWGo]); }, [&] { stopped_beats = user.IdleBeats(); });
  user.When("Go again", [&] { return user.IdleBeats() - stopped_beats > kIdleBeats; }, [&] {
    // No tick reached the program after Stop.
    EXPECT_EQ(state->scan.seq_no, stopped_at);
    EXPECT_EQ(static_cast<int>(ReadLines(dir / "example.int").size()), 2 + stopped_at - 44 + 1);
    state->tick_budget_ms = window_budget;
    Click(w.main[kWGo]);
    run_clock.start();
    run_cpu = std::clock();
  });

  // Preprocessing and Calc UB.
  user.When("Utilities > Preprocess", [&] { return Idle(w); }, [&] {
    // The rest of the file, with the plot and the dialog refreshed for every
    // reflection, goes at 300 reflections a second and more on an idle
    // machine. The bound is on the processor time of this process, which
    // other jobs on the machine do not stretch as they stretch the clock, and
    // holds for the optimised program only: a build without optimisation or
    // with AddressSanitizer runs several times slower and just reports.
    const int fitted = state->scan.seq_no - stopped_at;
    const double seconds = run_clock.elapsed() / 1000.0;
    const double cpu_seconds = static_cast<double>(std::clock() - run_cpu) / CLOCKS_PER_SEC;
    std::printf("Auto profile fit in the window: %d reflections in %.2f s (%.2f s of processor), %.0f per second\n",
                fitted, seconds, cpu_seconds, fitted / seconds);
    if (kOptimisedBuild) {
      EXPECT_GT(fitted / cpu_seconds, 300.0);
    }
    EXPECT_EQ(Boxes("End of input data file"), 1);
    EXPECT_FALSE(Shown(w.main[kWGo]) || Shown(w.main[kWStop]));
    EXPECT_FALSE(Shown(w.fit_dialog));
    Choose(w, w.menu_preprocess);
  });
  user.When("Go in Preprocessing Control", [&] { return Shown(w.preprocess_dialog); }, [&] {
    EXPECT_EQ(Field(w.preprocess_threshold)->text(), "30.0");
    Click(w.preprocess_go);
  });
  user.When("Utilities > Calc UB", [&] { return Idle(w) && pvgui_qt::ActionOf(w.menu_calc_ub)->isEnabled(); },
            [&] {
              EXPECT_EQ(Boxes("End of input data file"), 2);
              EXPECT_GT(state->preprocessed_list.count, 20);
              Choose(w, w.menu_calc_ub);
            });
  user.When("Refine with omega zero", [&] { return Shown(w.refine_dialog); }, [&] {
    Click(w.refine_omega_zero);
    Click(w.refine_go);
  });
  user.When("Ok on the results", [&] { return Shown(w.results_dialog); }, [&] {
    EXPECT_FALSE(Shown(w.busy_dialog));
    ExpectTextsFit(W(w.results_dialog));
    Screenshot(W(w.results_dialog), "window_cell_refinement_results.png");
    const float cell[3] = {8.5f, 11.2f, 13.7f};
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(Field(w.results_value[i])->text().toFloat(), cell[i], 0.01f) << i;
    for (int i = 3; i < 6; ++i) EXPECT_NEAR(Field(w.results_value[i])->text().toFloat(), 90.0f, 0.05f) << i;
    // The example's omega zero is 0.02 degree; the cycles stop once it moves
    // by less than 0.001 degree a cycle and UB takes up the rest.
    const float omega_zero = Field(w.results_omega_zero)->text().toFloat();
    EXPECT_GT(omega_zero, 0.005f);
    EXPECT_LT(omega_zero, 0.03f);
    EXPECT_EQ(Field(w.results_count)->text().toInt(), state->preprocessed_list.count);
    Click(w.results_ok);
  });

  // The intensity file to HKLF 4 and CIF.
  user.When("Utilities > Reduce to SHELX/CIF...", [&] { return Idle(w); }, [&] { Choose(w, w.menu_reduce); });
  user.When("Reduce", [&] { return Shown(w.reduce_dialog); }, [&] {
    ExpectTextsFit(W(w.reduce_dialog));
    Screenshot(W(w.reduce_dialog), "window_reduce.png");
    Click(w.reduce_go);
  });
  user.When("Ok on the summary", [&] { return Shown(w.summary_dialog); }, [&] {
    ExpectTextsFit(W(w.summary_dialog));
    Screenshot(W(w.summary_dialog), "window_reduce_summary.png");
    EXPECT_TRUE(fs::exists(dir / "example.hkl"));
    EXPECT_TRUE(fs::exists(dir / "example.cif"));
    Click(w.summary_ok);
  });

  // The command loop, as RunCommandLoop has it, until the user is done.
  while (!user.Done()) {
    const int code = tk::Wait();
    ASSERT_TRUE(DispatchCommand(*state, code)) << "code " << code;
  }

  // Back at the main window with nothing running.
  EXPECT_TRUE(Idle(w));
  for (int i = 2; i <= kMainWidgets; ++i) EXPECT_FALSE(Shown(w.main[i])) << "widget " << i;
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
  for (const auto& box : pvgui_qt::LastBoxes()) EXPECT_FALSE(box.error) << box.message.toStdString();

  // The intensity file: the two accepted reflections, then one record per
  // automatic fit from 44 (in memory at Go) to the last scan, the one in
  // memory at the second Go not again.
  const auto records = ReadLines(dir / "example.int");
  std::vector<int> expected = {2, 42};
  for (int seq = 44; seq <= kExampleScans; ++seq) expected.push_back(seq);
  EXPECT_EQ(Seqs(records), expected);
  for (const auto& line : records) EXPECT_EQ(line.size(), 79u) << line;
  EXPECT_EQ(ParseRfine(records[0]).code.substr(1, 1), "F");  // accepted: written as fitted
  EXPECT_EQ(ParseRfine(records[1]).hkl, (std::array<int, 3>{3, 1, 7}));

  // The log: the parameter file, two classification summaries (the automatic
  // run and preprocessing) and the refinement report.
  const auto log = ReadLines(dir / "example.log");
  std::vector<std::size_t> summaries;
  for (std::size_t i = 0; i < log.size(); ++i)
    if (log[i] == " REFLECTIONS AS CLASSIFIED BY INTEGRATION:") summaries.push_back(i);
  ASSERT_EQ(summaries.size(), 2u);
  auto fits_counted = [&](std::size_t at) {
    int sum = 0;
    const std::string& counts = log.at(at + 2);
    for (int k = 0; k < 11; ++k) sum += fields::ReadInt(counts, k == 0 ? 6 : 14 + 5 * (k - 1), 5).value_or(-1000);
    return sum;
  };
  EXPECT_EQ(fits_counted(summaries[0]), static_cast<int>(records.size()) - 2);
  EXPECT_EQ(fits_counted(summaries[1]), kExampleScans);
  const auto report = std::find(log.begin(), log.end(), " RESULTS OF LEAST SQUARES REFINEMENT OF CELL PARAMETERS");
  ASSERT_NE(report, log.end());
  EXPECT_GT(report - log.begin(), static_cast<long>(summaries[1]));
  EXPECT_EQ(*(report + 2), "  UNCONSTRAINED REFINEMENT WITH OMEGA ZERO");
  const auto cell = std::find_if(report, log.end(), [](const std::string& l) { return l.rfind(" CELL", 0) == 0; });
  ASSERT_NE(cell, log.end());
  EXPECT_NEAR(fields::ReadReal(*cell, 18, 9, 5).value_or(0), 8.5, 0.01);
  EXPECT_EQ(fields::TrimRight(log.back()), "");
  const std::string used = "     " + fields::FormatInt(state->preprocessed_list.count, 5) + " REFLECTIONS USED";
  EXPECT_NE(std::find(report, log.end(), used), log.end());
  fs::current_path(before);
}

// A data file that cannot be read ends no session: a good file opened as
// the wrong format, and a file cut short in its header, each show the
// reader's message and close the data file; the refined orientation, the
// parameters and the output file stay, and the example then integrates in
// the same session with the orientation refined before.
TEST(RealWindowSession, ABrokenDataFileKeepsTheSession) {
  FreshToolkit();
  const fs::path dir = ScratchCopyOfExample("real-window-broken-file");
  {
    std::ifstream in(dir / "example.dca");
    std::ofstream cut(dir / "cut.dca");
    std::string line;
    for (int i = 0; i < 4 && std::getline(in, line); ++i) cut << line << "\n";
  }
  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  const Widgets& w = state->widgets;
  User user;
  const auto no_dialog = [&] {
    for (int d : {w.format_dialog, w.fit_dialog, w.preprocess_dialog, w.peak_dialog, w.refine_dialog,
                  w.results_dialog, w.busy_dialog})
      if (Shown(d)) return false;
    return true;
  };
  const auto open_data = [&](const char* name, int format_toggle) {
    user.When(std::string("File > Open data file ") + name, no_dialog, [&, name] {
      pvgui_qt::ClearBoxes();
      pvgui_qt::AnswerNextBrowse(name, dir.string());
      QAction* open = pvgui_qt::ActionOf(w.menu_open_data);
      ASSERT_TRUE(open->isEnabled());
      open->trigger();
    });
    user.When("choose its format", [&] { return Shown(w.format_dialog); }, [&, format_toggle] {
      Click(format_toggle);
      Click(w.format_ok);
    });
  };

  StartUpFrom(*state, user, dir, "example.dca", "example.par");

  user.When("Utilities > Preprocess", [&] { return Idle(w); }, [&] { Choose(w, w.menu_preprocess); });
  user.When("Go", [&] { return Shown(w.preprocess_dialog); }, [&] { Click(w.preprocess_go); });
  user.When("Utilities > Calc UB", [&] { return Idle(w) && pvgui_qt::ActionOf(w.menu_calc_ub)->isEnabled(); },
            [&] { Choose(w, w.menu_calc_ub); });
  user.When("Refine", [&] { return Shown(w.refine_dialog); }, [&] { Click(w.refine_go); });
  Mat3 refined{};
  user.When("Ok on the results", [&] { return Shown(w.results_dialog); }, [&] {
    refined = state->orientation.ub;
    Click(w.results_ok);
  });

  const auto expect_refused = [&](const char* message) {
    int shown = 0;
    for (const auto& box : pvgui_qt::LastBoxes()) {
      if (box.message != message) continue;
      ++shown;
      EXPECT_TRUE(box.error);
      EXPECT_EQ(box.title, "WinKalvex");
    }
    EXPECT_EQ(shown, 1) << message;
    EXPECT_TRUE(Shown(w.main_window));
    EXPECT_FALSE(state->files.data_open);
    EXPECT_EQ(Field(w.data_file_field)->text(), "");
    // Nothing to integrate, but the other menus and the session stay.
    EXPECT_FALSE(pvgui_qt::ActionOf(w.menu_titles[1])->isEnabled());
    EXPECT_TRUE(pvgui_qt::ActionOf(w.menu_titles[0])->isEnabled());
    EXPECT_TRUE(state->orientation.corrections_valid);
    EXPECT_EQ(state->orientation.ub, refined);
    EXPECT_FLOAT_EQ(state->params.lambda2, 0.71359f);
  };
  open_data("example.dca", w.format_cad4);
  user.When("the CAD4 reader's message", no_dialog, [&] {
    expect_refused("Error reading file header at line 2");
    Screenshot(W(w.main_window), "window_after_read_error.png");
  });
  open_data("cut.dca", w.format_xcalibur);
  user.When("the message of the cut file", no_dialog, [&] {
    expect_refused("UNEXPECTED EOF IN DATAFILE HEADER");
    pvgui_qt::AnswerNextBrowse("example.int", dir.string());
    pvgui_qt::ActionOf(w.menu_open_output)->trigger();
  });
  open_data("example.dca", w.format_xcalibur);
  user.When("Integrate > Auto profile fit", [&] { return Idle(w) && state->files.data_open; }, [&] {
    EXPECT_EQ(Field(w.data_file_field)->text(), "example.dca");
    Choose(w, w.menu_auto_fit);
  });
  user.When("Quit the peak defaults", [&] { return Shown(w.peak_dialog); }, [&] { Click(w.peak_quit); });
  user.When("Go", [&] { return !Shown(w.peak_dialog) && Usable(w.main[kWGo]); }, [&] { Click(w.main[kWGo]); });

  // The last command, the automatic run, returns at the end of the data.
  while (!user.Done()) {
    const int code = tk::Wait();
    ASSERT_TRUE(DispatchCommand(*state, code)) << "code " << code;
  }
  EXPECT_EQ(Boxes("End of input data file"), 1);
  EXPECT_EQ(state->orientation.ub, refined);
  EXPECT_TRUE(state->orientation.corrections_valid);
  const auto records = ReadLines(dir / "example.int");
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kExampleScans));
  for (int seq = 1; seq <= kExampleScans; ++seq) EXPECT_EQ(ParseRfine(records[seq - 1]).seq, seq);
  fs::current_path(before);
}

// In the child of the death test: open the example and an output file, stop
// an automatic run with Exit, then Exit the program from the main window.
int RunUntilExit(const fs::path& dir) {
  FreshToolkit();
  auto state = NewProgramState();
  // One reflection a tick: the window then waits between two ticks, and the
  // user's Exit comes in the run, not after a fast machine has ended it.
  state->tick_budget_ms = 0;
  const Widgets& w = state->widgets;
  User user;
  StartUpFrom(*state, user, dir, "example.dca", "example.par");
  OpenOutputWhenIdle(w, user, dir, "example.int");
  user.When("Integrate > Auto profile fit", [&] { return Idle(w) && Shown(w.output_label); },
            [&] { Choose(w, w.menu_auto_fit); });
  user.When("Quit the peak defaults", [&] { return Shown(w.peak_dialog); }, [&] { Click(w.peak_quit); });
  user.When("Go", [&] { return !Shown(w.peak_dialog) && Usable(w.main[kWGo]); }, [&] { Click(w.main[kWGo]); });
  user.When("Exit during the run", [&] { return state->scan.seq_no >= 30; }, [&] { Click(w.main[kWExit]); });
  user.When("Exit the program", [&] { return Idle(w); }, [&] { Click(w.main[kWExit]); });
  return RunCommandLoop(*state);
}

TEST(RealWindowExit, ExitEndsARunAndThenTheProgramWithStatusZeroAndCompleteFiles) {
  // The child runs in a process of its own, with a toolkit of its own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path dir = ScratchCopyOfExample("real-window-exit");
  EXPECT_EXIT(std::exit(RunUntilExit(dir)), ::testing::ExitedWithCode(0), "");

  // Every record the run wrote is in the file, whole: 1 (in memory at Go)
  // and on, one per reflection, up to where Exit stopped the run.
  const auto records = ReadLines(dir / "example.int");
  ASSERT_GE(records.size(), 30u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].size(), 79u) << records[i];
    EXPECT_EQ(ParseRfine(records[i]).seq, static_cast<int>(i) + 1);
  }
  // Exit is no end of the data: no summary.
  const auto log = ReadLines(dir / "example.log");
  EXPECT_NE(std::find(log.begin(), log.end(), "  INTEGRATED DATA FILE OPENED: example.int "), log.end());
  EXPECT_EQ(std::find(log.begin(), log.end(), " REFLECTIONS AS CLASSIFIED BY INTEGRATION:"), log.end());
}

}  // namespace
}  // namespace kalvex
