// Fitting on behalf of the commands: the dialog read once into FitControls,
// the kernels of fit/ called, the results kept and shown.
#include "commands/fitting.h"

#include <optional>
#include <string>
#include <vector>

#include "commands/data_file.h"
#include "commands/orientation.h"
#include "commands/report.h"
#include "common/fixed_fields.h"
#include "fit/background.h"
#include "fit/fit_reflection.h"
#include "fit/intensity_file.h"
#include "toolkit/toolkit.h"
#include "ui/fit_dialog.h"

namespace kalvex {

namespace {

float CurrentFixedBackground(const ProgramState& state) {
  return FixedBackground(state.scan, state.params, state.fit.bg_table, state.scan.two_theta);
}

}  // namespace

float PredictedPosition(ProgramState& state) {
  const ScanReflection& scan = state.scan;
  const Angles angles = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  return PredictOmega(state, angles, scan.hkl) + OffsetCorrection(state, angles)[1];
}

FitControls SeedParameters(ProgramState& state) {
  FitControls controls = ReadFitControls(state);
  std::optional<float> predicted;
  if (controls.refine[kPosition] != 1 && controls.use_default[kPosition] == 1 &&
      state.orientation.corrections_valid) {
    predicted = PredictedPosition(state);
  }
  controls.start = SeedStartValues(state.scan, state.params, controls, CurrentFixedBackground(state), predicted);
  state.fit.peak.value = controls.start;
  ShowSeededInputs(state, controls);
  return controls;
}

void ResetParameters(ProgramState& state) {
  FitControls controls;
  controls.refine = state.params.refine_flag;
  controls.use_default = state.default_flag;
  std::optional<float> predicted;
  if (controls.refine[kPosition] != 1 && state.orientation.corrections_valid) predicted = PredictedPosition(state);
  state.fit.peak.value = DefaultStartValues(state.scan, state.params, controls, CurrentFixedBackground(state),
                                            predicted, state.fit.peak.value);
  ShowFitInputs(state);
}

void ShowStartValues(ProgramState& state) {
  bool all_zero = true;
  for (int k = 1; k <= kProfileParameters; ++k) all_zero = all_zero && state.fit.peak.value[k] == 0.0f;
  // ResetParameters shows what it sets.
  if (all_zero) {
    ResetParameters(state);
  } else {
    ShowFitInputs(state);
  }
}

void FitWithRetry(ProgramState& state) {
  // The retry follows the controls as they stood before this fit's seeding.
  const bool retry_allowed = state.default_flag[kPosition] == 1 && state.params.refine_flag[kPosition] == 1 &&
                             state.orientation.corrections_valid;
  const FitControls controls = SeedParameters(state);
  const RetriedFit fit = kalvex::FitWithRetry(state.scan, state.params, controls, retry_allowed,
                                              [&](const ScanReflection&) { return PredictedPosition(state); });
  static_cast<FitOutcome&>(state.fit) = fit.outcome;
  if (fit.first_status != 'R') {
    ++state.fit.outcome[1];
  } else {
    ++state.fit.outcome[OutcomeCounterOf(fit.first_reason)];
  }
  if (fit.refitted) {
    ++state.fit.refitted_count;
    // The retry's held Position is what the controls show.
    ShowSeededInputs(state, fit.last_controls);
  }
  if (fit.recovered) ++state.fit.recovered_count;
}

bool WriteIntegrated(ProgramState& state, Flush flush) {
  using fields::FormatReal;
  FileState& f = state.files;
  if (!f.output_open) return false;
  std::vector<std::string>& lines = f.record_lines;
  if (!FormatIntegrated(CurrentIntegrated(state), state.params.output_format, lines)) {
    // Too large for the file's fields: say so rather than lose it silently.
    f.log.Line(ReflectionLabel(state.scan) + "  NOT WRITTEN: I =" + FormatReal(state.fit.i_fit, 14, 1) +
               "  SIGMA =" + FormatReal(state.fit.sigma_fit, 12, 1) + " TOO LARGE");
    FlushLog(state);
    return false;
  }
  // The reflection's lines go out as one whole: all of them or none.
  for (const std::string& line : lines) f.output.Line(line);
  f.written.Insert(state.scan.seq_no);
  f.pending_seq_nos.push_back(state.scan.seq_no);
  NoteReflection(state);
  return FlushIntegrated(state, flush);
}

bool FlushIntegrated(ProgramState& state, Flush flush) {
  FileState& f = state.files;
  if (f.pending_seq_nos.empty()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (flush == Flush::kWhenDue && now - f.output_flushed_at < kOutputFlushInterval &&
      f.output.Pending() < kOutputBatchBytes) {
    return true;
  }
  f.output_flushed_at = now;
  if (f.output.Flush()) {
    f.pending_seq_nos.clear();
    return true;
  }
  // The batch is not in the file: its reflections were never written.
  for (int seq_no : f.pending_seq_nos) f.written.Erase(seq_no);
  f.pending_seq_nos.clear();
  tk::ErrorBox("WinKalvex", "Error writing integrated data file " + f.output.Error());
  f.log.Line(" ERROR WRITING INTEGRATED DATA FILE " + f.output.Error());
  FlushLog(state);
  state.end_requested = true;
  state.end_message = "ERROR WRITING INTEGRATED DATA FILE";
  return false;
}

bool AlreadyWritten(const ProgramState& state) { return state.files.written.Contains(state.scan.seq_no); }

}  // namespace kalvex
