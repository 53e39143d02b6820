// What the run derives from its instrument constants.
#include "state/run_parameters.h"

#include <cmath>

#include "common/constants.h"

namespace kalvex {

float MonoShift(float mono_2theta, int mono_orient, float lambda1, float lambda2) {
  const float s = std::sin(std::fabs(mono_2theta) / 2.0f / kDegPerRadScan);
  const float r = lambda2 / lambda1;
  return static_cast<float>(mono_orient) * (std::asin(r * s) * kDegPerRadScan - mono_2theta / 2.0f);
}

}  // namespace kalvex
