// The main window, its menu bar and the twelve dialogs, laid out on the
// 32 x 24 layout grid (positions are lower-left corners, y upwards).
#include "ui/user_interface.h"

#include <string>
#include <utility>

#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/reduce_dialog.h"
#include "ui/run_end_dialog.h"
#include "ui/scan_plot.h"

namespace kalvex {

namespace {

using tk::Box;

void BuildMainWindow(Widgets& w) {
  w.main_window = tk::OpenMaster("WIN-KALVEX V3.3", {5, 5, 20, 19});
  const int m = w.main_window;
  w.frame = tk::AddFrame(m, {1, 4, 18, 12});
  tk::SetTooltip(w.frame,
                 "Wheel: zoom in \u03c9 about the pointer (+ and \u2212 keys too); Shift+wheel or \u2191 \u2193: zoom the "
                 "counts; drag or \u2190 \u2192: move along \u03c9; double click or Home: the whole scan");
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

  // Keys of manual fitting; Enter in the hkl or sequence field presses its Go.
  const std::pair<int, const char*> keys[] = {
      {kWNext, "N"}, {kWPrevious, "P"}, {kWAccept, "A"}, {kWReject, "R"}, {kWRefit, "F5"}};
  for (const auto& [widget, key] : keys) tk::SetKey(n[widget], key);
  tk::SetFieldAction(n[kWHklEntry], n[kWHklGo]);
  tk::SetFieldAction(n[kWSeqEntry], n[kWSeqGo]);
  tk::SetTooltip(n[kWNext], "Next reflection, fitted (key N)");
  tk::SetTooltip(n[kWPrevious], "Previous reflection, fitted (key P)");
  tk::SetTooltip(n[kWRefit], "Fit this reflection again with the controls as they are now (F5)");
  tk::SetTooltip(n[kWAccept], "Write this reflection to the intensity file and go on (key A)");
  tk::SetTooltip(n[kWReject], "Go on without writing this reflection (key R)");
  tk::SetTooltip(n[kWHklEntry], "Indices h k l of the reflection to go to, e.g. 3 1 7; Enter goes there");
  tk::SetTooltip(n[kWSeqEntry], "Sequence number of the reflection to go to; Enter goes there");
  const char* angles[4] = {"2\u03b8 (2theta), the detector angle, in degrees",
                           "\u03c9 (omega) of the scan's centre, from the bisecting position, in degrees",
                           "\u03c7 (chi), in degrees", "\u03c6 (phi), in degrees"};
  const char* circles[4] = {"2\u03b8", "\u03c9", "\u03c7", "\u03c6"};
  for (int i = 0; i < 4; ++i) {
    tk::SetTooltip(n[kWAngle1 + i], angles[i]);
    tk::SetFieldCaption(n[kWAngle1 + i], circles[i]);
  }
  tk::SetTooltip(n[kWAnglesLabel], "Setting angles of the reflection: 2\u03b8, \u03c9, \u03c7, \u03c6 in degrees");

  w.data_from_label = tk::AddLabel(m, "Data from", {1, 17, 3, 1});
  w.data_file_field = tk::AddTextField(m, "", {4, 17, 6, 1}, 255, false);
  w.title_field = tk::AddTextField(m, "", {4, 16, 10, 1}, 60, false);
  w.output_label = tk::AddLabel(m, "Output:", {11, 17, 2, 1});
  w.output_file_field = tk::AddTextField(m, "", {13, 17, 6, 1}, 255, false);

  for (int i = 2; i <= kMainWidgets; ++i) tk::WidgetStatus(n[i], tk::kHidden);
  // The output name, like its label, shows only while an output file is open.
  tk::WidgetStatus(w.output_label, tk::kHidden);
  tk::WidgetStatus(w.output_file_field, tk::kHidden);
  // The data set's title shows once a data file has given one.
  tk::WidgetStatus(w.title_field, tk::kHidden);
  tk::SetTooltip(w.title_field, "Title of the data set, from the data file");
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
  w.menu_recent = tk::AddRecentMenu(pulls[0], "Recent data files", kCodeOpenRecent, kRecentFiles);
  w.menu_report = tk::AddMenuEntry(pulls[0], "Report...", kCodeReport);
  w.menu_copy_command = tk::AddMenuEntry(pulls[0], "Copy batch command", kCodeCopyCommand);
  tk::SetTooltip(w.menu_copy_command, "Puts on the clipboard the kalvex integrate command that repeats this session's "
                                      "automatic run, to be run in the data file's directory");
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

  const char* title_keys[4] = {"Alt+F", "Alt+I", "Alt+U", "Alt+P"};
  for (int i = 0; i < 4; ++i) tk::SetKey(w.menu_titles[i], title_keys[i]);
  tk::SetKey(w.menu_open_data, "Ctrl+O");
  tk::SetKey(w.menu_exit, "Ctrl+Q");
  tk::SetKey(w.menu_manual_fit, "Ctrl+M");
  tk::SetKey(w.menu_auto_fit, "Ctrl+G");
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
  tk::SetMainAction(w.format_ok);
  // The arrows choose among the formats, Enter takes the one chosen.
  tk::SetFirstFocus(d, w.format_radio);
}

void BuildFitDialog(Widgets& w) {
  w.fit_dialog = tk::OpenWindow(w.main_window, "Fitting Controls & Results", {24, 10, 11, 8});
  const int d = w.fit_dialog;
  tk::AddLabel(d, "Parameter", {1, 9, 3, 1});
  tk::AddLabel(d, "Input", {4, 9, 2, 1});
  const int r_header = tk::AddLabel(d, "R", {6, 9, 1, 1});
  const int d_header = tk::AddLabel(d, "D", {7, 9, 1, 1});
  tk::AddLabel(d, "Refined", {8, 9, 2, 1});
  tk::AddLabel(d, "Esd", {10, 9, 2, 1});
  // "Limits" over its toggles, and the two columns of the limits named.
  const int limits_header = tk::AddLabel(d, "Limits", {12, 9, 1, 1});
  tk::SetTooltip(tk::AddLabel(d, "low", {13, 9, 2, 1}), "Lowest value a fit may give (Position: how far below the "
                                                        "expected centre)");
  tk::SetTooltip(tk::AddLabel(d, "high", {15, 9, 2, 1}), "Highest value a fit may give (Position: how far above the "
                                                         "expected centre)");
  constexpr const char* kRefineTip = "R: refine this parameter in the fit (off: held at its input value)";
  constexpr const char* kDefaultTip = "D: start from the default rule of the peak defaults (Pkvals), not from the input";
  constexpr const char* kLimitsTip = "Check the fit against the limits: outside low ... high it is rejected";
  tk::SetTooltip(r_header, kRefineTip);
  tk::SetTooltip(d_header, kDefaultTip);
  tk::SetTooltip(limits_header, kLimitsTip);

  struct Row {
    const char* name;
    int y;
    int k;
    int decimals;
  };
  const Row rows[] = {{"Intensity", 8, kIntensity, 1}, {"FWHM", 7, kFwhm, 3},  {"Position", 6, kPosition, 3},
                      {"Background", 5, kBackground, 3}, {"Eta", 4, kEta, 3}, {"Iratio", 3, kIratio, 3}};
  // What each parameter is and the unit its values and limits are in.
  const char* meaning[kRwp + 1] = {};
  meaning[kIntensity] = "Intensity: height of the alpha1 peak, in counts";
  meaning[kFwhm] = "FWHM: full width at half maximum of the peak, in degrees of omega";
  meaning[kPosition] = "Position: alpha1 peak centre from the scan's centre, in degrees of omega";
  meaning[kBackground] = "Background: level under the peak, in counts per step";
  meaning[kEta] = "Eta: Lorentzian share of the pseudo-Voigt profile, 0 (Gaussian) to 1 (Lorentzian)";
  meaning[kIratio] = "Iratio: intensity of alpha2 over alpha1";
  meaning[kRwp] = "Rwp: weighted profile R factor of the fit, 0 to 1 (smaller is better)";
  for (const Row& r : rows) {
    FitRowHandles& h = w.fit_rows[r.k];
    h.label = tk::AddLabel(d, r.name, {1, r.y, 3, 1});
    h.input = tk::AddValue(d, 0.0f, {4, r.y, 2, 1}, 6, r.decimals, true);
    h.refine_toggle = tk::AddToggle(d, "", {6, r.y, 1, 1}, 0, RefineToggleCode(r.k));
    h.default_toggle = tk::AddToggle(d, "", {7, r.y, 1, 1}, 0, DefaultToggleCode(r.k));
    h.refined = tk::AddValue(d, 0.0f, {8, r.y, 2, 1}, 6, r.decimals, false);
    h.esd = tk::AddValue(d, 0.0f, {10, r.y, 2, 1}, 6, r.decimals, false);
    h.limits_toggle = tk::AddToggle(d, "", {12, r.y, 1, 1}, 0, LimitsToggleCode(r.k));
    h.low = tk::AddValue(d, 0.0f, {13, r.y, 2, 1}, 6, r.decimals, true);
    h.high = tk::AddValue(d, 0.0f, {15, r.y, 2, 1}, 6, r.decimals, true);
    const std::string what = meaning[r.k];
    tk::SetTooltip(h.label, what);
    tk::SetTooltip(h.input, "Start value of the fit. " + what);
    tk::SetTooltip(h.refine_toggle, kRefineTip);
    tk::SetTooltip(h.default_toggle, kDefaultTip);
    tk::SetTooltip(h.refined, "Refined value. " + what);
    tk::SetTooltip(h.esd, "Its estimated standard deviation, in the same unit");
    tk::SetTooltip(h.limits_toggle, kLimitsTip);
    tk::SetTooltip(h.low, "Lowest value a fit may give. " + what);
    tk::SetTooltip(h.high, "Highest value a fit may give. " + what);
  }
  FitRowHandles& rwp = w.fit_rows[kRwp];
  rwp.label = tk::AddLabel(d, "Rwp", {1, 2, 3, 1});
  rwp.refined = tk::AddValue(d, 0.0f, {8, 2, 2, 1}, 6, 3, false);
  rwp.limits_toggle = tk::AddToggle(d, "", {12, 2, 1, 1}, 0, LimitsToggleCode(kRwp));
  rwp.high = tk::AddValue(d, 0.0f, {15, 2, 2, 1}, 6, 3, true);
  tk::SetTooltip(rwp.label, meaning[kRwp]);
  tk::SetTooltip(rwp.refined, meaning[kRwp]);
  tk::SetTooltip(rwp.limits_toggle, "Reject a fit whose Rwp is above the limit");
  tk::SetTooltip(rwp.high, "Highest Rwp a fit may have, 0 to 1");
  const int flags_label = tk::AddLabel(d, "Flags", {1, 1, 3, 1});
  w.fit_flags = tk::AddTextField(d, "", {8, 1, 2, 1}, 6, false);
  constexpr const char* kFlagsTip =
      "Class and outcome, e.g. \"SF 1\": class S standard or strong, W weak, N normal, F filtered; "
      "then F fitted or R rejected, the reason letter of a reject (E C D B I P W R F S) and the attempt";
  tk::SetTooltip(flags_label, kFlagsTip);
  tk::SetTooltip(w.fit_flags, kFlagsTip);
  w.fit_skip_weak = tk::AddToggle(d, "Skip weak reflns", {1, 0, 5, 1}, 0, kCodeSkipWeak);
  w.fit_reset = tk::AddButton(d, "Reset to Defaults", {12, 0, 5, 1}, kCodeResetDefaults);
  tk::SetTooltip(w.fit_skip_weak, "Write weak reflections (class W) without fitting them");
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
  tk::SetTooltip(w.preprocess_threshold, "Keep reflections whose fitted I/sigma(I) is above this");
  tk::SetMainAction(w.preprocess_go);
  tk::SetEscapeAction(w.preprocess_quit);
  tk::SetFirstFocus(d, w.preprocess_threshold);
}

void BuildDiffractometerDialog(Widgets& w) {
  w.diffractometer_dialog = tk::OpenWindow(w.main_window, "Diffractometer constants", {5, 10, 12, 9});
  const int d = w.diffractometer_dialog;
  const int parities = tk::AddLabel(d, "Parities", {1, 7, 3, 1});
  tk::SetTooltip(parities, "Signs (+1 or -1) the intensity file gives 2\u03b8, \u03c9, \u03c7 and \u03c6");
  const char* circles[4] = {"2\u03b8", "\u03c9", "\u03c7", "\u03c6"};
  for (int i = 0; i < 4; ++i) {
    w.parity_values[i] = tk::AddValue(d, 1.0f, {4 + i, 7, 1, 1}, 2, 0, false);
    tk::SetTooltip(w.parity_values[i], std::string("Parity of ") + circles[i] + ": the sign it is written with");
  }
  w.mono_label = tk::AddTextField(d, "Monochromator 2Theta:", {1, 6, 6, 1}, 30, false);
  w.mono_value = tk::AddValue(d, 0.0f, {7, 6, 2, 1}, 4, 1, false);
  w.dihedral_label = tk::AddLabel(d, "Dihedral angle = ", {1, 5, 6, 1});
  w.dihedral_value = tk::AddValue(d, 0.0f, {7, 5, 2, 1}, 4, 1, false);
  w.orientation_text = tk::AddTextField(d, "Parallel", {9, 5, 3, 1}, 20, false);
  w.mono_unit = tk::AddLabel(d, "deg", {9, 6, 2, 1});
  tk::SetTooltip(w.mono_label, "2\u03b8 of the monochromator crystal, in degrees (for the polarisation factor)");
  tk::SetTooltip(w.mono_value, "2\u03b8 of the monochromator crystal, in degrees");
  tk::SetTooltip(w.dihedral_label, "Angle between the monochromator's and the diffractometer's planes, in degrees");
  tk::SetTooltip(w.dihedral_value, "Dihedral angle, in degrees");
  tk::SetTooltip(w.orientation_text, "How the monochromator's plane lies to the diffractometer's");
  const int atten = tk::AddLabel(d, "Attenuator", {1, 3, 4, 1});
  w.atten_value = tk::AddValue(d, 1.0f, {7, 3, 2, 1}, 4, 2, false);
  tk::SetTooltip(atten, "Attenuator factor: counts of a filtered reflection are multiplied by it");
  tk::SetTooltip(w.atten_value, "Attenuator factor (no unit)");
  const int rs = tk::AddLabel(d, "RS", {1, 2, 2, 1});
  w.rs_value = tk::AddValue(d, 200.0f, {7, 2, 2, 1}, 5, 1, false);
  constexpr const char* kRsTip =
      "RS: crystal-to-detector distance, in the length unit of the crystal offsets "
      "(turns an offset of the crystal into an angle)";
  tk::SetTooltip(rs, kRsTip);
  tk::SetTooltip(w.rs_value, kRsTip);
  w.diffractometer_ok = tk::AddButton(d, "OK", {5, 1, 2, 1}, kCodeDiffractometerOk);
  // The dialog only shows values: Escape closes it as OK does.
  tk::SetMainAction(w.diffractometer_ok);
  tk::SetEscapeAction(w.diffractometer_ok);
}

void BuildPeakDialog(Widgets& w) {
  w.peak_dialog = tk::OpenWindow(w.main_window, "Peak parameter default values", {5, 7, 10, 8});
  const int d = w.peak_dialog;
  tk::AddLabel(d, "FWHM = a + b.tan(theta)", {1, 5, 6, 1});
  tk::AddLabel(d, "Eta", {1, 4, 6, 1});
  tk::AddLabel(d, "Iratio", {1, 3, 6, 1});
  tk::AddLabel(d, "Wavelengths", {1, 2, 6, 1});
  // Two columns of values, a and b: no parameter here has a third.
  tk::AddLabel(d, "a", {8, 6, 1, 1});
  tk::AddLabel(d, "b", {10, 6, 1, 1});
  w.peak_fwhm_a = tk::AddValue(d, 0.0f, {7, 5, 2, 1}, 6, 3, true);
  w.peak_fwhm_b = tk::AddValue(d, 0.0f, {9, 5, 2, 1}, 6, 3, true);
  w.peak_eta = tk::AddValue(d, 0.0f, {7, 4, 2, 1}, 6, 3, true);
  w.peak_iratio = tk::AddValue(d, 0.0f, {7, 3, 2, 1}, 6, 3, true);
  w.peak_lambda1 = tk::AddValue(d, 0.0f, {7, 2, 2, 1}, 8, 6, true);
  w.peak_lambda2 = tk::AddValue(d, 0.0f, {9, 2, 2, 1}, 8, 6, true);
  w.peak_quit = tk::AddButton(d, "Quit", {3, 0, 2, 1}, kCodePeakQuit);
  w.peak_save = tk::AddButton(d, "Save + Exit", {6, 0, 3, 1}, kCodePeakSave);
  tk::AddLabel(d, "deg", {11, 5, 2, 1});
  tk::AddLabel(d, "\u00c5", {11, 2, 1, 1});
  tk::SetTooltip(w.peak_fwhm_a, "FWHM a, in degrees of omega");
  tk::SetTooltip(w.peak_fwhm_b, "FWHM b, in degrees of omega (times tan(theta))");
  tk::SetTooltip(w.peak_eta, "Eta: Lorentzian share of the profile, 0 to 1");
  tk::SetTooltip(w.peak_iratio, "Iratio: intensity of alpha2 over alpha1 (0 for one wavelength)");
  tk::SetTooltip(w.peak_lambda1, "Wavelength of alpha1, in \u00c5ngstr\u00f6m");
  tk::SetTooltip(w.peak_lambda2, "Wavelength of alpha2, in \u00c5ngstr\u00f6m");
  tk::SetMainAction(w.peak_save);
  tk::SetEscapeAction(w.peak_quit);
  tk::SetFirstFocus(d, w.peak_fwhm_a);
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
  // Beside its own toggle, which names it.
  w.bg_nstep = tk::AddValue(d, 0.0f, {7, 1, 2, 1}, 2, 0, true);
  w.bg_quit = tk::AddButton(d, "Quit", {1, 0, 2, 1}, kCodeBgQuit);
  w.bg_save = tk::AddButton(d, "Save + Exit", {4, 0, 3, 1}, kCodeBgSave);
  tk::SetTooltip(w.bg_a, "a, in counts per step");
  tk::SetTooltip(w.bg_b, "b, per degree of 2\u03b8");
  tk::SetTooltip(w.bg_c, "c, in counts per step");
  tk::SetTooltip(w.bg_nstep, "Number of steps at each end of the scan taken as background");
  tk::SetMainAction(w.bg_save);
  tk::SetEscapeAction(w.bg_quit);
  tk::SetFirstFocus(d, w.background_radio);
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
  tk::SetTooltip(w.fwhm_a, "a, in degrees of omega");
  tk::SetTooltip(w.fwhm_b, "b, in degrees of omega (times tan(theta))");
  tk::SetMainAction(w.fwhm_save);
  tk::SetEscapeAction(w.fwhm_quit);
  tk::SetFirstFocus(d, w.fwhm_a);
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
  tk::SetMainAction(w.output_save);
  tk::SetEscapeAction(w.output_quit);
  tk::SetFirstFocus(d, w.output_radio);
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
  tk::SetMainAction(w.refine_go);
  tk::SetEscapeAction(w.refine_quit);
}

void BuildResultsDialog(Widgets& w) {
  w.results_dialog = tk::OpenWindow(w.main_window, "Cell Refinement Results", {10, 10, 10, 10});
  const int d = w.results_dialog;
  w.results_ok = tk::AddButton(d, "Ok", {4, 0, 2, 1}, kCodeResultsOk);
  tk::AddLabel(d, "Value", {3, 11, 3, 1});
  tk::AddLabel(d, "Esd", {7, 11, 3, 1});
  tk::SetMainAction(w.results_ok);
  tk::SetEscapeAction(w.results_ok);
  const char* rows[7] = {"a", "b", "c", "alpha", "beta ", "gamma", "Vol  "};
  const char* units[7] = {"\u00c5", "\u00c5", "\u00c5", "degrees", "degrees", "degrees", "\u00c5\u00b3"};
  const char* symbols[7] = {"\u00c5", "\u00c5", "\u00c5", "\u00b0", "\u00b0", "\u00b0", "\u00c5\u00b3"};
  const int decimals[7] = {5, 5, 5, 3, 3, 3, 4};
  for (int i = 0; i < 7; ++i) {
    const int y = 10 - i;
    tk::SetTooltip(tk::AddLabel(d, rows[i], {1, y, 2, 1}), std::string("In ") + units[i]);
    w.results_value[i] = tk::AddValue(d, 0.0f, {3, y, 4, 1}, 10, decimals[i], false);
    w.results_esd[i] = tk::AddValue(d, 0.0f, {7, y, 4, 1}, 10, decimals[i], false);
    tk::AddLabel(d, symbols[i], {11, y, 1, 1});
  }
  tk::SetTooltip(tk::AddLabel(d, "Xtal offsets", {1, 3, 3, 1}),
                 "Displacement of the crystal from the goniometer centre, in the length unit of RS");
  for (int i = 0; i < 3; ++i) w.results_offsets[i] = tk::AddValue(d, 0.0f, {4 + 2 * i, 3, 2, 1}, 7, 4, false);
  tk::SetTooltip(tk::AddLabel(d, "Omega zero  ", {1, 2, 3, 1}), "Zero error of omega, in degrees");
  w.results_omega_zero = tk::AddValue(d, 0.0f, {7, 2, 2, 1}, 7, 4, false);
  tk::AddLabel(d, "\u00b0", {9, 2, 1, 1});
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
  tk::SetTooltip(w.omega_value, "Omega step of the scans, in degrees");
  tk::SetMainAction(w.omega_ok);
  tk::SetFirstFocus(w.omega_dialog, w.omega_value);
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
  // Nothing to integrate or preprocess until a data file is open.
  SetDataFileOpen(state, false);
  FollowFrameView(state);
  tk::WindowDraw(w.main_window);
  ShowWhereYouAre(state);
  return true;
}

}  // namespace kalvex
