// The reduction report's page and its plots. Axes are laid out by
// plot/axis.h and drawn by report/svg.h, as in the integration report.
#include "report/reduction_report.h"

#include <gemmi/symmetry.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/fixed_fields.h"
#include "reduce/empirical_absorption.h"
#include "report/svg.h"

namespace kalvex::report {

using fields::Printf;

namespace {

constexpr const char* kPoints = "#1e5adc";
constexpr const char* kCentric = "#d21e1e";
constexpr const char* kAcentric = "#14aa3c";
constexpr const char* kFit = "#e68200";
constexpr double kRadPerDeg = std::numbers::pi / 180;
// The absorption surface's map: cells of this many degrees of azimuth and elevation.
constexpr int kMapStep = 5;

// A chart of the reduction report: its frame drawn, then its marks, its
// legend and its note.
class ChartFrame {
 public:
  ChartFrame(std::string id, std::string title, plot::Axis x, plot::Axis y, std::string x_title, std::string y_title,
             double right_margin = 18)
      : svg_(640, 300) {
    out_.x_title = std::move(x_title);
    out_.y_title = std::move(y_title);
    out_.chart.id = std::move(id);
    out_.chart.title = std::move(title);
    out_.chart.x = std::move(x);
    out_.chart.y = std::move(y);
    DrawChartFrame(svg_, out_.chart, out_.x_title, out_.y_title, right_margin);
  }
  plot::Point At(double x, double y) const { return out_.chart.At(x, y); }
  const Chart& chart() const { return out_.chart; }
  Svg& svg() { return svg_; }
  void Note(std::string note) { out_.chart.note = std::move(note); }
  // A line from the data's (x0, y0) to (x1, y1).
  void Segment(double x0, double y0, double x1, double y1, const char* colour, double width = 2) {
    const plot::Point a = At(x0, y0), b = At(x1, y1);
    svg_.Line(a.x, a.y, b.x, b.y, colour, width);
  }
  // A legend entry in the top right corner, the k-th from the top; or in the
  // bottom right corner, the k-th from the bottom.
  void Legend(int k, const std::string& text, const char* colour, bool bottom = false) {
    const Chart& c = out_.chart;
    svg_.Text(c.right - 4, bottom ? c.bottom - 6 - 14.0 * k : c.top + 14.0 * (k + 1), text, 11, colour, "end");
  }
  ReductionChart Done() {
    out_.chart.svg = svg_.Finish();
    return std::move(out_);
  }

 private:
  Svg svg_;
  ReductionChart out_;
};

// Every k-th of n, so that at most kMaxPoints are drawn.
std::size_t Stride(std::size_t n) { return std::max<std::size_t>(1, (n + kMaxPoints - 1) / kMaxPoints); }

std::string Fixed(double v, int decimals) { return Printf("%.*f", decimals, v); }

// An axis of 1/d from 0 out to the highest resolution, its ticks at round d.
plot::Axis ResolutionAxis(double d_min) {
  plot::Axis axis;
  axis.low = 0;
  axis.high = 1.02 / d_min;
  axis.step = 0;
  double last = -1;
  for (double d : {10.0, 5.0, 3.0, 2.0, 1.5, 1.2, 1.0, 0.9, 0.8, 0.7, 0.6, 0.5, 0.45, 0.4}) {
    const double x = 1 / d;
    if (x > axis.high) break;
    if (last >= 0 && x - last < 0.07 * axis.high) continue;
    axis.ticks.push_back({x, plot::TickLabel(d, d < 1 ? 0.01 : 0.1)});
    last = x;
  }
  return axis;
}

double ShellCentre(const reduce::ResolutionShell& s) {
  return 0.5 * ((s.d_max > 0 ? 1 / s.d_max : 0) + 1 / s.d_min);
}

// A quantity of the shells against resolution, points joined.
ReductionChart ShellChart(const reduce::ResolutionStatistics& r, const std::string& id, const std::string& title,
                          const std::string& y_title, double (*value)(const reduce::ResolutionShell&), double floor) {
  double high = floor;
  for (const reduce::ResolutionShell& s : r.shells) high = std::max(high, value(s));
  ChartFrame f(id, title, ResolutionAxis(r.shells.back().d_min), plot::LayOutAxis(0, high, 5, true),
               "d (\xC3\x85), on a scale of 1/d", y_title);
  std::vector<plot::Point> line;
  for (const reduce::ResolutionShell& s : r.shells) {
    if (s.unique == 0) continue;
    line.push_back(f.At(ShellCentre(s), value(s)));
    f.svg().Circle(line.back().x, line.back().y, 3.5, kPoints);
  }
  f.svg().Polyline(line, kPoints, 1.5);
  f.Note("Each shell at the middle of its range of 1/d; " + std::to_string(r.shells.size()) +
         " shells of equal volume in reciprocal space.");
  return f.Done();
}

ReductionChart NzChart(const reduce::CentricTest& c) {
  ChartFrame f("nz", "Cumulative distribution N(z) of the normalised intensities", plot::LayOutAxis(0, 1, 5, true),
               plot::LayOutAxis(0, 1, 5, true), "z = E\xC2\xB2 (normalised intensity, no unit)",
               "N(z), fraction with E\xC2\xB2 \xE2\x89\xA4 z");
  std::vector<plot::Point> centric, acentric;
  for (int k = 0; k <= 100; ++k) {
    const double z = k / 100.0;
    centric.push_back(f.At(z, std::erf(std::sqrt(z / 2))));
    acentric.push_back(f.At(z, 1 - std::exp(-z)));
  }
  f.svg().Polyline(centric, kCentric, 2);
  f.svg().Polyline(acentric, kAcentric, 2);
  for (int k = 0; k < 10; ++k) {
    const plot::Point p = f.At(0.1 * (k + 1), c.n_z[k]);
    f.svg().Circle(p.x, p.y, 4, kPoints);
  }
  f.Legend(0, "observed", kPoints);
  f.Legend(1, "centric: erf(\xE2\x88\x9A(z/2))", kCentric);
  f.Legend(2, "acentric: 1 \xE2\x88\x92 exp(\xE2\x88\x92z)", kAcentric);
  f.Note(Printf("%d general reflections; rms %.3f from the centric curve, %.3f from the acentric.", c.reflections,
                c.rms_centric, c.rms_acentric));
  return f.Done();
}

ReductionChart WilsonChart(const reduce::WilsonFit& w) {
  double x_high = 0, y_low = 0, y_high = 0;
  bool first = true;
  for (const reduce::WilsonPoint& p : w.points) {
    if (!(p.mean_intensity > 0)) continue;
    x_high = std::max(x_high, p.s2);
    y_low = first ? p.y : std::min(y_low, p.y);
    y_high = first ? p.y : std::max(y_high, p.y);
    first = false;
  }
  if (w.valid) {
    y_low = std::min(y_low, std::log(w.scale) - 2 * w.b * x_high);
    y_high = std::max(y_high, std::log(w.scale));
  }
  ChartFrame f("wilson", "Wilson plot", plot::LayOutAxis(0, x_high, 6, true), plot::LayOutAxis(y_low, y_high, 6, true),
               "s\xC2\xB2 = (sin \xCE\xB8 / \xCE\xBB)\xC2\xB2 (\xC3\x85\xE2\x81\xBB\xC2\xB2)",
               "ln(\xE2\x9F\xA8I\xE2\x9F\xA9 / \xCE\xA3" "f\xC2\xB2) (I on the HKLF 4 file's scale)");
  double fit_low = x_high, fit_high = 0;
  for (const reduce::WilsonPoint& p : w.points) {
    if (!(p.mean_intensity > 0)) continue;
    const plot::Point at = f.At(p.s2, p.y);
    f.svg().Circle(at.x, at.y, 3.5, p.fitted ? kPoints : "#9a9a9a");
    if (p.fitted) fit_low = std::min(fit_low, p.s2), fit_high = std::max(fit_high, p.s2);
  }
  if (w.valid) {
    const double a = std::log(w.scale);
    f.Segment(fit_low, a - 2 * w.b * fit_low, fit_high, a - 2 * w.b * fit_high, kFit);
    f.Legend(0, "fit: B " + reduce::WithUncertainty(w.b, w.b_esd, 2) + " \xC3\x85\xC2\xB2", kFit);
  }
  f.Note(std::string("Equal-count bins; grey points lie below s\xC2\xB2 = 1/64 (d > 4 \xC3\x85) and are not fitted.") +
         (w.average_atom ? " No formula: the atoms are an average carbon, one per 18 \xC3\x85\xC2\xB3." : ""));
  return f.Done();
}

ReductionChart LTestChart(const reduce::LTest& l) {
  ChartFrame f("ltest", "L-test: cumulative distribution of |L|", plot::LayOutAxis(0, 1, 5, true),
               plot::LayOutAxis(0, 1, 5, true),
               "|L| = |I\xE2\x82\x81 \xE2\x88\x92 I\xE2\x82\x82| / (I\xE2\x82\x81 + I\xE2\x82\x82) (no unit)",
               "N(|L|), fraction");
  f.Segment(0, 0, 1, 1, kAcentric);
  std::vector<plot::Point> twin;
  for (int k = 0; k <= 100; ++k) {
    const double x = k / 100.0;
    twin.push_back(f.At(x, x * (3 - x * x) / 2));
  }
  f.svg().Polyline(twin, kCentric, 2);
  for (int k = 0; k < 10; ++k) {
    const plot::Point p = f.At(0.1 * (k + 1), l.n_l[k]);
    f.svg().Circle(p.x, p.y, 4, kPoints);
  }
  f.Legend(2, "observed", kPoints, true);
  f.Legend(1, "untwinned: |L|", kAcentric, true);
  f.Legend(0, "perfect twin: |L|(3 \xE2\x88\x92 L\xC2\xB2)/2", kCentric, true);
  f.Note(Printf("%d pairs; <|L|> %.3f (0.500 untwinned, 0.375 perfect twin).", l.pairs, l.mean_abs_l));
  return f.Done();
}

// The transmission of every kept ordinary reflection against `x`.
template <class X>
ReductionChart TransmissionChart(const reduce::Reduction& r, const std::string& id, const std::string& title,
                                 const std::string& x_title, X x) {
  double low = 0, high = 1;
  for (const reduce::ReducedReflection& m : r.reflections)
    if (r.Kept(m)) high = std::max(high, x(r.Record(m)));
  ChartFrame f(id, title, plot::LayOutAxis(low, high, 8, true),
               plot::LayOutAxis(std::min(r.absorption.t_min, 1.0) * 0.98, r.absorption.t_max, 5, true), x_title,
               "transmission A (fraction)");
  std::size_t n = 0;
  for (const reduce::ReducedReflection& m : r.reflections) n += r.Kept(m);
  const std::size_t stride = Stride(n);
  std::size_t k = 0;
  for (const reduce::ReducedReflection& m : r.reflections) {
    if (!r.Kept(m) || k++ % stride != 0) continue;
    const plot::Point p = f.At(x(r.Record(m)), m.transmission);
    f.svg().Circle(p.x, p.y, 2, kPoints, 0.7);
  }
  f.Note(Printf("%zu reflections%s.", n, stride > 1 ? Printf(", every %zu-th drawn", stride).c_str() : ""));
  return f.Done();
}

ReductionChart RIntChart(const reduce::AbsorptionCorrection& a) {
  plot::Axis x;
  x.low = -0.5;
  x.high = 1.5;
  x.ticks = {{0, "before"}, {1, "after"}};
  const double high = std::max(a.r_int_before, a.r_int_after);
  ChartFrame f("rint_absorption", "R_int before and after the absorption correction", x,
               plot::LayOutAxis(0, high > 0 ? high : 0.01, 5, true), "the data (before / after the correction)",
               "R_int (fraction)");
  const double values[2] = {a.r_int_before, a.r_int_after};
  for (int i = 0; i < 2; ++i) {
    const plot::Point top = f.At(i - 0.3, values[i]), base = f.At(i + 0.3, 0);
    f.svg().Rect(top.x, top.y, base.x - top.x, base.y - top.y, i == 0 ? kCentric : kAcentric);
    f.svg().Text((top.x + base.x) / 2, top.y - 4, Fixed(values[i], 4), 11, "#333", "middle");
  }
  return f.Done();
}

// A colour for v in [0, 1]: dark blue through green to yellow.
std::string Ramp(double v) {
  static constexpr double kStops[5][3] = {{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
  const double t = std::clamp(v, 0.0, 1.0) * 4;
  const int i = std::min(3, static_cast<int>(t));
  const double f = t - i;
  int c[3];
  for (int k = 0; k < 3; ++k) c[k] = static_cast<int>(std::lround(kStops[i][k] + f * (kStops[i + 1][k] - kStops[i][k])));
  return Printf("#%02x%02x%02x", c[0], c[1], c[2]);
}

// exp g(u) of the empirical surface over every direction u of the crystal's
// frame: the factor one beam along u contributes to the transmission.
ReductionChart SurfaceChart(const reduce::EmpiricalAbsorption& e) {
  plot::Axis x = plot::LayOutAxis(-180, 180, 8, false), y = plot::LayOutAxis(-90, 90, 6, false);
  ChartFrame f("surface", "The absorption surface over the incident beam's direction", x, y,
               "azimuth of the direction in the crystal's frame (\xC2\xB0)", "elevation (\xC2\xB0)", 90);
  const int columns = 360 / kMapStep, rows = 180 / kMapStep;
  std::vector<double> value(columns * rows), harmonics;
  double low = 0, high = 0;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < columns; ++i) {
      const double az = (-180 + (i + 0.5) * kMapStep) * kRadPerDeg, el = (-90 + (j + 0.5) * kMapStep) * kRadPerDeg;
      reduce::RealSphericalHarmonics(e.lmax, {std::cos(el) * std::cos(az), std::cos(el) * std::sin(az), std::sin(el)},
                                     harmonics);
      double g = 0;
      for (std::size_t p = 0; p < e.c.size(); ++p) g += e.c[p] * harmonics[p];
      value[j * columns + i] = g;
      low = (i == 0 && j == 0) ? g : std::min(low, g);
      high = (i == 0 && j == 0) ? g : std::max(high, g);
    }
  const double span = high > low ? high - low : 1;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < columns; ++i) {
      const plot::Point a = f.At(-180 + i * kMapStep, -90 + (j + 1) * kMapStep);
      const plot::Point b = f.At(-180 + (i + 1) * kMapStep, -90 + j * kMapStep);
      f.svg().Rect(a.x, a.y, b.x - a.x + 0.3, b.y - a.y + 0.3, Ramp((value[j * columns + i] - low) / span));
    }
  // The colour scale: exp g relative to its largest value.
  const Chart& c = f.chart();
  const double bar_x = c.right + 24, bar_h = c.bottom - c.top;
  for (int k = 0; k < 50; ++k)
    f.svg().Rect(bar_x, c.bottom - (k + 1) * bar_h / 50, 14, bar_h / 50 + 0.3, Ramp((k + 0.5) / 50));
  f.svg().Text(bar_x + 18, c.top + 8, "1", 11, "#333");
  f.svg().Text(bar_x + 18, c.bottom, Fixed(std::exp(low - high), 3), 11, "#333");
  f.svg().Text(bar_x - 4, c.top - 10, "relative factor", 11, "#333");
  f.Note(Printf("exp g(u) over its largest value (%d-degree cells); a measurement's transmission is the scale times "
                "exp g(reversed incident) exp g(diffracted).",
                kMapStep));
  return f.Done();
}

double Completeness(const reduce::ResolutionShell& s) { return s.completeness; }
double MeanIOverSigma(const reduce::ResolutionShell& s) { return s.mean_i_over_sigma; }
double RInt(const reduce::ResolutionShell& s) { return s.r_int; }

std::string Cell(const std::string& text) { return "<td>" + Escape(text) + "</td>"; }
std::string Head(const std::string& text) { return "<th>" + Escape(text) + "</th>"; }

std::string LaueTable(const reduce::Reduction& r) {
  std::string h = "<table><tr>" + Head("class") + Head("order") + Head("unique") + Head("groups") + Head("R_int") +
                  Head("R_meas") + Head("\xCF\x83(I)/I") + "</tr>\n";
  for (std::size_t i = 0; i < r.table.size(); ++i) {
    const reduce::MergingStatistics& m = r.table[i];
    h += std::string(i == r.chosen ? "<tr style=\"font-weight:bold\">" : "<tr>") + Cell(m.label) +
         Cell(std::to_string(m.order)) + Cell(std::to_string(m.unique)) + Cell(std::to_string(m.groups)) +
         Cell(Fixed(m.r_int, 4)) + Cell(Fixed(m.r_meas, 4)) + Cell(Fixed(m.r_sigma, 4)) + "</tr>\n";
  }
  return h + "</table>\n";
}

std::string Counts(const reduce::ReflectionCount& c) {
  return Cell(std::to_string(c.number)) + Cell(std::to_string(c.strong)) + Cell(Fixed(c.mean_i_over_sigma, 1));
}

std::string AbsenceTables(const reduce::DataStatistics& s) {
  const reduce::AbsenceAnalysis& a = s.absences;
  std::string h = "<h2>Systematic absences</h2>\n<table><tr>" + Head("zone") + Head("condition") +
                  Head("forbidden") + Head("> 3\xCF\x83") + Head("\xE2\x9F\xA8I/\xCF\x83\xE2\x9F\xA9") +
                  Head("allowed") + Head("> 3\xCF\x83") + Head("\xE2\x9F\xA8I/\xCF\x83\xE2\x9F\xA9") + "</tr>\n";
  for (const reduce::AbsenceCondition& c : a.conditions)
    h += "<tr>" + Cell(c.zone) + Cell(c.rule) + Counts(c.forbidden) + Counts(c.allowed) + "</tr>\n";
  h += "</table>\n<p class=\"note\">" + std::to_string(a.measured) +
       " unique reflections, Friedel mates merged; each condition's zone split into the reflections it forbids and "
       "those it allows.</p>\n";
  h += "<h2>Space groups of the class</h2>\n<table><tr>" + Head("tie") + Head("group") + Head("No.") +
       Head("centric") + Head("forbidden") + Head("> 3\xCF\x83") + Head("\xE2\x9F\xA8I/\xCF\x83\xE2\x9F\xA9") +
       Head("ln L") + Head("P") + "</tr>\n";
  for (const reduce::SpaceGroupCandidate& g : a.groups) {
    const bool chosen = g.group == s.space_group;
    h += std::string(chosen ? "<tr style=\"font-weight:bold\">" : "<tr>") + Cell(std::to_string(g.tie + 1)) +
         Cell(g.group->xhm()) + Cell(std::to_string(g.group->number)) + Cell(g.centrosymmetric ? "yes" : "no") +
         Counts(g.forbidden) + Cell(Fixed(g.log_likelihood, 1)) + Cell(Printf("%.2g", g.probability)) + "</tr>\n";
  }
  h += "</table>\n<p class=\"note\">Ranked by the likelihood of the merged intensities (ln L against the best): a "
       "reflection a group forbids is taken as noise about zero, one it allows as drawn from the Wilson distribution "
       "of its shell. Groups of one tie forbid the same measured reflections; P is the probability of the tie.</p>\n";
  for (const std::string& note : a.notes) h += "<p class=\"note\">" + Escape(note) + ".</p>\n";
  const std::string decision =
      s.choice == reduce::GroupChoice::kNamed
          ? "Space group " + s.space_group->xhm() + Printf(" (No. %d), as named", s.space_group->number)
      : s.choice == reduce::GroupChoice::kClearWinner
          ? "Space group " + s.space_group->xhm() + Printf(" (No. %d): ", s.space_group->number) + s.choice_note
          : "Space group not decided: " + s.choice_note + "; the CIF gives the Laue class only";
  return h + "<p><b>" + Escape(decision) + ".</b></p>\n";
}

std::string ResolutionTable(const reduce::ResolutionStatistics& r) {
  std::string h = "<table><tr>" + Head("d max (\xC3\x85)") + Head("d min (\xC3\x85)") + Head("measured") +
                  Head("unique") + Head("possible") + Head("completeness") + Head("multiplicity") +
                  Head("\xE2\x9F\xA8I/\xCF\x83\xE2\x9F\xA9") + Head("R_int") + Head("R_pim") + "</tr>\n";
  const auto row = [](const reduce::ResolutionShell& s, bool all) {
    return std::string(all ? "<tr style=\"font-weight:bold\">" : "<tr>") +
           Cell(s.d_max > 0 ? Fixed(s.d_max, 2) : "\xE2\x88\x9E") + Cell(Fixed(s.d_min, 2)) +
           Cell(std::to_string(s.measured)) + Cell(std::to_string(s.unique)) + Cell(std::to_string(s.possible)) +
           Cell(Fixed(s.completeness, 3)) + Cell(Fixed(s.multiplicity, 2)) + Cell(Fixed(s.mean_i_over_sigma, 1)) +
           Cell(Fixed(s.r_int, 4)) + Cell(Fixed(s.r_pim, 4)) + "</tr>\n";
  };
  for (const reduce::ResolutionShell& s : r.shells) h += row(s, false);
  h += row(r.overall, true) + "</table>\n";
  return h + Printf("<p class=\"note\">\xCE\xB8_full %.2f\xC2\xB0 (completeness %.3f up to it), \xCE\xB8_max %.2f\xC2\xB0 "
                    "(%.3f); Friedel coverage %.3f.</p>\n",
                    r.theta_full, r.fraction_theta_full, r.theta_max, r.fraction_theta_max, r.friedel_coverage);
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:1400px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    "table{border-collapse:collapse;margin:8px 0}td,th{border:1px solid #ccc;padding:3px 10px;text-align:right}"
    "th{background:#f2f2f2}p.note{color:#555;font-size:13px;margin:4px 0}";

}  // namespace

ReductionPage BuildReductionReport(const reduce::Reduction& r, const std::string& data_name) {
  ReductionPage page;
  const reduce::DataStatistics& s = r.statistics;
  const reduce::AbsorptionCorrection& a = r.absorption;
  std::string& h = page.html;
  h = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n";
  h += "<title>Win-Kalvex reduction: " + Escape(data_name) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  h += "<h1>Win-Kalvex reduction: " + Escape(data_name) + "</h1>\n";
  const auto add = [&page, &h](ReductionChart c) {
    h += "<h2>" + Escape(c.chart.title) + "</h2>\n" + c.chart.svg;
    if (!c.chart.note.empty()) h += "<p class=\"note\">" + Escape(c.chart.note) + "</p>\n";
    page.charts.push_back(std::move(c));
  };

  h += "<h2>Laue classes the cell allows</h2>\n" + LaueTable(r);
  h += "<p class=\"note\">Best first; the class in bold is the one the data merge in" +
       std::string(r.no_symmetry ? " (no class beyond -1 merges well enough)" : "") + ".</p>\n";

  if (a.method != reduce::AbsorptionMethod::kNone) {
    h += "<h2>Absorption correction</h2>\n<p>" +
         Escape(Printf("%s: transmission %.4f to %.4f; R_int %.4f before, %.4f after", reduce::CorrectionType(a.method),
                       a.t_min, a.t_max, a.r_int_before, a.r_int_after)) +
         (a.mu ? Escape(Printf("; \xCE\xBC %.4g mm\xE2\x81\xBB\xC2\xB9", *a.mu)) : std::string()) +
         (a.against_faces ? Escape(Printf("; against the faces' numerical transmission: rms %.1f %%, worst %.1f %%",
                                          100 * a.against_faces->rms, 100 * a.against_faces->worst))
                          : std::string()) +
         ".</p>\n";
    add(TransmissionChart(r, "transmission_seq", "Transmission against sequence number", "sequence number (measurement)",
                          [](const reduce::IntensityRecord& x) { return static_cast<double>(x.seq_no); }));
    add(TransmissionChart(r, "transmission_2theta", "Transmission against 2\xCE\xB8", "2\xCE\xB8 (\xC2\xB0)",
                          [](const reduce::IntensityRecord& x) { return std::fabs(static_cast<double>(x.angles[0])); }));
    add(RIntChart(a));
    if (a.method == reduce::AbsorptionMethod::kEmpirical) add(SurfaceChart(a.empirical));
  }

  if (s.analysed) {
    h += AbsenceTables(s);
    const reduce::IntensityStatistics& st = s.intensities;
    h += "<h2>Intensity statistics</h2>\n<p>" +
         Escape(Printf("\xE2\x9F\xA8|E\xC2\xB2 \xE2\x88\x92 1|\xE2\x9F\xA9 %.3f (0.968 centric, 0.736 acentric; %.3f and "
                       "%.3f with these errors); ln(L centric / L acentric) %.1f: ",
                       st.centric.mean_abs_e2_minus_1, st.centric.expected_centric, st.centric.expected_acentric,
                       st.centric.margin)) +
         (st.centric.verdict == reduce::Centricity::kCentric     ? "centrosymmetric"
          : st.centric.verdict == reduce::Centricity::kAcentric ? "non-centrosymmetric"
                                                                 : "undecided") +
         ".</p>\n";
    for (const std::string& note : st.notes) h += "<p class=\"note\">" + Escape(note) + ".</p>\n";
    add(NzChart(st.centric));
    add(WilsonChart(st.wilson));
    if (st.l_test.pairs > 0) {
      add(LTestChart(st.l_test));
    } else {
      h += "<p class=\"note\">L-test: " +
           std::string(st.l_test.verdict == reduce::TwinVerdict::kNotApplicable ? "not for centrosymmetric data"
                                                                                 : "no pairs of reflections") +
           ".</p>\n";
    }
    h += "<h2>Statistics against resolution in " + Escape(s.ins_group->xhm()) + "</h2>\n" +
         ResolutionTable(s.resolution);
    if (!s.resolution.shells.empty() && s.resolution.overall.unique > 0) {
      add(ShellChart(s.resolution, "completeness", "Completeness against resolution",
                     "completeness (fraction of the unique reflections possible)", Completeness, 1));
      add(ShellChart(s.resolution, "isigma", "\xE2\x9F\xA8I/\xCF\x83\xE2\x9F\xA9 against resolution",
                     "\xE2\x9F\xA8I/\xCF\x83\xE2\x9F\xA9 of the merged reflections (no unit)", MeanIOverSigma, 1));
      add(ShellChart(s.resolution, "rint", "R_int against resolution", "R_int (fraction)", RInt, 0.01));
    }
  }
  h += "</body>\n</html>\n";
  return page;
}

}  // namespace kalvex::report
