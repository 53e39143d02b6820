// The diagnostics report of a simulated session ("Preprocess", "Calc FWHM",
// "Calc UB", the integration, "Report..."): the page parses as XML and needs
// nothing from outside, every SVG renders with Qt Svg, and the marks lie
// where the session's data put them.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

#include "report/report.h"
#include "tests/report/rendering.h"
#include "report/session.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using testing::InkNear;
using testing::Render;

std::string ReadFile(const fs::path& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

const QColor kBlue(30, 90, 220);

struct Session {
  std::unique_ptr<ProgramState> state;
  testing::SimulatedFiles files;
  report::Report page;
};

// One session on a simulated data set whose standards decay, for both tests.
Session& TheSession() {
  static Session s = [] {
    Session s;
    simulate::GeneratorOptions options;
    options.reflections = 400;
    options.standards_every = 40;
    options.from_f_squared = true;  // the intensities then decay
    options.decay_percent = 8;
    s.state = testing::FreshState();
    s.files = testing::MakeXcaliburSet("report", options);
    ProgramState& state = *s.state;
    const Widgets& w = state.widgets;
    testing::OpenSimulated(state, s.files);
    script::QueueNumber(w.preprocess_threshold, 10.0f);
    script::QueueClick(kCodePreprocessGo);
    DispatchCommand(state, kCodePreprocess);
    script::QueueClick(kCodeFwhmSave);
    DispatchCommand(state, kCodeCalcFwhm);
    script::QueueClick(kCodeRefineGo);
    script::QueueClick(kCodeResultsOk);
    DispatchCommand(state, kCodeCalcUB);
    script::QueueNumber(w.main[kWSeqEntry], 1.0f);
    script::QueueClick(kCodeSeqGo);
    script::QueueClick(kCodeExit);
    DispatchCommand(state, kCodeManualFit);
    // A tight Rwp limit rejects enough scans to fill a gallery.
    script::QueueClick(kCodePeakQuit);
    script::QueueToggle(w.fit_rows[kPosition].default_toggle, 1);
    script::QueueToggle(w.fit_rows[kRwp].limits_toggle, 1);
    script::QueueNumber(w.fit_rows[kRwp].high, 0.12f);
    script::QueueClick(kCodeGo);
    DispatchCommand(state, kCodeAutoFit);
    script::QueueBrowse("set.html", s.files.dir.string());
    DispatchCommand(state, kCodeReport);
    s.page = report::BuildReport(report::SessionReportInput(state, "the date"));
    return s;
  }();
  return s;
}

const report::Chart& ChartOf(const report::Report& page, const std::string& id) {
  const auto c = std::find_if(page.charts.begin(), page.charts.end(), [&](const auto& c) { return c.id == id; });
  if (c == page.charts.end()) throw std::runtime_error("no chart " + id);
  return *c;
}

void ExpectXml(const std::string& html) {
  ASSERT_TRUE(html.starts_with("<!DOCTYPE html>\n"));
  QXmlStreamReader xml(QByteArray::fromStdString(html.substr(html.find('\n') + 1)));
  while (!xml.atEnd()) xml.readNext();
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
}

TEST(Report, PageIsSelfContainedXmlWithEverySvgRendering) {
  Session& s = TheSession();
  ASSERT_TRUE(s.state->orientation.corrections_valid);
  EXPECT_EQ(script::Boxes().back().message, "Report written to set.html");
  EXPECT_TRUE(script::Browses().back().save);  // its browser says "Save"
  const std::string html = ReadFile(s.files.dir / "set.html");
  // The same page, but for the date it was written.
  const std::regex date("Report written [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}");
  EXPECT_EQ(std::regex_replace(html, date, "Report written the date"), s.page.html + "\n");
  ExpectXml(html);
  // Classification, FWHM, standards, omega, I/sigma; a plot per rejected scan.
  EXPECT_EQ(s.page.charts.size(), 5u);
  // Nothing from elsewhere: no script, no link, no font or image by address.
  for (const char* outside : {"<script", "href", "src=", "url(", "@import", "@font-face"})
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  EXPECT_EQ(std::regex_replace(html, std::regex("xmlns=\"http://www.w3.org/[0-9]+/(xhtml|svg)\""), "").find("http"),
            std::string::npos);

  // Every picture renders, with the data's colours on it.
  std::size_t rendered = 0;
  for (std::size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) {
    const QImage image = Render(html.substr(at, html.find("</svg>", at) + 6 - at));
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 2)
      for (int x = 0; x < image.width(); x += 2) coloured += image.pixelColor(x, y).hsvSaturation() > 100;
    EXPECT_GT(coloured, 20) << "picture " << rendered;
    ++rendered;
  }
  EXPECT_EQ(rendered, s.page.charts.size() + s.page.gallery.size());

  // The batch command's --report, after a run without "Calc UB", once the
  // window's session no longer writes the data file's log.
  s.state->files.log.Close();
  const fs::path out = s.files.dir / "batch";
  fs::create_directories(out);
  const std::string command = std::string(KALVEX_COMMAND) + " integrate " + (s.files.dir / s.files.data).string() +
                              " --par " + (s.files.dir / s.files.parameters).string() + " --out " +
                              (out / "b.int").string() + " --quiet --report " + (out / "b.html").string() + " > " +
                              (out / "stdout").string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string batch = ReadFile(out / "b.html");
  ExpectXml(batch);
  EXPECT_NE(batch.find("\"Calc UB\" was not run"), std::string::npos);
}

// What the page says of itself: the session's files and counts at the top,
// what each reason letter means, and each rejected scan by its letter with
// what its fit reached, drawn inside its own frame.
TEST(Report, ExplainsItself) {
  Session& s = TheSession();
  const ProgramState& state = *s.state;
  const std::string& html = s.page.html;
  const std::size_t title = html.find("<p class=\"title\">");
  const std::string paragraph = html.substr(title, html.find("</p>", title) - title);
  int read = 0, rejected = 0;
  for (int c : state.data_set.input_class) read += c;
  for (int k = 2; k <= kOutcomeCounters; ++k) rejected += state.fit.outcome[k];
  for (const std::string& said : {"<b>" + s.files.data + "</b> (Xcalibur)", "parameter file <b>" + s.files.parameters + "</b>",
                                  std::string("intensity file <b>set.int</b>"), std::to_string(read) + " reflections read",
                                  std::to_string(rejected) + " rejected", std::string("Report written the date")})
    EXPECT_NE(paragraph.find(said), std::string::npos) << said << "\n" << paragraph;

  // Every letter the classification counts is in the legend, and every
  // rejected scan is named by a letter the legend explains.
  for (char letter : std::string("ECDBIPWRFS"))
    EXPECT_NE(html.find(std::string("<dt>") + letter + "</dt><dd>rejected: "), std::string::npos) << letter;
  ASSERT_FALSE(s.page.gallery.empty());
  const plot::TextMetrics text{5.4f, 11.5f};
  for (const report::GalleryItem& g : s.page.gallery) {
    SCOPED_TRACE(g.seq_no);
    EXPECT_NE(html.find("<p>#" + std::to_string(g.seq_no) + " rejected: <b>" + g.reason + "</b>, " +
                        report::ReasonMeaning(g.reason)),
              std::string::npos);
    // The text line says the letter, never the 0 +- 1 the record holds.
    const auto caption = std::find_if(g.picture.marks.begin(), g.picture.marks.end(),
                                      [](const plot::Mark& m) { return m.text.starts_with("hkl "); });
    ASSERT_NE(caption, g.picture.marks.end());
    EXPECT_NE(caption->text.find(std::string("rejected: ") + g.reason), std::string::npos) << caption->text;
    EXPECT_EQ(caption->text.find("I = 0.0 \xC2\xB1 1.0"), std::string::npos) << caption->text;
    // Every line inside the picture; the counts and the fit inside the
    // counts' area, above the omega labels; the +3 and -3 sigma lines a
    // text line apart at least.
    const plot::ScanLayout l = plot::LayOutScan(0, 0, g.picture.width, g.picture.height, text);
    std::vector<float> limits;
    for (const plot::Mark& m : g.picture.marks) {
      if (m.kind != plot::Mark::kLine) continue;
      for (const plot::Point& p : m.points) {
        EXPECT_TRUE(p.x >= 0 && p.x <= g.picture.width && p.y >= 0 && p.y <= g.picture.height);
        if (m.colour == plot::kInkProfile || (m.colour == plot::kInkCounts && m.points.size() > 2)) {
          EXPECT_TRUE(p.y >= l.main0 - 1e-3f && p.y <= l.main1 + 1e-3f && p.x >= l.x0 - 1e-3f && p.x <= l.x1 + 1e-3f)
              << p.x << " " << p.y;
        }
      }
      if (m.colour == plot::kInkLimits) limits.push_back(m.points[0].y);
    }
    ASSERT_EQ(limits.size(), 2u);
    EXPECT_GE(std::fabs(limits[0] - limits[1]), text.line_height);
  }
}

TEST(Report, MarksLieWhereTheDataPutThem) {
  Session& s = TheSession();
  const SessionRecord& r = s.state->session_record;
  const report::Report& page = s.page;
  ASSERT_GT(r.accepted.size(), 300u);

  // Peak widths against tan(theta), over the "Calc FWHM" line, which shows between them.
  const report::Chart& fwhm = ChartOf(page, "fwhm");
  QImage image = Render(fwhm.svg);
  for (const NotedReflection& n : r.accepted)
    ASSERT_TRUE(InkNear(image, fwhm.At(std::tan(n.two_theta * M_PI / 360.0), n.fwhm), kBlue)) << n.seq_no;
  ASSERT_TRUE(r.fwhm_line);
  int red = 0;
  for (double t = fwhm.x.low; t <= fwhm.x.high; t += (fwhm.x.high - fwhm.x.low) / 10)
    red += InkNear(image, fwhm.At(t, r.fwhm_a + r.fwhm_b * t), QColor(210, 30, 30));
  EXPECT_GE(red, 4);

  // Each standard over its first measurement, and the decay the rounds show.
  const report::Chart& standards = ChartOf(page, "standards");
  image = Render(standards.svg);
  std::map<int, float> first;
  for (const NotedStandard& st : r.standards) {
    if (!first.count(st.standard_index)) first[st.standard_index] = st.intensity;
    EXPECT_TRUE(InkNear(image, standards.At(st.seq_no, st.intensity / first[st.standard_index]))) << st.seq_no;
  }
  EXPECT_GT(r.standards.size(), 20u);
  EXPECT_TRUE(standards.note.starts_with("Dashed grey: the decay scale")) << standards.note;

  // Omega observed - predicted against 2theta, of the reflections "Calc UB" refined from.
  const report::Chart& omega = ChartOf(page, "omega");
  image = Render(omega.svg);
  ASSERT_EQ(static_cast<int>(r.omega.size()), s.state->preprocessed_list.count);
  for (const OmegaResidual& o : r.omega)
    EXPECT_TRUE(InkNear(image, omega.At(o.two_theta, o.observed_minus_predicted), kBlue));

  // I/sigma: every reflection's value stands on a bar.
  const report::Chart& histogram = ChartOf(page, "isigma");
  image = Render(histogram.svg);
  for (const NotedReflection& n : r.accepted) EXPECT_TRUE(InkNear(image, histogram.At(n.i_over_sigma, 0.5), kBlue, 2));

  // The classification, in decades: the OK bar reaches the count of accepted
  // reflections and no further; a bar of a few rejected stands a good part
  // of its height beside it.
  const report::Chart& classes = ChartOf(page, "classification");
  image = Render(classes.svg);
  const int ok = s.state->fit.outcome[1];
  EXPECT_TRUE(InkNear(image, classes.At(0, ok * 0.9), QColor(20, 170, 60)));
  EXPECT_FALSE(InkNear(image, classes.At(0, ok * 1.15 + 1), QColor(20, 170, 60)));
  const float base = classes.At(0, 0.5).y, ok_top = classes.At(0, ok).y;
  for (int k = 2; k <= kOutcomeCounters; ++k) {
    const int n = s.state->fit.outcome[k];
    if (n == 0) continue;
    EXPECT_TRUE(InkNear(image, classes.At(k - 1, n * 0.9), QColor(210, 30, 30))) << k;
    EXPECT_GT((base - classes.At(k - 1, n).y) / (base - ok_top), std::log10(2.0) / std::log10(2.0 * ok) - 1e-6) << k;
  }

  // The gallery: the rejected scans, worst first, each scan's counts where its picture puts them.
  ASSERT_GT(r.rejected_count, 3);
  ASSERT_EQ(page.gallery.size(), std::min<std::size_t>(r.rejected_count, kKeptRejected));
  for (std::size_t i = 0; i < page.gallery.size(); ++i) {
    const report::GalleryItem& g = page.gallery[i];
    EXPECT_NE(g.reason, ' ');
    EXPECT_LE(g.rwp, page.gallery[i > 0 ? i - 1 : 0].rwp);
    image = Render(g.svg);
    const auto counts = std::find_if(g.picture.marks.begin(), g.picture.marks.end(),
                                     [](const plot::Mark& m) { return m.colour == plot::kInkCounts; });
    ASSERT_NE(counts, g.picture.marks.end());
    for (const plot::Point& p : counts->points) EXPECT_TRUE(InkNear(image, {p.x, g.picture.height - p.y})) << g.seq_no;
  }

  // The README's picture of a report: four plots and three rejected scans.
  QImage sheet(1300, 950, QImage::Format_RGB32);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  const char* ids[] = {"fwhm", "standards", "omega", "isigma"};
  for (int i = 0; i < 4; ++i) painter.drawImage(10 + (i % 2) * 650, 10 + (i / 2) * 320, Render(ChartOf(page, ids[i]).svg));
  for (std::size_t i = 0; i < std::min<std::size_t>(page.gallery.size(), 3); ++i)
    painter.drawImage(10 + static_cast<int>(i) * 430, 660, Render(page.gallery[i].svg));
  painter.end();
  fs::create_directories(fs::path(KALVEX_BINARY_DIR) / "screenshots");
  EXPECT_TRUE(sheet.save(QString::fromStdString(KALVEX_BINARY_DIR "/screenshots/report.png")));
}

}  // namespace
}  // namespace kalvex
