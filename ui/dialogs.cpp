// The modal dialog pattern, the omega-step box, and the switches of the
// main window's state that several commands share.
#include "ui/dialogs.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "toolkit/toolkit.h"
#include "ui/scan_plot.h"
#include "ui/user_interface.h"

namespace kalvex {

void OpenModal(ProgramState&, int dialog) {
  tk::WindowDraw(dialog);
  tk::WindowAction(dialog);
}

void CloseModal(ProgramState& state, int dialog) {
  tk::WindowRemove(dialog);
  tk::WindowAction(state.widgets.main_window);
}

void AskOmegaStep(ProgramState& state, float& omega_step) {
  const Widgets& w = state.widgets;
  OpenModal(state, w.omega_dialog);
  for (;;) {
    if (tk::Wait() != kCodeOmegaOk) continue;
    omega_step = tk::GetNumber(w.omega_value);
    if (omega_step >= 0.001f) break;
    tk::ErrorBox("WinKalvex", "  Step size too small");
    omega_step = 0.001f;
    tk::SetNumber(w.omega_value, omega_step);
    tk::WindowDraw(w.omega_dialog);
  }
  CloseModal(state, w.omega_dialog);
}

std::optional<std::vector<float>> CheckedNumbers(std::initializer_list<NamedField> fields,
                                                 std::initializer_list<float> previous) {
  std::vector<float> numbers;
  auto before = previous.begin();
  for (const NamedField& field : fields) {
    const std::optional<float> number = tk::GetCheckedNumber(field.widget);
    if (!number) {
      tk::ErrorBox("WinKalvex", std::string(field.name) + " is not a number: it keeps its value");
      if (before != previous.end()) tk::SetNumber(field.widget, *before);
      return std::nullopt;
    }
    numbers.push_back(*number);
    if (before != previous.end()) ++before;
  }
  return numbers;
}

void ShowAsRead(int field, float value, int least) {
  constexpr int kMost = 4;
  int decimals = least;
  // The fewest decimals that give the number back to single precision.
  while (decimals < kMost) {
    const double unit = std::pow(10.0, decimals);
    if (std::fabs(std::round(value * unit) / unit - value) <= 1e-6 * std::max(1.0f, std::fabs(value))) break;
    ++decimals;
  }
  tk::SetValueDecimals(field, decimals);
  tk::SetNumber(field, value);
}

void SetPreprocessedState(ProgramState& state, int flag) {
  const Widgets& w = state.widgets;
  if (flag == 0) {
    state.preprocessed = 0;
    tk::WidgetStatus(w.menu_calc_ub, tk::kGreyed);
    tk::WidgetStatus(w.menu_calc_fwhm, tk::kGreyed);
  } else {
    state.preprocessed = 1;
    tk::WidgetStatus(w.menu_calc_ub, tk::kActive);
    // Calc Background reads the data file again.
    tk::WidgetStatus(w.menu_calc_background, state.files.data_open ? tk::kActive : tk::kGreyed);
    tk::WidgetStatus(w.menu_calc_fwhm, tk::kActive);
  }
}

void RestoreMainWindow(ProgramState& state) {
  const Widgets& w = state.widgets;
  // The scan goes; the frame says again what is open and what comes next.
  ShowWhereYouAre(state);
  tk::WindowRemove(w.fit_dialog);
  // Escape has no Exit to press outside manual fitting: at the menus Exit
  // would end the program.
  tk::SetWindowEscape(w.main_window, 0);
  tk::SetWindowEscape(w.fit_dialog, 0);
  tk::SetWindowEnter(w.main_window, 0);
  tk::SetWindowEnter(w.fit_dialog, 0);
  tk::SetFirstFocus(w.main_window, 0);
  for (int i = 2; i <= kMainWidgets; ++i) tk::WidgetStatus(w.main[i], tk::kHidden);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kActive);
  // A run that ended on a damaged data file has closed it.
  SetDataFileOpen(state, state.files.data_open);
  tk::WindowDraw(w.main_window);
}

void SetDataFileOpen(ProgramState& state, bool open) {
  const Widgets& w = state.widgets;
  // Without a data file there is nothing to integrate, preprocess or take a
  // background from; Calc UB, Calc FWHM and the reduction work from what a
  // pass or a run has left.
  const int status = open ? tk::kActive : tk::kGreyed;
  tk::WidgetStatus(w.menu_titles[1], status);
  tk::WidgetStatus(w.menu_preprocess, status);
  tk::WidgetStatus(w.menu_calc_background, status);
  if (!open) ShowDataSetTitle(state, "");
}

void ClearReflectionFields(ProgramState& state) {
  const Widgets& w = state.widgets;
  tk::SetString(w.main[kWHklEntry], "");
  tk::SetNumber(w.main[kWSeqEntry], 0.0f);
  for (int i = 0; i < 4; ++i) tk::SetNumber(w.main[kWAngle1 + i], 0.0f);
}

void ShowDataSetTitle(ProgramState& state, std::string_view title) {
  const Widgets& w = state.widgets;
  tk::SetString(w.title_field, title);
  // An empty box under the file name would say nothing.
  const bool blank = title.find_first_not_of(' ') == std::string_view::npos;
  tk::WidgetStatus(w.title_field, blank ? tk::kHidden : tk::kActive);
}

}  // namespace kalvex
