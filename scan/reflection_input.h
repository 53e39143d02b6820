// Reading the data file whatever its format: the two dispatchers, the
// quantities derived for every reflection, and the run's counters.
#pragma once

#include <string>
#include <vector>

#include "scan/readers.h"
#include "shell/program_state.h"

namespace kalvex {

// Zeroes the input-class counters, the outcome counters and the refitted and
// recovered counters.
void ResetRunCounters(ProgramState& state);

// Reads the header with the reader of input_format; returns its status.
int ReadScanHeader(ProgramState& state);

// Reads a reflection for `request` with the format's reader and derives step
// positions, doublet shift, monochromator term and the highest count.
// Status 12 shows "End of input data file" and changes nothing else.
int ReadNextReflection(ProgramState& state, int request, const Hkl& wanted = {0, 0, 0});

// The derived quantities of a freshly read reflection (a pure function of
// the record and the wavelengths).
void DeriveScanQuantities(ScanReflection& scan, float lambda1, float lambda2, float mono_shift);

// The classification summary, appended to the run log; its lines as the
// log shows them (each begins with the blank control character).
void WriteClassificationSummary(ProgramState& state);
std::vector<std::string> ClassificationSummary(const ProgramState& state);

}  // namespace kalvex
