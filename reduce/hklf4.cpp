#include "reduce/hklf4.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>
#include <cmath>
#include <numbers>

#include "common/fixed_fields.h"

namespace kalvex::reduce {

namespace {

using V3 = std::array<double, 3>;

constexpr double kRadPerDeg = std::numbers::pi / 180.0;
constexpr double kLargest = 99999.99;
constexpr double kMostNegative = -9999.99;

double Dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V3 Scaled(const V3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
V3 Minus(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
V3 Unit(const V3& a) { return Scaled(a, 1.0 / std::sqrt(Dot(a, a))); }

}  // namespace

std::optional<DirectionCosines> BeamCosines(const Mat3& ub, const std::array<int, 3>& hkl,
                                            const std::array<double, 4>& angles, double lambda) {
  V3 s{};
  std::array<V3, 3> axes{};  // a*, b*, c*: the columns of UB
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      s[i] += ub[i][j] * hkl[j];
      axes[j][i] = ub[i][j];
    }
  const double sin_theta = lambda * std::sqrt(Dot(s, s)) / 2.0;
  if (!(sin_theta > 0.0 && sin_theta < 1.0)) return std::nullopt;
  const double cos_theta = std::sqrt(1.0 - sin_theta * sin_theta);

  // The frame's y axis in the crystal's frame: Phi^T X^T Omega^T (0, 1, 0).
  const double om = angles[1] * kRadPerDeg, chi = angles[2] * kRadPerDeg, phi = angles[3] * kRadPerDeg;
  const V3 y{-std::sin(om) * std::cos(chi) * std::cos(phi) - std::cos(om) * std::sin(phi),
             std::cos(om) * std::cos(phi) - std::sin(om) * std::cos(chi) * std::sin(phi),
             -std::sin(om) * std::sin(chi)};
  const V3 along = Unit(s);
  // Orthogonal to the diffraction vector from UB, which differs from the
  // angles' by the refinement's residual only.
  const V3 across = Unit(Minus(y, Scaled(along, Dot(y, along))));
  const V3 reversed_incident = Minus(Scaled(along, sin_theta), Scaled(across, cos_theta));
  const V3 diffracted{along[0] * sin_theta + across[0] * cos_theta, along[1] * sin_theta + across[1] * cos_theta,
                      along[2] * sin_theta + across[2] * cos_theta};
  DirectionCosines out{};
  for (int j = 0; j < 3; ++j) {
    const V3 axis = Unit(axes[j]);
    out[2 * j] = Dot(reversed_incident, axis);
    out[2 * j + 1] = Dot(diffracted, axis);
  }
  return out;
}

double OutputScale(std::span<const double> intensities, std::span<const double> sigmas) {
  double high = 0, low = 0;
  for (double i : intensities) {
    high = std::max(high, i);
    low = std::min(low, i);
  }
  for (double s : sigmas) high = std::max(high, s);
  if (high <= 0 && low >= 0) return 1.0;
  // The largest factor the values allow, rounded down to 1, 2 or 5 x 10^n.
  double limit = 1.0e12;
  if (high > 0) limit = std::min(limit, kLargest / high);
  if (low < 0) limit = std::min(limit, kMostNegative / low);
  const double decade = std::pow(10.0, std::floor(std::log10(limit)));
  for (double step : {5.0, 2.0, 1.0})
    if (step * decade <= limit) return step * decade;
  return decade;
}

std::string WideF8(double value) {
  char text[64];
  // Never fewer than one decimal: without its point a field reads with
  // two implied decimals.
  for (int decimals = 5; decimals >= 1; --decimals) {
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) break;
    std::string_view s(text, static_cast<std::size_t>(end - text));
    // A value that rounds to zero is written without its sign.
    if (s.front() == '-' && s.find_first_not_of("-0.") == std::string_view::npos) s.remove_prefix(1);
    if (s.size() > 7) continue;
    return std::string(8 - s.size(), ' ') + std::string(s);
  }
  return fields::FormatReal(value, 8, 2);
}

std::string Hklf4Line(const std::array<int, 3>& hkl, double intensity, double sigma, int batch,
                      const DirectionCosines* cosines) {
  std::string line;
  line.reserve(cosines != nullptr ? 80 : 32);
  for (int v : hkl) line += fields::FormatInt(v, 4);
  line += WideF8(intensity) + WideF8(sigma) + fields::FormatInt(batch, 4);
  if (cosines != nullptr)
    for (double c : *cosines) line += fields::FormatReal(c, 8, 5);
  return line;
}

std::string Hklf4End() {
  return fields::FormatInt(0, 4) + fields::FormatInt(0, 4) + fields::FormatInt(0, 4) + fields::FormatReal(0, 8, 2) +
         fields::FormatReal(0, 8, 2) + fields::FormatInt(0, 4);
}

}  // namespace kalvex::reduce
