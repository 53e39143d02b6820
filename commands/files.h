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
// `name` is the data, parameter or output file or the log of this run: a
// file the program must not write anything else over.
bool IsRunFile(const FileState& f, const std::string& name);

// The input format the format dialog preselects for a data-file name, from
// the three characters after its last "." (.dca Xcalibur, .dat CAD4, .p4t
// Xscans, in any case); 0 when the extension names none. Single is never
// preselected.
int FormatFromName(std::string_view data_file_name);

// The log's name for a data file: the name up to and including its first
// ".", then "log"; a name without "." gives "log".
std::string LogFileName(std::string_view data_file_name);

// The output name as opened: ".INT" appended to a name without ".".
std::string OutputFileName(std::string_view chosen);

// Local date and time in the log banner's 24-character form,
// "Www Mmm dd hh:mm:ss yyyy".
std::string LogTimestamp();

}  // namespace kalvex
