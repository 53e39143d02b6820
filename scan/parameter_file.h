// The instrument parameter file: keyword lines with fixed-column fields.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/read_error.h"
#include "common/text_files.h"
#include "state/run_parameters.h"

namespace kalvex {

// Which required keywords have been read (PKPAR, FITLIM, ATTEN, WAVEL,
// RFLAGS, TFLAGS, PARITY, MONO); kept across parameter files of a run.
using ParameterMarks = std::array<bool, 8>;

struct ParameterFileResult {
  std::vector<std::string> echo;  // the lines read, each whole, as log records (control character first)
  std::optional<ReadError> error;
};

// Reads the whole parameter file from its start into `params` and `marks`.
// On an error the two hold what was read before it: read into copies to
// keep the run's own.
ParameterFileResult ReadParameterFile(textfile::LineSource& in, RunParameters& params, ParameterMarks& marks);

}  // namespace kalvex
