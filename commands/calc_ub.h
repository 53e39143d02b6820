// "Calc UB": the refinement options, the refinement itself, its report in
// the log and the results dialog.
#pragma once

#include <optional>

#include "engine/run.h"
#include "state/program_state.h"

namespace kalvex {

void CalcUB(ProgramState& state);  // kCodeCalcUB
// The choices of the options dialog; none when it was quit.
std::optional<engine::RefinementOptions> AskRefinementOptions(ProgramState& state);
void ShowWorkingBox(ProgramState& state, int flag);
void ShowRefinementResults(ProgramState& state, int n);


}  // namespace kalvex
