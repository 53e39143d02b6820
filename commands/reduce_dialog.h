// "Reduce to SHELX/CIF...": the session's intensity file (or one chosen
// now) and the run's parameter file reduced to an HKLF 4 file and a CIF,
// with the summary shown and written to the log.
#pragma once

#include "state/program_state.h"

namespace kalvex {

void ReduceToShelx(ProgramState& state);  // kCodeReduce

}  // namespace kalvex
