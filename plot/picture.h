// A picture as plain marks: polylines and texts in colour indices, drawn in
// order, in the picture's own units with y growing upwards. The window
// draws one through its graphics frame, the report writes one as SVG.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kalvex::plot {

// Colour indices, as the graphics frame knows them.
constexpr int kInkCounts = 1;
constexpr int kInkStandard = 2;
constexpr int kInkProfile = 5;
constexpr int kInkTicks = 7;
constexpr int kInkLimits = 8;  // the residual strip's +3 and -3 lines
constexpr int kInkAxes = 9;    // axes, tick marks, labels, the text line
constexpr int kInkGrid = 10;   // light lines at the ticks

struct Point {
  float x = 0, y = 0;
};

struct Mark {
  enum Kind { kLine, kText } kind = kLine;
  int colour = kInkAxes;
  std::vector<Point> points;  // a polyline; the text's left end on its baseline
  float size = 1;             // character size of a text, in the frame's tenths of a row
  std::string text;
};

struct Picture {
  float left = 0, bottom = 0, width = 300, height = 200;
  std::vector<Mark> marks;

  void Line(int colour, std::vector<Point> points) { marks.push_back({Mark::kLine, colour, std::move(points), 1, {}}); }
  void Text(int colour, float size, Point at, std::string text) {
    marks.push_back({Mark::kText, colour, {at}, size, std::move(text)});
  }
};

// One scan as the plot needs it: omega of each step from the scan centre,
// the counts and the fitted profile at the steps.
struct ScanTrace {
  std::span<const float> x, counts, fit;
  float position = 0;             // the fitted alpha1 Position
  std::optional<float> alpha2;    // the alpha2 position, with two wavelengths
  bool standard = false;
  std::string caption;            // the text line above the plot
};

// What of a scan the plot shows: a stretch of its omega range, as fractions
// of the whole (0 the first step, 1 the last), and a magnification of the
// counts axis, which otherwise ends just above the highest count or fit of
// the steps in view. Zooming changes the range plotted: the axes, their
// labels and the residual strip are laid out again for it.
struct PlotView {
  double low = 0, high = 1;
  double counts_zoom = 1;
  bool Whole() const { return low <= 0 && high >= 1 && counts_zoom <= 1; }
};

// The narrowest view, of the whole scan, and the largest magnification of
// the counts.
constexpr double kNarrowestView = 1.0 / 64;
constexpr double kMostCountsZoom = 64;

// The view magnified by `factor` (above 1: closer) about `at`, a fraction
// of the view's width that stays where it is; never beyond the whole scan
// or closer than kNarrowestView.
PlotView ZoomOmega(PlotView view, double at, double factor);
// The view moved by `by` of its own width (positive: towards higher
// omega), stopping at the scan's ends.
PlotView PanOmega(PlotView view, double by);
PlotView ZoomCounts(PlotView view, double factor);

// The size of one character of the plot's texts in the picture's units
// (0: unknown, the layout then goes by fractions of the box alone). With
// it the margins hold the labels whatever the box's size.
struct TextMetrics {
  float char_width = 0, line_height = 0;
};

// The residual strip spans at most this many sigma each way: a saturated
// scan's stems end at its edge, and its +3 and -3 lines stay apart.
constexpr float kResidualCap = 8.0f;

// The pieces of a polyline inside the rectangle [x0, x1] x [y0, y1], cut
// where it crosses the edges.
std::vector<std::vector<Point>> ClipPolyline(const std::vector<Point>& line, float x0, float y0, float x1, float y1);

// Sigma of a step's count as the fit weights it: counts + 1 keeps a zero
// count's weight finite.
float CountSigma(float count);

// (counts - fit) / sigma of a step.
float Residual(float count, float fit);

// The text line of a fitted reflection, as its record gives it: hkl, the
// sequence number, I +- sigma, Rwp and the status letters.
std::string ScanCaption(const std::array<int, 3>& hkl, int seq_no, float intensity, float sigma, float rwp,
                        std::string_view class_code);

// The text line of a rejected fit: its reason letter where a fitted one
// has I +- sigma (the record holds 0 +- 1 after an early reject), and the
// intensity the fit had reached when it reached one.
std::string RejectedCaption(const std::array<int, 3>& hkl, int seq_no, char reason,
                            std::optional<std::array<float, 2>> reached, float rwp);

// Where the parts of a scan plot lie, in the picture's units.
struct ScanLayout {
  float x0 = 0, x1 = 0;            // the omega axis
  float main0 = 0, main1 = 0;      // counts from zero up
  float strip0 = 0, strip1 = 0;    // the residual strip
  float labels = 0;                // baseline of the omega labels
  float caption = 0;               // baseline of the text line
};
ScanLayout LayOutScan(float left, float bottom, float width, float height, TextMetrics text = {});

// The whole plot of one scan in the box (left, bottom, width, height):
// counts axis from zero, omega axis, the counts, the fit, the alpha1/alpha2
// ticks, the residual strip with its +3 and -3 lines, and the text line;
// of the stretch `view` shows. Every line stays inside its part of the box.
Picture DrawScan(const ScanTrace& scan, float left, float bottom, float width, float height, float text_size,
                 const PlotView& view = {}, TextMetrics text = {});

}  // namespace kalvex::plot
