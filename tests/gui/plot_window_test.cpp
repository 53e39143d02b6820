// The scan plot and the report in the real window: the plot of a fitted
// scan with its axes and residual strip, zoomed and moved along omega by the
// wheel, a drag and the keys and laid out again each time, and "Report..."
// from the File menu after an automatic run.
#include <QMouseEvent>
#include <algorithm>
#include <QWheelEvent>

#include "tests/gui/real_window.h"
#include "toolkit/qt/frame.h"

namespace kalvex {
namespace {

using namespace realwin;

// A wheel turn (notches of 120) or a mouse event on the frame at `at`.
void Send(QWidget* frame, QEvent::Type type, QPointF at, int notches = 0, Qt::MouseButtons held = Qt::LeftButton) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  if (type == QEvent::Wheel) {
    QWheelEvent wheel(at, frame->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(frame, &wheel);
    return;
  }
  QMouseEvent event(type, at, frame->mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(frame, &event);
}

// What the frame's display list holds of the axes: the numbers labelled
// along omega (the lowest row of texts) and along the counts (the leftmost
// column), the residual strip's two lines, and the text line.
struct Axes {
  std::vector<double> omega, counts;
  int limit_lines = 0;
  bool caption = false;
};
Axes AxesOf(const pvgui_qt::FrameWidget& frame) {
  Axes axes;
  double lowest = 1e30, leftmost = 1e30;
  for (const pvgui_qt::Op& op : frame.ops) {
    if (op.kind != pvgui_qt::Op::kText) continue;
    lowest = std::min(lowest, op.y);
    leftmost = std::min(leftmost, op.x);
  }
  int colour = 0;
  for (std::size_t i = 0; i < frame.ops.size(); ++i) {
    const pvgui_qt::Op& op = frame.ops[i];
    if (op.kind == pvgui_qt::Op::kPen) colour = op.colour;
    if (op.kind == pvgui_qt::Op::kMove && colour == 8 && i + 1 < frame.ops.size() &&
        frame.ops[i + 1].kind == pvgui_qt::Op::kLine)
      ++axes.limit_lines;
    if (op.kind != pvgui_qt::Op::kText) continue;
    axes.caption = axes.caption || op.text.startsWith("hkl ");
    bool number = false;
    const double v = QString(op.text).replace(QChar(0x2212), '-').toDouble(&number);
    if (!number) continue;
    if (op.y == lowest) axes.omega.push_back(v);
    else if (op.x == leftmost) axes.counts.push_back(v);
  }
  std::sort(axes.omega.begin(), axes.omega.end());
  std::sort(axes.counts.begin(), axes.counts.end());
  return axes;
}

TEST(RealWindowPlot, ZoomPanResetAndTheReportOfARun) {
  FreshToolkit();
  const fs::path dir = ScratchCopyOfExample("real-window-plot");
  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  const Widgets& w = state->widgets;
  User user;

  StartUpFrom(*state, user, dir, "example.dca", "example.par");
  OpenOutputWhenIdle(w, user, dir, "example.int");
  user.When("Integrate > Manual profile fit", [&] { return Idle(w) && Shown(w.output_label); },
            [&] { Choose(w, w.menu_manual_fit); });
  user.When("hkl 3 1 7 and Go", [&] { return Shown(w.fit_dialog); }, [&] {
    QLineEdit* hkl = Field(w.main[kWHklEntry]);
    hkl->selectAll();
    QTest::keyClicks(hkl, "3 1 7");
    Click(w.main[kWHklGo]);
  });
  user.When("the plot of 3 1 7: wheel, drag, keys, double click", [&] { return state->scan.seq_no == 42; }, [&] {
    auto* frame = static_cast<pvgui_qt::FrameWidget*>(W(w.frame));
    Screenshot(W(w.main_window), "window_scan_plot.png");
    const Ink ink = InkOf(frame->grab().toImage());
    EXPECT_GT(ink.counts, 300);
    EXPECT_GT(ink.fit, 300);
    const auto span = [&](const Axes& a) { return a.omega.back() - a.omega.front(); };
    const Axes before = AxesOf(*frame);
    ASSERT_TRUE(before.omega.size() >= 3 && before.counts.size() >= 3);

    // Two notches about the peak: fewer degrees of omega on the axis, still
    // labelled across it, with the counts axis, the residual strip and the
    // text line drawn again.
    const QPointF peak = ink.fit_box.center();
    Send(frame, QEvent::Wheel, peak, 2);
    const Axes zoomed = AxesOf(*frame);
    ASSERT_TRUE(zoomed.omega.size() >= 2 && zoomed.counts.size() >= 2);
    EXPECT_LT(span(zoomed), 0.8 * span(before));
    EXPECT_EQ(zoomed.limit_lines, 2);
    EXPECT_TRUE(zoomed.caption);
    Screenshot(W(w.main_window), "window_scan_plot_zoomed.png");

    // A drag to the right shows lower omega; the Right key higher again
    // (with the focus on a button, not in a field); a double click all.
    Send(frame, QEvent::MouseButtonPress, peak);
    Send(frame, QEvent::MouseMove, peak + QPointF(60, 0));
    Send(frame, QEvent::MouseButtonRelease, peak + QPointF(60, 0), 0, Qt::NoButton);
    const double dragged = AxesOf(*frame).omega.front();
    EXPECT_LT(dragged, zoomed.omega.front());
    W(w.main[kWNext])->setFocus();
    QTest::keyClick(W(w.main[kWNext]), Qt::Key_Right);
    EXPECT_GT(AxesOf(*frame).omega.front(), dragged);
    EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
    Send(frame, QEvent::MouseButtonDblClick, peak);
    EXPECT_EQ(AxesOf(*frame).omega, before.omega);
    Click(w.main[kWExit]);
  });

  user.When("Integrate > Auto profile fit", [&] { return Idle(w); }, [&] { Choose(w, w.menu_auto_fit); });
  user.When("Quit the peak defaults", [&] { return Shown(w.peak_dialog); }, [&] { Click(w.peak_quit); });
  user.When("Go", [&] { return !Shown(w.peak_dialog) && Usable(w.main[kWGo]); }, [&] { Click(w.main[kWGo]); });
  user.When("File > Report...", [&] { return Idle(w) && state->scan.seq_no == kExampleScans; }, [&] {
    pvgui_qt::AnswerNextBrowse("example.html", dir.string());
    Choose(w, w.menu_report);
  });

  while (!user.Done()) {
    const int code = tk::Wait();
    ASSERT_TRUE(DispatchCommand(*state, code)) << "code " << code;
  }
  EXPECT_EQ(Boxes("Report written to example.html"), 1);
  // One page with a plot per rejected scan, the classification of the run.
  const auto page = ReadLines(dir / "example.html");
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(page.front(), "<!DOCTYPE html>");
  int rejected = 0;
  for (int k = 2; k <= kOutcomeCounters; ++k) rejected += state->fit.outcome[k];
  int galleries = 0;
  for (const auto& line : page) galleries += line == "<div class=\"scan\">";
  EXPECT_EQ(galleries, std::min(rejected, kKeptRejected));
  fs::current_path(before);
}

}  // namespace
}  // namespace kalvex
