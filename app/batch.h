// The batch command's work: what a user would do in the window, scripted.
#pragma once

#include <string>
#include <vector>

namespace kalvex {

struct BatchOptions {
  std::string data;
  std::string parameters;
  std::string output;
  // An existing intensity file is refused unless one of these says what to
  // do with it.
  bool append = false;
  bool replace = false;
  std::string input_format;
  std::string output_format = "rfine";
  float omega_step = 0.0f;
  bool skip_weak = false;
  std::vector<std::string> defaults;
  std::string background;
  int nstep_bg = 0;
  bool calc_background = false;
  bool quiet = false;
  // Before the integration: a preprocessing pass, the FWHM line, "Calc UB".
  bool preprocess = false;
  float threshold = 30.0f;
  bool calc_fwhm = false;
  bool calc_ub = false;
  std::string system;  // empty: unconstrained
  bool offsets = false;
  bool omega_zero = false;
  // The diagnostics report written after the run (HTML); empty for none.
  std::string report;
};

// Runs the integration and prints its outcome; the exit status: 0 after a
// whole run, 1 after a file that cannot be read or written or a reflection
// the data file ends inside, 2 for a request that makes no sense.
int RunBatch(const BatchOptions& options);

}  // namespace kalvex
