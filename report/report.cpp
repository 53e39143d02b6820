// The report's page and its plots. Every axis is laid out by plot/axis.h,
// the gallery's scans drawn by plot/'s scan picture, as in the window.
#include "report/report.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "common/fixed_fields.h"
#include "reduce/corrections.h"
#include "report/svg.h"

namespace kalvex::report {

using fields::Printf;

namespace {

constexpr double kHalfRadPerDeg = 0.00872664626;
constexpr char kOutcomeLetters[] = " ECDBIPWRFS";  // [k - 1] names counter k
constexpr const char* kSeries[] = {"#1e5adc", "#d21e1e", "#14aa3c", "#e68200", "#be00be",
                                   "#00a0aa", "#5a5a5a", "#8c5a00", "#141e5a", "#a0a000"};
constexpr const char* kPoints = "#1e5adc";

// A chart with its frame drawn, its data marks to follow.
class ChartBuilder {
 public:
  ChartBuilder(std::string id, std::string title, plot::Axis x, plot::Axis y, const std::string& x_title,
               const std::string& y_title, double width = 640, double height = 300, bool y_log = false)
      : svg(width, height) {
    chart.y_log = y_log;
    chart.id = std::move(id);
    chart.title = std::move(title);
    chart.x = std::move(x);
    chart.y = std::move(y);
    DrawChartFrame(svg, chart, x_title, y_title);
  }
  plot::Point At(double x, double y) const { return chart.At(x, y); }
  Chart Done() {
    chart.svg = svg.Finish();
    return std::move(chart);
  }

  Svg svg;
  Chart chart;
};

// Every k-th of n, so that at most kMaxPoints are drawn.
int Stride(std::size_t n) { return static_cast<int>(std::max<std::size_t>(1, (n + kMaxPoints - 1) / kMaxPoints)); }

// Decades from below 1 up to the largest count, labelled 1, 10, 100, ...:
// a bar of 3 rejected reflections stands beside one of 3000 accepted.
plot::Axis Decades(int most) {
  plot::Axis axis;
  const int top = std::max(1, static_cast<int>(std::ceil(std::log10(std::max(most, 1)) - 1e-9)));
  axis.low = std::log10(0.5);
  axis.high = top;
  axis.step = 1;
  for (int k = 0; k <= top; ++k) axis.ticks.push_back({static_cast<double>(k), Printf("%.0f", std::pow(10.0, k))});
  return axis;
}

Chart ClassificationChart(const ReportInput& in) {
  std::vector<std::pair<std::string, int>> bars = {{"OK", in.outcome[1]}};
  for (int k = 2; k <= kOutcomeCounters; ++k) bars.push_back({std::string(1, kOutcomeLetters[k - 1]), in.outcome[k]});
  int most = 0;
  for (const auto& b : bars) most = std::max(most, b.second);
  plot::Axis x;
  x.low = -0.5;
  x.high = static_cast<double>(bars.size()) - 0.5;
  x.step = 1;
  for (std::size_t i = 0; i < bars.size(); ++i) x.ticks.push_back({static_cast<double>(i), bars[i].first});
  ChartBuilder b("classification", "Reflections as classified by integration", x, Decades(most),
                 "accepted (OK) and rejected, by reason letter (see the legend)", "reflections (log scale)", 640, 300,
                 true);
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const plot::Point base = b.At(static_cast<double>(i) + 0.35, 0.5);
    const plot::Point top = b.At(static_cast<double>(i) - 0.35, std::max(bars[i].second, 0) > 0 ? bars[i].second : 0.5);
    if (bars[i].second > 0) b.svg.Rect(top.x, top.y, base.x - top.x, base.y - top.y, i == 0 ? "#14aa3c" : "#d21e1e");
    b.svg.Text((top.x + base.x) / 2, top.y - 4, std::to_string(bars[i].second), 10, "#333", "middle");
  }
  b.chart.note = "Heights on a log scale: each grid line is ten times the one below.";
  return b.Done();
}

Chart FwhmChart(const ReportInput& in) {
  const SessionRecord& r = *in.record;
  double t_high = 0, w_high = 0;
  for (const NotedReflection& n : r.accepted) {
    t_high = std::max(t_high, std::tan(kHalfRadPerDeg * n.two_theta));
    w_high = std::max(w_high, static_cast<double>(n.fwhm));
  }
  if (r.fwhm_line) w_high = std::max(w_high, r.fwhm_a + r.fwhm_b * t_high);
  ChartBuilder b("fwhm", "FWHM against tan(\xCE\xB8) of the accepted reflections", plot::LayOutAxis(0, t_high, 6, true),
                 plot::LayOutAxis(0, w_high, 5, true), "tan(\xCE\xB8)", "FWHM (\xC2\xB0)");
  const int stride = Stride(r.accepted.size());
  for (std::size_t i = 0; i < r.accepted.size(); i += stride) {
    const NotedReflection& n = r.accepted[i];
    const plot::Point p = b.At(std::tan(kHalfRadPerDeg * n.two_theta), n.fwhm);
    b.svg.Circle(p.x, p.y, 2.5, kPoints);
  }
  // The line over the points, thin enough to leave each point showing.
  if (r.fwhm_line) {
    const plot::Point a = b.At(b.chart.x.low, r.fwhm_a + r.fwhm_b * b.chart.x.low);
    const plot::Point c = b.At(b.chart.x.high, r.fwhm_a + r.fwhm_b * b.chart.x.high);
    b.svg.Line(a.x, a.y, c.x, c.y, "#d21e1e", 1);
    b.chart.note = Printf("Red line: \"Calc FWHM\", FWHM = %.4f + %.4f tan(\xCE\xB8).", r.fwhm_a, r.fwhm_b);
  } else {
    b.chart.note = "\"Calc FWHM\" was not run in this session.";
  }
  return b.Done();
}

// The decay the standards show, from reduce/: every other reflection measured
// between two standards parts one round from the next, as in the file.
reduce::DecayModel Decay(const SessionRecord& r) {
  std::vector<reduce::IntensityRecord> records;
  int previous = 0;
  for (const NotedStandard& s : r.standards) {
    if (previous > 0 && s.seq_no > previous + 1) {
      reduce::IntensityRecord between;
      between.seq_no = previous + 1;
      between.class_code = "NF";
      records.push_back(between);
    }
    reduce::IntensityRecord rec;
    rec.seq_no = s.seq_no;
    rec.standard_index = s.standard_index;
    rec.intensity = s.intensity;
    rec.sigma = s.sigma;
    rec.class_code = s.accepted ? "SF" : "SR";
    records.push_back(rec);
    previous = s.seq_no;
  }
  return reduce::FitDecay(records);
}

Chart StandardsChart(const ReportInput& in) {
  const SessionRecord& r = *in.record;
  // Each standard against its first accepted measurement.
  std::map<int, std::vector<std::pair<int, double>>> series;
  std::map<int, double> first;
  int seq_low = 0, seq_high = 1;
  double v_low = 1, v_high = 1;
  for (const NotedStandard& s : r.standards) {
    if (!s.accepted || !(s.intensity > 0)) continue;
    if (!first.count(s.standard_index)) first[s.standard_index] = s.intensity;
    const double v = s.intensity / first[s.standard_index];
    series[s.standard_index].push_back({s.seq_no, v});
    seq_low = seq_low == 0 ? s.seq_no : std::min(seq_low, s.seq_no);
    seq_high = std::max(seq_high, s.seq_no);
    v_low = std::min(v_low, v);
    v_high = std::max(v_high, v);
  }
  const reduce::DecayModel decay = Decay(r);
  if (decay.Usable())
    for (const reduce::DecayRound& round : decay.rounds) {
      v_low = std::min(v_low, round.scale);
      v_high = std::max(v_high, round.scale);
    }
  ChartBuilder b("standards", "Standards against sequence number, each over its first measurement",
                 plot::LayOutAxis(seq_low, seq_high, 8, true), plot::LayOutAxis(v_low, v_high, 5, true),
                 "sequence number", "I / I(first)");
  // The decay scale under the standards' own points.
  if (decay.Usable()) {
    std::vector<plot::Point> line;
    for (const reduce::DecayRound& round : decay.rounds) line.push_back(b.At(round.seq, round.scale));
    for (std::size_t i = 1; i < line.size(); ++i)
      b.svg.Line(line[i - 1].x, line[i - 1].y, line[i].x, line[i].y, "#9a9a9a", 4, "8,5");
    b.chart.note = "Dashed grey: the decay scale of each round of standards (" +
                   Printf("%.1f", decay.largest_decay_percent) + " % at most).";
  } else {
    b.chart.note = series.empty() ? "No standard was measured and accepted." : "No decay scale: " + decay.refusal;
  }
  int k = 0;
  for (const auto& [index, points] : series) {
    std::vector<plot::Point> line;
    for (const auto& [seq, v] : points) line.push_back(b.At(seq, v));
    const char* colour = kSeries[k++ % 10];
    b.svg.Polyline(line, colour, 1.2);
    for (const plot::Point& p : line) b.svg.Circle(p.x, p.y, 3, colour);
    b.svg.Text(b.chart.right - 4, b.chart.top + 14.0 * k, "standard " + std::to_string(index), 11, colour, "end");
  }
  return b.Done();
}

Chart OmegaChart(const ReportInput& in) {
  const SessionRecord& r = *in.record;
  double t_high = 0, d_high = 0.01;
  for (const OmegaResidual& o : r.omega) {
    t_high = std::max(t_high, static_cast<double>(o.two_theta));
    d_high = std::max(d_high, std::fabs(static_cast<double>(o.observed_minus_predicted)));
  }
  ChartBuilder b("omega", "\xCF\x89 observed \xE2\x88\x92 predicted after \"Calc UB\"",
                 plot::LayOutAxis(0, t_high, 6, true), plot::LayOutAxis(-d_high, d_high, 6, true),
                 "2\xCE\xB8 (\xC2\xB0)", "\xCE\x94\xCF\x89 (\xC2\xB0)");
  const plot::Point z0 = b.At(b.chart.x.low, 0), z1 = b.At(b.chart.x.high, 0);
  b.svg.Line(z0.x, z0.y, z1.x, z1.y, "#5a5a5a", 1);
  for (const OmegaResidual& o : r.omega) {
    const plot::Point p = b.At(o.two_theta, o.observed_minus_predicted);
    b.svg.Circle(p.x, p.y, 2.5, kPoints);
  }
  b.chart.note = r.orientation_refined ? std::to_string(r.omega.size()) + " reflections of the refinement."
                                       : "\"Calc UB\" was not run in this session.";
  return b.Done();
}

Chart HistogramChart(const ReportInput& in) {
  const SessionRecord& r = *in.record;
  double low = 0, high = 1;
  for (const NotedReflection& n : r.accepted) {
    low = std::min(low, static_cast<double>(n.i_over_sigma));
    high = std::max(high, static_cast<double>(n.i_over_sigma));
  }
  // Round bins, about forty over the range.
  const plot::Axis bins = plot::LayOutAxis(low, high, 40, true);
  const int count = std::max(1, static_cast<int>(std::lround((bins.high - bins.low) / bins.step)));
  std::vector<int> in_bin(count, 0);
  for (const NotedReflection& n : r.accepted) {
    const int k = static_cast<int>(std::floor((n.i_over_sigma - bins.low) / bins.step));
    ++in_bin[std::clamp(k, 0, count - 1)];
  }
  const int most = *std::max_element(in_bin.begin(), in_bin.end());
  ChartBuilder b("isigma", "I/\xCF\x83 of the accepted reflections", plot::LayOutAxis(bins.low, bins.high, 8, true),
                 plot::LayOutAxis(0, std::max(most, 1), 5, true), "I/\xCF\x83", "reflections");
  for (int k = 0; k < count; ++k) {
    if (in_bin[k] == 0) continue;
    const plot::Point top = b.At(bins.low + k * bins.step, in_bin[k]);
    const plot::Point base = b.At(bins.low + (k + 1) * bins.step, 0);
    b.svg.Rect(top.x, top.y, base.x - top.x, base.y - top.y, kPoints, "#ffffff");
  }
  b.chart.note = "Bins of " + plot::TickLabel(bins.step, bins.step) + ".";
  return b.Done();
}

std::vector<GalleryItem> Gallery(const SessionRecord& r) {
  std::vector<const KeptScan*> worst;
  for (const KeptScan& k : r.rejected) worst.push_back(&k);
  std::sort(worst.begin(), worst.end(), [](const KeptScan* a, const KeptScan* b) { return a->rwp > b->rwp; });
  std::vector<GalleryItem> items;
  for (const KeptScan* k : worst) {
    const std::size_t n = static_cast<std::size_t>(std::clamp(k->step_count, 0, kMaxSteps));
    plot::ScanTrace trace;
    trace.x = {k->x.data(), n};
    trace.counts = {k->counts.data(), n};
    trace.fit = {k->fit.data(), n};
    trace.position = k->position;
    if (k->doublet) trace.alpha2 = k->alpha2;
    trace.caption = k->caption;
    GalleryItem item;
    item.seq_no = k->seq_no;
    item.reason = k->reason;
    item.rwp = k->rwp;
    item.width = 420;
    item.height = 280;
    // The picture's units are the SVG's pixels; its texts are 9 pixels high
    // (Svg::Draw), which the margins are laid out for.
    const plot::TextMetrics text{5.4f, 11.5f};
    item.picture = plot::DrawScan(trace, 0, 0, static_cast<float>(item.width), static_cast<float>(item.height), 3.2f,
                                  {}, text);
    Svg svg(item.width, item.height);
    svg.Draw(item.picture, 0, 0, item.width, item.height);
    item.svg = svg.Finish();
    items.push_back(std::move(item));
  }
  return items;
}

// The letters of a rejected fit, with what each says, in the order the
// classification counts them.
constexpr std::pair<char, const char*> kReasons[] = {
    {'E', "the fit's normal matrix was singular"},
    {'C', "the fit did not converge in 200 passes"},
    {'D', "no parameter was free to refine"},
    {'B', "the background is outside its limits"},
    {'I', "the intensity is below its lower limit"},
    {'P', "the position is outside its window about the expected centre"},
    {'W', "the FWHM of the doublet test is outside its limits"},
    {'R', "the alpha2/alpha1 ratio of the doublet test is outside its limits"},
    {'F', "Rwp is above its limit (the reflection is still integrated)"},
    {'S', "Eta is outside its limits, or any other reason"},
};

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:1400px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    "table{border-collapse:collapse;margin:8px 0}td,th{border:1px solid #ccc;padding:3px 10px;text-align:right}"
    "th{background:#f2f2f2}p.note{color:#555;font-size:13px;margin:4px 0}"
    "div.gallery{display:flex;flex-wrap:wrap;gap:10px}div.scan{border:1px solid #ddd;padding:4px}"
    "div.scan p{margin:2px;font-size:12px}dl.legend{display:grid;grid-template-columns:2em auto;gap:2px 8px;"
    "font-size:13px;margin:8px 0}dl.legend dt{font-weight:bold;text-align:center}dl.legend dd{margin:0}"
    "p.title{font-size:14px;line-height:1.5}";

}  // namespace

std::string ReasonMeaning(char reason) {
  for (const auto& [letter, meaning] : kReasons)
    if (letter == reason) return meaning;
  return {};
}

Report BuildReport(const ReportInput& in) {
  static const SessionRecord kNothing;
  ReportInput input = in;
  if (!input.record) input.record = &kNothing;
  const SessionRecord& r = *input.record;
  Report report;
  report.charts.push_back(ClassificationChart(input));
  report.charts.push_back(FwhmChart(input));
  report.charts.push_back(StandardsChart(input));
  if (r.orientation_refined) report.charts.push_back(OmegaChart(input));
  report.charts.push_back(HistogramChart(input));
  report.gallery = Gallery(r);

  std::string& h = report.html;
  h = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n";
  h += "<title>Win-Kalvex report: " + Escape(input.data_name) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  h += "<h1>Win-Kalvex report: " + Escape(input.data_name) + "</h1>\n";
  // What the session worked on, and what it came to.
  int read = 0, accepted = input.outcome[1], rejected = 0;
  for (int c : input.input_class) read += c;
  for (int k = 2; k <= kOutcomeCounters; ++k) rejected += input.outcome[k];
  const auto named = [](const std::string& what, const std::string& name) {
    return what + " <b>" + (name.empty() ? std::string("none") : Escape(name)) + "</b>";
  };
  h += "<p class=\"title\">" + named("Data file", input.data_name);
  if (!input.format.empty()) h += " (" + Escape(input.format) + ")";
  const std::string title(fields::TrimRight(input.title));
  if (title.find_first_not_of(' ') != std::string::npos) h += ", \u201c" + Escape(title) + "\u201d";
  h += "; " + named("parameter file", input.parameters) + "; " + named("intensity file", input.output) + ".<br/>";
  h += std::to_string(read) + " reflections read; " + std::to_string(accepted) + " accepted and " +
       std::to_string(rejected) + " rejected at their first fit; " + std::to_string(r.accepted.size()) +
       " ordinary reflections and " + std::to_string(r.standards.size()) + " measurements of standards written";
  if (!input.date.empty()) h += ". Report written " + Escape(input.date);
  h += ".</p>\n";

  static const char* kInput[kInputClasses] = {"LT", "weak", "normal", "strong", "standards", "filtered"};
  h += "<h2>Classification</h2>\n<table><tr><th>in the input file</th>";
  for (const char* name : kInput) h += std::string("<th>") + name + "</th>";
  int total = 0;
  for (int c : input.input_class) total += c;
  h += "<th>total</th></tr>\n<tr><td>reflections</td>";
  for (int c : input.input_class) h += "<td>" + std::to_string(c) + "</td>";
  h += "<td>" + std::to_string(total) + "</td></tr></table>\n<table><tr><th>by integration</th><th>OK</th>";
  for (int k = 2; k <= kOutcomeCounters; ++k) h += std::string("<th>") + kOutcomeLetters[k - 1] + "</th>";
  h += "</tr>\n<tr><td>reflections</td>";
  for (int k = 1; k <= kOutcomeCounters; ++k) h += "<td>" + std::to_string(input.outcome[k]) + "</td>";
  h += "</tr></table>\n<dl class=\"legend\">\n<dt>OK</dt><dd>accepted at the first fit</dd>\n";
  for (const auto& [letter, meaning] : kReasons)
    h += std::string("<dt>") + letter + "</dt><dd>rejected: " + Escape(meaning) + "</dd>\n";
  h += "</dl>\n";
  for (const Chart& c : report.charts) {
    if (c.id != "classification") h += "<h2>" + Escape(c.title) + "</h2>\n";
    h += c.svg;
    if (!c.note.empty()) h += "<p class=\"note\">" + Escape(c.note) + "</p>\n";
  }
  if (!r.orientation_refined) h += "<h2>Orientation</h2>\n<p class=\"note\">\"Calc UB\" was not run in this session.</p>\n";

  h += "<h2>Rejected scans</h2>\n<p class=\"note\">" + std::to_string(r.rejected_count) + " rejected";
  if (r.rejected_count > static_cast<int>(report.gallery.size()))
    h += "; the " + std::to_string(report.gallery.size()) + " with the highest Rwp are shown";
  h += ", worst first.</p>\n<div class=\"gallery\">\n";
  for (const GalleryItem& g : report.gallery) {
    const std::string meaning = ReasonMeaning(g.reason);
    h += "<div class=\"scan\">\n" + g.svg + "<p>#" + std::to_string(g.seq_no) + " rejected: <b>" +
         Escape(std::string(1, g.reason)) + "</b>" + (meaning.empty() ? "" : ", " + Escape(meaning)) + "</p>\n</div>\n";
  }
  h += "</div>\n</body>\n</html>\n";
  return report;
}

void DrawChartFrame(Svg& svg, Chart& c, const std::string& x_title, const std::string& y_title,
                    double right_margin) {
  c.width = svg.width();
  c.height = svg.height();
  c.left = 64;
  c.right = c.width - right_margin;
  c.top = 30;
  c.bottom = c.height - 46;
  for (const plot::Tick& t : c.y.ticks) {
    const double py = c.y.Map(t.value, c.bottom, c.top);
    svg.Line(c.left, py, c.right, py, "#e4e4e4");
    svg.Text(c.left - 6, py + 4, t.label, 11, "#333", "end");
  }
  for (const plot::Tick& t : c.x.ticks) {
    const double px = c.x.Map(t.value, c.left, c.right);
    svg.Line(px, c.top, px, c.bottom, "#eeeeee");
    svg.Line(px, c.bottom, px, c.bottom + 5, "#5a5a5a");
    svg.Text(px, c.bottom + 18, t.label, 11, "#333", "middle");
  }
  svg.Line(c.left, c.top, c.left, c.bottom, "#5a5a5a");
  svg.Line(c.left, c.bottom, c.right, c.bottom, "#5a5a5a");
  svg.Text((c.left + c.right) / 2, c.height - 8, x_title, 12, "#333", "middle");
  svg.Text(c.left, c.top - 10, y_title, 12, "#333", "start");
}

}  // namespace kalvex::report
