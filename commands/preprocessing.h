// "Preprocess": a pass over the whole data file that keeps the strong,
// well-fitted reflections for "Calc UB" and "Calc FWHM"; and "Calc FWHM".
#pragma once

#include "state/program_state.h"

namespace kalvex {

void ShowPreprocessingControl(ProgramState& state);  // kCodePreprocess
void RunPreprocessing(ProgramState& state);
void CalcFwhmLine(ProgramState& state);  // kCodeCalcFwhm

}  // namespace kalvex
