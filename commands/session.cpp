#include "commands/session.h"

#include <chrono>

#include "common/progress_text.h"
#include "report/session.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/fit_dialog.h"
#include "ui/scan_plot.h"
#include "ui/user_interface.h"

namespace kalvex {

namespace {

// The toolkit's timer interval of every pass: a tick a millisecond (its
// unit is 0.02 ms), each tick fitting for state.tick_budget_ms.
constexpr int kTickInterval = 50;

void SetRunning(const Widgets& w, bool running) {
  tk::WidgetStatus(w.main[kWGo], running ? tk::kGreyed : tk::kActive);
  tk::WidgetStatus(w.main[kWStop], running ? tk::kActive : tk::kGreyed);
  tk::SetCallTime(kTickInterval, running ? kCodeTimer : 0);
}

}  // namespace

engine::Events WindowEvents(ProgramState& state) {
  engine::Events events;
  events.error = [](std::string_view title, std::string_view text) { tk::ErrorBox(title, text); };
  events.message = [](std::string_view title, std::string_view text) { tk::GeneralMessage(title, text, 3, 0); };
  events.data_file_closed = [&state](const ReadError&) {
    tk::SetString(state.widgets.data_file_field, "");
    SetDataFileOpen(state, false);
    if (!state.plot.scan_shown) ShowWhereYouAre(state);
  };
  events.written = [](ProgramState& s) { report::NoteReflection(s); };
  events.progress = [&state](int passed, int total, double rate) {
    tk::ShowStatus(state.widgets.status_bar, ProgressText(passed, total, rate));
  };
  return events;
}

bool RewindDataFile(ProgramState& state, engine::Run& run) {
  if (state.params.input_format == kFormatSingle) AskOmegaStep(state, state.data_set.omega_step);
  return run.Rewind();
}

void ClearStatus(ProgramState& state) { tk::ShowStatus(state.widgets.status_bar, ""); }

void SeedParameters(ProgramState& state, engine::Run& run) {
  ReadFitControls(state);
  run.Seed();
  ShowSeededInputs(state);
}

void ResetParameters(ProgramState& state, engine::Run& run) {
  ReadFitControls(state);
  run.ResetStartValues();
  ShowFitInputs(state);
}

void ShowStartValues(ProgramState& state, engine::Run& run) {
  run.PrepareStartValues();
  ShowFitInputs(state);
}

PassEnd RunPass(ProgramState& state, engine::Run& run, const PassSteps& steps, bool running) {
  const Widgets& w = state.widgets;
  const auto stop_timer = [] { tk::SetCallTime(kTickInterval, 0); };
  SetRunning(w, running);
  run.ResumeProgress();
  run.ShowProgress(true);
  for (;;) {
    const int action = tk::Wait();
    // Only the timer keeps reading ahead: every other action finds the file
    // after the reflection in memory.
    if (action != kCodeTimer) run.Pause();
    switch (action) {
      case kCodeClosed:
        state.end_requested = true;
        [[fallthrough]];
      case kCodeExit:
        stop_timer();
        ClearStatus(state);
        return PassEnd::kExit;
      case kCodeStop:
        SetRunning(w, false);
        run.FlushRecords();
        run.ShowProgress(true);
        break;
      case kCodeGo:
        SetRunning(w, true);
        run.ResumeProgress();
        if (steps.reads_controls) ReadFitControls(state);
        if (steps.go) steps.go();
        break;
      case kCodeTimer: {
        if (steps.reads_controls) ReadFitControls(state);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(state.tick_budget_ms);
        do {
          switch (steps.step()) {
            case engine::Step::kEndOfData:
              stop_timer();
              run.ShowProgress(true);
              return PassEnd::kEndOfData;
            case engine::Step::kListFull: stop_timer(); ClearStatus(state); return PassEnd::kListFull;
            case engine::Step::kReadError: stop_timer(); ClearStatus(state); return PassEnd::kReadError;
            case engine::Step::kFatal: stop_timer(); return PassEnd::kFatal;
            case engine::Step::kDone:
            case engine::Step::kCutShort: break;
          }
        } while (!state.end_requested && state.tick_budget_ms > 0 && std::chrono::steady_clock::now() < until);
        run.ShowProgress();
        break;
      }
      default:
        if (steps.other) steps.other(action);
        break;
    }
    if (state.end_requested) {
      stop_timer();
      return PassEnd::kFatal;
    }
    // A window no one sees (a headless run) need not follow each tick.
    if (state.plot.drawn) {
      if (steps.reads_controls) ShowSeededInputs(state);
      PlotScan(state);
      ShowFitResults(state);
    }
  }
}

}  // namespace kalvex
