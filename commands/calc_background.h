// "Calc Background": the background table and the exponential built from
// the end steps of every reflection of the data file.
#pragma once

#include "state/program_state.h"

namespace kalvex {

void CalcBackground(ProgramState& state);  // kCodeCalcBackground

}  // namespace kalvex
