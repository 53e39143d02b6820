// The batch command that repeats a run: the request a session's automatic
// run corresponds to (the format, output format, defaults, background,
// preprocessing, Calc FWHM and Calc UB chosen), what no request can say,
// and the `kalvex integrate ...` line of a request.
#pragma once

#include <string>
#include <vector>

#include "engine/integrate.h"
#include "state/program_state.h"

namespace kalvex::engine {

// The request that integrates the session's data file as its automatic run
// did: files as absolute paths, the choices the session made.
IntegrateRequest SessionRequest(const ProgramState& state);

// What the session did that its request cannot repeat ("limits changed in
// Fitting Controls"), in the words the log gives them; empty when the
// request repeats the run.
std::vector<std::string> NotRepeated(const ProgramState& state);

// "kalvex integrate example.dca --par example.par --preprocess ...": the
// request's options, files named relative to `directory` (the data file's)
// and quoted for a shell where they need it; options at their defaults
// are left out.
std::string CommandLine(const IntegrateRequest& request, const std::string& directory);

// A name quoted for a POSIX shell when it holds anything but letters,
// digits and . _ - + / , : = @ %.
std::string ShellWord(const std::string& word);

}  // namespace kalvex::engine
