// Start-up, the command loop and the one way the program ends.
#pragma once

#include <string_view>

#include "shell/program_state.h"

namespace kalvex {

// Command codes of the main window and the menus.
constexpr int kCodeClosed = -1;
constexpr int kCodeExit = 101;
constexpr int kCodeOpenData = 312;
constexpr int kCodeOpenParameters = 313;
constexpr int kCodeOpenOutput = 314;
constexpr int kCodeMenuExit = 316;
constexpr int kCodeManualFit = 321;
constexpr int kCodeAutoFit = 322;
constexpr int kCodePreprocess = 331;
constexpr int kCodeCalcUB = 332;
constexpr int kCodeCalcBackground = 333;
constexpr int kCodeCalcFwhm = 334;
constexpr int kCodePkvals = 341;
constexpr int kCodeDiffractometer = 342;
constexpr int kCodeBackgrounds = 343;
constexpr int kCodeOutputFormat = 344;

// Start-up in its order: output format Rfine, the whole interface, "Open
// data file", "Open parameter file". Does not enter the loop.
void StartUp(ProgramState& state);

// Runs the handler of `code`; false (and nothing changes) for a code the
// command table has no row for.
bool DispatchCommand(ProgramState& state, int code);

// Waits for actions and dispatches them, forever; the program ends only
// through StopWithMessage.
[[noreturn]] void RunCommandLoop(ProgramState& state);

// The message as the error box shows it: the first 60 characters, ended by
// the first character outside codes 32..122; empty means no box.
std::string_view FatalMessageText(std::string_view message);

// Ends the program: an error box titled "WinKalvex" for a non-empty message,
// the toolkit closed, the process ended (status 0 for a plain Exit, 1 after
// a fatal message).
[[noreturn]] void StopWithMessage(std::string_view message);

// True once StopWithMessage has begun (its box is the fatal one).
bool Stopping();

}  // namespace kalvex
