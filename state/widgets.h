// Handles of every window and widget the program creates; they live for the
// whole run.
#pragma once

#include <array>

namespace kalvex {

// Numbers of the main window's widget list (1 Exit, 2..19 the fitting controls).
enum MainWidget {
  kWExit = 1,
  kWPrevious = 2,
  kWNext = 3,
  kWRefit = 4,
  kWHklEntry = 5,
  kWHklGo = 6,
  kWSeqEntry = 7,
  kWSeqGo = 8,
  kWHklLabel = 9,
  kWSeqLabel = 10,
  kWAccept = 11,
  kWReject = 12,
  kWAngle1 = 13,  // 13..16: 2theta, omega, chi, phi
  kWAnglesLabel = 17,
  kWGo = 18,
  kWStop = 19,
};
constexpr int kMainWidgets = 19;

// Lines of the reduction summary shown at once; more go on further pages.
// A page stays small enough to open below the plot on a small screen.
constexpr int kSummaryRows = 12;

// One row of "Fitting Controls & Results" per profile parameter (index 1..6)
// and Rwp (index 7).
struct FitRowHandles {
  int label = 0;
  int input = 0;
  int refine_toggle = 0;
  int default_toggle = 0;
  int refined = 0;
  int esd = 0;
  int limits_toggle = 0;
  int low = 0;
  int high = 0;
};

struct Widgets {
  // Main window.
  int main_window = 0;
  int frame = 0;
  int status_bar = 0;
  int logo = 0;
  std::array<int, kMainWidgets + 1> main{};  // [1..19]
  int data_from_label = 0;
  int data_file_field = 0;
  int title_field = 0;
  int output_label = 0;
  int output_file_field = 0;

  // Menus.
  int menu_bar = 0;
  std::array<int, 4> menu_titles{};  // File, Integrate, Utilities, Parameters
  int menu_open_data = 0, menu_open_parameters = 0, menu_open_output = 0, menu_exit = 0;
  int menu_report = 0;
  int menu_copy_command = 0;  // File > Copy batch command
  int menu_manual_fit = 0, menu_auto_fit = 0;
  int menu_preprocess = 0, menu_calc_ub = 0, menu_calc_background = 0, menu_calc_fwhm = 0;
  int menu_reduce = 0;
  int menu_recent = 0;  // the data files opened lately
  int menu_pkvals = 0, menu_diffractometer = 0, menu_backgrounds = 0, menu_output_format = 0;

  // "Input Data file Format".
  int format_dialog = 0;
  int format_radio = 0;
  int format_xcalibur = 0, format_single = 0, format_cad4 = 0, format_xscans = 0;
  int format_ok = 0;

  // "Fitting Controls & Results".
  int fit_dialog = 0;
  std::array<FitRowHandles, 8> fit_rows{};  // [1..7]
  int fit_flags = 0;                         // "Flags" text, 6 characters
  int fit_skip_weak = 0;
  int fit_reset = 0;

  // "Preprocessing Control".
  int preprocess_dialog = 0;
  int preprocess_threshold = 0;
  int preprocess_go = 0, preprocess_quit = 0;

  // "Diffractometer constants".
  int diffractometer_dialog = 0;
  std::array<int, 4> parity_values{};
  int mono_label = 0, mono_value = 0, mono_unit = 0;
  int dihedral_label = 0, dihedral_value = 0;
  int orientation_text = 0;
  int atten_value = 0;
  int rs_value = 0;
  int diffractometer_ok = 0;

  // "Peak parameter default values".
  int peak_dialog = 0;
  int peak_fwhm_a = 0, peak_fwhm_b = 0, peak_eta = 0, peak_iratio = 0;
  int peak_lambda1 = 0, peak_lambda2 = 0;
  int peak_quit = 0, peak_save = 0;

  // "Fixed Background Options".
  int background_dialog = 0;
  int background_radio = 0;
  int bg_none = 0, bg_spline = 0, bg_exp = 0, bg_from_scan = 0;
  int bg_parameters_label = 0;
  int bg_a = 0, bg_b = 0, bg_c = 0;
  int bg_nstep = 0;
  int bg_quit = 0, bg_save = 0;

  // "FWHM values from dataset".
  int fwhm_dialog = 0;
  int fwhm_a = 0, fwhm_b = 0;          // editable line coefficients
  int fwhm_esd_a = 0, fwhm_esd_b = 0;  // display
  int fwhm_quit = 0, fwhm_save = 0;

  // "Output Format".
  int output_dialog = 0;
  int output_radio = 0;
  int out_rfine = 0, out_rfine_extended = 0, out_shelx = 0;
  int output_quit = 0, output_save = 0;

  // "Unit Cell Refinement".
  int refine_dialog = 0;
  int refine_constrained = 0, refine_offsets = 0, refine_omega_zero = 0;
  int refine_system_list = 0;
  int refine_quit = 0, refine_go = 0;

  // "Cell Refinement Results".
  int results_dialog = 0;
  int results_ok = 0;
  std::array<int, 7> results_value{};  // a, b, c, alpha, beta, gamma, volume
  std::array<int, 7> results_esd{};
  std::array<int, 3> results_offsets{};
  int results_omega_zero = 0;
  int results_count = 0;

  // Busy box.
  int busy_dialog = 0;

  // Omega-step box.
  int omega_dialog = 0;
  int omega_value = 0;
  int omega_ok = 0;

  // "Reduce to SHELX/CIF".
  int reduce_dialog = 0;
  int reduce_input = 0;  // the intensity file reduced, display
  int reduce_hkl = 0, reduce_cif = 0;
  int reduce_laue_list = 0;
  int reduce_lp = 0, reduce_decay = 0, reduce_cosines = 0;
  int reduce_quit = 0, reduce_go = 0;
  int reduce_absorption_list = 0;  // none, empirical, faces, sphere
  int reduce_faces = 0;            // the faces file
  int reduce_mu = 0, reduce_radius = 0, reduce_lmax = 0;
  int reduce_formula = 0, reduce_z = 0;
  int reduce_report = 0;  // the reduction report's file; empty for none

  // "Reduction Summary": one page of the summary lines.
  int summary_dialog = 0;
  std::array<int, kSummaryRows> summary_rows{};
  int summary_page = 0;
  int summary_ok = 0, summary_more = 0;

  // "End of Run": the classification summary of the pass just ended and the
  // reflections it did not write; it stays up until closed.
  int run_end_dialog = 0;
  int run_end_text = 0;
  int run_end_report = 0, run_end_close = 0;
};

}  // namespace kalvex
