// Xscans scan files: the decoder of the count
// lines, where every count is a run of letters closed by one terminator.
#pragma once

#include <array>
#include <string_view>

#include "common/text_files.h"
#include "state/scan_reflection.h"

namespace kalvex {

// Longest letter run taken as a count: eight base-52 letters already exceed
// any counter, and the value still fits 64 bits.
constexpr int kMaxLetterRun = 8;

// Value 0..41 of a terminator character; 0 for every other character.
int TerminatorValue(char c);

// 42 * L for a run of letter digits read as a base-52 number, most
// significant first ('A'..'Z' = 0..25, 'a'..'z' = 26..51); an empty run is 0.
// -1 for a run longer than kMaxLetterRun.
long long DecodeLetterRun(std::string_view letters);

// Decodes counts from the count lines at the reading position of `data`
// (columns 1-80 of each; blanks ignored; a run may continue on the next
// line) until `step_count` counts are stored. A terminator after the last
// needed count on the same line is still stored in the next entry while
// the record has room. Returns 0, or 1 when the file ends first or a count
// line holds a character that is no count digit.
int ReadEncodedCounts(textfile::LineSource& data, int step_count, std::array<float, kMaxSteps>& counts);

}  // namespace kalvex
