// Manual fitting: each reflection shown is fitted at once; the user moves,
// refits, accepts (writes) or rejects it.
#include "commands/manual_fit.h"

#include <cmath>
#include <string>

#include "commands/session.h"
#include "engine/run.h"
#include "common/fixed_fields.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/fit_dialog.h"
#include "ui/scan_plot.h"
#include "ui/user_interface.h"

namespace kalvex {

std::array<int, 3> ParseHklEntry(std::string_view entry) {
  constexpr std::size_t kEntryLength = 20;
  std::string text = fields::Fixed(entry, kEntryLength);
  // Blanks up to just past the first double blank separate the numbers.
  const std::size_t pair = text.find("  ");
  const std::size_t last = pair == std::string::npos ? 0 : pair + 1;
  for (std::size_t i = 0; i <= last && i < text.size(); ++i)
    if (text[i] == ' ') text[i] = ',';

  // Three I5 fields; a comma ends a field early.
  std::array<int, 3> hkl{};
  std::size_t pos = 0;
  for (int& index : hkl) {
    std::string field;
    std::size_t taken = 0;
    while (taken < 5 && pos < text.size() && text[pos] != ',') {
      field += text[pos++];
      ++taken;
    }
    if (pos < text.size() && text[pos] == ',' && taken < 5) ++pos;
    index = fields::ParseInt(field).value_or(0);
  }
  return hkl;
}

namespace {

void ShowControls(ProgramState& state) {
  const Widgets& w = state.widgets;
  for (int n = kWExit; n <= kWSeqLabel; ++n) tk::WidgetStatus(w.main[n], tk::kActive);
  for (int n = kWAngle1; n <= kWAnglesLabel; ++n) tk::WidgetStatus(w.main[n], tk::kActive);
  const int accept = state.files.output_open ? tk::kActive : tk::kHidden;
  tk::WidgetStatus(w.main[kWAccept], accept);
  tk::WidgetStatus(w.main[kWReject], accept);
  for (int h : w.menu_titles) tk::WidgetStatus(h, tk::kGreyed);
  // Leaving manual fitting loses nothing (accepted reflections are written):
  // Escape in the window or the fitting controls presses its Exit.
  tk::SetWindowEscape(w.main_window, w.main[kWExit]);
  tk::SetWindowEscape(w.fit_dialog, w.main[kWExit]);
  // Enter after a start value typed in the fitting controls fits again; the
  // keys of the buttons start from "Next".
  tk::SetWindowEnter(w.main_window, w.main[kWRefit]);
  tk::SetWindowEnter(w.fit_dialog, w.main[kWRefit]);
  tk::SetFirstFocus(w.main_window, w.main[kWNext]);
  tk::WindowAction(w.main_window);
}

// Reads for `request` and fits; false at the end of the data or after a
// read error (which has closed the data file).
bool ReadAndFit(engine::Run& run, int request, const Hkl& wanted = {0, 0, 0}) {
  const int status = run.Read(request, wanted);
  if (status == kEndOfData || status == kReadError) return false;
  run.FitWithRetry();
  return true;
}

// Accept on a reflection the intensity file already holds (after
// "Previous") writes it again only if the user says so.
bool ConfirmRewrite(const ProgramState& state, const engine::Run& run) {
  if (!run.AlreadyWritten()) return true;
  const std::string question = "Reflection " + std::to_string(state.scan.seq_no) + " is already in " +
                               state.files.output_file_name + ". Write it again?";
  return tk::AskChoice("WinKalvex", question, "Yes|No") == 0;
}

}  // namespace

void ManualFit(ProgramState& state) {
  const Widgets& w = state.widgets;
  if (!state.files.data_open) return;
  engine::Run run(state, WindowEvents(state));
  state.fitting_mode = kManualFitting;
  ShowStartValues(state, run);
  ShowControls(state);
  ReadFitControls(state);
  run.FitWithRetry();
  ShowSeededInputs(state);
  PlotScan(state);
  ShowFitResults(state);

  for (;;) {
    const int code = tk::Wait();
    bool more = true;
    if (code == kCodeClosed) state.end_requested = true;
    if (code == kCodeExit || code == kCodeClosed) {
      RestoreMainWindow(state);
      return;
    }
    // Every fit takes the controls as the dialog holds them now.
    ReadFitControls(state);
    // Accept and Reject are not on offer without an intensity file.
    const bool can_write = state.files.output_open;
    if (code == kCodeResetDefaults) {
      ResetParameters(state, run);
    } else if (IsFitControlToggle(code)) {
      SeedParameters(state, run);
    } else if (code == kCodePrevious) {
      more = ReadAndFit(run, state.scan.seq_no - 1);
    } else if (code == kCodeRefit) {
      run.FitWithRetry();
    } else if (code == kCodeNext || (code == kCodeReject && can_write)) {
      more = ReadAndFit(run, state.scan.seq_no + 1);
    } else if (code == kCodeHklGo) {
      more = ReadAndFit(run, 0, ParseHklEntry(tk::GetString(w.main[kWHklEntry], 20)));
    } else if (code == kCodeSeqGo) {
      more = ReadAndFit(run, static_cast<int>(std::trunc(tk::GetNumber(w.main[kWSeqEntry]))));
    } else if (code == kCodeAccept && can_write) {
      if (ConfirmRewrite(state, run)) {
        state.scan.class_code[1] = 'F';
        state.scan.class_code[2] = ' ';
        run.Write();
        more = ReadAndFit(run, state.scan.seq_no + 1);
      }
    }
    if (!more || state.end_requested) {
      RestoreMainWindow(state);
      return;
    }
    ShowSeededInputs(state);
    PlotScan(state);
    ShowFitResults(state);
  }
}

}  // namespace kalvex
