// "Fitting Controls & Results": reading its controls into the run and a
// fit's start, and showing start values, limits and results.
#pragma once

#include "state/program_state.h"

namespace kalvex {

// Reads the R and D columns (into params.refine_flag and default_flag),
// "Skip weak reflns", the limit toggles and limits (into params), and the
// Input column; returns them as a fit's controls (start = the Input column).
FitControls ReadFitControls(ProgramState& state);

// Shows the start values of `controls` that its rules set (Background and
// Position always; FWHM, Eta and Iratio when defaulted; Intensity when
// refined) and the limits' states.
void ShowSeededInputs(ProgramState& state, const FitControls& controls);

// The Input column, the R column and the limits from the state.
void ShowFitInputs(ProgramState& state);

// The Refined and ESD columns, Rwp and the flags of the last fit.
void ShowFitResults(ProgramState& state);

}  // namespace kalvex
