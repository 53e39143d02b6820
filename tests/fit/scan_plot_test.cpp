// The scan plot's display list on the headless toolkit, and the main
// window fields it fills.
#include "ui/scan_plot.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/headless.h"

namespace kalvex {
namespace {

using Op = script::DrawOp;

class ScanPlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state = testing::FreshState();
    ScanReflection& s = state->scan;
    s.seq_no = 17;
    s.hkl = {1, -2, 3};
    s.two_theta = 24.5f;
    s.omega_centre = 0.125f;
    s.chi = 33.0f;
    s.phi = -120.0f;
    // Ten steps from -0.45 to 0.45: the plot width spans 0.9 degrees.
    s.step_count = 10;
    for (int i = 0; i < 10; ++i) {
      s.step_position[i] = -0.45f + 0.1f * static_cast<float>(i);
      s.counts[i] = 10.0f;
      s.calculated[i] = 10.0f;
    }
    s.counts[4] = 90.0f;
    s.calculated[5] = 100.0f;  // above the highest count: the profile sets the scale
    s.max_count = 90.0f;
    s.doublet_shift = 0.09f;
    s.mono_term = 0.0f;
    state->fit.peak.value[kPosition] = 0.0f;
    state->params.n_wavelengths = 1;
  }

  const std::vector<Op>& Drawing() const { return script::Drawing(state->widgets.frame); }

  // Vertical strokes (a move followed by a line at the same x) after the
  // last pen change to `colour`.
  std::vector<std::pair<Op, Op>> Ticks() const {
    std::vector<std::pair<Op, Op>> ticks;
    const auto& ops = Drawing();
    bool in_colour = false;
    for (std::size_t i = 0; i + 1 < ops.size(); ++i) {
      if (ops[i].kind == Op::kPen) in_colour = ops[i].colour == kColourTicks;
      if (in_colour && ops[i].kind == Op::kMove && ops[i + 1].kind == Op::kLine) ticks.push_back({ops[i], ops[i + 1]});
    }
    return ticks;
  }

  std::unique_ptr<ProgramState> state;
};

TEST_F(ScanPlotTest, FirstDrawingScalesToThreeHundredByTwoHundred) {
  PlotScan(*state);
  const auto& ops = Drawing();
  ASSERT_GE(ops.size(), 4u);
  // Baseline in colour 1 at y = 20 across the width.
  EXPECT_EQ(ops[0].kind, Op::kPen);
  EXPECT_EQ(ops[0].colour, kColourCounts);
  EXPECT_EQ(ops[1].kind, Op::kMove);
  EXPECT_FLOAT_EQ(ops[1].x, 0.0f);
  EXPECT_FLOAT_EQ(ops[1].y, 20.0f);
  EXPECT_EQ(ops[2].kind, Op::kLine);
  EXPECT_FLOAT_EQ(ops[2].x, 300.0f);
  EXPECT_FLOAT_EQ(ops[2].y, 20.0f);

  // Counts in colour 1, then the profile in colour 5: 180 units for 100 counts.
  int pen_counts = -1, pen_profile = -1;
  for (std::size_t i = 3; i < ops.size(); ++i) {
    if (ops[i].kind != Op::kPen) continue;
    if (ops[i].colour == kColourCounts && pen_counts < 0) pen_counts = static_cast<int>(i);
    if (ops[i].colour == kColourProfile && pen_profile < 0) pen_profile = static_cast<int>(i);
  }
  ASSERT_GT(pen_counts, 0);
  ASSERT_GT(pen_profile, pen_counts);
  ASSERT_EQ(pen_profile - pen_counts, 11);  // pen, move, nine lines
  const Op& peak = ops[pen_counts + 1 + 4];
  EXPECT_NEAR(peak.x, 4 * 300.0f / 9.0f, 1e-3f);
  EXPECT_NEAR(peak.y, 20.0f + 90.0f * 1.8f, 1e-3f);
  EXPECT_NEAR(ops[pen_profile + 1 + 5].y, 200.0f, 1e-3f);
  EXPECT_NEAR(ops[pen_profile + 10].x, 300.0f, 1e-3f);

  // One tick, at the fitted Position, from the top down 30 % of the height.
  const auto ticks = Ticks();
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_NEAR(ticks[0].first.x, 150.0f, 1e-3f);
  EXPECT_FLOAT_EQ(ticks[0].first.y, 200.0f);
  EXPECT_FLOAT_EQ(ticks[0].second.y, 146.0f);
  EXPECT_EQ(script::FrameUpdates(state->widgets.frame), 1);
}

TEST_F(ScanPlotTest, AlphaTwoTickStaysInsideThePlot) {
  state->params.n_wavelengths = 2;
  PlotScan(*state);
  auto ticks = Ticks();
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_NEAR(ticks[1].first.x, 150.0f + 0.09f * 300.0f / 0.9f, 1e-3f);
  EXPECT_FLOAT_EQ(ticks[1].first.y, 146.0f);
  EXPECT_FLOAT_EQ(ticks[1].second.y, 200.0f);

  state->scan.doublet_shift = 0.3f;
  state->scan.mono_term = 0.2f;
  PlotScan(*state);
  ticks = Ticks();
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_FLOAT_EQ(ticks[1].first.x, 300.0f);
  EXPECT_FLOAT_EQ(ticks[1].second.x, 300.0f);
}

TEST_F(ScanPlotTest, StandardIsLabelled) {
  PlotScan(*state);
  for (const Op& op : Drawing()) EXPECT_NE(op.kind, Op::kText);

  state->scan.standard_index = 2;
  PlotScan(*state);
  const auto& ops = Drawing();
  auto text = std::find_if(ops.begin(), ops.end(), [](const Op& op) { return op.kind == Op::kText; });
  ASSERT_NE(text, ops.end());
  EXPECT_EQ(text->text, "STANDARD");
  EXPECT_FLOAT_EQ(text->x, 5.0f);
  EXPECT_FLOAT_EQ(text->y, 10.0f);
  const Op& pen = *(text - 1);
  EXPECT_EQ(pen.kind, Op::kPen);
  EXPECT_EQ(pen.colour, kColourStandard);
  EXPECT_FLOAT_EQ(pen.char_size, 5.0f);
}

TEST_F(ScanPlotTest, LaterDrawingsUseTheBoundsEnquiredBefore) {
  const int frame = state->widgets.frame;
  tk::SetFrameScale(frame, 10.0f, 0.0f, 600.0f, 400.0f);
  state->scan.standard_index = 1;
  PlotScan(*state);
  // This drawing still scales to the start-up geometry ...
  EXPECT_FLOAT_EQ(Drawing()[2].x, 300.0f);
  EXPECT_FLOAT_EQ(Ticks()[0].first.y, 200.0f);
  // ... the next one to what the frame reported.
  PlotScan(*state);
  EXPECT_FLOAT_EQ(Drawing()[2].x, 600.0f);
  EXPECT_FLOAT_EQ(Drawing()[2].y, 20.0f);
  EXPECT_FLOAT_EQ(Ticks()[0].first.y, 400.0f);
  EXPECT_FLOAT_EQ(Ticks()[0].second.y, 400.0f - 0.3f * 380.0f);
  EXPECT_NEAR(Ticks()[0].first.x, 300.0f, 1e-3f);
  const auto& ops = Drawing();
  auto text = std::find_if(ops.begin(), ops.end(), [](const Op& op) { return op.kind == Op::kText; });
  ASSERT_NE(text, ops.end());
  EXPECT_FLOAT_EQ(text->x, 15.0f);
}

TEST_F(ScanPlotTest, EmptyScanLiesOnTheBaseline) {
  ScanReflection& s = state->scan;
  s.counts.fill(0.0f);
  s.calculated.fill(0.0f);
  s.max_count = 0.0f;
  PlotScan(*state);
  const float tick_x = Ticks()[0].first.x;
  for (const Op& op : Drawing()) {
    EXPECT_TRUE(std::isfinite(op.x) && std::isfinite(op.y));
    if (op.kind == Op::kLine && op.x != tick_x) {
      EXPECT_FLOAT_EQ(op.y, 20.0f);
    }
  }
  s.step_count = 1;
  PlotScan(*state);
  for (const Op& op : Drawing()) EXPECT_TRUE(std::isfinite(op.x) && std::isfinite(op.y));
}

TEST_F(ScanPlotTest, MainWindowShowsTheReflection) {
  PlotScan(*state);
  const auto& main = state->widgets.main;
  EXPECT_EQ(script::Text(main[kWHklEntry]), "  1 -2  3");
  EXPECT_EQ(script::Number(main[kWSeqEntry]), 17.0f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1]), 24.5f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1 + 1]), 0.125f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1 + 2]), 33.0f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1 + 3]), -120.0f);
}

}  // namespace
}  // namespace kalvex
