// The Qt toolkit's state: the item behind every handle, the codes posted by
// widgets and the timer, and the nested event loop IWinAction waits in.
#pragma once

#include <QAbstractButton>
#include <QKeySequence>
#include <QPointer>
#include <QRect>
#include <QSplashScreen>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/qt/pvgui_qt_testing.h"

class QButtonGroup;
class QEventLoop;
class QMenu;
class QMenuBar;

namespace pvgui_qt {

enum class Kind {
  kMaster,
  kDialog,
  kMenuBar,
  kMenu,
  kMenuEntry,
  kButton,
  kLabel,
  kField,
  kValue,
  kToggle,
  kRadioBox,
  kRadio,
  kListBox,
  kIcon,
  kStatusBar,
  kFrame,
  kTextBlock,
  kRecentMenu,
};

// What a handle stands for: a window, a menu part or a widget.
struct Item {
  Kind kind = Kind::kButton;
  int window = 0;            // the window whose grid places the widget
  QPointer<QWidget> widget;  // for a window: the top-level window
  QWidget* grid_area = nullptr;
  QMenuBar* bar = nullptr;
  QMenu* menu = nullptr;
  QAction* action = nullptr;
  QButtonGroup* group = nullptr;
  std::vector<int> radios;  // a radio box's toggles
  std::vector<int> placed;  // a window's grid-placed widgets
  QRect grid;               // x, y (lower left), w, h in grid units
  int columns = 0, rows = 0;
  bool on_screen = false;  // a window moved to its grid place once
  int status = 1;
  // A value field keeps the number last set and the text it showed, so that
  // a field the user did not touch gives back the exact number.
  double number = 0;
  QString shown;
  int decimals = 0;
  // A dialog that made room for itself by shrinking the main window: the
  // main window's place before and after, to give it back on hiding.
  QRect main_before, main_after;
  // A recent-files menu: the code of its first entry and how many it keeps.
  int first_code = 0, count = 0;
  // A window: the widget that takes the focus when it is made active (0:
  // its main action), and the button Enter in it presses when it has no
  // main action of its own.
  int first_focus = 0;
  QPointer<QAbstractButton> enter;
  // A value field's caption inside it, before its number.
  QPointer<QWidget> caption;
  // The main window: the rows above its plot folded away (the plot takes
  // their place while a dialog needs the room).
  bool folded = false;
  // A dialog: the scroll area its grid stands in, which scrolls when the
  // screen is too low for the whole dialog.
  QWidget* scroll = nullptr;
};

// Everything kept between calls; WinExit empties the handles and the codes.
struct Toolkit {
  bool initialised = false;
  bool exiting = false;
  int next_handle = 0;
  std::map<int, Item> items;
  std::deque<int> codes;
  QEventLoop* waiting = nullptr;
  QPointer<QTimer> timer;
  int timer_code = 0;
  std::vector<Box> boxes;
  std::deque<std::pair<std::string, std::string>> browse_answers;
  std::deque<int> question_answers;
  std::vector<BrowseCall> browses;
  QString browse_title;
  bool browse_save = false;
  // The keys of buttons (SetKey), which act also while a number field has
  // the focus: a letter is no number.
  std::vector<std::pair<QKeySequence, QPointer<QAbstractButton>>> button_keys;
  int screen_columns = 32, screen_rows = 24;
  QPointer<QSplashScreen> splash;
};

Toolkit& T();
Item* Find(int handle);
// Registers an item under the next handle, also stored in *handle if given.
int Create(Item item, int* handle);
// Queues a code for IWinAction and ends the wait it may be in.
void Post(int code);

}  // namespace pvgui_qt
