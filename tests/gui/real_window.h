// The user's side of a real-window session and what it looks at: shared by
// the window tests, each a file of its own.
#pragma once

#include <gtest/gtest.h>
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>
#include "common/fixed_fields.h"
#include "shell/command_loop.h"
#include "state/program_state.h"
#include "ui/codes.h"
#include "ui/user_interface.h"
#include "toolkit/pvgui.h"
#include "toolkit/qt/pvgui_qt_testing.h"
#include "toolkit/toolkit.h"

namespace kalvex {
namespace realwin {

namespace fs = std::filesystem;

// The example holds 321 scans; the last one is a standard.
constexpr int kExampleScans = 321;

// How long a step may take to become ready before the session is called
// stuck: a deadline for a test gone wrong, never a pause.
constexpr int kPatienceMs = 60000;
// Beats of the user's timer, the program waiting with nothing queued, that
// show that nothing more is coming.
constexpr int kIdleBeats = 30;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KALVEX_TEST_SANITIZED 1
#endif
#endif
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__) && !defined(KALVEX_TEST_SANITIZED)
constexpr bool kOptimisedBuild = true;
#else
constexpr bool kOptimisedBuild = false;
#endif

// The user's side of a session. Steps run one at a time, each once the
// program waits for an action (it sits in IWinAction's event loop with no
// code queued) and the step's condition holds. A step that never becomes
// ready ends the process with a message rather than leaving CTest to time out.
//
// The steps are looked at each time the event loop is about to wait, and
// each time a timer falls due, before the timer acts: a run's tick is
// already due whenever the program comes back to its loop after a few
// milliseconds of fitting, so the loop may never wait, and a timer of the
// user's own would lose every race to the tick until the run is over. Seen
// before the tick, the user's click is queued ahead of it, as a real click
// in that moment would be. The user's timer keeps the loop turning while
// nothing else happens, and its beats count how long the program has
// waited idle.
class User {
 public:
  User() : timers_(this) {
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &poll_,
                     [this] { Poll(); });
    qApp->installEventFilter(&timers_);
    poll_.setInterval(2);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      if (ProgramWaits()) ++idle_beats_;
      Poll();
    });
    poll_.start();
    clock_.start();
  }

  void When(std::string what, std::function<bool()> ready, std::function<void()> act) {
    steps_.push_back({std::move(what), std::move(ready), std::move(act)});
  }
  void Then(std::string what, std::function<void()> act) {
    When(std::move(what), [] { return true; }, std::move(act));
  }
  bool Done() const { return steps_.empty(); }
  // Beats of the user's timer so far at which the program sat waiting with
  // nothing queued: between two of them a timer of the program's running
  // would have posted its tick.
  int IdleBeats() const { return idle_beats_; }

 private:
  struct Step {
    std::string what;
    std::function<bool()> ready;
    std::function<void()> act;
  };

  // Outside IWinAction's loop the program is busy (painting from inside a
  // handler); a queued code has not been taken yet; a step that lets events
  // through is still under way.
  bool ProgramWaits() const {
    return !acting_ && QThread::currentThread()->loopLevel() > 0 && pvgui_qt::PendingCodes().empty();
  }

  void Poll() {
    if (!ProgramWaits()) return;
    if (steps_.empty() || !steps_.front().ready()) {
      if (clock_.elapsed() > kPatienceMs) {
        const std::string what = steps_.empty() ? "(no step left)" : steps_.front().what;
        std::fprintf(stderr, "real window session stuck before: %s\n", what.c_str());
        std::fflush(nullptr);
        std::_Exit(2);
      }
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    clock_.restart();
    SCOPED_TRACE(step.what);
    acting_ = true;
    step.act();
    acting_ = false;
  }

  // Looks at the steps as any timer falls due.
  class TimerWatch : public QObject {
   public:
    explicit TimerWatch(User* user) : user_(user) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Timer) user_->Poll();
      return false;
    }

   private:
    User* user_;
  };

  bool acting_ = false;
  int idle_beats_ = 0;
  std::deque<Step> steps_;
  QTimer poll_;
  QElapsedTimer clock_;
  TimerWatch timers_;
};

// A fresh toolkit. The first initialisation makes the application with the
// program's style and fonts, so it is made here before the session's timer.
inline void FreshToolkit() {
  ::WinExit();
  tk::ResetRegistry();
  if (!qApp) {
    ::WinInit();
    ::WinExit();
  }
  pvgui_qt::ClearBoxes();
}

inline fs::path ScratchCopyOfExample(const std::string& name) {
  const fs::path dir = fs::path(KALVEX_BINARY_DIR) / "test-scratch" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* file : {"example.dca", "example.par"})
    fs::copy_file(fs::path(KALVEX_SOURCE_DIR) / "examples" / file, dir / file);
  return dir;
}

inline fs::path Screenshot(QWidget* widget, const std::string& name) {
  const fs::path dir = fs::path(KALVEX_BINARY_DIR) / "screenshots";
  fs::create_directories(dir);
  const fs::path path = dir / name;
  EXPECT_TRUE(widget->grab().toImage().save(QString::fromStdString(path.string()))) << path;
  return path;
}

inline std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline QWidget* W(int handle) {
  QWidget* w = pvgui_qt::WidgetOf(handle);
  if (!w) ADD_FAILURE() << "no widget for handle " << handle;
  return w;
}
inline QLineEdit* Field(int handle) { return qobject_cast<QLineEdit*>(W(handle)); }
inline bool Shown(int handle) { return W(handle) && W(handle)->isVisible(); }
inline bool Usable(int handle) { return Shown(handle) && W(handle)->isEnabled(); }

// A mouse click as the user gives it: only on a widget that can be pressed.
inline void Click(int handle) {
  QWidget* w = W(handle);
  ASSERT_TRUE(w && w->isVisible() && w->isEnabled()) << w->property("text").toString().toStdString();
  QTest::mouseClick(w, Qt::LeftButton);
}

inline bool MenusActive(const Widgets& w) {
  for (int h : w.menu_titles)
    if (!pvgui_qt::ActionOf(h)->isEnabled()) return false;
  return true;
}

// A menu entry chosen from the menu bar: its title and entry must be usable.
inline void Choose(const Widgets& w, int entry) {
  ASSERT_TRUE(MenusActive(w));
  QAction* action = pvgui_qt::ActionOf(entry);
  ASSERT_TRUE(action->isVisible() && action->isEnabled()) << action->text().toStdString();
  action->trigger();
}

// The main window with no command running: menus usable, no dialog up.
inline bool Idle(const Widgets& w) {
  for (int d : {w.format_dialog, w.fit_dialog, w.preprocess_dialog, w.peak_dialog, w.refine_dialog,
                w.results_dialog, w.busy_dialog})
    if (Shown(d)) return false;
  return MenusActive(w);
}

// Start-up as a user goes through it: the data file and the parameter file
// from the browsers, then "OK" in the format dialog.
inline void StartUpFrom(ProgramState& state, User& user, const fs::path& dir, const std::string& data,
                        const std::string& parameters) {
  const Widgets& w = state.widgets;
  pvgui_qt::AnswerNextBrowse(data, dir.string());
  pvgui_qt::AnswerNextBrowse(parameters, dir.string());
  user.When("the format dialog", [&w] { return Shown(w.format_dialog); }, [&w] { Click(w.format_ok); });
  StartUp(state);
}

// File > Open output file, once the main window is idle.
inline void OpenOutputWhenIdle(const Widgets& w, User& user, const fs::path& dir, const std::string& name) {
  user.When("File > Open output file", [&w] { return Idle(w); }, [&w, dir, name] {
    pvgui_qt::AnswerNextBrowse(name, dir.string());
    Choose(w, w.menu_open_output);
  });
}

// Every field shown in a window holds its whole text: a number too wide for
// its field would lose its leading digits from view.
inline void ExpectTextsFit(QWidget* window) {
  for (QLineEdit* field : window->findChildren<QLineEdit*>()) {
    if (!field->isVisible()) continue;
    EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()), field->contentsRect().width() - 4)
        << window->windowTitle().toStdString() << ": " << field->text().toStdString();
  }
}

inline int Boxes(const QString& message) {
  int n = 0;
  // A box may say more below its first line.
  for (const auto& box : pvgui_qt::LastBoxes()) n += box.message.split('\n').first() == message;
  return n;
}

// "Rfine" record: hkl in 1-9, 10*seq + standard number in 62-68.
struct Record {
  std::array<int, 3> hkl{};
  int seq = 0;
  std::string code;
};
inline Record ParseRfine(const std::string& line) {
  Record r;
  for (int i = 0; i < 3; ++i) r.hkl[i] = fields::ReadInt(line, 1 + 3 * i, 3).value_or(-999);
  r.seq = static_cast<int>(fields::ReadReal(line, 62, 7, 0).value_or(0)) / 10;
  r.code = line.size() >= 76 ? line.substr(70, 6) : "";
  return r;
}

inline std::vector<int> Seqs(const std::vector<std::string>& lines) {
  std::vector<int> seqs;
  for (const auto& line : lines) seqs.push_back(ParseRfine(line).seq);
  return seqs;
}

// The frame's pixels of the counts (dark blue, also where the fit's band
// lies over them) and of the fitted profile (a light green band).
struct Ink {
  int counts = 0, fit = 0;
  QRect counts_box, fit_box;
};
inline Ink InkOf(const QImage& image) {
  Ink ink;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      const double luminance = 0.3 * c.red() + 0.59 * c.green() + 0.11 * c.blue();
      if (luminance < 120 && c.red() < 80) {
        ++ink.counts;
        ink.counts_box |= QRect(x, y, 1, 1);
      } else if (luminance >= 120 && c.green() > c.red() + 40 && c.green() > c.blue() + 30) {
        ++ink.fit;
        ink.fit_box |= QRect(x, y, 1, 1);
      }
    }
  }
  return ink;
}


}  // namespace realwin
}  // namespace kalvex
