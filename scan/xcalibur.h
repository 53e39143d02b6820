// Xcalibur Ascii scan files (*.dca): what the reader keeps from the header
// between reflections, and its checked line reader.
#pragma once

#include <string>

#include "common/text_files.h"

namespace kalvex {

struct XcaliburFormat {
  float scan_speed = 0;  // degrees of omega per unit of counting time ("sc s")
  float width_a = 0;     // scan width A + B tan(theta) ("sc w")
  float width_b = 0;
  float divisor = 1;     // C: sin(theta) of the file is divided by it
  int default_steps = 0;  // steps of an ordinary reflection
};

// The next line of the data file, cut to 80 columns; false at the end of the
// file. A line whose first character is not `expected` (a blank accepts any)
// ends the program with a message naming the file's true line number.
bool ReadCheckedLine(textfile::LineSource& data, std::string& line, char expected);

}  // namespace kalvex
