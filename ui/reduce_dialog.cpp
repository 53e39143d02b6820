#include "ui/reduce_dialog.h"

#include "toolkit/toolkit.h"
#include "ui/codes.h"

namespace kalvex {

void BuildReduceDialogs(Widgets& w) {
  w.reduce_dialog = tk::OpenWindow(w.main_window, "Reduce to SHELX/CIF", {4, 7, 25, 9});
  const int d = w.reduce_dialog;
  tk::AddLabel(d, "Intensity file", {1, 7, 4, 1});
  w.reduce_input = tk::AddTextField(d, "", {5, 7, 7, 1}, 255, false);
  tk::AddLabel(d, "HKLF 4 file", {1, 6, 4, 1});
  w.reduce_hkl = tk::AddTextField(d, "", {5, 6, 7, 1}, 255, true);
  tk::AddLabel(d, "CIF", {1, 5, 4, 1});
  w.reduce_cif = tk::AddTextField(d, "", {5, 5, 7, 1}, 255, true);
  tk::AddLabel(d, "Laue group", {1, 4, 4, 1});
  w.reduce_laue_list = tk::AddListBox(d, {5, 4, 4, 1});
  for (const char* name : kReduceLaueChoices) tk::ListBoxAdd(w.reduce_laue_list, name);
  tk::ListBoxSelect(w.reduce_laue_list, 1);
  w.reduce_lp = tk::AddToggle(d, "Lorentz-polarisation", {1, 3, 7, 1}, 1, 0);
  w.reduce_decay = tk::AddToggle(d, "Decay from standards", {1, 2, 7, 1}, 1, 0);
  w.reduce_cosines = tk::AddToggle(d, "Direction cosines", {1, 1, 7, 1}, 0, 0);
  // The absorption correction and the cell's contents, beside.
  tk::AddLabel(d, "Absorption", {13, 8, 4, 1});
  w.reduce_absorption_list = tk::AddListBox(d, {17, 8, 4, 1});
  for (const char* name : kReduceAbsorptionChoices) tk::ListBoxAdd(w.reduce_absorption_list, name);
  tk::ListBoxSelect(w.reduce_absorption_list, 1);
  tk::AddLabel(d, "Faces file", {13, 7, 4, 1});
  w.reduce_faces = tk::AddTextField(d, "", {17, 7, 7, 1}, 255, true);
  tk::AddLabel(d, "mu (1/mm)", {13, 6, 4, 1});
  w.reduce_mu = tk::AddValue(d, 0.0f, {17, 6, 2, 1}, 7, 4, true);
  tk::SetTooltip(w.reduce_mu, "0: from the formula and Z");
  tk::AddLabel(d, "Radius (mm)", {13, 5, 4, 1});
  w.reduce_radius = tk::AddValue(d, 0.0f, {17, 5, 2, 1}, 7, 4, true);
  tk::SetTooltip(w.reduce_radius, "of a sphere");
  tk::AddLabel(d, "lmax", {13, 4, 4, 1});
  w.reduce_lmax = tk::AddValue(d, 4.0f, {17, 4, 2, 1}, 2, 0, true);
  tk::SetTooltip(w.reduce_lmax, "highest order of the empirical surface, 2 to 6");
  tk::AddLabel(d, "Formula", {13, 3, 4, 1});
  w.reduce_formula = tk::AddTextField(d, "", {17, 3, 7, 1}, 255, true);
  tk::AddLabel(d, "Z", {13, 2, 4, 1});
  w.reduce_z = tk::AddValue(d, 0.0f, {17, 2, 2, 1}, 5, 2, true);
  tk::AddLabel(d, "Report", {13, 1, 4, 1});
  w.reduce_report = tk::AddTextField(d, "", {17, 1, 7, 1}, 255, true);
  w.reduce_quit = tk::AddButton(d, "Quit", {8, 0, 2, 1}, kCodeReduceQuit);
  w.reduce_go = tk::AddButton(d, "Reduce", {13, 0, 3, 1}, kCodeReduceGo);
  tk::SetMainAction(w.reduce_go);
  tk::SetEscapeAction(w.reduce_quit);

  // Wide enough for the longest summary line, a page at a time.
  w.summary_dialog = tk::OpenWindow(w.main_window, "Reduction Summary", {4, 2, 22, kSummaryRows + 1});
  const int s = w.summary_dialog;
  for (int i = 0; i < kSummaryRows; ++i) {
    w.summary_rows[i] = tk::AddTextField(s, "", {0, kSummaryRows - i, 22, 1}, 255, false);
    tk::SetFixedPitch(w.summary_rows[i]);  // the Laue table's columns are aligned with spaces
  }
  w.summary_page = tk::AddTextField(s, "", {1, 0, 4, 1}, 20, false);
  w.summary_ok = tk::AddButton(s, "Ok", {10, 0, 2, 1}, kCodeSummaryOk);
  w.summary_more = tk::AddButton(s, "Next page", {13, 0, 3, 1}, kCodeSummaryMore);
  tk::SetMainAction(w.summary_ok);
  tk::SetEscapeAction(w.summary_ok);
}

}  // namespace kalvex
