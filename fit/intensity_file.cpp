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

void ValueLine(std::string& line, const char* label, std::initializer_list<float> values) {
  line.assign(label);
  for (float v : values) {
    line += ' ';
    line += FitReal(v, 9, 4);
  }
}

}  // namespace

bool FormatIntegrated(const IntegratedReflection& r, int output_format, std::vector<std::string>& lines) {
  const float i = r.intensity;
  const float s = r.sigma;
  if (i > 1.0e9f || s > 1.0e5f) {
    lines.clear();
    return false;
  }
  std::array<float, 4> a{};
  for (int k = 0; k < 4; ++k) a[k] = static_cast<float>(r.parity[k]) * r.angles[k];
  a[2] = WrapAngle(a[2]);
  a[3] = WrapAngle(a[3]);

  // The strings of `lines` are written over in place: a run formats every
  // reflection into the same few buffers.
  const bool extended = output_format == kOutputRfineExtended;
  lines.resize(extended ? 4 : 1);
  std::string& record = lines[0];
  record.clear();
  if (output_format == kOutputShelx) {
    for (int v : r.hkl) record += FormatInt(v, 4);
    record += FitReal(i, 8, 2);
    record += FitReal(s, 8, 2);
    record += "   1";
    record += FormatReal(a[0], 10, 5);
    return true;
  }
  for (int v : r.hkl) record += FormatInt(v, 3);
  for (float v : a) record += FormatReal(v, 8, 3);
  record += ' ';
  record += FitReal(i, 11, IntensityDecimals(i));
  record += ' ';
  record += FitReal(s, 7, SigmaDecimals(s));
  record += FormatReal(10.0f * static_cast<float>(r.seq_no) + static_cast<float>(r.standard_index), 7, 0);
  record += "  ";
  record.append(r.class_code.begin(), r.class_code.begin() + 4);
  record += "  ";
  record += FormatInt(extended ? 3 : 0, 3);
  if (!extended) return true;
  const auto& p = r.p;
  const auto& e = r.esd;
  ValueLine(lines[1], "FACTORS   ", {r.rwp, r.chi2, r.count_scale, r.step_width});
  ValueLine(lines[2], "PARAMETERS", {p[0], p[1], p[2], p[3], p[4], p[5]});
  ValueLine(lines[3], "SIGMAS    ", {e[0], e[1], e[2], e[3], e[4], e[5], r.sigma_sum});
  return true;
}

std::vector<std::string> FormatIntegrated(const IntegratedReflection& r, int output_format) {
  std::vector<std::string> lines;
  FormatIntegrated(r, output_format, lines);
  return lines;
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
