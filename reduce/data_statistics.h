// What the corrected data say once merged: the systematic absences and the
// space groups they allow, the intensity statistics that break the ties,
// the statistics against resolution, and the space group the CIF and the
// solver's file are given.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "reduce/absences.h"
#include "reduce/formula.h"
#include "reduce/intensity_statistics.h"
#include "reduce/shells.h"
#include "reduce/symmetry.h"
#include "state/orientation_state.h"

namespace gemmi {
struct SpaceGroup;
}

namespace kalvex::reduce {

struct StatisticsRequest {
  std::vector<FormulaElement> formula;  // empty: the average atom
  double z = 0;                         // formula units in the cell; 0 when not given
  int shells = 10;                      // of the statistics against resolution
  double theta_full = 0;                // degrees; 0: where the completeness falls below 0.95
};

// Why the CIF and the .ins name the group they do.
enum class GroupChoice {
  kNamed,        // the user named it (--laue or --space-group with a symbol)
  kClearWinner,  // the absences leave it alone, or the centric test picks it out of their tie
  kUndecided,    // neither: the CIF gives the Laue class only, the .ins the first of the ranking
};

// A clear winner's tie holds at least this probability of the absences.
constexpr double kClearProbability = 0.99;

struct DataStatistics {
  bool analysed = false;
  const gemmi::SpaceGroup* laue_group = nullptr;  // gemmi's entry the class merges with
  int merged = 0;                                 // unique reflections, Friedel mates together
  AbsenceAnalysis absences;
  IntensityStatistics intensities;
  ResolutionStatistics resolution;
  GroupChoice choice = GroupChoice::kUndecided;
  const gemmi::SpaceGroup* space_group = nullptr;  // of the CIF: named or a clear winner, else none
  const gemmi::SpaceGroup* ins_group = nullptr;    // of the .ins: that, or the first of the ranking
  std::string choice_note;                         // the reason, in a sentence
  ReflectionCount named_forbidden;                 // the merged reflections a named group forbids
};

// The analysis of the kept observations (one per measurement, I and sigma
// corrected) in the class `laue`. A space group named in `laue` is taken as
// the user's choice.
DataStatistics AnalyseDataSet(std::span<const Observation> kept, const LaueClass& laue, const CellVector& cell,
                              double wavelength, const StatisticsRequest& request);

}  // namespace kalvex::reduce
