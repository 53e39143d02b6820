#include "reduce/empirical_absorption.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

namespace kalvex::reduce {

namespace {

// Solves the symmetric positive definite n x n system a x = b (row-major)
// by Cholesky; false when a is not positive definite.
bool SolveCholesky(std::vector<double> a, std::vector<double>& b, int n) {
  for (int j = 0; j < n; ++j) {
    double d = a[j * n + j];
    for (int k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
    if (!(d > 0)) return false;
    a[j * n + j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      double s = a[i * n + j];
      for (int k = 0; k < j; ++k) s -= a[i * n + k] * a[j * n + k];
      a[i * n + j] = s / a[j * n + j];
    }
  }
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < i; ++k) b[i] -= a[i * n + k] * b[k];
    b[i] /= a[i * n + i];
  }
  for (int i = n - 1; i >= 0; --i) {
    for (int k = i + 1; k < n; ++k) b[i] -= a[k * n + i] * b[k];
    b[i] /= a[i * n + i];
  }
  return true;
}

int Coefficients(int lmax, bool odd) {
  int n = 0;
  for (int l = 1; l <= lmax; ++l)
    if (odd || l % 2 == 0) n += 2 * l + 1;
  return n;
}

}  // namespace

void RealSphericalHarmonics(int lmax, const Direction& u, std::vector<double>& out) {
  out.assign((lmax + 1) * (lmax + 1), 0.0);
  const double x = u[0], y = u[1], z = u[2];
  // Associated Legendre functions without their (1 - z^2)^(m/2), which
  // (x + iy)^m supplies together with cos m phi and sin m phi.
  double re = 1, im = 0;  // (x + iy)^m
  double pmm = 1;         // (2m - 1)!!
  for (int m = 0; m <= lmax; ++m) {
    if (m > 0) {
      const double r = re * x - im * y;
      im = re * y + im * x;
      re = r;
      pmm *= (2.0 * m - 1.0);
    }
    double p2 = 0, p1 = pmm;  // Q_{l-2}^m, Q_{l-1}^m
    for (int l = m; l <= lmax; ++l) {
      double q;
      if (l == m) {
        q = pmm;
      } else if (l == m + 1) {
        q = z * (2.0 * m + 1.0) * pmm;
      } else {
        q = ((2.0 * l - 1.0) * z * p1 - (l + m - 1.0) * p2) / (l - m);
      }
      if (l > m) {
        p2 = p1;
        p1 = q;
      }
      // N = sqrt((2l + 1) / 4 pi (l - m)! / (l + m)!), times sqrt 2 for m > 0.
      double ratio = 1;
      for (int k = l - m + 1; k <= l + m; ++k) ratio /= k;
      const double norm = std::sqrt((2.0 * l + 1.0) / (4.0 * std::numbers::pi) * ratio);
      if (m == 0) {
        out[l * l + l] = norm * q;
      } else {
        out[l * l + l + m] = std::numbers::sqrt2 * norm * q * re;
        out[l * l + l - m] = std::numbers::sqrt2 * norm * q * im;
      }
    }
  }
}

double EmpiricalAbsorption::TransmissionOf(const BeamPair& beams) const {
  std::vector<double> a, b;
  RealSphericalHarmonics(lmax, beams.reversed_incident, a);
  RealSphericalHarmonics(lmax, beams.diffracted, b);
  double g = 0;
  for (std::size_t p = 0; p < c.size(); ++p) g += c[p] * (a[p] + b[p]);
  return scale * std::exp(g);
}

double RInt(std::span<const AbsorptionMeasurement> data, std::span<const double> transmission) {
  std::map<int, std::vector<double>> groups;
  for (std::size_t i = 0; i < data.size(); ++i)
    groups[data[i].group].push_back(data[i].intensity / (transmission.empty() ? 1.0 : transmission[i]));
  double deviation = 0, total = 0;
  for (const auto& [group, values] : groups) {
    if (values.size() < 2) continue;
    double mean = 0;
    for (double v : values) mean += v;
    mean /= static_cast<double>(values.size());
    for (double v : values) {
      deviation += std::fabs(v - mean);
      total += v;
    }
  }
  return total > 0 ? deviation / total : 0.0;
}

EmpiricalAbsorption RefineEmpiricalAbsorption(std::span<const AbsorptionMeasurement> data,
                                              const EmpiricalOptions& options) {
  EmpiricalAbsorption out;
  out.lmax = options.lmax;
  if (options.lmax < 2 || options.lmax > 6) {
    out.refusal = "lmax must lie between 2 and 6";
    return out;
  }
  // The measurements that compare: in groups of two or more, sigma > 0.
  std::map<int, int> members;
  for (const AbsorptionMeasurement& m : data)
    if (m.sigma > 0) ++members[m.group];
  std::vector<int> used;
  std::map<int, int> group_index;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (!(data[i].sigma > 0) || members[data[i].group] < 2) continue;
    used.push_back(static_cast<int>(i));
    group_index.emplace(data[i].group, static_cast<int>(group_index.size()));
  }
  out.comparisons = static_cast<int>(used.size()) - static_cast<int>(group_index.size());
  const int with_odd = Coefficients(options.lmax, true), even = Coefficients(options.lmax, false);
  out.odd_orders = out.comparisons >= 2 * with_odd;
  out.coefficients = out.odd_orders ? with_odd : even;
  if (out.comparisons < 2 * even) {
    int fits = 0;
    for (int l = 2; l <= 6; l += 2)
      if (out.comparisons >= 2 * Coefficients(l, false)) fits = l;
    out.refusal = std::to_string(out.comparisons) + " comparisons among equivalents cannot determine the " +
                  std::to_string(even) + " coefficients of lmax " + std::to_string(options.lmax) +
                  " (at least 2 a coefficient are needed)" +
                  (fits > 0 ? "; lmax " + std::to_string(fits) + " would do" : "; too few equivalents were measured");
    return out;
  }

  // The refined terms and each measurement's basis: Y_p(in) + Y_p(out).
  const int size = (options.lmax + 1) * (options.lmax + 1);
  std::vector<int> terms;
  std::vector<double> order_weight;
  for (int l = 1; l <= options.lmax; ++l) {
    if (!out.odd_orders && l % 2 == 1) continue;
    for (int m = -l; m <= l; ++m) {
      terms.push_back(l * l + l + m);
      order_weight.push_back(std::pow(l * (l + 1) / 6.0, 2));
    }
  }
  const int n = static_cast<int>(terms.size());
  std::vector<double> basis(used.size() * n);
  std::vector<double> in, outgoing;
  for (std::size_t k = 0; k < used.size(); ++k) {
    RealSphericalHarmonics(options.lmax, data[used[k]].beams.reversed_incident, in);
    RealSphericalHarmonics(options.lmax, data[used[k]].beams.diffracted, outgoing);
    for (int p = 0; p < n; ++p) basis[k * n + p] = in[terms[p]] + outgoing[terms[p]];
  }

  std::vector<double> coefficient(n, 0.0), t(used.size()), mean(group_index.size());
  double restraint_scale = -1;
  auto evaluate = [&](const std::vector<double>& c) {
    std::vector<double> num(mean.size(), 0.0), den(mean.size(), 0.0);
    for (std::size_t k = 0; k < used.size(); ++k) {
      double g = 0;
      for (int p = 0; p < n; ++p) g += c[p] * basis[k * n + p];
      t[k] = std::exp(g);
      const AbsorptionMeasurement& m = data[used[k]];
      const double w = 1.0 / (m.sigma * m.sigma);
      const int gi = group_index[m.group];
      num[gi] += w * m.intensity * t[k];
      den[gi] += w * t[k] * t[k];
    }
    for (std::size_t g = 0; g < mean.size(); ++g) mean[g] = num[g] / den[g];
    double chi2 = 0;
    for (std::size_t k = 0; k < used.size(); ++k) {
      const AbsorptionMeasurement& m = data[used[k]];
      const double r = (m.intensity - t[k] * mean[group_index[m.group]]) / m.sigma;
      chi2 += r * r;
    }
    double penalty = 0;
    if (restraint_scale > 0)
      for (int p = 0; p < n; ++p) penalty += restraint_scale * order_weight[p] * c[p] * c[p];
    return chi2 + penalty;
  };

  double objective = evaluate(coefficient);
  for (out.iterations = 1; out.iterations <= 50; ++out.iterations) {
    // Gauss-Newton with the group means eliminated (variable projection):
    // within a group the derivative of the residuals by the mean, -T / sigma,
    // is projected out of the rows, so that a step does not shift what the
    // means would absorb.
    std::vector<double> normal(n * n, 0.0), rhs(n, 0.0), row(n);
    std::vector<double> along(mean.size() * n, 0.0), length(mean.size(), 0.0);
    for (std::size_t k = 0; k < used.size(); ++k) {
      const AbsorptionMeasurement& m = data[used[k]];
      const int gi = group_index[m.group];
      const double model = t[k] * mean[gi];
      const double r = (m.intensity - model) / m.sigma;
      const double u = t[k] / m.sigma;
      for (int p = 0; p < n; ++p) row[p] = model * basis[k * n + p] / m.sigma;  // -d r / d c
      for (int p = 0; p < n; ++p) {
        rhs[p] += row[p] * r;
        along[gi * n + p] += row[p] * u;
        for (int q = 0; q <= p; ++q) normal[p * n + q] += row[p] * row[q];
      }
      length[gi] += u * u;
    }
    for (std::size_t g = 0; g < mean.size(); ++g) {
      const double* a = &along[g * n];
      for (int p = 0; p < n; ++p)
        for (int q = 0; q <= p; ++q) normal[p * n + q] -= a[p] * a[q] / length[g];
    }
    if (restraint_scale < 0) {
      double trace = 0;
      for (int p = 0; p < n; ++p) trace += normal[p * n + p];
      restraint_scale = options.restraint * trace / n;
      objective = evaluate(coefficient);
    }
    for (int p = 0; p < n; ++p) {
      normal[p * n + p] += restraint_scale * order_weight[p];
      rhs[p] -= restraint_scale * order_weight[p] * coefficient[p];
      for (int q = 0; q < p; ++q) normal[q * n + p] = normal[p * n + q];
    }
    if (!SolveCholesky(normal, rhs, n)) {
      out.refusal = "the normal equations of the absorption surface are singular";
      return out;
    }
    // Halve the step until the sum of squares does not rise.
    double step = 1, largest = 0;
    std::vector<double> trial(n);
    double value = objective;
    for (int halving = 0; halving < 20; ++halving, step /= 2) {
      for (int p = 0; p < n; ++p) trial[p] = coefficient[p] + step * rhs[p];
      value = evaluate(trial);
      if (value <= objective) break;
    }
    for (int p = 0; p < n; ++p) largest = std::max(largest, std::fabs(trial[p] - coefficient[p]));
    const bool done = value > objective - 1e-7 * objective || largest < 1e-6;
    if (value <= objective) {
      coefficient = trial;
      objective = value;
    } else {
      evaluate(coefficient);
    }
    if (done) break;
  }

  out.c.assign(size, 0.0);
  for (int p = 0; p < n; ++p) out.c[terms[p]] = coefficient[p];
  out.scale = 1;
  for (const AbsorptionMeasurement& m : data) out.transmission.push_back(out.TransmissionOf(m.beams));
  const double largest = *std::max_element(out.transmission.begin(), out.transmission.end());
  out.scale = options.expected_tmax.value_or(1.0) / largest;
  for (double& x : out.transmission) x *= out.scale;
  out.t_min = *std::min_element(out.transmission.begin(), out.transmission.end());
  out.t_max = *std::max_element(out.transmission.begin(), out.transmission.end());
  out.r_int_before = RInt(data);
  out.r_int_after = RInt(data, out.transmission);
  return out;
}

TransmissionComparison CompareTransmissions(std::span<const double> a, std::span<const double> b) {
  TransmissionComparison out;
  const std::size_t n = std::min(a.size(), b.size());
  if (n == 0) return out;
  double shift = 0;
  for (std::size_t i = 0; i < n; ++i) shift += std::log(a[i] / b[i]);
  shift /= static_cast<double>(n);
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = std::exp(std::log(a[i] / b[i]) - shift) - 1.0;
    sum += d * d;
    out.worst = std::max(out.worst, std::fabs(d));
  }
  out.rms = std::sqrt(sum / static_cast<double>(n));
  return out;
}

}  // namespace kalvex::reduce
