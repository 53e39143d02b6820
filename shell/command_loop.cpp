// The program's heart beat: start-up, the command loop, StopWithMessage.
#include "shell/command_loop.h"

#include <cstdio>
#include <cstdlib>

#include "fit/auto_fit.h"
#include "fit/background.h"
#include "fit/manual_fit.h"
#include "refine/calc_ub.h"
#include "scan/preprocessing.h"
#include "shell/files.h"
#include "shell/parameter_dialogs.h"
#include "shell/user_interface.h"
#include "toolkit/toolkit.h"

namespace kalvex {

std::unique_ptr<ProgramState> NewProgramState() { return std::make_unique<ProgramState>(); }

void StartUp(ProgramState& state) {
  state.params.output_format = kOutputRfine;
  BuildUserInterface(state);
  OpenDataFile(state);
  OpenParameterFile(state);
}

bool DispatchCommand(ProgramState& state, int code) {
  switch (code) {
    case kCodeClosed:
    case kCodeExit:
    case kCodeMenuExit:
      StopWithMessage("");
    case kCodeOpenData:
      OpenDataFile(state);
      return true;
    case kCodeOpenParameters:
      OpenParameterFile(state);
      return true;
    case kCodeOpenOutput:
      OpenOutputFile(state);
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
    default:
      return false;
  }
}

void RunCommandLoop(ProgramState& state) {
  for (;;) {
    state.current_action = tk::Wait();
    DispatchCommand(state, state.current_action);
  }
}

std::string_view FatalMessageText(std::string_view message) {
  constexpr std::size_t kMessageLength = 60;
  message = message.substr(0, kMessageLength);
  std::size_t n = 0;
  while (n < message.size()) {
    const unsigned char c = static_cast<unsigned char>(message[n]);
    if (c < 32 || c > 122) break;
    ++n;
  }
  return message.substr(0, n);
}

namespace {
bool g_stopping = false;
}

bool Stopping() { return g_stopping; }

void StopWithMessage(std::string_view message) {
  g_stopping = true;
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
