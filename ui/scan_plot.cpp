// Drawing the current scan and its fit. Each drawing fills the frame bounds
// enquired during the previous one (300 x 200 before the first).
#include "ui/scan_plot.h"

#include <algorithm>
#include <string>

#include "common/fixed_fields.h"
#include "toolkit/toolkit.h"

namespace kalvex {

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

void PlotScan(ProgramState& state) {
  const ScanReflection& scan = state.scan;
  PlotGeometry& g = state.plot;
  if (!g.drawn) return;
  const int frame = state.widgets.frame;
  const plot::Picture picture = plot::DrawScan(plot::CurrentTrace(state), g.left, 0.0f, g.width - g.left, g.top,
                                               kPlotTextSize);

  tk::ClearFrame(frame);
  float x_min = 0.0f, y_min = 0.0f, x_max = 0.0f, y_max = 0.0f;
  tk::GetFrameScale(frame, x_min, y_min, x_max, y_max);
  DrawPicture(frame, picture);
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
