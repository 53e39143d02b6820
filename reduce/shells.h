// Statistics against resolution in shells of equal reciprocal volume:
// completeness against what the cell and space group allow, multiplicity,
// <I/sigma>, R_int and R_pim, and the theta_full and Friedel coverage of
// the CIF.
#pragma once

#include <span>
#include <vector>

#include "reduce/symmetry.h"
#include "state/orientation_state.h"

namespace gemmi {
struct SpaceGroup;
}

namespace kalvex::reduce {

// Equivalent observations merged in the Laue class of `group` (Friedel
// mates together), each unique reflection in gemmi's asymmetric unit: the
// mean weighted by 1/sigma^2, with sigma 1/sqrt(sum of the weights).
// Observations without a positive sigma are left out; absent ones are kept.
std::vector<Observation> MergeEquivalents(std::span<const Observation> data, const gemmi::SpaceGroup& group);

struct ResolutionShell {
  double d_max = 0, d_min = 0;  // limits, A
  int measured = 0;             // observations
  int unique = 0;               // unique reflections measured
  int possible = 0;             // unique reflections the cell and the group allow
  double completeness = 0;      // unique / possible
  double multiplicity = 0;      // measured / unique
  double mean_i_over_sigma = 0;  // of the merged reflections
  // Over the reflections measured more than once: sum |I - <I>| / sum I,
  // and the same with each reflection's deviations times sqrt(1 / (n - 1)).
  double r_int = 0, r_pim = 0;
};

struct ResolutionStatistics {
  std::vector<ResolutionShell> shells;  // low resolution first
  ResolutionShell overall;
  int absent_observations = 0;  // of reflections the group forbids: left out of every count
  double theta_max = 0;          // degrees
  double theta_full = 0;
  double fraction_theta_max = 0, fraction_theta_full = 0;  // completeness up to each
  // (N(crystal class) - N(Laue class)) / N(Laue class) of the unique
  // reflections measured; 0 for a centrosymmetric group.
  double friedel_coverage = 0;
};

// The observations (unmerged) of a data set in `group`. `shells` of equal
// volume in reciprocal space out to the highest resolution measured.
// theta_full is the given one, or when 0 the highest theta up to which
// `full_completeness` of the possible reflections were measured (theta_max
// when none).
ResolutionStatistics StatisticsAgainstResolution(std::span<const Observation> data, const gemmi::SpaceGroup& group,
                                                 const CellVector& cell, double wavelength, int shells = 10,
                                                 double theta_full = 0, double full_completeness = 0.95);

}  // namespace kalvex::reduce
