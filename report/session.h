// What the diagnostics report of a session keeps as the reflections reach
// the intensity file, and the report written to a file ("Report...", the
// batch command's --report).
#pragma once

#include <string>

#include "report/report.h"
#include "state/program_state.h"

namespace kalvex::report {

// Notes the current reflection, just written to the intensity file.
void NoteReflection(ProgramState& state);

// What the report of the session shows, dated `date`.
ReportInput SessionReportInput(const ProgramState& state, const std::string& date);

// Writes the report of the session so far to `path` (HTML with its plots
// inside), dated now. Empty on success, else "<path>: <the system's reason>".
std::string WriteSessionReport(const ProgramState& state, const std::string& path);

}  // namespace kalvex::report
