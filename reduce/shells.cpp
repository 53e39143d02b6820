#include "reduce/shells.h"

#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kalvex::reduce {
namespace {

constexpr int kDen = gemmi::Op::DEN;

// Observations with the unique reflection they belong to, sorted so that
// each unique reflection's lie together: a sort, not a tree of a million
// nodes.
using Keyed = std::vector<std::pair<gemmi::Op::Miller, const Observation*>>;

template <class F>
void ForEachGroup(const Keyed& keyed, F f) {
  std::vector<const Observation*> members;
  for (std::size_t i = 0; i < keyed.size();) {
    std::size_t end = i;
    members.clear();
    while (end < keyed.size() && keyed[end].first == keyed[i].first) members.push_back(keyed[end++].second);
    f(keyed[i].first, members);
    i = end;
  }
}

// The sums one set of unique reflections adds to a shell.
void AddGroup(ResolutionShell& s, const std::vector<const Observation*>& members, double& deviations,
              double& pim_deviations, double& total) {
  const std::size_t n = members.size();
  s.measured += static_cast<int>(n);
  ++s.unique;
  double w = 0, wi = 0, mean = 0;
  for (const Observation* o : members) {
    w += 1 / (o->sigma * o->sigma);
    wi += o->intensity / (o->sigma * o->sigma);
    mean += o->intensity;
  }
  s.mean_i_over_sigma += wi / w * std::sqrt(w);
  if (n < 2) return;
  mean /= static_cast<double>(n);
  double d = 0;
  for (const Observation* o : members) {
    d += std::fabs(o->intensity - mean);
    total += o->intensity;
  }
  deviations += d;
  pim_deviations += d / std::sqrt(static_cast<double>(n - 1));
}

void Finish(ResolutionShell& s, double deviations, double pim_deviations, double total) {
  if (s.unique > 0) {
    s.mean_i_over_sigma /= s.unique;
    s.multiplicity = static_cast<double>(s.measured) / s.unique;
  }
  if (s.possible > 0) s.completeness = static_cast<double>(s.unique) / s.possible;
  if (total > 0) {
    s.r_int = deviations / total;
    s.r_pim = pim_deviations / total;
  }
}

double Theta(double d_star, double wavelength) {
  return std::asin(std::min(1.0, wavelength * d_star / 2)) * 180 / std::numbers::pi;
}

}  // namespace

std::vector<Observation> MergeEquivalents(std::span<const Observation> data, const gemmi::SpaceGroup& group) {
  const gemmi::GroupOps ops = group.operations();
  const gemmi::ReciprocalAsu asu(&group);
  Keyed keyed;
  keyed.reserve(data.size());
  for (const Observation& o : data)
    if (o.sigma > 0) keyed.emplace_back(asu.to_asu(o.hkl, ops).first, &o);
  std::sort(keyed.begin(), keyed.end());
  std::vector<Observation> out;
  ForEachGroup(keyed, [&out](const gemmi::Op::Miller& hkl, const std::vector<const Observation*>& members) {
    double w = 0, wi = 0;
    for (const Observation* o : members) {
      w += 1 / (o->sigma * o->sigma);
      wi += o->intensity / (o->sigma * o->sigma);
    }
    out.push_back({hkl, wi / w, 1 / std::sqrt(w)});
  });
  return out;
}

ResolutionStatistics StatisticsAgainstResolution(std::span<const Observation> data, const gemmi::SpaceGroup& group,
                                                 const CellVector& cell, double wavelength, int shells,
                                                 double theta_full, double full_completeness) {
  ResolutionStatistics out;
  const gemmi::GroupOps ops = group.operations();
  const gemmi::ReciprocalAsu asu(&group);
  const gemmi::UnitCell uc(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);
  const auto d_star = [&uc](const gemmi::Op::Miller& h) { return std::sqrt(uc.calculate_1_d2(h)); };

  Keyed keyed;
  std::vector<gemmi::Op::Miller> crystal_class;  // unique under the point group, Friedel mates apart
  double top = 0;
  for (const Observation& o : data) {
    if (!(o.sigma > 0) || o.hkl == Miller{0, 0, 0}) continue;
    if (ops.is_systematically_absent(o.hkl)) {
      ++out.absent_observations;
      continue;
    }
    keyed.emplace_back(asu.to_asu(o.hkl, ops).first, &o);
    top = std::max(top, d_star(o.hkl));
    gemmi::Op::Miller least = o.hkl;
    for (const gemmi::Op& op : ops.sym_ops) {
      gemmi::Op::Miller e{};
      for (int i = 0; i < 3; ++i) e[i] = (op.rot[0][i] * o.hkl[0] + op.rot[1][i] * o.hkl[1] + op.rot[2][i] * o.hkl[2]) / kDen;
      least = std::min(least, e);
    }
    crystal_class.push_back(least);
  }
  std::sort(keyed.begin(), keyed.end());
  std::sort(crystal_class.begin(), crystal_class.end());
  crystal_class.erase(std::unique(crystal_class.begin(), crystal_class.end()), crystal_class.end());
  std::vector<gemmi::Op::Miller> unique;  // the unique reflections measured, in order
  for (std::size_t i = 0; i < keyed.size(); ++i)
    if (i == 0 || keyed[i].first != keyed[i - 1].first) unique.push_back(keyed[i].first);
  shells = std::max(shells, 1);
  out.shells.resize(shells);
  if (unique.empty()) return out;
  // Shell i holds d* from top (i / n)^(1/3) to top ((i + 1) / n)^(1/3).
  const auto shell_of = [&](double x) {
    return std::min(shells - 1, static_cast<int>(shells * std::pow(x / top, 3)));
  };
  for (int i = 0; i < shells; ++i) {
    out.shells[i].d_min = 1 / (top * std::cbrt(static_cast<double>(i + 1) / shells));
    out.shells[i].d_max = i == 0 ? 0 : 1 / (top * std::cbrt(static_cast<double>(i) / shells));
  }

  // Every unique reflection the group allows out to the highest resolution.
  std::vector<std::pair<double, bool>> possible;  // d*, measured
  const int h_max = static_cast<int>(top * uc.a) + 1, k_max = static_cast<int>(top * uc.b) + 1,
            l_max = static_cast<int>(top * uc.c) + 1;
  for (int h = -h_max; h <= h_max; ++h)
    for (int k = -k_max; k <= k_max; ++k)
      for (int l = -l_max; l <= l_max; ++l) {
        const gemmi::Op::Miller m{h, k, l};
        if (m == gemmi::Op::Miller{0, 0, 0} || !asu.is_in(m) || ops.is_systematically_absent(m)) continue;
        const double x = d_star(m);
        if (x > top * (1 + 1e-9)) continue;
        possible.emplace_back(x, std::binary_search(unique.begin(), unique.end(), m));
        ResolutionShell& s = out.shells[shell_of(x)];
        ++s.possible;
        if (shell_of(x) == 0) s.d_max = std::max(s.d_max, 1 / x);
      }

  std::vector<double> deviations(shells, 0), pim(shells, 0), total(shells, 0);
  double all_deviations = 0, all_pim = 0, all_total = 0;
  ForEachGroup(keyed, [&](const gemmi::Op::Miller& hkl, const std::vector<const Observation*>& members) {
    const int s = shell_of(d_star(hkl));
    AddGroup(out.shells[s], members, deviations[s], pim[s], total[s]);
    AddGroup(out.overall, members, all_deviations, all_pim, all_total);
  });
  out.overall.possible = static_cast<int>(possible.size());
  out.overall.d_max = out.shells.front().d_max;
  out.overall.d_min = out.shells.back().d_min;
  for (int i = 0; i < shells; ++i) Finish(out.shells[i], deviations[i], pim[i], total[i]);
  Finish(out.overall, all_deviations, all_pim, all_total);

  // Completeness out to each theta, for theta_full.
  std::sort(possible.begin(), possible.end());
  out.theta_max = Theta(top, wavelength);
  out.fraction_theta_max = out.overall.completeness;
  int count = 0, measured = 0;
  double full_d_star = 0, full_fraction = out.overall.completeness;
  const double given = theta_full > 0 ? 2 * std::sin(theta_full * std::numbers::pi / 180) / wavelength : 0;
  for (std::size_t i = 0; i < possible.size(); ++i) {
    if (given > 0 && possible[i].first > given * (1 + 1e-9)) break;
    ++count;
    measured += possible[i].second;
    const bool shell_end = i + 1 == possible.size() || possible[i + 1].first > possible[i].first * (1 + 1e-9);
    const double fraction = static_cast<double>(measured) / count;
    if (shell_end && (given > 0 || fraction >= full_completeness)) {
      full_d_star = possible[i].first;
      full_fraction = fraction;
    }
  }
  out.theta_full = given > 0 ? theta_full : full_d_star > 0 ? Theta(full_d_star, wavelength) : out.theta_max;
  out.fraction_theta_full = full_fraction;
  if (!ops.is_centrosymmetric())
    out.friedel_coverage =
        static_cast<double>(crystal_class.size() - unique.size()) / static_cast<double>(unique.size());
  return out;
}

}  // namespace kalvex::reduce
