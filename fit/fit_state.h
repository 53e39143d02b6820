// Profile parameters of the current reflection, the results of its fit and
// integration, and the counters of an integration run.
#pragma once

#include <array>

namespace kalvex {

struct PeakParameters {
  std::array<float, 7> value{};  // P(1..6), profile-parameter order
  std::array<float, 7> esd{};    // E(1..6); 0 when not refined
};

// FitStatus of the last RefineProfile call.
constexpr int kFitConverged = 0;
constexpr int kFitSingular = 1;
constexpr int kFitNoConvergence = 2;
constexpr int kFitNothingToRefine = 3;

constexpr int kOutcomeCounters = 11;

struct FitState {
  PeakParameters peak;
  float rwp = 0;
  float chi2 = 0;
  int fit_status = 0;
  std::array<int, 5> bg_range{};  // [1..4], step indices
  float i_fit = 0;
  float sigma_fit = 0;
  float sigma_sum = 0;

  // Integration run counters.
  std::array<int, kOutcomeCounters + 1> outcome{};  // [1..11]
  int refitted_count = 0;
  int recovered_count = 0;
};

}  // namespace kalvex
