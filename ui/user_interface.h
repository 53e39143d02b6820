// Every window of the program, built once at start-up and kept for the run.
#pragma once

#include "state/program_state.h"
#include "ui/codes.h"

namespace kalvex {

// Initialises the toolkit on a 32 x 24 grid and builds the main window, its
// menus and all dialogs; only the main window is shown. False when the
// window system cannot be started.
bool BuildUserInterface(ProgramState& state);

}  // namespace kalvex
