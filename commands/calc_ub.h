// "Calc UB": the refinement options, the refinement itself, its report in
// the log and the results dialog.
#pragma once

#include "state/program_state.h"

namespace kalvex {

struct RefinementOptions {
  bool refine = false;  // "Refine" pressed
  int crystal_system = 0;
  bool offsets = false;
  bool omega_zero = false;
};

void CalcUB(ProgramState& state);  // kCodeCalcUB
RefinementOptions AskRefinementOptions(ProgramState& state);
void ShowWorkingBox(ProgramState& state, int flag);
void ShowRefinementResults(ProgramState& state, int n);

// Runs the refinement `options` choose on the preprocessed list and writes
// its report to the log (no dialogs).
void RefineAndReport(ProgramState& state, const RefinementOptions& options);

}  // namespace kalvex
