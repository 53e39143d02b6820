// Fits per second of RefineProfile and FitReflection on simulated omega scans
// of 96 and 200 steps, weak (intensity below 3 ESDs on 20 counts a step) and strong
// (~10^5 counts at the top); and, with --scans FILE, of FitReflection over a
// fixed set of scans on each vector unit the processor has (--dump FILE
// writes each scan's letters, I and sigma, to check agreement as well).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

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

// One scan of the fixed set, ready for FitReflection as automatic
// integration hands it over.
struct SetScan {
  std::string id;
  ScanReflection scan{};
  RunParameters par{};
  FitControls controls{};
};

// Blocks of "SCAN id mode N 2theta lambda1 lambda2 mono_term mono_2theta
// mono_orient count_scale omega_centre", then x, y, six start values, six
// refine and seven check flags, six low/high pairs and rwp_max.
std::vector<SetScan> ReadScanSet(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  for (std::string line; std::getline(in, line);)
    if (!line.starts_with("#")) text << line << '\n';
  std::vector<SetScan> scans;
  std::string word;
  while (text >> word) {
    if (word != "SCAN") break;
    auto set = std::make_unique<SetScan>();
    ScanReflection& s = set->scan;
    RunParameters& par = set->par;
    int mode = 0;
    float mono_term = 0;
    text >> set->id >> mode >> s.step_count >> s.two_theta >> par.lambda1 >> par.lambda2 >> mono_term >>
        par.mono_2theta >> par.mono_orient >> s.count_scale >> s.omega_centre;
    s.step_count = std::clamp(s.step_count, 1, kMaxSteps);
    for (int i = 0; i < s.step_count; ++i) text >> s.step_position[i];
    for (int i = 0; i < s.step_count; ++i) text >> s.counts[i];
    for (int k = 1; k <= kProfileParameters; ++k) text >> set->controls.start[k];
    for (int k = 1; k <= kProfileParameters; ++k) text >> par.refine_flag[k];
    for (int k = 1; k <= kProfileParameters + 1; ++k) text >> par.check_flag[k];
    for (int k = 1; k <= kProfileParameters; ++k) text >> par.low[k] >> par.high[k];
    text >> par.rwp_max;
    if (!text) break;
    s.mono_term = mono_term;
    par.n_wavelengths = par.lambda2 > 0.0f ? 2 : 1;
    set->controls.refine = par.refine_flag;
    scans.push_back(std::move(*set));
  }
  return scans;
}

struct SetOptions {
  std::string scans;
  std::string dump;
};
SetOptions& Options() {
  static SetOptions options;
  return options;
}

void BM_Scans2000(benchmark::State& bench, VectorUnit unit) {
  static const std::vector<SetScan> scans = ReadScanSet(Options().scans);
  if (scans.empty()) {
    bench.SkipWithError("no scans read");
    return;
  }
  UseVectorUnit(unit);
  std::vector<SetScan> work = scans;
  long long fits = 0;
  for (auto _ : bench) {
    for (std::size_t i = 0; i < scans.size(); ++i) {
      work[i].scan = scans[i].scan;
      const FitOutcome out = FitReflection(work[i].scan, work[i].par, work[i].controls);
      benchmark::DoNotOptimize(out.i_fit);
    }
    fits += static_cast<long long>(scans.size());
  }
  bench.SetItemsProcessed(fits);
  if (!Options().dump.empty()) {
    std::ofstream dump(Options().dump + "." + VectorUnitName(unit));
    for (const SetScan& s : scans) {
      ScanReflection scan = s.scan;
      const FitOutcome out = FitReflection(scan, s.par, s.controls);
      dump << s.id << ' ' << scan.class_code[1] << (scan.class_code[2] == ' ' ? '-' : scan.class_code[2]) << ' '
           << out.i_fit << ' ' << out.sigma_fit << '\n';
    }
  }
  UseVectorUnit(SupportedVectorUnits().back());
}

}  // namespace
}  // namespace kalvex

int main(int argc, char** argv) {
  using namespace kalvex;
  // Our own options first; the rest are Google Benchmark's.
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--scans" || arg == "--dump") && i + 1 < argc) {
      (arg == "--scans" ? Options().scans : Options().dump) = argv[++i];
    } else if (arg.starts_with("--scans=")) {
      Options().scans = arg.substr(8);
    } else if (arg.starts_with("--dump=")) {
      Options().dump = arg.substr(7);
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (!Options().scans.empty()) {
    for (VectorUnit unit : SupportedVectorUnits()) {
      benchmark::RegisterBenchmark((std::string("BM_Scans2000/") + VectorUnitName(unit)).c_str(), BM_Scans2000, unit)
          ->Unit(benchmark::kMillisecond);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
