// The two windows of "Reduce to SHELX/CIF...": the choices of the reduction
// and the page of its summary.
#pragma once

#include <array>

#include "state/widgets.h"

namespace kalvex {

// The Laue list's entries in order; the first ranks every class the cell
// allows, the others are passed on by name.
inline constexpr std::array<const char*, 13> kReduceLaueChoices = {
    "From the cell", "-1", "2/m", "mmm", "4/m", "4/mmm", "-3", "-3m1", "-31m", "6/m", "6/mmm", "m-3", "m-3m"};

// The absorption list's entries in order, as kalvex reduce's --absorption names them.
inline constexpr std::array<const char*, 4> kReduceAbsorptionChoices = {"none", "empirical", "faces", "sphere"};

void BuildReduceDialogs(Widgets& w);

}  // namespace kalvex
