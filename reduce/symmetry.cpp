#include "reduce/symmetry.h"

#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

namespace kalvex::reduce {

struct LaueData {
  gemmi::GroupOps ops;  // the group's operations
  gemmi::ReciprocalAsu asu;
};

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;

std::optional<LaueClass> Make(const gemmi::SpaceGroup* sg, std::string label, bool space_group) {
  if (sg == nullptr) return std::nullopt;
  LaueClass laue;
  laue.label = std::move(label);
  laue.group = sg;
  laue.space_group_named = space_group;
  auto data = std::make_shared<LaueData>(LaueData{sg->operations(), gemmi::ReciprocalAsu(sg)});
  // The Laue class: the point group's rotations with the centre of symmetry.
  gemmi::GroupOps point = data->ops;
  point.add_inversion();
  laue.order = static_cast<int>(point.sym_ops.size());
  laue.data = std::move(data);
  return laue;
}

using Metric = std::array<std::array<double, 3>, 3>;

Metric MetricOf(const CellVector& c) {
  const double ca = std::cos(c[3] * kRadPerDeg), cb = std::cos(c[4] * kRadPerDeg), cg = std::cos(c[5] * kRadPerDeg);
  return {{{c[0] * c[0], c[0] * c[1] * cg, c[0] * c[2] * cb},
           {c[0] * c[1] * cg, c[1] * c[1], c[1] * c[2] * ca},
           {c[0] * c[2] * cb, c[1] * c[2] * ca, c[2] * c[2]}}};
}

}  // namespace

Miller LaueClass::Unique(const Miller& h) const { return data->asu.to_asu(h, data->ops).first; }

std::vector<std::array<std::array<int, 3>, 3>> LaueClass::Rotations() const {
  gemmi::GroupOps point = data->ops;
  point.add_inversion();
  std::vector<std::array<std::array<int, 3>, 3>> out;
  for (const gemmi::Op& op : point.sym_ops) {
    std::array<std::array<int, 3>, 3> r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r[i][j] = op.rot[i][j] / gemmi::Op::DEN;
    out.push_back(r);
  }
  return out;
}

std::string LaueClass::LaueSymbol() const { return group->laue_str(); }
std::string LaueClass::CrystalSystem() const { return group->crystal_system_str(); }

std::optional<LaueClass> FindLaueClass(const std::string& name) {
  std::string text = name;
  text.erase(0, text.find_first_not_of(' '));
  if (text.empty()) return std::nullopt;
  // A space group starts with its lattice letter or is a number; a Laue
  // class is looked up as the primitive group of that symbol.
  const char c = text.front();
  const bool number = text.find_first_not_of("0123456789 ") == std::string::npos;
  const bool space_group = (c >= 'A' && c <= 'Z') || number;
  const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(space_group ? text : "P " + text);
  if (sg == nullptr) return std::nullopt;
  if (!space_group && !sg->is_centrosymmetric()) return std::nullopt;  // "mm2" names no Laue class
  return Make(sg, space_group ? sg->xhm() : text, space_group);
}

std::vector<LaueClass> AllLaueClasses() {
  static const std::pair<const char*, const char*> kClasses[] = {
      {"-1", "P -1"},
      {"2/m (a unique)", "P 2/m 1 1"},
      {"2/m (b unique)", "P 1 2/m 1"},
      {"2/m (c unique)", "P 1 1 2/m"},
      {"mmm", "P m m m"},
      {"4/m", "P 4/m"},
      {"4/mmm", "P 4/m m m"},
      {"-3", "P -3"},
      {"-3m1", "P -3 m 1"},
      {"-31m", "P -3 1 m"},
      {"-3 (rhombohedral axes)", "R -3:R"},
      {"-3m (rhombohedral axes)", "R -3 m:R"},
      {"6/m", "P 6/m"},
      {"6/mmm", "P 6/m m m"},
      {"m-3", "P m -3"},
      {"m-3m", "P m -3 m"},
  };
  std::vector<LaueClass> out;
  for (const auto& [label, symbol] : kClasses)
    if (auto laue = Make(gemmi::find_spacegroup_by_name(symbol), label, false)) out.push_back(std::move(*laue));
  return out;
}

bool MetricAllows(const LaueClass& laue, const CellVector& cell, const CellVector& esd, double esds_allowed) {
  const Metric g = MetricOf(cell);
  const double length_esd = std::max({esd[0], esd[1], esd[2]});
  const double angle_esd = std::max({esd[3], esd[4], esd[5]});
  const double longest = std::max({cell[0], cell[1], cell[2]});
  // A difference of two refined values has sqrt(2) times their ESD.
  const double length_tolerance = std::max(esds_allowed * std::sqrt(2.0) * length_esd, 2.0e-4 * longest);
  const double angle_tolerance = std::max(esds_allowed * std::sqrt(2.0) * angle_esd, 0.02);
  for (const auto& r : laue.Rotations()) {
    // The metric of the axes the rotation carries the cell's into: R^T G R.
    Metric moved{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k)
          for (int l = 0; l < 3; ++l) moved[i][j] += r[k][i] * g[k][l] * r[l][j];
    for (int i = 0; i < 3; ++i) {
      if (std::fabs(std::sqrt(moved[i][i]) - std::sqrt(g[i][i])) > length_tolerance) return false;
      const int j = (i + 1) % 3;
      const auto angle = [](const Metric& m, int p, int q) {
        return std::acos(std::clamp(m[p][q] / std::sqrt(m[p][p] * m[q][q]), -1.0, 1.0)) / kRadPerDeg;
      };
      if (std::fabs(angle(moved, i, j) - angle(g, i, j)) > angle_tolerance) return false;
    }
  }
  return true;
}

MergingStatistics Merge(const LaueClass& laue, std::span<const Observation> data) {
  MergingStatistics s;
  s.label = laue.label;
  s.order = laue.order;
  s.observations = static_cast<int>(data.size());
  std::map<Miller, std::vector<const Observation*>> groups;
  double sum_sigma = 0, sum_abs = 0;
  for (const Observation& o : data) {
    groups[laue.Unique(o.hkl)].push_back(&o);
    sum_sigma += o.sigma;
    sum_abs += std::fabs(o.intensity);
  }
  s.unique = static_cast<int>(groups.size());
  s.r_sigma = sum_abs > 0 ? sum_sigma / sum_abs : 0;
  double deviations = 0, weighted = 0, total = 0;
  for (const auto& [key, members] : groups) {
    const std::size_t n = members.size();
    if (n < 2) continue;
    double mean = 0;
    for (const Observation* o : members) mean += o->intensity;
    mean /= static_cast<double>(n);
    double d = 0;
    for (const Observation* o : members) {
      d += std::fabs(o->intensity - mean);
      total += o->intensity;
    }
    deviations += d;
    weighted += std::sqrt(static_cast<double>(n) / static_cast<double>(n - 1)) * d;
    ++s.groups;
    s.in_groups += static_cast<int>(n);
  }
  if (total > 0) {
    s.r_int = deviations / total;
    s.r_meas = weighted / total;
  }
  return s;
}

std::vector<MergingStatistics> RankLaueClasses(std::span<const Observation> data, const CellVector& cell,
                                               const CellVector& esd) {
  std::vector<MergingStatistics> table;
  for (const LaueClass& laue : AllLaueClasses())
    if (MetricAllows(laue, cell, esd)) table.push_back(Merge(laue, data));
  double lowest = -1;
  for (const MergingStatistics& s : table)
    if (s.groups > 0 && (lowest < 0 || s.r_meas < lowest)) lowest = s.r_meas;
  const auto consistent = [lowest](const MergingStatistics& s) {
    return s.groups > 0 && s.r_meas <= std::max(1.25 * lowest, lowest + 0.02);
  };
  std::stable_sort(table.begin(), table.end(), [&](const MergingStatistics& a, const MergingStatistics& b) {
    const bool ca = consistent(a), cb = consistent(b);
    if (ca != cb) return ca;
    if (ca && a.order != b.order) return a.order > b.order;
    if ((a.groups > 0) != (b.groups > 0)) return a.groups > 0;
    return a.r_meas < b.r_meas;
  });
  return table;
}

}  // namespace kalvex::reduce
