// Drawing the current scan and its fit. Each drawing fills the frame bounds
// enquired during the previous one (300 x 200 before the first).
#include "ui/scan_plot.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/progress_text.h"
#include "toolkit/pvgui.h"
#include "toolkit/toolkit.h"

namespace kalvex {

namespace {

// A bold sans character of a frame's text, against its pixel size.
constexpr float kLineOverPixels = 1.3f;
constexpr float kWidthOverPixels = 0.7f;
// The idle window's words keep off the colours of a scan's data: grey, and
// the next step in red.
constexpr int kInkNextStep = plot::kInkStandard;

// The size of a character of `size` (tenths of a grid row) in the frame's
// units; zero while the toolkit has not told the frame's pixels.
plot::TextMetrics Metrics(const PlotGeometry& g, float size) {
  if (!(g.pixel_width > 0 && g.pixel_height > 0 && g.row_pixels > 0)) return {};
  const float pixels = std::max(9.0f, std::round(size * g.row_pixels / 10.0f));
  return {kWidthOverPixels * pixels * (g.width - g.left) / g.pixel_width, kLineOverPixels * pixels * g.top / g.pixel_height};
}

plot::PlotView ViewOf(const PlotGeometry& g) { return {g.view_low, g.view_high, g.counts_zoom}; }

void Keep(PlotGeometry& g, const plot::PlotView& v) {
  g.view_low = v.low;
  g.view_high = v.high;
  g.counts_zoom = v.counts_zoom;
}

// Clears the frame, draws `picture` and keeps the frame's bounds for the
// next drawing.
void Show(ProgramState& state, const plot::Picture& picture) {
  PlotGeometry& g = state.plot;
  const int frame = state.widgets.frame;
  tk::ClearFrame(frame);
  float x_min = 0.0f, y_min = 0.0f, x_max = 0.0f, y_max = 0.0f;
  tk::GetFrameScale(frame, x_min, y_min, x_max, y_max);
  DrawPicture(frame, picture);
  tk::UpdateFrame(frame);
  g.left = x_min;
  g.width = x_max;
  g.top = y_max;
}

void DrawCurrentScan(ProgramState& state) {
  const PlotGeometry& g = state.plot;
  const plot::Picture picture = plot::DrawScan(plot::CurrentTrace(state), g.left, 0.0f, g.width - g.left, g.top,
                                               kPlotTextSize, ViewOf(g), Metrics(g, kPlotTextSize));
  Show(state, picture);
  state.plot.scan_shown = true;
}

void OnFrameView(void* context, int, int event, float x, float y, float amount) {
  ProgramState& state = *static_cast<ProgramState*>(context);
  PlotGeometry& g = state.plot;
  if (event == PVGUI_VIEW_RESIZED) {
    if (x == g.pixel_width && y == g.pixel_height && amount == g.row_pixels) return;
    g.pixel_width = x;
    g.pixel_height = y;
    g.row_pixels = amount;
    if (!g.drawn) return;
    // The texts keep their size: the picture is laid out again.
    if (g.scan_shown) {
      DrawCurrentScan(state);
    } else {
      ShowWhereYouAre(state);
    }
    return;
  }
  if (!g.scan_shown || !g.drawn) return;
  const plot::ScanLayout l = plot::LayOutScan(g.left, 0.0f, g.width - g.left, g.top, Metrics(g, kPlotTextSize));
  const double axis = l.x1 > l.x0 ? l.x1 - l.x0 : 1.0;
  plot::PlotView v = ViewOf(g);
  switch (event) {
    case PVGUI_VIEW_ZOOM: v = plot::ZoomOmega(v, (x - l.x0) / axis, amount); break;
    case PVGUI_VIEW_ZOOM_Y: v = plot::ZoomCounts(v, amount); break;
    // The picture follows the pointer: the view moves the other way.
    case PVGUI_VIEW_PAN: v = plot::PanOmega(v, -amount / axis); break;
    case PVGUI_VIEW_RESET: v = {}; break;
    default: return;
  }
  Keep(g, v);
  DrawCurrentScan(state);
}

}  // namespace

void DrawPicture(int frame, const plot::Picture& picture) {
  int colour = -1;
  float size = -1;
  for (const plot::Mark& mark : picture.marks) {
    if (mark.points.empty()) continue;
    if (mark.colour != colour || (mark.kind == plot::Mark::kText && mark.size != size)) {
      tk::ChangePen(frame, mark.colour, mark.size);
      colour = mark.colour;
      size = mark.size;
    }
    if (mark.kind == plot::Mark::kText) {
      tk::DrawString(frame, mark.points[0].x, mark.points[0].y, mark.text);
      continue;
    }
    tk::DrawMove(frame, mark.points[0].x, mark.points[0].y);
    for (std::size_t i = 1; i < mark.points.size(); ++i) tk::DrawLine(frame, mark.points[i].x, mark.points[i].y);
  }
}

std::string HklText(const std::array<int, 3>& hkl) {
  return std::to_string(hkl[0]) + " " + std::to_string(hkl[1]) + " " + std::to_string(hkl[2]);
}

void PlotScan(ProgramState& state) {
  const ScanReflection& scan = state.scan;
  if (!state.plot.drawn) return;
  DrawCurrentScan(state);
  const Widgets& w = state.widgets;
  tk::SetString(w.main[kWHklEntry], HklText(scan.hkl));
  tk::SetNumber(w.main[kWSeqEntry], static_cast<float>(scan.seq_no));
  const float angles[4] = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  for (int i = 0; i < 4; ++i) tk::SetNumber(w.main[kWAngle1 + i], angles[i]);
}

std::vector<IdleLine> WhereYouAre(const ProgramState& state) {
  const FileState& f = state.files;
  std::vector<IdleLine> lines;
  // As the format dialog names them.
  const int format = state.params.input_format;
  const char* name = format == kFormatXcalibur ? "Xcalibur"
                     : format == kFormatSingle ? "Single"
                     : format == kFormatCad4   ? "Enraf CAD4"
                     : format == kFormatXscans ? "Xscans"
                                               : "format not chosen";
  if (f.data_open) {
    lines.push_back({"Data file", f.data_file_name});
    std::string what = name;
    if (f.reflection_count >= 0) what += ", " + GroupedNumber(f.reflection_count) + " reflections";
    lines.push_back({"Format", what});
  } else if (f.read_error) {
    lines.push_back({"Data file", "none: " + f.data_file_name + " was closed, it could not be read"});
  } else {
    lines.push_back({"Data file", "none"});
  }
  lines.push_back({"Parameter file", state.parameters_read ? f.parameter_file_name : "none"});
  lines.push_back({"Output file", f.output_open ? f.output_file_name : "none (nothing is written without one)"});
  std::string next;
  if (!f.data_open) {
    next = "Open a data file: File \xE2\x86\x92 Open data file or Ctrl+O";
  } else if (!state.parameters_read) {
    next = "Open a parameter file: File \xE2\x86\x92 Open parameter file";
  } else if (!f.output_open) {
    next = "Name the intensity file: File \xE2\x86\x92 Open output file";
  } else if (f.written_any) {
    next = "Utilities \xE2\x86\x92 Reduce to SHELX/CIF..., or File \xE2\x86\x92 Report... for the diagnostics";
  } else {
    next = "Integrate \xE2\x86\x92 Auto profile fit (Ctrl+G), or Manual profile fit (Ctrl+M) to look first";
  }
  lines.push_back({"Next", next});
  return lines;
}

void ShowWhereYouAre(ProgramState& state) {
  PlotGeometry& g = state.plot;
  if (!g.drawn) return;
  const std::vector<IdleLine> lines = WhereYouAre(state);
  // The largest text whose lines all fit the frame's height.
  float size = 4.0f;
  plot::TextMetrics m = Metrics(g, size);
  const float rows = static_cast<float>(lines.size()) + 1.5f;
  for (; m.line_height > 0 && size > 2.5f && 1.25f * rows * m.line_height > g.top; m = Metrics(g, size)) size -= 0.5f;
  if (!(m.line_height > 0)) m = {0.011f * (g.width - g.left), 0.09f * g.top};
  const float spacing = std::min(1.4f * m.line_height, g.top / rows);
  plot::Picture picture;
  picture.left = g.left;
  picture.width = g.width - g.left;
  picture.height = g.top;
  const float x = g.left + 2.0f * m.char_width;
  const float values = x + 16.0f * m.char_width;
  float y = g.top - 1.3f * spacing;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // The next step stands apart, below the files.
    const bool next = i + 1 == lines.size();
    if (next) y -= 0.4f * spacing;
    picture.Text(plot::kInkAxes, size, {x, y}, lines[i].label);
    picture.Text(next ? kInkNextStep : plot::kInkAxes, size, {values, y}, lines[i].value);
    y -= spacing;
  }
  Show(state, picture);
  g.scan_shown = false;
}

void FollowFrameView(ProgramState& state) { tk::SetFrameViewHandler(state.widgets.frame, &OnFrameView, &state); }

}  // namespace kalvex
