// Laue classes from gemmi's space-group tables, the metric a cell allows,
// and the merging statistics of equivalent reflections.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
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
// cell as indexed), or a space-group symbol or number gemmi knows ("P21/c",
// "P 1 21/c 1", "14"). nullopt for anything else.
std::optional<LaueClass> FindLaueClass(const std::string& name);

// Every Laue class with the settings a reduced, conventionally indexed cell
// can show: -1; 2/m with a, b or c unique; mmm; 4/m, 4/mmm; -3, -3m1, -31m
// and their rhombohedral-axes forms; 6/m, 6/mmm; m-3, m-3m.
std::vector<LaueClass> AllLaueClasses();

// True when each rotation of the class keeps the cell's metric within
// `esds_allowed` ESDs (and a floor of 0.0002 of a length and 0.02 degree):
// the class is possible for this cell.
bool MetricAllows(const LaueClass& laue, const CellVector& cell, const CellVector& esd, double esds_allowed = 3.0);

struct Observation {
  Miller hkl{};
  double intensity = 0;
  double sigma = 0;
};

struct MergingStatistics {
  std::string label;
  int order = 0;
  int observations = 0;
  int unique = 0;
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

}  // namespace kalvex::reduce
