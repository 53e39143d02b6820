// The integrated-intensity file. "Rfine":
//   3I3 hkl, 4F8.3 angles, 1X, F11.dI I, 1X, F7.dS sigma, F7.0 10*seq+standard,
//   2X, 6A1 output code, I3 0
// "Rfine extended": the same record ending in 3, then FACTORS, PARAMETERS and
// SIGMAS lines of (1X, F9.4) values. "Shelx hkl": 3I4 hkl, 2F8.2 I and sigma,
// "   1", F10.5 signed 2theta.
#include "fit/intensity_file.h"

#include <cmath>

#include "common/fixed_fields.h"

namespace kalvex {

using fields::FormatInt;
using fields::FormatReal;

float WrapAngle(float x) {
  // Far outside a turn, adding 360 no longer changes a float; the remainder
  // first brings it within reach. Angles not finite stay as they are.
  if (!std::isfinite(x)) return x;
  if (std::fabs(x) > 1.0e4f) x = std::fmod(x, 360.0f);
  while (x <= -180.0f) x += 360.0f;
  while (x > 180.0f) x -= 360.0f;
  return x;
}

namespace {

int IntensityDecimals(float i) {
  if (i < 1000.0f) return 5;
  if (i > 1.0e8f) return 0;
  return 3;
}

int SigmaDecimals(float s) {
  if (s < 100.0f) return 4;
  if (s > 10000.0f) return 1;
  if (s > 1000.0f) return 2;
  return 3;
}

// Fw.d, giving up decimals rather than writing asterisks over a value the
// field can hold with fewer: a refinement program reads the explicit point.
std::string FitReal(float v, int width, int decimals) {
  for (int d = decimals; d > 0; --d) {
    const std::string s = FormatReal(v, width, d);
    if (s[0] != '*') return s;
  }
  return FormatReal(v, width, 0);
}

std::string ValueLine(const char* label, std::initializer_list<float> values) {
  std::string line = label;
  for (float v : values) line += " " + FitReal(v, 9, 4);
  return line;
}

}  // namespace

std::vector<std::string> FormatIntegrated(const IntegratedReflection& r, int output_format) {
  const float i = r.intensity;
  const float s = r.sigma;
  if (i > 1.0e9f || s > 1.0e5f) return {};
  std::array<float, 4> a{};
  for (int k = 0; k < 4; ++k) a[k] = static_cast<float>(r.parity[k]) * r.angles[k];
  a[2] = WrapAngle(a[2]);
  a[3] = WrapAngle(a[3]);

  std::string hkl3, hkl4;
  for (int v : r.hkl) {
    hkl3 += FormatInt(v, 3);
    hkl4 += FormatInt(v, 4);
  }
  if (output_format == kOutputShelx) {
    return {hkl4 + FitReal(i, 8, 2) + FitReal(s, 8, 2) + "   1" + FormatReal(a[0], 10, 5)};
  }
  const std::string code(r.class_code.begin(), r.class_code.begin() + 4);
  std::string record = hkl3;
  for (float v : a) record += FormatReal(v, 8, 3);
  record += " " + FitReal(i, 11, IntensityDecimals(i));
  record += " " + FitReal(s, 7, SigmaDecimals(s));
  record += FormatReal(10.0f * static_cast<float>(r.seq_no) + static_cast<float>(r.standard_index), 7, 0);
  record += "  " + code + "  ";
  if (output_format != kOutputRfineExtended) return {record + FormatInt(0, 3)};
  const auto& p = r.p;
  const auto& e = r.esd;
  return {record + FormatInt(3, 3), ValueLine("FACTORS   ", {r.rwp, r.chi2, r.count_scale, r.step_width}),
          ValueLine("PARAMETERS", {p[0], p[1], p[2], p[3], p[4], p[5]}),
          ValueLine("SIGMAS    ", {e[0], e[1], e[2], e[3], e[4], e[5], r.sigma_sum})};
}

IntegratedReflection CurrentIntegrated(const ProgramState& state) {
  const ScanReflection& scan = state.scan;
  IntegratedReflection r;
  r.hkl = scan.hkl;
  r.angles = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  r.parity = state.params.parity;
  r.intensity = state.fit.i_fit;
  r.sigma = state.fit.sigma_fit;
  r.seq_no = scan.seq_no;
  r.standard_index = scan.standard_index;
  r.class_code = scan.class_code;
  r.rwp = state.fit.rwp;
  r.chi2 = state.fit.chi2;
  r.count_scale = scan.count_scale;
  r.step_width = scan.step_width;
  for (int k = 0; k < 6; ++k) {
    r.p[k] = state.fit.peak.value[k + 1];
    r.esd[k] = state.fit.peak.esd[k + 1];
  }
  r.sigma_sum = state.fit.sigma_sum;
  return r;
}

}  // namespace kalvex
