// What is known of the open data file beyond its current reflection: the
// standards named in its header, its title, the input-class counters, and
// what each format's reader keeps between reflections.
#pragma once

#include <array>
#include <string>

#include "state/scan_reflection.h"

namespace kalvex {

struct Cad4Format {
  int strong_speed_code = 0;  // speed code of reflections measured as strong
  int max_scan_time = 0;      // seconds; the weak speed code derives from it
};

struct XcaliburFormat {
  float scan_speed = 0;  // degrees of omega per unit of counting time ("sc s")
  float width_a = 0;     // scan width A + B tan(theta) ("sc w")
  float width_b = 0;
  float divisor = 1;      // C: sin(theta) of the file is divided by it
  int default_steps = 0;  // steps of an ordinary reflection
};

struct SingleFormat {
  // Step time of the first Single reflection read since start-up; every
  // later reflection is scaled to it.
  bool reference_time_set = false;
  float reference_time = 0;
};

struct XscansFormat {
  int step_count = 0;  // from the "CHECKR" line; every reflection has it
};

struct DataSet {
  StandardsTable standards;
  std::string title;  // data set title, up to 60 characters
  std::array<int, kInputClasses> input_class{};
  // The counter the reflection in memory was counted in when it was read;
  // -1 when none was.
  int counted_class = -1;

  // Counts a reflection read in class `c` (an InputClass).
  void Count(int c) {
    ++input_class[c];
    counted_class = c;
  }
  int skip_weak = 0;         // "Skip weak reflns": readers pass weak ones over
  float omega_step = 0.02f;  // step width of Single files, asked of the user
  Cad4Format cad4;
  XcaliburFormat xcalibur;
  SingleFormat single;
  XscansFormat xscans;
};

}  // namespace kalvex
