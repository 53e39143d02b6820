// "Auto profile fit" and what manual fitting and preprocessing share with
// it: start values, the fit with its retry and counters, and the transfer
// between the state and "Fitting Controls & Results".
#pragma once

#include <string_view>

#include "shell/program_state.h"

namespace kalvex {

// Fitting modes.
constexpr int kManualFitting = 1;
constexpr int kAutomaticFitting = 2;

void AutoFit(ProgramState& state);  // kCodeAutoFit
void FitWithRetry(ProgramState& state);

// The outcome counter of a first-attempt rejection with this reason letter.
int OutcomeCounterOf(char reason);
void SeedParameters(ProgramState& state);
void ResetParameters(ProgramState& state);
void ShowFitInputs(ProgramState& state);
// What a fitting run starts from: the defaults while no start value has been
// set (all are zero), then shown in "Fitting Controls & Results".
void ShowStartValues(ProgramState& state);
void ShowFitResults(ProgramState& state);

// Where the refined orientation puts the current reflection's peak: the
// predicted omega plus the offsets' omega correction.
float PredictedPosition(const ProgramState& state);

// A reflection whose counts were cut short (read status 11) would place a
// wrong peak: it is named in the log with what is not done with it.
void LogUnreadReflection(ProgramState& state, std::string_view consequence);

// FWHM of the default rule a + b tan(theta) at the current 2theta.
float DefaultFwhm(const ProgramState& state);

}  // namespace kalvex
