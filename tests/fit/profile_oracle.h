// The straightforward profile fit, one step and one line shape at a time in
// plain scalar code, and FitReflection's rules run over it: the reference the
// fast fit of fit/profile.cpp must reproduce within single-precision rounding.
#pragma once

#include "fit/fit_reflection.h"
#include "fit/profile.h"
#include "state/fit_state.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex::oracle {

// Same arguments and results as kalvex::RefineProfile.
ProfileFit RefineProfile(const ProfileScan& scan, const ProfileValues& start, const ProfileFlags& flags, float* yc);

// kalvex::FitReflection's own rules, fitting with the straightforward
// RefineProfile above.
FitOutcome FitReflection(ScanReflection& scan, const RunParameters& par, const FitControls& controls);

}  // namespace kalvex::oracle
