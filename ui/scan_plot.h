// The scan plot: the current reflection's counts and fitted profile in the
// main window's graphics frame, with the main window's hkl, sequence and
// angle fields.
#pragma once

#include "state/program_state.h"

namespace kalvex {

// Colour indices of the plot.
constexpr int kColourCounts = 1;
constexpr int kColourStandard = 2;
constexpr int kColourProfile = 5;
constexpr int kColourTicks = 7;

void PlotScan(ProgramState& state);

// One polyline of n values v at the step positions x, in the plot's current scaling.
void PlotSeries(ProgramState& state, const float* x, const float* v, int n, int colour);

}  // namespace kalvex
