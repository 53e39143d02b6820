// "Calc UB": its options dialog, the engine's refinement with its report in
// the log, and the results dialog.
#include "commands/calc_ub.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "commands/session.h"
#include "engine/run.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/user_interface.h"

namespace kalvex {

void CalcUB(ProgramState& state) {
  const int n = state.preprocessed_list.count;
  if (n < 3) {
    tk::ErrorBox("Win-Kalvex", "Too Few Reflections for Least Squares");
    return;
  }
  const std::optional<engine::RefinementOptions> options = AskRefinementOptions(state);
  if (!options) return;
  ShowWorkingBox(state, 1);
  engine::Run(state, WindowEvents(state)).RefineOrientation(*options);
  ShowWorkingBox(state, 0);
  ShowRefinementResults(state, n);
}

std::optional<engine::RefinementOptions> AskRefinementOptions(ProgramState& state) {
  const Widgets& w = state.widgets;
  std::optional<engine::RefinementOptions> options;
  tk::WidgetStatus(w.refine_quit, tk::kActive);
  tk::WidgetStatus(w.refine_go, tk::kActive);
  // A refinement constrained to a crystal system refines neither offsets
  // nor omega zero: their toggles are greyed and say why.
  auto list_status = [&] {
    const bool constrained = tk::GetToggle(w.refine_constrained) != 0;
    tk::WidgetStatus(w.refine_system_list, constrained ? tk::kActive : tk::kHidden);
    tk::WidgetStatus(w.refine_offsets, constrained ? tk::kGreyed : tk::kActive);
    tk::WidgetStatus(w.refine_omega_zero, constrained ? tk::kGreyed : tk::kActive);
    tk::SetTooltip(w.refine_offsets, constrained ? "Not with \"Symmetry constrained\": that refinement keeps the "
                                                   "crystal offsets as they are"
                                                 : "Refine the crystal's displacement from the goniometer centre");
    tk::SetTooltip(w.refine_omega_zero, constrained ? "Not with \"Symmetry constrained\": that refinement keeps "
                                                      "omega zero as it is"
                                                    : "Refine the zero error of omega");
  };
  list_status();
  OpenModal(state, w.refine_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeRefineQuit) break;
    if (code == kCodeRefineConstrained) list_status();
    if (code != kCodeRefineGo) continue;
    options = engine::RefinementOptions{
        tk::GetToggle(w.refine_constrained) ? tk::ListBoxSelected(w.refine_system_list) : 0,
        tk::GetToggle(w.refine_offsets) == 1, tk::GetToggle(w.refine_omega_zero) == 1};
    break;
  }
  CloseModal(state, w.refine_dialog);
  return options;
}

void ShowWorkingBox(ProgramState& state, int flag) {
  const int box = state.widgets.busy_dialog;
  if (flag == 1) {
    tk::WindowDraw(box);
  } else {
    tk::WindowRemove(box);
  }
}

void ShowRefinementResults(ProgramState& state, int n) {
  const Widgets& w = state.widgets;
  const OrientationState& o = state.orientation;
  // Each value to the places of its ESD, which shows two digits of its own
  // (an angle's 0.0005 degree is not 0.000); no ESD shown where none was
  // computed (fewer than four reflections).
  constexpr int kLeastDecimals[7] = {5, 5, 5, 3, 3, 3, 4};
  constexpr int kMostDecimals = 6;
  for (int i = 0; i < 7; ++i) {
    const float esd = o.cell_esd[i];
    int decimals = kLeastDecimals[i];
    if (esd > 0 && std::isfinite(esd))
      decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(esd))) + 1, decimals, kMostDecimals);
    tk::SetValueDecimals(w.results_value[i], decimals);
    tk::SetValueDecimals(w.results_esd[i], decimals);
    tk::SetNumber(w.results_value[i], o.cell[i]);
    tk::SetNumber(w.results_esd[i], esd);
    tk::WidgetStatus(w.results_esd[i], esd > 0 ? tk::kActive : tk::kHidden);
  }
  for (int i = 0; i < 3; ++i) tk::SetNumber(w.results_offsets[i], o.offsets[i]);
  tk::SetNumber(w.results_omega_zero, o.omega_zero);
  tk::SetNumber(w.results_count, static_cast<float>(n));
  OpenModal(state, w.results_dialog);
  while (tk::Wait() != kCodeResultsOk) {
  }
  CloseModal(state, w.results_dialog);
}

}  // namespace kalvex
