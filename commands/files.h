// Choosing and opening the data, parameter and output files, the input
// format, and the run log that every opened data file starts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "state/program_state.h"
#include "toolkit/toolkit.h"

namespace kalvex {

void OpenDataFile(ProgramState& state);       // 312, and at start-up
void OpenRecentDataFile(ProgramState& state, int index);  // 317.., entry `index` of File > Recent data files
// Opens `first_choice` if given (as the browser gives a file), else or when
// it does not open the file the user browses to.
void OpenDataFileFrom(ProgramState& state, const std::optional<tk::BrowseResult>& first_choice);
void OpenParameterFile(ProgramState& state);  // 313, and at start-up
void OpenOutputFile(ProgramState& state);     // 314
void ChooseInputFormat(ProgramState& state);
}  // namespace kalvex
