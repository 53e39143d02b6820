// "Report..." of the File menu and of the End of Run dialog: the session's
// diagnostics report, written where the browser says.
#pragma once

#include <string>

#include "state/program_state.h"

namespace kalvex {

// "Report...": asks for the file through the browser and writes it.
void SaveReport(ProgramState& state);  // kCodeReport

}  // namespace kalvex
