// The scan plot and the report in the real window: the plot of a fitted
// scan with its axes and residual strip, the wheel, drag and double click
// on it, and "Report..." from the File menu after an automatic run.
#include <QMouseEvent>
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
  user.When("the plot of 3 1 7: wheel, drag, double click", [&] { return state->scan.seq_no == 42; }, [&] {
    auto* frame = static_cast<pvgui_qt::FrameWidget*>(W(w.frame));
    Screenshot(W(w.main_window), "window_scan_plot.png");
    const QImage whole = frame->grab().toImage();
    const Ink ink = InkOf(whole);
    EXPECT_GT(ink.counts, 300);
    EXPECT_GT(ink.fit, 300);

    // Two notches about the peak magnify it, the point under the pointer held.
    const QPointF peak = ink.fit_box.center();
    Send(frame, QEvent::Wheel, peak, 2);
    EXPECT_NEAR(frame->zoom, 1.5625, 1e-9);
    const QImage zoomed = frame->grab().toImage();
    EXPECT_NE(zoomed, whole);
    EXPECT_NEAR(QLineF(frame->zoom * peak + frame->pan, peak).length(), 0.0, 1e-6);

    // A drag moves the view with the pointer.
    const QPointF pan = frame->pan;
    Send(frame, QEvent::MouseButtonPress, peak);
    Send(frame, QEvent::MouseMove, peak + QPointF(40, -10));
    Send(frame, QEvent::MouseButtonRelease, peak + QPointF(40, -10), 0, Qt::NoButton);
    EXPECT_EQ(frame->pan - pan, QPointF(40, -10));
    EXPECT_NE(frame->grab().toImage(), zoomed);

    // Zooming out cannot go below the whole; a double click shows it again.
    Send(frame, QEvent::Wheel, peak, -3);
    EXPECT_EQ(frame->zoom, 1.0);
    Send(frame, QEvent::Wheel, peak, 1);
    Send(frame, QEvent::MouseButtonDblClick, peak);
    EXPECT_EQ(frame->zoom, 1.0);
    EXPECT_EQ(frame->grab().toImage(), whole);
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
