// Start-up, the command loop and the one way the program ends.
#pragma once

#include <optional>
#include <string_view>

#include "state/program_state.h"
#include "toolkit/toolkit.h"
#include "ui/codes.h"

namespace kalvex {

// Start-up in its order: output format Rfine, the whole interface, "Open
// data file" (`data_file` first when given, as the browser gives a file),
// "Open parameter file". Does not enter the loop.
void StartUp(ProgramState& state, const std::optional<tk::BrowseResult>& data_file = std::nullopt);

// Runs the handler of `code`; false (and nothing changes) for a code the
// command table has no row for. Exit and the main window's closing set
// state.end_requested, as a fatal error does.
bool DispatchCommand(ProgramState& state, int code);

// Waits for actions and dispatches them until the program is to end; then
// EndProgram with the state's message. Returns the process's status.
int RunCommandLoop(ProgramState& state);

// The end of the program: an error box titled "WinKalvex" for a non-empty
// message, the toolkit closed; the status main returns (0 for a plain
// Exit, 1 after a fatal message).
int EndProgram(std::string_view message);

}  // namespace kalvex
