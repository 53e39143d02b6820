// "Fitting Controls & Results": reading its controls into the run and a
// fit's start, and showing start values, limits and results.
#pragma once

#include "state/program_state.h"

namespace kalvex {

// Reads the dialog into the state the run's fits take their controls from:
// the R and D columns (params.refine_flag, default_flag), "Skip weak
// reflns", the limit toggles and limits (params) and the Input column
// (fit.inputs).
void ReadFitControls(ProgramState& state);

// Shows the Input column as the run's seeding left it (fit.inputs) and the
// limits' states.
void ShowSeededInputs(ProgramState& state);

// The Input column, the R column and the limits from the state.
void ShowFitInputs(ProgramState& state);

// The Refined and ESD columns, Rwp and the flags of the last fit.
void ShowFitResults(ProgramState& state);

}  // namespace kalvex
