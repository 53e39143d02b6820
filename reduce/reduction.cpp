#include "reduce/reduction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace kalvex::reduce {

std::array<double, 4> InstrumentAngles(const IntensityRecord& r, const std::array<int, 4>& parity) {
  std::array<double, 4> a = r.angles;
  // A parity of -1 turned the written angle round; 0 (not given) is taken as 1.
  for (int k = 0; k < 4; ++k)
    if (parity[k] < 0) a[k] = -a[k];
  return a;
}

Reduction Reduce(std::span<const IntensityRecord> records, const RunParameters& params, const OrientationState& o,
                 const ReduceOptions& options) {
  Reduction out;
  out.decay = FitDecay(records);
  out.decay_applied = options.decay && out.decay.Usable();
  const Polarisation beam{params.mono_flag != 0, params.mono_2theta, params.dihedral};
  for (const IntensityRecord& record : records) {
    if (!record.Accepted()) {
      ++out.rejected;
      continue;
    }
    ReducedReflection r;
    r.record = record;
    r.angles = InstrumentAngles(record, params.parity);
    r.lp = options.lp ? LorentzPolarisation(r.angles[0], beam) : 1.0;
    if (out.decay_applied) r.decay = ScaleAt(out.decay, record.seq_no);
    r.scale_group = ScaleGroup(out.decay, record.seq_no);
    // I / g with the scale's own sigma added in quadrature.
    const double g = r.decay.scale;
    r.net = record.intensity / g;
    r.net_sigma = std::hypot(record.sigma / g, record.intensity * r.decay.sigma / (g * g));
    r.intensity = r.net / r.lp;
    r.sigma = r.net_sigma / r.lp;
    if (options.cosines) {
      r.cosines = BeamCosines(o.ub, record.hkl, r.angles, params.lambda1);
      if (!r.cosines) ++out.missing_cosines;
    }
    out.reflections.push_back(std::move(r));
  }

  // One factor for both files, fitted to the HKLF 4 fields; the CIF's net
  // intensities are kept on the same scale.
  std::vector<Observation> observations;
  std::vector<double> written, written_sigmas;
  for (const ReducedReflection& r : out.reflections) {
    if (r.record.IsStandard()) continue;
    observations.push_back({r.record.hkl, r.intensity, r.sigma});
    written.push_back(r.intensity);
    written_sigmas.push_back(r.sigma);
  }
  out.output_scale = OutputScale(written, written_sigmas);

  if (options.laue) {
    out.table.push_back(Merge(*options.laue, observations));
  } else {
    out.table = RankLaueClasses(observations, o.cell, o.cell_esd);
  }
  return out;
}

std::vector<std::string> Hklf4File(const Reduction& r, const ReduceOptions& options) {
  std::vector<std::string> lines;
  const double k = r.output_scale;
  for (const ReducedReflection& x : r.reflections) {
    if (x.record.IsStandard()) continue;
    const int batch = options.batch_from_scale_groups ? x.scale_group : 1;
    const DirectionCosines* cosines = options.cosines && x.cosines ? &*x.cosines : nullptr;
    if (options.cosines && !cosines) {
      static const DirectionCosines kNone{};
      cosines = &kNone;
    }
    lines.push_back(Hklf4Line(x.record.hkl, k * x.intensity, k * x.sigma, batch, cosines));
  }
  lines.push_back(Hklf4End());
  return lines;
}

CifContents CifOf(const Reduction& r, const RunParameters& params, const OrientationState& o,
                  const ReduceOptions& options) {
  CifContents c;
  c.cell = o.cell;
  c.cell_esd = o.cell_esd;
  c.wavelength = params.lambda1;
  c.laue = options.laue ? &*options.laue : nullptr;
  c.standards_interval = r.decay.interval;
  if (r.decay.Usable()) c.decay_percent = r.decay.start_to_finish_percent;
  std::map<int, Miller> standards;
  bool first = true;
  for (const ReducedReflection& x : r.reflections) {
    const double k = r.output_scale;
    c.reflections.push_back({x.record.hkl, x.angles, k * x.net, k * x.net_sigma, x.scale_group,
                             x.record.standard_index, x.record.class_code});
    if (x.record.IsStandard()) {
      standards.emplace(x.record.standard_index, x.record.hkl);
      continue;
    }
    ++c.reflections_number;
    const double theta = std::fabs(x.angles[0]) / 2.0;
    for (int i = 0; i < 3; ++i) {
      c.h_min[i] = first ? x.record.hkl[i] : std::min(c.h_min[i], x.record.hkl[i]);
      c.h_max[i] = first ? x.record.hkl[i] : std::max(c.h_max[i], x.record.hkl[i]);
    }
    c.theta_min = first ? theta : std::min(c.theta_min, theta);
    c.theta_max = first ? theta : std::max(c.theta_max, theta);
    first = false;
  }
  c.standards.assign(standards.begin(), standards.end());
  if (!r.table.empty() && r.table.front().groups > 0) c.r_int = r.table.front().r_int;
  if (!r.table.empty()) c.r_sigma = r.table.front().r_sigma;

  char scale[64];
  std::snprintf(scale, sizeof scale, "%g", r.output_scale);
  std::string text = "Integrated intensities ";
  text += r.decay_applied ? "divided by the decay scale interpolated between rounds of standards" : "without a decay correction";
  text += "; _diffrn_refln_intensity_net holds these, the HKLF 4 file these divided by ";
  text += options.lp ? (params.mono_flag != 0 ? "Lp (omega scan, monochromator-polarised beam)" : "Lp (omega scan)")
                     : "nothing further (no Lp)";
  text += "; both multiplied by the output scale " + std::string(scale) + ".";
  c.reduction_process = text;
  return c;
}

}  // namespace kalvex::reduce
