// Profile parameters of the current reflection, what a fit is given and what
// it gives back, the fixed-background table, and the counters of an
// integration run.
#pragma once

#include <array>

#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex {

// Profile parameters and ESDs, 1-based in the program's parameter order
// (kBackground .. kIratio); element 0 is not used.
using ProfileValues = std::array<float, 7>;
using ProfileFlags = std::array<int, 7>;

struct PeakParameters {
  ProfileValues value{};  // P(1..6), profile-parameter order
  ProfileValues esd{};    // E(1..6); 0 when not refined
};

// What a fit of one reflection starts from, as the fitting controls give it.
struct FitControls {
  ProfileValues start{};        // P(1..6) at the start
  ProfileFlags refine{};        // "R" column: 1 refines the parameter
  ProfileFlags use_default{};   // "D" column: the start value follows the parameter's default rule
  // The retry of automatic integration: the Position is held at start[kPosition]
  // (where the refined orientation puts the peak) and its window is not tested.
  bool hold_position = false;
};

// What a fit of one reflection gives back.
struct FitOutcome {
  PeakParameters peak;
  float rwp = 0;
  float chi2 = 0;
  int fit_status = 0;             // FitStatus of the last profile fit
  std::array<int, 5> bg_range{};  // [1..4], step indices
  float i_fit = 0;
  float sigma_fit = 0;
  float sigma_sum = 0;
};

constexpr int kOutcomeCounters = 11;

// The "Spline" background table covers 2theta = 1..90 degrees, one entry per degree.
constexpr int kBgTableSize = 90;
using BackgroundTable = std::array<float, kBgTableSize + 1>;  // [1..90]

// The current reflection's fit results, and what the run keeps beside them.
struct FitState : FitOutcome {
  // bg_table[m]: background at 2theta = m degrees ([1..90]), in scaled counts
  // per step; built by "Calc Background", not part of the parameter file.
  BackgroundTable bg_table{};
  // The start values the fitting controls hold ([1..6]): what a fit takes
  // for a parameter whose start value follows no default rule. The window
  // copies its dialog here before a fit and shows it after.
  ProfileValues inputs{};

  // Integration run counters.
  std::array<int, kOutcomeCounters + 1> outcome{};  // [1..11]
  int refitted_count = 0;
  int recovered_count = 0;
};

}  // namespace kalvex
