// The Parameters-menu commands.
#pragma once

#include "state/program_state.h"

namespace kalvex {

void ShowPeakDefaults(ProgramState& state);             // kCodePkvals
void ShowDiffractometerConstants(ProgramState& state);  // kCodeDiffractometer
void EditBackgroundOptions(ProgramState& state);        // kCodeBackgrounds
void EditOutputFormat(ProgramState& state);             // kCodeOutputFormat

}  // namespace kalvex
