// Drawing the current scan and its fit. Each drawing scales to the frame
// bounds enquired during the previous one (300 x 200 before the first).
#include "ui/scan_plot.h"

#include <algorithm>
#include <string>

#include "common/fixed_fields.h"
#include "toolkit/toolkit.h"

namespace kalvex {

namespace {

constexpr float kTickFraction = 0.3f;  // tick length, of the plot height
constexpr float kLabelSize = 5.0f;     // character size of the "STANDARD" label

}  // namespace

void PlotSeries(ProgramState& state, const float* x, const float* v, int n, int colour) {
  const int frame = state.widgets.frame;
  const PlotGeometry& g = state.plot;
  if (n < 1) return;
  tk::ChangePen(frame, colour);
  tk::DrawMove(frame, 0.0f, g.bottom + v[0] * g.y_scale);
  for (int i = 1; i < n; ++i) tk::DrawLine(frame, (x[i] - x[0]) * g.x_scale, g.bottom + v[i] * g.y_scale);
}

void PlotScan(ProgramState& state) {
  const ScanReflection& scan = state.scan;
  PlotGeometry& g = state.plot;
  if (!g.drawn) return;
  const int frame = state.widgets.frame;
  const int n = std::clamp(scan.step_count, 0, kMaxSteps);
  const float* x = scan.step_position.data();

  float ymax = scan.max_count;
  for (int i = 0; i < n; ++i) ymax = std::max(ymax, scan.calculated[i]);
  const float height = g.top - g.bottom;
  // An empty scan, or one of a single step, lies flat on the baseline.
  g.y_scale = ymax > 0.0f ? height / ymax : 0.0f;
  const float span = n > 1 ? x[n - 1] - x[0] : 0.0f;
  g.x_scale = span != 0.0f ? g.width / span : 0.0f;
  const float width = g.width;
  const float top = g.top;

  tk::ClearFrame(frame);
  float x_min = 0.0f, y_min = 0.0f, x_max = 0.0f, y_max = 0.0f;
  tk::GetFrameScale(frame, x_min, y_min, x_max, y_max);

  tk::ChangePen(frame, kColourCounts);
  tk::DrawMove(frame, 0.0f, g.bottom);
  tk::DrawLine(frame, width, g.bottom);
  if (n > 0) {
    PlotSeries(state, x, scan.counts.data(), n, kColourCounts);
    PlotSeries(state, x, scan.calculated.data(), n, kColourProfile);

    tk::ChangePen(frame, kColourTicks);
    const float tick_low = top - kTickFraction * height;
    const float xp = (state.fit.peak.value[kPosition] - x[0]) * g.x_scale;
    tk::DrawMove(frame, xp, top);
    tk::DrawLine(frame, xp, tick_low);
    if (state.params.n_wavelengths == 2) {
      const float xa = std::min(xp + (scan.doublet_shift + scan.mono_term) * g.x_scale, width);
      tk::DrawMove(frame, xa, tick_low);
      tk::DrawLine(frame, xa, top);
    }
  }
  if (scan.standard_index > 0) {
    tk::ChangePen(frame, kColourStandard, kLabelSize);
    tk::DrawString(frame, g.left + 5.0f, g.bottom * 0.5f, "STANDARD");
  }
  tk::UpdateFrame(frame);
  g.left = x_min;
  g.width = x_max;
  g.top = y_max;

  const Widgets& w = state.widgets;
  std::string hkl;
  for (int index : scan.hkl) hkl += fields::FormatInt(index, 3);
  tk::SetString(w.main[kWHklEntry], hkl);
  tk::SetNumber(w.main[kWSeqEntry], static_cast<float>(scan.seq_no));
  const float angles[4] = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  for (int i = 0; i < 4; ++i) tk::SetNumber(w.main[kWAngle1 + i], angles[i]);
}

}  // namespace kalvex
