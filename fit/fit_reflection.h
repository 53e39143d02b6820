// One reflection from scan to integrated intensity: the first fit, the
// acceptance tests with their reason letters, the doublet test fit, the final
// fit, the background ranges and the summation sigma; the start values of a
// fit, and the retry of automatic integration.
#pragma once

#include <array>
#include <optional>

#include "fit/profile.h"
#include "state/fit_state.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex {

// Fits `scan` from controls.start with the refine flags of `controls` and the
// limits and checks of `par`. Writes into the scan what the record holds of
// a fit: the calculated profile, class_code characters 2 and 3 ("F" and
// blank, or "R" and the reason letter), the monochromator term used, and
// after an integrated fit the fitted Position as omega_centre.
FitOutcome FitReflection(ScanReflection& scan, const RunParameters& par, const FitControls& controls);

// The same with another profile fit: the tests run these rules over their
// straightforward reference fit.
using ProfileFitter = ProfileFit (*)(const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags,
                                     float* yc);
FitOutcome FitReflectionWith(ScanReflection& scan, const RunParameters& par, const FitControls& controls,
                             ProfileFitter refine);

// FWHM of the default rule a + b tan(theta) at the scan's 2theta.
float DefaultFwhm(const RunParameters& par, float two_theta);

// Start values of a fit by the rules of the fitting controls: a refined
// Background from the end steps, a defaulted one `fixed_background`; a
// defaulted FWHM, Eta and Iratio from their rules; a refined Intensity from
// the highest count; a refined Position at the highest count, a held
// defaulted one at `predicted` when there is one; the rest from
// controls.start (the dialog's inputs).
ProfileValues SeedStartValues(const ScanReflection& scan, const RunParameters& par, const FitControls& controls,
                              float fixed_background, std::optional<float> predicted);

// The start values "Reset to Defaults" gives.
ProfileValues DefaultStartValues(const ScanReflection& scan, const RunParameters& par, const FitControls& controls,
                                 float fixed_background, std::optional<float> predicted, const ProfileValues& current);

// The outcome counter of a first-attempt rejection with this reason letter.
int OutcomeCounterOf(char reason);

// A fit with the retry of automatic integration: a first fit rejected while
// a refined orientation predicts the peak is fitted again with the Position
// held where `predict(scan)` puts it. class_code character 4 gets the attempt.
struct RetriedFit {
  FitOutcome outcome;
  FitControls last_controls;     // what the last attempt started from
  char first_status = ' ';       // class_code[1] after the first attempt
  char first_reason = ' ';       // class_code[2] after the first attempt
  bool refitted = false;
  bool recovered = false;
};

template <class Predict>
RetriedFit FitWithRetry(ScanReflection& scan, const RunParameters& par, const FitControls& controls,
                        bool retry_allowed, Predict&& predict) {
  RetriedFit fit;
  fit.last_controls = controls;
  fit.outcome = FitReflection(scan, par, controls);
  scan.class_code[3] = '1';
  fit.first_status = scan.class_code[1];
  fit.first_reason = scan.class_code[2];
  if (scan.class_code[1] != 'R' || !retry_allowed) return fit;

  fit.refitted = true;
  FitControls retry = controls;
  retry.refine[kPosition] = 0;
  retry.hold_position = true;
  retry.start[kPosition] = predict(scan);
  fit.last_controls = retry;
  fit.outcome = FitReflection(scan, par, retry);
  scan.class_code[3] = '2';
  fit.recovered = scan.class_code[1] != 'R';
  return fit;
}

// Background ranges from the calculated profile: steps whose calculated value
// stays within 1 % of the background are background, and the first and last
// steps always are. bg_range [1..4] are 1-based step indices.
void BackgroundRanges(const float* calculated, int n, float background, std::array<int, 5>& bg_range);

// Background-peak-background sigma of the raw counts: sorts bg_range and sets
// sigma_sum. Returns false, leaving sigma_sum alone, when the ranges do not
// lie within the n steps or the counts give no real sigma.
bool SummationSigma(std::array<int, 5>& bg_range, const float* counts, int n, float& sigma_sum);

}  // namespace kalvex
