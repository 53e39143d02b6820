// "Preprocess": a pass over the whole data file that keeps the strong,
// well-fitted reflections for "Calc UB" and "Calc FWHM"; and "Calc FWHM".
#pragma once

#include "state/program_state.h"

namespace kalvex {

void ShowPreprocessingControl(ProgramState& state);  // kCodePreprocess
void RunPreprocessing(ProgramState& state);
void CalcFwhmLine(ProgramState& state);  // kCodeCalcFwhm

// The weighted straight line fwhm = a + b tan(theta) through the list
// entries whose fwhm ESD exceeds 0.0001, with the ESDs of a and b. With
// fewer than two distinct tan(theta) among them everything is 0.
struct FwhmLine {
  float a = 0, b = 0, esd_a = 0, esd_b = 0;
};
FwhmLine FitFwhmLine(const PreprocessedList& list);

}  // namespace kalvex
