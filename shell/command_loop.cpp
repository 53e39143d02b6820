// The program's heart beat: start-up, the command loop, and the end of the
// program, whose status only main returns.
#include "shell/command_loop.h"

#include <cstdio>
#include <utility>

#include "commands/auto_fit.h"
#include "commands/calc_background.h"
#include "commands/calc_ub.h"
#include "commands/files.h"
#include "commands/session.h"
#include "commands/manual_fit.h"
#include "commands/parameter_dialogs.h"
#include "commands/preprocessing.h"
#include "commands/reduce_dialog.h"
#include "commands/report.h"
#include "commands/run_end.h"
#include "common/read_error.h"
#include "toolkit/toolkit.h"
#include "ui/user_interface.h"

namespace kalvex {

void StartUp(ProgramState& state, const std::optional<tk::BrowseResult>& data_file) {
  state.params.output_format = kOutputRfine;
  if (!BuildUserInterface(state)) {
    state.end_requested = true;
    state.end_message = "Cannot start the window system";
    return;
  }
  OpenDataFileFrom(state, data_file);
  OpenParameterFile(state);
}

namespace {

bool RunHandler(ProgramState& state, int code) {
  switch (code) {
    case kCodeClosed:
    case kCodeExit:
    case kCodeMenuExit:
      state.end_requested = true;
      return true;
    case kCodeOpenData:
      OpenDataFile(state);
      return true;
    case kCodeOpenRecent:
    case kCodeOpenRecent + 1:
    case kCodeOpenRecent + 2:
    case kCodeOpenRecent + 3:
      static_assert(kRecentFiles == 4);
      OpenRecentDataFile(state, code - kCodeOpenRecent);
      return true;
    case kCodeOpenParameters:
      OpenParameterFile(state);
      return true;
    case kCodeOpenOutput:
      OpenOutputFile(state);
      return true;
    case kCodeReport:
      SaveReport(state);
      return true;
    case kCodeCopyCommand:
      CopyBatchCommand(state);
      return true;
    case kCodePkvals:
      ShowPeakDefaults(state);
      return true;
    case kCodeDiffractometer:
      ShowDiffractometerConstants(state);
      return true;
    case kCodeBackgrounds:
      EditBackgroundOptions(state);
      return true;
    case kCodeOutputFormat:
      EditOutputFormat(state);
      return true;
    case kCodeManualFit:
      ManualFit(state);
      return true;
    case kCodeAutoFit:
      AutoFit(state);
      return true;
    case kCodePreprocess:
      ShowPreprocessingControl(state);
      return true;
    case kCodeCalcUB:
      CalcUB(state);
      return true;
    case kCodeCalcBackground:
      CalcBackground(state);
      return true;
    case kCodeCalcFwhm:
      CalcFwhmLine(state);
      return true;
    case kCodeReduce:
      ReduceToShelx(state);
      return true;
    case kCodeRunEndReport:
      OpenReportFromRunEnd(state);
      return true;
    case kCodeRunEndClose:
      CloseRunEnd(state);
      return true;
    default:
      return false;
  }
}

}  // namespace

bool DispatchCommand(ProgramState& state, int code) {
  const bool known = RunHandler(state, code);
  // No record waits in the writer while the program waits for the user.
  engine::Run(state, WindowEvents(state)).FlushRecords();
  return known;
}

int RunCommandLoop(ProgramState& state) {
  // A command that met the main window's closing, an Exit, or a fatal error
  // has returned to here: the program ends.
  while (!state.end_requested) {
    state.current_action = tk::Wait();
    DispatchCommand(state, state.current_action);
  }
  return EndProgram(state.end_message);
}

int EndProgram(std::string_view message) {
  const std::string_view text = FatalMessageText(message);
  if (!text.empty()) {
    std::fprintf(stderr, "WinKalvex: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
    tk::ErrorBox("WinKalvex", text);
  }
  tk::Exit();
  std::fflush(nullptr);
  // A fatal end fails the process even when its text shows nothing.
  return message.empty() ? 0 : 1;
}

}  // namespace kalvex
