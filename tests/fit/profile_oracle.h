// The straightforward profile fit, one step and one line shape at a time in
// plain scalar code, and FitReflection's rules run over it: the reference the
// fast fit of fit/profile.cpp must reproduce within single-precision rounding.
#pragma once

#include <array>

#include "fit/profile.h"
#include "shell/program_state.h"

namespace kalvex::oracle {

// Same arguments and results as kalvex::RefineProfile.
void RefineProfile(const float* x, const float* y, int n, const std::array<float, 2>& lambda, float mono_term,
                   float two_theta, ProfileValues& p, const ProfileFlags& flags, float* yc, ProfileValues& e,
                   float& rwp, float& chi2, int& status);

// kalvex::FitReflection's own rules, fitting with the straightforward
// RefineProfile above.
void FitReflection(ProgramState& state, int mode);

}  // namespace kalvex::oracle
