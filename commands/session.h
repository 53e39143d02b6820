// What every command of the window shares: the engine's events shown as the
// program's boxes and status bar, the fitting controls copied to and from
// the run, and the one loop that drives a pass over the data file from the
// toolkit's timer (Auto profile fit, Preprocess, Calc Background).
#pragma once

#include <functional>

#include "engine/run.h"
#include "state/program_state.h"

namespace kalvex {

// Boxes, the status bar's progress, the data-file field after a read
// error, and the report's note of every reflection written.
engine::Events WindowEvents(ProgramState& state);

// The fitting controls read into the run, a step of the run done, and the
// start values it seeded shown: "Reset to Defaults", a refine toggle.
void SeedParameters(ProgramState& state, engine::Run& run);
void ResetParameters(ProgramState& state, engine::Run& run);
// The start values of a fitting run, shown in "Fitting Controls & Results".
void ShowStartValues(ProgramState& state, engine::Run& run);

// Back to the first reflection: a Single file's omega step asked again,
// then the header read. False after a read error (the file is closed).
bool RewindDataFile(ProgramState& state, engine::Run& run);

// How a pass ended.
enum class PassEnd { kEndOfData, kListFull, kReadError, kFatal, kExit };

struct PassSteps {
  std::function<engine::Step()> step;  // one reflection
  std::function<void()> go;            // "Go" pressed (after the timer is started)
  std::function<void(int code)> other; // any other code the pass answers
  bool reads_controls = false;         // a tick's fits take the fitting controls
};

// Runs the pass one timer tick at a time: as many reflections as fit in
// the tick's time budget, then one picture of the last, so the window keeps
// the screen's pace and Stop and Exit wait no longer than a tick. Go, Stop,
// Exit and the window's closing act between two ticks. `running`: the timer
// starts at once (else at the first Go).
PassEnd RunPass(ProgramState& state, engine::Run& run, const PassSteps& steps, bool running);

// The main window's status bar, emptied.
void ClearStatus(ProgramState& state);

}  // namespace kalvex
