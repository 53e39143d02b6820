// What "Auto profile fit", "Manual profile fit" and "Preprocess" share: the
// start values from the fitting controls, the fit with its retry and
// counters, and writing the integrated reflection.
#pragma once

#include <chrono>
#include <cstddef>

#include "state/program_state.h"

namespace kalvex {

// Reads the fitting controls and sets the start values by their rules,
// showing what the rules set. Returns the controls of the fit.
FitControls SeedParameters(ProgramState& state);

// "Reset to Defaults": every start value from its default rule, shown.
void ResetParameters(ProgramState& state);

// What a fitting run starts from: the defaults while no start value has been
// set (all are zero), then shown in "Fitting Controls & Results".
void ShowStartValues(ProgramState& state);

// Seeds and fits the current reflection, retrying a rejected fit with the
// predicted Position once "Calc UB" has run; counts the outcome.
void FitWithRetry(ProgramState& state);

// Where the refined orientation puts the current reflection's peak: the
// predicted omega plus the offsets' omega correction.
float PredictedPosition(ProgramState& state);

// Writes the current reflection to the open intensity file (nothing when
// none is open) and notes its sequence number as written; true when it was.
// A write that fails leaves the file at its last whole record and ends the
// run: the command loop stops the program with the message.
//
// With kWhenDue the record may wait in the writer, for at most
// kOutputFlushInterval or kOutputBatchBytes, until FlushIntegrated: the
// automatic run's records then cost a system call a batch, not one each.
enum class Flush { kNow, kWhenDue };
inline constexpr std::chrono::milliseconds kOutputFlushInterval{50};
inline constexpr std::size_t kOutputBatchBytes = 32 * 1024;
bool WriteIntegrated(ProgramState& state, Flush flush = Flush::kNow);
// Writes the records still waiting (all of them, or with kWhenDue only once
// the interval is over); false when the write failed, as above. The command
// loop flushes after every command; a command flushes only where it waits
// for the user (Stop) or reads the file back.
bool FlushIntegrated(ProgramState& state, Flush flush = Flush::kNow);
// The reflection in memory is in the open intensity file already.
bool AlreadyWritten(const ProgramState& state);

}  // namespace kalvex
