// "Calc UB". The report it writes to the log:
//    RESULTS OF LEAST SQUARES REFINEMENT OF CELL PARAMETERS
//   the kind of refinement, the reflection table (3I4, then F9.3 columns),
//   the orientation matrix (3F12.5 rows), the cell and ESD lines
//   (3F9.5, 3F8.3, F10.4), the counts and residuals (I5, F7.4, 3F10.4).
#include "commands/calc_ub.h"

#include <cmath>
#include <string>

#include "commands/data_file.h"
#include "commands/orientation.h"
#include "common/fixed_fields.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/user_interface.h"

namespace kalvex {

using fields::FormatInt;
using fields::FormatReal;

namespace {

std::string CellLine(const char* label, const CellVector& v) {
  std::string line = std::string(label) + fields::Blanks(12);
  for (int i = 0; i < 3; ++i) line += FormatReal(v[i], 9, 5);
  for (int i = 3; i < 6; ++i) line += FormatReal(v[i], 8, 3);
  return line + FormatReal(v[6], 10, 4);
}

void Refine(ProgramState& state, const RefinementOptions& options) {
  auto& log = state.files.log;
  if (options.crystal_system != 0) {
    LSVEC(state, options.crystal_system);
    log.Empty();
    log.Line("  SYMMETRY-CONSTRAINED TO " + fields::Fixed(CrystalSystemName(options.crystal_system), 25) +
             " NO XTAL OFFSETS");
  } else if (options.offsets) {
    LSQ_OFFSETS(state, options.omega_zero ? 1 : 0);
    log.Empty();
    log.Line("  UNCONSTRAINED REFINEMENT WITH CRYSTAL OFFSETS");
  } else if (options.omega_zero) {
    log.Empty();
    log.Line("  UNCONSTRAINED REFINEMENT WITH OMEGA ZERO");
    RefineOmegaZero(state);
    state.orientation.offsets = {0, 0, 0};
  } else {
    LSQ(state);
    log.Empty();
    log.Line("  UNCONSTRAINED REFINEMENT ");
    state.orientation.offsets = {0, 0, 0};
  }
}

}  // namespace

void RefineAndReport(ProgramState& state, const RefinementOptions& options) {
  auto& log = state.files.log;
  OrientationState& o = state.orientation;
  const PreprocessedList& list = state.preprocessed_list;
  const int n = list.count;
  o.offsets = {0, 0, 0};
  o.omega_zero = 0;
  o.corrections_valid = false;
  log.Empty(2);
  log.Line(std::string(" RESULTS OF LEAST SQUARES REFINEMENT OF ") + "CELL PARAMETERS");
  Refine(state, options);
  // Predictions need a UB that can be inverted; after a failed first
  // refinement there is none, and every prediction would only raise a box.
  const Mat3& u = o.ub;
  const float det = u[0][0] * (u[1][1] * u[2][2] - u[1][2] * u[2][1]) -
                    u[0][1] * (u[1][0] * u[2][2] - u[1][2] * u[2][0]) +
                    u[0][2] * (u[1][0] * u[2][1] - u[1][1] * u[2][0]);
  o.corrections_valid = det != 0.0f && std::isfinite(det);
  SessionRecord& record = state.session_record;
  record.orientation_refined = o.corrections_valid;
  record.omega.clear();

  const std::string head = "   H   K   L  2THETA   OM(FIT)    CHI      PHI   ";
  if (options.offsets) {
    log.Line(head + "OM(UB) + OM(OFF) = OM(CALC)   DEL-OM");
    log.Empty();
  } else {
    log.Empty();
    log.Line(head + "OM(UB)   DEL-OM");
    log.Empty();
  }
  double sum = 0;
  float largest = 0;
  for (int i = 0; i < n; ++i) {
    const PreprocessedEntry& e = list.entries[i];
    const Angles angles = e.angles;
    const float om_ub = PredictOmega(state, angles, e.hkl);
    std::string line;
    for (int v : e.hkl) line += FormatInt(v, 4);
    for (float a : angles) line += FormatReal(a, 9, 3);
    float del = 0;
    if (options.offsets) {
      const float correction = OffsetCorrection(state, angles)[1];
      const float om_calc = om_ub + correction;
      del = angles[kOmega] - om_calc;
      for (float v : {om_ub, correction, om_calc, del}) line += FormatReal(v, 9, 3);
    } else {
      del = angles[kOmega] - om_ub;
      for (float v : {om_ub, del}) line += FormatReal(v, 9, 3);
    }
    log.Line(line);
    if (o.corrections_valid) record.omega.push_back({angles[0], del});
    sum += std::fabs(del);
    largest = std::max(largest, std::fabs(del));
  }

  log.Empty(2);
  log.Line("  Orientation Matrix ");
  log.Line("     (For axes and circle parities as read from data file)");
  log.Empty();
  for (const auto& row : o.ub) {
    std::string line;
    for (float v : row) line += FormatReal(v, 12, 5);
    log.Line(line);
  }
  log.Empty(2);
  log.Line(CellLine(" CELL", o.cell));
  log.Line(CellLine(" ESDs", o.cell_esd));
  log.Empty();
  log.Line("     " + FormatInt(n, 5) + " REFLECTIONS USED");
  log.Line(" AVERAGE DELTA-OMEGA = " + FormatReal(n > 0 ? sum / n : 0.0, 7, 4));
  log.Line("     MAX OMEGA ERROR = " + FormatReal(largest, 7, 4));
  log.Line("          OMEGA-ZERO = " + FormatReal(o.omega_zero, 7, 4));
  log.Empty();
  std::string offsets = "     CRYSTAL OFFSETS = ";
  for (float x : o.offsets) offsets += FormatReal(x, 10, 4);
  log.Line(offsets);
  log.Empty();
  FlushLog(state);
}

void CalcUB(ProgramState& state) {
  const int n = state.preprocessed_list.count;
  if (n < 3) {
    tk::ErrorBox("Win-Kalvex", "Too Few Reflections for Least Squares");
    return;
  }
  const RefinementOptions options = AskRefinementOptions(state);
  if (!options.refine) return;
  ShowWorkingBox(state, 1);
  RefineAndReport(state, options);
  ShowWorkingBox(state, 0);
  ShowRefinementResults(state, n);
}

RefinementOptions AskRefinementOptions(ProgramState& state) {
  const Widgets& w = state.widgets;
  RefinementOptions options;
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
    options.refine = true;
    options.offsets = tk::GetToggle(w.refine_offsets) == 1;
    options.omega_zero = tk::GetToggle(w.refine_omega_zero) == 1;
    options.crystal_system = tk::GetToggle(w.refine_constrained) ? tk::ListBoxSelected(w.refine_system_list) : 0;
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
  for (int i = 0; i < 7; ++i) {
    tk::SetNumber(w.results_value[i], o.cell[i]);
    tk::SetNumber(w.results_esd[i], o.cell_esd[i]);
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
