// Fixed-background models: the background of the current reflection predicted
// from the end steps, the per-degree table ("Spline"), the exponential in
// 2theta, or the first and last nstep_bg steps; and the table and the
// exponential built from the end backgrounds of a whole data file.
#pragma once

#include <array>

#include "state/fit_state.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex {

// One reflection's contribution to the background models: its 2theta and the
// mean of its end steps on the data set's scale.
struct BackgroundPoint {
  float two_theta = 0;
  float end_background = 0;
};

// Reflections one "Calc Background" pass keeps; later ones are read but not used.
constexpr int kMaxBackgroundPoints = 5000;

// Fixed background of the reflection at `two_theta`, in its unscaled counts
// per step, by par.bg_type.
float FixedBackground(const ScanReflection& scan, const RunParameters& par, const BackgroundTable& table,
                      float two_theta);

// Mean of the first and last step on the data set's scale: what one
// reflection gives the background models.
float EndBackground(const ScanReflection& scan);

// The table at |two_theta|, linearly interpolated between whole degrees, on
// the data set's scale. Below 1 degree it falls linearly to 0 at 0 degrees;
// from 90 degrees on it is the 90-degree entry. A NaN 2theta gives 0.
float BackgroundTableValue(const BackgroundTable& table, float two_theta);

// Mean of the first and last `nstep` counts (clamped to 1..n).
float EndStepsBackground(const float* counts, int n, int nstep);

// Builds the table from points sorted or not (they are sorted here): the
// lowest end background of each whole degree of |2theta|, gaps filled from
// their neighbours, a straight line through the origin below the first
// measured degree, the last measured value beyond the last, and a
// three-point running mean. Points below half a degree are ignored; with
// none left the table is unchanged.
void BuildBackgroundTable(BackgroundPoint* points, int count, BackgroundTable& table);

// The exponential a exp(-b 2theta) + c: c is the mean end background above
// 45 degrees, a and b the straight-line fit of ln(e - c) against 2theta.
struct ExponentialBackground {
  float a = 1.0f;
  float b = 0.1f;
  float c = 0.0f;
};
ExponentialBackground FitExponentialBackground(const BackgroundPoint* points, int count);

}  // namespace kalvex
