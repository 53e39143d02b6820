// "Auto profile fit": the whole data file integrated, one reflection per
// timer tick, with Go, Stop and Exit acting between two ticks.
#pragma once

#include "state/program_state.h"

namespace kalvex {

void AutoFit(ProgramState& state);  // kCodeAutoFit

}  // namespace kalvex
