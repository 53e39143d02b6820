// The program's heart beat: start-up, the command loop, StopWithMessage.
#include "shell/command_loop.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "commands/auto_fit.h"
#include "commands/calc_background.h"
#include "commands/calc_ub.h"
#include "commands/files.h"
#include "commands/fitting.h"
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

void StartUp(ProgramState& state) {
  state.params.output_format = kOutputRfine;
  if (!BuildUserInterface(state)) StopWithMessage("Cannot start the window system");
  OpenDataFile(state);
  OpenParameterFile(state);
}

namespace {

bool RunHandler(ProgramState& state, int code) {
  switch (code) {
    case kCodeClosed:
    case kCodeExit:
    case kCodeMenuExit:
      StopWithMessage("");
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
  FlushIntegrated(state);
  // A command that met the main window's closing, or a fatal error, has
  // returned to here; the program ends now.
  if (state.end_requested) StopWithMessage(state.end_message);
  return known;
}

void RunCommandLoop(ProgramState& state) {
  for (;;) {
    state.current_action = tk::Wait();
    DispatchCommand(state, state.current_action);
  }
}

namespace {
bool g_stopping = false;
std::function<void()> g_before_last_words;
}  // namespace

bool Stopping() { return g_stopping; }

void BeforeLastWords(std::function<void()> action) { g_before_last_words = std::move(action); }

void StopWithMessage(std::string_view message) {
  g_stopping = true;
  if (g_before_last_words) g_before_last_words();
  const std::string_view text = FatalMessageText(message);
  if (!text.empty()) {
    std::fprintf(stderr, "WinKalvex: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
    tk::ErrorBox("WinKalvex", text);
  }
  tk::Exit();
  std::fflush(nullptr);
  // A fatal call fails the process even when its text shows nothing.
  std::exit(message.empty() ? 0 : 1);
}

}  // namespace kalvex
