// The instrument parameter file: keyword lines with fixed-column fields.
#pragma once

#include "shell/program_state.h"

namespace kalvex {

// Reads the whole parameter file already opened on state.files.parameters
// into RunParameters, echoing every line to the log. Fatal conditions end
// the program.
void ReadParameterFile(ProgramState& state);

// The monochromator angle difference between the two wavelengths, degrees.
float MonoShift(float mono_2theta, int mono_orient, float lambda1, float lambda2);

}  // namespace kalvex
