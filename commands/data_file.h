// The data file as the commands walk it: reading a reflection, rewinding,
// and what a read error means in a session (the message shown, the file
// closed, the rest of the session kept).
#pragma once

#include <string>
#include <string_view>

#include "scan/readers.h"
#include "state/program_state.h"

namespace kalvex {

ReaderParts PartsOf(ProgramState& state);

// Reads for `request`. At the end of the data shows "End of input data
// file". After a read error (kReadError) the data file is closed: see
// DataFileFailed.
int ReadReflection(ProgramState& state, int request, const Hkl& wanted = {0, 0, 0});

// Rewinds to the first reflection and reads the header again; a Single file
// asks for its omega step again. False after a read error.
bool RewindDataFile(ProgramState& state);

// A file that cannot be read: the reader's message in the program's box
// and in the log.
void ShowReadError(ProgramState& state, const ReadError& error);

// Shows the read error, closes the data file and greys what needs one. The parameters, the
// refined orientation and the output file stay.
void DataFileFailed(ProgramState& state, const ReadError& error);

// Zeroes the input-class counters, the outcome counters and the refitted and
// recovered counters.
void ResetRunCounters(ProgramState& state);

// The classification summary, appended to the run log.
void WriteClassificationSummary(ProgramState& state);

// " REFLECTION nnnnnn  HKL hhhkkklll": how the log names the current reflection.
std::string ReflectionLabel(const ScanReflection& scan);

// A reflection whose counts were cut short (read status 11) would place a
// wrong peak: it is named in the log with what is not done with it.
void LogUnreadReflection(ProgramState& state, std::string_view consequence);

}  // namespace kalvex
