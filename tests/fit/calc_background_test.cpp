// "Calc Background" end to end: a simulated Xcalibur file opened through the
// headless toolkit, the pass over it, and the "Fixed Background Options" dialog.
#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <vector>

#include "fit/background.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

TEST(CalcBackground, BuildsTheTableAndTheExponentialFromTheWholeFile) {
  simulate::GeneratorOptions options;
  options.reflections = 60;
  options.standards_every = 25;
  const auto files = testing::MakeXcaliburSet("CalcBackground", options);
  auto state = testing::FreshState();
  testing::OpenSimulated(*state, files, "");
  ASSERT_EQ(state->scan.seq_no, files.set.reflections.front().seq);

  // What the pass should collect, from the simulator's own record of the file.
  std::vector<BackgroundPoint> points;
  for (const auto& r : files.set.reflections) {
    const double ends = (r.counts.front() + r.counts.back()) / 2.0;
    points.push_back({static_cast<float>(r.angles.two_theta), static_cast<float>(ends * r.count_scale)});
  }
  const ExponentialBackground exponential = FitExponentialBackground(points.data(), static_cast<int>(points.size()));
  BackgroundTable table{};
  BuildBackgroundTable(points.data(), static_cast<int>(points.size()), table);

  const Widgets& w = state->widgets;
  // The pass runs on the timer; the user acts once it is over.
  script::QueueClick(kCodeBgSpline, std::numeric_limits<int>::max());
  script::QueueCall([&] {
    // The dialog opens with the new coefficients in place.
    EXPECT_TRUE(script::Shown(w.background_dialog));
    EXPECT_FLOAT_EQ(script::Number(w.bg_a), state->params.pdef[kBackground][kCoefA]);
    EXPECT_FLOAT_EQ(script::Number(w.bg_c), state->params.pdef[kBackground][kCoefC]);
  });
  script::QueueClick(kCodeBgSave);
  script::ClearBoxes();
  ASSERT_TRUE(DispatchCommand(*state, kCodeCalcBackground));

  EXPECT_EQ(state->params.bg_type, kBgSpline);
  const auto& pdef = state->params.pdef[kBackground];
  EXPECT_NEAR(pdef[kCoefC], exponential.c, 1e-3f * exponential.c);
  EXPECT_NEAR(pdef[kCoefA], exponential.a, 1e-2f * exponential.a);
  EXPECT_NEAR(pdef[kCoefB], exponential.b, 1e-2f * std::fabs(exponential.b) + 1e-5f);
  for (int k = 1; k <= kBgTableSize; ++k) {
    EXPECT_NEAR(state->fit.bg_table[k], table[k], 1e-3f * table[k] + 1e-4f) << "degree " << k;
  }
  EXPECT_GT(state->fit.bg_table[kBgTableSize], 0.0f);

  // The pass read to the end of the data, keeps the last reflection and
  // leaves the file rewound.
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].message, "End of input data file");
  EXPECT_EQ(state->scan.seq_no, files.set.reflections.back().seq);
  EXPECT_EQ(state->files.data.LineNumber(), 0);

  // The table now predicts a reflection's background in its own counts.
  state->params.bg_type = kBgSpline;
  const float at = FixedBackground(state->scan, state->params, state->fit.bg_table, 30.0f);
  EXPECT_NEAR(at, table[30] / state->scan.count_scale, 1e-3f * at);
}

}  // namespace
}  // namespace kalvex
