// Xcalibur Ascii scan files (*.dca): the checked line reader.
#pragma once

#include <string>

#include "common/text_files.h"

namespace kalvex {

// The next line of the data file, cut to 80 columns; false at the end of the
// file. A line whose first character is not `expected` (a blank accepts any)
// fails the read (reader::Failure) with a message naming the file's true
// line number: call it inside a reader.
bool ReadCheckedLine(textfile::LineSource& data, std::string& line, char expected);

}  // namespace kalvex
