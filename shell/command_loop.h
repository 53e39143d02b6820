// Start-up, the command loop and the one way the program ends.
#pragma once

#include <functional>
#include <string_view>

#include "state/program_state.h"
#include "ui/codes.h"

namespace kalvex {

// Start-up in its order: output format Rfine, the whole interface, "Open
// data file", "Open parameter file". Does not enter the loop.
void StartUp(ProgramState& state);

// Runs the handler of `code`; false (and nothing changes) for a code the
// command table has no row for.
bool DispatchCommand(ProgramState& state, int code);

// Waits for actions and dispatches them, forever; the program ends only
// through StopWithMessage.
[[noreturn]] void RunCommandLoop(ProgramState& state);

// Ends the program: an error box titled "WinKalvex" for a non-empty message,
// the toolkit closed, the process ended (status 0 for a plain Exit, 1 after
// a fatal message).
[[noreturn]] void StopWithMessage(std::string_view message);

// True once StopWithMessage has begun (its box is the fatal one).
bool Stopping();

// `action` runs as StopWithMessage begins, before its words go to stderr:
// a batch run ends the progress line it keeps on the terminal there.
void BeforeLastWords(std::function<void()> action);

}  // namespace kalvex
