// libpvgui: the pvgui entry points over Qt 6 Widgets. IWinAction runs a
// nested event loop until a widget or the timer posts a code.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QTreeView>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <vector>

#include "toolkit/pvgui.h"
#include "toolkit/pvwinerr/pvwinerr.h"
#include "toolkit/qt/boxes.h"
#include "toolkit/qt/frame.h"
#include "toolkit/qt/pvgui_qt_testing.h"
#include "toolkit/qt/registry.h"
#include "toolkit/qt/widgets.h"

namespace pvgui_qt {
namespace {

// Texts cross the entry points blank-padded and without a terminator.
QByteArray Bytes(const char* p, int len, int cut) {
  if (!p || len <= 0) return {};
  int n = len;
  while (n > 0 && p[n - 1] == ' ') --n;
  return QByteArray(p, std::min(n, cut));
}

QString Text(const char* p, int len, int cut) { return QString::fromLocal8Bit(Bytes(p, len, cut)); }

void CopyBack(const QByteArray& s, char* p, int len) {
  for (int i = 0; i < len; ++i) p[i] = i < s.size() ? s[i] : ' ';
}

}  // namespace
}  // namespace pvgui_qt

using pvgui_qt::Adopt;
using pvgui_qt::Bytes;
using pvgui_qt::ApplyStatus;
using pvgui_qt::CellsFor;
using pvgui_qt::Create;
using pvgui_qt::Find;
using pvgui_qt::FrameOf;
using pvgui_qt::Item;
using pvgui_qt::Kind;
using pvgui_qt::Post;
using pvgui_qt::T;
using pvgui_qt::Text;

namespace {

int g_argc = 1;
char g_program_name[] = "winkalvex";
char* g_argv[] = {g_program_name, nullptr};

// Widgets are made only after WinInit and only on windows of ours.
QWidget* WindowArea(int window) { return T().initialised ? pvgui_qt::ParentWidget(window) : nullptr; }

// Registers `widget` as a `kind` at `grid` on `window`'s grid and lays it
// out there; its handle.
int Place(int window, Kind kind, QWidget* widget, QRect grid, int* handle) {
  Item item;
  item.kind = kind;
  item.widget = widget;
  item.grid = grid;
  const int h_new = Create(std::move(item), handle);
  Adopt(window, h_new);
  return h_new;
}

QAbstractButton* ButtonOf(int handle) {
  Item* it = Find(handle);
  return it && it->kind == Kind::kButton ? qobject_cast<QAbstractButton*>(it->widget) : nullptr;
}

// A key presses only what the user could press with the mouse.
void Press(QAbstractButton* button) {
  if (button && button->isVisible() && button->isEnabled()) button->click();
}

// Enter in a field presses its button, and goes no further: in a dialog
// the main action must not be pressed as well.
class EnterPresses : public QObject {
 public:
  EnterPresses(QObject* field, QAbstractButton* button) : QObject(field), button_(button) {}

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    Press(button_);
    // The entry is done: the keys of the window's buttons work again, and
    // do not type letters into the field.
    if (button_ && button_->isVisible()) button_->setFocus(Qt::OtherFocusReason);
    return true;
  }

 private:
  QPointer<QAbstractButton> button_;
};

// The keys of buttons act while a number field has the focus (a letter is
// no number), and while a text field has it that the user has not typed
// into: only a field being edited keeps its letters.
class ButtonKeysOverFields : public QObject {
 protected:
  bool eventFilter(QObject* target, QEvent* e) override {
    if (e->type() != QEvent::ShortcutOverride) return false;
    auto* field = qobject_cast<QLineEdit*>(target);
    if (!field || field->isReadOnly()) return false;
    const auto* key = static_cast<QKeyEvent*>(e);
    if (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) return false;
    bool number_field = false;
    for (const auto& [h, it] : T().items)
      if (it.widget == field) number_field = it.kind == Kind::kValue;
    if (!number_field && field->isModified()) return false;
    const QKeySequence pressed(key->key());
    for (const auto& [sequence, button] : T().button_keys) {
      if (sequence == pressed && button && button->isVisible() && button->isEnabled()) {
        e->ignore();
        return true;
      }
    }
    return false;
  }
};

// The focus of a window made active: its first widget when it can take it,
// else its main action. A field's text is selected, so that typing
// replaces it.
void FocusFirst(const Item& window) {
  QWidget* target = nullptr;
  if (const Item* first = Find(window.first_focus)) {
    if (first->kind == Kind::kRadioBox && first->group) {
      target = first->group->checkedButton();
    } else {
      target = first->widget;
    }
  }
  const auto usable = [](QWidget* w) { return w && w->isVisible() && w->isEnabled(); };
  if (!usable(target)) {
    target = nullptr;
    for (QPushButton* button : window.widget->findChildren<QPushButton*>())
      if (button->isDefault() && usable(button)) target = button;
  }
  if (!usable(target)) return;
  target->setFocus(Qt::ActiveWindowFocusReason);
  if (auto* field = qobject_cast<QLineEdit*>(target); field && !field->isReadOnly()) field->selectAll();
}

// Recent files and the browser's last directory, kept between runs.
QSettings Settings() { return QSettings(); }
QString RecentKey(const Item& menu) { return "recent/" + menu.menu->title().remove('&'); }

void FillRecentMenu(int handle) {
  Item* it = Find(handle);
  if (!it || it->kind != Kind::kRecentMenu) return;
  it->menu->clear();
  const QStringList files = Settings().value(RecentKey(*it)).toStringList();
  for (int i = 0; i < files.size() && i < it->count; ++i) {
    const QFileInfo info(files[i]);
    QAction* entry = it->menu->addAction(QString("&%1  %2   (%3)").arg(i + 1).arg(info.fileName(), info.absolutePath()));
    const int code = it->first_code + i;
    QObject::connect(entry, &QAction::triggered, [code] { Post(code); });
  }
  it->menu->menuAction()->setEnabled(!files.isEmpty() && it->status == 1);
}


}  // namespace

extern "C" {

int WinInit(void) {
  if (T().initialised) return 1;
  if (!qApp) {
    new QApplication(g_argc, g_argv);
    // The name the recent files and the browser's directory are kept under.
    QCoreApplication::setOrganizationName("Win-Kalvex");
    QCoreApplication::setApplicationName("winkalvex");
    QApplication::setStyle("Fusion");
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);
    // Display-only fields are told apart from the ones the user edits.
    qApp->setStyleSheet("QLineEdit[readOnly=\"true\"] { background: #eceef2; color: #1a1a2a; }");
    qApp->installEventFilter(new ButtonKeysOverFields);
    registerconsole_();
  }
  T().initialised = true;
  T().exiting = false;
  pvgui_qt::ShowTitle("Win-Kalvex V3.3  ");
  return 1;
}

void DrawTitle(const char* text, int text_len) {
  if (T().initialised) pvgui_qt::ShowTitle(Text(text, text_len, PVGUI_MAX_LABEL) + "  ");
}

void RemoveTitle(void) { pvgui_qt::HideTitle(); }

int SetGridArea(int columns, int rows) {
  // The cells are of a fixed size, well above the 11 pixels each way that
  // text needs; the grid's row count places windows on the screen.
  if (columns <= 0 || rows <= 0) return 0;
  T().screen_columns = columns;
  T().screen_rows = rows;
  return 1;
}

void GetGridArea(int* columns, int* rows) {
  if (columns) *columns = T().screen_columns;
  if (rows) *rows = T().screen_rows;
}

void WinExit(void) {
  auto& t = T();
  if (!t.initialised) return;
  t.exiting = true;
  if (t.timer) t.timer->stop();
  t.timer_code = 0;
  pvgui_qt::HideTitle();
  std::vector<QWidget*> windows;
  for (auto& [h, it] : t.items)
    if ((it.kind == Kind::kMaster || it.kind == Kind::kDialog) && it.widget) windows.push_back(it.widget);
  for (QWidget* w : windows) w->close();
  // Dialogs are children of the main window and go with it.
  for (auto& [h, it] : t.items)
    if (it.kind == Kind::kMaster && it.widget) delete it.widget.data();
  for (auto& [h, it] : t.items)
    if (it.kind == Kind::kDialog && it.widget) delete it.widget.data();
  t.items.clear();
  t.codes.clear();
  t.next_handle = 0;
  t.initialised = false;
  QCoreApplication::processEvents();
  t.exiting = false;
}

int OpenMaster(const char* title, int title_len, int x, int y, int w, int h, int icon, int* handle) {
  if (!T().initialised) return 0;
  auto* window = new pvgui_qt::MasterWindow;
  window->setWindowTitle(Text(title, title_len, PVGUI_MAX_LABEL));
  if (icon) window->setWindowIcon(QIcon(pvgui_qt::LogoPixmap(64)));
  auto* area = new pvgui_qt::GridArea;
  window->setCentralWidget(area);
  Item item;
  item.kind = Kind::kMaster;
  item.widget = window;
  item.grid_area = area;
  item.grid = QRect(x, y, w, h);
  item.columns = std::max(1, w);
  item.rows = std::max(1, h);
  const int h_new = Create(std::move(item), handle);
  pvgui_qt::SetGridAreaSize(*Find(h_new));
  return h_new;
}

int OpenWindow(int parent, const char* title, int title_len, int x, int y, int w, int h, int* handle) {
  Item* owner = Find(parent);
  if (!T().initialised || !owner || !owner->widget) return 0;
  auto* dialog = new pvgui_qt::DialogWindow(owner->widget);
  dialog->setWindowTitle(Text(title, title_len, PVGUI_MAX_LABEL));
  dialog->setModal(false);
  Item item;
  item.kind = Kind::kDialog;
  item.widget = dialog;
  // The grid stands in a scroll area, which scrolls only on a screen too
  // low for the whole dialog.
  auto* scroll = new QScrollArea(dialog);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setFocusPolicy(Qt::NoFocus);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->move(pvgui_qt::kDialogMargin, pvgui_qt::kDialogMargin);
  item.grid_area = new QWidget;
  scroll->setWidget(item.grid_area);
  item.scroll = scroll;
  item.grid = QRect(x, y, w, h);
  item.columns = std::max(1, w);
  item.rows = std::max(1, h);
  pvgui_qt::SetGridAreaSize(item);
  return Create(std::move(item), handle);
}

void WindowDraw(int window) {
  Item* it = Find(window);
  if (!it || !it->widget) return;
  pvgui_qt::PutOnScreen(*it);
  // Shown, not made active: the fitting controls beside the main window
  // leave its keys where they are. WindowAction makes a window active.
  if (it->kind == Kind::kDialog && !it->widget->isVisible()) it->widget->setAttribute(Qt::WA_ShowWithoutActivating);
  const bool first = !it->widget->isVisible();
  it->widget->show();
  if (first) pvgui_qt::KeepInside(*it);
  it->widget->update();
  if (it->kind == Kind::kMaster) pvgui_qt::HideTitle();
}

void WindowAction(int window) {
  Item* it = Find(window);
  if (!it || !it->widget) return;
  pvgui_qt::PutOnScreen(*it);
  it->widget->show();
  // The offscreen platform of the tests has no stacking order.
  if (QGuiApplication::platformName() != "offscreen") it->widget->raise();
  it->widget->activateWindow();
  FocusFirst(*it);
  if (it->kind == Kind::kMaster) pvgui_qt::HideTitle();
}

void WindowRemove(int window) {
  Item* it = Find(window);
  if (!it || !it->widget) return;
  if (it->kind == Kind::kDialog && it->widget->isVisible()) pvgui_qt::GiveBackRoom(*it);
  it->widget->hide();
}

void WidgetStatus(int widget, int status) {
  Item* it = Find(widget);
  if (!it) return;
  it->status = status < 0 ? -1 : (status > 0 ? 1 : 0);
  switch (it->kind) {
    case Kind::kMenu:
      ApplyStatus(it->menu->menuAction(), it->status);
      break;
    case Kind::kMenuEntry:
      ApplyStatus(it->action, it->status);
      break;
    case Kind::kRadioBox:
      for (int h : it->radios) {
        Item* radio = Find(h);
        if (!radio) continue;
        radio->status = it->status;
        ApplyStatus(radio->widget, it->status);
      }
      break;
    case Kind::kMenuBar:
      ApplyStatus(it->bar, it->status);
      break;
    default:
      ApplyStatus(it->widget, it->status);
      break;
  }
}

int GetWidgetStatus(int widget) {
  const Item* it = Find(widget);
  return it ? it->status : -1;
}

int AddMenuBar(int window, int* handle) {
  Item* owner = Find(window);
  if (!T().initialised || !owner || owner->kind != Kind::kMaster) return 0;
  Item item;
  item.kind = Kind::kMenuBar;
  item.bar = static_cast<QMainWindow*>(owner->widget.data())->menuBar();
  item.window = window;
  return Create(std::move(item), handle);
}

int AddMenuPop(int bar, const char* title, int title_len, int* handle) {
  Item* owner = Find(bar);
  if (!owner || owner->kind != Kind::kMenuBar) return 0;
  Item item;
  item.kind = Kind::kMenu;
  item.menu = owner->bar->addMenu(Text(title, title_len, PVGUI_MAX_LABEL));
  return Create(std::move(item), handle);
}

int AddMenuPull(int pop, int* handle) {
  // A title's pull-down is the menu that hangs from it.
  Item* owner = Find(pop);
  if (!owner || owner->kind != Kind::kMenu) return 0;
  Item item;
  item.kind = Kind::kMenu;
  item.menu = owner->menu;
  return Create(std::move(item), handle);
}

int AddMenuEntry(int pull, const char* text, int text_len, int code, int* handle) {
  Item* owner = Find(pull);
  if (!owner || owner->kind != Kind::kMenu) return 0;
  Item item;
  item.kind = Kind::kMenuEntry;
  item.action = owner->menu->addAction(Text(text, text_len, PVGUI_MAX_LABEL));
  if (code != 0) QObject::connect(item.action, &QAction::triggered, [code] { Post(code); });
  return Create(std::move(item), handle);
}

int AddMenuSeparator(int pull, int* handle) {
  Item* owner = Find(pull);
  if (!owner || owner->kind != Kind::kMenu) return 0;
  Item item;
  item.kind = Kind::kMenuEntry;
  item.action = owner->menu->addSeparator();
  return Create(std::move(item), handle);
}

int AddButton(int window, const char* text, int text_len, int x, int y, int w, int h, int code, int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  auto* button = new QPushButton(Text(text, text_len, PVGUI_MAX_LABEL), area);
  // Enter in a field must not press a button the user did not choose.
  button->setAutoDefault(false);
  button->setDefault(false);
  if (code != 0) QObject::connect(button, &QPushButton::clicked, [code] { Post(code); });
  return Place(window, Kind::kButton, button, QRect(x, y, w, h), handle);
}

int AddString(int window, const char* text, int text_len, int x, int y, int w, int h, int max_len, int editable,
              int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  Item item;
  item.grid = QRect(x, y, w, h);
  // A display-only text that starts with words of its own is a caption (the
  // program may change it); one that starts empty is a field the program
  // fills, such as a file name or the data set's title.
  if (!editable && !Bytes(text, text_len, PVGUI_MAX_LABEL).isEmpty()) {
    auto* label = new QLabel(Text(text, text_len, PVGUI_MAX_LABEL), area);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    item.kind = Kind::kLabel;
    item.widget = label;
    item.grid.setWidth(CellsFor(label, w));
  } else {
    auto* field = new QLineEdit(area);
    if (max_len > 0) field->setMaxLength(std::min(max_len, PVGUI_MAX_FIELD));
    field->setText(Text(text, text_len, std::max(0, std::min(max_len, PVGUI_MAX_FIELD))));
    field->setReadOnly(!editable);
    if (!editable) field->setFocusPolicy(pvgui_qt::kDisplayFocus);
    field->setCursorPosition(0);
    item.kind = Kind::kField;
    item.widget = field;
  }
  const int h_new = Create(std::move(item), handle);
  Adopt(window, h_new);
  return h_new;
}

int AddFloat(int window, float value, int x, int y, int w, int h, int, int decimals, int editable, int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  auto* field = new QLineEdit(area);
  field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  field->setReadOnly(!editable);
  if (!editable) field->setFocusPolicy(pvgui_qt::kDisplayFocus);
  Item item;
  item.kind = Kind::kValue;
  item.widget = field;
  item.grid = QRect(x, y, w, h);
  item.decimals = decimals;
  const int h_new = Create(std::move(item), handle);
  Adopt(window, h_new);
  SetNumber(h_new, value);
  return h_new;
}

int AddToggle(int window, const char* text, int text_len, int x, int y, int w, int h, int state, int code,
              int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  auto* toggle = new QCheckBox(Text(text, text_len, PVGUI_MAX_LABEL), area);
  toggle->setChecked(state != 0);
  if (code != 0) QObject::connect(toggle, &QCheckBox::clicked, [code] { Post(code); });
  return Place(window, Kind::kToggle, toggle, QRect(x, y, w, h), handle);
}

int AddRadioBox(int window, int x, int y, int w, int h, int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  // The box only ties its toggles together; they stand on the dialog's grid.
  Item item;
  item.kind = Kind::kRadioBox;
  item.window = window;
  item.group = new QButtonGroup(area);
  item.group->setExclusive(true);
  item.grid = QRect(x, y, w, h);
  return Create(std::move(item), handle);
}

int AddRadio(int box, const char* text, int text_len, int x, int y, int state, int code, int* handle) {
  Item* owner = Find(box);
  if (!owner || owner->kind != Kind::kRadioBox) return 0;
  const int window = owner->window;
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  auto* radio = new QRadioButton(Text(text, text_len, PVGUI_MAX_LABEL), area);
  owner->group->addButton(radio);
  if (code != 0) QObject::connect(radio, &QRadioButton::clicked, [code] { Post(code); });
  Item item;
  item.kind = Kind::kRadio;
  item.widget = radio;
  item.grid = QRect(x, y, CellsFor(radio, 1), 1);
  const int h_new = Create(std::move(item), handle);
  Find(box)->radios.push_back(h_new);
  Adopt(window, h_new);
  if (state) SetToggle(h_new, 1);
  return h_new;
}

int AddListBox(int window, int x, int y, int w, int h, int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  auto* list = new QComboBox(area);
  return Place(window, Kind::kListBox, list, QRect(x, y, w, h), handle);
}

void ListBoxSet(int list, const char* entry, int entry_len) {
  Item* it = Find(list);
  if (!it || it->kind != Kind::kListBox) return;
  auto* box = static_cast<QComboBox*>(it->widget.data());
  const int selected = box->currentIndex();
  box->addItem(Text(entry, entry_len, PVGUI_MAX_LABEL));
  // Adding entries selects nothing: the choice is the user's.
  box->setCurrentIndex(selected);
}

int ListBoxStatus(int list) {
  Item* it = Find(list);
  if (!it || it->kind != Kind::kListBox) return 0;
  return static_cast<QComboBox*>(it->widget.data())->currentIndex() + 1;
}

void ListBoxSelect(int list, int entry) {
  Item* it = Find(list);
  if (!it || it->kind != Kind::kListBox) return;
  auto* box = static_cast<QComboBox*>(it->widget.data());
  box->setCurrentIndex(entry >= 1 && entry <= box->count() ? entry - 1 : -1);
}

int AddIcon(int window, int x, int y, int w, int h, int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  return Place(window, Kind::kIcon, new pvgui_qt::IconWidget(area), QRect(x, y, w, h), handle);
}

int AddStatusBar(int window, const char* text, int text_len, int* handle) {
  Item* owner = Find(window);
  if (!T().initialised || !owner || owner->kind != Kind::kMaster) return 0;
  auto* label = new QLabel(Text(text, text_len, PVGUI_MAX_LABEL));
  label->setContentsMargins(6, 0, 6, 0);
  static_cast<QMainWindow*>(owner->widget.data())->statusBar()->addWidget(label, 1);
  Item item;
  item.kind = Kind::kStatusBar;
  item.widget = label;
  item.window = window;
  return Create(std::move(item), handle);
}

// The system's fixed font where it has one; some platforms name none, and
// then any typewriter face will do. The size is the program's own. Judged by
// the widths of its letters: fontconfig does not mark every fixed-pitch face
// as one.
namespace {

QFont FixedPitchFont() {
  const auto fixed_pitch = [](const QFont& f) {
    const QFontMetricsF m(f);
    return m.horizontalAdvance(QStringLiteral("iiii")) == m.horizontalAdvance(QStringLiteral("MMMM"));
  };
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (!fixed_pitch(fixed)) {
    fixed = QFont(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
  }
  fixed.setPointSizeF(QApplication::font().pointSizeF());
  return fixed;
}

}  // namespace

int AddTextBlock(int window, int x, int y, int w, int h, int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  auto* block = new QPlainTextEdit(area);
  block->setReadOnly(true);
  block->setLineWrapMode(QPlainTextEdit::NoWrap);
  block->setFont(FixedPitchFont());
  block->setFocusPolicy(pvgui_qt::kDisplayFocus);
  return Place(window, Kind::kTextBlock, block, QRect(x, y, w, h), handle);
}

int GraphicsFrame(int window, int x, int y, int w, int h, int* handle) {
  QWidget* area = WindowArea(window);
  if (!area) return 0;
  auto* frame = new pvgui_qt::FrameWidget(area);
  frame->handle = Place(window, Kind::kFrame, frame, QRect(x, y, w, h), handle);
  // The keys of the view, in the frame's window unless a field there takes
  // them (a minus sign, the cursor keys of a text).
  const std::pair<const char*, std::function<void()>> keys[] = {
      {"+", [frame] { frame->Zoom(1.25, false); }},       {"=", [frame] { frame->Zoom(1.25, false); }},
      {"-", [frame] { frame->Zoom(0.8, false); }},        {"Right", [frame] { frame->Pan(-0.1); }},
      {"Left", [frame] { frame->Pan(0.1); }},             {"Up", [frame] { frame->Zoom(1.25, true); }},
      {"Down", [frame] { frame->Zoom(0.8, true); }},      {"Home", [frame] { frame->Reset(); }}};
  for (const auto& [key, act] : keys) {
    auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(key)), frame->window());
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, frame, act);
  }
  return frame->handle;
}

void SetMainAction(int button) {
  auto* push = qobject_cast<QPushButton*>(ButtonOf(button));
  if (!push) return;
  // Only the main action is a default button: Enter must never press
  // "Quit" or "Reset to Defaults".
  push->setDefault(true);
}

void SetEscapeAction(int button) {
  QAbstractButton* b = ButtonOf(button);
  Item* window = b ? Find(Find(button)->window) : nullptr;
  if (!window || window->kind != Kind::kDialog) return;
  static_cast<pvgui_qt::DialogWindow*>(window->widget.data())->escape = b;
}

void SetWindowEscape(int window, int button) {
  Item* it = Find(window);
  QAbstractButton* b = button ? ButtonOf(button) : nullptr;
  if (!it || !it->widget) return;
  if (auto* master = dynamic_cast<pvgui_qt::MasterWindow*>(it->widget.data()))
    master->escape = b;
  else if (auto* dialog = dynamic_cast<pvgui_qt::DialogWindow*>(it->widget.data()))
    dialog->escape = b;
}

void SetFieldAction(int field, int button) {
  Item* it = Find(field);
  QAbstractButton* b = ButtonOf(button);
  if (!it || !b || (it->kind != Kind::kField && it->kind != Kind::kValue)) return;
  it->widget->installEventFilter(new EnterPresses(it->widget, b));
}

void SetKey(int widget, const char* key, int key_len) {
  Item* it = Find(widget);
  const QString text = Text(key, key_len, PVGUI_MAX_LABEL);
  if (!it || text.isEmpty()) return;
  if (it->kind == Kind::kMenuEntry && it->action) {
    it->action->setShortcut(QKeySequence(text, QKeySequence::PortableText));
  } else if (it->kind == Kind::kMenu && text.startsWith("Alt+")) {
    // A menu title's key is one of its letters, underlined.
    QString title = it->menu->title();
    const int at = title.indexOf(text.mid(4), 0, Qt::CaseInsensitive);
    if (at >= 0 && !title.contains('&')) it->menu->setTitle(title.insert(at, '&'));
  } else if (QAbstractButton* b = ButtonOf(widget)) {
    // The fitting controls are pressed by their keys while the fitting
    // dialog beside them has the focus too; a field being typed in keeps
    // its letters.
    const QKeySequence sequence(text, QKeySequence::PortableText);
    auto* shortcut = new QShortcut(sequence, b->window());
    shortcut->setContext(Qt::ApplicationShortcut);
    QObject::connect(shortcut, &QShortcut::activated, b, [b] { Press(b); });
    T().button_keys.emplace_back(sequence, b);
    b->setToolTip(b->toolTip().isEmpty() ? QString("Key: %1").arg(text) : b->toolTip());
  }
}

void SetFixedPitch(int widget) {
  if (Item* it = Find(widget); it && it->widget) it->widget->setFont(FixedPitchFont());
}

void SetTooltip(int widget, const char* text, int text_len) {
  Item* it = Find(widget);
  if (!it) return;
  const QString tip = Text(text, text_len, PVGUI_MAX_LABEL);
  if (it->kind == Kind::kMenuEntry && it->action) {
    it->action->setToolTip(tip);
  } else if (it->kind == Kind::kRadioBox) {
    for (int h : it->radios)
      if (Item* radio = Find(h)) radio->widget->setToolTip(tip);
  } else if (it->widget) {
    it->widget->setToolTip(tip);
  }
}

int AddRecentMenu(int pull, const char* title, int title_len, int first_code, int count, int* handle) {
  Item* owner = Find(pull);
  if (!owner || owner->kind != Kind::kMenu) return 0;
  Item item;
  item.kind = Kind::kRecentMenu;
  item.menu = owner->menu->addMenu(Text(title, title_len, PVGUI_MAX_LABEL));
  item.first_code = first_code;
  item.count = std::max(0, count);
  const int h = Create(std::move(item), handle);
  FillRecentMenu(h);
  return h;
}

void NoteRecentFile(int menu, const char* name, int name_len, const char* directory, int directory_len) {
  Item* it = Find(menu);
  if (!it || it->kind != Kind::kRecentMenu) return;
  const QString path = QDir::cleanPath(QDir(QString::fromLocal8Bit(Bytes(directory, directory_len, directory_len)))
                                           .absoluteFilePath(QString::fromLocal8Bit(Bytes(name, name_len, name_len))));
  QSettings settings = Settings();
  QStringList files = settings.value(RecentKey(*it)).toStringList();
  files.removeAll(path);
  files.prepend(path);
  while (files.size() > it->count) files.removeLast();
  settings.setValue(RecentKey(*it), files);
  FillRecentMenu(menu);
}

void ChooseRecentFile(int menu, int index, char* name, int name_len, char* directory, int directory_len) {
  Item* it = Find(menu);
  QByteArray chosen_name, chosen_dir;
  if (it && it->kind == Kind::kRecentMenu) {
    const QStringList files = Settings().value(RecentKey(*it)).toStringList();
    if (index >= 0 && index < files.size() && index < it->count) {
      const QFileInfo info(files[index]);
      chosen_name = QFile::encodeName(info.fileName());
      chosen_dir = QFile::encodeName(info.absolutePath());
      if (chdir(chosen_dir.constData()) != 0) chosen_name.clear();
    }
  }
  if (chosen_name.isEmpty()) chosen_dir.clear();
  pvgui_qt::CopyBack(chosen_name, name, name_len);
  pvgui_qt::CopyBack(chosen_dir, directory, directory_len);
}

void SetFirstFocus(int window, int widget) {
  if (Item* it = Find(window); it && (it->kind == Kind::kMaster || it->kind == Kind::kDialog)) it->first_focus = widget;
}

void SetWindowEnter(int window, int button) {
  Item* it = Find(window);
  if (it && (it->kind == Kind::kMaster || it->kind == Kind::kDialog)) it->enter = button ? ButtonOf(button) : nullptr;
}

void SetFieldCaption(int widget, const char* text, int text_len) {
  Item* it = Find(widget);
  if (!it || it->kind != Kind::kValue) return;
  auto* field = static_cast<QLineEdit*>(it->widget.data());
  if (!it->caption) {
    auto* caption = new QLabel(field);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption->setStyleSheet("color: #5a6070; background: transparent;");
    it->caption = caption;
  }
  auto* caption = static_cast<QLabel*>(it->caption.data());
  caption->setText(Text(text, text_len, PVGUI_MAX_LABEL));
  caption->adjustSize();
  const int left = 4;
  caption->move(left, (field->height() - caption->height()) / 2);
  field->setTextMargins(left + caption->width(), 0, 0, 0);
  SetNumber(widget, static_cast<float>(it->number));
}

void SetValueDecimals(int widget, int decimals) {
  Item* it = Find(widget);
  if (!it || it->kind != Kind::kValue) return;
  it->decimals = decimals;
  SetNumber(widget, static_cast<float>(it->number));
}

void SetClipboardText(const char* text, int text_len) {
  if (qApp) QGuiApplication::clipboard()->setText(Text(text, text_len, PVGUI_MAX_FIELD));
}

void SetFrameViewHandler(int frame, PvguiViewHandler handler, void* context) {
  auto* f = FrameOf(frame);
  if (!f) return;
  f->handler = handler;
  f->context = context;
  // The handler knows the frame's size from the start.
  if (handler && f->width() > 0) {
    QResizeEvent event(f->size(), f->size());
    QCoreApplication::sendEvent(f, &event);
  }
}

void SetNumber(int widget, float value) {
  Item* it = Find(widget);
  if (!it || it->kind != Kind::kValue) return;
  it->number = value;
  auto* field = static_cast<QLineEdit*>(it->widget.data());
  it->shown = pvgui_qt::FittedNumber(field, value, it->decimals);
  field->setText(it->shown);
}

int GetCheckedNumber(int widget, float* value) {
  Item* it = Find(widget);
  if (!it || it->kind != Kind::kValue) return 0;
  const QString typed = static_cast<QLineEdit*>(it->widget.data())->text().trimmed();
  if (typed == it->shown) {
    *value = static_cast<float>(it->number);
    return 1;
  }
  bool ok = false;
  const double number = typed.toDouble(&ok);
  if (!ok) return 0;
  *value = static_cast<float>(number);
  return 1;
}

float GetNumber(int widget) {
  float value = 0.0f;
  return GetCheckedNumber(widget, &value) ? value : 0.0f;
}

void SetString(int widget, const char* text, int text_len) {
  Item* it = Find(widget);
  if (!it || !it->widget) return;
  const QString s = Text(text, text_len, PVGUI_MAX_FIELD);
  if (auto* field = qobject_cast<QLineEdit*>(it->widget)) {
    field->setText(s);
    field->setCursorPosition(0);
  } else if (auto* block = qobject_cast<QPlainTextEdit*>(it->widget)) {
    block->setPlainText(s);
  } else if (auto* label = qobject_cast<QLabel*>(it->widget)) {
    label->setText(s.left(PVGUI_MAX_LABEL));
    // A longer caption takes the room it needs, as far as its window allows.
    if (it->kind == Kind::kLabel && label->parentWidget()) {
      const int room = label->parentWidget()->width() - label->x();
      label->resize(std::min(room, std::max(label->width(), label->sizeHint().width())), label->height());
    }
  } else if (auto* button = qobject_cast<QAbstractButton*>(it->widget)) {
    button->setText(s.left(PVGUI_MAX_LABEL));
  }
}

void GetString(int widget, char* text, int text_len) {
  Item* it = Find(widget);
  QString s;
  if (it && it->widget) {
    if (auto* field = qobject_cast<QLineEdit*>(it->widget))
      s = field->text();
    else if (auto* block = qobject_cast<QPlainTextEdit*>(it->widget))
      s = block->toPlainText();
    else if (auto* label = qobject_cast<QLabel*>(it->widget))
      s = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(it->widget))
      s = button->text();
  }
  pvgui_qt::CopyBack(s.toLocal8Bit(), text, text_len);
}

void SetToggle(int widget, int state) {
  Item* it = Find(widget);
  if (!it || (it->kind != Kind::kToggle && it->kind != Kind::kRadio)) return;
  auto* button = static_cast<QAbstractButton*>(it->widget.data());
  QButtonGroup* group = button->group();
  // An exclusive group refuses to switch its last toggle off; the program
  // may still clear one.
  if (group && !state) group->setExclusive(false);
  button->setChecked(state != 0);
  if (group && !state) group->setExclusive(true);
}

int GetToggle(int widget) {
  Item* it = Find(widget);
  if (!it || (it->kind != Kind::kToggle && it->kind != Kind::kRadio)) return 0;
  return static_cast<QAbstractButton*>(it->widget.data())->isChecked() ? 1 : 0;
}

int IWinAction(void) {
  auto& t = T();
  if (!t.initialised) return -1;
  if (t.codes.empty()) {
    QEventLoop loop;
    QEventLoop* outer = t.waiting;
    t.waiting = &loop;
    loop.exec();
    t.waiting = outer;
  }
  if (t.codes.empty()) return -1;
  const int code = t.codes.front();
  t.codes.pop_front();
  return code;
}

void SetCallTime(int interval, int code) {
  auto& t = T();
  if (!t.initialised) return;
  if (!t.timer) {
    t.timer = new QTimer(qApp);
    t.timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(t.timer, &QTimer::timeout, [] {
      // One pending tick is enough: a slow step must not pile them up ahead
      // of the user's Stop.
      auto& tk = T();
      if (tk.timer_code != 0 && std::find(tk.codes.begin(), tk.codes.end(), tk.timer_code) == tk.codes.end())
        Post(tk.timer_code);
    });
  }
  if (code == 0) {
    t.timer->stop();
    // A tick that fell due after the user's Stop but before the program took
    // it must not integrate one more reflection once the timer is off.
    if (t.timer_code != 0) t.codes.erase(std::remove(t.codes.begin(), t.codes.end(), t.timer_code), t.codes.end());
    t.timer_code = 0;
    return;
  }
  t.timer_code = code;
  // The time unit is 0.02 ms: the program's interval of 50 gives a tick
  // every millisecond and 10 one whenever the window is idle, so a whole
  // file goes by in seconds while a click still comes between two ticks.
  t.timer->start(std::max(0, interval) / 50);
}

void ErrorBox(const char* title, int title_len, const char* message, int message_len) {
  pvgui_qt::ShowBox(Text(title, title_len, PVGUI_MAX_LABEL), Text(message, message_len, PVGUI_MAX_LABEL), true);
}

int GeneralMessage(const char* title, int title_len, const char* message, int message_len, int, int default_reply) {
  // The program asks only for a plain notice: its one answer is the default.
  pvgui_qt::ShowBox(Text(title, title_len, PVGUI_MAX_LABEL), Text(message, message_len, PVGUI_MAX_LABEL), false);
  return default_reply;
}

int AskChoice(const char* title, int title_len, const char* message, int message_len, const char* choices,
              int choices_len) {
  const QStringList answers = Text(choices, choices_len, PVGUI_MAX_LABEL).split('|');
  return pvgui_qt::AskChoice(Text(title, title_len, PVGUI_MAX_LABEL), Text(message, message_len, PVGUI_MAX_LABEL),
                             answers);
}

void RegTitleString(const char* title, int title_len) { T().browse_title = Text(title, title_len, PVGUI_MAX_LABEL); }

void RegBrowseType(int type) { T().browse_save = type == 1; }

void OpenBrowse(char* name, int name_len, char* directory, int directory_len, const char* filter, int filter_len) {
  auto& t = T();
  const QString proposed = Text(name, name_len, name_len);
  const QString start = Text(directory, directory_len, directory_len);
  const QString filters = pvgui_qt::QtFilter(Text(filter, filter_len, filter_len));
  const bool save = t.browse_save;
  t.browse_save = false;
  t.browses.push_back({t.browse_title, proposed, start, filters, save});

  QByteArray chosen_name, chosen_dir;
  if (!t.browse_answers.empty()) {
    chosen_name = QByteArray::fromStdString(t.browse_answers.front().first);
    chosen_dir = QByteArray::fromStdString(t.browse_answers.front().second);
    t.browse_answers.pop_front();
  } else if (t.initialised) {
    // Where the program names no place, the browser starts where it last
    // found a file, in this run or an earlier one.
    const QString last = Settings().value("browse/directory").toString();
    QFileDialog dialog(pvgui_qt::BoxParent(), t.browse_title,
                       start.isEmpty() && QFileInfo(last).isDir() ? last : start);
    // Any name may be given: an output file is often a new one, and a data
    // file that does not open is refused by the program, which asks again.
    dialog.setFileMode(QFileDialog::AnyFile);
    // A file to be written gets a "Save" button; the program itself asks
    // before it replaces one.
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.setNameFilter(filters);
    if (!proposed.isEmpty()) dialog.selectFile(proposed);
    // Whole columns: the name takes what the size, type and date leave.
    if (auto* view = dialog.findChild<QTreeView*>()) {
      view->header()->setStretchLastSection(false);
      view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
      view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    const QRect avail = dialog.screen() ? dialog.screen()->availableGeometry() : QRect(0, 0, 800, 600);
    dialog.resize(QSize(860, 520).boundedTo(avail.size() * 9 / 10));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      const QFileInfo info(dialog.selectedFiles().first());
      chosen_name = QFile::encodeName(info.fileName());
      chosen_dir = QFile::encodeName(info.absolutePath());
      Settings().setValue("browse/directory", info.absolutePath());
    }
  }
  if (!chosen_name.isEmpty() && !chosen_dir.isEmpty() && chdir(chosen_dir.constData()) != 0) {
    chosen_name.clear();  // a directory that cannot be entered gives no file
  }
  if (chosen_name.isEmpty()) chosen_dir.clear();
  pvgui_qt::CopyBack(chosen_name, name, name_len);
  pvgui_qt::CopyBack(chosen_dir, directory, directory_len);
}

void ClearFrame(int frame) {
  if (auto* f = FrameOf(frame)) {
    f->ops.clear();
    f->update();
  }
}

void GetFrameScale(int frame, float* x_min, float* y_min, float* x_max, float* y_max) {
  auto* f = FrameOf(frame);
  if (!f) return;
  if (x_min) *x_min = static_cast<float>(f->scale[0]);
  if (y_min) *y_min = static_cast<float>(f->scale[1]);
  if (x_max) *x_max = static_cast<float>(f->scale[2]);
  if (y_max) *y_max = static_cast<float>(f->scale[3]);
}

void SetFrameScale(int frame, float x_min, float y_min, float x_max, float y_max) {
  if (auto* f = FrameOf(frame)) {
    f->scale[0] = x_min;
    f->scale[1] = y_min;
    f->scale[2] = x_max;
    f->scale[3] = y_max;
    f->update();
  }
}

void DrawMove(int frame, float x, float y) {
  if (auto* f = FrameOf(frame)) f->Add(pvgui_qt::Op::kMove, x, y);
}

void DrawLine(int frame, float x, float y) {
  if (auto* f = FrameOf(frame)) f->Add(pvgui_qt::Op::kLine, x, y);
}

void ChangePen(int frame, int colour, float char_size) {
  if (auto* f = FrameOf(frame)) {
    pvgui_qt::Op& op = f->Add(pvgui_qt::Op::kPen, 0, 0);
    op.colour = colour;
    op.char_size = char_size;
  }
}

void DrawString(int frame, float x, float y, const char* text, int text_len) {
  if (auto* f = FrameOf(frame)) {
    f->Add(pvgui_qt::Op::kText, x, y).text = Text(text, text_len, PVGUI_MAX_LABEL);
  }
}

void UpdateFrame(int frame) {
  if (auto* f = FrameOf(frame)) f->update();
}

void WinFlush(void) {
  // Paint now, at most at the screen's pace (an eye sees no more than that
  // and a fast pass would spend its time painting); clicks wait for the
  // program's next IWinAction, which paints what is left.
  static QElapsedTimer since_last;
  if (!T().initialised || (since_last.isValid() && since_last.elapsed() < 16)) return;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  since_last.start();
}

}  // extern "C"
