// Profile parameters of the current reflection, the results of its fit and
// integration, the fixed-background table, and the counters of an integration run.
#pragma once

#include <array>

#include "fit/profile.h"

namespace kalvex {

struct PeakParameters {
  ProfileValues value{};  // P(1..6), profile-parameter order
  ProfileValues esd{};    // E(1..6); 0 when not refined
};

constexpr int kOutcomeCounters = 11;

// The "Spline" background table covers 2theta = 1..90 degrees, one entry per degree.
constexpr int kBgTableSize = 90;

struct FitState {
  PeakParameters peak;
  float rwp = 0;
  float chi2 = 0;
  int fit_status = 0;             // FitStatus of the last RefineProfile call
  std::array<int, 5> bg_range{};  // [1..4], step indices
  float i_fit = 0;
  float sigma_fit = 0;
  float sigma_sum = 0;

  // bg_table[m]: background at 2theta = m degrees ([1..90]), in scaled counts
  // per step; built by "Calc Background", not part of the parameter file.
  std::array<float, kBgTableSize + 1> bg_table{};

  // Integration run counters.
  std::array<int, kOutcomeCounters + 1> outcome{};  // [1..11]
  int refitted_count = 0;
  int recovered_count = 0;
};

}  // namespace kalvex
