// Records of the integrated-intensity file in its three forms.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "state/program_state.h"

namespace kalvex {

// Brings an angle into (-180, 180].
float WrapAngle(float x);

// Everything one record needs, taken from the state after a fit.
struct IntegratedReflection {
  std::array<int, 3> hkl{};
  std::array<float, 4> angles{};  // 2theta, omega (fitted Position), chi, phi
  std::array<int, 4> parity{};
  float intensity = 0;
  float sigma = 0;
  int seq_no = 0;
  int standard_index = 0;
  std::array<char, 6> class_code{};
  // "Rfine extended" lines.
  float rwp = 0, chi2 = 0, count_scale = 0, step_width = 0;
  std::array<float, 6> p{};
  std::array<float, 6> esd{};
  float sigma_sum = 0;
};

// The lines of one reflection in `output_format`; none when the intensity
// exceeds 1.0e9 or its sigma 1.0e5.
std::vector<std::string> FormatIntegrated(const IntegratedReflection& r, int output_format);
// The same into `lines`, whose strings are reused; false (and no lines)
// where the first gives none.
bool FormatIntegrated(const IntegratedReflection& r, int output_format, std::vector<std::string>& lines);

IntegratedReflection CurrentIntegrated(const ProgramState& state);

}  // namespace kalvex
