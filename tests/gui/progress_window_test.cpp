// "Auto profile fit" of a few thousand simulated reflections in the real
// window: the status bar counts them to the file's count with the time left
// shrinking, and the "End of Run" dialog sums up in a fixed pitch.
#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>

#include "tests/gui/real_window.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

using namespace realwin;

// A fresh toolkit, and run.dca with run.par in `dir`;
// the number of reflections the file holds.
int SimulatedRun(const fs::path& dir, simulate::GeneratorOptions options) {
  FreshToolkit();
  fs::remove_all(dir), fs::create_directories(dir);
  options.d_min = 0.6;
  const auto set = simulate::Generate({{12, 14, 16, 90, 90, 90}, {12, -25, 40}}, {}, {}, {}, options);
  std::string error;
  EXPECT_TRUE(simulate::WriteXcalibur(set, dir / "run.dca", error) && simulate::WriteParameterFile(set, dir / "run.par", error))
      << error;
  return static_cast<int>(set.reflections.size());
}

TEST(RealWindowProgress, TheStatusBarCountsDownARunAndTheEndDialogSumsItUp) {
  const fs::path dir = fs::path(KALVEX_BINARY_DIR) / "test-scratch" / "real-window-progress";
  simulate::GeneratorOptions options;
  options.reflections = 2000;
  const int total = SimulatedRun(dir, options);
  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  state->tick_budget_ms = 0;  // one reflection a tick: a run of seconds on any machine
  const Widgets& w = state->widgets;
  User user;
  StartUpFrom(*state, user, dir, "run.dca", "run.par");
  ASSERT_EQ(state->files.reflection_count, total);

  // What the status bar says, each time it changes.
  auto* status = qobject_cast<QLabel*>(W(w.status_bar));
  QStringList said;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (said.isEmpty() || said.back() != status->text()) said.push_back(status->text());
  });
  watch.start(5);
  user.When("Auto profile fit", [&] { return Idle(w); }, [&] { Choose(w, w.menu_auto_fit); });
  user.When("Quit the peak defaults", [&] { return Shown(w.peak_dialog); }, [&] { Click(w.peak_quit); });
  user.When("Skip weak reflns, Go", [&] { return !Shown(w.peak_dialog) && Usable(w.main[kWGo]); }, [&] {
    Click(w.fit_skip_weak);  // skipped, they are passed all the same: the count is reached
    Click(w.main[kWGo]);
  });
  user.When("a look during the run", [&] { return state->scan.seq_no > total / 3; },
            [&] { Screenshot(W(w.main_window), "window_progress.png"); });
  user.When("Report... at the end", [&] { return Shown(w.run_end_dialog); }, [&] {
    auto* block = qobject_cast<QPlainTextEdit*>(W(w.run_end_text));
    const QFontMetricsF metrics(block->font());
    EXPECT_EQ(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("MMMM"));
    EXPECT_EQ(block->horizontalScrollBar()->maximum(), 0);  // the widest table fits
    // The log's summary, line for line without the control character.
    QStringList logged;
    for (const std::string& line : ReadLines(dir / "run.log"))
      if (!fields::TrimRight(line).empty()) logged << QString::fromStdString(std::string(fields::TrimRight(line.substr(1))));
    logged = logged.mid(logged.indexOf("REFLECTIONS AS CLASSIFIED IN INPUT FILE:"));
    EXPECT_EQ(block->toPlainText().split('\n', Qt::SkipEmptyParts),
              QStringList({"Auto profile fit of run.dca: end of input data file",
                           "No intensity file was open: nothing was written"}) + logged);
    Screenshot(W(w.run_end_dialog), "window_run_end.png");
    pvgui_qt::AnswerNextBrowse("run.html", dir.string());
    Click(w.run_end_report);
  });
  user.When("Close", [&] { return fs::exists(dir / "run.html"); }, [&] { Click(w.run_end_close); });
  while (!user.Done()) ASSERT_TRUE(DispatchCommand(*state, tk::Wait()));
  EXPECT_FALSE(Shown(w.run_end_dialog));

  // The count passed grows to the file's; the time left shrinks to nothing.
  const QRegularExpression form(QString::fromUtf8(
      R"(^([\d,]+) of ([\d,]+) reflections · [\d,.]+/s · (?:(\d+) h )?(?:(\d+) min ?)?(?:(\d+) s)? left$)"));
  std::vector<int> passed, left;
  for (const QString& text : said) {
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) continue;
    EXPECT_EQ(m.captured(2).remove(',').toInt(), total) << text.toStdString();
    passed.push_back(m.captured(1).remove(',').toInt());
    left.push_back(m.captured(3).toInt() * 3600 + m.captured(4).toInt() * 60 + m.captured(5).toInt());
  }
  ASSERT_GE(passed.size(), 4u) << said.join(" | ").toStdString();
  EXPECT_TRUE(std::is_sorted(passed.begin(), passed.end()));
  EXPECT_EQ(passed.back(), total);
  EXPECT_EQ(left.back(), 0);
  EXPECT_GT(left.front(), left.back() + 1) << said.join(" | ").toStdString();
  fs::current_path(before);
}

// "Preprocess" of 3,000 simulated reflections in the real window, at the
// program's own tick budget: the plot follows the pass many times a second,
// and at the end the status bar counts the whole file. The rate and the
// longest wait between two pictures are printed, as figures to keep, not
// judged: a shared machine's speed is no test.
TEST(RealWindowProgress, PreprocessingFollowsThePassAndEndsAtTheFilesCount) {
  const fs::path dir = fs::path(KALVEX_BINARY_DIR) / "test-scratch" / "real-window-preprocess";
  simulate::GeneratorOptions options;
  options.reflections = 3000;
  // Weak enough that fewer than the thousand the list holds pass I/sig.
  options.mean_intensity = 40;
  const int total = SimulatedRun(dir, options);
  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  const Widgets& w = state->widgets;
  User user;
  StartUpFrom(*state, user, dir, "run.dca", "run.par");
  // Every picture of the plot sets the sequence-number field.
  auto* seq = Field(w.main[kWSeqEntry]);
  QElapsedTimer clock;
  qint64 last_picture = 0, longest_wait = 0;
  int pictures = 0;
  QObject::connect(seq, &QLineEdit::textChanged, [&] {
    if (!clock.isValid()) return;
    longest_wait = std::max(longest_wait, clock.elapsed() - last_picture);
    last_picture = clock.elapsed();
    ++pictures;
  });
  qint64 pass_ms = 0;
  user.When("Utilities > Preprocess", [&] { return Idle(w); }, [&] { Choose(w, w.menu_preprocess); });
  user.When("I/sig 100, Go", [&] { return Shown(w.preprocess_dialog); }, [&] {
    Field(w.preprocess_threshold)->setText("100");
    clock.start();
    Click(w.preprocess_go);
  });
  user.When("the end of the pass", [&] { return Shown(w.run_end_dialog); }, [&] {
    pass_ms = clock.elapsed();
    Click(w.run_end_close);
  });
  while (!user.Done()) ASSERT_TRUE(DispatchCommand(*state, tk::Wait()));
  auto* status = qobject_cast<QLabel*>(W(w.status_bar));
  const QString count = QString("%L1 of %L1 reflections").arg(total);
  EXPECT_TRUE(status->text().startsWith(count)) << status->text().toStdString();
  EXPECT_EQ(state->preprocessed, 1);
  EXPECT_GT(pictures, 3);
  std::printf("preprocessing in the window: %d reflections in %lld ms (%.0f/s), %d pictures, longest wait %lld ms\n",
              total, static_cast<long long>(pass_ms), pass_ms > 0 ? 1000.0 * total / pass_ms : 0.0, pictures,
              static_cast<long long>(longest_wait));
  fs::current_path(before);
}

}  // namespace
}  // namespace kalvex
