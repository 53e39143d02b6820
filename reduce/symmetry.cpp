#include "reduce/symmetry.h"

#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/fixed_fields.h"

namespace kalvex::reduce {

using Rotation = std::array<std::array<int, 3>, 3>;

struct LaueData {
  gemmi::GroupOps ops;  // the group's operations
  gemmi::ReciprocalAsu asu;
  std::vector<Rotation> rotations;  // of the Laue class: the point group's with the centre of symmetry
};

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;

std::optional<LaueClass> Make(const gemmi::SpaceGroup* sg, std::string label, bool space_group) {
  if (sg == nullptr) return std::nullopt;
  LaueClass laue;
  laue.label = std::move(label);
  laue.group = sg;
  laue.space_group_named = space_group;
  auto data = std::make_shared<LaueData>(LaueData{sg->operations(), gemmi::ReciprocalAsu(sg), {}});
  gemmi::GroupOps point = data->ops;
  point.add_inversion();
  for (const gemmi::Op& op : point.sym_ops) {
    Rotation r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r[i][j] = op.rot[i][j] / gemmi::Op::DEN;
    data->rotations.push_back(r);
  }
  laue.order = static_cast<int>(data->rotations.size());
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

// A key equal for all equivalents of h under the rotations: the largest of
// their indices packed into one integer, 21 bits each.
std::uint64_t Pack(int h, int k, int l) {
  constexpr int kOffset = 1 << 20;
  return (static_cast<std::uint64_t>(h + kOffset) << 42) | (static_cast<std::uint64_t>(k + kOffset) << 21) |
         static_cast<std::uint64_t>(l + kOffset);
}

std::uint64_t EquivalenceKey(const std::vector<Rotation>& rotations, const Miller& h) {
  std::uint64_t key = 0;
  // Indices transform as the row h R.
  for (const Rotation& r : rotations)
    key = std::max(key, Pack(h[0] * r[0][0] + h[1] * r[1][0] + h[2] * r[2][0],
                             h[0] * r[0][1] + h[1] * r[1][1] + h[2] * r[2][1],
                             h[0] * r[0][2] + h[1] * r[1][2] + h[2] * r[2][2]));
  return key;
}

bool IsLaueName(const std::string& text) {
  return text == "-1" || text == "2/m" || text == "mmm" || text == "4/m" || text == "4/mmm" || text == "-3" ||
         text == "-3m1" || text == "-31m" || text == "6/m" || text == "6/mmm" || text == "m-3" || text == "m-3m";
}

std::string Trimmed(const std::string& name) {
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

bool IsLatticeLetter(char c) { return c == 'P' || c == 'A' || c == 'B' || c == 'C' || c == 'F' || c == 'I' || c == 'R'; }

}  // namespace

Miller LaueClass::Unique(const Miller& h) const { return data->asu.to_asu(h, data->ops).first; }

std::vector<std::array<std::array<int, 3>, 3>> LaueClass::Rotations() const { return data->rotations; }

std::string LaueClass::LaueSymbol() const { return group->laue_str(); }
std::string LaueClass::CrystalSystem() const { return group->crystal_system_str(); }

std::optional<LaueClass> FindLaueClass(const std::string& name) {
  const std::string text = Trimmed(name);
  if (text.empty()) return std::nullopt;
  if (IsLaueName(text)) return Make(gemmi::find_spacegroup_by_name("P " + text), text, false);
  // A space group by its symbol only, which starts with its lattice letter.
  if (!IsLatticeLetter(text.front())) return std::nullopt;
  const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(text);
  if (sg == nullptr) return std::nullopt;
  return Make(sg, sg->xhm(), true);
}

std::string LaueRefusal(const std::string& name) {
  const std::string text = Trimmed(name);
  const gemmi::SpaceGroup* point = text.empty() ? nullptr : gemmi::find_spacegroup_by_name("P " + text);
  const std::string as_point = point ? " nor a point group (its Laue class is " + std::string(point->laue_str()) + ")" : "";
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos)
    return "\"" + text + "\" is taken neither as a space group's number (name the group by its symbol, P21/c)" +
           as_point;
  if (point) return "\"" + text + "\" is a point group, not a Laue class: its Laue class is " + point->laue_str();
  return "\"" + text + "\" is neither a Laue class (-1, 2/m, mmm, 4/m, 4/mmm, -3, -3m1, -31m, 6/m, 6/mmm, m-3, " +
         "m-3m) nor a space-group symbol";
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

std::pair<double, double> MetricTolerances(const CellVector& cell, const CellVector& esd, double esds_allowed) {
  const double length_esd = std::max({esd[0], esd[1], esd[2]});
  const double angle_esd = std::max({esd[3], esd[4], esd[5]});
  const double longest = std::max({cell[0], cell[1], cell[2]});
  // A difference of two refined values has sqrt(2) times their ESD.
  return {std::max(esds_allowed * std::sqrt(2.0) * length_esd, 2.0e-4 * longest),
          std::max(esds_allowed * std::sqrt(2.0) * angle_esd, 0.02)};
}

MetricCheck CheckMetric(const LaueClass& laue, const CellVector& cell, const CellVector& esd, double esds_allowed) {
  const Metric g = MetricOf(cell);
  const auto [length_tolerance, angle_tolerance] = MetricTolerances(cell, esd, esds_allowed);
  const auto angle = [](const Metric& m, int p, int q) {
    return std::acos(std::clamp(m[p][q] / std::sqrt(m[p][p] * m[q][q]), -1.0, 1.0)) / kRadPerDeg;
  };
  static const char* kAxes[3] = {"a", "b", "c"};
  static const char* kAngles[3] = {"gamma", "alpha", "beta"};  // between axes i and i + 1
  MetricCheck check;
  for (const Rotation& r : laue.data->rotations) {
    // The metric of the axes the rotation carries the cell's into: R^T G R.
    Metric moved{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k)
          for (int l = 0; l < 3; ++l) moved[i][j] += r[k][i] * g[k][l] * r[l][j];
    for (int i = 0; i < 3; ++i) {
      const double length = std::sqrt(g[i][i]), image = std::sqrt(moved[i][i]);
      const double off = std::fabs(image - length) / length_tolerance;
      if (off > 1 && off > check.misfit) {
        check.misfit = off;
        check.worst = fields::Printf("the class carries %s = %.4f A onto a lattice vector of %.4f A (tolerance %.4f A)",
                                     kAxes[i], length, image, length_tolerance);
      }
      const int j = (i + 1) % 3;
      const double was = angle(g, i, j), now = angle(moved, i, j);
      const double turned = std::fabs(now - was) / angle_tolerance;
      if (turned > 1 && turned > check.misfit) {
        check.misfit = turned;
        check.worst = fields::Printf("the class carries %s = %.3f degrees into %.3f degrees (tolerance %.3f)",
                                     kAngles[i], was, now, angle_tolerance);
      }
    }
  }
  check.allowed = check.misfit <= 1;
  return check;
}

Grouping GroupEquivalents(const LaueClass& laue, std::span<const Miller> hkl) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(hkl.size());
  for (std::size_t n = 0; n < hkl.size(); ++n)
    keyed[n] = {EquivalenceKey(laue.data->rotations, hkl[n]), static_cast<std::uint32_t>(n)};
  std::sort(keyed.begin(), keyed.end());
  Grouping g;
  g.order.resize(keyed.size());
  for (std::size_t n = 0; n < keyed.size(); ++n) {
    g.order[n] = keyed[n].second;
    if (n == 0 || keyed[n].first != keyed[n - 1].first) g.starts.push_back(static_cast<std::uint32_t>(n));
  }
  g.starts.push_back(static_cast<std::uint32_t>(keyed.size()));
  return g;
}

MergingStatistics Merge(const LaueClass& laue, std::span<const Observation> data) {
  MergingStatistics s;
  s.label = laue.label;
  s.order = laue.order;
  s.observations = static_cast<int>(data.size());
  std::vector<Miller> hkl(data.size());
  double sum_sigma = 0, sum_abs = 0;
  for (std::size_t n = 0; n < data.size(); ++n) {
    hkl[n] = data[n].hkl;
    sum_sigma += data[n].sigma;
    sum_abs += std::fabs(data[n].intensity);
  }
  const Grouping groups = GroupEquivalents(laue, hkl);
  s.unique = static_cast<int>(groups.Groups());
  s.r_sigma = sum_abs > 0 ? sum_sigma / sum_abs : 0;
  double deviations = 0, weighted = 0, total = 0;
  for (std::size_t g = 0; g < groups.Groups(); ++g) {
    const std::size_t first = groups.starts[g], end = groups.starts[g + 1], n = end - first;
    double mean = 0, variance = 0;
    for (std::size_t m = first; m < end; ++m) {
      const Observation& o = data[groups.order[m]];
      mean += o.intensity;
      variance += o.sigma * o.sigma;
    }
    mean /= static_cast<double>(n);
    // sigma of the mean from the members' sigmas.
    if (mean > 2.0 * std::sqrt(variance) / static_cast<double>(n)) ++s.unique_gt;
    if (n < 2) continue;
    double d = 0;
    for (std::size_t m = first; m < end; ++m) {
      const Observation& o = data[groups.order[m]];
      d += std::fabs(o.intensity - mean);
      total += o.intensity;
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

std::size_t ChosenRow(const std::vector<MergingStatistics>& table) {
  if (table.empty()) return 0;
  const MergingStatistics& first = table.front();
  if (first.label == "-1" || (first.groups > 0 && first.r_int < kNoSymmetryRInt)) return 0;
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].label == "-1") return i;
  return 0;
}

CentringCheck CheckCentring(const LaueClass& laue, std::span<const Observation> data) {
  CentringCheck check;
  if (!laue.space_group_named) return check;
  const std::vector<gemmi::Op::Tran>& centring = laue.data->ops.cen_ops;
  for (const Observation& o : data) {
    const bool forbidden = std::any_of(centring.begin() + 1, centring.end(), [&o](const gemmi::Op::Tran& t) {
      return gemmi::GroupOps::has_phase_shift(t, o.hkl);
    });
    if (!forbidden) continue;
    ++check.forbidden;
    if (o.intensity > 3.0 * o.sigma) ++check.observed;
  }
  return check;
}

}  // namespace kalvex::reduce
