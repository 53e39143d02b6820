// One reflection from scan to integrated intensity: the first fit, the
// acceptance tests with their reason letters, the doublet test fit, the final
// fit, the background ranges and the summation sigma.
#pragma once

#include <array>

#include "fit/profile.h"
#include "shell/program_state.h"

namespace kalvex {

// FitReflection modes: the normal fit, and the retry of automatic
// integration with the Position held at its predicted value (its caller has
// switched refine_flag(4) off); the retry skips the position-window test.
constexpr int kFitNormal = 0;
constexpr int kFitRetry = 1;

// Fits the current reflection with the current PeakParameters as start
// values; writes the fit and integration results and class_code characters
// 2 and 3 ("F" and blank, or "R" and the reason letter).
void FitReflection(ProgramState& state, int mode);

// The same with another profile fit of RefineProfile's arguments: the tests
// run these rules over their straightforward reference fit.
using ProfileFit = void (*)(const float* x, const float* y, int n, const std::array<float, 2>& lambda,
                            float mono_term, float two_theta, ProfileValues& p, const ProfileFlags& flags, float* yc,
                            ProfileValues& e, float& rwp, float& chi2, int& status);
void FitReflectionWith(ProgramState& state, int mode, ProfileFit refine);

// Background ranges from the calculated profile: steps whose calculated value
// stays within 1 % of the background are background, and the first and last
// steps always are. bg_range [1..4] are 1-based step indices.
void BackgroundRanges(const float* calculated, int n, float background, std::array<int, 5>& bg_range);

// Background-peak-background sigma of the raw counts: sorts bg_range and sets
// sigma_sum. Returns false, leaving sigma_sum alone, when the ranges do not
// lie within the n steps or the counts give no real sigma.
bool SummationSigma(std::array<int, 5>& bg_range, const float* counts, int n, float& sigma_sum);

}  // namespace kalvex
