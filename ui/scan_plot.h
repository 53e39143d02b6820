// The scan plot: the current reflection's counts and fitted profile in the
// main window's graphics frame, with axes, a residual strip and a text line,
// and the main window's hkl, sequence and angle fields; the stretch of the
// scan the user zooms to; and, until a scan is drawn, what is open and what
// to do next.
#pragma once

#include <array>
#include <string>
#include <vector>

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

// The frame hands the user's zoom, pan and reset and its new size to the
// plot, which draws again what it shows.
void FollowFrameView(ProgramState& state);

// The idle window: the files open, the data file's format and reflections,
// and the next step, in the frame until a scan is drawn there.
void ShowWhereYouAre(ProgramState& state);
// Its lines, label and value ("Data file", "example.dca"), the next step last.
struct IdleLine {
  std::string label, value;
};
std::vector<IdleLine> WhereYouAre(const ProgramState& state);

// The hkl entry's text: the indices with one blank between them, "7 2 -12".
std::string HklText(const std::array<int, 3>& hkl);

// Draws a picture through the frame's display list.
void DrawPicture(int frame, const plot::Picture& picture);

}  // namespace kalvex
