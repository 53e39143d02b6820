// Axes of the program's plots: round tick values (1, 2 or 5 times a power of
// ten) over a range of data, their labels, and where a value lies along an
// axis of a given length. The window's scan plot and the report's plots
// both lay out their axes here.
#pragma once

#include <string>
#include <vector>

namespace kalvex::plot {

struct Tick {
  double value = 0;
  std::string label;
};

struct Axis {
  double low = 0, high = 1;  // the values at the axis's two ends
  double step = 1;           // between two ticks
  std::vector<Tick> ticks;   // ascending, all within [low, high]

  // Where `v` lies on the axis drawn from `from` to `to`.
  double Map(double v, double from, double to) const {
    return high > low ? from + (v - low) / (high - low) * (to - from) : from;
  }
};

// The round step (1, 2 or 5 x 10^k) that cuts `span` into about `target` parts.
double RoundStep(double span, int target);

// An axis over the data from `data_low` to `data_high` with about `target`
// ticks. `to_ticks` moves the ends out to the ticks that cover the data (a
// counts axis ending on a labelled value); otherwise the ends stay at the
// data and the ticks lie inside. An empty range is widened so that it has
// ticks.
Axis LayOutAxis(double data_low, double data_high, int target, bool to_ticks);

// A tick value with as many decimals as the step needs ("0.25", "-0.4",
// "30000"); never "-0".
std::string TickLabel(double value, double step);

}  // namespace kalvex::plot
