#include "reduce/intensity_statistics.h"

#include <gemmi/elem.hpp>
#include <gemmi/it92.hpp>
#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <set>
#include <tuple>

namespace kalvex::reduce {
namespace {

constexpr int kDen = gemmi::Op::DEN;
constexpr int kWilsonBins = 20;
constexpr int kShells = 10;
constexpr int kPerBin = 50;  // fewest reflections a bin's mean is taken from
constexpr double kWilsonFrom = 1.0 / 64;  // s^2 at d = 4 A: below it the atoms do not yet scatter independently
constexpr double kVolumePerAtom = 18;    // A^3 of an average atom of an organic crystal
constexpr double kMarginNeeded = 3;                // standard errors, for the L-test
const double kDecisive = std::log(1000.0);         // likelihood ratio of the centric test

struct Reflection {
  double intensity = 0, sigma = 0, s2 = 0;
  int epsilon = 1;       // of the group's point group
  bool general = true;  // no rotation of the Laue class but the identity keeps it
  gemmi::Op::Miller asu{};
  int shell = 0;
  double e2 = 0, e_sigma = 0;  // normalised, and its error
  bool normalised = false;
};

double Phi(double x) { return 0.5 * std::erfc(-x / std::numbers::sqrt2); }

// E|x + s e| for e ~ N(0, 1).
double MeanAbsWithError(double x, double s) {
  if (s <= 0) return std::fabs(x);
  const double u = x / s;
  return x * (1 - 2 * Phi(-u)) + 2 * s * std::exp(-0.5 * u * u) / std::sqrt(2 * std::numbers::pi);
}

// <|E^2 - 1|> of E^2 measured with error s, for the centric and the
// acentric distribution, by Simpson's rule.
double ExpectedAbsE2Minus1(bool centric, double s) {
  constexpr int kSteps = 2000;
  const double top = centric ? 8.0 : 40.0;  // u = sqrt(z) for the centric case
  const double h = top / kSteps;
  double sum = 0;
  for (int i = 0; i <= kSteps; ++i) {
    const double x = i * h;
    const double f = centric ? 2 / std::sqrt(2 * std::numbers::pi) * std::exp(-0.5 * x * x) * MeanAbsWithError(x * x - 1, s)
                             : std::exp(-x) * MeanAbsWithError(x - 1, s);
    sum += f * (i == 0 || i == kSteps ? 1 : i % 2 == 1 ? 4 : 2);
  }
  return sum * h / 3;
}

// The same tabulated in s (0 to 5 by 0.05) and interpolated.
double ExpectedWithError(bool centric, double s) {
  constexpr int kPoints = 101;
  constexpr double kStep = 0.05;
  static const auto table = [] {
    std::array<std::array<double, kPoints>, 2> t{};
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < kPoints; ++i) t[c][i] = ExpectedAbsE2Minus1(c == 1, i * kStep);
    return t;
  }();
  const double x = std::clamp(s / kStep, 0.0, kPoints - 1.0);
  const int i = std::min(static_cast<int>(x), kPoints - 2);
  const auto& row = table[centric ? 1 : 0];
  return row[i] + (x - i) * (row[i + 1] - row[i]);
}

// ln of the standard normal distribution function, also far in its tail.
double LogPhi(double x) {
  if (x > -30) return std::log(0.5 * std::erfc(-x / std::numbers::sqrt2));
  return -0.5 * x * x - std::log(-x) - 0.5 * std::log(2 * std::numbers::pi) + std::log1p(-1 / (x * x));
}

// ln of the centric density of x = I / mean measured with error t = sigma /
// mean: the integral over u = sqrt(J / mean) of 2 phi(u) phi((x - u^2) / t) / t,
// by Simpson's rule on three stretches (before, over and after the peak of
// the error's normal at u = sqrt(x)), summed in logarithms.
double LogCentricWithError(double x, double t) {
  const double u0 = std::sqrt(std::max(x, 0.0));
  const double w = t / (2 * u0 + std::sqrt(t));  // the peak's width in u
  const double a = std::max(0.0, u0 - 12 * w), b = u0 + 12 * w, top = std::max(b, 10.0);
  const double log_norm = -0.5 * std::log(2 * std::numbers::pi);
  constexpr int kPoints = 101 + 401 + 201;
  std::array<double, kPoints> ln_f{}, weight{};
  int n = 0;
  for (const auto& [from, to, steps] : {std::tuple{0.0, a, 100}, std::tuple{a, b, 400}, std::tuple{b, top, 200}}) {
    if (!(to > from)) continue;
    const double h = (to - from) / steps;
    for (int i = 0; i <= steps; ++i, ++n) {
      const double u = from + i * h, e = (x - u * u) / t;
      ln_f[n] = std::log(2.0) + 2 * log_norm - 0.5 * u * u - 0.5 * e * e - std::log(t);
      weight[n] = h / 3 * (i == 0 || i == steps ? 1 : i % 2 == 1 ? 4 : 2);
    }
  }
  const double peak = *std::max_element(ln_f.begin(), ln_f.begin() + n);
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += weight[i] * std::exp(ln_f[i] - peak);
  return peak + std::log(sum);
}

// Z sum_j n_j f_j(s)^2 at s^2, the atoms at rest.
struct Scatterers {
  std::vector<std::pair<const gemmi::IT92<double>::Coef*, double>> atoms;  // form factor, atoms in the cell
  double SumF2(double s2) const {
    double sum = 0;
    for (const auto& [coef, count] : atoms) {
      const double f = coef->calculate_sf(s2);
      sum += count * f * f;
    }
    return sum;
  }
};

// Equal-count bins of the reflections in order of s^2: `bins` of them, each
// of at least kPerBin reflections where there are enough.
std::vector<std::vector<std::size_t>> Bins(const std::vector<Reflection>& r, const std::vector<std::size_t>& use,
                                           int bins) {
  std::vector<std::size_t> order = use;
  std::sort(order.begin(), order.end(), [&r](std::size_t a, std::size_t b) { return r[a].s2 < r[b].s2; });
  const int n = std::clamp(static_cast<int>(order.size()) / kPerBin, 1, bins);
  std::vector<std::vector<std::size_t>> out(n);
  for (std::size_t i = 0; i < order.size(); ++i) out[i * n / order.size()].push_back(order[i]);
  return out;
}

WilsonFit FitWilson(const std::vector<Reflection>& r, const std::vector<std::size_t>& use, const Scatterers& atoms) {
  WilsonFit fit;
  for (const std::vector<std::size_t>& bin : Bins(r, use, kWilsonBins)) {
    if (bin.empty()) continue;
    WilsonPoint p;
    for (std::size_t i : bin) {
      p.s2 += r[i].s2;
      p.mean_intensity += r[i].intensity / r[i].epsilon;
      p.sum_f2 += atoms.SumF2(r[i].s2);
    }
    p.reflections = static_cast<int>(bin.size());
    p.s2 /= p.reflections;
    p.mean_intensity /= p.reflections;
    p.sum_f2 /= p.reflections;
    p.y = p.mean_intensity > 0 && p.sum_f2 > 0 ? std::log(p.mean_intensity / p.sum_f2) : 0;
    fit.points.push_back(p);
  }
  const auto usable = [](const WilsonPoint& p) { return p.mean_intensity > 0 && p.sum_f2 > 0; };
  int in_range = 0;
  for (const WilsonPoint& p : fit.points) in_range += usable(p) && p.s2 >= kWilsonFrom;
  for (WilsonPoint& p : fit.points) p.fitted = usable(p) && (p.s2 >= kWilsonFrom || in_range < 3);
  // Weighted least squares of y = a + b s^2.
  double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  int m = 0;
  for (const WilsonPoint& p : fit.points) {
    if (!p.fitted) continue;
    const double w = p.reflections;
    sw += w;
    sx += w * p.s2;
    sy += w * p.y;
    sxx += w * p.s2 * p.s2;
    sxy += w * p.s2 * p.y;
    ++m;
  }
  const double det = sw * sxx - sx * sx;
  if (m < 3 || !(det > 0)) return fit;
  const double b = (sw * sxy - sx * sy) / det;
  const double a = (sy - b * sx) / sw;
  double chi2 = 0;
  for (const WilsonPoint& p : fit.points)
    if (p.fitted) chi2 += p.reflections * std::pow(p.y - a - b * p.s2, 2);
  const double variance = chi2 / (m - 2);
  fit.b = -b / 2;
  fit.b_esd = std::sqrt(variance * sw / det) / 2;
  fit.scale = std::exp(a);
  fit.scale_esd = fit.scale * std::sqrt(variance * sxx / det);
  fit.valid = true;
  return fit;
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

double LogWilsonDensity(double i, double sigma, double mean, bool centric) {
  if (centric) return LogCentricWithError(i / mean, sigma / mean) - std::log(mean);
  // The exponential convolved with the normal, in closed form.
  return -std::log(mean) + sigma * sigma / (2 * mean * mean) - i / mean + LogPhi((i - sigma * sigma / mean) / sigma);
}

IntensityStatistics AnalyseIntensities(std::span<const Observation> merged, const gemmi::SpaceGroup& group,
                                       const CellVector& cell, std::span<const FormulaElement> formula, double z) {
  IntensityStatistics out;
  const gemmi::GroupOps ops = group.operations();
  const gemmi::ReciprocalAsu asu(&group);
  std::set<gemmi::Op::Rot> laue;
  for (const gemmi::Op& op : ops.sym_ops) {
    laue.insert(op.rot);
    laue.insert(op.negated_rot());
  }
  const gemmi::UnitCell uc(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);

  Scatterers atoms;
  for (const FormulaElement& e : formula) {
    const gemmi::El el = gemmi::find_element(e.symbol.c_str());
    if (gemmi::IT92<double>::has(el)) atoms.atoms.emplace_back(&gemmi::IT92<double>::get(el), e.count * z);
  }
  const bool average_atom = atoms.atoms.empty();
  if (average_atom) {
    atoms.atoms.emplace_back(&gemmi::IT92<double>::get(gemmi::El::C), uc.volume / kVolumePerAtom);
    out.notes.push_back("no formula: the Wilson plot takes an average atom, carbon, one per 18 A^3; "
                        "B holds, the scale is rough");
  }

  std::vector<Reflection> r;
  for (const Observation& o : merged) {
    if (!(o.sigma > 0) || ops.is_systematically_absent(o.hkl)) continue;
    Reflection x;
    x.intensity = o.intensity;
    x.sigma = o.sigma;
    x.s2 = uc.calculate_stol_sq(o.hkl);
    x.epsilon = ops.epsilon_factor_without_centering(o.hkl);
    for (const gemmi::Op::Rot& rot : laue) {
      gemmi::Op::Miller e{};
      for (int i = 0; i < 3; ++i) e[i] = (rot[0][i] * o.hkl[0] + rot[1][i] * o.hkl[1] + rot[2][i] * o.hkl[2]) / kDen;
      x.general = x.general && (e != o.hkl || rot == gemmi::Op::identity().rot);
    }
    x.asu = asu.to_asu(o.hkl, ops).first;
    r.push_back(x);
  }
  // The reflections in general positions of the Laue class have epsilon 1
  // and the general distribution in every group of the class: the Wilson
  // plot and E^2 taken from them do not depend on which group of a tie is
  // assumed. All reflections, with the group's epsilon, when they are few.
  std::vector<std::size_t> all, general;
  for (std::size_t i = 0; i < r.size(); ++i) {
    all.push_back(i);
    if (r[i].general) general.push_back(i);
  }
  const std::vector<std::size_t>& basis = general.size() >= 3 * kPerBin ? general : all;

  out.wilson = FitWilson(r, basis, atoms);
  out.wilson.average_atom = average_atom;
  if (!out.wilson.valid) out.notes.push_back("too few reflections for a Wilson fit: E^2 from shell means alone");

  // E^2: the Wilson curve within a shell, the shell's mean intensity its level.
  const auto curve = [&](double s2) {
    return out.wilson.valid ? out.wilson.scale * atoms.SumF2(s2) * std::exp(-2 * out.wilson.b * s2) : 1.0;
  };
  const std::vector<std::vector<std::size_t>> shells = Bins(r, basis, kShells);
  std::vector<double> shell_i_over_sigma;
  for (std::size_t s = 0; s < shells.size(); ++s) {
    double mean = 0, fitted = 0, i_over_sigma = 0;
    for (std::size_t i : shells[s]) {
      mean += r[i].intensity / r[i].epsilon;
      fitted += curve(r[i].s2);
      i_over_sigma += r[i].intensity / r[i].sigma;
      r[i].shell = static_cast<int>(s);
    }
    shell_i_over_sigma.push_back(shells[s].empty() ? 0 : i_over_sigma / shells[s].size());
    EShell e;
    if (!shells[s].empty()) {
      e.d_max = 0.5 / std::sqrt(r[shells[s].front()].s2);
      e.d_min = 0.5 / std::sqrt(r[shells[s].back()].s2);
    }
    if (mean > 0 && fitted > 0) {
      const double level = mean / fitted;
      for (std::size_t i : shells[s]) {
        Reflection& x = r[i];
        const double expected = x.epsilon * level * curve(x.s2);
        x.e2 = x.intensity / expected;
        x.e_sigma = x.sigma / expected;
        x.normalised = true;
        if (!x.general) continue;
        ++e.reflections;
        e.mean_e2 += x.e2;
        e.mean_abs_e2_minus_1 += std::fabs(x.e2 - 1);
      }
    }
    if (e.reflections > 0) {
      e.mean_e2 /= e.reflections;
      e.mean_abs_e2_minus_1 /= e.reflections;
    }
    out.centric.shells.push_back(e);
  }

  // The centric test over the general reflections.
  CentricTest& c = out.centric;
  double sum = 0, centric = 0, acentric = 0;
  std::array<int, 10> below{};
  for (const Reflection& x : r) {
    if (!x.general || !x.normalised) continue;
    const double d = std::fabs(x.e2 - 1);
    ++c.reflections;
    sum += d;
    centric += ExpectedWithError(true, x.e_sigma);
    acentric += ExpectedWithError(false, x.e_sigma);
    c.margin += LogWilsonDensity(x.e2, x.e_sigma, 1, true) - LogWilsonDensity(x.e2, x.e_sigma, 1, false);
    for (int k = 0; k < 10; ++k) below[k] += x.e2 <= 0.1 * (k + 1);
  }
  for (int k = 0; k < 10; ++k) {
    const double zk = 0.1 * (k + 1);
    c.n_z_centric[k] = std::erf(std::sqrt(zk / 2));
    c.n_z_acentric[k] = 1 - std::exp(-zk);
  }
  if (c.reflections > 0) {
    const double n = c.reflections;
    c.mean_abs_e2_minus_1 = sum / n;
    c.expected_centric = centric / n;
    c.expected_acentric = acentric / n;
    for (int k = 0; k < 10; ++k) {
      c.n_z[k] = below[k] / n;
      c.rms_centric += std::pow(c.n_z[k] - c.n_z_centric[k], 2) / 10;
      c.rms_acentric += std::pow(c.n_z[k] - c.n_z_acentric[k], 2) / 10;
    }
    c.rms_centric = std::sqrt(c.rms_centric);
    c.rms_acentric = std::sqrt(c.rms_acentric);
    if (c.reflections >= 30 && std::fabs(c.margin) >= kDecisive)
      c.verdict = c.margin > 0 ? Centricity::kCentric : Centricity::kAcentric;
  }
  if (c.verdict == Centricity::kUndecided)
    out.notes.push_back("the centric test cannot decide: " + std::to_string(c.reflections) +
                        " general reflections, ln(L centric / L acentric) " + Fixed(c.margin, 1));

  // The L-test on local pairs of general reflections.
  LTest& l = out.l_test;
  if (c.verdict == Centricity::kCentric) return out;
  bool any_strong = false;
  for (double v : shell_i_over_sigma) any_strong = any_strong || v >= 3;
  std::map<gemmi::Op::Miller, std::size_t> index;
  for (std::size_t i = 0; i < r.size(); ++i)
    if (r[i].general && (!any_strong || shell_i_over_sigma[r[i].shell] >= 3)) index[r[i].asu] = i;
  std::set<std::size_t> used;
  double sum_l = 0, sum_l2 = 0;
  std::array<int, 10> below_l{};
  for (const auto& [hkl, i] : index) {
    for (int dh = -2; dh <= 2; dh += 2)
      for (int dk = -2; dk <= 2; dk += 2)
        for (int dl = -2; dl <= 2; dl += 2) {
          const gemmi::Op::Miller other{hkl[0] + dh, hkl[1] + dk, hkl[2] + dl};
          if ((dh == 0 && dk == 0 && dl == 0) || other == gemmi::Op::Miller{0, 0, 0}) continue;
          const auto found = index.find(asu.to_asu(other, ops).first);
          if (found == index.end() || found->second <= i) continue;
          const double a = r[i].intensity, b = r[found->second].intensity;
          if (!(a + b > 0)) continue;
          const double value = std::clamp((a - b) / (a + b), -1.0, 1.0);
          ++l.pairs;
          sum_l += std::fabs(value);
          sum_l2 += value * value;
          for (int k = 0; k < 10; ++k) below_l[k] += std::fabs(value) <= 0.1 * (k + 1) + 1e-12;
          used.insert(i);
          used.insert(found->second);
        }
  }
  if (l.pairs == 0) {
    l.verdict = TwinVerdict::kUndecided;
    return out;
  }
  l.mean_abs_l = sum_l / l.pairs;
  l.mean_l2 = sum_l2 / l.pairs;
  for (int k = 0; k < 10; ++k) l.n_l[k] = static_cast<double>(below_l[k]) / l.pairs;
  // Each reflection stands in several pairs: the standard error counts
  // reflections, not pairs.
  const double sd = std::sqrt(std::max(l.mean_l2 - l.mean_abs_l * l.mean_abs_l, 1e-12));
  l.margin = (l.mean_abs_l - 0.4375) / (sd / std::sqrt(static_cast<double>(used.size())));
  l.verdict = l.pairs < 30 || std::fabs(l.margin) < kMarginNeeded ? TwinVerdict::kUndecided
              : l.margin > 0                                      ? TwinVerdict::kUntwinned
                                                                  : TwinVerdict::kTwinned;
  if (l.verdict == TwinVerdict::kTwinned)
    out.notes.push_back("the L-test suggests twinning: <|L|> " + Fixed(l.mean_abs_l, 3) + " (0.500 untwinned, 0.375 perfect twin)");
  return out;
}

}  // namespace kalvex::reduce
