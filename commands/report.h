// The diagnostics report of a session: what is noted of each reflection as
// it is written, and the report written to a file ("Report...", and the
// batch command's --report).
#pragma once

#include <string>

#include "state/program_state.h"

namespace kalvex {

// Notes the current reflection, just written to the intensity file.
void NoteReflection(ProgramState& state);

// Writes the report of the session so far to `path` (HTML with its plots
// inside). Empty on success, else "<path>: <the system's reason>".
std::string WriteSessionReport(const ProgramState& state, const std::string& path);

// "Report...": asks for the file through the browser and writes it.
void SaveReport(ProgramState& state);  // kCodeReport

}  // namespace kalvex
