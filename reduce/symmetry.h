// Laue classes from gemmi's space-group tables, the metric a cell allows,
// and the merging statistics of equivalent reflections.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "state/orientation_state.h"

namespace gemmi {
struct SpaceGroup;
}

namespace kalvex::reduce {

using Miller = std::array<int, 3>;

// A Laue class in the axes of the indexed cell, or the space group it was
// named by.
struct LaueData;
struct LaueClass {
  std::string label;  // "mmm", "2/m (b unique)", or the space group's symbol
  const gemmi::SpaceGroup* group = nullptr;  // gemmi's entry whose operations and asymmetric unit are used
  bool space_group_named = false;            // a space group, not only its Laue class, was named
  int order = 0;                             // operations of the Laue class
  std::shared_ptr<const LaueData> data;      // the operations and asymmetric unit, made once

  // The representative of h's equivalents (Friedel mates included): gemmi's
  // reciprocal asymmetric unit.
  Miller Unique(const Miller& h) const;
  // The rotation parts (acting on fractional coordinates) of the Laue class.
  std::vector<std::array<std::array<int, 3>, 3>> Rotations() const;
  std::string LaueSymbol() const;      // "2/m", "mmm", ...
  std::string CrystalSystem() const;   // "monoclinic", ...
};

// "2/m", "mmm", "-3m1", "m-3m" and the like (a Laue class, in the axes of the
// cell as indexed), or a space-group symbol gemmi knows ("P21/c",
// "P 1 21/c 1"). Never a number: "14" and "222" name no class here.
// nullopt for anything else; LaueRefusal says why.
std::optional<LaueClass> FindLaueClass(const std::string& name);
std::string LaueRefusal(const std::string& name);

// Every Laue class with the settings a reduced, conventionally indexed cell
// can show: -1; 2/m with a, b or c unique; mmm; 4/m, 4/mmm; -3, -3m1, -31m
// and their rhombohedral-axes forms; 6/m, 6/mmm; m-3, m-3m.
std::vector<LaueClass> AllLaueClasses();

// Whether each rotation of the class keeps the cell's metric: every axis
// keeps its length within 3 sqrt(2) ESDs (at least 0.0002 of the longest
// axis) and every angle between axes within 3 sqrt(2) ESDs (at least 0.02
// degree). `worst` describes the largest misfit against its tolerance.
struct MetricCheck {
  bool allowed = true;
  double misfit = 0;  // the largest misfit over its tolerance
  std::string worst;  // empty when nothing misfits
};
MetricCheck CheckMetric(const LaueClass& laue, const CellVector& cell, const CellVector& esd,
                        double esds_allowed = 3.0);
inline bool MetricAllows(const LaueClass& laue, const CellVector& cell, const CellVector& esd,
                         double esds_allowed = 3.0) {
  return CheckMetric(laue, cell, esd, esds_allowed).allowed;
}
// The tolerances CheckMetric uses, for the summary: length (Angstrom) and angle (degrees).
std::pair<double, double> MetricTolerances(const CellVector& cell, const CellVector& esd, double esds_allowed = 3.0);

struct Observation {
  Miller hkl{};
  double intensity = 0;
  double sigma = 0;
};

// The observations of each unique reflection of `laue` together: `order`
// holds indices of `hkl`, group g being order[starts[g]] .. order[starts[g + 1] - 1].
struct Grouping {
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> starts;  // one more than the groups
  std::size_t Groups() const { return starts.empty() ? 0 : starts.size() - 1; }
};
Grouping GroupEquivalents(const LaueClass& laue, std::span<const Miller> hkl);

struct MergingStatistics {
  std::string label;
  int order = 0;
  int observations = 0;
  int unique = 0;
  int unique_gt = 0;     // unique reflections whose mean I exceeds 2 sigma(mean I)
  int groups = 0;        // unique reflections measured at least twice
  int in_groups = 0;     // observations in those
  double r_int = 0;      // sum |I - <I>| / sum I over the groups
  double r_sigma = 0;    // sum sigma / sum |I| over every observation
  // The same sum with each group's deviations weighted by sqrt(n / (n - 1)),
  // so that it does not grow with the multiplicity of a group: it compares
  // classes of different order fairly.
  double r_meas = 0;
};

MergingStatistics Merge(const LaueClass& laue, std::span<const Observation> data);

// The statistics of every class the metric allows, best first: the classes
// whose R_meas is within 25 % (and 0.02) of the lowest, highest order first,
// then the rest by R_meas.
std::vector<MergingStatistics> RankLaueClasses(std::span<const Observation> data, const CellVector& cell,
                                               const CellVector& esd);

// A class beyond -1 is believed only when it merges with R_int below this.
constexpr double kNoSymmetryRInt = 0.15;
// The row of the ranking the reduction goes on with: the first when it is
// -1 or merges with R_int below kNoSymmetryRInt and at least one group;
// otherwise -1's ("no symmetry found").
std::size_t ChosenRow(const std::vector<MergingStatistics>& table);

// The reflections the lattice centring of a named space group forbids, and
// how many of them are observed with I > 3 sigma. The group is refused when
// more than kCentringObservedFraction of them (and at least
// kCentringObservedLeast) are so observed.
constexpr double kCentringObservedFraction = 0.05;
constexpr int kCentringObservedLeast = 3;
struct CentringCheck {
  int forbidden = 0;
  int observed = 0;
  bool Refused() const {
    return observed >= kCentringObservedLeast && observed > kCentringObservedFraction * forbidden;
  }
};
CentringCheck CheckCentring(const LaueClass& laue, std::span<const Observation> data);

}  // namespace kalvex::reduce
