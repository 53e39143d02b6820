// "Report..." of the File menu and of the End of Run dialog: the session's
// diagnostics report, written where the browser says.
#pragma once

#include <string>

#include "state/program_state.h"

namespace kalvex {

// "Report...": asks for the file through the browser and writes it.
void SaveReport(ProgramState& state);  // kCodeReport

// "Copy batch command": the `kalvex integrate` line that repeats the
// session's automatic run (also in the log at the end of each) on the
// clipboard, and in the status bar with what it does not repeat.
void CopyBatchCommand(ProgramState& state);  // kCodeCopyCommand

}  // namespace kalvex
