// The format readers behind the dispatchers. Each header reader reads the
// data-file header from the current position; each reflection reader fills
// the current ScanReflection for a request (0: find `wanted` hkl from the
// start; seq_no - 1: step back; else the first reflection whose sequence
// number is at least the target) and returns a ReadStatus. Fatal conditions
// end the program through StopWithMessage with the reader's own message.
#pragma once

#include <array>
#include <string>

#include "shell/program_state.h"

namespace kalvex {

using Hkl = std::array<int, 3>;

int ReadXcaliburHeader(ProgramState& state);
int ReadXcaliburReflection(ProgramState& state, int request, const Hkl& wanted);

int ReadCad4Header(ProgramState& state);
int ReadCad4Reflection(ProgramState& state, int request, const Hkl& wanted);

int ReadSingleHeader(ProgramState& state);
int ReadSingleReflection(ProgramState& state, int request, const Hkl& wanted);

int ReadXscansHeader(ProgramState& state);
int ReadXscansReflection(ProgramState& state, int request, const Hkl& wanted);

// Ends the program with a reader's message and the true number in the file
// of the line read last (or of the line given): "<message> at line N".
[[noreturn]] void FailAtLine(const textfile::LineSource& data, const std::string& message);
[[noreturn]] void FailAtLine(int line_number, const std::string& message);

// The entry 1..count of the standards table whose hkl equals `hkl`, or 0.
int FindStandard(const StandardsTable& table, const Hkl& hkl);

}  // namespace kalvex
