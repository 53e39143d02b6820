// The "End of Run" dialog: the classification summary of the pass just
// ended, as the log has it, and what the pass did not write. It stays up
// while the user goes on; its buttons act from the command loop.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "state/program_state.h"

namespace kalvex {

// The dialog's lines: `heading`, the `notes` (each wrapped at ", " to the
// summary's width), then `summary` (the log's lines, control character
// dropped, runs of blank lines made one).
std::string RunEndText(std::string_view heading, const std::vector<std::string>& notes,
                       const std::vector<std::string>& summary);

// Shows the dialog for the counters as they stand.
void ShowRunEnd(ProgramState& state, std::string_view heading, const std::vector<std::string>& notes);
void CloseRunEnd(ProgramState& state);  // kCodeRunEndClose

// "Report..." of the dialog (kCodeRunEndReport): the data-set report of the
// session, written where the browser says, as the File menu's "Report...".
void OpenReportFromRunEnd(ProgramState& state);

}  // namespace kalvex
