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

ScanLayout LayOutScan(float left, float bottom, float width, float height) {
  ScanLayout l;
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

Picture DrawScan(const ScanTrace& scan, float left, float bottom, float width, float height, float text_size) {
  Picture pic;
  pic.left = left;
  pic.bottom = bottom;
  pic.width = width;
  pic.height = height;
  const ScanLayout l = LayOutScan(left, bottom, width, height);
  const int n = static_cast<int>(std::min({scan.x.size(), scan.counts.size(), scan.fit.size()}));
  const float pad = 0.008f * width;
  const float rise = 0.012f * height;

  float ymax = 0;
  for (int i = 0; i < n; ++i) ymax = std::max({ymax, scan.counts[i], scan.fit[i]});
  const Axis counts = LayOutAxis(0, ymax, 4, true);
  const double x_low = n > 0 ? scan.x[0] : -0.5;
  const double x_high = n > 1 ? scan.x[n - 1] : x_low + 1.0;
  const Axis omega = LayOutAxis(x_low, x_high, 6, false);
  auto X = [&](double v) { return static_cast<float>(omega.Map(v, l.x0, l.x1)); };
  auto Y = [&](double v) { return static_cast<float>(counts.Map(v, l.main0, l.main1)); };

  float rmax = 4.0f;
  for (int i = 0; i < n; ++i) rmax = std::max(rmax, std::fabs(Residual(scan.counts[i], scan.fit[i])));
  rmax *= 1.05f;
  auto R = [&](double r) { return static_cast<float>(l.strip0 + (r + rmax) / (2 * rmax) * (l.strip1 - l.strip0)); };

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
    pic.Line(kInkCounts, line);
    for (int i = 0; i < n; ++i) line[i] = {X(scan.x[i]), Y(scan.fit[i])};
    pic.Line(kInkProfile, std::move(line));

    const float tick_low = l.main1 - kTickFraction * (l.main1 - l.main0);
    const float xp = std::clamp(X(scan.position), l.x0, l.x1);
    pic.Line(kInkTicks, {{xp, l.main1}, {xp, tick_low}});
    if (scan.alpha2) {
      const float xa = std::clamp(X(*scan.alpha2), l.x0, l.x1);
      pic.Line(kInkTicks, {{xa, tick_low}, {xa, l.main1}});
    }
    // The residuals as stems from the zero line.
    for (int i = 0; i < n; ++i) {
      const float x = X(scan.x[i]);
      pic.Line(kInkCounts, {{x, R(0)}, {x, R(Residual(scan.counts[i], scan.fit[i]))}});
    }
  }

  const float margin = left + pad;
  for (const Tick& t : counts.ticks) pic.Text(kInkAxes, text_size, {margin, Y(t.value) - 0.35f * rise}, t.label);
  pic.Text(kInkAxes, text_size, {margin, l.main1 + 4.5f * rise}, "counts");
  pic.Text(kInkLimits, text_size, {margin, R(kStripLimit) - 0.35f * rise}, "+3\xCF\x83");
  pic.Text(kInkLimits, text_size, {margin, R(-kStripLimit) - 0.35f * rise}, "\xE2\x88\x92" "3\xCF\x83");
  for (const Tick& t : omega.ticks) pic.Text(kInkAxes, text_size, {X(t.value) + 0.5f * pad, l.labels}, t.label);
  pic.Text(kInkAxes, text_size, {margin, l.labels}, "\xCF\x89 (\xC2\xB0)");
  if (!scan.caption.empty()) pic.Text(kInkAxes, text_size, {l.x0, l.caption}, scan.caption);
  if (scan.standard) pic.Text(kInkStandard, kStandardSize, {l.x0 + 2 * pad, l.main1 - 0.12f * height}, "STANDARD");
  return pic;
}

}  // namespace kalvex::plot
