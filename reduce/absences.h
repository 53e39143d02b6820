// Systematic absences: the space groups of a Laue class that gemmi's tables
// hold, the reflection conditions of each, how the measured reflections obey
// them, and the groups ranked by the likelihood of the data.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "reduce/symmetry.h"
#include "state/orientation_state.h"

namespace gemmi {
struct GroupOps;
struct SpaceGroup;
}

namespace kalvex::reduce {

// Merged reflections of one kind: how many, how many above 3 sigma, and
// their mean I/sigma.
struct ReflectionCount {
  int number = 0;
  int strong = 0;
  double mean_i_over_sigma = 0;
};

// One reflection condition as the tables print it: the zone it concerns
// ("h0l", "0k0", "hkl", "hhl") and what the zone's allowed reflections obey
// ("l=2n", "h+k=2n", "-h+k+l=3n").
struct AbsenceCondition {
  std::string zone;
  std::string rule;
  ReflectionCount forbidden;  // measured reflections of the zone the rule forbids
  ReflectionCount allowed;    // the rest of the zone
};

// What the distribution of normalised intensities says of the structure.
enum class Centricity { kUndecided, kCentric, kAcentric };

struct SpaceGroupCandidate {
  const gemmi::SpaceGroup* group = nullptr;
  bool centrosymmetric = false;
  std::vector<int> conditions;  // into AbsenceAnalysis::conditions
  ReflectionCount forbidden;    // the measured reflections the group forbids
  double log_likelihood = 0;    // ln L against the best group's (0 for it)
  // Groups of one tie forbid the same measured reflections: their
  // likelihoods are equal and absences cannot separate them (P 2/m, P 2,
  // P m; P m m n, P 21 m n).
  int tie = 0;
  double probability = 0;  // of the tie's absences, every tie equally likely beforehand
};

struct AbsenceAnalysis {
  std::vector<AbsenceCondition> conditions;  // those of every candidate, each once
  // Best first. Ties by likelihood; within a tie the groups the centric
  // test favours first, then by number.
  std::vector<SpaceGroupCandidate> groups;
  int measured = 0;          // merged reflections tested
  bool no_absences = false;  // the leading groups forbid no measured reflection
  std::vector<std::string> notes;
};

// The space groups of the Laue class of `laue` (any group of that class, in
// the axes of the indexed cell) in every setting gemmi's tables hold for
// those axes (P 1 21/c 1, P 1 21/n 1, P 1 21/a 1 ...), in the tables'
// order. A group whose entries differ only in the origin is listed once,
// by the entry with the centre of symmetry at the origin.
std::vector<const gemmi::SpaceGroup*> SpaceGroupsOfLaueClass(const gemmi::SpaceGroup& laue);

// True when -x, -y, -z is an operation of the group, give or take a
// centring translation: the centre of symmetry lies at the origin.
bool CentreAtOrigin(const gemmi::GroupOps& ops);

// Tests every candidate of the class against the merged reflections (one
// per unique reflection of the Laue class, Friedel mates merged). The
// score is the likelihood of the data: a reflection the group forbids is
// I ~ N(0, sigma^2), mixed with 1 % of the other model for the odd
// multiple-diffraction peak; one it allows has a true intensity from the
// acentric Wilson distribution of the group's mean eps<I/eps> in its
// resolution shell, measured with error sigma. `centricity` orders the
// groups of a tie.
AbsenceAnalysis AnalyseAbsences(std::span<const Observation> merged, const gemmi::SpaceGroup& laue,
                                const CellVector& cell, Centricity centricity = Centricity::kUndecided);

// Orders the groups of each tie again once the centric test has spoken
// (the test wants a group of the leading tie, for its absences), and says
// so in the notes.
void OrderTies(AbsenceAnalysis& analysis, Centricity centricity);

}  // namespace kalvex::reduce
