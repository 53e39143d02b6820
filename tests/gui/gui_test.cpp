// The Qt toolkit under the offscreen platform: the whole interface on the
// layout grid, dialogs driven by real clicks, the code queue and timer, boxes,
// the browser hook and the graphics frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/command_loop.h"
#include "commands/parameter_dialogs.h"
#include "ui/dialogs.h"
#include "state/program_state.h"
#include "ui/user_interface.h"
#include "toolkit/pvgui.h"
#include "toolkit/pvwinerr/pvwinerr.h"
#include "toolkit/qt/pvgui_qt_testing.h"
#include "toolkit/toolkit.h"

namespace kalvex {
namespace {

// A fresh toolkit and state with the whole interface built.
std::unique_ptr<ProgramState> Fresh() {
  ::WinExit();
  tk::ResetRegistry();
  pvgui_qt::ClearBoxes();
  auto state = NewProgramState();
  BuildUserInterface(*state);
  return state;
}

QWidget* W(int handle) {
  QWidget* w = pvgui_qt::WidgetOf(handle);
  EXPECT_NE(w, nullptr) << "handle " << handle;
  return w;
}

// Where a widget of grid box (x, y, w, h) belongs in a grid area `rows`
// cells high: cells counted from the lower left, less the gutter.
QRect Expected(int rows, int x, int y, int w, int h) {
  const QSize cell = pvgui_qt::CellSize();
  return QRect(x * cell.width(), (rows - y - h) * cell.height(), w * cell.width(), h * cell.height())
      .marginsRemoved(pvgui_qt::Gutter());
}

// Clicks from inside the program's wait loop, once it is running.
void WhenWaiting(std::function<void()> actions) { QTimer::singleShot(0, qApp, std::move(actions)); }

std::filesystem::path Screenshots() {
  auto dir = std::filesystem::path(KALVEX_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(dir);
  return dir;
}

std::vector<int> Dialogs(const Widgets& w) {
  return {w.format_dialog, w.fit_dialog,       w.preprocess_dialog, w.diffractometer_dialog, w.peak_dialog,
          w.background_dialog, w.fwhm_dialog, w.output_dialog,     w.refine_dialog,         w.results_dialog,
          w.busy_dialog,   w.omega_dialog};
}

TEST(QtInterface, OnlyTheMainWindowShowsAfterBuildingAndTheFittingControlsAreHidden) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  EXPECT_EQ(pvwinerr_registered(), 1);
  auto* main = qobject_cast<QMainWindow*>(W(w.main_window));
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->isVisible());
  EXPECT_EQ(main->windowTitle(), "WIN-KALVEX V3.3");
  for (int d : Dialogs(w)) {
    auto* dialog = qobject_cast<QDialog*>(W(d));
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isVisible()) << dialog->windowTitle().toStdString();
    EXPECT_EQ(dialog->parentWidget(), main);
  }
  EXPECT_TRUE(W(w.main[kWExit])->isVisible());
  for (int i = 2; i <= kMainWidgets; ++i) {
    EXPECT_TRUE(W(w.main[i])->isHidden()) << "widget " << i;
    EXPECT_EQ(::GetWidgetStatus(w.main[i]), -1);
  }
  EXPECT_TRUE(W(w.output_label)->isHidden());
  EXPECT_TRUE(W(w.output_file_field)->isHidden());  // shown with its label once a file is open
  // The status bar line sits below the grid area, outside it.
  QWidget* status = W(w.status_bar);
  EXPECT_TRUE(qobject_cast<QLabel*>(status)->text().startsWith("Win-Kalvex V3.3"));
  EXPECT_FALSE(pvgui_qt::GridAreaOf(w.main_window)->isAncestorOf(status));

  const QStringList titles = {"File", "Integrate", "Utilities", "Parameters"};
  // Alt and the underlined letter open a menu.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pvgui_qt::ActionOf(w.menu_titles[i])->text(), "&" + titles[i]);
  EXPECT_EQ(pvgui_qt::ActionOf(w.menu_output_format)->text(), "Output format");
}

TEST(QtInterface, MainWindowWidgetsSitWhereTheGridPutsThem) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  QWidget* area = pvgui_qt::GridAreaOf(w.main_window);
  const QSize cell = pvgui_qt::CellSize();
  EXPECT_GT(cell.width(), 11);
  EXPECT_GT(cell.height(), 11);
  EXPECT_EQ(area->size(), QSize(20 * cell.width(), 19 * cell.height()));

  EXPECT_EQ(W(w.frame)->geometry(), Expected(19, 1, 4, 18, 12));
  EXPECT_EQ(W(w.main[kWExit])->geometry(), Expected(19, 16, 0, 2, 1));
  EXPECT_EQ(W(w.logo)->geometry(), Expected(19, 1, 2, 2, 2));
  EXPECT_EQ(W(w.data_file_field)->geometry(), Expected(19, 4, 17, 6, 1));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(W(w.main[kWAngle1 + i])->geometry(), Expected(19, 6 + 2 * i, 0, 2, 1)) << "angle " << i;

  // y grows upwards: the bottom row touches the bottom of the area, the
  // "Data from" row is above the frame, which is above the buttons.
  const QRect exit = W(w.main[kWExit])->geometry();
  EXPECT_EQ(exit.bottom() + pvgui_qt::Gutter().bottom() + 1, area->height());
  EXPECT_LT(W(w.data_from_label)->geometry().bottom(), W(w.frame)->geometry().top());
  EXPECT_LT(W(w.frame)->geometry().bottom(), W(w.main[kWPrevious])->geometry().top());
  EXPECT_LT(W(w.main[kWPrevious])->geometry().bottom(), W(w.main[kWHklEntry])->geometry().top());
  // Pairs that share their place by design sit exactly on one another.
  EXPECT_EQ(W(w.main[kWGo])->geometry().topLeft(), W(w.main[kWAccept])->geometry().topLeft());
  EXPECT_EQ(W(w.main[kWStop])->geometry().topLeft(), W(w.main[kWReject])->geometry().topLeft());
}

TEST(QtInterface, NoWidgetIsCutOffOrCoversAnother) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  // Widgets that share a place by design: only one of each pair is shown.
  const std::vector<std::pair<int, int>> sharing = {{w.main[kWGo], w.main[kWAccept]},
                                                    {w.main[kWStop], w.main[kWReject]},
                                                    {w.bg_c, w.bg_nstep}};
  auto shares = [&](QWidget* a, QWidget* b) {
    for (auto [p, q] : sharing)
      if ((W(p) == a && W(q) == b) || (W(p) == b && W(q) == a)) return true;
    return false;
  };
  std::vector<int> windows = Dialogs(w);
  windows.push_back(w.main_window);
  for (int window : windows) {
    QWidget* area = pvgui_qt::GridAreaOf(window);
    const QString title = W(window)->windowTitle();
    std::vector<QWidget*> children;
    for (QWidget* child : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (!child->isWindow()) children.push_back(child);
    ASSERT_FALSE(children.empty()) << title.toStdString();
    for (QWidget* child : children) {
      EXPECT_TRUE(area->rect().contains(child->geometry()))
          << title.toStdString() << ": " << child->metaObject()->className() << " "
          << child->property("text").toString().toStdString();
      // The text must fit the room it was given.
      if (auto* label = qobject_cast<QLabel*>(child)) {
        EXPECT_GE(child->width(), label->sizeHint().width()) << label->text().toStdString();
      }
      if (auto* radio = qobject_cast<QRadioButton*>(child)) {
        EXPECT_GE(child->width(), radio->sizeHint().width()) << radio->text().toStdString();
      }
      if (auto* button = qobject_cast<QPushButton*>(child)) {
        EXPECT_GE(child->width(), button->fontMetrics().horizontalAdvance(button->text()) + 8)
            << button->text().toStdString();
      }
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
      for (std::size_t j = i + 1; j < children.size(); ++j) {
        if (shares(children[i], children[j])) continue;
        EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
            << title.toStdString() << ": " << children[i]->property("text").toString().toStdString() << " / "
            << children[j]->property("text").toString().toStdString();
      }
    }
  }
}

TEST(QtInterface, ScreenshotsOfTheMainWindowAndEveryDialog) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  // A scan as the plot draws it: baseline and counts in 1, fit in 5, the
  // position tick in 7, the standard's mark in 2.
  tk::ClearFrame(w.frame);
  tk::ChangePen(w.frame, 1);
  tk::DrawMove(w.frame, 0, 20);
  tk::DrawLine(w.frame, 300, 20);
  for (int series = 0; series < 2; ++series) {
    tk::ChangePen(w.frame, series == 0 ? 1 : 5);
    for (int i = 0; i <= 60; ++i) {
      const float x = 5.0f * i;
      const float bump = 150.0f * std::exp(-std::pow((x - 150.0f) / 30.0f, 2.0f));
      const float y = 20 + 12 + bump + (series == 0 ? 6.0f * std::sin(1.7f * i) : 0.0f);
      if (i == 0)
        tk::DrawMove(w.frame, x, y);
      else
        tk::DrawLine(w.frame, x, y);
    }
  }
  tk::ChangePen(w.frame, 7);
  tk::DrawMove(w.frame, 150, 200);
  tk::DrawLine(w.frame, 150, 146);
  tk::ChangePen(w.frame, 2, 5.0f);
  tk::DrawString(w.frame, 5, 10, "STANDARD");
  tk::UpdateFrame(w.frame);
  for (int i = 2; i <= 10; ++i) tk::WidgetStatus(w.main[i], tk::kActive);
  tk::WidgetStatus(w.main[kWAccept], tk::kActive);
  tk::WidgetStatus(w.main[kWReject], tk::kActive);
  for (int i = 13; i <= 17; ++i) tk::WidgetStatus(w.main[i], tk::kActive);
  tk::SetString(w.data_file_field, "sample.dca");
  tk::SetString(w.title_field, "simulated test crystal");

  const QImage main = W(w.main_window)->grab().toImage();
  ASSERT_FALSE(main.isNull());
  const auto path = Screenshots() / "main_window.png";
  ASSERT_TRUE(main.save(QString::fromStdString(path.string())));
  EXPECT_GT(std::filesystem::file_size(path), 1000u);

  const std::vector<int> dialogs = Dialogs(w);
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    tk::WindowDraw(dialogs[i]);
    QWidget* dialog = W(dialogs[i]);
    const QImage image = dialog->grab().toImage();
    QString name = dialog->windowTitle().toLower();
    name.replace(QRegularExpression("[^a-z0-9]+"), "_");
    name = QString("dialog_%1_%2.png").arg(i + 1, 2, 10, QChar('0')).arg(name);
    EXPECT_TRUE(image.save(QString::fromStdString((Screenshots() / name.toStdString()).string())));
    tk::WindowRemove(dialogs[i]);
    EXPECT_FALSE(dialog->isVisible());
  }
}

TEST(QtDialogs, OutputFormatIsChosenByClickingThroughTheDialog) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  state->params.output_format = 0;
  WhenWaiting([&] {
    EXPECT_TRUE(W(w.output_dialog)->isVisible());
    EXPECT_TRUE(qobject_cast<QRadioButton*>(W(w.out_rfine))->isChecked());
    QTest::mouseClick(W(w.out_rfine_extended), Qt::LeftButton);
    QTest::mouseClick(W(w.output_save), Qt::LeftButton);
  });
  EditOutputFormat(*state);
  EXPECT_EQ(state->params.output_format, 1);
  EXPECT_FALSE(W(w.output_dialog)->isVisible());
  EXPECT_FALSE(qobject_cast<QRadioButton*>(W(w.out_rfine))->isChecked());

  // A choice left by Quit is not stored.
  WhenWaiting([&] {
    QTest::mouseClick(W(w.out_shelx), Qt::LeftButton);
    QTest::mouseClick(W(w.main[kWExit]), Qt::LeftButton);  // discarded while the dialog waits
    QTest::mouseClick(W(w.output_quit), Qt::LeftButton);
  });
  EditOutputFormat(*state);
  EXPECT_EQ(state->params.output_format, 1);
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
}

TEST(QtDialogs, BackgroundTypeShowsItsFieldsAndTypedValuesAreStored) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  auto& p = state->params;
  p.bg_type = 0;
  WhenWaiting([&] {
    EXPECT_TRUE(W(w.bg_a)->isHidden());
    QTest::mouseClick(W(w.bg_exp), Qt::LeftButton);
    QTimer::singleShot(0, qApp, [&] {
      // The handler has shown the exponential's fields by now.
      EXPECT_TRUE(W(w.bg_a)->isVisible());
      EXPECT_TRUE(W(w.bg_nstep)->isHidden());
      auto* a = qobject_cast<QLineEdit*>(W(w.bg_a));
      a->selectAll();
      QTest::keyClicks(a, "12.5");
      QTest::mouseClick(W(w.bg_save), Qt::LeftButton);
    });
  });
  EditBackgroundOptions(*state);
  EXPECT_EQ(p.bg_type, 2);
  EXPECT_FLOAT_EQ(p.pdef[kBackground][kCoefA], 12.5f);
}

TEST(QtDialogs, OmegaStepTooSmallIsRefusedThenTheCorrectedFieldIsAccepted) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  float step = 0;
  WhenWaiting([&] {
    auto* field = qobject_cast<QLineEdit*>(W(w.omega_value));
    EXPECT_EQ(field->text(), "0.0200");
    field->selectAll();
    QTest::keyClicks(field, "0.0009");
    QTest::mouseClick(W(w.omega_ok), Qt::LeftButton);
    QTest::mouseClick(W(w.omega_ok), Qt::LeftButton);
  });
  AskOmegaStep(*state, step);
  EXPECT_FLOAT_EQ(step, 0.001f);
  ASSERT_EQ(pvgui_qt::LastBoxes().size(), 1u);
  EXPECT_EQ(pvgui_qt::LastBoxes()[0].title, "WinKalvex");
  EXPECT_EQ(pvgui_qt::LastBoxes()[0].message, "  Step size too small");
  EXPECT_TRUE(pvgui_qt::LastBoxes()[0].error);
  EXPECT_EQ(qobject_cast<QLineEdit*>(W(w.omega_value))->text(), "0.0010");
}

TEST(QtValues, TextsCrossAsPaddedFieldsAndAreCutAtTheirLimits) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  const std::string padded = "Anti-parallel       ";
  ::SetString(w.title_field, padded.data(), static_cast<int>(padded.size()));
  EXPECT_EQ(qobject_cast<QLineEdit*>(W(w.title_field))->text(), "Anti-parallel");
  char field[16];
  ::GetString(w.title_field, field, sizeof field);
  EXPECT_EQ(std::string(field, sizeof field), "Anti-parallel   ");
  char short_field[4];
  ::GetString(w.title_field, short_field, sizeof short_field);
  EXPECT_EQ(std::string(short_field, sizeof short_field), "Anti");
  // A caption the program changes is read back the same way.
  ::SetString(w.orientation_text, padded.data(), static_cast<int>(padded.size()));
  EXPECT_EQ(tk::GetString(w.orientation_text), "Anti-parallel");
  ::SetString(w.mono_label, "No Monochromator", 16);
  EXPECT_GE(W(w.mono_label)->width(), W(w.mono_label)->sizeHint().width());

  const std::string long_title(300, 'T');
  int handle = 0;
  const int made = ::OpenWindow(w.main_window, long_title.data(), 300, 1, 1, 4, 2, &handle);
  EXPECT_EQ(made, handle);
  EXPECT_GT(handle, w.omega_ok);
  EXPECT_EQ(W(handle)->windowTitle().size(), 255);

  // A field holds at most its length; the display fields of the main window
  // are read-only, the hkl entry is the user's.
  auto* hkl = qobject_cast<QLineEdit*>(W(w.main[kWHklEntry]));
  ASSERT_NE(hkl, nullptr);
  EXPECT_FALSE(hkl->isReadOnly());
  EXPECT_EQ(hkl->maxLength(), 20);
  EXPECT_TRUE(qobject_cast<QLineEdit*>(W(w.data_file_field))->isReadOnly());
  EXPECT_NE(qobject_cast<QLabel*>(W(w.data_from_label)), nullptr);
  EXPECT_EQ(tk::GetString(w.main[kWHklLabel]), "HKL =");
}

TEST(QtValues, ValueFieldsShowTheirDecimalsAndGiveBackWhatWasTyped) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  auto* lambda = qobject_cast<QLineEdit*>(W(w.peak_lambda1));
  ::SetNumber(w.peak_lambda1, 0.7093171f);
  EXPECT_EQ(lambda->text(), "0.709317");
  EXPECT_TRUE(lambda->alignment() & Qt::AlignRight);
  // Untouched, the field gives back the number it was set to, not its
  // rounded display.
  ::SetNumber(w.main[kWAngle1], 12.3456f);
  EXPECT_EQ(qobject_cast<QLineEdit*>(W(w.main[kWAngle1]))->text(), "12.35");
  EXPECT_FLOAT_EQ(::GetNumber(w.main[kWAngle1]), 12.3456f);
  EXPECT_TRUE(qobject_cast<QLineEdit*>(W(w.main[kWAngle1]))->isReadOnly());

  struct Typed {
    const char* text;
    float value;
  };
  for (const Typed& t : {Typed{"2.5", 2.5f}, Typed{"  -7 ", -7.0f}, Typed{"1e-3", 0.001f}, Typed{"abc", 0.0f},
                         Typed{"", 0.0f}, Typed{"1.5.2", 0.0f}}) {
    lambda->selectAll();
    lambda->del();
    QTest::keyClicks(lambda, t.text);
    EXPECT_FLOAT_EQ(::GetNumber(w.peak_lambda1), t.value) << "typed '" << t.text << "'";
  }
}

TEST(QtValues, TogglesRadiosAndTheListBox) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  EXPECT_EQ(::GetToggle(w.format_xcalibur), 1);
  ::SetToggle(w.format_cad4, 1);
  EXPECT_EQ(::GetToggle(w.format_xcalibur), 0);
  EXPECT_EQ(::GetToggle(w.format_cad4), 1);
  // The program may clear the last toggle of a box.
  ::SetToggle(w.format_cad4, 0);
  for (int h : {w.format_xcalibur, w.format_single, w.format_cad4, w.format_xscans}) EXPECT_EQ(::GetToggle(h), 0);

  // A toggle without a code posts nothing; one with a code posts it.
  tk::WindowDraw(w.format_dialog);
  QTest::mouseClick(W(w.format_single), Qt::LeftButton);
  EXPECT_EQ(::GetToggle(w.format_single), 1);
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
  tk::WindowDraw(w.refine_dialog);
  QTest::mouseClick(W(w.refine_offsets), Qt::LeftButton);
  EXPECT_EQ(::GetToggle(w.refine_offsets), 1);
  EXPECT_EQ(::IWinAction(), kCodeRefineOffsets);

  auto* list = qobject_cast<QComboBox*>(W(w.refine_system_list));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count(), 6);
  EXPECT_EQ(list->itemText(5), "Cubic");
  EXPECT_EQ(::ListBoxStatus(w.refine_system_list), 1);  // the interface starts on the first system
  ::ListBoxSelect(w.refine_system_list, 3);
  EXPECT_EQ(list->currentText(), "Orthorhombic");
  list->setCurrentIndex(4);
  EXPECT_EQ(::ListBoxStatus(w.refine_system_list), 5);
  ::ListBoxSelect(w.refine_system_list, 7);
  EXPECT_EQ(::ListBoxStatus(w.refine_system_list), 0);
}

TEST(QtValues, WidgetStatusGreysHidesAndReportsMenusAndWidgets) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  QAction* calc_ub = pvgui_qt::ActionOf(w.menu_calc_ub);
  SetPreprocessedState(*state, 0);
  EXPECT_FALSE(calc_ub->isEnabled());
  EXPECT_TRUE(calc_ub->isVisible());
  EXPECT_EQ(::GetWidgetStatus(w.menu_calc_ub), 0);
  SetPreprocessedState(*state, 1);
  EXPECT_TRUE(calc_ub->isEnabled());

  ::WidgetStatus(w.menu_titles[1], -1);
  EXPECT_FALSE(pvgui_qt::ActionOf(w.menu_titles[1])->isVisible());
  ::WidgetStatus(w.menu_titles[1], 1);
  EXPECT_TRUE(pvgui_qt::ActionOf(w.menu_titles[1])->isVisible());

  ::WidgetStatus(w.main[kWNext], 0);
  EXPECT_TRUE(W(w.main[kWNext])->isVisible());
  EXPECT_FALSE(W(w.main[kWNext])->isEnabled());
  // A greyed button cannot be pressed.
  QTest::mouseClick(W(w.main[kWNext]), Qt::LeftButton);
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());

  ::WidgetStatus(w.output_radio, -1);
  EXPECT_TRUE(W(w.out_shelx)->isHidden());
  EXPECT_EQ(::GetWidgetStatus(w.out_shelx), -1);
}

TEST(QtEvents, CodesComeInTheOrderTheyWerePosted) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  pvgui_qt::ActionOf(w.menu_open_output)->trigger();
  QTest::mouseClick(W(w.main[kWExit]), Qt::LeftButton);
  EXPECT_EQ(pvgui_qt::PendingCodes(), (std::vector<int>{kCodeOpenOutput, kCodeExit}));
  EXPECT_EQ(::IWinAction(), kCodeOpenOutput);
  EXPECT_EQ(::IWinAction(), kCodeExit);
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
}

TEST(QtEvents, ClosingTheMainWindowReportsMinusOneAndKeepsItOpen) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  WhenWaiting([&] { EXPECT_FALSE(W(w.main_window)->close()); });
  EXPECT_EQ(::IWinAction(), -1);
  EXPECT_TRUE(W(w.main_window)->isVisible());

  // A dialog's close button, and Escape where it has no Quit, neither hide
  // it nor post anything.
  tk::WindowDraw(w.format_dialog);
  QWidget* dialog = W(w.format_dialog);
  EXPECT_FALSE(dialog->close());
  QTest::keyClick(dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
}

TEST(QtEvents, EnterInADialogFieldPressesNoButton) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  tk::WindowAction(w.fit_dialog);
  QWidget* low = W(w.fit_rows[kFwhm].low);
  low->setFocus();
  QTest::keyClick(low, Qt::Key_Return);
  QTest::keyClick(low, Qt::Key_Enter);
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
  EXPECT_TRUE(W(w.fit_dialog)->isVisible());
}

TEST(QtEvents, TheTimerPostsOneTickAtATimeAndStopsOnCodeZero) {
  auto state = Fresh();
  const Widgets& w = state->widgets;
  ::SetCallTime(10, kCodeTimer);
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(::IWinAction(), kCodeTimer);
  // Twenty ticks of 10 units come quickly: a file integrates in seconds.
  EXPECT_LT(clock.elapsed(), 1000);

  // Ticks do not pile up while the program is busy, and a click waits its
  // turn behind the one tick already queued: the toolkit's timer (the one
  // running on the application) fires five times while nothing is taken.
  std::vector<QTimer*> running;
  for (QTimer* timer : qApp->findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
    if (timer->isActive()) running.push_back(timer);
  ASSERT_EQ(running.size(), 1u);
  QTimer* ticker = running[0];
  int fired = 0;
  QObject counter;
  QObject::connect(ticker, &QTimer::timeout, &counter, [&] { ++fired; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 5; }, 30000));
  EXPECT_EQ(pvgui_qt::PendingCodes(), std::vector<int>{kCodeTimer});
  tk::WidgetStatus(w.main[kWStop], tk::kActive);
  QTest::mouseClick(W(w.main[kWStop]), Qt::LeftButton);
  EXPECT_EQ(::IWinAction(), kCodeTimer);
  EXPECT_EQ(::IWinAction(), kCodeStop);

  ::SetCallTime(0, 0);
  EXPECT_FALSE(ticker->isActive());
  QCoreApplication::processEvents();
  EXPECT_TRUE(pvgui_qt::PendingCodes().empty());
}

TEST(QtBoxes, ErrorAndMessageBoxesAreRecordedWithTheirKind) {
  auto state = Fresh();
  tk::ErrorBox("WinKalvex", "Error opening file: Try again   ");
  tk::GeneralMessage("WIN-KALVEX", "End of input data file", 3, 0);
  const auto& boxes = pvgui_qt::LastBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].message, "Error opening file: Try again");
  EXPECT_TRUE(boxes[0].error);
  EXPECT_EQ(boxes[1].title, "WIN-KALVEX");
  EXPECT_FALSE(boxes[1].error);
}

TEST(QtBoxes, BrowseGivesTheBareNameAndMakesItsDirectoryCurrent) {
  auto state = Fresh();
  const auto dir = std::filesystem::path(KALVEX_BINARY_DIR) / "test-scratch" / "gui-browse";
  std::filesystem::create_directories(dir);
  const auto before = std::filesystem::current_path();

  pvgui_qt::AnswerNextBrowse("sample.dca", dir.string());
  tk::SetBrowseTitle("Open Data File");
  const tk::BrowseResult chosen =
      tk::Browse("old.dca", "", "*.dca|Xcalibur Ascii|*.dat|Single/CAD4|*.p4t|Xscans|*.*|All ");
  EXPECT_EQ(chosen.name, "sample.dca");
  EXPECT_EQ(chosen.directory, dir.string());
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(dir));
  const auto& call = pvgui_qt::Browses().back();
  EXPECT_EQ(call.title, "Open Data File");
  EXPECT_EQ(call.proposed_name, "old.dca");
  EXPECT_EQ(call.filter, "Xcalibur Ascii (*.dca);;Single/CAD4 (*.dat);;Xscans (*.p4t);;All (*)");

  // Cancelled, or into a directory that does not exist: no name, and the
  // current directory stays.
  pvgui_qt::AnswerNextBrowse("", dir.string());
  EXPECT_TRUE(tk::Browse("", "", "*.par|(Parameter File)|*.*|(All Files)").name.empty());
  pvgui_qt::AnswerNextBrowse("x.int", (dir / "missing").string());
  const tk::BrowseResult missing = tk::Browse("", "", "*.int|(Int)|*.*|(All)");
  EXPECT_TRUE(missing.name.empty());
  EXPECT_TRUE(missing.directory.empty());
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(dir));
  EXPECT_EQ(pvgui_qt::Browses().back().filter, "Int (*.int);;All (*)");
  std::filesystem::current_path(before);
}

// Runs of non-white pixels down the frame's middle column, inside its border.
std::vector<QColor> ColoursDownTheMiddle(const QImage& image) {
  std::vector<QColor> runs;
  const int x = image.width() / 2;
  int start = -1;
  for (int y = 2; y < image.height() - 2; ++y) {
    const bool ink = image.pixelColor(x, y) != QColor(Qt::white);
    if (ink && start < 0) start = y;
    if (!ink && start >= 0) {
      runs.push_back(image.pixelColor(x, (start + y - 1) / 2));
      start = -1;
    }
  }
  return runs;
}

TEST(QtFrame, PenColoursOneTwoFiveAndSevenAreClearlyDifferent) {
  auto state = Fresh();
  const int frame = state->widgets.frame;
  float x0 = -1, y0 = -1, x1 = -1, y1 = -1;
  tk::GetFrameScale(frame, x0, y0, x1, y1);
  EXPECT_EQ(x0, 0.0f);
  EXPECT_EQ(y0, 0.0f);
  EXPECT_EQ(x1, 300.0f);
  EXPECT_EQ(y1, 200.0f);
  const int colours[4] = {1, 2, 5, 7};
  tk::ClearFrame(frame);  // the idle window's text
  for (int i = 0; i < 4; ++i) {
    tk::ChangePen(frame, colours[i]);
    tk::DrawMove(frame, 0, 170 - 40 * i);
    tk::DrawLine(frame, 300, 170 - 40 * i);
  }
  tk::UpdateFrame(frame);
  const std::vector<QColor> runs = ColoursDownTheMiddle(W(frame)->grab().toImage());
  ASSERT_EQ(runs.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      const int distance = std::abs(runs[i].red() - runs[j].red()) + std::abs(runs[i].green() - runs[j].green()) +
                           std::abs(runs[i].blue() - runs[j].blue());
      EXPECT_GT(distance, 120) << "colour " << colours[i] << " vs " << colours[j];
    }
  }
  // The first line is the top one: y grows upwards.
  EXPECT_GT(runs[0].blue(), runs[0].red());  // dark blue above red
  EXPECT_GT(runs[1].red(), 150);

  // A scale of the program's choosing maps the same drawing elsewhere;
  // clearing leaves the frame white.
  tk::SetFrameScale(frame, 0, 0, 300, 400);
  tk::UpdateFrame(frame);
  const QImage rescaled = W(frame)->grab().toImage();
  int ink_in_upper_half = 0;
  for (int y = 2; y < rescaled.height() / 2 - 8; ++y)
    if (rescaled.pixelColor(rescaled.width() / 2, y) != QColor(Qt::white)) ++ink_in_upper_half;
  EXPECT_EQ(ink_in_upper_half, 0);
  tk::ClearFrame(frame);
  EXPECT_TRUE(ColoursDownTheMiddle(W(frame)->grab().toImage()).empty());
}

}  // namespace
}  // namespace kalvex
