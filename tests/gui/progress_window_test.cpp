// "Auto profile fit" of a few thousand simulated reflections in the real
// window: the status bar counts the reflections passed of the file's count
// with the time left shrinking, and the "End of Run" dialog sums up.
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

// "3 s", "1 min 05 s", "2 h 07 min" in seconds.
int Seconds(const QString& text) {
  const QRegularExpressionMatch m =
      QRegularExpression(R"(^(?:(\d+) h )?(?:(\d+) min ?)?(?:(\d+) s)?$)").match(text);
  EXPECT_TRUE(m.hasMatch()) << text.toStdString();
  return m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
}

TEST(RealWindowProgress, TheStatusBarCountsDownARunAndTheEndDialogSumsItUp) {
  FreshToolkit();
  const fs::path dir = fs::path(KALVEX_BINARY_DIR) / "test-scratch" / "real-window-progress";
  fs::remove_all(dir);
  fs::create_directories(dir);
  simulate::GeneratorOptions options;
  options.reflections = 2000;
  options.d_min = 0.6;
  const simulate::DataSet set =
      simulate::Generate({{12, 14, 16, 90, 90, 90}, {12, -25, 40}}, {}, {}, {}, options);
  std::string error;
  ASSERT_TRUE(simulate::WriteXcalibur(set, dir / "progress.dca", error)) << error;
  ASSERT_TRUE(simulate::WriteParameterFile(set, dir / "progress.par", error)) << error;
  const int total = static_cast<int>(set.reflections.size());

  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  // One reflection a tick: the run lasts a few seconds on any machine, long
  // enough for the time left to count down.
  state->tick_budget_ms = 0;
  const Widgets& w = state->widgets;
  User user;
  pvgui_qt::AnswerNextBrowse("progress.dca", dir.string());
  pvgui_qt::AnswerNextBrowse("progress.par", dir.string());
  user.When("the format dialog", [&] { return Shown(w.format_dialog); }, [&] { Click(w.format_ok); });
  StartUp(*state);
  ASSERT_EQ(state->files.reflection_count, total);

  // What the status bar says, each time it changes.
  auto* status = qobject_cast<QLabel*>(W(w.status_bar));
  ASSERT_TRUE(status);
  QStringList said;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (said.isEmpty() || said.back() != status->text()) said.push_back(status->text());
  });
  watch.start(5);

  user.When("File > Open output file", [&] { return Idle(w); }, [&] {
    pvgui_qt::AnswerNextBrowse("progress.int", dir.string());
    Choose(w, w.menu_open_output);
  });
  user.When("Integrate > Auto profile fit", [&] { return Idle(w) && Shown(w.output_label); },
            [&] { Choose(w, w.menu_auto_fit); });
  user.When("Quit the peak defaults", [&] { return Shown(w.peak_dialog); }, [&] { Click(w.peak_quit); });
  user.When("Go", [&] { return !Shown(w.peak_dialog) && Usable(w.main[kWGo]); }, [&] { Click(w.main[kWGo]); });
  user.When("a look at the window during the run",
            [&] { return status->text().contains(" left") && state->scan.seq_no > set.reflections[total / 3].seq; },
            [&] { Screenshot(W(w.main_window), "window_progress.png"); });
  user.When("Report... in the End of Run dialog", [&] { return Shown(w.run_end_dialog); }, [&] {
    auto* block = qobject_cast<QPlainTextEdit*>(W(w.run_end_text));
    ASSERT_TRUE(block);
    // A fixed pitch: the columns of the tables line up.
    const QFontMetricsF metrics(block->font());
    EXPECT_EQ(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("MMMM"));
    const QString text = block->toPlainText();
    EXPECT_TRUE(text.startsWith("Auto profile fit of progress.dca: end of input data file\n"));
    EXPECT_TRUE(text.contains("\nEvery reflection of progress.dca is in progress.int\n"));
    EXPECT_TRUE(text.contains("\nREFLECTIONS AS CLASSIFIED BY INTEGRATION:\n"));
    // The widest line, the table of status letters, fits without scrolling.
    EXPECT_EQ(block->horizontalScrollBar()->maximum(), 0);
    Screenshot(W(w.run_end_dialog), "window_run_end.png");
    Click(w.run_end_report);
  });
  user.When("Close", [&] { return Boxes("No report is available for this run") == 1; },
            [&] { Click(w.run_end_close); });

  while (!user.Done()) {
    const int code = tk::Wait();
    ASSERT_TRUE(DispatchCommand(*state, code)) << "code " << code;
  }
  watch.stop();
  EXPECT_FALSE(Shown(w.run_end_dialog));
  EXPECT_EQ(static_cast<int>(ReadLines(dir / "progress.int").size()), total);

  // The run's progress: the count passed grows to the file's, and the time
  // left shrinks to nothing.
  const QRegularExpression form(
      QString::fromUtf8(R"(^([\d,]+) of ([\d,]+) reflections · ([\d,.]+)/s · (.+) left$)"));
  std::vector<int> passed, left;
  for (const QString& text : said) {
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) continue;
    EXPECT_EQ(m.captured(2).remove(',').toInt(), total) << text.toStdString();
    EXPECT_GT(m.captured(3).remove(',').toDouble(), 0.0) << text.toStdString();
    passed.push_back(m.captured(1).remove(',').toInt());
    left.push_back(Seconds(m.captured(4)));
  }
  std::printf("status bar during the run: %s ... %s\n", said.value(1).toStdString().c_str(),
              said.back().toStdString().c_str());
  ASSERT_GE(passed.size(), 4u) << said.join(" | ").toStdString();
  EXPECT_TRUE(std::is_sorted(passed.begin(), passed.end()));
  EXPECT_EQ(passed.back(), total);
  EXPECT_EQ(left.back(), 0);
  EXPECT_GT(left.front(), left.back() + 1) << said.join(" | ").toStdString();
  fs::current_path(before);
}

}  // namespace
}  // namespace kalvex
