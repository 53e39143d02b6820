#include "reduce/data_statistics.h"

#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cstdint>

#include "common/fixed_fields.h"

namespace kalvex::reduce {

namespace {

// The intensity statistics take at most about this many unique reflections:
// beyond it they are as certain, and the centric test's integrals cost.
constexpr std::size_t kStatisticsMost = 30000;

// A sample of the merged reflections for the intensity statistics: whole
// blocks of 4 x 4 x 4 indices, one block in `stride` by a hash of its
// place, so that the L-test keeps its pairs of neighbours and every
// resolution is sampled alike.
std::vector<Observation> Sample(const std::vector<Observation>& merged, std::size_t stride) {
  std::vector<Observation> out;
  for (const Observation& o : merged) {
    const auto block = [&o](int i) { return static_cast<std::uint32_t>(o.hkl[i] >> 2); };
    const std::uint32_t hash = (block(0) * 73856093u) ^ (block(1) * 19349663u) ^ (block(2) * 83492791u);
    if ((hash * 2654435761u >> 8) % stride == 0) out.push_back(o);
  }
  return out;
}

std::string Names(const std::vector<const gemmi::SpaceGroup*>& groups) {
  std::string text;
  for (std::size_t i = 0; i < groups.size(); ++i)
    text += (i == 0 ? "" : i + 1 == groups.size() ? " and " : ", ") + groups[i]->xhm();
  return text;
}

// The group of the leading tie that the centric test picks, or why none.
void Choose(DataStatistics& s) {
  const AbsenceAnalysis& a = s.absences;
  const Centricity verdict = s.intensities.centric.verdict;
  std::vector<const gemmi::SpaceGroup*> tie, fitting;
  for (const SpaceGroupCandidate& g : a.groups) {
    if (g.tie != 0) continue;
    tie.push_back(g.group);
    if ((verdict == Centricity::kCentric && g.centrosymmetric) || (verdict == Centricity::kAcentric && !g.centrosymmetric))
      fitting.push_back(g.group);
  }
  s.ins_group = a.groups.front().group;
  const double probability = a.groups.front().probability;
  if (probability < kClearProbability) {
    s.choice_note = fields::Printf("the absences favour %s with a probability of only %.3f (%.2f needed)",
                                   Names(tie).c_str(), probability, kClearProbability);
    return;
  }
  const char* kind = verdict == Centricity::kCentric ? "centrosymmetric" : "non-centrosymmetric";
  if (tie.size() == 1) {
    s.choice = GroupChoice::kClearWinner;
    s.space_group = tie.front();
    s.choice_note = "the absences leave no other group of the class";
    if (verdict != Centricity::kUndecided && fitting.empty())
      s.choice_note += std::string("; the intensity statistics say ") + kind + ", which it is not";
    return;
  }
  if (fitting.size() == 1) {
    s.choice = GroupChoice::kClearWinner;
    s.space_group = fitting.front();
    s.choice_note = "the absences cannot separate " + Names(tie) + "; the intensity statistics say " + kind +
                    ", and it alone is";
    return;
  }
  s.choice_note = "the absences cannot separate " + Names(tie) +
                  (verdict == Centricity::kUndecided
                       ? std::string("; the centric test has not decided")
                   : fitting.empty() ? std::string("; none of them is ") + kind + " as the intensity statistics say"
                                     : "; of them " + Names(fitting) + " are " + kind + " as the intensity statistics say");
}

}  // namespace

DataStatistics AnalyseDataSet(std::span<const Observation> kept, const LaueClass& laue, const CellVector& cell,
                              double wavelength, const StatisticsRequest& request) {
  DataStatistics s;
  s.laue_group = laue.group;
  const std::vector<Observation> merged = MergeEquivalents(kept, *laue.group);
  s.merged = static_cast<int>(merged.size());
  if (merged.empty()) return s;
  s.absences = AnalyseAbsences(merged, *laue.group, cell);
  if (s.absences.groups.empty()) return s;
  s.analysed = true;
  const gemmi::SpaceGroup* assumed = laue.space_group_named ? laue.group : s.absences.groups.front().group;
  const std::size_t stride = (merged.size() + kStatisticsMost - 1) / kStatisticsMost;
  const std::vector<Observation> sample = stride > 1 ? Sample(merged, stride) : std::vector<Observation>();
  s.intensities =
      AnalyseIntensities(stride > 1 ? sample : merged, *assumed, cell, request.formula, request.z > 0 ? request.z : 1);
  if (stride > 1)
    s.intensities.notes.push_back(fields::Printf("the intensity statistics from %zu of the %zu unique reflections, "
                                                 "whole blocks of 4 x 4 x 4 indices",
                                                 sample.size(), merged.size()));
  OrderTies(s.absences, s.intensities.centric.verdict);
  if (laue.space_group_named) {
    s.choice = GroupChoice::kNamed;
    s.space_group = s.ins_group = laue.group;
    const gemmi::GroupOps ops = laue.group->operations();
    for (const Observation& o : merged) {
      if (!ops.is_systematically_absent(o.hkl)) continue;
      ReflectionCount& c = s.named_forbidden;
      ++c.number;
      const double ratio = o.intensity / o.sigma;
      c.strong += ratio > 3;
      c.mean_i_over_sigma += (ratio - c.mean_i_over_sigma) / c.number;
    }
    s.choice_note = "named";
  } else {
    Choose(s);
  }
  s.resolution = StatisticsAgainstResolution(kept, *s.ins_group, cell, wavelength, request.shells, request.theta_full);
  return s;
}

}  // namespace kalvex::reduce
