// "Manual profile fit": walking through the data file, refitting, accepting
// and rejecting reflections one by one.
#pragma once

#include <array>
#include <string_view>

#include "state/program_state.h"

namespace kalvex {

void ManualFit(ProgramState& state);  // kCodeManualFit

// The indices typed into the main window's hkl entry: single blanks or
// commas between the numbers; a leading blank leaves h at 0.
std::array<int, 3> ParseHklEntry(std::string_view text);

}  // namespace kalvex
