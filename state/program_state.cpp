// The run's record, made once by main or by a test.
#include "state/program_state.h"

namespace kalvex {

std::unique_ptr<ProgramState> NewProgramState() { return std::make_unique<ProgramState>(); }

}  // namespace kalvex
