#include "reduce/reduction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <numbers>

#include "common/fixed_fields.h"

namespace kalvex::reduce {

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;

double Median(std::vector<double>& v) {
  if (v.empty()) return 0;
  const auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), middle, v.end());
  return *middle;
}

// The neighbours rule over shells of kShell ordinary reflections in 2theta
// order; the last shell takes a short rest in.
void NeighboursRule(Reduction& r) {
  std::vector<std::pair<float, std::uint32_t>> by_angle;  // 2theta and place
  for (std::uint32_t i = 0; i < r.reflections.size(); ++i) {
    const IntensityRecord& record = r.Record(r.reflections[i]);
    if (!record.IsStandard()) by_angle.emplace_back(std::fabs(record.angles[0]), i);
  }
  const std::size_t n = by_angle.size();
  if (n < 20) return;  // too few to have neighbours
  std::sort(by_angle.begin(), by_angle.end());
  std::vector<std::uint32_t> order(n);
  for (std::size_t k = 0; k < n; ++k) order[k] = by_angle[k].second;
  std::vector<double> size, sigma, ratio;
  for (std::size_t start = 0; start < n;) {
    std::size_t end = std::min(n, start + kShell);
    if (n - end < kShell / 2) end = n;
    size.clear(), sigma.clear(), ratio.clear();
    for (std::size_t k = start; k < end; ++k) {
      const ReducedReflection& x = r.reflections[order[k]];
      size.push_back(std::fabs(x.intensity));
      sigma.push_back(x.sigma);
      ratio.push_back(x.intensity / x.sigma);
    }
    const double size_limit = kOutlierSize * (Median(size) + Median(sigma));
    const double ratio_limit = kOutlierPrecision * std::max(Median(ratio), 3.0);
    for (std::size_t k = start; k < end; ++k) {
      ReducedReflection& x = r.reflections[order[k]];
      if (std::fabs(x.intensity) > size_limit || x.intensity / x.sigma > ratio_limit) {
        x.out_of_line = OutOfLine::kNeighbours;
        ++r.out_of_line[static_cast<int>(OutOfLine::kNeighbours)];
      }
    }
    start = end;
  }
}

// The kept ordinary reflections as observations, and their places in r.reflections.
std::vector<Observation> KeptObservations(const Reduction& r, std::vector<std::uint32_t>* places) {
  std::vector<Observation> out;
  for (std::uint32_t i = 0; i < r.reflections.size(); ++i) {
    const ReducedReflection& x = r.reflections[i];
    if (!r.Kept(x)) continue;
    out.push_back({r.Record(x).hkl, x.intensity, x.sigma});
    if (places != nullptr) places->push_back(i);
  }
  return out;
}

void EquivalentsRule(Reduction& r) {
  std::vector<std::uint32_t> places;
  const std::vector<Observation> data = KeptObservations(r, &places);
  std::vector<Miller> hkl(data.size());
  for (std::size_t n = 0; n < data.size(); ++n) hkl[n] = data[n].hkl;
  const Grouping groups = GroupEquivalents(*r.laue, hkl);
  std::vector<double> values, sigmas;
  for (std::size_t g = 0; g < groups.Groups(); ++g) {
    const std::size_t first = groups.starts[g], end = groups.starts[g + 1], n = end - first;
    if (n < 3) continue;
    values.clear(), sigmas.clear();
    for (std::size_t m = first; m < end; ++m) {
      values.push_back(data[groups.order[m]].intensity);
      sigmas.push_back(data[groups.order[m]].sigma);
    }
    const double median = Median(values);
    // The sigma of a median: sqrt(pi / 2) times that of a mean.
    const double median_sigma = 1.2533 * Median(sigmas) / std::sqrt(static_cast<double>(n));
    for (std::size_t m = first; m < end; ++m) {
      const Observation& o = data[groups.order[m]];
      const double off = std::fabs(o.intensity - median);
      if (off > kOutlierSigmas * std::hypot(o.sigma, median_sigma) && off > kOutlierFraction * std::fabs(median)) {
        r.reflections[places[groups.order[m]]].out_of_line = OutOfLine::kEquivalents;
        ++r.out_of_line[static_cast<int>(OutOfLine::kEquivalents)];
      }
    }
  }
}

// The characteristic line a wavelength is, in Siegbahn notation; "?" for none.
std::string RadiationType(double lambda) {
  struct Line {
    const char* anode;
    double alpha1, alpha;  // K-alpha1 and the weighted K-alpha, Angstrom
  };
  static constexpr Line kLines[] = {{"Cr", 2.28970, 2.29100}, {"Fe", 1.93604, 1.93735}, {"Co", 1.78897, 1.79026},
                                    {"Cu", 1.54056, 1.54184}, {"Mo", 0.70930, 0.71073}, {"Ag", 0.55941, 0.56087}};
  for (const Line& line : kLines)
    if (std::fabs(lambda - line.alpha1) < 5e-4 || std::fabs(lambda - line.alpha) < 5e-4)
      return std::string(line.anode) + " K\\a";
  return "?";
}

// Graphite's 002 planes, the usual monochromator crystal.
constexpr double kGraphite002 = 3.354;

}  // namespace

std::vector<Observation> KeptObservations(const Reduction& r) { return KeptObservations(r, nullptr); }

std::array<double, 4> InstrumentAngles(const IntensityRecord& r, const std::array<int, 4>& parity) {
  std::array<double, 4> a{};
  // A parity of -1 turned the written angle round; 0 (not given) is taken as 1.
  for (int k = 0; k < 4; ++k) a[k] = parity[k] < 0 ? -static_cast<double>(r.angles[k]) : r.angles[k];
  return a;
}

std::string CheckGeometry(std::span<const IntensityRecord> records, const RunParameters& params,
                          const ReduceOptions& options) {
  const Polarisation beam{params.mono_flag != 0, params.mono_2theta, params.dihedral};
  for (const IntensityRecord& r : records) {
    const double two_theta = InstrumentAngles(r, params.parity)[0];
    const std::string where = "line " + std::to_string(r.line_number) + ": ";
    if (!(two_theta > 0 && two_theta < 180))
      return where + fields::Printf("2theta %.3f (columns 10-17, parity taken off) is outside (0, 180) degrees", two_theta);
    if (!options.lp || !r.Accepted()) continue;
    const double lp = LorentzPolarisation(two_theta, beam);
    if (!(lp >= kLpLeast && lp <= kLpMost))
      return where + fields::Printf("the Lorentz-polarisation factor %.3g at 2theta %.3f is outside %g to %g: the "
                                    "beam's geometry leaves this reflection nothing to correct",
                                    lp, two_theta, kLpLeast, kLpMost);
  }
  return {};
}

Reduction Correct(std::vector<IntensityRecord> records, const RunParameters& params, const ReduceOptions& options) {
  Reduction out;
  out.records = std::move(records);
  out.decay = FitDecay(out.records);
  if (options.decay && !out.decay.Usable()) out.decay_refusal = out.decay.refusal + " (two rounds are needed)";
  if (options.decay && out.decay.Usable() && !out.decay.jumps.empty() && !options.decay_anyway)
    out.decay_refusal = "the standards disagree";
  out.decay_applied = options.decay && out.decay_refusal.empty();
  const Polarisation beam{params.mono_flag != 0, params.mono_2theta, params.dihedral};
  for (std::uint32_t i = 0; i < out.records.size(); ++i) {
    const IntensityRecord& record = out.records[i];
    if (!record.Accepted()) {
      ++out.rejected;
      continue;
    }
    ReducedReflection x;
    x.record = i;
    x.lp = options.lp ? static_cast<float>(LorentzPolarisation(InstrumentAngles(record, params.parity)[0], beam)) : 1.0f;
    if (out.decay_applied) x.decay = ScaleAt(out.decay, record.seq_no);
    x.scale_group = ScaleGroup(out.decay, record.seq_no);
    // I / g with the scale's own sigma added in quadrature.
    const double g = x.decay.scale;
    x.net = record.intensity / g;
    x.net_sigma = std::hypot(record.sigma / g, record.intensity * x.decay.sigma / (g * g));
    x.intensity = x.net / x.lp;
    x.sigma = x.net_sigma / x.lp;
    out.reflections.push_back(x);
  }
  NeighboursRule(out);
  return out;
}

std::vector<std::uint32_t> CellReflections(const Reduction& r, double threshold, const LaueClass& laue) {
  std::vector<std::uint32_t> candidates;
  std::vector<Miller> hkl;
  for (std::uint32_t i = 0; i < r.reflections.size(); ++i) {
    const ReducedReflection& x = r.reflections[i];
    const IntensityRecord& record = r.Record(x);
    if (!r.Kept(x) || !(record.intensity >= threshold * record.sigma)) continue;
    candidates.push_back(i);
    hkl.push_back(record.hkl);
  }
  const Grouping groups = GroupEquivalents(laue, hkl);
  std::vector<std::uint32_t> chosen;
  for (std::size_t g = 0; g < groups.Groups(); ++g) {
    std::uint32_t best = candidates[groups.order[groups.starts[g]]];
    for (std::size_t m = groups.starts[g] + 1; m < groups.starts[g + 1]; ++m) {
      const std::uint32_t i = candidates[groups.order[m]];
      const IntensityRecord& a = r.Record(r.reflections[i]);
      const IntensityRecord& b = r.Record(r.reflections[best]);
      if (a.intensity / a.sigma > b.intensity / b.sigma) best = i;
    }
    chosen.push_back(best);
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

std::string ChooseLaueClass(Reduction& r, const CellVector& cell, const CellVector& esd, const ReduceOptions& options) {
  // A second choice (on data corrected since) starts from the equivalents rule undone.
  for (ReducedReflection& x : r.reflections)
    if (x.out_of_line == OutOfLine::kEquivalents) x.out_of_line = OutOfLine::kNo;
  r.out_of_line[static_cast<int>(OutOfLine::kEquivalents)] = 0;
  const std::vector<Observation> data = KeptObservations(r);
  if (options.laue) {
    const LaueClass& laue = *options.laue;
    const MetricCheck metric = CheckMetric(laue, cell, esd);
    if (!metric.allowed) return laue.label + " does not fit the refined cell: " + metric.worst;
    r.centring = CheckCentring(laue, data);
    if (r.centring.Refused())
      return fields::Printf("%s: its lattice centring forbids %d of the reflections measured, and %d of them have "
                            "I > 3 sigma",
                            laue.label.c_str(), r.centring.forbidden, r.centring.observed);
    r.laue = laue;
    r.table = {Merge(laue, data)};
    r.chosen = 0;
  } else {
    r.table = RankLaueClasses(data, cell, esd);
    r.chosen = ChosenRow(r.table);
    for (LaueClass& laue : AllLaueClasses())
      if (laue.label == r.table[r.chosen].label) r.laue = std::move(laue);
  }
  r.no_symmetry = r.laue->label == "-1";
  EquivalentsRule(r);
  if (r.out_of_line[static_cast<int>(OutOfLine::kEquivalents)] > 0) {
    const std::string label = r.table[r.chosen].label;
    r.table[r.chosen] = Merge(*r.laue, KeptObservations(r));
    r.table[r.chosen].label = label;
  }
  return {};
}

void Finish(Reduction& r, const OrientationState& o, const RunParameters& params, const ReduceOptions& options) {
  std::vector<double> written, written_sigmas;
  if (options.cosines) r.cosines.assign(r.reflections.size(), std::nullopt);
  for (std::size_t i = 0; i < r.reflections.size(); ++i) {
    const ReducedReflection& x = r.reflections[i];
    if (!r.Kept(x)) continue;
    written.push_back(x.intensity);
    written_sigmas.push_back(x.sigma);
    if (!options.cosines) continue;
    const IntensityRecord& record = r.Record(x);
    r.cosines[i] = BeamCosines(o.ub, record.hkl, InstrumentAngles(record, params.parity), params.lambda1);
    if (!r.cosines[i]) ++r.missing_cosines;
  }
  r.output_scale = OutputScale(written, written_sigmas);
}

void WriteHklf4(const Reduction& r, const ReduceOptions& options, const TextOut& out) {
  std::string text;
  const double k = r.output_scale;
  static const DirectionCosines kNone{};
  for (std::size_t i = 0; i < r.reflections.size(); ++i) {
    const ReducedReflection& x = r.reflections[i];
    if (!r.Kept(x)) continue;
    const int batch = options.batch_from_scale_groups ? x.scale_group : 1;
    const DirectionCosines* cosines = nullptr;
    if (options.cosines) cosines = r.cosines[i] ? &*r.cosines[i] : &kNone;
    text += Hklf4Line(r.Record(x).hkl, k * x.intensity, k * x.sigma, batch, cosines);
    text += '\n';
    if (text.size() > (1u << 20)) {
      out(text);
      text.clear();
    }
  }
  text += Hklf4End();
  text += '\n';
  out(text);
}

CifContents CifOf(const Reduction& r, const RunParameters& params, const CellFit& cell,
                  const ReduceOptions& options) {
  CifContents c;
  c.program = std::string("kalvex reduce (Win-Kalvex ") + KALVEX_VERSION + ")";
  c.cell = cell.cell;
  c.cell_esd = cell.esd;
  c.ub = cell.ub;
  c.wavelength = params.lambda1;
  c.radiation_type = RadiationType(params.lambda1);
  if (params.mono_flag != 0) {
    const double graphite = 2.0 * std::asin(params.lambda1 / (2.0 * kGraphite002)) / kRadPerDeg;
    c.monochromator = std::fabs(params.mono_2theta - graphite) < 0.1
                          ? "graphite"
                          : fields::Printf("crystal at 2\\q = %.3f\\%", static_cast<double>(params.mono_2theta));
    const double m2 = std::pow(std::cos(params.mono_2theta * kRadPerDeg), 2);
    if (m2 > 1e-6) c.polarisation_ratio = 1.0 / m2;
    c.polarisation_norm = params.dihedral;
  } else {
    c.monochromator = "none";
    c.polarisation_ratio = 1.0;
  }
  c.standards_interval = r.decay.interval;
  if (r.decay.Usable()) c.decay_percent = r.decay.start_to_finish_percent;

  // The rows: every accepted measurement not left out, standards included.
  auto rows = std::make_shared<std::vector<std::uint32_t>>();
  std::map<int, Miller> standards;
  bool first = true;
  for (std::uint32_t i = 0; i < r.reflections.size(); ++i) {
    const ReducedReflection& x = r.reflections[i];
    if (x.out_of_line != OutOfLine::kNo) continue;
    rows->push_back(i);
    const IntensityRecord& record = r.Record(x);
    c.scale_groups = std::max(c.scale_groups, x.scale_group);
    const auto known = std::find_if(c.classes.begin(), c.classes.end(),
                                    [&record](const ClassCount& k) { return k.code.View() == record.class_code.View(); });
    if (known == c.classes.end()) {
      c.classes.push_back({record.class_code, 1});
    } else {
      ++known->count;
    }
    if (record.IsStandard()) {
      standards.emplace(record.standard_index, record.hkl);
      continue;
    }
    ++c.reflections_number;
    const double theta = std::fabs(record.angles[0]) / 2.0;
    for (int k = 0; k < 3; ++k) {
      c.h_min[k] = first ? record.hkl[k] : std::min(c.h_min[k], record.hkl[k]);
      c.h_max[k] = first ? record.hkl[k] : std::max(c.h_max[k], record.hkl[k]);
    }
    c.theta_min = first ? theta : std::min(c.theta_min, theta);
    c.theta_max = first ? theta : std::max(c.theta_max, theta);
    first = false;
  }
  c.standards.assign(standards.begin(), standards.end());
  c.rows = rows->size();
  const double k = r.output_scale;
  c.row = [&r, rows, k, parity = params.parity](std::size_t n) {
    const ReducedReflection& x = r.reflections[(*rows)[n]];
    const IntensityRecord& record = r.Record(x);
    return CifReflection{record.hkl, InstrumentAngles(record, parity), k * x.net, k * x.net_sigma,
                         x.scale_group, record.standard_index, record.class_code};
  };

  if (!r.table.empty()) {
    const MergingStatistics& m = r.table[r.chosen];
    if (m.groups > 0) c.r_int = m.r_int;
    c.r_sigma = m.r_sigma;
    c.unique = m.unique;
    c.unique_gt = m.unique_gt;
    c.merging_class = r.no_symmetry ? "-1 (no higher symmetry found)" : m.label;
  }
  if (r.laue) c.crystal_system = r.laue->CrystalSystem();
  const DataStatistics& s = r.statistics;
  if (s.analysed) {
    c.space_group = s.space_group;
    if (s.space_group == nullptr)
      c.space_group_note = "the Laue class " + r.laue->LaueSymbol() + " only, as " + s.choice_note;
    const ResolutionStatistics& shells = s.resolution;
    c.theta_full = std::min(shells.theta_full, c.theta_max);
    c.fraction_max = shells.fraction_theta_max;
    c.fraction_full = shells.fraction_theta_full;
    c.friedel_coverage = shells.friedel_coverage;
  } else {
    c.theta_full = c.theta_max;
  }
  const AbsorptionCorrection& a = r.absorption;
  c.absorption_type = CorrectionType(a.method);
  c.mu = a.mu;
  if (a.method != AbsorptionMethod::kNone) {
    c.t_min = a.t_min;
    c.t_max = a.t_max;
  }
  if (a.has_crystal && a.crystal.Valid()) {
    c.faces = a.crystal.faces;
    c.crystal_size = a.crystal.size;
  }

  char scale[64];
  std::snprintf(scale, sizeof scale, "%g", r.output_scale);
  std::string text = "Integrated intensities ";
  text += r.decay_applied ? "divided by the decay scale interpolated between rounds of standards"
                          : "without a decay correction" + (r.decay_refusal.empty() ? "" : " (" + r.decay_refusal + ")");
  text += "; _diffrn_refln_intensity_net holds these, the HKLF 4 file these divided by ";
  std::string divisors =
      !options.lp ? "" : params.mono_flag != 0 ? "Lp (omega scan, monochromator-polarised beam)" : "Lp (omega scan)";
  if (a.method != AbsorptionMethod::kNone)
    divisors += (divisors.empty() ? "" : " and ") + std::string("the absorption correction's transmission");
  text += divisors.empty() ? "nothing further (no Lp)" : divisors;
  text += "; both multiplied by the output scale " + std::string(scale) + ".";
  const int left_out = r.out_of_line[1] + r.out_of_line[2];
  if (left_out > 0)
    text += fields::Printf(" %d reflections out of line with their neighbours (%d) or equivalents (%d) are left out.",
                           left_out, r.out_of_line[1], r.out_of_line[2]);
  c.reduction_process = text;
  return c;
}

}  // namespace kalvex::reduce
