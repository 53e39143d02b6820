// The reduction report of a simulated absorbing crystal in P 21 21 21,
// written with the reduction's other outputs: the page parses as XML and
// needs nothing from outside, every plot renders with Qt Svg with its axes
// titled and their units given, and the marks lie where the data put them.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <fstream>
#include <regex>
#include <sstream>

#include "engine/reduction.h"
#include "report/reduction_report.h"
#include "report/svg.h"
#include "tests/report/rendering.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using testing::Render;

// Ink of a strong colour within 2 pixels of p.
bool InkNear(const QImage& image, plot::Point p) { return testing::InkNear(image, p, std::nullopt, 2); }

TEST(ReductionReport, PageOfAnAbsorbingCrystal) {
  const fs::path dir = testing::ScratchDir("reduction_report");
  std::ofstream(dir / "plate.faces") << "1 0 0 0.2\n-1 0 0 0.2\n0 1 0 0.1\n0 -1 0 0.1\n0 0 1 0.025\n0 0 -1 0.025\n";
  simulate::GeneratorOptions g;
  g.from_f_squared = true;
  g.equivalents = "mmm";
  g.reflections = 1000;
  g.space_group = "P212121";
  g.wilson_b = 2;
  std::string error;
  ASSERT_TRUE(simulate::ReadFaces(dir / "plate.faces", g.absorber.faces, error)) << error;
  g.absorber.mu = 2;
  const simulate::DataSet set = simulate::Generate({{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}}, {}, {}, {}, g);
  ASSERT_TRUE(simulate::WriteXcalibur(set, dir / "set.dca", error) &&
              simulate::WriteParameterFile(set, dir / "set.par", error));
  ASSERT_EQ(std::system((std::string(KALVEX_COMMAND) + " integrate " + (dir / "set.dca").string() + " --par " +
                         (dir / "set.par").string() + " --quiet > /dev/null").c_str()),
            0);
  engine::ReductionRequest request;
  request.intensity_file = (dir / "set.int").string();
  request.parameter_file = (dir / "set.par").string();
  request.formula = "C10";
  request.z = 4;
  request.absorption = reduce::AbsorptionMethod::kEmpirical;
  request.faces_file = (dir / "plate.faces").string();
  request.report_file = (dir / "set.html").string();
  request.report_page = [](const reduce::Reduction& r) { return report::BuildReductionReport(r, "set.int").html; };
  const engine::ReductionOutcome out = engine::RunReduction(request);
  ASSERT_EQ(out.status, 0) << out.error;
  const report::ReductionPage page = report::BuildReductionReport(out.reduction, "set.int");
  std::stringstream file;
  file << std::ifstream(dir / "set.html").rdbuf();
  const std::string html = file.str();
  EXPECT_EQ(html, page.html);

  ASSERT_TRUE(html.starts_with("<!DOCTYPE html>\n"));
  QXmlStreamReader xml(QByteArray::fromStdString(html.substr(html.find('\n') + 1)));
  while (!xml.atEnd()) xml.readNext();
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
  for (const char* outside : {"<script", "href", "src=", "url(", "@import", "@font-face"})
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  EXPECT_EQ(std::regex_replace(html, std::regex("xmlns=\"http://www.w3.org/[0-9]+/(xhtml|svg)\""), "").find("http"),
            std::string::npos);
  for (const char* table : {"<h2>Laue classes the cell allows</h2>", "<h2>Systematic absences</h2>",
                            "<h2>Space groups of the class</h2>", "<b>Space group P 21 21 21 (No. 19)"})
    EXPECT_NE(html.find(table), std::string::npos) << table;

  // Every plot: the absorption's four, N(z), Wilson, L-test, three against resolution.
  std::string ids;
  for (const report::ReductionChart& c : page.charts) {
    ids += c.chart.id + " ";
    for (const std::string& title : {c.x_title, c.y_title}) {
      EXPECT_NE(title.find('('), std::string::npos) << c.chart.id << ": " << title;  // the unit, or "no unit"
      EXPECT_NE(c.chart.svg.find(">" + report::Escape(title) + "<"), std::string::npos) << title;
    }
    const QImage image = Render(c.chart.svg);
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 2)
      for (int x = 0; x < image.width(); x += 2) coloured += image.pixelColor(x, y).hsvSaturation() > 100;
    EXPECT_GT(coloured, 20) << c.chart.id;
  }
  EXPECT_EQ(ids, "transmission_seq transmission_2theta rint_absorption surface nz wilson ltest completeness isigma "
                 "rint ");

  // The marks: N(z) at z = 0.1 .. 1, the Wilson points, each reflection's transmission.
  const auto chart = [&page](const std::string& id) {
    return std::find_if(page.charts.begin(), page.charts.end(), [&](const auto& c) { return c.chart.id == id; })->chart;
  };
  const reduce::IntensityStatistics& s = out.reduction.statistics.intensities;
  QImage image = Render(chart("nz").svg);
  for (int k = 0; k < 10; ++k) EXPECT_TRUE(InkNear(image, chart("nz").At(0.1 * (k + 1), s.centric.n_z[k]))) << k;
  image = Render(chart("wilson").svg);
  for (const reduce::WilsonPoint& p : s.wilson.points)  // the points not fitted are grey
    EXPECT_TRUE(!p.fitted || InkNear(image, chart("wilson").At(p.s2, p.y)));
  image = Render(chart("transmission_2theta").svg);
  const reduce::Reduction& r = out.reduction;
  const std::size_t kept = std::count_if(r.reflections.begin(), r.reflections.end(), [&r](auto& x) { return r.Kept(x); });
  const std::size_t drawn_every = (kept + report::kMaxPoints - 1) / report::kMaxPoints;
  std::size_t k = 0, tried = 0, placed = 0;
  for (const reduce::ReducedReflection& x : r.reflections) {
    if (!r.Kept(x) || k++ % (drawn_every * 37) != 0) continue;
    ++tried;
    placed += InkNear(image, chart("transmission_2theta").At(std::fabs(r.Record(x).angles[0]), x.transmission));
  }
  EXPECT_GT(tried, 50u);
  EXPECT_EQ(placed, tried);
}

}  // namespace
}  // namespace kalvex
