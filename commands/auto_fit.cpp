// "Auto profile fit": the engine's automatic run, one tick of the toolkit
// timer at a time, with Go, Stop and Exit acting between two ticks.
#include "commands/auto_fit.h"

#include <string>
#include <vector>

#include "commands/files.h"
#include "commands/parameter_dialogs.h"
#include "commands/run_end.h"
#include "commands/session.h"
#include "engine/run.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/fit_dialog.h"
#include "ui/user_interface.h"

namespace kalvex {

namespace {

void SetStatuses(const Widgets& w, std::initializer_list<int> numbers, int status) {
  for (int n : numbers) tk::WidgetStatus(w.main[n], status);
}

// The open intensity file holds reflections of another data file of this
// session, whose sequence numbers may be this one's: the user says whether
// this file's go after them or into another file. False to cancel.
bool ConfirmSharedOutput(ProgramState& state) {
  FileState& f = state.files;
  if (!f.output_open || !f.output_has_other_data) return true;
  const std::string question = f.output_file_name + " already holds reflections of another data file, whose "
                               "sequence numbers may be those of " + f.data_file_name +
                               ": Append after them / Choose another output / Cancel";
  switch (tk::AskChoice("WinKalvex", question, "Append|Choose another output|Cancel")) {
    case 0:
      f.output_has_other_data = false;
      return true;
    case 1:
      OpenOutputFile(state);
      return f.output_open && !f.output_has_other_data;
    default:
      return false;
  }
}

}  // namespace

void AutoFit(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (!state.files.data_open) return;
  if (!state.parameters_read) {
    tk::ErrorBox("WinKalvex", "No parameter file has been read: open one first (File > Open Parameter File)");
    return;
  }
  if (!ConfirmSharedOutput(state)) return;
  engine::Run run(state, WindowEvents(state));
  run.StartAutoFit();
  ShowPeakDefaults(state);
  ShowStartValues(state, run);

  SetStatuses(w, {kWHklEntry, kWHklLabel, kWSeqEntry, kWSeqLabel, kWGo}, tk::kActive);
  SetStatuses(w, {kWAngle1, kWAngle1 + 1, kWAngle1 + 2, kWAngle1 + 3, kWAnglesLabel}, tk::kActive);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);
  // Enter in the main window or the fitting controls presses Go.
  tk::SetWindowEnter(w.main_window, w.main[kWGo]);
  tk::SetWindowEnter(w.fit_dialog, w.main[kWGo]);
  tk::SetFirstFocus(w.main_window, w.main[kWGo]);
  tk::WindowAction(w.main_window);

  PassSteps steps;
  steps.reads_controls = true;
  steps.step = [&] { return run.FitNext(); };
  // The run goes on from the reflection in memory; one already in the
  // intensity file is not written again.
  steps.go = [&] { run.GoOn(); };
  steps.other = [&](int code) {
    if (code == kCodeResetDefaults) ResetParameters(state, run);
    if (code == RefineToggleCode(kBackground)) SeedParameters(state, run);
  };
  const PassEnd end = RunPass(state, run, steps, false);
  if (end != PassEnd::kEndOfData) {
    RestoreMainWindow(state);
    return;
  }
  const std::vector<std::string> notes = run.FinishAutoFit();
  RestoreMainWindow(state);
  if (state.end_requested) return;
  ShowRunEnd(state, "Auto profile fit of " + state.files.data_file_name + ": end of input data file", notes);
}

}  // namespace kalvex
