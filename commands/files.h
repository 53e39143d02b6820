// Choosing and opening the data, parameter and output files, the input
// format, and the run log that every opened data file starts.
#pragma once

#include <string>
#include <string_view>

#include "state/program_state.h"

namespace kalvex {

void OpenDataFile(ProgramState& state);       // 312, and at start-up
void OpenParameterFile(ProgramState& state);  // 313, and at start-up
void OpenOutputFile(ProgramState& state);     // 314
void ChooseInputFormat(ProgramState& state);

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
