// "Calc Background": the engine's pass over the data file for the background
// models, driven by the toolkit timer, then the background options dialog
// to choose among them.
#include "commands/calc_background.h"

#include "commands/parameter_dialogs.h"
#include "commands/session.h"
#include "engine/run.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/user_interface.h"

namespace kalvex {

void CalcBackground(ProgramState& state) {
  if (!state.files.data_open) return;
  engine::Run run(state, WindowEvents(state));
  if (state.params.input_format == kFormatSingle) AskOmegaStep(state, state.data_set.omega_step);
  if (!run.StartBackgroundPass()) return;
  PassSteps steps;
  steps.step = [&] { return run.BackgroundNext(); };
  const PassEnd end = RunPass(state, run, steps, true);
  RestoreMainWindow(state);
  if (end != PassEnd::kEndOfData) return;
  run.FinishBackgroundPass();
  EditBackgroundOptions(state);
}

}  // namespace kalvex
