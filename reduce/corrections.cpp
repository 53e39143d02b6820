#include "reduce/corrections.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

namespace kalvex::reduce {

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;

double Cos2(double degrees) {
  const double c = std::cos(degrees * kRadPerDeg);
  return c * c;
}

}  // namespace

// Lorentz factor of an omega scan: the time a reciprocal-lattice point takes
// to cross the Ewald sphere, L = 1 / sin 2theta.
//
// Polarisation: a monochromator crystal diffracting at 2theta_M leaves the
// beam partly polarised, cos^2 2theta_M in intensity for the component in its
// plane of diffraction against 1 for the one normal to it. The sample's
// plane of diffraction is turned by rho about the beam; resolving both
// components into the sample's parallel and perpendicular directions gives
//   P = [(cos^2 rho + sin^2 rho cos^2 2theta_M)
//        + (sin^2 rho + cos^2 rho cos^2 2theta_M) cos^2 2theta] / (1 + cos^2 2theta_M),
// the textbook result for a beam polarised by a crystal monochromator
// (International Tables for Crystallography Vol. C, section 6.2.2). With
// 2theta_M = 0 it becomes the unpolarised (1 + cos^2 2theta) / 2.
double LorentzPolarisation(double two_theta, const Polarisation& beam) {
  const double lorentz = 1.0 / std::sin(std::fabs(two_theta) * kRadPerDeg);
  const double c2 = Cos2(two_theta);
  if (!beam.monochromator) return lorentz * (1.0 + c2) / 2.0;
  const double m2 = Cos2(beam.mono_two_theta);
  const double r2 = Cos2(beam.dihedral);
  const double s2 = 1.0 - r2;
  const double p = ((r2 + s2 * m2) + (s2 + r2 * m2) * c2) / (1.0 + m2);
  return lorentz * p;
}

namespace {

// Each measurement of a round against the round's median, robust to the
// one that jumps; a round of two standards apart flags both.
void FindJumps(DecayModel& model) {
  std::vector<double> ratios, sigmas;
  for (std::size_t k = 0; k < model.rounds.size(); ++k) {
    const std::vector<StandardRatio>& members = model.rounds[k].ratios;
    if (members.size() < 2) continue;  // a round of one standard has no others
    ratios.clear(), sigmas.clear();
    for (const StandardRatio& s : members) ratios.push_back(s.ratio), sigmas.push_back(s.sigma);
    const auto middle = [](std::vector<double>& v) {
      std::sort(v.begin(), v.end());
      const std::size_t n = v.size();
      return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    };
    const double median = middle(ratios);
    // The sigma of a median: sqrt(pi / 2) times that of a mean.
    const double median_sigma = 1.2533 * middle(sigmas) / std::sqrt(static_cast<double>(members.size()));
    for (const StandardRatio& s : members) {
      const double off = std::fabs(s.ratio - median);
      if (off > kJumpSigmas * std::hypot(s.sigma, median_sigma) && off > kJumpFraction * std::fabs(median))
        model.jumps.push_back({s.standard, static_cast<int>(k) + 1, s.ratio, median});
    }
  }
}

}  // namespace

DecayModel FitDecay(std::span<const IntensityRecord> records) {
  DecayModel model;
  std::vector<const IntensityRecord*> order;
  order.reserve(records.size());
  for (const IntensityRecord& r : records) order.push_back(&r);
  const auto by_seq = [](const IntensityRecord* a, const IntensityRecord* b) { return a->seq_no < b->seq_no; };
  if (!std::is_sorted(order.begin(), order.end(), by_seq)) std::stable_sort(order.begin(), order.end(), by_seq);

  // Rounds: runs of consecutive standards; a standard seen again within a
  // run starts the next one.
  std::vector<std::vector<const IntensityRecord*>> runs;
  std::vector<int> gaps;  // reflections before each run
  int since = 0;
  bool in_run = false;
  for (const IntensityRecord* r : order) {
    if (!r->IsStandard()) {
      in_run = false;
      ++since;
      continue;
    }
    const bool repeat = in_run && std::any_of(runs.back().begin(), runs.back().end(), [r](const IntensityRecord* s) {
                          return s->standard_index == r->standard_index;
                        });
    if (!in_run || repeat) {
      runs.emplace_back();
      gaps.push_back(since);
      since = 0;
      in_run = true;
    }
    runs.back().push_back(r);
  }

  // Each standard against its first accepted, positive measurement.
  std::map<int, const IntensityRecord*> first;
  for (const auto& run : runs)
    for (const IntensityRecord* s : run)
      if (s->Accepted() && s->intensity > 0 && s->sigma > 0) first.emplace(s->standard_index, s);
  model.standards = static_cast<int>(first.size());
  for (const auto& [code, record] : first) model.standard_codes.push_back(code);

  for (const auto& run : runs) {
    double sum_w = 0, sum_wr = 0, sum_seq = 0;
    DecayRound round;
    round.first_seq = run.front()->seq_no;
    round.last_seq = run.back()->seq_no;
    for (const IntensityRecord* s : run) {
      const auto f = first.find(s->standard_index);
      if (!s->Accepted() || f == first.end() || !(s->sigma > 0)) continue;
      const double ratio = s->intensity / f->second->intensity;
      const double sigma = s->sigma / f->second->intensity;
      const double w = 1.0 / (sigma * sigma);
      sum_w += w;
      sum_wr += w * ratio;
      sum_seq += s->seq_no;
      ++round.members;
      round.ratios.push_back({s->standard_index, s->seq_no, ratio, sigma});
    }
    if (round.members == 0) continue;
    round.scale = sum_wr / sum_w;
    round.sigma = 1.0 / std::sqrt(sum_w);
    round.seq = sum_seq / round.members;
    model.rounds.push_back(std::move(round));
  }
  if (gaps.size() > 1) {
    std::vector<int> between(gaps.begin() + 1, gaps.end());
    std::nth_element(between.begin(), between.begin() + between.size() / 2, between.end());
    model.interval = between[between.size() / 2];
  }
  FindJumps(model);

  if (model.rounds.size() < 2) {
    model.refusal = model.rounds.empty() ? "no accepted standard reflections"
                                         : "only one round of standard reflections";
    return model;
  }
  for (const DecayRound& round : model.rounds) {
    if (!(round.scale > 0)) {
      model.refusal = "a round of standards with no positive intensity";
      return model;
    }
    model.largest_decay_percent = std::max(model.largest_decay_percent, 100.0 * (1.0 - round.scale));
  }
  model.start_to_finish_percent = 100.0 * (1.0 - model.rounds.back().scale / model.rounds.front().scale);
  return model;
}

DecayScale ScaleAt(const DecayModel& model, double seq) {
  if (!model.Usable()) return {};
  const auto& r = model.rounds;
  if (seq <= r.front().seq) return {r.front().scale, r.front().sigma};
  if (seq >= r.back().seq) return {r.back().scale, r.back().sigma};
  // The first round at or beyond seq; the one before it lies below.
  const auto k = static_cast<std::size_t>(
      std::lower_bound(r.begin(), r.end(), seq, [](const DecayRound& d, double s) { return d.seq < s; }) - r.begin());
  const DecayRound& a = r[k - 1];
  const DecayRound& b = r[k];
  const double t = (seq - a.seq) / (b.seq - a.seq);
  return {(1 - t) * a.scale + t * b.scale,
          std::sqrt((1 - t) * (1 - t) * a.sigma * a.sigma + t * t * b.sigma * b.sigma)};
}

int ScaleGroup(const DecayModel& model, int seq) {
  if (!model.Usable() || model.rounds.size() < 3) return 1;
  // Rounds 2 .. n-1 (0-based 1 .. n-2) each open a group.
  const auto first = model.rounds.begin() + 1, last = model.rounds.end() - 1;
  const auto after = std::upper_bound(first, last, seq, [](int s, const DecayRound& d) { return s < d.first_seq; });
  return static_cast<int>(after - first) + 1;
}

}  // namespace kalvex::reduce
