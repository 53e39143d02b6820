// Reading the data file whatever its format: the two dispatchers, the
// quantities derived for every reflection, and the classification summary.
#pragma once

#include <string>
#include <vector>

#include "scan/readers.h"
#include "state/fit_state.h"

namespace kalvex {

// Reads the header with the reader of params.input_format. A Single file's
// header is its name (`data_file_name`) in the title.
ReadResult ReadScanHeader(const ReaderParts& p, const std::string& data_file_name);

// Reads a reflection for `request` with the format's reader and derives step
// positions, doublet shift, monochromator term and the highest count. At the
// end of the data (kEndOfData) and after an error nothing is derived.
ReadResult ReadNextReflection(const ReaderParts& p, int request, const Hkl& wanted = {0, 0, 0});

// The derived quantities of a freshly read reflection (a pure function of
// the record and the wavelengths).
void DeriveScanQuantities(ScanReflection& scan, float lambda1, float lambda2, float mono_shift);

// The classification summary as the log shows it (each line begins with the
// blank control character), its counts in fields of `width` columns: the
// log keeps its five, where 100,000 shows as "*****".
std::vector<std::string> ClassificationSummary(const std::array<int, kInputClasses>& input_class,
                                               const FitState& fit, int width = 5);
// The field width in which every count of the summary fits with a blank
// before it (at least five): for a summary that is no fixed-column record.
int SummaryWidth(const std::array<int, kInputClasses>& input_class, const FitState& fit);

}  // namespace kalvex
