// A whole data file integrated by one call: what `kalvex integrate` and the
// Python module do, and what a user does in the window with "Auto profile
// fit" (after Preprocess, Calc FWHM and Calc UB when asked).
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/read_error.h"
#include "engine/events.h"
#include "engine/run.h"
#include "state/program_state.h"

namespace kalvex::engine {

// What to do with an intensity file that exists.
enum class ExistingOutput { kRefuse, kAppend, kReplace };

struct IntegrateRequest {
  std::string data;        // the data file
  std::string parameters;  // the parameter file
  std::string output;      // empty: the data file's name with ".int"
  ExistingOutput existing = ExistingOutput::kRefuse;
  int input_format = 0;    // kFormat...; 0: from the data file's extension
  int output_format = kOutputRfine;
  float omega_step = 0;    // a Single file's; 0 keeps the program's default
  bool skip_weak = false;
  // Start values taken from their default rules ("D" column), [1..6].
  ProfileFlags defaults{};
  int background = -1;     // kBg...; -1 as the parameter file says
  int nstep_bg = 0;        // steps of each scan end for "from scan"; 0 as read
  bool calc_background = false;
  bool preprocess = false;
  float threshold = 30.0f;
  bool calc_fwhm = false;
  bool calc_ub = false;
  RefinementOptions refinement;
};

// Why a run ended early.
enum class Failure {
  kNone,
  kUsage,     // the request makes no sense (a file of the run as output, ...)
  kReadError, // a file that cannot be read
  kFatal,     // a file that cannot be written, or a pass that cannot go on
};

struct IntegrateOutcome {
  Failure failure = Failure::kNone;
  std::string message;             // with a failure: what to tell the user
  std::optional<ReadError> read_error;
  // What the run found and wrote.
  int preprocessed = 0;            // reflections kept by preprocessing
  std::optional<FwhmLine> fwhm;    // with calc_fwhm
  bool orientation_refined = false;
  std::vector<std::string> summary;   // the classification summary, as the log has it
  std::vector<std::string> notes;     // what the End of Run dialog says
  std::vector<int> unwritten;         // sequence numbers the intensity file lacks
  std::vector<std::string> cut_short; // reflections the data file ends inside
  std::string output_path, log_path;  // as written, absolute
  // The run's state at its end: the refined orientation, the counters, the
  // session record for a report.
  std::unique_ptr<ProgramState> state;

  int ExitStatus() const {
    if (failure == Failure::kUsage) return 2;
    return failure == Failure::kNone && cut_short.empty() ? 0 : 1;
  }
};

// Integrates the request's data file. Never ends the process; every box the
// window would show goes through `events`.
IntegrateOutcome Integrate(const IntegrateRequest& request, const Events& events);

}  // namespace kalvex::engine
