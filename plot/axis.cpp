#include "plot/axis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kalvex::plot {

double RoundStep(double span, int target) {
  if (!(span > 0) || !std::isfinite(span)) return 1;
  const double raw = span / std::max(target, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double mantissa = raw / power;
  // The first of 1, 2, 5, 10 not much below the raw step: about `target` ticks.
  const double round = mantissa < 1.5 ? 1 : mantissa < 3.5 ? 2 : mantissa < 7.5 ? 5 : 10;
  return round * power;
}

Axis LayOutAxis(double data_low, double data_high, int target, bool to_ticks) {
  if (!std::isfinite(data_low) || !std::isfinite(data_high)) data_low = data_high = 0;
  if (data_low > data_high) std::swap(data_low, data_high);
  if (data_high - data_low <= 1e-12 * std::max(std::fabs(data_low), std::fabs(data_high))) {
    // One value: a range around it that starts at zero when it is positive,
    // so that a flat scan still has a scale.
    const double v = data_high;
    if (v > 0) {
      data_low = 0;
    } else if (v < 0) {
      data_high = 0;
    } else {
      data_high = 1;
    }
  }
  Axis axis;
  axis.step = RoundStep(data_high - data_low, target);
  const double s = axis.step;
  // A whisker of tolerance keeps a value that is a tick up to rounding on it.
  const double eps = 1e-9 * s;
  const double first = std::ceil((data_low - eps) / s);
  const double last = std::floor((data_high + eps) / s);
  if (to_ticks) {
    axis.low = std::floor((data_low + eps) / s) * s;
    axis.high = std::ceil((data_high - eps) / s) * s;
  } else {
    axis.low = data_low;
    axis.high = data_high;
  }
  const double from = to_ticks ? std::round(axis.low / s) : first;
  const double to = to_ticks ? std::round(axis.high / s) : last;
  for (double k = from; k <= to + 0.5; k += 1) {
    const double value = k * s;
    axis.ticks.push_back({value, TickLabel(value, s)});
  }
  return axis;
}

std::string TickLabel(double value, double step) {
  const int decimals = step > 0 ? std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9))) : 0;
  // Half a unit of the last decimal shown: a value that rounds to zero is 0.
  if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace kalvex::plot
