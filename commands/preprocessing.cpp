// The preprocessing pass, driven by the toolkit timer like the automatic
// integration, and the FWHM line fitted from what it kept.
#include "commands/preprocessing.h"

#include <cmath>
#include <string>

#include "commands/data_file.h"
#include "commands/fitting.h"
#include "commands/progress.h"
#include "commands/run_end.h"
#include "common/constants.h"
#include "fit/fit_reflection.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/fit_dialog.h"
#include "ui/scan_plot.h"
#include "ui/user_interface.h"

namespace kalvex {

namespace {

constexpr int kPassInterval = 10;

void SetRunning(const Widgets& w, bool running) {
  tk::WidgetStatus(w.main[kWGo], running ? tk::kGreyed : tk::kActive);
  tk::WidgetStatus(w.main[kWStop], running ? tk::kActive : tk::kGreyed);
  tk::SetCallTime(kPassInterval, running ? kCodeTimer : 0);
}

enum class Step { kGoOn, kEndOfData, kListFull, kReadError };

// One reflection of the pass: read, fit, show, count, keep.
Step ProcessOne(ProgramState& state, float threshold) {
  const int status = ReadReflection(state, state.scan.seq_no + 1);
  if (status == kEndOfData) return Step::kEndOfData;
  if (status == kReadError) return Step::kReadError;
  ScanReflection& scan = state.scan;
  if (status == kReadFailed) {
    LogUnreadReflection(state, "NOT FITTED, NOT STORED");
    return Step::kGoOn;
  }
  const FitControls controls = SeedParameters(state);
  static_cast<FitOutcome&>(state.fit) = FitReflection(scan, state.params, controls);
  PlotScan(state);
  ShowFitResults(state);
  if (scan.class_code[1] == 'R') {
    ++state.fit.outcome[OutcomeCounterOf(scan.class_code[2])];
    return Step::kGoOn;
  }
  ++state.fit.outcome[1];
  const float sigma = state.fit.sigma_fit;
  if (scan.standard_index != 0 || !(sigma > 0.0f) || !(state.fit.i_fit / sigma > threshold)) return Step::kGoOn;
  PreprocessedList& list = state.preprocessed_list;
  if (list.count >= kMaxPreprocessed) {
    tk::ErrorBox("WinKalvex", "Too many reflections: Increase I/sig");
    return Step::kListFull;
  }
  PreprocessedEntry& e = list.entries[list.count++];
  e.angles = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  e.hkl = scan.hkl;
  e.fwhm = state.fit.peak.value[kFwhm];
  e.fwhm_esd = state.fit.peak.esd[kFwhm];
  e.background = state.fit.peak.value[kBackground];
  return Step::kGoOn;
}

}  // namespace

void ShowPreprocessingControl(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (!state.files.data_open) return;
  ShowStartValues(state);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);
  OpenModal(state, w.preprocess_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeClosed) state.end_requested = true;
    if (code == kCodeClosed || code == kCodeExit || code == kCodePreprocessQuit) {
      tk::WindowRemove(w.preprocess_dialog);
      RestoreMainWindow(state);
      return;
    }
    if (code == kCodeResetDefaults) {
      ResetParameters(state);
    } else if (code >= kCodeRefineToggle + 1 && code <= kCodeLimitsToggle + 8) {
      SeedParameters(state);
    } else if (code == kCodePreprocessGo) {
      RunPreprocessing(state);
      return;
    }
  }
}

void RunPreprocessing(ProgramState& state) {
  const Widgets& w = state.widgets;
  ResetRunCounters(state);
  state.preprocessed_list.count = 0;
  state.fitting_mode = kAutomaticFitting;
  state.data_set.skip_weak = 1;
  const float threshold = std::max(tk::GetNumber(w.preprocess_threshold), 3.0f);

  tk::WindowRemove(w.preprocess_dialog);
  if (!RewindDataFile(state)) {
    RestoreMainWindow(state);
    return;
  }
  for (int n : {int{kWHklLabel}, int{kWHklEntry}, int{kWSeqLabel}, int{kWSeqEntry}, int{kWAnglesLabel}, int{kWAngle1}, kWAngle1 + 1, kWAngle1 + 2,
                kWAngle1 + 3})
    tk::WidgetStatus(w.main[n], tk::kActive);
  SetRunning(w, true);
  PassProgress progress(state);
  for (;;) {
    switch (tk::Wait()) {
      case kCodeClosed:
        state.end_requested = true;
        [[fallthrough]];
      case kCodeExit:
        tk::SetCallTime(kPassInterval, 0);
        RestoreMainWindow(state);
        return;
      case kCodeStop:
        SetRunning(w, false);
        progress.Show();
        break;
      case kCodeGo:
        SetRunning(w, true);
        progress.Resume();
        break;
      case kCodeTimer:
        switch (ProcessOne(state, threshold)) {
          case Step::kGoOn:
            progress.Update();
            break;
          case Step::kListFull:
          case Step::kReadError:
            tk::SetCallTime(kPassInterval, 0);
            RestoreMainWindow(state);
            return;
          case Step::kEndOfData:
            tk::SetCallTime(50, 0);
            progress.Show();
            RestoreMainWindow(state);
            SetPreprocessedState(state, 1);
            WriteClassificationSummary(state);
            ShowRunEnd(state, "Preprocess of " + state.files.data_file_name + ": end of input data file",
                       {std::to_string(state.preprocessed_list.count) +
                        " reflections kept for Calc UB and Calc FWHM; nothing is written"});
            return;
        }
        break;
      default:
        break;
    }
  }
}

FwhmLine FitFwhmLine(const PreprocessedList& list) {
  double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < list.count; ++i) {
    const PreprocessedEntry& e = list.entries[i];
    if (!(e.fwhm_esd > 0.0001f)) continue;
    const double w = 1.0 / (static_cast<double>(e.fwhm_esd) * e.fwhm_esd);
    const double x = std::tan(kHalfRadPerDeg * e.angles[0]);
    s += w;
    sx += w * x;
    sy += w * e.fwhm;
    sxx += w * x * x;
    sxy += w * x * e.fwhm;
  }
  FwhmLine line;
  const double d = s * sxx - sx * sx;
  // One distinct tan(theta) (or none) fixes no line: D is zero up to rounding.
  if (!(d > 1e-12 * s * sxx)) return line;
  line.a = static_cast<float>((sxx * sy - sx * sxy) / d);
  line.b = static_cast<float>((s * sxy - sx * sy) / d);
  line.esd_a = static_cast<float>(std::sqrt(sxx / d));
  line.esd_b = static_cast<float>(std::sqrt(s / d));
  return line;
}

void CalcFwhmLine(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (state.preprocessed != 1) {
    tk::ErrorBox("WinKalvx", "Run PreProcess first");
    return;
  }
  const FwhmLine line = FitFwhmLine(state.preprocessed_list);
  SessionRecord& record = state.session_record;
  record.fwhm_line = true;
  record.fwhm_a = line.a;
  record.fwhm_b = line.b;
  tk::SetNumber(w.fwhm_a, line.a);
  tk::SetNumber(w.fwhm_b, line.b);
  tk::SetNumber(w.fwhm_esd_a, line.esd_a);
  tk::SetNumber(w.fwhm_esd_b, line.esd_b);
  OpenModal(state, w.fwhm_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeClosed) state.end_requested = true;
    if (code == kCodeClosed || code == kCodeFwhmQuit) break;
    if (code == kCodeFwhmSave) {
      const auto v = CheckedNumbers({{w.fwhm_a, "FWHM a"}, {w.fwhm_b, "FWHM b"}}, {line.a, line.b});
      if (!v) continue;
      state.params.pdef[kFwhm][kCoefA] = (*v)[0];
      state.params.pdef[kFwhm][kCoefB] = (*v)[1];
      break;
    }
  }
  CloseModal(state, w.fwhm_dialog);
}

}  // namespace kalvex
