// The window from the keyboard and on small screens: real key events on the
// real widgets and the codes they post, where dialogs open, and the plot
// following the main window's size.
#include <QClipboard>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <algorithm>

#include "toolkit/qt/frame.h"

#include "tests/gui/real_window.h"
#include "ui/scan_plot.h"

namespace kalvex {
namespace {

using namespace realwin;

// A key to the focus of the window the user looks at, made active as a
// window manager would (the offscreen platform may leave none active).
void MakeActive(QWidget* w) {
  QT_WARNING_PUSH
  QT_WARNING_DISABLE_DEPRECATED
  if (QApplication::activeWindow() != w) QApplication::setActiveWindow(w);
  QT_WARNING_POP
}
void Key(int window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* w = W(window);
  MakeActive(w);
  QWidget* focus = w->focusWidget();
  QTest::keyClick(focus && focus->isVisible() ? focus : w, key, modifiers);
}

std::vector<int> TakeCodes() {
  std::vector<int> codes = pvgui_qt::PendingCodes();
  for (std::size_t i = 0; i < codes.size(); ++i) ::IWinAction();
  return codes;
}

// Every dialog opens with the focus on its first field or main action;
// Enter in it, whichever widget has the focus, presses its main action,
// never "Quit"; Escape its "Quit" (or the "OK" of one that only shows
// values), and nothing where that would lose a choice.
TEST(KeysWindowDialogs, EnterPressesTheMainActionAndEscapeTheQuitFromEveryWidget) {
  FreshToolkit();
  auto state = NewProgramState();
  BuildUserInterface(*state);
  const Widgets& w = state->widgets;
  const std::array<int, 3> dialogs[] = {  // dialog, Enter's code, Escape's code
      {w.format_dialog, kCodeFormatOk, 0},
      {w.preprocess_dialog, kCodePreprocessGo, kCodePreprocessQuit},
      {w.diffractometer_dialog, kCodeDiffractometerOk, kCodeDiffractometerOk},
      {w.peak_dialog, kCodePeakSave, kCodePeakQuit},
      {w.background_dialog, kCodeBgSave, kCodeBgQuit},
      {w.fwhm_dialog, kCodeFwhmSave, kCodeFwhmQuit},
      {w.output_dialog, kCodeOutputSave, kCodeOutputQuit},
      {w.refine_dialog, kCodeRefineGo, kCodeRefineQuit},
      {w.results_dialog, kCodeResultsOk, kCodeResultsOk},
      {w.omega_dialog, kCodeOmegaOk, 0},
      {w.reduce_dialog, kCodeReduceGo, kCodeReduceQuit},
      {w.summary_dialog, kCodeSummaryOk, kCodeSummaryOk},
  };
  // Where the focus is when each opens: the first field asked for, the
  // choice already made, or the main action.
  const std::pair<int, int> first[] = {
      {w.format_dialog, w.format_xcalibur}, {w.preprocess_dialog, w.preprocess_threshold},
      {w.diffractometer_dialog, w.diffractometer_ok}, {w.peak_dialog, w.peak_fwhm_a},
      {w.background_dialog, w.bg_none}, {w.fwhm_dialog, w.fwhm_a}, {w.output_dialog, w.out_rfine},
      {w.refine_dialog, w.refine_go}, {w.results_dialog, w.results_ok}, {w.omega_dialog, w.omega_value},
      {w.run_end_dialog, w.run_end_close}};
  for (const auto& [d, widget] : first) {
    tk::WindowAction(d);
    EXPECT_EQ(W(d)->focusWidget(), W(widget)) << W(d)->windowTitle().toStdString();
    tk::WindowRemove(d);
  }
  for (const auto& [d, enter, escape] : dialogs) {
    tk::WindowAction(d);
    const std::string title = W(d)->windowTitle().toStdString();
    for (QWidget* child : W(d)->findChildren<QWidget*>()) {
      if (!child->isVisible() || !child->isEnabled() || !(child->focusPolicy() & Qt::TabFocus)) continue;
      child->setFocus();
      QTest::keyClick(child, Qt::Key_Return);
      EXPECT_EQ(TakeCodes(), enter ? std::vector<int>{enter} : std::vector<int>{})
          << title << ", Enter on " << child->metaObject()->className();
    }
    Key(d, Qt::Key_Escape);
    EXPECT_EQ(TakeCodes(), escape ? std::vector<int>{escape} : std::vector<int>{}) << title << ", Escape";
    EXPECT_TRUE(W(d)->isVisible()) << title;  // only the program hides a dialog
    tk::WindowRemove(d);
  }
}

// A session from the keyboard: Enter in the format dialog, Ctrl+O, the
// manual-fit keys, Enter in the hkl and ISEQ fields, the recent files.
TEST(KeysWindowSession, TheExampleFromTheKeyboard) {
  FreshToolkit();
  const fs::path dir = ScratchCopyOfExample("keys-window-session");
  QSettings().remove("recent");  // no file from an earlier test run
  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  const Widgets& w = state->widgets;
  const int& seq = state->scan.seq_no;
  User user;
  const auto press = [&](int window, Qt::Key key, int code, Qt::KeyboardModifiers mods = {}) {
    Key(window, key, mods);
    EXPECT_EQ(pvgui_qt::PendingCodes(), std::vector<int>{code}) << QKeySequence(key | mods).toString().toStdString();
  };
  const auto type_and_enter = [&](int field, const char* text, Qt::Key enter, int code) {
    Field(field)->setFocus();
    Field(field)->clear();
    QTest::keyClicks(Field(field), text);
    QTest::keyClick(Field(field), enter);
    EXPECT_EQ(pvgui_qt::PendingCodes(), std::vector<int>{code});
  };
  const auto enter_format = [&] {
    user.When("Enter in the format dialog", [&] { return Shown(w.format_dialog); },
              [&] { press(w.format_dialog, Qt::Key_Return, kCodeFormatOk); });
  };

  pvgui_qt::AnswerNextBrowse("example.dca", dir.string());
  pvgui_qt::AnswerNextBrowse("example.par", dir.string());
  enter_format();
  StartUp(*state);
  user.When("Ctrl+O", [&] { return Idle(w); }, [&] {
    pvgui_qt::AnswerNextBrowse("example.dca", dir.string());
    press(w.main_window, Qt::Key_O, kCodeOpenData, Qt::ControlModifier);
  });
  enter_format();
  user.When("File > Open output file", [&] { return Idle(w) && state->files.data_open; }, [&] {
    pvgui_qt::AnswerNextBrowse("example.int", dir.string());
    Choose(w, w.menu_open_output);
  });

  // Manual fitting: N, P, A (writes 1), hkl + Enter, F5, R, ISEQ + Enter.
  user.When("Integrate > Manual profile fit", [&] { return Idle(w) && Shown(w.output_label); },
            [&] { Choose(w, w.menu_manual_fit); });
  user.When("N", [&] { return Usable(w.main[kWNext]); }, [&] { press(w.main_window, Qt::Key_N, kCodeNext); });
  user.When("P", [&] { return seq == 2; }, [&] { press(w.main_window, Qt::Key_P, kCodePrevious); });
  user.When("A", [&] { return seq == 1; }, [&] { press(w.main_window, Qt::Key_A, kCodeAccept); });
  user.When("3 1 7 and Enter", [&] { return seq == 2; },
            [&] { type_and_enter(w.main[kWHklEntry], "3 1 7", Qt::Key_Return, kCodeHklGo); });
  // The keys work again after the entry: its Enter took the focus away.
  user.When("F5", [&] { return seq == 42; }, [&] { press(w.main_window, Qt::Key_F5, kCodeRefit); });
  user.When("R", [&] { return true; }, [&] { press(w.main_window, Qt::Key_R, kCodeReject); });
  user.When("ISEQ 10 and Enter", [&] { return seq == 43; },
            [&] { type_and_enter(w.main[kWSeqEntry], "10", Qt::Key_Enter, kCodeSeqGo); });
  user.When("Escape leaves manual fitting", [&] { return seq == 10; }, [&] {
    EXPECT_EQ(Seqs(ReadLines(dir / "example.int")), std::vector<int>{1});
    press(w.main_window, Qt::Key_Escape, kCodeExit);
  });

  // File > Recent data files > 1 opens the example again, from anywhere.
  user.When("File > Recent data files > 1", [&] { return Idle(w); }, [&] {
    Key(w.main_window, Qt::Key_Escape);  // at the menus Escape is no Exit
    EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
    // Read from the settings kept on disk; the same file twice is one entry.
    const QList<QAction*> entries = pvgui_qt::ActionOf(w.menu_recent)->menu()->actions();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_TRUE(entries[0]->text().contains("example.dca"));
    fs::current_path(before);
    entries[0]->trigger();
    EXPECT_EQ(pvgui_qt::PendingCodes(), std::vector<int>{kCodeOpenRecent});
  });
  enter_format();

  while (!user.Done()) {
    const int code = tk::Wait();
    ASSERT_TRUE(DispatchCommand(*state, code)) << "code " << code;
  }
  EXPECT_EQ(fs::current_path(), fs::canonical(dir));
  EXPECT_EQ(seq, 1);
  for (const auto& box : pvgui_qt::LastBoxes()) EXPECT_FALSE(box.error) << box.message.toStdString();
  fs::current_path(before);
}

// The texts the frame shows (the idle window's lines).
QStringList FrameTexts(const Widgets& w) {
  QStringList texts;
  for (const pvgui_qt::Op& op : static_cast<pvgui_qt::FrameWidget*>(W(w.frame))->ops)
    if (op.kind == pvgui_qt::Op::kText) texts << op.text;
  return texts;
}

// Where the keys go: the idle window names the files and the next step;
// after Ctrl+M the focus is on Next, and N and P press the buttons even
// from a number field of the fitting controls; Enter in the fitting
// controls presses Go in an automatic run, whose command is then copied.
TEST(KeysWindowSession, TheKeysActWhereverTheFocusIsAndTheIdleWindowSaysWhatIsOpen) {
  FreshToolkit();
  const fs::path dir = ScratchCopyOfExample("keys-window-focus");
  const fs::path before = fs::current_path();
  auto state = NewProgramState();
  const Widgets& w = state->widgets;
  const int& seq = state->scan.seq_no;
  User user;
  const auto focus = [](int window) { return W(window)->focusWidget(); };
  const auto press = [&](QWidget* target, Qt::Key key, int code) {
    QTest::keyClick(target, key);
    EXPECT_EQ(pvgui_qt::PendingCodes(), std::vector<int>{code}) << QKeySequence(key).toString().toStdString();
  };

  StartUpFrom(*state, user, dir, "example.dca", "example.par");
  user.When("the idle window", [&] { return Idle(w); }, [&] {
    const QStringList texts = FrameTexts(w);
    for (const char* said : {"example.dca", "Xcalibur, 321 reflections", "example.par",
                             "none (nothing is written without one)", "Name the intensity file: File \u2192 Open output file"})
      EXPECT_TRUE(texts.contains(QString::fromUtf8(said))) << said << "\n" << texts.join('|').toStdString();
    Screenshot(W(w.main_window), "window_idle.png");
  });
  OpenOutputWhenIdle(w, user, dir, "example.int");
  user.When("Ctrl+M", [&] { return Idle(w) && FrameTexts(w).contains("example.int"); }, [&] {
    EXPECT_TRUE(FrameTexts(w).join('|').contains("Auto profile fit (Ctrl+G)"));
    Key(w.main_window, Qt::Key_M, Qt::ControlModifier);
  });
  const auto intensity = [&] { return Field(w.fit_rows[kIntensity].input); };
  user.When("N, with the focus on Next", [&] { return Usable(w.main[kWNext]); }, [&] {
    EXPECT_EQ(focus(w.main_window), W(w.main[kWNext]));
    press(focus(w.main_window), Qt::Key_N, kCodeNext);
  });
  user.When("P from the intensity field, which keeps its number", [&] { return seq == 2; }, [&] {
    intensity()->setFocus();
    const QString number = intensity()->text();
    press(intensity(), Qt::Key_P, kCodePrevious);
    EXPECT_EQ(intensity()->text(), number);
  });
  user.When("Escape from the field leaves", [&] { return seq == 1; },
            [&] { press(intensity(), Qt::Key_Escape, kCodeExit); });
  user.When("Ctrl+G: the peak defaults open at their first field", [&] { return Idle(w); },
            [&] { Key(w.main_window, Qt::Key_G, Qt::ControlModifier); });
  user.When("Escape", [&] { return Shown(w.peak_dialog); },
            [&] { press(focus(w.peak_dialog), Qt::Key_Escape, kCodePeakQuit); });
  user.When("Enter in the fitting controls presses Go", [&] { return Usable(w.main[kWGo]); }, [&] {
    EXPECT_EQ(focus(w.main_window), W(w.main[kWGo]));
    QLineEdit* eta = Field(w.fit_rows[kEta].input);
    eta->setFocus();
    press(eta, Qt::Key_Return, kCodeGo);
  });
  user.When("at the end, File > Copy batch command", [&] { return Shown(w.run_end_dialog); }, [&] {
    EXPECT_TRUE(FrameTexts(w).contains("example.int"));  // the idle window again
    Choose(w, w.menu_copy_command);
  });

  while (!user.Done()) {
    const int code = tk::Wait();
    ASSERT_TRUE(DispatchCommand(*state, code)) << "code " << code;
  }
  for (const auto& box : pvgui_qt::LastBoxes()) EXPECT_FALSE(box.error) << box.message.toStdString();
  // The run's command, as its log ends it, on the clipboard.
  const QString copied = QApplication::clipboard()->text();
  EXPECT_EQ(copied, "kalvex integrate example.dca --par example.par");
  const auto log = ReadLines(dir / "example.log");
  EXPECT_NE(std::find(log.begin(), log.end(), " " + copied.toStdString()), log.end());
  fs::current_path(before);
}

// Every dialog opens inside the screen's available area and off the plot,
// beside the main window where there is room; with the fitting controls up
// the buttons of manual fitting stay free too. The main window gets back
// the room a dialog took, and can be resized. Run on a 1366 x 768 screen
// and at a scale of 1.5.
TEST(KeysWindowScreen, EveryDialogOpensInsideTheScreenAndOffThePlotAndThePlotFollowsTheWindow) {
  FreshToolkit();
  auto state = NewProgramState();
  BuildUserInterface(*state);
  const Widgets& w = state->widgets;
  const std::string suffix = std::getenv("KALVEX_SCREEN_NAME") ? std::getenv("KALVEX_SCREEN_NAME") : "default";
  QWidget* main = W(w.main_window);
  const QRect avail = main->screen()->availableGeometry();
  QTest::qWait(10);
  const QSize main_size = main->size();
  EXPECT_TRUE(avail.contains(main->frameGeometry()));
  for (int i = 2; i <= kMainWidgets; ++i) tk::WidgetStatus(w.main[i], tk::kActive);
  // A peak in the plot, as manual fitting shows one.
  ScanReflection& scan = state->scan;
  scan.hkl = {3, 1, 7}, scan.seq_no = 42, state->fit.i_fit = 1713.7f, state->fit.sigma_fit = 6.7f;
  scan.step_count = 80;
  for (int i = 0; i < 80; ++i) {
    scan.step_position[i] = -0.8f + 0.02f * static_cast<float>(i);
    scan.calculated[i] = 40.0f + 4000.0f * std::exp(-std::pow(scan.step_position[i] / 0.12f, 2.0f));
    scan.counts[i] = scan.calculated[i] + 3.0f * std::sqrt(scan.calculated[i]) * std::sin(7.0f * static_cast<float>(i));
  }
  const auto global = [](int h) { return QRect(W(h)->mapToGlobal(QPoint(0, 0)), W(h)->size()); };
  // The buttons the user needs next (Accept and Reject share their places
  // with Go and Stop).
  const int named[] = {w.main[kWGo],   w.main[kWStop],     w.main[kWExit],   w.main[kWNext],
                       w.main[kWPrevious], w.main[kWAccept], w.main[kWReject], w.main[kWRefit]};
  // Off the plot and the named buttons, inside the screen.
  const auto clear = [&](const QRect& r, const std::string& what) {
    EXPECT_TRUE(avail.contains(r)) << what;
    EXPECT_FALSE(r.intersects(global(w.frame))) << what;
    for (int button : named) EXPECT_FALSE(r.intersects(global(button))) << what << " over " << W(button)->property("text").toString().toStdString();
  };
  // The screen as the user sees it, with these windows on it.
  const auto shoot = [&](std::string name, std::initializer_list<int> windows) {
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    const fs::path shot = fs::path(KALVEX_BINARY_DIR) / "screenshots" / ("screen_" + suffix + "_" + name + ".png");
    fs::create_directories(shot.parent_path());
    QImage screen(main->screen()->size(), QImage::Format_RGB32);
    screen.fill(QColor(58, 110, 165));
    for (int window : windows) QPainter(&screen).drawPixmap(W(window)->pos(), W(window)->grab());
    EXPECT_TRUE(screen.save(QString::fromStdString(shot.string())));
  };
  for (int d : {w.format_dialog, w.fit_dialog, w.preprocess_dialog, w.diffractometer_dialog, w.peak_dialog,
                w.background_dialog, w.fwhm_dialog, w.output_dialog, w.refine_dialog, w.results_dialog, w.busy_dialog,
                w.omega_dialog, w.reduce_dialog, w.summary_dialog, w.run_end_dialog}) {
    tk::WindowAction(d);
    QTest::qWait(10);
    const QRect dialog = W(d)->frameGeometry();
    std::string name = W(d)->windowTitle().toStdString();
    clear(dialog, name);
    // The plot keeps its share of the main window, and its least height.
    EXPECT_GE(global(w.frame).height() + 2 * pvgui_qt::Gutter().top(), 0.4 * main->height() - 1) << name;
    EXPECT_GE(global(w.frame).height() + 2 * pvgui_qt::Gutter().top(), 4 * pvgui_qt::CellSize().height()) << name;
    // A box the dialog raises stands on it, off the plot and the buttons.
    MakeActive(W(d));
    ::ErrorBox("WinKalvex", 9, "A message", 9);
    const QRect box = pvgui_qt::LastBoxes().back().place;
    ASSERT_FALSE(box.isNull()) << name;
    clear(box, name + ": its box");
    shoot(name, {w.main_window, d});
    tk::WindowRemove(d);
    QTest::qWait(10);
    EXPECT_EQ(main->size(), main_size) << name;
  }

  // Preprocessing Control beside the fitting controls it tells the user to
  // set, where the screen has room for both; a box of the main window off
  // the plot.
  tk::WindowDraw(w.fit_dialog);
  tk::WindowAction(w.preprocess_dialog);
  QTest::qWait(10);
  clear(W(w.preprocess_dialog)->frameGeometry(), "Preprocessing Control");
  // (At a scale of 1.5 the two with the main window need more room than
  // either screen has.)
  if (suffix == "laptop" || suffix == "desktop") {
    EXPECT_FALSE(W(w.preprocess_dialog)->frameGeometry().intersects(W(w.fit_dialog)->frameGeometry()));
  }
  shoot("preprocessing_beside_the_fitting_controls", {w.main_window, w.fit_dialog, w.preprocess_dialog});
  tk::WindowRemove(w.preprocess_dialog);
  MakeActive(main);
  W(w.main[kWAccept])->setFocus();
  ::GeneralMessage("WinKalvex", 9, "Reflection 42 is already in example.int. Write it again?", 56, 3, 0);
  clear(pvgui_qt::LastBoxes().back().place, "a box of Accept");
  // Manual fitting as it looks on this screen.
  tk::WidgetStatus(w.main[kWGo], tk::kHidden);
  tk::WidgetStatus(w.main[kWStop], tk::kHidden);
  PlotScan(*state);
  QTest::qWait(10);
  shoot("manual_fitting", {w.main_window, w.fit_dialog});
  tk::WindowRemove(w.fit_dialog);
  QTest::qWait(10);

  // The plot takes what the main window gains; the widgets above it and
  // below it keep their places from the top and the bottom edge.
  QWidget* area = pvgui_qt::GridAreaOf(w.main_window);
  const QSize frame_before = W(w.frame)->size(), area_before = area->size();
  const QRect label_before = W(w.data_from_label)->geometry();
  const int exit_from_bottom = area->height() - W(w.main[kWExit])->geometry().top();
  main->resize(1600, 1000);
  QTest::qWait(10);
  EXPECT_EQ(main->size(), QSize(1600, 1000));
  EXPECT_EQ(W(w.frame)->size(), frame_before + (area->size() - area_before));
  EXPECT_GT(W(w.frame)->width(), frame_before.width() + 700);
  EXPECT_EQ(W(w.data_from_label)->geometry(), label_before);
  EXPECT_EQ(area->height() - W(w.main[kWExit])->geometry().top(), exit_from_bottom);
  Screenshot(main, "window_1600x1000_" + suffix + ".png");
}

}  // namespace
}  // namespace kalvex
