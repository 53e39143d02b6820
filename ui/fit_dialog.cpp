// Transfer between the run and "Fitting Controls & Results".
#include "ui/fit_dialog.h"

#include <string>

#include "toolkit/toolkit.h"

namespace kalvex {

namespace {

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

}  // namespace

void ReadFitControls(ProgramState& state) {
  const Widgets& w = state.widgets;
  RunParameters& p = state.params;
  for (int k = 1; k <= kProfileParameters; ++k) {
    p.refine_flag[k] = tk::GetToggle(w.fit_rows[k].refine_toggle);
    state.default_flag[k] = tk::GetToggle(w.fit_rows[k].default_toggle);
    state.fit.inputs[k] = tk::GetNumber(w.fit_rows[k].input);
  }
  state.skip_weak_control = tk::GetToggle(w.fit_skip_weak);
  for (int k = 1; k <= kRwp; ++k) p.check_flag[k] = tk::GetToggle(w.fit_rows[k].limits_toggle);
  for (int k = 1; k <= kProfileParameters; ++k) {
    if (p.check_flag[k] == 1) {
      p.low[k] = tk::GetNumber(w.fit_rows[k].low);
      p.high[k] = tk::GetNumber(w.fit_rows[k].high);
    }
  }
  if (p.check_flag[kRwp] == 1) p.rwp_max = tk::GetNumber(w.fit_rows[kRwp].high);
}

void ShowSeededInputs(ProgramState& state) {
  const Widgets& w = state.widgets;
  for (int k : kParameterRows) tk::SetNumber(w.fit_rows[k].input, state.fit.inputs[k]);
  ShowLimits(w, state.params, false);
  tk::WindowDraw(w.fit_dialog);
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

}  // namespace kalvex
