// The diagnostics report of a simulated session, from "Preprocess" through
// "Calc FWHM" and "Calc UB" to the integration: the page parses as XML and
// needs nothing from outside, every SVG renders with Qt Svg, and the marks
// lie where the session's data put them.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "commands/report.h"
#include "report/report.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;

void NeedApplication() {
  static int argc = 1;
  static char name[] = "test_report";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

QImage Render(const std::string& svg) {
  QSvgRenderer renderer(QByteArray::fromStdString(svg));
  EXPECT_TRUE(renderer.isValid());
  QImage image(renderer.defaultSize(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  renderer.render(&painter);
  return image;
}

// Whether the pixel at p (or one at most `reach` pixels away) has about the colour `want`.
bool InkNear(const QImage& image, plot::Point p, QColor want, int reach = 1) {
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx) {
      const int x = static_cast<int>(std::lround(p.x)) + dx, y = static_cast<int>(std::lround(p.y)) + dy;
      if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) continue;
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) + std::abs(c.blue() - want.blue()) < 60)
        return true;
    }
  return false;
}

// The most saturated pixel at most `reach` pixels from p: a thin antialiased
// line leaves its full colour only on the pixels it covers whole.
int Saturation(const QImage& image, plot::Point p, int reach) {
  int most = 0;
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx) {
      const int x = static_cast<int>(std::lround(p.x)) + dx, y = static_cast<int>(std::lround(p.y)) + dy;
      if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
        most = std::max(most, image.pixelColor(x, y).hsvSaturation());
    }
  return most;
}

const QColor kBlue(30, 90, 220);

// One session on a simulated data set with standards that decay, shared by the tests.
struct Session {
  std::unique_ptr<ProgramState> state;
  testing::SimulatedFiles files;
  report::Report page;
};

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
    // "Report..." through the browser, as a user asks for it.
    script::QueueBrowse("set.html", s.files.dir.string());
    DispatchCommand(state, kCodeReport);
    report::ReportInput input;
    input.data_name = state.files.data_file_name;
    input.title = state.data_set.title;
    input.input_class = state.data_set.input_class;
    input.outcome = state.fit.outcome;
    input.record = &state.session_record;
    s.page = report::BuildReport(input);
    return s;
  }();
  return s;
}

const report::Chart& ChartOf(const report::Report& page, const std::string& id) {
  for (const report::Chart& c : page.charts)
    if (c.id == id) return c;
  static report::Chart none;
  ADD_FAILURE() << "no chart " << id;
  return none;
}

TEST(Report, PageIsSelfContainedXmlWithEverySvgRendering) {
  NeedApplication();
  Session& s = TheSession();
  ASSERT_TRUE(s.state->orientation.corrections_valid);
  const std::string html = ReadFile(s.files.dir / "set.html");
  EXPECT_EQ(script::Boxes().back().message, "Report written to set.html");
  EXPECT_EQ(html, s.page.html + "\n");
  ASSERT_TRUE(html.starts_with("<!DOCTYPE html>\n"));
  QXmlStreamReader xml(QByteArray::fromStdString(html.substr(html.find('\n') + 1)));
  int svgs = 0;
  while (!xml.atEnd())
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("svg")) ++svgs;
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
  EXPECT_EQ(svgs, static_cast<int>(s.page.charts.size() + s.page.gallery.size()));
  EXPECT_EQ(s.page.charts.size(), 5u);  // classification, FWHM, standards, omega, I/sigma
  // Nothing from elsewhere: no script, no link, no font or image by address.
  for (const char* outside : {"<script", "href", "src=", "url(", "@import", "@font-face"})
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  EXPECT_EQ(std::regex_replace(html, std::regex("xmlns=\"http://www.w3.org/[0-9]+/(xhtml|svg)\""), "").find("http"),
            std::string::npos);

  // Every picture renders with ink of the data's colours on it.
  const std::regex svg_element("<svg[\\s\\S]*?</svg>");
  int rendered = 0;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), svg_element); it != std::sregex_iterator(); ++it) {
    const QImage image = Render(it->str());
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 2)
      for (int x = 0; x < image.width(); x += 2) coloured += image.pixelColor(x, y).hsvSaturation() > 100;
    EXPECT_GT(coloured, 20) << "picture " << rendered;
    ++rendered;
  }
  EXPECT_EQ(rendered, svgs);

  // The same through the batch command's --report.
  const fs::path out = s.files.dir / "batch";
  fs::create_directories(out);
  const std::string command = std::string(KALVEX_COMMAND) + " integrate " + (s.files.dir / s.files.data).string() +
                              " --par " + (s.files.dir / s.files.parameters).string() + " --out " +
                              (out / "b.int").string() + " --quiet --report " + (out / "b.html").string() +
                              " > " + (out / "stdout").string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string batch = ReadFile(out / "b.html");
  QXmlStreamReader batch_xml(QByteArray::fromStdString(batch.substr(batch.find('\n') + 1)));
  while (!batch_xml.atEnd()) batch_xml.readNext();
  EXPECT_FALSE(batch_xml.hasError()) << batch_xml.errorString().toStdString();
  EXPECT_NE(batch.find("<svg"), std::string::npos);
  EXPECT_NE(batch.find("\"Calc UB\" was not run"), std::string::npos);
}

TEST(Report, MarksLieWhereTheDataPutThem) {
  NeedApplication();
  Session& s = TheSession();
  const SessionRecord& r = s.state->session_record;
  const report::Report& page = s.page;
  ASSERT_GT(r.accepted.size(), 300u);

  // Peak widths against tan(theta), over the "Calc FWHM" line.
  const report::Chart& fwhm = ChartOf(page, "fwhm");
  QImage image = Render(fwhm.svg);
  for (const NotedReflection& n : r.accepted) {
    const double t = std::tan(n.two_theta * M_PI / 360.0);
    ASSERT_TRUE(InkNear(image, fwhm.At(t, n.fwhm), kBlue)) << n.seq_no;
  }
  ASSERT_TRUE(r.fwhm_line);
  // The line runs under the points: it shows between them, along its whole length.
  int red = 0;
  for (int i = 0; i <= 10; ++i) {
    const double t = fwhm.x.low + (fwhm.x.high - fwhm.x.low) * i / 10.0;
    red += InkNear(image, fwhm.At(t, r.fwhm_a + r.fwhm_b * t), QColor(210, 30, 30), 1);
  }
  EXPECT_GE(red, 4);

  // Each standard over its first measurement; the decay the rounds show.
  const report::Chart& standards = ChartOf(page, "standards");
  image = Render(standards.svg);
  std::map<int, float> first;
  int drawn = 0;
  for (const NotedStandard& st : r.standards) {
    if (!st.accepted) continue;
    if (!first.count(st.standard_index)) first[st.standard_index] = st.intensity;
    const plot::Point p = standards.At(st.seq_no, st.intensity / first[st.standard_index]);
    EXPECT_GT(Saturation(image, p, 1), 100) << st.seq_no;
    ++drawn;
  }
  EXPECT_GT(drawn, 20);
  EXPECT_TRUE(standards.note.starts_with("Dashed grey: the decay scale")) << standards.note;

  // Omega observed - predicted against 2theta, of the reflections "Calc UB" refined from.
  const report::Chart& omega = ChartOf(page, "omega");
  image = Render(omega.svg);
  ASSERT_EQ(static_cast<int>(r.omega.size()), s.state->preprocessed_list.count);
  for (const OmegaResidual& o : r.omega) EXPECT_TRUE(InkNear(image, omega.At(o.two_theta, o.observed_minus_predicted), kBlue));

  // I/sigma: every reflection's value stands on a bar.
  const report::Chart& histogram = ChartOf(page, "isigma");
  image = Render(histogram.svg);
  for (const NotedReflection& n : r.accepted) EXPECT_TRUE(InkNear(image, histogram.At(n.i_over_sigma, 0.5), kBlue, 2));

  // The classification: the OK bar reaches the count of accepted reflections.
  const report::Chart& classes = ChartOf(page, "classification");
  image = Render(classes.svg);
  const int ok = s.state->fit.outcome[1];
  EXPECT_TRUE(InkNear(image, classes.At(0, ok * 0.97), QColor(20, 170, 60)));
  EXPECT_FALSE(InkNear(image, classes.At(0, ok * 1.03 + 1), QColor(20, 170, 60)));

  // The gallery: the rejected scans, worst first, each plot's counts where its picture puts them.
  ASSERT_GT(r.rejected_count, 3);
  ASSERT_EQ(page.gallery.size(), std::min<std::size_t>(r.rejected_count, kKeptRejected));
  for (std::size_t i = 0; i < page.gallery.size(); ++i) {
    const report::GalleryItem& g = page.gallery[i];
    EXPECT_NE(g.reason, ' ');
    if (i > 0) {
      EXPECT_LE(g.rwp, page.gallery[i - 1].rwp);
    }
    image = Render(g.svg);
    const plot::Picture& pic = g.picture;
    for (const plot::Mark& m : pic.marks) {
      if (m.colour != plot::kInkCounts || m.points.size() < 3) continue;
      // The counts' navy, or where the fit's translucent band lies over them, a mixture: never white or grey.
      for (const plot::Point& p : m.points) EXPECT_GT(Saturation(image, {p.x, pic.height - p.y}, 1), 100) << g.seq_no;
      break;
    }
  }

  // The README's picture of a report: four plots and two rejected scans.
  QImage sheet(1300, 1260, QImage::Format_RGB32);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  const char* ids[] = {"fwhm", "standards", "omega", "isigma"};
  for (int i = 0; i < 4; ++i) painter.drawImage(10 + (i % 2) * 650, 10 + (i / 2) * 320, Render(ChartOf(page, ids[i]).svg));
  for (std::size_t i = 0; i < std::min<std::size_t>(page.gallery.size(), 3); ++i)
    painter.drawImage(10 + static_cast<int>(i) * 430, 660, Render(page.gallery[i].svg));
  painter.end();
  const fs::path shots = fs::path(KALVEX_BINARY_DIR) / "screenshots";
  fs::create_directories(shots);
  EXPECT_TRUE(sheet.copy(0, 0, 1300, 950).save(QString::fromStdString((shots / "report.png").string())));
}

}  // namespace
}  // namespace kalvex
