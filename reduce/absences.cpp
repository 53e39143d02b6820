#include "reduce/absences.h"

#include "reduce/intensity_statistics.h"

#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <numeric>
#include <optional>
#include <set>
#include <tuple>

namespace kalvex::reduce {
namespace {

using Vec3 = std::array<int, 3>;
using Rot = gemmi::Op::Rot;
constexpr int kDen = gemmi::Op::DEN;  // gemmi's unit of rotations and translations
// Zones are sampled over |h|, |k|, |l| <= 12: at least two periods of any
// condition (translations are multiples of 1/12).
constexpr int kBox = 12;
constexpr double kMultipleDiffraction = 0.01;  // share of the forbidden model given to the allowed one
constexpr int kShells = 10;
constexpr int kPerShell = 50;  // fewest reflections a shell's mean intensity is taken from
constexpr char kLetters[3] = {'h', 'k', 'l'};

int Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

bool IsZero(const Vec3& v) { return v[0] == 0 && v[1] == 0 && v[2] == 0; }

// The shortest integer vector along v, its first non-zero component positive.
Vec3 Primitive(Vec3 v) {
  const int g = std::gcd(std::gcd(std::abs(v[0]), std::abs(v[1])), std::abs(v[2]));
  if (g == 0) return v;
  for (int& x : v) x /= g;
  const int first = v[0] != 0 ? v[0] : v[1] != 0 ? v[1] : v[2];
  if (first < 0)
    for (int& x : v) x = -x;
  return v;
}

// The reflections a rotation R leaves in place (h R = h): all of them
// (dim 3), a plane h.n = 0 through the origin (dim 2, `vector` its normal
// n), or a row of multiples of `vector` (dim 1).
struct ZoneKey {
  int dim = 3;
  Vec3 vector{};
  auto operator<=>(const ZoneKey&) const = default;
};

std::optional<ZoneKey> FixedZone(const Rot& rot) {
  std::array<Vec3, 3> m{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = rot[j][i] / kDen - (i == j ? 1 : 0);
  const Vec3* a = nullptr;
  const Vec3* b = nullptr;
  for (const Vec3& row : m) {
    if (IsZero(row)) continue;
    if (a == nullptr)
      a = &row;
    else if (b == nullptr && !IsZero(Cross(*a, row)))
      b = &row;
  }
  if (a == nullptr) return ZoneKey{3, {}};
  if (b == nullptr) return ZoneKey{2, Primitive(*a)};
  const Vec3 axis = Cross(*a, *b);
  for (const Vec3& row : m)
    if (Dot(row, axis) != 0) return std::nullopt;  // only h = 0 stays: no condition
  return ZoneKey{1, Primitive(axis)};
}

bool InZone(const ZoneKey& z, const Miller& h) {
  if (z.dim == 3) return true;
  if (z.dim == 2) return Dot(h, z.vector) == 0;
  return IsZero(Cross(h, z.vector));
}

// "h", "-k", "2l", "" for a coefficient of 0.
std::string Term(int coefficient, char letter) {
  if (coefficient == 0) return {};
  std::string text = coefficient == 1 ? "" : coefficient == -1 ? "-" : std::to_string(coefficient);
  return text + letter;
}

// "h+k", "-h+k+l", "0" when every coefficient is zero.
std::string LinearText(const std::vector<int>& coefficients, const std::vector<char>& letters) {
  std::string text;
  for (std::size_t j = 0; j < coefficients.size(); ++j) {
    const std::string term = Term(coefficients[j], letters[j]);
    if (term.empty()) continue;
    if (!text.empty() && term.front() != '-') text += '+';
    text += term;
  }
  return text.empty() ? "0" : text;
}

// A zone with the letters its reflections are written in: h0l is h e1 + l e3.
struct Zone {
  ZoneKey key;
  std::string name;
  std::vector<Vec3> basis;
  std::vector<char> letters;
  std::vector<Miller> points;  // its reflections within the sampling box
};

Vec3 Unit(int i) {
  Vec3 e{};
  e[i] = 1;
  return e;
}

Zone MakeZone(const ZoneKey& key) {
  Zone z;
  z.key = key;
  const Vec3& n = key.vector;
  bool named = true;
  if (key.dim == 3) {
    z.basis = {Unit(0), Unit(1), Unit(2)};
    z.letters = {'h', 'k', 'l'};
  } else if (key.dim == 1) {
    z.basis = {n};
    z.letters = {kLetters[n[0] != 0 ? 0 : n[1] != 0 ? 1 : 2]};
  } else {
    const int zeros = static_cast<int>(std::count(n.begin(), n.end(), 0));
    if (zeros == 2) {
      for (int i = 0; i < 3; ++i)
        if (n[i] == 0) {
          z.basis.push_back(Unit(i));
          z.letters.push_back(kLetters[i]);
        }
    } else if (zeros == 1) {
      // One index free; the other two tied: h_j n_j + h_k n_k = 0.
      const int i = n[0] == 0 ? 0 : n[1] == 0 ? 1 : 2;
      const int j = (i + 1) % 3 < (i + 2) % 3 ? (i + 1) % 3 : (i + 2) % 3;
      const int k = 3 - i - j;
      Vec3 w{};
      w[j] = n[k];
      w[k] = -n[j];
      w = Primitive(w);
      const int p = std::abs(w[j]) == 1 || std::abs(w[k]) != 1 ? j : k;
      if (w[p] < 0)
        for (int& x : w) x = -x;
      z.basis = i < p ? std::vector<Vec3>{Unit(i), w} : std::vector<Vec3>{w, Unit(i)};
      z.letters = i < p ? std::vector<char>{kLetters[i], kLetters[p]} : std::vector<char>{kLetters[p], kLetters[i]};
    } else {
      // h_i written through the other two where n_i = +-1.
      int i = -1;
      for (int c = 0; c < 3; ++c)
        if (std::abs(n[c]) == 1) i = c;
      if (i < 0) {
        named = false;
        z.basis = {Unit(0), Unit(1), Unit(2)};
        z.letters = {'h', 'k', 'l'};
      } else {
        for (int c = 0; c < 3; ++c) {
          if (c == i) continue;
          Vec3 b = Unit(c);
          b[i] = -n[i] * n[c];
          z.basis.push_back(b);
          z.letters.push_back(kLetters[c]);
        }
      }
    }
  }
  if (!named) {
    z.name = "hkl with " + LinearText({n[0], n[1], n[2]}, {'h', 'k', 'l'}) + "=0";
  } else {
    std::vector<std::string> parts;
    bool compact = true;
    for (int i = 0; i < 3; ++i) {
      std::vector<int> c;
      for (const Vec3& b : z.basis) c.push_back(b[i]);
      parts.push_back(LinearText(c, z.letters));
      compact = compact && parts.back().size() <= (parts.back().front() == '-' ? 2u : 1u);
    }
    for (int i = 0; i < 3; ++i) z.name += (compact || i == 0 ? "" : " ") + parts[i];
  }
  for (int h = -kBox; h <= kBox; ++h)
    for (int k = -kBox; k <= kBox; ++k)
      for (int l = -kBox; l <= kBox; ++l) {
        const Miller m{h, k, l};
        if (!IsZero(m) && InZone(key, m)) z.points.push_back(m);
      }
  return z;
}

// h.t = 0 (mod 1), t in gemmi's units, written in the zone's letters:
// "h+l=2n". nullopt when every reflection of the zone obeys it.
struct Congruence {
  Vec3 t{};
  int terms = 0;
  int negatives = 0;
  int modulus = 1;
  std::string text;
};

std::optional<Congruence> Reduced(const Zone& z, const Vec3& t) {
  std::vector<int> c;
  int g = kDen;
  for (const Vec3& b : z.basis) {
    c.push_back(Dot(b, t));
    g = std::gcd(g, std::abs(c.back()));
  }
  const int m = kDen / g;
  if (m == 1) return std::nullopt;
  Congruence out;
  out.t = t;
  out.modulus = m;
  for (int& x : c) {
    x = ((x / g) % m + m) % m;
    if (2 * x > m) x -= m;
    if (x != 0) ++out.terms;
    if (x < 0) ++out.negatives;
  }
  // A congruence holds as well negated: "k+l=4n" rather than "-k-l=4n".
  if (2 * out.negatives > out.terms) {
    for (int& x : c) x = 2 * x == m ? x : -x;
    out.negatives = static_cast<int>(std::count_if(c.begin(), c.end(), [](int x) { return x < 0; }));
  }
  out.text = LinearText(c, z.letters) + "=" + std::to_string(m) + "n";
  return out;
}

bool Violates(const Miller& h, const Vec3& t) { return Dot(h, t) % kDen != 0; }

// One condition of a group: its zone and the translations whose phase the
// zone's allowed reflections keep whole.
struct GroupCondition {
  int zone = 0;
  std::vector<Vec3> translations;
  std::string rule;
  std::vector<bool> forbidden;  // over the zone's sampled points
};

struct Candidate {
  const gemmi::SpaceGroup* group = nullptr;
  gemmi::GroupOps ops;
  std::vector<GroupCondition> conditions;
};

// The rotations of the Laue class of a group: its own and their negatives.
std::set<Rot> LaueRotations(const gemmi::GroupOps& ops) {
  std::set<Rot> out;
  for (const gemmi::Op& op : ops.sym_ops) {
    out.insert(op.rot);
    out.insert(op.negated_rot());
  }
  return out;
}

// Every group of a Laue class with its conditions, and the zones those
// concern.
struct ClassGroups {
  std::vector<Zone> zones;
  std::vector<Candidate> candidates;
};

int ZoneIndex(std::vector<Zone>& zones, const ZoneKey& key) {
  for (std::size_t i = 0; i < zones.size(); ++i)
    if (zones[i].key == key) return static_cast<int>(i);
  zones.push_back(MakeZone(key));
  return static_cast<int>(zones.size()) - 1;
}

std::vector<GroupCondition> ConditionsOf(const gemmi::GroupOps& ops, std::vector<Zone>& zones) {
  std::map<int, std::vector<Vec3>> translations;
  for (const gemmi::Op& op : ops.sym_ops) {
    const std::optional<ZoneKey> key = FixedZone(op.rot);
    if (!key) continue;
    const int zone = ZoneIndex(zones, *key);
    for (const gemmi::Op::Tran& c : ops.cen_ops) {
      Vec3 t{};
      for (int i = 0; i < 3; ++i) t[i] = ((op.tran[i] + c[i]) % kDen + kDen) % kDen;
      translations[zone].push_back(t);
    }
  }
  // The centring holds in every zone too, and often says it more simply:
  // C 1 c 1 has h0l: h=2n, l=2n rather than l=2n, h+l=2n.
  for (auto& [zone_index, ts] : translations)
    for (const gemmi::Op::Tran& c : ops.cen_ops) ts.push_back({c[0], c[1], c[2]});
  std::vector<GroupCondition> out;
  for (const auto& [zone_index, ts] : translations) {
    const Zone& zone = zones[zone_index];
    std::vector<Congruence> rules;
    for (const Vec3& t : ts)
      if (auto c = Reduced(zone, t)) rules.push_back(*c);
    std::sort(rules.begin(), rules.end(), [](const Congruence& a, const Congruence& b) {
      return std::tie(a.terms, a.modulus, a.negatives, a.text) < std::tie(b.terms, b.modulus, b.negatives, b.text);
    });
    std::vector<std::vector<bool>> sets;
    for (const Congruence& rule : rules) {
      sets.emplace_back(zone.points.size());
      for (std::size_t p = 0; p < zone.points.size(); ++p) sets.back()[p] = Violates(zone.points[p], rule.t);
    }
    const auto covers = [](const std::vector<bool>& big, const std::vector<bool>& small) {
      for (std::size_t p = 0; p < small.size(); ++p)
        if (small[p] && !big[p]) return false;
      return true;
    };
    // A rule another forbids all of goes (l=2n beside l=4n; of two equal
    // ones the simpler stays); of the rest the simplest first, each kept
    // only when it forbids more; last, a rule the others imply goes
    // (h0l: l=2n beside h=2n, h+l=4n).
    std::vector<std::size_t> kept;
    for (std::size_t r = 0; r < rules.size(); ++r) {
      bool dominated = false;
      for (std::size_t o = 0; o < rules.size() && !dominated; ++o)
        dominated = o != r && covers(sets[o], sets[r]) && (!covers(sets[r], sets[o]) || o < r);
      if (!dominated) kept.push_back(r);
    }
    GroupCondition gc;
    gc.zone = zone_index;
    gc.forbidden.assign(zone.points.size(), false);
    std::vector<std::size_t> chosen;
    for (std::size_t r : kept) {
      if (covers(gc.forbidden, sets[r])) continue;
      chosen.push_back(r);
      for (std::size_t p = 0; p < zone.points.size(); ++p) gc.forbidden[p] = gc.forbidden[p] || sets[r][p];
    }
    for (std::size_t c = chosen.size(); c-- > 0;) {
      std::vector<bool> others(zone.points.size(), false);
      for (std::size_t o : chosen)
        if (o != chosen[c])
          for (std::size_t p = 0; p < zone.points.size(); ++p) others[p] = others[p] || sets[o][p];
      if (chosen.size() > 1 && covers(others, sets[chosen[c]])) chosen.erase(chosen.begin() + static_cast<long>(c));
    }
    for (std::size_t r : chosen) {
      gc.translations.push_back(rules[r].t);
      gc.rule += (gc.rule.empty() ? "" : ", ") + rules[r].text;
    }
    if (!gc.translations.empty()) out.push_back(std::move(gc));
  }
  // In the tables' order: hkl, then 0kl, h0l, hk0, then h00, 0k0, 00l.
  std::sort(out.begin(), out.end(), [&zones](const GroupCondition& a, const GroupCondition& b) {
    const ZoneKey& x = zones[a.zone].key;
    const ZoneKey& y = zones[b.zone].key;
    return x.dim != y.dim ? x.dim > y.dim : x.vector > y.vector;
  });
  return out;
}

ClassGroups GroupsOfClass(const gemmi::SpaceGroup& laue) {
  ClassGroups out;
  const std::set<Rot> target = LaueRotations(laue.operations());
  // A group's number, rotations and conditions fix it but for its origin.
  using Identity = std::tuple<int, std::vector<Rot>, std::vector<std::pair<int, std::vector<bool>>>>;
  std::map<Identity, std::size_t> seen;
  for (const gemmi::SpaceGroup& sg : gemmi::spacegroup_tables::main) {
    gemmi::GroupOps ops = sg.operations();
    if (LaueRotations(ops) != target) continue;
    Candidate c{&sg, ops, ConditionsOf(ops, out.zones)};
    std::vector<Rot> rotations;
    for (const gemmi::Op& op : ops.sym_ops) rotations.push_back(op.rot);
    std::sort(rotations.begin(), rotations.end());
    std::vector<std::pair<int, std::vector<bool>>> conditions;
    for (const GroupCondition& gc : c.conditions) conditions.emplace_back(gc.zone, gc.forbidden);
    const auto [it, fresh] = seen.emplace(Identity{sg.number, rotations, conditions}, out.candidates.size());
    if (fresh)
      out.candidates.push_back(std::move(c));
    else if (!CentreAtOrigin(out.candidates[it->second].ops) && CentreAtOrigin(ops))
      out.candidates[it->second] = std::move(c);
  }
  return out;
}

void Count(ReflectionCount& c, const Observation& o) {
  ++c.number;
  const double ratio = o.sigma > 0 ? o.intensity / o.sigma : 0;
  if (ratio > 3) ++c.strong;
  c.mean_i_over_sigma += (ratio - c.mean_i_over_sigma) / c.number;
}

double LogForbidden(double i, double sigma, double s) {
  const double z = i / sigma;
  const double normal = -0.5 * z * z - std::log(sigma) - 0.5 * std::log(2 * std::numbers::pi);
  const double allowed = LogWilsonDensity(i, sigma, s, false);
  // ln((1 - w) e^a + w e^b), kept finite when either is far below the other.
  const double a = std::log1p(-kMultipleDiffraction) + normal, b = std::log(kMultipleDiffraction) + allowed;
  return std::max(a, b) + std::log1p(std::exp(-std::fabs(a - b)));
}

std::string Names(const std::vector<const gemmi::SpaceGroup*>& groups) {
  std::string text;
  for (const gemmi::SpaceGroup* g : groups) text += (text.empty() ? "" : ", ") + g->xhm();
  return text;
}

}  // namespace

bool CentreAtOrigin(const gemmi::GroupOps& ops) {
  const gemmi::Op* inversion = ops.find_by_rotation({{{-kDen, 0, 0}, {0, -kDen, 0}, {0, 0, -kDen}}});
  if (inversion == nullptr) return false;
  return std::any_of(ops.cen_ops.begin(), ops.cen_ops.end(), [inversion](const gemmi::Op::Tran& c) {
    for (int i = 0; i < 3; ++i)
      if ((inversion->tran[i] + c[i]) % kDen != 0) return false;
    return true;
  });
}

std::vector<const gemmi::SpaceGroup*> SpaceGroupsOfLaueClass(const gemmi::SpaceGroup& laue) {
  std::vector<const gemmi::SpaceGroup*> out;
  for (const Candidate& c : GroupsOfClass(laue).candidates) out.push_back(c.group);
  return out;
}

AbsenceAnalysis AnalyseAbsences(std::span<const Observation> merged, const gemmi::SpaceGroup& laue,
                                const CellVector& cell, Centricity centricity) {
  AbsenceAnalysis out;
  ClassGroups cls = GroupsOfClass(laue);
  const std::set<Rot> laue_rotations = LaueRotations(laue.operations());
  const gemmi::UnitCell uc(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);

  // Each reflection's place in each zone (an equivalent that lies in it),
  // its Laue class's epsilon, and its resolution shell.
  const std::size_t n = merged.size();
  std::vector<std::vector<std::optional<Miller>>> in_zone(n, std::vector<std::optional<Miller>>(cls.zones.size()));
  std::vector<int> epsilon(n, 0);
  std::vector<std::size_t> order(n);
  for (std::size_t r = 0; r < n; ++r) {
    const Miller& h = merged[r].hkl;
    for (const Rot& rot : laue_rotations) {
      Miller e{};
      for (int i = 0; i < 3; ++i) e[i] = (rot[0][i] * h[0] + rot[1][i] * h[1] + rot[2][i] * h[2]) / kDen;
      if (e == h) ++epsilon[r];
      for (std::size_t z = 0; z < cls.zones.size(); ++z)
        if (!in_zone[r][z] && InZone(cls.zones[z].key, e)) in_zone[r][z] = e;
    }
    order[r] = r;
  }
  std::vector<double> s2(n);
  for (std::size_t r = 0; r < n; ++r) s2[r] = uc.calculate_stol_sq(merged[r].hkl);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return s2[a] < s2[b]; });
  const int shells = std::clamp(static_cast<int>(n) / kPerShell, 1, kShells);
  std::vector<int> shell(n);
  for (std::size_t i = 0; i < n; ++i) shell[order[i]] = static_cast<int>(i * shells / std::max<std::size_t>(n, 1));

  // The conditions, each once, with the reflections of its zone counted.
  std::map<std::pair<int, std::vector<bool>>, int> condition_index;
  for (const Candidate& c : cls.candidates) {
    for (const GroupCondition& gc : c.conditions) {
      const auto key = std::make_pair(gc.zone, gc.forbidden);
      if (condition_index.count(key)) continue;
      AbsenceCondition ac;
      ac.zone = cls.zones[gc.zone].name;
      ac.rule = gc.rule;
      for (std::size_t r = 0; r < n; ++r) {
        const std::optional<Miller>& e = in_zone[r][gc.zone];
        if (!e) continue;
        const bool forbidden =
            std::any_of(gc.translations.begin(), gc.translations.end(), [&](const Vec3& t) { return Violates(*e, t); });
        Count(forbidden ? ac.forbidden : ac.allowed, merged[r]);
      }
      condition_index[key] = static_cast<int>(out.conditions.size());
      out.conditions.push_back(std::move(ac));
    }
  }

  // Each group's likelihood; groups that forbid the same reflections tie.
  std::map<std::vector<bool>, int> ties;
  std::vector<double> tie_likelihood;
  for (const Candidate& c : cls.candidates) {
    SpaceGroupCandidate g;
    g.group = c.group;
    g.centrosymmetric = c.ops.is_centrosymmetric();
    for (const GroupCondition& gc : c.conditions) g.conditions.push_back(condition_index[{gc.zone, gc.forbidden}]);
    std::vector<bool> absent(n);
    std::vector<double> sum(shells, 0), sigma_sum(shells, 0);
    std::vector<int> count(shells, 0), all(shells, 0);
    for (std::size_t r = 0; r < n; ++r) {
      absent[r] = c.ops.is_systematically_absent(merged[r].hkl);
      sigma_sum[shell[r]] += merged[r].sigma;
      ++all[shell[r]];
      if (absent[r]) {
        Count(g.forbidden, merged[r]);
        continue;
      }
      sum[shell[r]] += merged[r].intensity / epsilon[r];
      ++count[shell[r]];
    }
    const auto [tie, fresh] = ties.emplace(absent, static_cast<int>(ties.size()));
    g.tie = tie->second;
    if (fresh) {
      // A shell's mean intensity, at least a tenth of its mean sigma.
      std::vector<double> mean(shells);
      for (int s = 0; s < shells; ++s) {
        const double floor = all[s] > 0 ? 0.1 * sigma_sum[s] / all[s] : 1e-6;
        mean[s] = std::max(count[s] > 0 ? sum[s] / count[s] : 0.0, std::max(floor, 1e-6));
      }
      double ln_l = 0;
      for (std::size_t r = 0; r < n; ++r) {
        const Observation& o = merged[r];
        if (!(o.sigma > 0)) continue;
        const double s = epsilon[r] * mean[shell[r]];
        ln_l += absent[r] ? LogForbidden(o.intensity, o.sigma, s) : LogWilsonDensity(o.intensity, o.sigma, s, false);
      }
      tie_likelihood.push_back(ln_l);
    }
    out.groups.push_back(std::move(g));
  }
  if (out.groups.empty()) return out;

  const double best = *std::max_element(tie_likelihood.begin(), tie_likelihood.end());
  double total = 0;
  for (double l : tie_likelihood) total += std::exp(l - best);
  for (SpaceGroupCandidate& g : out.groups) {
    g.log_likelihood = tie_likelihood[g.tie] - best;
    g.probability = std::exp(g.log_likelihood) / total;
  }
  // Ties in order of likelihood, numbered as they stand.
  std::stable_sort(out.groups.begin(), out.groups.end(), [](const SpaceGroupCandidate& a, const SpaceGroupCandidate& b) {
    return a.log_likelihood != b.log_likelihood ? a.log_likelihood > b.log_likelihood : a.tie < b.tie;
  });
  std::map<int, int> renumber;
  for (SpaceGroupCandidate& g : out.groups) g.tie = renumber.emplace(g.tie, static_cast<int>(renumber.size())).first->second;
  out.measured = static_cast<int>(n);
  OrderTies(out, centricity);
  return out;
}

void OrderTies(AbsenceAnalysis& analysis, Centricity centricity) {
  if (analysis.groups.empty()) return;
  const auto favoured = [centricity](const SpaceGroupCandidate& g) {
    return (centricity == Centricity::kCentric && g.centrosymmetric) ||
           (centricity == Centricity::kAcentric && !g.centrosymmetric);
  };
  const gemmi::SpaceGroup* first = &gemmi::spacegroup_tables::main[0];
  std::stable_sort(analysis.groups.begin(), analysis.groups.end(),
                   [&](const SpaceGroupCandidate& a, const SpaceGroupCandidate& b) {
                     if (a.tie != b.tie) return a.tie < b.tie;
                     if (favoured(a) != favoured(b)) return favoured(a);
                     if (a.group->number != b.group->number) return a.group->number < b.group->number;
                     return a.group - first < b.group - first;
                   });
  std::vector<const gemmi::SpaceGroup*> leading;
  for (const SpaceGroupCandidate& g : analysis.groups)
    if (g.tie == 0) leading.push_back(g.group);
  analysis.notes.clear();
  analysis.no_absences = analysis.measured > 0 && analysis.groups.front().forbidden.number == 0;
  if (analysis.no_absences) {
    analysis.notes.push_back("no systematic absences among the " + std::to_string(analysis.measured) +
                             " reflections: the groups without centring, screw axes or glide planes lead");
  }
  if (leading.size() > 1) {
    std::string note = "the absences cannot separate " + Names(leading);
    if (centricity == Centricity::kUndecided)
      note += "; the centric test has not decided between them";
    else
      note += "; the " + std::string(centricity == Centricity::kCentric ? "centric" : "acentric") +
              " intensity statistics put " + leading.front()->xhm() + " first";
    analysis.notes.push_back(note);
  }
}

}  // namespace kalvex::reduce
