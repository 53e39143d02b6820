// Dialogs of the Parameters menu: values reach RunParameters only through
// their storing buttons.
#include "commands/parameter_dialogs.h"

#include <cmath>

#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/user_interface.h"

namespace kalvex {

void ShowPeakDefaults(ProgramState& state) {
  const Widgets& w = state.widgets;
  RunParameters& p = state.params;
  tk::WidgetStatus(w.peak_quit, tk::kActive);
  tk::WidgetStatus(w.peak_save, tk::kActive);
  tk::SetNumber(w.peak_fwhm_a, p.pdef[kFwhm][kCoefA]);
  tk::SetNumber(w.peak_fwhm_b, p.pdef[kFwhm][kCoefB]);
  tk::SetNumber(w.peak_eta, p.pdef[kEta][kCoefA]);
  tk::SetNumber(w.peak_lambda1, p.lambda1);
  if (p.n_wavelengths == 2) {
    tk::SetNumber(w.peak_iratio, p.pdef[kIratio][kCoefA]);
    tk::SetNumber(w.peak_lambda2, p.lambda2);
  } else {
    tk::SetNumber(w.peak_lambda2, 0.0f);
  }
  OpenModal(state, w.peak_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodePeakQuit) break;
    if (code != kCodePeakSave) continue;
    const auto v = CheckedNumbers({{w.peak_fwhm_a, "FWHM a"},
                                   {w.peak_fwhm_b, "FWHM b"},
                                   {w.peak_eta, "Eta"},
                                   {w.peak_iratio, "Iratio"},
                                   {w.peak_lambda1, "Wavelength 1"},
                                   {w.peak_lambda2, "Wavelength 2"}},
                                  {p.pdef[kFwhm][kCoefA], p.pdef[kFwhm][kCoefB], p.pdef[kEta][kCoefA],
                                   p.pdef[kIratio][kCoefA], p.lambda1, p.lambda2});
    if (!v) continue;
    p.pdef[kFwhm][kCoefA] = (*v)[0];
    p.pdef[kFwhm][kCoefB] = (*v)[1];
    p.pdef[kEta][kCoefA] = (*v)[2];
    p.iratio = (*v)[3];
    p.pdef[kIratio][kCoefA] = p.iratio;
    p.lambda1 = (*v)[4];
    // A ratio this small means no second line: its wavelength is not taken.
    if (p.iratio > 0.01f) p.lambda2 = (*v)[5];
    break;
  }
  CloseModal(state, w.peak_dialog);
}

void ShowDiffractometerConstants(ProgramState& state) {
  const Widgets& w = state.widgets;
  const RunParameters& p = state.params;
  tk::WidgetStatus(w.diffractometer_ok, tk::kActive);
  for (int i = 0; i < 4; ++i) tk::SetNumber(w.parity_values[i], static_cast<float>(p.parity[i]));
  const int mono_widgets[] = {w.mono_value, w.mono_unit, w.dihedral_label, w.dihedral_value, w.orientation_text};
  if (p.mono_flag == 0) {
    tk::SetString(w.mono_label, "No Monochromator");
    for (int h : mono_widgets) tk::WidgetStatus(h, tk::kHidden);
  } else {
    tk::SetString(w.mono_label, "Monochromator 2Theta");
    for (int h : mono_widgets) tk::WidgetStatus(h, tk::kActive);
    ShowAsRead(w.mono_value, p.mono_2theta, 1);
    ShowAsRead(w.dihedral_value, p.dihedral, 1);
    if (p.mono_orient == 0) {
      tk::WidgetStatus(w.orientation_text, tk::kHidden);
    } else {
      tk::SetString(w.orientation_text, p.mono_orient == 1 ? "Parallel" : "Anti-parallel");
    }
  }
  ShowAsRead(w.atten_value, p.atten, 2);
  ShowAsRead(w.rs_value, p.rs, 1);
  OpenModal(state, w.diffractometer_dialog);
  while (tk::Wait() != kCodeDiffractometerOk) {
  }
  CloseModal(state, w.diffractometer_dialog);
}

namespace {

// Fills the background dialog from the stored values and shows the fields
// that belong to the chosen type.
void FillBackgroundDialog(ProgramState& state) {
  const Widgets& w = state.widgets;
  const RunParameters& p = state.params;
  tk::SetNumber(w.bg_a, p.pdef[kBackground][kCoefA]);
  tk::SetNumber(w.bg_b, p.pdef[kBackground][kCoefB]);
  tk::SetNumber(w.bg_c, p.pdef[kBackground][kCoefC]);
  tk::SetNumber(w.bg_nstep, static_cast<float>(p.nstep_bg));
  const int toggles[4] = {w.bg_none, w.bg_spline, w.bg_exp, w.bg_from_scan};
  if (p.bg_type >= 0 && p.bg_type < 4) tk::SetToggle(toggles[p.bg_type], 1);
  const bool exp = p.bg_type == kBgExp;
  const bool from_scan = p.bg_type == kBgFromScan;
  // The number of steps stands beside its own toggle, which names it.
  tk::WidgetStatus(w.bg_parameters_label, exp ? tk::kActive : tk::kHidden);
  for (int h : {w.bg_a, w.bg_b, w.bg_c}) tk::WidgetStatus(h, exp ? tk::kActive : tk::kHidden);
  tk::WidgetStatus(w.bg_nstep, from_scan ? tk::kActive : tk::kHidden);
}

}  // namespace

void EditBackgroundOptions(ProgramState& state) {
  const Widgets& w = state.widgets;
  RunParameters& p = state.params;
  tk::WidgetStatus(w.bg_quit, tk::kActive);
  tk::WidgetStatus(w.bg_save, tk::kActive);
  FillBackgroundDialog(state);
  OpenModal(state, w.background_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code >= kCodeBgNone && code <= kCodeBgFromScan) {
      // The type follows the toggle at once, even if the dialog is then quit.
      p.bg_type = code - kCodeBgNone;
      FillBackgroundDialog(state);
      continue;
    }
    if (code == kCodeBgQuit) break;
    if (code != kCodeBgSave) continue;
    if (tk::GetToggle(w.bg_none)) {
      p.bg_type = kBgNone;
    } else if (tk::GetToggle(w.bg_spline)) {
      p.bg_type = kBgSpline;
    } else if (tk::GetToggle(w.bg_exp)) {
      p.bg_type = kBgExp;
    } else if (tk::GetToggle(w.bg_from_scan)) {
      p.bg_type = kBgFromScan;
    }
    if (p.bg_type == kBgExp) {
      const auto v = CheckedNumbers({{w.bg_a, "Background a"}, {w.bg_b, "Background b"}, {w.bg_c, "Background c"}},
                                    {p.pdef[kBackground][kCoefA], p.pdef[kBackground][kCoefB],
                                     p.pdef[kBackground][kCoefC]});
      if (!v) continue;
      for (int c = 0; c < 3; ++c) p.pdef[kBackground][kCoefA + c] = (*v)[c];
    } else if (p.bg_type == kBgFromScan) {
      const auto v = CheckedNumbers({{w.bg_nstep, "Steps"}}, {static_cast<float>(p.nstep_bg)});
      if (!v) continue;
      p.nstep_bg = static_cast<int>(std::trunc((*v)[0]));
    }
    break;
  }
  CloseModal(state, w.background_dialog);
}

void EditOutputFormat(ProgramState& state) {
  const Widgets& w = state.widgets;
  RunParameters& p = state.params;
  tk::WidgetStatus(w.output_quit, tk::kActive);
  tk::WidgetStatus(w.output_save, tk::kActive);
  const int toggles[3] = {w.out_rfine, w.out_rfine_extended, w.out_shelx};
  if (p.output_format >= 0 && p.output_format < 3) tk::SetToggle(toggles[p.output_format], 1);
  OpenModal(state, w.output_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeOutputQuit) break;
    if (code == kCodeOutputSave) {
      for (int i = 0; i < 3; ++i) {
        if (tk::GetToggle(toggles[i])) {
          p.output_format = i;
          break;
        }
      }
      break;
    }
    tk::WindowDraw(w.output_dialog);
  }
  CloseModal(state, w.output_dialog);
}

}  // namespace kalvex
