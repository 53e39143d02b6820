// kalvex reduce: an intensity file to SHELX HKLF 4 and CIF.
#pragma once

#include "engine/reduction.h"

namespace kalvex {

// Runs the reduction, prints its summary on stdout or its message on
// stderr; returns the exit status (0, 1 for an input it cannot reduce, 2 for
// a request that makes no sense).
int RunReduce(const engine::ReductionRequest& request);

}  // namespace kalvex
