// Automatic integration, driven by the toolkit timer: one reflection per
// tick, with Go, Stop and Exit acting between two ticks.
#include "fit/auto_fit.h"

#include <cmath>
#include <string>

#include "common/fixed_fields.h"
#include "fit/background.h"
#include "fit/fit_reflection.h"
#include "fit/intensity_file.h"
#include "fit/scan_plot.h"
#include "refine/geometry.h"
#include "scan/reflection_input.h"
#include "shell/command_loop.h"
#include "shell/parameter_dialogs.h"
#include "shell/user_interface.h"
#include "toolkit/toolkit.h"

namespace kalvex {

namespace {

constexpr int kTickInterval = 50;

// Dialog rows in the order the "Input" fields are filled.
constexpr int kParameterRows[] = {kBackground, kFwhm, kIntensity, kPosition, kEta, kIratio};

// A limit field is usable only while its row's limits are checked.
void ShowLimits(const Widgets& w, const RunParameters& p, bool fill) {
  for (int k = 1; k <= kRwp; ++k) {
    const FitRowHandles& row = w.fit_rows[k];
    const bool on = p.check_flag[k] == 1;
    const int status = on ? tk::kActive : tk::kHidden;
    if (k != kRwp) tk::WidgetStatus(row.low, status);
    tk::WidgetStatus(row.high, status);
    if (fill && on) {
      if (k == kRwp) {
        tk::SetNumber(row.high, p.rwp_max);
      } else {
        tk::SetNumber(row.low, p.low[k]);
        tk::SetNumber(row.high, p.high[k]);
      }
    }
  }
}

void SetStatuses(const Widgets& w, std::initializer_list<int> numbers, int status) {
  for (int n : numbers) tk::WidgetStatus(w.main[n], status);
}

}  // namespace

void LogUnreadReflection(ProgramState& state, std::string_view consequence) {
  const ScanReflection& scan = state.scan;
  std::string line = " REFLECTION " + fields::FormatInt(scan.seq_no, 6) + "  HKL";
  for (int v : scan.hkl) line += fields::FormatInt(v, 4);
  state.files.log.Line(line + "  NOT READ IN FULL: " + std::string(consequence));
  state.files.log.Flush();
}

float PredictedPosition(const ProgramState& state) {
  const ScanReflection& scan = state.scan;
  const Angles angles = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  return PredictOmega(state, angles, scan.hkl) + OffsetCorrection(state, angles)[1];
}

float DefaultFwhm(const ProgramState& state) {
  const auto& pdef = state.params.pdef;
  return pdef[kFwhm][kCoefA] + pdef[kFwhm][kCoefB] * std::tan(state.scan.two_theta / 2.0f / 57.29578f);
}

void SeedParameters(ProgramState& state) {
  const Widgets& w = state.widgets;
  RunParameters& p = state.params;
  const ScanReflection& scan = state.scan;
  auto& P = state.fit.peak.value;
  for (int k = 1; k <= kProfileParameters; ++k) {
    p.refine_flag[k] = tk::GetToggle(w.fit_rows[k].refine_toggle);
    state.default_flag[k] = tk::GetToggle(w.fit_rows[k].default_toggle);
  }
  state.skip_weak = tk::GetToggle(w.fit_skip_weak);
  auto input = [&](int k) { return tk::GetNumber(w.fit_rows[k].input); };
  auto show = [&](int k) { tk::SetNumber(w.fit_rows[k].input, P[k]); };

  const int n = scan.step_count;
  if (p.refine_flag[kBackground] == 1) {
    P[kBackground] = n > 0 ? (scan.counts[0] + scan.counts[n - 1]) / 2.0f : 0.0f;
  } else if (state.default_flag[kBackground] == 1) {
    P[kBackground] = FixedBackground(state, scan.two_theta);
  } else {
    P[kBackground] = input(kBackground);
  }
  show(kBackground);

  P[kFwhm] = state.default_flag[kFwhm] == 1 ? DefaultFwhm(state) : input(kFwhm);
  if (state.default_flag[kFwhm] == 1) show(kFwhm);

  P[kIntensity] = p.refine_flag[kIntensity] == 1 ? scan.max_count * P[kFwhm] : input(kIntensity);
  if (p.refine_flag[kIntensity] == 1) show(kIntensity);

  if (p.refine_flag[kPosition] == 1) {
    P[kPosition] = scan.step_position[scan.max_step - 1];
  } else {
    P[kPosition] = input(kPosition);
    if (state.default_flag[kPosition] == 1 && state.orientation.corrections_valid) {
      P[kPosition] = PredictedPosition(state);
    }
  }
  show(kPosition);

  P[kEta] = state.default_flag[kEta] == 1 ? p.pdef[kEta][kCoefA] : input(kEta);
  if (state.default_flag[kEta] == 1) show(kEta);
  P[kIratio] = state.default_flag[kIratio] == 1 ? p.iratio : input(kIratio);
  if (state.default_flag[kIratio] == 1) show(kIratio);

  for (int k = 1; k <= kRwp; ++k) p.check_flag[k] = tk::GetToggle(w.fit_rows[k].limits_toggle);
  for (int k = 1; k <= kProfileParameters; ++k) {
    if (p.check_flag[k] == 1) {
      p.low[k] = tk::GetNumber(w.fit_rows[k].low);
      p.high[k] = tk::GetNumber(w.fit_rows[k].high);
    }
  }
  if (p.check_flag[kRwp] == 1) p.rwp_max = tk::GetNumber(w.fit_rows[kRwp].high);
  ShowLimits(w, p, false);
  tk::WindowDraw(w.fit_dialog);
}

void ResetParameters(ProgramState& state) {
  const RunParameters& p = state.params;
  const ScanReflection& scan = state.scan;
  auto& P = state.fit.peak.value;
  P[kBackground] = state.default_flag[kBackground] == 1 ? FixedBackground(state, scan.two_theta) : scan.counts[0];
  P[kFwhm] = DefaultFwhm(state);
  P[kIntensity] = scan.max_count * P[kFwhm];
  if (p.refine_flag[kPosition] == 1) {
    P[kPosition] = scan.step_position[scan.max_step - 1];
  } else if (state.orientation.corrections_valid) {
    P[kPosition] = PredictedPosition(state);
  }
  P[kEta] = p.pdef[kEta][kCoefA];
  P[kIratio] = p.pdef[kIratio][kCoefA];
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

void ShowFitInputs(ProgramState& state) {
  const Widgets& w = state.widgets;
  const RunParameters& p = state.params;
  for (int k : kParameterRows) {
    tk::SetNumber(w.fit_rows[k].input, state.fit.peak.value[k]);
    tk::SetToggle(w.fit_rows[k].refine_toggle, p.refine_flag[k] == 1 ? 1 : 0);
  }
  for (int k = 1; k <= kRwp; ++k) tk::SetToggle(w.fit_rows[k].limits_toggle, p.check_flag[k]);
  ShowLimits(w, p, true);
  tk::WindowDraw(w.fit_dialog);
}

void ShowFitResults(ProgramState& state) {
  const Widgets& w = state.widgets;
  for (int k : kParameterRows) {
    const FitRowHandles& row = w.fit_rows[k];
    tk::SetNumber(row.refined, state.fit.peak.value[k]);
    tk::SetNumber(row.esd, state.fit.peak.esd[k]);
    tk::WidgetStatus(row.refined, tk::kActive);
    tk::WidgetStatus(row.esd, tk::kActive);
  }
  tk::SetNumber(w.fit_rows[kRwp].refined, state.fit.rwp);
  tk::WidgetStatus(w.fit_rows[kRwp].refined, tk::kActive);
  const auto& c = state.scan.class_code;
  tk::SetString(w.fit_flags, std::string(c.begin(), c.begin() + 4) + "  ");
  tk::WidgetStatus(w.fit_flags, tk::kActive);
  tk::WindowDraw(w.fit_dialog);
}

int OutcomeCounterOf(char reason) {
  constexpr std::string_view kLetters = " ECDBIPWRFS";
  const auto at = kLetters.find(reason, 1);
  return at == std::string_view::npos || at > 9 ? 11 : static_cast<int>(at) + 1;
}

void FitWithRetry(ProgramState& state) {
  auto& P = state.fit.peak.value;
  auto& code = state.scan.class_code;
  const bool retry_allowed = state.default_flag[kPosition] == 1 && state.params.refine_flag[kPosition] == 1 &&
                             state.orientation.corrections_valid;
  SeedParameters(state);
  FitReflection(state, kFitNormal);
  code[3] = '1';
  if (code[1] != 'R') {
    ++state.fit.outcome[1];
    return;
  }
  ++state.fit.outcome[OutcomeCounterOf(code[2])];
  if (!retry_allowed) return;

  ++state.fit.refitted_count;
  // The retry holds the Position where the refined orientation puts it.
  const Widgets& w = state.widgets;
  tk::SetToggle(w.fit_rows[kPosition].refine_toggle, 0);
  SeedParameters(state);
  P[kPosition] = PredictedPosition(state);
  FitReflection(state, kFitRetry);
  code[3] = '2';
  if (code[1] != 'R') ++state.fit.recovered_count;
  tk::SetToggle(w.fit_rows[kPosition].refine_toggle, 1);
  state.params.refine_flag[kPosition] = 1;
}

void AutoFit(ProgramState& state) {
  const Widgets& w = state.widgets;
  ResetRunCounters(state);
  state.fitting_mode = kAutomaticFitting;
  ShowPeakDefaults(state);
  ShowStartValues(state);

  SetStatuses(w, {kWHklEntry, kWHklLabel, kWSeqEntry, kWSeqLabel, kWGo}, tk::kActive);
  tk::WidgetStatus(w.main[kWStop], tk::kGreyed);
  SetStatuses(w, {kWAngle1, kWAngle1 + 1, kWAngle1 + 2, kWAngle1 + 3, kWAnglesLabel}, tk::kActive);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);

  for (;;) {
    const int action = tk::Wait();
    switch (action) {
      case kCodeClosed:
        StopWithMessage("");
      case kCodeExit:
        tk::SetCallTime(kTickInterval, 0);
        RestoreMainWindow(state);
        return;
      case kCodeResetDefaults:
        ResetParameters(state);
        break;
      case kCodeRefineToggle + kBackground:
        SeedParameters(state);
        break;
      case kCodeStop:
        tk::WidgetStatus(w.main[kWStop], tk::kGreyed);
        tk::WidgetStatus(w.main[kWGo], tk::kActive);
        tk::SetCallTime(kTickInterval, 0);
        break;
      case kCodeGo:
        tk::WidgetStatus(w.main[kWGo], tk::kGreyed);
        tk::WidgetStatus(w.main[kWStop], tk::kActive);
        tk::SetCallTime(kTickInterval, kCodeTimer);
        SeedParameters(state);
        FitWithRetry(state);
        WriteIntegrated(state);
        break;
      case kCodeTimer: {
        const int status = ReadNextReflection(state, state.scan.seq_no + 1);
        if (status == kEndOfData) {
          tk::SetCallTime(kTickInterval, 0);
          RestoreMainWindow(state);
          WriteClassificationSummary(state);
          return;
        }
        if (status == kReadFailed) {
          LogUnreadReflection(state, "NOT FITTED, NOT WRITTEN");
          break;
        }
        FitWithRetry(state);
        WriteIntegrated(state);
        break;
      }
      default:
        break;
    }
    PlotScan(state);
    ShowFitResults(state);
  }
}

}  // namespace kalvex
