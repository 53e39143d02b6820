// The data file as the commands walk it: reading a reflection, rewinding,
// and what a read error means in a session (the message shown, the file
// closed, the rest of the session kept).
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/readers.h"
#include "state/program_state.h"

namespace kalvex {

ReaderParts PartsOf(ProgramState& state);

// What the box at the end of the data says first.
constexpr std::string_view kEndOfDataText = "End of input data file";

// Reads for `request`. At the end of the data shows "End of input data
// file" (unless `announce_end` is false: the caller says more). After a read
// error (kReadError) the data file is closed: see DataFileFailed. A
// reflection cut short (kReadFailed) is named in the log and in a box.
int ReadReflection(ProgramState& state, int request, const Hkl& wanted = {0, 0, 0}, bool announce_end = true);

// Reads the reflection in memory again with the run parameters as they now
// stand (after a parameter file: the attenuator factor), without counting
// it again and without the header's values undoing the parameter file's.
void ReadReflectionAgain(ProgramState& state);

// The sequence numbers of the open data file below `before`, in file order,
// as a pass over it reads them (reflections the pass would skip are not among
// them). The file's place and the reflection in memory are left as they are.
std::vector<int> FileSequenceNumbers(ProgramState& state, int before = std::numeric_limits<int>::max());

// Counts the reflections of the open data file in a pass of its own (read,
// not fitted, nothing kept but where each ends) into state.files; the file's
// place and the reflection in memory are left as they are. A file damaged
// further on is left uncounted: the run that meets the damage ends there.
void CountFileReflections(ProgramState& state);
// The reflections of the counted file up to the reading position, or up to
// `at` while the file is another's to read: how far a pass has come. -1
// when the file is not counted.
int ReflectionsPassed(const ProgramState& state, std::optional<std::size_t> at = std::nullopt);

// "1-13, 20, 25-30": sorted numbers as ranges.
std::string Ranges(const std::vector<int>& numbers);

// The sequence numbers of the data file not written to the open intensity
// file in this session, sorted; `run` holds those a run read, from its first.
std::vector<int> UnwrittenSequenceNumbers(ProgramState& state, const std::vector<int>& run);
// "Reflections 1-13 are not in example.int" for `missing`, the ranges cut to
// `room` characters ("..." after the last that fits); empty when none.
std::string UnwrittenNote(const std::vector<int>& missing, const std::string& file,
                          std::size_t room = std::string::npos);

// Writes the log's pending lines; a log that cannot be written ends the
// program with the file and the system's reason named.
void FlushLog(ProgramState& state);

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
// Counts the reflection in memory again after ResetRunCounters: a run that
// starts with it integrates it, and every reflection of a run counts once.
void CountReflectionInMemory(ProgramState& state);

// The classification summary, appended to the run log.
void WriteClassificationSummary(ProgramState& state);

// " REFLECTION nnnnnn  HKL hhhkkklll": how the log names the current reflection.
std::string ReflectionLabel(const ScanReflection& scan);

// A reflection whose counts were cut short (read status 11) would place a
// wrong peak: it is named in the log with what is not done with it.
void LogUnreadReflection(ProgramState& state, std::string_view consequence);

}  // namespace kalvex
