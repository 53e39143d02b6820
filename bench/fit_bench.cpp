// Fits per second of RefineProfile and FitReflection on simulated omega scans
// of 96 and 200 steps, weak (intensity below 3 ESDs on 20 counts a step) and strong
// (~10^5 counts at the top).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "fit/fit_reflection.h"
#include "fit/profile.h"
#include "scan/reflection_input.h"
#include "state/fit_state.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex {
namespace {

constexpr float kLambda1 = 0.70930f;
constexpr float kLambda2 = 0.71359f;
constexpr float kTwoTheta = 40.0f;

struct BenchScan {
  int steps = 0;
  std::array<float, kMaxSteps> x{};
  std::array<float, kMaxSteps> y{};
  ProfileValues truth{};
  ProfileValues start{};
};

// A pseudo-Voigt doublet on a flat background with Poisson counts.
BenchScan MakeScan(int steps, float intensity) {
  BenchScan s;
  s.steps = steps;
  s.truth = {0.0f, 20.0f, 0.30f, intensity, 0.02f, 0.40f, 0.5f};
  const float offset = DoubletOffset(kLambda1, kLambda2, kTwoTheta, 0.0f);
  std::mt19937 random(1234);
  for (int i = 0; i < steps; ++i) {
    s.x[i] = -0.8f + 1.6f * static_cast<float>(i) / static_cast<float>(steps - 1);
    const float mean = s.truth[kBackground] +
                       intensity * (PseudoVoigt(s.x[i], 0.02f, 0.4f, 0.3f).value +
                                    0.5f * PseudoVoigt(s.x[i], 0.02f + offset, 0.4f, 0.3f).value);
    std::poisson_distribution<long long> counts(mean);
    s.y[i] = static_cast<float>(counts(random));
  }
  s.start = s.truth;
  s.start[kBackground] *= 1.2f;
  s.start[kFwhm] *= 1.2f;
  s.start[kIntensity] *= 0.8f;
  s.start[kPosition] += 0.05f;
  s.start[kEta] = 0.3f;
  return s;
}

// Weak and strong intensities in counts x degrees; the peak of the strong
// one is about 10^5 counts per step.
float Intensity(int64_t strong) { return strong ? 4.0e4f : 6.0f; }

void BM_RefineProfile(benchmark::State& bench) {
  const BenchScan s = MakeScan(static_cast<int>(bench.range(0)), Intensity(bench.range(1)));
  const ProfileFlags flags{0, 1, 1, 1, 1, 1, 0};
  const ProfileScan input{s.x.data(), s.y.data(), s.steps, {kLambda1, kLambda2}, 0.0f, kTwoTheta};
  std::array<float, kMaxSteps> yc{};
  int status = 0;
  for (auto _ : bench) {
    ProfileFit fit = RefineProfile(input, s.start, flags, yc.data());
    status = fit.status;
    benchmark::DoNotOptimize(fit);
    benchmark::DoNotOptimize(yc);
  }
  bench.counters["fits/s"] = benchmark::Counter(static_cast<double>(bench.iterations()), benchmark::Counter::kIsRate);
  bench.counters["status"] = status;
}

void BM_FitReflection(benchmark::State& bench) {
  const BenchScan s = MakeScan(static_cast<int>(bench.range(0)), Intensity(bench.range(1)));
  RunParameters par{};
  par.lambda1 = kLambda1;
  par.lambda2 = kLambda2;
  par.refine_flag = {0, 1, 1, 1, 1, 1, 0};
  // The usual limits: every test runs, the doublet test fit included.
  par.check_flag = {0, 1, 1, 1, 1, 1, 1, 1};
  par.low = {0, 0, 0.05f, 0, 0.5f, 0, 0};
  par.high = {0, 1e6f, 2.0f, 0, 0.5f, 1.0f, 1.0f};
  par.rwp_max = 1.0f;
  ScanReflection scan{};
  scan.step_count = s.steps;
  scan.two_theta = kTwoTheta;
  scan.count_scale = 1.0f;
  scan.step_width = 1.6f / static_cast<float>(s.steps - 1);
  scan.scan_width = scan.step_width * static_cast<float>(s.steps);
  std::copy(s.y.begin(), s.y.end(), scan.counts.begin());
  FitControls controls;
  controls.start = s.start;
  controls.refine = par.refine_flag;
  int accepted = 0;
  for (auto _ : bench) {
    scan.omega_centre = 0.0f;
    DeriveScanQuantities(scan, kLambda1, kLambda2, 0.0f);
    const FitOutcome outcome = FitReflection(scan, par, controls);
    accepted += scan.class_code[1] == 'F';
    benchmark::DoNotOptimize(outcome.i_fit);
  }
  bench.counters["fits/s"] = benchmark::Counter(static_cast<double>(bench.iterations()), benchmark::Counter::kIsRate);
  bench.counters["accepted"] = static_cast<double>(accepted) / static_cast<double>(bench.iterations());
}

// Arguments: steps, strong (0 weak, 1 strong).
BENCHMARK(BM_RefineProfile)->ArgsProduct({{96, 200}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FitReflection)->ArgsProduct({{96, 200}, {0, 1}})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kalvex

BENCHMARK_MAIN();
