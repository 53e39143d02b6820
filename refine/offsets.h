// Crystal offsets and omega zero: the linear fit of the offsets to the omega
// residuals, and the cycles that refine them in turn with UB.
#pragma once

#include <span>

#include "refine/geometry.h"
#include "refine/notices.h"
#include "state/orientation_state.h"

namespace kalvex {

constexpr int kOffsetCycles = 20;
constexpr int kOmegaZeroCycles = 10;

// One linear fit of the offsets (and with `refine_omega_zero` of omega zero)
// to observed minus predicted omegas under the current UB. Unless fitted, the
// offsets and omega zero stay: kOffsetsSingularFit for a singular normal
// matrix or no distance rs to turn offsets into angles, kOffsetsNoInverse
// when UB cannot be inverted.
constexpr int kOffsetsFitted = 0;
constexpr int kOffsetsSingularFit = 1;
constexpr int kOffsetsNoInverse = 2;
int FitOffsets(std::span<const Angles> angles, std::span<const Hkl> hkl, bool refine_omega_zero, float lambda,
               float rs, OrientationState& o, Notices& notices);

// UB by LSQ and the offsets by FitOffsets in turn until the sum of absolute
// omega residuals changes by no more than 5 %, at most 20 cycles. Sets
// corrections_valid; returns the number of cycles run.
int LSQ_OFFSETS(bool refine_omega_zero, std::span<const Angles> observed, std::span<const Hkl> hkl, float lambda,
               float rs, OrientationState& o, Notices& notices);

// UB by LSQ and omega zero as the mean omega residual in turn until omega zero
// moves by less than 0.001 degree, at most 10 cycles; the offsets are not
// touched. Returns the number of cycles run.
int RefineOmegaZero(std::span<const Angles> observed, std::span<const Hkl> hkl, float lambda, OrientationState& o,
                    Notices& notices);


}  // namespace kalvex
