// The structure behind a simulated data set's F^2: the reflection
// conditions of a few space groups, each written out by hand from the tables
// of reflection conditions (monoclinic with b unique, orthorhombic in the
// standard setting), and the Wilson fall-off of the mean.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <utility>

#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
namespace {

bool Even(int n) { return n % 2 == 0; }

// The rotations of a point group of these systems are diagonal: each a
// sign for h, k and l.
using Signs = std::vector<std::array<int, 3>>;
const Signs kOne = {{1, 1, 1}};
const Signs kBar1 = {{1, 1, 1}, {-1, -1, -1}};
const Signs kTwo = {{1, 1, 1}, {-1, 1, -1}};  // b unique
const Signs kM = {{1, 1, 1}, {1, -1, 1}};
const Signs kTwoOverM = {{1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}, {1, -1, 1}};
const Signs k222 = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
const Signs kMmm = {{1, 1, 1},    {1, -1, -1},  {-1, 1, -1}, {-1, -1, 1},
                    {-1, -1, -1}, {-1, 1, 1},   {1, -1, 1},  {1, 1, -1}};

struct Group {
  const Signs* point_group;
  bool (*absent)(int h, int k, int l);
};

const std::map<std::string, Group>& Groups() {
  static const std::map<std::string, Group> groups = {
      {"P1", {&kOne, [](int, int, int) { return false; }}},
      {"P-1", {&kBar1, [](int, int, int) { return false; }}},
      {"P2/m", {&kTwoOverM, [](int, int, int) { return false; }}},
      {"P21", {&kTwo, [](int h, int k, int l) { return h == 0 && l == 0 && !Even(k); }}},
      {"Pc", {&kM, [](int, int k, int l) { return k == 0 && !Even(l); }}},
      {"P21/c",
       {&kTwoOverM, [](int h, int k, int l) { return (k == 0 && !Even(l)) || (h == 0 && l == 0 && !Even(k)); }}},
      {"P21/n",
       {&kTwoOverM, [](int h, int k, int l) { return (k == 0 && !Even(h + l)) || (h == 0 && l == 0 && !Even(k)); }}},
      {"C2/m", {&kTwoOverM, [](int h, int k, int) { return !Even(h + k); }}},
      {"Cc", {&kM, [](int h, int k, int l) { return !Even(h + k) || (k == 0 && !Even(l)); }}},
      {"C2/c", {&kTwoOverM, [](int h, int k, int l) { return !Even(h + k) || (k == 0 && !Even(l)); }}},
      {"Pmmm", {&kMmm, [](int, int, int) { return false; }}},
      {"P212121",
       {&k222,
        [](int h, int k, int l) {
          return (k == 0 && l == 0 && !Even(h)) || (h == 0 && l == 0 && !Even(k)) || (h == 0 && k == 0 && !Even(l));
        }}},
      {"Pbca",
       {&kMmm,
        [](int h, int k, int l) {
          return (h == 0 && !Even(k)) || (k == 0 && !Even(l)) || (l == 0 && !Even(h));
        }}},
      {"Pnma", {&kMmm, [](int h, int k, int l) { return (h == 0 && !Even(k + l)) || (l == 0 && !Even(h)); }}},
      {"Pmmn", {&kMmm, [](int h, int k, int l) { return l == 0 && !Even(h + k); }}},
      {"I222", {&k222, [](int h, int k, int l) { return !Even(h + k + l); }}},
  };
  return groups;
}

// How many rotations of the group's point group keep hkl (epsilon), and
// whether one turns it into -h -k -l (a centric reflection).
std::pair<int, bool> Multiplicity(const std::string& symbol, const Hkl& hkl) {
  const auto group = Groups().find(symbol);
  if (group == Groups().end()) return {1, false};
  int epsilon = 0;
  bool centric = false;
  for (const auto& s : *group->second.point_group) {
    const Hkl turned{s[0] * hkl[0], s[1] * hkl[1], s[2] * hkl[2]};
    epsilon += turned == hkl;
    centric = centric || turned == Hkl{-hkl[0], -hkl[1], -hkl[2]};
  }
  return {epsilon, centric};
}

}  // namespace

std::vector<std::string> SpaceGroupSymbols() {
  std::vector<std::string> out;
  for (const auto& [symbol, group] : Groups()) out.push_back(symbol);
  return out;
}

bool SpaceGroupKnown(const std::string& symbol) { return Groups().count(symbol) > 0; }

bool SpaceGroupCentrosymmetric(const std::string& symbol) {
  if (!SpaceGroupKnown(symbol)) return false;
  const Signs& signs = *Groups().at(symbol).point_group;
  return std::find(signs.begin(), signs.end(), std::array<int, 3>{-1, -1, -1}) != signs.end();
}

bool SystematicallyAbsent(const std::string& symbol, const Hkl& hkl) {
  return SpaceGroupKnown(symbol) && Groups().at(symbol).absent(hkl[0], hkl[1], hkl[2]);
}

double CarbonFormFactor(double s2) {
  // Four Gaussians and a constant (International Tables vol. C, 1992).
  static const double a[4] = {2.31, 1.02, 1.5886, 0.865}, b[4] = {20.8439, 10.2075, 0.5687, 51.6512};
  double f = 0.2156;
  for (int i = 0; i < 4; ++i) f += a[i] * std::exp(-b[i] * s2);
  return f;
}

double DrawFSquared(const GeneratorOptions& options, const Hkl& hkl, double s2, Random& random) {
  const auto [epsilon, centric_here] = Multiplicity(options.space_group, hkl);
  double mean = options.mean_intensity * epsilon;
  if (options.wilson_b) mean *= std::pow(CarbonFormFactor(s2), 2) / 36.0 * std::exp(-2.0 * *options.wilson_b * s2);
  const bool centric = options.centric.value_or(centric_here);
  const double f2 = centric ? mean * std::pow(random.Normal(), 2) : -mean * std::log(random.Uniform());
  return SystematicallyAbsent(options.space_group, hkl) ? 0.0 : f2;
}

}  // namespace kalvex::simulate
