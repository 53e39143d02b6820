// The main window, its menu bar and the twelve dialogs, laid out on the
// 32 x 24 layout grid (positions are lower-left corners, y upwards).
#include "ui/user_interface.h"

#include "toolkit/toolkit.h"
#include "ui/reduce_dialog.h"
#include "ui/run_end_dialog.h"

namespace kalvex {

namespace {

using tk::Box;

void BuildMainWindow(Widgets& w) {
  w.main_window = tk::OpenMaster("WIN-KALVEX V3.3", {5, 5, 20, 19});
  const int m = w.main_window;
  w.frame = tk::AddFrame(m, {1, 4, 18, 12});
  w.status_bar = tk::AddStatusBar(m, "Win-Kalvex V3.3  -  profile fitting of four-circle step scans");
  w.logo = tk::AddIcon(m, {1, 2, 2, 2});

  auto& n = w.main;
  n[kWExit] = tk::AddButton(m, "Exit", {16, 0, 2, 1}, kCodeExit);
  n[kWPrevious] = tk::AddButton(m, "Previous", {5, 2, 3, 1}, kCodePrevious);
  n[kWNext] = tk::AddButton(m, "Next", {13, 2, 3, 1}, kCodeNext);
  n[kWRefit] = tk::AddButton(m, "Refit", {9, 2, 3, 1}, kCodeRefit);
  n[kWHklEntry] = tk::AddTextField(m, "", {5, 1, 3, 1}, 20, true);
  n[kWHklGo] = tk::AddButton(m, "Go", {8, 1, 1, 1}, kCodeHklGo);
  n[kWSeqEntry] = tk::AddValue(m, 0.0f, {13, 1, 2, 1}, 5, 0, true);
  n[kWSeqGo] = tk::AddButton(m, "Go", {15, 1, 1, 1}, kCodeSeqGo);
  n[kWHklLabel] = tk::AddLabel(m, "HKL = ", {3, 1, 2, 1});
  n[kWSeqLabel] = tk::AddLabel(m, "ISEQ = ", {11, 1, 2, 1});
  n[kWAccept] = tk::AddButton(m, "Accept", {16, 2, 3, 1}, kCodeAccept);
  n[kWReject] = tk::AddButton(m, "Reject", {16, 1, 3, 1}, kCodeReject);
  for (int i = 0; i < 4; ++i) n[kWAngle1 + i] = tk::AddValue(m, 0.0f, {6 + 2 * i, 0, 2, 1}, 7, 2, false);
  n[kWAnglesLabel] = tk::AddLabel(m, "ANGLES:", {3, 0, 3, 1});
  n[kWGo] = tk::AddButton(m, "Go", {16, 2, 2, 1}, kCodeGo);
  n[kWStop] = tk::AddButton(m, "Stop", {16, 1, 2, 1}, kCodeStop);

  w.data_from_label = tk::AddLabel(m, "Data from", {1, 17, 3, 1});
  w.data_file_field = tk::AddTextField(m, "", {4, 17, 6, 1}, 255, false);
  w.title_field = tk::AddTextField(m, "", {4, 16, 10, 1}, 60, false);
  w.output_label = tk::AddLabel(m, "Output:", {11, 17, 2, 1});
  w.output_file_field = tk::AddTextField(m, "", {13, 17, 6, 1}, 255, false);

  for (int i = 2; i <= kMainWidgets; ++i) tk::WidgetStatus(n[i], tk::kHidden);
  // The output name, like its label, shows only while an output file is open.
  tk::WidgetStatus(w.output_label, tk::kHidden);
  tk::WidgetStatus(w.output_file_field, tk::kHidden);
}

void BuildMenus(Widgets& w) {
  w.menu_bar = tk::AddMenuBar(w.main_window);
  const char* titles[4] = {"File", "Integrate", "Utilities", "Parameters"};
  int pulls[4];
  for (int i = 0; i < 4; ++i) {
    w.menu_titles[i] = tk::AddMenuPop(w.menu_bar, titles[i]);
    pulls[i] = tk::AddMenuPull(w.menu_titles[i]);
  }
  w.menu_open_data = tk::AddMenuEntry(pulls[0], "Open data file", kCodeOpenData);
  w.menu_open_parameters = tk::AddMenuEntry(pulls[0], "Open parameter file", kCodeOpenParameters);
  w.menu_open_output = tk::AddMenuEntry(pulls[0], "Open output file", kCodeOpenOutput);
  w.menu_report = tk::AddMenuEntry(pulls[0], "Report...", kCodeReport);
  tk::AddMenuSeparator(pulls[0]);
  w.menu_exit = tk::AddMenuEntry(pulls[0], "Exit", kCodeMenuExit);
  w.menu_manual_fit = tk::AddMenuEntry(pulls[1], "Manual profile fit", kCodeManualFit);
  w.menu_auto_fit = tk::AddMenuEntry(pulls[1], "Auto profile fit", kCodeAutoFit);
  w.menu_preprocess = tk::AddMenuEntry(pulls[2], "Preprocess", kCodePreprocess);
  w.menu_calc_ub = tk::AddMenuEntry(pulls[2], "Calc UB", kCodeCalcUB);
  w.menu_calc_background = tk::AddMenuEntry(pulls[2], "Calc Background", kCodeCalcBackground);
  w.menu_calc_fwhm = tk::AddMenuEntry(pulls[2], "Calc FWHM", kCodeCalcFwhm);
  w.menu_reduce = tk::AddMenuEntry(pulls[2], "Reduce to SHELX/CIF...", kCodeReduce);
  w.menu_pkvals = tk::AddMenuEntry(pulls[3], "Pkvals", kCodePkvals);
  w.menu_diffractometer = tk::AddMenuEntry(pulls[3], "Diffractometer", kCodeDiffractometer);
  w.menu_backgrounds = tk::AddMenuEntry(pulls[3], "Backgrounds", kCodeBackgrounds);
  w.menu_output_format = tk::AddMenuEntry(pulls[3], "Output format", kCodeOutputFormat);
}

void BuildFormatDialog(Widgets& w) {
  w.format_dialog = tk::OpenWindow(w.main_window, "Input Data file Format", {10, 12, 10, 10});
  const int d = w.format_dialog;
  w.format_radio = tk::AddRadioBox(d, {1, 2, 8, 4});
  w.format_xcalibur = tk::AddRadio(w.format_radio, "Xcalibur", 1, 5, 1, 0);
  w.format_single = tk::AddRadio(w.format_radio, "Single", 1, 4, 0, 0);
  w.format_cad4 = tk::AddRadio(w.format_radio, "Enraf CAD4", 1, 3, 0, 0);
  w.format_xscans = tk::AddRadio(w.format_radio, "Xscans", 1, 2, 0, 0);
  w.format_ok = tk::AddButton(d, "OK", {4, 1, 2, 1}, kCodeFormatOk);
}

void BuildFitDialog(Widgets& w) {
  w.fit_dialog = tk::OpenWindow(w.main_window, "Fitting Controls & Results", {24, 10, 11, 8});
  const int d = w.fit_dialog;
  tk::AddLabel(d, "Parameter", {1, 9, 3, 1});
  tk::AddLabel(d, "Input", {4, 9, 2, 1});
  tk::AddLabel(d, "R", {6, 9, 1, 1});
  tk::AddLabel(d, "D", {7, 9, 1, 1});
  tk::AddLabel(d, "Refined", {8, 9, 2, 1});
  tk::AddLabel(d, "Esd", {10, 9, 2, 1});
  tk::AddLabel(d, "Limits", {14, 9, 2, 1});

  struct Row {
    const char* name;
    int y;
    int k;
    int decimals;
  };
  const Row rows[] = {{"Intensity", 8, kIntensity, 1}, {"FWHM", 7, kFwhm, 3},  {"Position", 6, kPosition, 3},
                      {"Background", 5, kBackground, 3}, {"Eta", 4, kEta, 3}, {"Iratio", 3, kIratio, 3}};
  for (const Row& r : rows) {
    FitRowHandles& h = w.fit_rows[r.k];
    h.label = tk::AddLabel(d, r.name, {1, r.y, 3, 1});
    h.input = tk::AddValue(d, 0.0f, {4, r.y, 2, 1}, 6, r.decimals, true);
    h.refine_toggle = tk::AddToggle(d, "", {6, r.y, 1, 1}, 0, kCodeRefineToggle + r.k);
    h.default_toggle = tk::AddToggle(d, "", {7, r.y, 1, 1}, 0, kCodeDefaultToggle + r.k);
    h.refined = tk::AddValue(d, 0.0f, {8, r.y, 2, 1}, 6, r.decimals, false);
    h.esd = tk::AddValue(d, 0.0f, {10, r.y, 2, 1}, 6, r.decimals, false);
    h.limits_toggle = tk::AddToggle(d, "", {12, r.y, 1, 1}, 0, kCodeLimitsToggle + r.k);
    h.low = tk::AddValue(d, 0.0f, {13, r.y, 2, 1}, 6, r.decimals, true);
    h.high = tk::AddValue(d, 0.0f, {15, r.y, 2, 1}, 6, r.decimals, true);
  }
  FitRowHandles& rwp = w.fit_rows[kRwp];
  rwp.label = tk::AddLabel(d, "Rwp", {1, 2, 3, 1});
  rwp.refined = tk::AddValue(d, 0.0f, {8, 2, 2, 1}, 6, 3, false);
  rwp.limits_toggle = tk::AddToggle(d, "", {12, 2, 1, 1}, 0, kCodeLimitsToggle + kRwp);
  rwp.high = tk::AddValue(d, 0.0f, {15, 2, 2, 1}, 6, 3, true);
  tk::AddLabel(d, "Flags", {1, 1, 3, 1});
  w.fit_flags = tk::AddTextField(d, "", {8, 1, 2, 1}, 6, false);
  w.fit_skip_weak = tk::AddToggle(d, "Skip weak reflns", {1, 0, 5, 1}, 0, kCodeSkipWeak);
  w.fit_reset = tk::AddButton(d, "Reset to Defaults", {12, 0, 5, 1}, kCodeResetDefaults);
  tk::WidgetStatus(w.fit_rows[kIntensity].default_toggle, tk::kHidden);
}

void BuildPreprocessDialog(Widgets& w) {
  w.preprocess_dialog = tk::OpenWindow(w.main_window, "Preprocessing Control", {10, 12, 10, 6});
  const int d = w.preprocess_dialog;
  tk::AddLabel(d, "Set the profile parameters and refinement flags", {0, 4, 10, 1});
  tk::AddLabel(d, "Use params when I/sigma >", {0, 3, 8, 1});
  tk::AddLabel(d, "Then select GO button", {0, 2, 8, 1});
  w.preprocess_threshold = tk::AddValue(d, 30.0f, {8, 3, 2, 1}, 5, 1, true);
  w.preprocess_go = tk::AddButton(d, "Go", {6, 1, 2, 1}, kCodePreprocessGo);
  w.preprocess_quit = tk::AddButton(d, "Quit", {3, 1, 2, 1}, kCodePreprocessQuit);
}

void BuildDiffractometerDialog(Widgets& w) {
  w.diffractometer_dialog = tk::OpenWindow(w.main_window, "Diffractometer constants", {5, 10, 12, 9});
  const int d = w.diffractometer_dialog;
  tk::AddLabel(d, "Parities", {1, 7, 3, 1});
  for (int i = 0; i < 4; ++i) w.parity_values[i] = tk::AddValue(d, 1.0f, {4 + i, 7, 1, 1}, 2, 0, false);
  w.mono_label = tk::AddTextField(d, "Monochromator 2Theta:", {1, 6, 6, 1}, 30, false);
  w.mono_value = tk::AddValue(d, 0.0f, {7, 6, 2, 1}, 4, 1, false);
  w.dihedral_label = tk::AddLabel(d, "Dihedral angle = ", {1, 5, 6, 1});
  w.dihedral_value = tk::AddValue(d, 0.0f, {7, 5, 2, 1}, 4, 1, false);
  w.orientation_text = tk::AddTextField(d, "Parallel", {9, 5, 3, 1}, 20, false);
  tk::AddLabel(d, "Attenuator", {1, 3, 4, 1});
  w.atten_value = tk::AddValue(d, 1.0f, {7, 3, 2, 1}, 4, 2, false);
  tk::AddLabel(d, "RS", {1, 2, 2, 1});
  w.rs_value = tk::AddValue(d, 200.0f, {7, 2, 2, 1}, 5, 1, false);
  w.diffractometer_ok = tk::AddButton(d, "OK", {5, 1, 2, 1}, kCodeDiffractometerOk);
}

void BuildPeakDialog(Widgets& w) {
  w.peak_dialog = tk::OpenWindow(w.main_window, "Peak parameter default values", {5, 7, 10, 8});
  const int d = w.peak_dialog;
  tk::AddLabel(d, "FWHM = a + b.tan(theta)", {1, 5, 6, 1});
  tk::AddLabel(d, "Eta", {1, 4, 6, 1});
  tk::AddLabel(d, "Iratio", {1, 3, 6, 1});
  tk::AddLabel(d, "Wavelengths", {1, 2, 6, 1});
  tk::AddLabel(d, "a", {8, 6, 1, 1});
  tk::AddLabel(d, "b", {10, 6, 1, 1});
  tk::AddLabel(d, "c", {12, 6, 1, 1});
  w.peak_fwhm_a = tk::AddValue(d, 0.0f, {7, 5, 2, 1}, 6, 3, true);
  w.peak_fwhm_b = tk::AddValue(d, 0.0f, {9, 5, 2, 1}, 6, 3, true);
  w.peak_eta = tk::AddValue(d, 0.0f, {7, 4, 2, 1}, 6, 3, true);
  w.peak_iratio = tk::AddValue(d, 0.0f, {7, 3, 2, 1}, 6, 3, true);
  w.peak_lambda1 = tk::AddValue(d, 0.0f, {7, 2, 2, 1}, 8, 6, true);
  w.peak_lambda2 = tk::AddValue(d, 0.0f, {9, 2, 2, 1}, 8, 6, true);
  w.peak_quit = tk::AddButton(d, "Quit", {3, 0, 2, 1}, kCodePeakQuit);
  w.peak_save = tk::AddButton(d, "Save + Exit", {6, 0, 3, 1}, kCodePeakSave);
}

void BuildBackgroundDialog(Widgets& w) {
  w.background_dialog = tk::OpenWindow(w.main_window, "Fixed Background Options", {10, 10, 10, 10});
  const int d = w.background_dialog;
  w.background_radio = tk::AddRadioBox(d, {1, 1, 9, 6});
  w.bg_none = tk::AddRadio(w.background_radio, "None", 1, 6, 1, kCodeBgNone);
  w.bg_spline = tk::AddRadio(w.background_radio, "Spline", 1, 5, 0, kCodeBgSpline);
  w.bg_exp = tk::AddRadio(w.background_radio, "Exp: BG = a exp(-b.2th) + c", 1, 4, 0, kCodeBgExp);
  w.bg_from_scan = tk::AddRadio(w.background_radio, "From scan using nstep_bg =", 1, 1, 0, kCodeBgFromScan);
  w.bg_parameters_label = tk::AddLabel(d, "Parameters:", {0, 2, 3, 1});
  w.bg_a = tk::AddValue(d, 0.0f, {3, 2, 2, 1}, 6, 3, true);
  w.bg_b = tk::AddValue(d, 0.0f, {5, 2, 2, 1}, 6, 3, true);
  w.bg_c = tk::AddValue(d, 0.0f, {7, 2, 2, 1}, 6, 3, true);
  w.bg_nstep = tk::AddValue(d, 0.0f, {7, 2, 2, 1}, 2, 0, true);
  w.bg_quit = tk::AddButton(d, "Quit", {1, 0, 2, 1}, kCodeBgQuit);
  w.bg_save = tk::AddButton(d, "Save + Exit", {4, 0, 3, 1}, kCodeBgSave);
}

void BuildFwhmDialog(Widgets& w) {
  w.fwhm_dialog = tk::OpenWindow(w.main_window, "FWHM values from dataset", {5, 10, 10, 5});
  const int d = w.fwhm_dialog;
  tk::AddLabel(d, "FWHM=", {1, 3, 2, 1});
  tk::AddLabel(d, "+", {5, 3, 1, 1});
  tk::AddLabel(d, "tan(theta)", {8, 3, 2, 1});
  tk::AddLabel(d, "ESDs:", {1, 2, 2, 1});
  w.fwhm_a = tk::AddValue(d, 0.0f, {3, 3, 2, 1}, 6, 3, true);
  w.fwhm_b = tk::AddValue(d, 0.0f, {6, 3, 2, 1}, 6, 3, true);
  w.fwhm_esd_a = tk::AddValue(d, 0.0f, {3, 2, 2, 1}, 6, 3, false);
  w.fwhm_esd_b = tk::AddValue(d, 0.0f, {6, 2, 2, 1}, 6, 3, false);
  w.fwhm_quit = tk::AddButton(d, "Quit", {2, 1, 2, 1}, kCodeFwhmQuit);
  w.fwhm_save = tk::AddButton(d, "Save values", {5, 1, 3, 1}, kCodeFwhmSave);
}

void BuildOutputDialog(Widgets& w) {
  w.output_dialog = tk::OpenWindow(w.main_window, "Output Format", {10, 10, 9, 6});
  const int d = w.output_dialog;
  w.output_radio = tk::AddRadioBox(d, {0, 1, 8, 3});
  w.out_rfine = tk::AddRadio(w.output_radio, "Rfine", 0, 3, 1, kCodeOutRfine);
  w.out_rfine_extended = tk::AddRadio(w.output_radio, "Rfine extended", 0, 2, 0, kCodeOutRfineExtended);
  w.out_shelx = tk::AddRadio(w.output_radio, "Shelx hkl", 0, 1, 0, kCodeOutShelx);
  w.output_quit = tk::AddButton(d, "Quit", {1, 0, 2, 1}, kCodeOutputQuit);
  w.output_save = tk::AddButton(d, "Save + Exit", {4, 0, 3, 1}, kCodeOutputSave);
}

void BuildRefineDialog(Widgets& w) {
  w.refine_dialog = tk::OpenWindow(w.main_window, "Unit Cell Refinement", {20, 10, 10, 5});
  const int d = w.refine_dialog;
  w.refine_constrained = tk::AddToggle(d, "Symmetry constrained", {1, 4, 6, 1}, 0, kCodeRefineConstrained);
  w.refine_offsets = tk::AddToggle(d, "Refine crystal offsets", {1, 3, 6, 1}, 0, kCodeRefineOffsets);
  w.refine_omega_zero = tk::AddToggle(d, "Refine omega zero", {1, 2, 6, 1}, 0, kCodeRefineOmegaZero);
  w.refine_system_list = tk::AddListBox(d, {7, 4, 5, 1});
  for (const char* name : {"Monoclinic-b", "Monoclinic-c", "Orthorhombic", "Tetragonal", "Hexagonal", "Cubic"})
    tk::ListBoxAdd(w.refine_system_list, name);
  // A drop-down always shows a choice: the first system until one is picked.
  tk::ListBoxSelect(w.refine_system_list, 1);
  w.refine_quit = tk::AddButton(d, "Quit", {1, 0, 2, 1}, kCodeRefineQuit);
  w.refine_go = tk::AddButton(d, "Refine", {4, 0, 2, 1}, kCodeRefineGo);
}

void BuildResultsDialog(Widgets& w) {
  w.results_dialog = tk::OpenWindow(w.main_window, "Cell Refinement Results", {10, 10, 10, 10});
  const int d = w.results_dialog;
  w.results_ok = tk::AddButton(d, "Ok", {4, 0, 2, 1}, kCodeResultsOk);
  tk::AddLabel(d, "Value", {3, 11, 3, 1});
  tk::AddLabel(d, "Esd", {7, 11, 3, 1});
  const char* rows[7] = {"a", "b", "c", "alpha", "beta ", "gamma", "Vol  "};
  const int decimals[7] = {5, 5, 5, 3, 3, 3, 4};
  for (int i = 0; i < 7; ++i) {
    const int y = 10 - i;
    tk::AddLabel(d, rows[i], {1, y, 2, 1});
    w.results_value[i] = tk::AddValue(d, 0.0f, {3, y, 4, 1}, 10, decimals[i], false);
    w.results_esd[i] = tk::AddValue(d, 0.0f, {7, y, 4, 1}, 10, decimals[i], false);
  }
  tk::AddLabel(d, "Xtal offsets", {1, 3, 3, 1});
  for (int i = 0; i < 3; ++i) w.results_offsets[i] = tk::AddValue(d, 0.0f, {4 + 2 * i, 3, 2, 1}, 7, 4, false);
  tk::AddLabel(d, "Omega zero  ", {1, 2, 3, 1});
  w.results_omega_zero = tk::AddValue(d, 0.0f, {7, 2, 2, 1}, 7, 4, false);
  tk::AddLabel(d, "Nreflections", {1, 1, 3, 1});
  w.results_count = tk::AddValue(d, 0.0f, {7, 1, 2, 1}, 5, 0, false);
}

void BuildSmallBoxes(Widgets& w) {
  w.busy_dialog = tk::OpenWindow(w.main_window, "WinKalvex", {10, 10, 10, 2});
  tk::AddLabel(w.busy_dialog, "Working; Please wait...", {1, 1, 8, 1});

  w.omega_dialog = tk::OpenWindow(w.main_window, "WinKalvex", {10, 10, 10, 2});
  tk::AddLabel(w.omega_dialog, "Input omega step size:", {1, 1, 6, 1});
  w.omega_value = tk::AddValue(w.omega_dialog, 0.02f, {7, 1, 2, 1}, 6, 4, true);
  w.omega_ok = tk::AddButton(w.omega_dialog, "Ok", {4, 0, 2, 1}, kCodeOmegaOk);
}

}  // namespace

bool BuildUserInterface(ProgramState& state) {
  if (!tk::Init()) return false;
  tk::SetGrid(32, 24);
  Widgets& w = state.widgets;
  BuildMainWindow(w);
  BuildMenus(w);
  BuildFormatDialog(w);
  BuildFitDialog(w);
  BuildPreprocessDialog(w);
  BuildDiffractometerDialog(w);
  BuildPeakDialog(w);
  BuildBackgroundDialog(w);
  BuildFwhmDialog(w);
  BuildOutputDialog(w);
  BuildRefineDialog(w);
  BuildResultsDialog(w);
  BuildSmallBoxes(w);
  BuildReduceDialogs(w);
  BuildRunEndDialog(w);
  tk::WindowDraw(w.main_window);
  return true;
}

}  // namespace kalvex
