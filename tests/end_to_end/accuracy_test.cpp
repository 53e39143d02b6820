// What the integration recovers from simulated data sets: intensities whose
// errors match their sigmas, positions to a small fraction of a step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "commands/auto_fit.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::MakeXcaliburSet;
using testing::OpenSimulated;

struct Fitted {
  float intensity = 0, sigma = 0, position = 0, step_width = 0;
  char status = ' ';
};

TEST(Accuracy, StrongReflectionsHavePullsOfUnitWidthAndExactPositions) {
  simulate::GeneratorOptions options;
  options.reflections = 500;
  options.mean_intensity = 3000;
  options.weak_fraction = 0.0;
  options.attenuated_fraction = 0.0;
  options.seed = 11;
  const auto files = MakeXcaliburSet("accuracy", options);
  auto state = FreshState();
  OpenSimulated(*state, files, "");

  // Each tick comes before the next reflection is read: the state then still
  // holds the fit of the reflection before.
  std::map<int, Fitted> fitted;
  auto keep = [&] {
    const ScanReflection& s = state->scan;
    fitted[s.seq_no] = {state->fit.i_fit, state->fit.sigma_fit, state->fit.peak.value[kPosition], s.step_width,
                        s.class_code[1]};
  };
  script::SetTickObserver(keep);
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  DispatchCommand(*state, kCodeAutoFit);

  std::vector<double> pulls, steps_off;
  for (const auto& truth : files.set.reflections) {
    const auto it = fitted.find(truth.seq);
    if (it == fitted.end() || truth.standard_index > 0) continue;
    const Fitted& f = it->second;
    if (f.status != 'F' || f.sigma <= 0 || f.intensity < 20 * f.sigma) continue;
    pulls.push_back((f.intensity - truth.truth.intensity) / f.sigma);
    steps_off.push_back(std::fabs(f.position - truth.truth.position) / f.step_width);
  }
  ASSERT_GE(pulls.size(), 200u);
  double mean = 0;
  for (double p : pulls) mean += p;
  mean /= static_cast<double>(pulls.size());
  double var = 0;
  for (double p : pulls) var += (p - mean) * (p - mean);
  const double sd = std::sqrt(var / static_cast<double>(pulls.size() - 1));
  EXPECT_NEAR(mean, 0.0, 0.2);
  EXPECT_GT(sd, 0.8);
  EXPECT_LT(sd, 1.3);
  std::sort(steps_off.begin(), steps_off.end());
  EXPECT_LT(steps_off[steps_off.size() / 2], 0.03) << "median position error in steps";
  EXPECT_LT(steps_off[steps_off.size() * 9 / 10], 0.08) << "90th percentile in steps";
  RecordProperty("pull_mean", std::to_string(mean));
  RecordProperty("pull_sd", std::to_string(sd));
  std::printf("strong reflections %zu: pull mean %.3f sd %.3f; position error median %.4f, 90%% %.4f steps\n",
              pulls.size(), mean, sd, steps_off[steps_off.size() / 2], steps_off[steps_off.size() * 9 / 10]);
}

}  // namespace
}  // namespace kalvex
