// The scan plot's display list on the headless toolkit: its axes, residual
// strip, text line and ticks, and the main window fields it fills.
#include "ui/scan_plot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/fixed_fields.h"
#include "toolkit/pvgui.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

using Op = script::DrawOp;

// A recorded polyline or text with the pen it was drawn in.
struct Drawn {
  int colour = 0;
  std::vector<Op> ops;  // a move and its lines, or one text
};

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
    // Ten steps from -0.45 to 0.45 degrees.
    s.step_count = 10;
    for (int i = 0; i < 10; ++i) {
      s.step_position[i] = -0.45f + 0.1f * static_cast<float>(i);
      s.counts[i] = 10.0f + static_cast<float>(i % 3);
      s.calculated[i] = 10.0f;
    }
    s.counts[4] = 90.0f;
    s.calculated[4] = 70.0f;
    s.calculated[5] = 100.0f;  // above the highest count: the profile sets the scale
    s.max_count = 90.0f;
    s.doublet_shift = 0.09f;
    state->fit.peak.value[kPosition] = 0.0f;
    state->params.n_wavelengths = 1;
  }

  std::vector<Drawn> Drawing() const {
    std::vector<Drawn> out;
    int colour = 0;
    for (const Op& op : script::Drawing(state->widgets.frame)) {
      if (op.kind == Op::kPen) colour = op.colour;
      if (op.kind == Op::kMove || op.kind == Op::kText) out.push_back({colour, {op}});
      if (op.kind == Op::kLine && !out.empty()) out.back().ops.push_back(op);
    }
    return out;
  }
  std::vector<Drawn> Of(int colour, bool text) const {
    std::vector<Drawn> out;
    for (const Drawn& d : Drawing())
      if (d.colour == colour && (d.ops[0].kind == Op::kText) == text) out.push_back(d);
    return out;
  }

  std::unique_ptr<ProgramState> state;
};

// The numeric labels of an axis, checked to be evenly spaced by a round step
// (1, 2 or 5 x 10^k) and to lie on its multiples.
std::vector<double> RoundLabels(const std::vector<Drawn>& texts, bool on_counts_axis, float counts_x) {
  std::vector<double> values;
  for (const Drawn& d : texts) {
    char* end = nullptr;
    const double v = std::strtod(d.ops[0].text.c_str(), &end);
    if ((d.ops[0].x == counts_x) == on_counts_axis && !d.ops[0].text.empty() && *end == '\0') values.push_back(v);
  }
  std::sort(values.begin(), values.end());
  if (values.size() < 3) return values;
  const double step = values[1] - values[0];
  const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
  EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-6 || std::fabs(mantissa - 2) < 1e-6 || std::fabs(mantissa - 5) < 1e-6);
  for (std::size_t i = 1; i < values.size(); ++i) EXPECT_NEAR(values[i] - values[i - 1], step, 1e-6 * step);
  for (double v : values) EXPECT_NEAR(std::remainder(v, step), 0.0, 1e-6 * step) << v;
  return values;
}

TEST_F(ScanPlotTest, TickLabelsAreRoundNumbersCoveringTheData) {
  // A weak and a strong peak: each counts axis starts at zero and just covers
  // its scan, so that the weak one does not look like the strong one.
  for (float peak : {34.0f, 30000.0f}) {
    SCOPED_TRACE(peak);
    ScanReflection& s = state->scan;
    s.counts[4] = peak;
    s.calculated[4] = 0.8f * peak;
    s.calculated[5] = 0.9f * peak;
    PlotScan(*state);
    const auto texts = Of(plot::kInkAxes, true);
    ASSERT_FALSE(texts.empty());
    float counts_x = texts[0].ops[0].x;
    for (const Drawn& d : texts) counts_x = std::min(counts_x, d.ops[0].x);
    const auto counts = RoundLabels(texts, true, counts_x);
    ASSERT_GE(counts.size(), 3u);
    EXPECT_EQ(counts.front(), 0.0);
    EXPECT_GE(counts.back(), peak);
    EXPECT_LT(counts[counts.size() - 2], peak);
    const auto omega = RoundLabels(texts, false, counts_x);
    ASSERT_GE(omega.size(), 3u);
    const double step = omega[1] - omega[0];
    EXPECT_GE(omega.front(), -0.45 - 1e-6);
    EXPECT_LT(omega.front() - step, -0.45);
    EXPECT_LE(omega.back(), 0.45 + 1e-6);
    EXPECT_GT(omega.back() + step, 0.45);
  }
}

TEST_F(ScanPlotTest, ResidualStripShowsCountsMinusFitOverSigma) {
  PlotScan(*state);
  // The +3 and -3 lines fix the strip's scale.
  const auto limits = Of(plot::kInkLimits, false);
  ASSERT_EQ(limits.size(), 2u);
  const float y_plus = std::max(limits[0].ops[0].y, limits[1].ops[0].y);
  const float y_minus = std::min(limits[0].ops[0].y, limits[1].ops[0].y);
  ASSERT_GT(y_plus, y_minus);
  // The residuals: stems in the counts' colour, one per step, after the counts.
  std::vector<Drawn> stems;
  for (const Drawn& d : Of(kColourCounts, false))
    if (d.ops.size() == 2 && d.ops[0].x == d.ops[1].x) stems.push_back(d);
  ASSERT_EQ(stems.size(), 10u);
  const ScanReflection& s = state->scan;
  for (int i = 0; i < 10; ++i) {
    // Beyond the strip's cap a stem ends at its edge.
    const float expected = std::clamp((s.counts[i] - s.calculated[i]) / std::sqrt(s.counts[i] + 1.0f),
                                      -plot::kResidualCap, plot::kResidualCap);
    const float zero = stems[i].ops[0].y, end = stems[i].ops[1].y;
    EXPECT_NEAR(zero, (y_plus + y_minus) / 2, 1e-3f);
    EXPECT_NEAR(-3.0f + 6.0f * (end - y_minus) / (y_plus - y_minus), expected, 1e-4f) << i;
    if (i > 0) {
      EXPECT_GT(stems[i].ops[0].x, stems[i - 1].ops[0].x);
    }
  }
}

TEST_F(ScanPlotTest, TicksStayInsideThePlotAndStandardIsLabelled) {
  PlotScan(*state);
  EXPECT_EQ(Of(kColourTicks, false).size(), 1u);
  for (const Drawn& d : Drawing()) EXPECT_NE(d.colour, kColourStandard);

  state->params.n_wavelengths = 2;
  state->scan.standard_index = 2;
  state->scan.doublet_shift = 0.3f;
  state->scan.mono_term = 0.2f;  // alpha2 beyond the last step
  PlotScan(*state);
  const auto ticks = Of(kColourTicks, false);
  ASSERT_EQ(ticks.size(), 2u);
  float right = 0;
  for (const Drawn& d : Of(kColourCounts, false))
    for (const Op& op : d.ops) right = std::max(right, op.x);
  EXPECT_FLOAT_EQ(ticks[1].ops[0].x, right);  // held at the omega axis's end
  EXPECT_LT(ticks[0].ops[0].x, ticks[1].ops[0].x);
  const auto label = Of(kColourStandard, true);
  ASSERT_EQ(label.size(), 1u);
  EXPECT_EQ(label[0].ops[0].text, "STANDARD");
}

TEST_F(ScanPlotTest, DrawingFillsTheBoundsEnquiredBefore) {
  const int frame = state->widgets.frame;
  tk::SetFrameScale(frame, 10.0f, 0.0f, 600.0f, 400.0f);
  // Each drawing fills the bounds the frame gave during the one before.
  for (const float right : {300.0f, 600.0f}) {
    PlotScan(*state);
    float x0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
    for (const Op& op : script::Drawing(frame))
      if (op.kind != Op::kPen) x0 = std::min(x0, op.x), x1 = std::max(x1, op.x), y1 = std::max(y1, op.y);
    EXPECT_GE(x0, right == 300.0f ? 0.0f : 10.0f);
    EXPECT_TRUE(x1 > 0.95f * right && x1 <= right) << x1;
    EXPECT_TRUE(y1 > 0.9f * right * 2 / 3 && y1 <= right * 2 / 3) << y1;
  }

  // An empty scan and one of a single step draw only finite numbers.
  ScanReflection& s = state->scan;
  s.counts.fill(0.0f);
  s.calculated.fill(0.0f);
  for (int steps : {10, 1}) {
    s.step_count = steps;
    PlotScan(*state);
    for (const Op& op : script::Drawing(frame)) EXPECT_TRUE(std::isfinite(op.x) && std::isfinite(op.y));
  }
}

// The text line of each scan an automatic run stops at against the record
// the run wrote last: hkl, sequence number, I +- sigma and the status letters.
TEST_F(ScanPlotTest, TextLineMatchesTheRecordWritten) {
  simulate::GeneratorOptions options;
  options.reflections = 40;
  const auto files = testing::MakeXcaliburSet(testing::TestName(), options);
  testing::OpenSimulated(*state, files);
  int looked = 0;
  auto look = [&] {
    std::string caption;
    for (const Drawn& d : Of(plot::kInkAxes, true))
      if (d.ops[0].text.starts_with("hkl ")) caption = d.ops[0].text;
    const std::string record = testing::ReadLines(files.dir / "set.int").back();
    SCOPED_TRACE(caption + "\n" + record);
    int h = 0, k = 0, l = 0, seq = 0;
    float i = 0, sigma = 0;
    ASSERT_EQ(std::sscanf(caption.c_str(), "hkl %d %d %d  \xC2\xB7  #%d  \xC2\xB7  I = %f \xC2\xB1 %f", &h, &k, &l, &seq, &i,
                          &sigma), 6);
    EXPECT_EQ(record.substr(0, 9), fields::FormatInt(h, 3) + fields::FormatInt(k, 3) + fields::FormatInt(l, 3));
    EXPECT_EQ(seq, static_cast<int>(fields::ReadReal(record, 62, 7, 0).value_or(0)) / 10);
    EXPECT_NEAR(i, fields::ReadReal(record, 43, 11, 0).value_or(-1), 0.05f + 1e-6f * i);
    EXPECT_NEAR(sigma, fields::ReadReal(record, 55, 7, 0).value_or(-1), 0.05f + 1e-6f * sigma);
    const std::string code(fields::TrimRight(record.substr(70, 6)));
    EXPECT_TRUE(caption.ends_with("\xC2\xB7  " + code.substr(code.find_first_not_of(' '))));
    ++looked;
  };
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  for (int ticks : {3, 9, 17}) {
    script::QueueClick(kCodeStop, ticks);
    script::QueueCall(look);
    script::QueueClick(kCodeGo);
  }
  DispatchCommand(*state, kCodeAutoFit);
  EXPECT_EQ(looked, 3);
}

TEST_F(ScanPlotTest, MainWindowShowsTheReflection) {
  const int updates = script::FrameUpdates(state->widgets.frame);  // the idle window's
  PlotScan(*state);
  const auto& main = state->widgets.main;
  EXPECT_EQ(script::Text(main[kWHklEntry]), "1 -2 3");
  EXPECT_EQ(script::Number(main[kWSeqEntry]), 17.0f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1]), 24.5f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1 + 1]), 0.125f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1 + 2]), 33.0f);
  EXPECT_FLOAT_EQ(script::Number(main[kWAngle1 + 3]), -120.0f);
  EXPECT_EQ(script::FrameUpdates(state->widgets.frame), updates + 1);
}

TEST_F(ScanPlotTest, ZoomPlotsTheStretchInViewWithItsOwnAxes) {
  const int frame = state->widgets.frame;
  struct Labels {
    std::vector<double> omega, counts;
  };
  const auto LabelsOf = [this](int) {
    const auto texts = Of(plot::kInkAxes, true);
    float counts_x = 1e30f;
    for (const Drawn& d : texts) counts_x = std::min(counts_x, d.ops[0].x);
    return Labels{RoundLabels(texts, false, counts_x), RoundLabels(texts, true, counts_x)};
  };
  state->scan.counts[9] = 14.0f;
  PlotScan(*state);
  const Labels whole = LabelsOf(frame);
  ASSERT_GE(whole.counts.size(), 3u);
  EXPECT_GE(whole.counts.back(), 100.0);

  // Four times closer about the right end of the axis: the labels lie in
  // the last quarter of the scan, and the counts axis ends just above its
  // highest step (14), far below the peak's 100.
  script::FrameView(frame, PVGUI_VIEW_ZOOM, 300.0f, 100.0f, 4.0f);
  const Labels right = LabelsOf(frame);
  ASSERT_TRUE(right.omega.size() >= 2 && !right.counts.empty());
  EXPECT_GE(right.omega.front(), 0.45 - 0.9 / 4 - 1e-6);
  EXPECT_LE(right.omega.back(), 0.45 + 1e-6);
  EXPECT_GE(right.counts.back(), 14.0);
  EXPECT_LT(right.counts.back(), 30.0);

  // A long pan towards lower omega stops at the scan's start; Shift+wheel
  // magnifies the counts; a reset shows the whole again.
  script::FrameView(frame, PVGUI_VIEW_PAN, 0.0f, 0.0f, 5000.0f);
  const Labels left = LabelsOf(frame);
  EXPECT_GE(left.omega.front(), -0.45 - 1e-6);
  EXPECT_LE(left.omega.back(), -0.45 + 0.9 / 4 + 1e-6);
  script::FrameView(frame, PVGUI_VIEW_ZOOM_Y, 0.0f, 0.0f, 2.0f);
  EXPECT_LT(LabelsOf(frame).counts.back(), left.counts.back());
  script::FrameView(frame, PVGUI_VIEW_RESET, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(LabelsOf(frame).omega, whole.omega);
  EXPECT_EQ(LabelsOf(frame).counts, whole.counts);
}

}  // namespace
}  // namespace kalvex
