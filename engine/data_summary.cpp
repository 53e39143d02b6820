#include "engine/data_summary.h"

#include <gemmi/symmetry.hpp>

#include <algorithm>

#include "common/fixed_fields.h"

namespace kalvex::engine {

using fields::Printf;

namespace {

// The ranking shows every group of the leading tie and then at most this many rows in all.
constexpr std::size_t kRankedRows = 12;

std::string Count(const reduce::ReflectionCount& c) {
  return Printf("%6d %6d %7.1f", c.number, c.strong, c.mean_i_over_sigma);
}

std::string Percent(double fraction) { return Printf("%.1f %%", 100 * fraction); }

const char* Verdict(reduce::Centricity c) {
  return c == reduce::Centricity::kCentric ? "centrosymmetric"
         : c == reduce::Centricity::kAcentric ? "non-centrosymmetric"
                                              : "undecided";
}

}  // namespace

std::vector<std::string> AbsorptionLines(const reduce::Reduction& r, const reduce::AbsorptionRequest& request,
                                         const std::string& mu_source) {
  using reduce::AbsorptionMethod;
  std::vector<std::string> s;
  const reduce::AbsorptionCorrection& a = r.absorption;
  const std::string mu = a.mu ? Printf("mu %.4g /mm (%s)", *a.mu, mu_source.c_str()) : std::string("mu not known");
  switch (a.method) {
    case AbsorptionMethod::kNone:
      s.push_back("Absorption: not corrected" + (a.mu ? "; " + mu : std::string()));
      return s;
    case AbsorptionMethod::kSphere:
      s.push_back(Printf("Absorption: sphere of radius %g mm, %s, mu R %.3f", request.radius, mu.c_str(),
                         request.radius * a.mu.value_or(0)));
      break;
    case AbsorptionMethod::kFaces: {
      const reduce::CrystalShape& c = a.crystal;
      s.push_back(Printf("Absorption: numerical, from %d faces (%.3f x %.3f x %.3f mm, volume %.3g mm^3), %s",
                         static_cast<int>(c.faces.size()), c.size[0], c.size[1], c.size[2], c.volume, mu.c_str()));
      s.push_back("  " + a.grid);
      break;
    }
    case AbsorptionMethod::kEmpirical: {
      const reduce::EmpiricalAbsorption& e = a.empirical;
      s.push_back(Printf("Absorption: empirical in %s, spherical harmonics to lmax %d (%s orders): %d coefficients "
                         "from %d comparisons among equivalents, %d iterations; %s",
                         r.table[r.chosen].label.c_str(), e.lmax, e.odd_orders ? "even and odd" : "even",
                         e.coefficients, e.comparisons, e.iterations,
                         a.against_faces ? "its level from the faces" : "relative, the largest 1"));
      if (a.against_faces)
        s.push_back(Printf("  against the numerical transmission of the %d faces and %s after one scale: rms %s, "
                           "worst %s",
                           static_cast<int>(a.crystal.faces.size()), mu.c_str(), Percent(a.against_faces->rms).c_str(),
                           Percent(a.against_faces->worst).c_str()));
      break;
    }
  }
  s.push_back(Printf("  transmission %.4f to %.4f (Tmax/Tmin %.3f); R_int in %s %.4f before, %.4f after", a.t_min,
                     a.t_max, a.t_min > 0 ? a.t_max / a.t_min : 0.0, r.table[r.chosen].label.c_str(), a.r_int_before,
                     a.r_int_after));
  if (r.table.size() > 1) s.push_back("  the Laue classes above are ranked on the corrected data");
  return s;
}

std::vector<std::string> SpaceGroupLines(const reduce::Reduction& r) {
  std::vector<std::string> s;
  const reduce::DataStatistics& d = r.statistics;
  if (!d.analysed) {
    s.push_back("Space group: no reflections to test the absences with");
    return s;
  }
  const reduce::AbsenceAnalysis& a = d.absences;
  s.push_back(Printf("Systematic absences in %s, %d unique reflections (Friedel mates merged):",
                     r.laue->LaueSymbol().c_str(), a.measured));
  if (a.conditions.empty()) {
    s.push_back("  no group of the class has a reflection condition");
  } else {
    s.push_back("  zone   condition         forbidden: number >3sigma <I/sig>   allowed: number >3sigma <I/sig>");
    for (const reduce::AbsenceCondition& c : a.conditions)
      s.push_back(Printf("  %-6s %-17s            %s            %s", c.zone.c_str(), c.rule.c_str(),
                         Count(c.forbidden).c_str(), Count(c.allowed).c_str()));
  }
  s.push_back("Space groups of the class by the likelihood of the absences (ln L against the best; a tie forbids "
              "the same reflections, P is the tie's probability):");
  s.push_back("  tie  group                  No.  centric  forbidden >3sigma <I/sig>    ln L        P");
  std::size_t shown = 0;
  for (const reduce::SpaceGroupCandidate& g : a.groups) {
    if (g.tie != 0 && shown >= kRankedRows) break;
    s.push_back(Printf("  %3d  %-20s %5d  %-7s  %s %9.1f %8.2g", g.tie + 1, g.group->xhm().c_str(), g.group->number,
                       g.centrosymmetric ? "yes" : "no", Count(g.forbidden).c_str(), g.log_likelihood, g.probability));
    ++shown;
  }
  if (shown < a.groups.size())
    s.push_back(Printf("  ... and %d more groups, ln L %.1f or less", static_cast<int>(a.groups.size() - shown),
                       a.groups[shown].log_likelihood));
  for (const std::string& note : a.notes) s.push_back("  " + note);
  switch (d.choice) {
    case reduce::GroupChoice::kNamed:
      s.push_back(Printf("Space group %s (No. %d), as named: it forbids %d of the unique reflections, %d of them "
                         "above 3 sigma",
                         d.space_group->xhm().c_str(), d.space_group->number, d.named_forbidden.number,
                         d.named_forbidden.strong));
      if (d.named_forbidden.strong > reduce::kCentringObservedFraction * d.named_forbidden.number &&
          d.named_forbidden.strong >= reduce::kCentringObservedLeast)
        s.push_back("  Warning: the data contradict the group named: reflections it forbids are observed");
      break;
    case reduce::GroupChoice::kClearWinner:
      s.push_back(Printf("Space group %s (No. %d): %s; the CIF and the .ins name it", d.space_group->xhm().c_str(),
                         d.space_group->number, d.choice_note.c_str()));
      break;
    case reduce::GroupChoice::kUndecided:
      s.push_back("Space group not decided: " + d.choice_note + "; the CIF gives the Laue class only, an .ins takes " +
                  d.ins_group->xhm() + " (--space-group names one)");
      break;
  }
  return s;
}

std::vector<std::string> IntensityLines(const reduce::DataStatistics& d) {
  std::vector<std::string> s;
  if (!d.analysed) return s;
  const reduce::IntensityStatistics& st = d.intensities;
  const reduce::WilsonFit& w = st.wilson;
  int fitted = 0;
  for (const reduce::WilsonPoint& p : w.points) fitted += p.fitted;
  if (w.valid)
    s.push_back(Printf("Wilson plot: B %s A^2, scale %s (%d of %d points fitted, ln(<I>/sum f^2) against "
                       "(sin(theta)/lambda)^2 from d = 4 A on)%s",
                       reduce::WithUncertainty(w.b, w.b_esd, 2).c_str(),
                       reduce::WithUncertainty(w.scale, w.scale_esd, 4).c_str(), fitted,
                       static_cast<int>(w.points.size()), w.average_atom ? "; no formula: the average atom" : ""));
  const reduce::CentricTest& c = st.centric;
  s.push_back(Printf("Centric test over %d general reflections: <|E^2-1|> %.3f (0.968 centric, 0.736 acentric; "
                     "%.3f and %.3f with these errors); ln(L centric / L acentric) %.1f: %s",
                     c.reflections, c.mean_abs_e2_minus_1, c.expected_centric, c.expected_acentric, c.margin,
                     Verdict(c.verdict)));
  std::string z = "  N(z) at z = 0.1 .. 1.0:", centric = "          centric:", acentric = "        acentric:";
  z.resize(26, ' ');
  centric.resize(26, ' ');
  acentric.resize(26, ' ');
  for (int k = 0; k < 10; ++k) {
    z += Printf(" %.3f", c.n_z[k]);
    centric += Printf(" %.3f", c.n_z_centric[k]);
    acentric += Printf(" %.3f", c.n_z_acentric[k]);
  }
  s.push_back(z + Printf("  rms %.3f against centric, %.3f against acentric", c.rms_centric, c.rms_acentric));
  s.push_back(centric);
  s.push_back(acentric);
  const reduce::LTest& l = st.l_test;
  switch (l.verdict) {
    case reduce::TwinVerdict::kNotApplicable:
      s.push_back("L-test: not for centrosymmetric data");
      break;
    default:
      s.push_back(Printf("L-test over %d pairs: <|L|> %.3f (0.500 untwinned, 0.375 perfect twin), <L^2> %.3f (0.333, "
                         "0.200), %.1f standard errors from the midway: %s",
                         l.pairs, l.mean_abs_l, l.mean_l2, l.margin,
                         l.verdict == reduce::TwinVerdict::kUntwinned ? "untwinned"
                         : l.verdict == reduce::TwinVerdict::kTwinned ? "twinned"
                                                                      : "undecided"));
  }
  for (const std::string& note : st.notes) s.push_back("  " + note);
  return s;
}

std::vector<std::string> ResolutionLines(const reduce::DataStatistics& d) {
  std::vector<std::string> s;
  if (!d.analysed) return s;
  const reduce::ResolutionStatistics& r = d.resolution;
  s.push_back(Printf("Statistics against resolution in %s, %d shells of equal volume in reciprocal space:",
                     d.ins_group->xhm().c_str(), static_cast<int>(r.shells.size())));
  s.push_back("   d max   d min  measured  unique  possible  complete  multipl.  <I/sigma>   R_int   R_pim");
  const auto row = [](const char* lead, const reduce::ResolutionShell& x) {
    const std::string d_max = x.d_max > 0 ? Printf("%6.2f", x.d_max) : std::string("   inf");
    return Printf("%s%s  %6.2f  %8d  %6d  %8d  %8.3f  %8.2f  %9.1f  %6.4f  %6.4f", lead, d_max.c_str(), x.d_min,
                  x.measured, x.unique, x.possible, x.completeness, x.multiplicity, x.mean_i_over_sigma, x.r_int,
                  x.r_pim);
  };
  for (const reduce::ResolutionShell& x : r.shells) s.push_back(row("  ", x));
  s.push_back(row("  ", r.overall) + "  all");
  s.push_back(Printf("  theta_full %.2f degrees (complete %.3f up to it), theta_max %.2f degrees (%.3f); Friedel "
                     "coverage %.3f; %d measurements of absent reflections left out",
                     r.theta_full, r.fraction_theta_full, r.theta_max, r.fraction_theta_max, r.friedel_coverage,
                     r.absent_observations));
  return s;
}

}  // namespace kalvex::engine
