// "Preprocess": the engine's pass that keeps the strong reflections, driven
// by the toolkit timer like the automatic run; and "Calc FWHM" from what it
// kept.
#include "commands/preprocessing.h"

#include <string>

#include "commands/run_end.h"
#include "commands/session.h"
#include "engine/run.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/fit_dialog.h"
#include "ui/user_interface.h"

namespace kalvex {

void ShowPreprocessingControl(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (!state.files.data_open) return;
  engine::Run run(state, WindowEvents(state));
  ShowStartValues(state, run);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);
  OpenModal(state, w.preprocess_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeClosed) state.end_requested = true;
    if (code == kCodeClosed || code == kCodeExit || code == kCodePreprocessQuit) {
      tk::WindowRemove(w.preprocess_dialog);
      RestoreMainWindow(state);
      return;
    }
    if (code == kCodeResetDefaults) {
      ResetParameters(state, run);
    } else if (IsFitControlToggle(code)) {
      SeedParameters(state, run);
    } else if (code == kCodePreprocessGo) {
      RunPreprocessing(state);
      return;
    }
  }
}

void RunPreprocessing(ProgramState& state) {
  const Widgets& w = state.widgets;
  engine::Run run(state, WindowEvents(state));
  const float threshold = tk::GetNumber(w.preprocess_threshold);
  tk::WindowRemove(w.preprocess_dialog);
  if (state.params.input_format == kFormatSingle) AskOmegaStep(state, state.data_set.omega_step);
  if (!run.StartPreprocessing(threshold)) {
    RestoreMainWindow(state);
    return;
  }
  for (int n : {int{kWHklLabel}, int{kWHklEntry}, int{kWSeqLabel}, int{kWSeqEntry}, int{kWAnglesLabel},
                int{kWAngle1}, kWAngle1 + 1, kWAngle1 + 2, kWAngle1 + 3})
    tk::WidgetStatus(w.main[n], tk::kActive);
  PassSteps steps;
  steps.reads_controls = true;
  steps.step = [&] { return run.PreprocessNext(); };
  if (RunPass(state, run, steps, true) != PassEnd::kEndOfData) {
    RestoreMainWindow(state);
    return;
  }
  run.FinishPreprocessing();
  RestoreMainWindow(state);
  SetPreprocessedState(state, 1);
  ShowRunEnd(state, "Preprocess of " + state.files.data_file_name + ": end of input data file",
             {std::to_string(state.preprocessed_list.count) +
              " reflections kept for Calc UB and Calc FWHM; nothing is written"});
}

void CalcFwhmLine(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (state.preprocessed != 1) {
    tk::ErrorBox("WinKalvx", "Run PreProcess first");
    return;
  }
  const engine::FwhmLine line = engine::FitFwhmLine(state.preprocessed_list);
  SessionRecord& record = state.session_record;
  record.fwhm_line = true;
  record.fwhm_a = line.a;
  record.fwhm_b = line.b;
  tk::SetNumber(w.fwhm_a, line.a);
  tk::SetNumber(w.fwhm_b, line.b);
  tk::SetNumber(w.fwhm_esd_a, line.esd_a);
  tk::SetNumber(w.fwhm_esd_b, line.esd_b);
  OpenModal(state, w.fwhm_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeClosed) state.end_requested = true;
    if (code == kCodeClosed || code == kCodeFwhmQuit) break;
    if (code == kCodeFwhmSave) {
      const auto v = CheckedNumbers({{w.fwhm_a, "FWHM a"}, {w.fwhm_b, "FWHM b"}}, {line.a, line.b});
      if (!v) continue;
      state.params.pdef[kFwhm][kCoefA] = (*v)[0];
      state.params.pdef[kFwhm][kCoefB] = (*v)[1];
      // The batch command's --calc-fwhm stores the line as fitted, not
      // values typed over it.
      state.choices.fwhm_line_stored = (*v)[0] == line.a && (*v)[1] == line.b;
      break;
    }
  }
  CloseModal(state, w.fwhm_dialog);
}

}  // namespace kalvex
