// The orientation kernels on the run's state, showing their notices as the
// program's boxes: what "Calc UB" and the predicted peak positions use.
#pragma once

#include <span>

#include "refine/cell_lsq.h"
#include "refine/geometry.h"
#include "refine/notices.h"
#include "refine/offsets.h"
#include "state/program_state.h"

namespace kalvex {

// Shows every notice as its error box, in order; kCalcbError also writes its
// line to the log when one is open.
void ShowNotices(ProgramState& state, const Notices& notices);

bool OMTOB(ProgramState& state);
bool CALCB(ProgramState& state);
float PredictOmega(ProgramState& state, const Angles& angles, const Hkl& hkl);
Vec3 OffsetCorrection(const ProgramState& state, const Angles& angles);

// LSQ on given angles (the offsets cycles pass corrected omegas) or on the
// preprocessed list, LSVEC on the preprocessed list.
bool LSQ(ProgramState& state, std::span<const Angles> angles, std::span<const Hkl> hkl);
bool LSQ(ProgramState& state);
bool LSVEC(ProgramState& state, int system);

// The offsets and omega-zero cycles on the preprocessed list.
int LSQ_OFFSETS(ProgramState& state, int refine_omega_zero);
int RefineOmegaZero(ProgramState& state);

}  // namespace kalvex
