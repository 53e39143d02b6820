// The Parameters-menu commands, the omega-step box and the switches of the
// main window's state.
#pragma once

#include "shell/program_state.h"

namespace kalvex {

// Modal dialog pattern: show `dialog` and make it the active window; and the
// way back to the main window.
void OpenModal(ProgramState& state, int dialog);
void CloseModal(ProgramState& state, int dialog);

void ShowPeakDefaults(ProgramState& state);             // kCodePkvals
void ShowDiffractometerConstants(ProgramState& state);  // kCodeDiffractometer
void EditBackgroundOptions(ProgramState& state);        // kCodeBackgrounds
void EditOutputFormat(ProgramState& state);             // kCodeOutputFormat

// Returns when `omega_step` holds an accepted value (at least 0.001).
void AskOmegaStep(ProgramState& state, float& omega_step);

// 0 after a data file is opened, 1 after a completed preprocessing pass.
void SetPreprocessedState(ProgramState& state, int flag);

// Back to the main window at the end of a fitting run.
void RestoreMainWindow(ProgramState& state);

}  // namespace kalvex
