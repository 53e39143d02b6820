// Automatic integration, driven by the toolkit timer: one reflection per
// tick, with Go, Stop and Exit acting between two ticks.
#include "commands/auto_fit.h"

#include "commands/data_file.h"
#include "commands/fitting.h"
#include "commands/parameter_dialogs.h"
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

}  // namespace

void AutoFit(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (!state.files.data_open) return;
  ResetRunCounters(state);
  state.fitting_mode = kAutomaticFitting;
  ShowPeakDefaults(state);
  ShowStartValues(state);

  SetStatuses(w, {kWHklEntry, kWHklLabel, kWSeqEntry, kWSeqLabel, kWGo}, tk::kActive);
  tk::WidgetStatus(w.main[kWStop], tk::kGreyed);
  SetStatuses(w, {kWAngle1, kWAngle1 + 1, kWAngle1 + 2, kWAngle1 + 3, kWAnglesLabel}, tk::kActive);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);

  for (;;) {
    const int action = tk::Wait();
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
        break;
      case kCodeGo:
        tk::WidgetStatus(w.main[kWGo], tk::kGreyed);
        tk::WidgetStatus(w.main[kWStop], tk::kActive);
        tk::SetCallTime(kTickInterval, kCodeTimer);
        SeedParameters(state);
        FitWithRetry(state);
        WriteIntegrated(state);
        break;
      case kCodeTimer: {
        const int status = ReadReflection(state, state.scan.seq_no + 1);
        if (status == kReadError) {
          tk::SetCallTime(kTickInterval, 0);
          RestoreMainWindow(state);
          return;
        }
        if (status == kEndOfData) {
          tk::SetCallTime(kTickInterval, 0);
          RestoreMainWindow(state);
          WriteClassificationSummary(state);
          return;
        }
        if (status == kReadFailed) {
          LogUnreadReflection(state, "NOT FITTED, NOT WRITTEN");
          break;
        }
        FitWithRetry(state);
        WriteIntegrated(state);
        break;
      }
      default:
        break;
    }
    if (state.end_requested) {
      tk::SetCallTime(kTickInterval, 0);
      return;
    }
    PlotScan(state);
    ShowFitResults(state);
  }
}

}  // namespace kalvex
