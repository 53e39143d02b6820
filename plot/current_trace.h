// The current reflection's scan and fit as a picture draws them: what the
// window's plot shows and the report keeps of a rejected scan.
#pragma once

#include "plot/picture.h"
#include "state/program_state.h"

namespace kalvex::plot {

ScanTrace CurrentTrace(const ProgramState& state);

}  // namespace kalvex::plot
