// Fixed-background models and the "Calc Background" pass over the data file.
#include "fit/background.h"

#include <algorithm>
#include <cmath>


namespace kalvex {

namespace {

// A table bin holding less than this is a gap between measured degrees.
constexpr float kEmptyBin = 0.01f;
// The exponential is fitted to the end backgrounds above c by more than this.
constexpr double kMinExcess = 1.0e-4;
// Above this 2theta (degrees) the end background is taken as the constant c.
constexpr float kFlatFrom = 45.0f;

int Bin(float two_theta) { return static_cast<int>(std::lround(two_theta)); }

// Whether |2theta| = t falls in a whole degree 1..90 of the table; false for
// NaN, so that only angles that are numbers are ever binned.
bool InTable(float t) { return t >= 0.5f && t < static_cast<float>(kBgTableSize) + 0.5f; }

}  // namespace

float EndBackground(const ScanReflection& scan) {
  const int n = std::clamp(scan.step_count, 0, kMaxSteps);
  if (n == 0) return 0.0f;
  return (scan.counts[0] + scan.counts[n - 1]) / 2.0f;
}

float EndStepsBackground(const float* counts, int n, int nstep) {
  if (n <= 0) return 0.0f;
  nstep = std::clamp(nstep, 1, n);
  float sum = 0.0f;
  for (int i = 1; i <= nstep; ++i) sum += (counts[i - 1] + counts[n - i]) / 2.0f;
  return sum / static_cast<float>(nstep);
}

float BackgroundTableValue(const BackgroundTable& table, float two_theta) {
  const float t = std::fabs(two_theta);
  // A 2theta that is no number has no place in the table, and no background.
  if (std::isnan(t)) return 0.0f;
  if (t >= static_cast<float>(kBgTableSize)) return table[kBgTableSize];
  const int j = static_cast<int>(t);
  const float f = t - static_cast<float>(j);
  // Below the first degree the table runs on to 0 at 2theta = 0.
  const float lower = j >= 1 ? table[j] : 0.0f;
  return lower + (table[j + 1] - lower) * f;
}

float FixedBackground(const ScanReflection& scan, const RunParameters& par, const BackgroundTable& table,
                      float two_theta) {
  const int n = std::clamp(scan.step_count, 0, kMaxSteps);
  switch (par.bg_type) {
    case kBgSpline:
      return BackgroundTableValue(table, two_theta) / scan.count_scale;
    case kBgExp:
      return (par.pdef[kBackground][kCoefA] * std::exp(-par.pdef[kBackground][kCoefB] * two_theta) +
              par.pdef[kBackground][kCoefC]) /
             scan.count_scale;
    case kBgFromScan:
      return EndStepsBackground(scan.counts.data(), n, par.nstep_bg);
    default:
      return EndStepsBackground(scan.counts.data(), n, 1);
  }
}

void BuildBackgroundTable(BackgroundPoint* points, int count, BackgroundTable& table) {
  // The background depends on the size of 2theta, not on the side the
  // detector stands; scans below half a degree or above 90.5 have no bin.
  int m = 0;
  for (int i = 0; i < count; ++i) {
    const float t = std::fabs(points[i].two_theta);
    if (InTable(t)) points[m++] = {t, points[i].end_background};
  }
  if (m == 0) return;
  std::sort(points, points + m,
            [](const BackgroundPoint& a, const BackgroundPoint& b) { return a.two_theta < b.two_theta; });

  // W[0] and W[91] stay 0: the neighbours of the end bins in the gap fill.
  std::array<float, kBgTableSize + 2> w{};
  const int first = Bin(points[0].two_theta);
  int bin = first;
  w[bin] = points[0].end_background;
  for (int i = 1; i < m; ++i) {
    const float t = points[i].two_theta;
    if (t < static_cast<float>(bin) + 0.5f) {
      w[bin] = std::min(w[bin], points[i].end_background);
    } else {
      bin = Bin(t);
      w[bin] = points[i].end_background;
    }
  }
  const int last = bin;
  for (int k = last + 1; k <= kBgTableSize; ++k) w[k] = w[last];
  const float slope = w[first] / static_cast<float>(first);
  for (int k = 1; k < first; ++k) w[k] = static_cast<float>(k) * slope;
  for (int k = first; k <= last; ++k) {
    if (w[k] < kEmptyBin) w[k] = (w[k - 1] + w[k + 1]) / 2.0f;
  }
  // The end degrees have one neighbour only and keep their own value.
  table[1] = w[1];
  table[kBgTableSize] = w[kBgTableSize];
  for (int k = 2; k < kBgTableSize; ++k) table[k] = (w[k - 1] + w[k] + w[k + 1]) / 3.0f;
}

ExponentialBackground FitExponentialBackground(const BackgroundPoint* points, int count) {
  ExponentialBackground result;
  double flat_sum = 0.0;
  int flat_count = 0;
  for (int i = 0; i < count; ++i) {
    if (points[i].two_theta > kFlatFrom) {
      flat_sum += points[i].end_background;
      ++flat_count;
    }
  }
  // With nothing measured at high angle the exponential decays to zero.
  const double c = flat_count > 0 ? flat_sum / flat_count : 0.0;
  result.c = static_cast<float>(c);

  // Sums in double: n sum(x^2) - (sum x)^2 cancels most digits.
  double n = 0.0, sx = 0.0, su = 0.0, sxx = 0.0, sxu = 0.0;
  for (int i = 0; i < count; ++i) {
    const double d = points[i].end_background - c;
    if (d <= kMinExcess) continue;
    const double x = points[i].two_theta;
    const double u = std::log(d);
    n += 1.0;
    sx += x;
    su += u;
    sxx += x * x;
    sxu += x * u;
  }
  if (n == 0.0) return result;
  const double det = n * sxx - sx * sx;
  if (det <= 1.0e-9 * n * sxx) {
    // All at one angle: no slope can be told, the level is their mean.
    result.a = static_cast<float>(std::exp(su / n));
    result.b = 0.0f;
    return result;
  }
  result.a = static_cast<float>(std::exp((sxx * su - sx * sxu) / det));
  result.b = static_cast<float>(-(n * sxu - sx * su) / det);
  return result;
}

}  // namespace kalvex
