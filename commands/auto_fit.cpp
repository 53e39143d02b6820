// Automatic integration, driven by the toolkit timer: one reflection per
// tick, with Go, Stop and Exit acting between two ticks.
#include "commands/auto_fit.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "commands/data_file.h"
#include "commands/fitting.h"
#include "commands/parameter_dialogs.h"
#include "commands/progress.h"
#include "commands/run_end.h"
#include "scan/read_ahead.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/fit_dialog.h"
#include "ui/scan_plot.h"
#include "ui/user_interface.h"

namespace kalvex {

namespace {

constexpr int kTickInterval = 50;


void SetStatuses(const Widgets& w, std::initializer_list<int> numbers, int status) {
  for (int n : numbers) tk::WidgetStatus(w.main[n], status);
}

// The end of the data: the box says so, and it, the log and the end-of-run
// dialog name the reflections of the file that are not in the intensity
// file (a run that began in the middle, reflections cut short or too large).
std::vector<std::string> EndOfRun(ProgramState& state, const std::vector<int>& run) {
  // A box holds a few lines: its list of ranges is cut there; the log has
  // all, the dialog (which scrolls) nearly all.
  constexpr std::size_t kBoxRoom = 160;
  constexpr std::size_t kDialogRoom = 4000;
  const FileState& f = state.files;
  const std::vector<int> missing = UnwrittenSequenceNumbers(state, run);
  std::string text(kEndOfDataText);
  std::vector<std::string> notes;
  if (!f.output_open) {
    notes.push_back("No intensity file was open: nothing was written");
  } else if (missing.empty()) {
    notes.push_back("Every reflection of " + f.data_file_name + " is in " + f.output_file_name);
  } else {
    state.files.log.Empty();
    state.files.log.Record(UnwrittenNote(missing, f.output_file_name));
    FlushLog(state);
    text += "\n" + UnwrittenNote(missing, f.output_file_name, kBoxRoom);
    notes.push_back(UnwrittenNote(missing, f.output_file_name, kDialogRoom));
  }
  tk::GeneralMessage("WIN-KALVEX", text, 3, 0);
  return notes;
}

}  // namespace

void AutoFit(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (!state.files.data_open) return;
  ResetRunCounters(state);
  CountReflectionInMemory(state);
  // The reflection of this run fitted last: "Go" after "Stop" fits it again
  // only if it has not been.
  int fitted_seq_no = 0;
  // The sequence numbers this run reads, from the reflection in memory on.
  std::vector<int> run;
  if (state.scan.seq_no > 0) run.push_back(state.scan.seq_no);
  state.fitting_mode = kAutomaticFitting;
  ShowPeakDefaults(state);
  ShowStartValues(state);

  SetStatuses(w, {kWHklEntry, kWHklLabel, kWSeqEntry, kWSeqLabel, kWGo}, tk::kActive);
  tk::WidgetStatus(w.main[kWStop], tk::kGreyed);
  SetStatuses(w, {kWAngle1, kWAngle1 + 1, kWAngle1 + 2, kWAngle1 + 3, kWAnglesLabel}, tk::kActive);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);
  PassProgress progress(state);
  // The next reflections are read on another core while this one is fitted.
  // Between two ticks only the timer keeps it going: every other action
  // finds the file after the reflection in memory.
  static const bool kSecondCore = std::thread::hardware_concurrency() > 1;
  std::unique_ptr<ReadAhead> ahead;
  const auto next_reflection = [&] {
    if (!ahead && kSecondCore) {
      ahead = std::make_unique<ReadAhead>(state.files.data, state.data_set, state.params, state.scan);
    }
    if (ahead && ahead->Take(state.scan, state.data_set, state.params)) return kReadOk;
    ahead.reset();
    return ReadReflection(state, state.scan.seq_no + 1, {0, 0, 0}, false);
  };

  for (;;) {
    const int action = tk::Wait();
    if (action != kCodeTimer) ahead.reset();
    switch (action) {
      case kCodeClosed:
        state.end_requested = true;
        [[fallthrough]];
      case kCodeExit:
        tk::SetCallTime(kTickInterval, 0);
        RestoreMainWindow(state);
        return;
      case kCodeResetDefaults:
        ResetParameters(state);
        break;
      case kCodeRefineToggle + kBackground:
        SeedParameters(state);
        break;
      case kCodeStop:
        tk::WidgetStatus(w.main[kWStop], tk::kGreyed);
        tk::WidgetStatus(w.main[kWGo], tk::kActive);
        tk::SetCallTime(kTickInterval, 0);
        FlushIntegrated(state);
        progress.Show();
        break;
      case kCodeGo:
        tk::WidgetStatus(w.main[kWGo], tk::kGreyed);
        tk::WidgetStatus(w.main[kWStop], tk::kActive);
        tk::SetCallTime(kTickInterval, kCodeTimer);
        progress.Resume();
        // The run goes on from the reflection in memory; one already in the
        // intensity file is not written again, and the timer moves on.
        SeedParameters(state);
        if (state.scan.seq_no != fitted_seq_no) {
          FitWithRetry(state);
          fitted_seq_no = state.scan.seq_no;
        }
        if (!AlreadyWritten(state)) WriteIntegrated(state);
        break;
      case kCodeTimer: {
        // As many reflections as fit in the tick's time, then one picture
        // of the last: the window keeps the screen's pace, and Stop and
        // Exit wait no longer than a tick.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(state.tick_budget_ms);
        do {
          const int status = next_reflection();
          if (status == kReadError) {
            tk::SetCallTime(kTickInterval, 0);
            RestoreMainWindow(state);
            return;
          }
          if (status == kEndOfData) {
            tk::SetCallTime(kTickInterval, 0);
            // What the run wrote is in the file before the file is read back.
            if (!FlushIntegrated(state)) return;
            progress.Show();
            const std::vector<std::string> notes = EndOfRun(state, run);
            RestoreMainWindow(state);
            WriteClassificationSummary(state);
            ShowRunEnd(state, "Auto profile fit of " + state.files.data_file_name + ": end of input data file",
                       notes);
            return;
          }
          run.push_back(state.scan.seq_no);
          if (status == kReadFailed) {
            LogUnreadReflection(state, "NOT FITTED, NOT WRITTEN");
            continue;
          }
          FitWithRetry(state);
          fitted_seq_no = state.scan.seq_no;
          if (!AlreadyWritten(state)) WriteIntegrated(state, Flush::kWhenDue);
        } while (!state.end_requested && state.tick_budget_ms > 0 && std::chrono::steady_clock::now() < until);
        progress.Update(ahead ? std::make_optional(ahead->Position()) : std::nullopt);
        break;
      }
      default:
        break;
    }
    if (state.end_requested) {
      tk::SetCallTime(kTickInterval, 0);
      return;
    }
    // A batch run's window is seen by no one: its fields need not follow.
    if (state.plot.drawn) {
      PlotScan(state);
      ShowFitResults(state);
    }
  }
}

}  // namespace kalvex
