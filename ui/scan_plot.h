// The scan plot: the current reflection's counts and fitted profile in the
// main window's graphics frame, with axes, a residual strip and a text line,
// and the main window's hkl, sequence and angle fields.
#pragma once

#include "plot/picture.h"
#include "plot/current_trace.h"
#include "state/program_state.h"

namespace kalvex {

// Colour indices of the plot.
constexpr int kColourCounts = plot::kInkCounts;
constexpr int kColourStandard = plot::kInkStandard;
constexpr int kColourProfile = plot::kInkProfile;
constexpr int kColourTicks = plot::kInkTicks;

// Character size of the plot's labels and text line.
constexpr float kPlotTextSize = 3.5f;

void PlotScan(ProgramState& state);

// Draws a picture through the frame's display list.
void DrawPicture(int frame, const plot::Picture& picture);

}  // namespace kalvex
