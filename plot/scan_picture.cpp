// The scan plot as a picture: what the window's frame shows and what the
// report's gallery shows of a rejected scan.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "plot/axis.h"
#include "plot/picture.h"

namespace kalvex::plot {

namespace {

constexpr float kTickFraction = 0.3f;  // alpha ticks, of the counts' height
constexpr float kStripLimit = 3.0f;    // the strip's lines, in sigma
constexpr float kStandardSize = 5.0f;  // character size of the "STANDARD" label

}  // namespace

float CountSigma(float count) { return std::sqrt(std::max(count, 0.0f) + 1.0f); }

float Residual(float count, float fit) { return (count - fit) / CountSigma(count); }

std::string ScanCaption(const std::array<int, 3>& hkl, int seq_no, float intensity, float sigma, float rwp,
                        std::string_view class_code) {
  std::string code(class_code);
  while (!code.empty() && code.back() == ' ') code.pop_back();
  while (!code.empty() && code.front() == ' ') code.erase(0, 1);
  char text[160];
  std::snprintf(text, sizeof text, "hkl %d %d %d  \xC2\xB7  #%d  \xC2\xB7  I = %.1f \xC2\xB1 %.1f  \xC2\xB7  Rwp %.3f  \xC2\xB7  %s", hkl[0], hkl[1],
                hkl[2], seq_no, intensity, sigma, rwp, code.c_str());
  return text;
}

std::string RejectedCaption(const std::array<int, 3>& hkl, int seq_no, char reason,
                            std::optional<std::array<float, 2>> reached, float rwp) {
  char text[200];
  std::snprintf(text, sizeof text, "hkl %d %d %d  \xC2\xB7  #%d  \xC2\xB7  rejected: %c", hkl[0], hkl[1], hkl[2], seq_no,
                reason);
  std::string caption = text;
  if (reached) {
    std::snprintf(text, sizeof text, "  \xC2\xB7  fit reached I = %.1f \xC2\xB1 %.1f", (*reached)[0], (*reached)[1]);
    caption += text;
  }
  std::snprintf(text, sizeof text, "  \xC2\xB7  Rwp %.3f", rwp);
  return caption + text;
}

PlotView ZoomOmega(PlotView view, double at, double factor) {
  if (!(factor > 0) || !std::isfinite(factor)) return view;
  const double width = view.high - view.low;
  const double next = std::clamp(width / factor, kNarrowestView, 1.0);
  const double held = view.low + std::clamp(at, 0.0, 1.0) * width;
  view.low = held - (held - view.low) * next / width;
  view.high = view.low + next;
  return PanOmega(view, 0);
}

PlotView PanOmega(PlotView view, double by) {
  const double width = std::clamp(view.high - view.low, kNarrowestView, 1.0);
  const double low = std::clamp(view.low + (std::isfinite(by) ? by : 0) * width, 0.0, 1.0 - width);
  view.low = low;
  view.high = low + width;
  return view;
}

PlotView ZoomCounts(PlotView view, double factor) {
  if (factor > 0 && std::isfinite(factor)) view.counts_zoom = std::clamp(view.counts_zoom * factor, 1.0, kMostCountsZoom);
  return view;
}

namespace {

// Where the segment from `a` to `b` enters and leaves the rectangle, as
// fractions of it (Liang and Barsky); false when it misses it.
bool ClipSegment(Point a, Point b, float x0, float y0, float x1, float y1, float& t0, float& t1) {
  t0 = 0;
  t1 = 1;
  const float d[2] = {b.x - a.x, b.y - a.y};
  const float p[4] = {-d[0], d[0], -d[1], d[1]};
  const float q[4] = {a.x - x0, x1 - a.x, a.y - y0, y1 - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const float t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  return true;
}

Point Along(Point a, Point b, float t) { return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}; }

}  // namespace

std::vector<std::vector<Point>> ClipPolyline(const std::vector<Point>& line, float x0, float y0, float x1, float y1) {
  std::vector<std::vector<Point>> pieces;
  if (line.size() == 1) {
    const Point p = line[0];
    if (p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1) pieces.push_back({p});
    return pieces;
  }
  bool open = false;
  for (std::size_t i = 1; i < line.size(); ++i) {
    float t0 = 0, t1 = 0;
    if (!ClipSegment(line[i - 1], line[i], x0, y0, x1, y1, t0, t1)) {
      open = false;
      continue;
    }
    if (!open || t0 > 0) pieces.push_back({Along(line[i - 1], line[i], t0)});
    pieces.back().push_back(Along(line[i - 1], line[i], t1));
    open = t1 >= 1;
  }
  return pieces;
}

ScanLayout LayOutScan(float left, float bottom, float width, float height, TextMetrics text) {
  ScanLayout l;
  const float ch = text.line_height, cw = text.char_width;
  if (!(ch > 0) || !(cw > 0)) {
    // The left margin holds the tick labels; the top the text line.
    l.x0 = left + 0.10f * width;
    l.x1 = left + 0.965f * width;
    l.main1 = bottom + 0.845f * height;
    l.main0 = bottom + 0.36f * height;
    l.strip1 = bottom + 0.30f * height;
    l.strip0 = bottom + 0.11f * height;
    l.labels = bottom + 0.03f * height;
    l.caption = bottom + 0.955f * height;
    return l;
  }
  // Margins of whole text lines and characters: a label "-3σ" or "30000"
  // at the left, the omega labels below, the text line above; the strip
  // tall enough for its two labels to stand apart.
  l.x0 = left + std::min(0.3f * width, std::max(0.06f * width, 8.0f * cw));
  l.x1 = left + width - std::min(0.1f * width, std::max(0.02f * width, 2.5f * cw));
  l.caption = bottom + height - 1.1f * ch;
  l.main1 = l.caption - 0.9f * ch;
  l.labels = bottom + 0.35f * ch;
  l.strip0 = l.labels + 1.3f * ch;
  const float room = l.main1 - l.strip0;
  const float strip = std::clamp(0.25f * room, std::min(2.8f * ch, 0.35f * room), std::max(5.0f * ch, 0.25f * room));
  l.strip1 = l.strip0 + strip;
  // Room between the strip's "+3σ" and the counts' "0".
  l.main0 = l.strip1 + std::min(1.1f * ch, 0.15f * room);
  return l;
}

Picture DrawScan(const ScanTrace& scan, float left, float bottom, float width, float height, float text_size,
                 const PlotView& view, TextMetrics text) {
  Picture pic;
  pic.left = left;
  pic.bottom = bottom;
  pic.width = width;
  pic.height = height;
  const ScanLayout l = LayOutScan(left, bottom, width, height, text);
  const bool measured = text.line_height > 0 && text.char_width > 0;
  const int n = static_cast<int>(std::min({scan.x.size(), scan.counts.size(), scan.fit.size()}));
  const float pad = 0.008f * width;
  const float rise = measured ? 0.3f * text.line_height : 0.012f * height;

  // The stretch of omega in view, and the counts of its steps.
  const double first = n > 0 ? scan.x[0] : -0.5;
  const double last = n > 1 ? scan.x[n - 1] : first + 1.0;
  const double x_low = first + std::clamp(view.low, 0.0, 1.0) * (last - first);
  const double x_high = first + std::clamp(view.high, 0.0, 1.0) * (last - first);
  // The counts axis covers the steps in view; a view between two steps,
  // the two.
  float ymax = 0;
  bool any_in_view = false;
  for (int i = 0; i < n; ++i) {
    if (scan.x[i] < x_low || scan.x[i] > x_high) continue;
    ymax = std::max({ymax, scan.counts[i], scan.fit[i]});
    any_in_view = true;
  }
  for (int i = 0; i < n && !any_in_view; ++i) {
    const bool next_to_view = (i + 1 >= n || scan.x[i + 1] >= x_low) && (i == 0 || scan.x[i - 1] <= x_high);
    if (next_to_view) ymax = std::max({ymax, scan.counts[i], scan.fit[i]});
  }
  ymax /= static_cast<float>(std::max(1.0, view.counts_zoom));
  const int counts_ticks = measured ? std::clamp(static_cast<int>((l.main1 - l.main0) / (2.0f * text.line_height)), 1, 4) : 4;
  const int omega_ticks = measured ? std::clamp(static_cast<int>((l.x1 - l.x0) / (9.0f * text.char_width)), 2, 6) : 6;
  const Axis counts = LayOutAxis(0, ymax, counts_ticks, true);
  const Axis omega = LayOutAxis(x_low, x_high, omega_ticks, false);
  auto X = [&](double v) { return static_cast<float>(omega.Map(v, l.x0, l.x1)); };
  auto Y = [&](double v) { return static_cast<float>(counts.Map(v, l.main0, l.main1)); };

  float rmax = 4.0f;
  for (int i = 0; i < n; ++i) {
    const float r = std::fabs(Residual(scan.counts[i], scan.fit[i]));
    if (scan.x[i] >= x_low && scan.x[i] <= x_high && std::isfinite(r)) rmax = std::max(rmax, r);
  }
  rmax = std::min(rmax * 1.05f, kResidualCap);
  auto R = [&](double r) {
    return static_cast<float>(l.strip0 + (std::clamp(r, -double{rmax}, double{rmax}) + rmax) / (2 * rmax) *
                                             (l.strip1 - l.strip0));
  };
  // A curve is cut at the edges of the counts' area.
  const auto curve = [&](int colour, const std::vector<Point>& line) {
    for (auto& piece : ClipPolyline(line, l.x0, l.main0, l.x1, l.main1))
      if (piece.size() > 1) pic.Line(colour, std::move(piece));
  };

  // Light lines at the ticks, then the axes over them.
  for (const Tick& t : counts.ticks)
    if (t.value > counts.low) pic.Line(kInkGrid, {{l.x0, Y(t.value)}, {l.x1, Y(t.value)}});
  for (const Tick& t : omega.ticks) pic.Line(kInkGrid, {{X(t.value), l.main0}, {X(t.value), l.main1}});
  pic.Line(kInkGrid, {{l.x0, R(0)}, {l.x1, R(0)}});
  pic.Line(kInkAxes, {{l.x0, l.main1}, {l.x0, l.main0}, {l.x1, l.main0}});
  pic.Line(kInkAxes, {{l.x0, l.strip1}, {l.x0, l.strip0}, {l.x1, l.strip0}});
  for (const Tick& t : omega.ticks) {
    pic.Line(kInkAxes, {{X(t.value), l.main0}, {X(t.value), l.main0 - rise}});
    pic.Line(kInkAxes, {{X(t.value), l.strip0}, {X(t.value), l.strip0 - rise}});
  }
  pic.Line(kInkLimits, {{l.x0, R(kStripLimit)}, {l.x1, R(kStripLimit)}});
  pic.Line(kInkLimits, {{l.x0, R(-kStripLimit)}, {l.x1, R(-kStripLimit)}});

  if (n > 0) {
    std::vector<Point> line(n);
    for (int i = 0; i < n; ++i) line[i] = {X(scan.x[i]), Y(scan.counts[i])};
    curve(kInkCounts, line);
    for (int i = 0; i < n; ++i) line[i] = {X(scan.x[i]), Y(scan.fit[i])};
    curve(kInkProfile, line);

    const float tick_low = l.main1 - kTickFraction * (l.main1 - l.main0);
    // A tick beyond the view's edge is held at the edge only in a whole
    // view (an alpha2 line the scan does not reach); a zoomed view leaves
    // out what it does not show.
    const auto tick = [&](float at, float from, float to) {
      if (!view.Whole() && (at < x_low || at > x_high)) return;
      const float x = std::clamp(X(at), l.x0, l.x1);
      pic.Line(kInkTicks, {{x, from}, {x, to}});
    };
    tick(scan.position, l.main1, tick_low);
    if (scan.alpha2) tick(*scan.alpha2, tick_low, l.main1);
    // The residuals as stems from the zero line.
    for (int i = 0; i < n; ++i) {
      const float x = X(scan.x[i]);
      if (x < l.x0 - 1e-3f * width || x > l.x1 + 1e-3f * width) continue;
      pic.Line(kInkCounts, {{x, R(0)}, {x, R(Residual(scan.counts[i], scan.fit[i]))}});
    }
  }

  const float margin = left + pad;
  const float lift = measured ? 0.35f * text.line_height : 0.35f * rise;
  // A label too close to the one below it is left out (a low plot).
  float last_label = -1e30f;
  for (const Tick& t : counts.ticks) {
    const float y = Y(t.value) - lift;
    if (measured && y - last_label < 1.05f * text.line_height) continue;
    pic.Text(kInkAxes, text_size, {margin, y}, t.label);
    last_label = y;
  }
  pic.Text(kInkAxes, text_size, {margin, l.caption}, "counts");
  pic.Text(kInkLimits, text_size, {margin, R(kStripLimit) - lift}, "+3\xCF\x83");
  pic.Text(kInkLimits, text_size, {margin, R(-kStripLimit) - lift}, "\xE2\x88\x92" "3\xCF\x83");
  for (const Tick& t : omega.ticks) {
    // Centred under its tick where the characters' width is known.
    const float shift = measured ? -0.5f * text.char_width * static_cast<float>(t.label.size()) : 0.5f * pad;
    pic.Text(kInkAxes, text_size, {X(t.value) + shift, l.labels}, t.label);
  }
  pic.Text(kInkAxes, text_size, {margin, l.labels}, "\xCF\x89 (\xC2\xB0)");
  // The text line starts after the "counts" above the axis.
  const float caption_x = measured ? std::max(l.x0, margin + 7.5f * text.char_width) : l.x0;
  if (!scan.caption.empty()) pic.Text(kInkAxes, text_size, {caption_x, l.caption}, scan.caption);
  if (scan.standard) pic.Text(kInkStandard, kStandardSize, {l.x0 + 2 * pad, l.main1 - 0.12f * height}, "STANDARD");
  return pic;
}

}  // namespace kalvex::plot
