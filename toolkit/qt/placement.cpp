// Where windows and boxes go on the screen: the main window at its grid
// place; dialogs and message boxes off the scan plot and the main window's
// buttons, with the room a dialog needs made by the main window when the
// screen has none to spare.
#include <QApplication>
#include <QLayout>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "toolkit/qt/registry.h"
#include "toolkit/qt/widgets.h"

namespace pvgui_qt {
namespace {

// The plot keeps at least this share of the main window's height when the
// window makes room for a dialog.
constexpr double kPlotShare = 0.4;

QRect Available(const QWidget* w) {
  QScreen* screen = w && w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

QRect Global(const QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); }

long long Overlap(const QRect& a, const QRect& b) {
  const QRect c = a.intersected(b);
  return c.isEmpty() ? 0 : static_cast<long long>(c.width()) * c.height();
}

// What a window or box must keep off (the plot, the main window's buttons
// and its status bar) and what it had better keep off (the other dialogs
// shown, the rest of the main window).
struct Screen {
  QRect avail;
  QRect main;
  std::vector<QRect> hard, dialogs;
};

Screen Look(const QWidget* except) {
  Screen s;
  const Item* master = MasterItem();
  QWidget* mw = master ? master->widget.data() : nullptr;
  s.avail = Available(except ? except : mw);
  if (!mw || !mw->isVisible()) return s;
  s.main = mw->frameGeometry();
  if (const Item* frame = PlotFrameIn(*master); frame && frame->widget) s.hard.push_back(Global(frame->widget));
  for (const QPushButton* button : master->grid_area->findChildren<QPushButton*>())
    if (button->isVisible()) s.hard.push_back(Global(button));
  if (auto* main = qobject_cast<QMainWindow*>(mw); main && main->statusBar()->isVisible())
    s.hard.push_back(Global(main->statusBar()));
  for (const auto& [h, it] : T().items)
    if (it.kind == Kind::kDialog && it.widget && it.widget != except && it.widget->isVisible())
      s.dialogs.push_back(it.widget->frameGeometry());
  return s;
}

// The place of a window of `size` inside the screen and off everything
// hard, over as little else as can be, nearest to `wanted` (a top-left
// corner); null when there is none. The places tried line up with the
// edges of what is already there.
QRect BestPlace(QSize size, QPoint wanted, const Screen& s) {
  if (s.avail.isEmpty()) return {};
  std::vector<int> xs = {s.avail.left(), s.avail.right() + 1 - size.width(), wanted.x()};
  std::vector<int> ys = {s.avail.top(), s.avail.bottom() + 1 - size.height(), wanted.y()};
  const auto edges = [&](const QRect& r) {
    xs.insert(xs.end(), {r.left(), r.right() + 1, r.left() - size.width(), r.right() + 1 - size.width()});
    ys.insert(ys.end(), {r.top(), r.bottom() + 1, r.top() - size.height(), r.bottom() + 1 - size.height()});
  };
  if (!s.main.isNull()) edges(s.main);
  for (const QRect& r : s.hard) edges(r);
  for (const QRect& r : s.dialogs) edges(r);
  QRect best;
  long long best_score = 0;
  for (int x : xs) {
    for (int y : ys) {
      const QRect r(QPoint(x, y), size);
      if (!s.avail.contains(r)) continue;
      if (std::any_of(s.hard.begin(), s.hard.end(), [&](const QRect& h) { return r.intersects(h); })) continue;
      // Another dialog hidden costs more than a part of the main window
      // (its title rows, its menus); either costs more than distance.
      long long score = std::abs(x - wanted.x()) + std::abs(y - wanted.y());
      for (const QRect& d : s.dialogs) score += 8 * Overlap(r, d);
      if (!s.main.isNull()) score += 2 * Overlap(r, s.main);
      if (best.isNull() || score < best_score) {
        best = r;
        best_score = score;
      }
    }
  }
  return best;
}

// A window's size with the frame the window manager gives it; a window
// never shown has no frame yet and will have the main window's.
QSize FramedSize(const QWidget* w) {
  QSize size = w->frameGeometry().size();
  const Item* master = MasterItem();
  if (size == w->size() && master && master->widget && master->widget != w)
    size += master->widget->frameGeometry().size() - master->widget->size();
  return size;
}

// A dialog larger than `room` (its frame left out) shows as much of its
// grid as the room holds, and the grid scrolls.
void Limit(Item& dialog, QSize room) {
  auto* scroll = qobject_cast<QScrollArea*>(dialog.scroll);
  if (!scroll) return;
  const QSize grid = dialog.grid_area->size();
  const int across = room.width() - 2 * kDialogMargin, down = room.height() - 2 * kDialogMargin;
  const int bar_width = scroll->verticalScrollBar()->sizeHint().width();
  const int bar_height = scroll->horizontalScrollBar()->sizeHint().height();
  // A scroll bar of one direction takes room from the other.
  bool cut_down = grid.height() > down;
  const bool cut_across = grid.width() + (cut_down ? bar_width : 0) > across;
  cut_down = cut_down || (cut_across && grid.height() + bar_height > down);
  if (!cut_down && !cut_across) return;
  const int width = std::max(4 * kCellWidth, std::min(grid.width() + (cut_down ? bar_width : 0), across));
  const int height = std::max(2 * kCellHeight, std::min(grid.height() + (cut_across ? bar_height : 0), down));
  scroll->setHorizontalScrollBarPolicy(cut_across ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  scroll->setFixedSize(width, height);
  dialog.widget->setFixedSize(width + 2 * kDialogMargin, height + 2 * kDialogMargin);
}

// The main window at its grid place, as large as its grid where the screen
// allows, smaller (the plot gives way) where it does not.
void PutMasterOnScreen(Item& window) {
  QWidget* w = window.widget;
  const QRect avail = Available(w);
  if (avail.isEmpty()) return;
  SetGridAreaSize(window);
  // Its whole grid, not the two thirds of the screen Qt gives a window by
  // itself.
  const QSize decoration = w->frameGeometry().size() - w->size();
  w->resize(w->sizeHint().boundedTo(avail.size() - decoration).expandedTo(w->minimumSizeHint()));
  const QSize size = w->size() + decoration;
  QPoint top_left = avail.topLeft() + QPoint(window.grid.x() * kCellWidth,
                                             (T().screen_rows - window.grid.y() - window.rows) * kCellHeight);
  top_left.setX(std::max(avail.left(), std::min(top_left.x(), avail.right() + 1 - size.width())));
  top_left.setY(std::max(avail.top(), std::min(top_left.y(), avail.bottom() + 1 - size.height())));
  w->move(top_left);
}

// No place was free: the main window moves to the top of the screen and
// becomes lower, as little as the dialog needs, so that the dialog stands
// below it. Its plot gives up height first, down to its share of the
// window; then the rows above the plot fold away; a dialog still too high
// scrolls. All of it is given back when the dialog is hidden.
void MakeRoom(Item& dialog, QSize size, const Screen& s) {
  Item* master = nullptr;
  for (auto& [h, it] : T().items)
    if (it.kind == Kind::kMaster) master = &it;
  const Item* frame = master ? PlotFrameIn(*master) : nullptr;
  if (!master || !master->widget || !frame || !frame->widget) return;
  QWidget* mw = master->widget;
  const int decoration = mw->frameGeometry().height() - mw->height();
  const int fixed = mw->height() - frame->widget->height();  // all of the main window but its plot
  const int fold = master->folded ? 0 : FoldedHeight(*master);
  const auto least = [](int fixed_part) { return static_cast<int>(std::ceil(fixed_part / (1.0 - kPlotShare))); };
  const int room = s.avail.height() - size.height() - decoration;
  int height = room;
  bool folding = false;
  if (room < least(fixed)) {
    folding = fold > 0;
    height = std::max(room, least(fixed - fold));
  }
  height = std::min(height, mw->height());

  dialog.main_before = QRect(mw->pos(), mw->size());
  if (folding) {
    master->folded = true;
    dialog.folded = true;
    Relayout(*master);
  }
  height = std::max(height, mw->minimumSizeHint().height());
  mw->move(mw->x(), s.avail.top());
  mw->resize(mw->width(), height);
  // What was asked for: a window manager may apply it later.
  dialog.main_after = QRect(QPoint(mw->x(), s.avail.top()), QSize(mw->width(), height));

  // Below the main window, which is now the one thing to keep off.
  const QRect main_now(QPoint(mw->x(), s.avail.top()), QSize(mw->frameGeometry().width(), height + decoration));
  Screen below = s;
  below.main = main_now;
  below.hard = {main_now};
  const int left = s.avail.bottom() - main_now.bottom();
  QSize placed = size;
  if (size.height() > left) {
    const QSize dialog_decoration = size - dialog.widget->size();
    Limit(dialog, QSize(s.avail.width(), left) - dialog_decoration);
    placed = FramedSize(dialog.widget);
  }
  QRect r = BestPlace(placed, QPoint(main_now.left(), main_now.bottom() + 1), below);
  if (r.isNull()) {
    const int x = std::max(s.avail.left(), std::min(main_now.left(), s.avail.right() + 1 - placed.width()));
    r = QRect(QPoint(x, std::min(main_now.bottom() + 1, s.avail.bottom() + 1 - placed.height())), placed);
  }
  dialog.widget->move(r.topLeft());
}

}  // namespace

void KeepInside(Item& window) {
  QWidget* w = window.widget;
  if (!w || !w->isVisible()) return;
  const QRect avail = Available(w);
  const QRect frame = w->frameGeometry();
  if (avail.isEmpty() || avail.contains(frame)) return;
  // The frame the window manager gave it is known once it shows.
  const QSize decoration = frame.size() - w->size();
  w->resize(w->size().boundedTo(avail.size() - decoration).expandedTo(w->minimumSizeHint()));
  const QSize size = w->size() + decoration;
  w->move(std::max(avail.left(), std::min(frame.left(), avail.right() + 1 - size.width())),
          std::max(avail.top(), std::min(frame.top(), avail.bottom() + 1 - size.height())));
}

void PutOnScreen(Item& window) {
  if (!window.widget) return;
  if (window.kind == Kind::kMaster) {
    if (!window.on_screen) PutMasterOnScreen(window);
    window.on_screen = true;
    return;
  }
  // A dialog shown again is placed again: the main window may have moved.
  if (window.widget->isVisible()) return;
  window.on_screen = true;
  window.main_before = window.main_after = QRect();
  window.folded = false;
  QWidget* w = window.widget;
  SetGridAreaSize(window);
  w->adjustSize();
  QSize size = FramedSize(w);
  const Screen s = Look(w);
  if (s.avail.isEmpty()) return;
  // Larger than the screen: as much as the screen holds, scrolled.
  if (size.width() > s.avail.width() || size.height() > s.avail.height()) {
    Limit(window, s.avail.size() - (size - w->size()));
    size = FramedSize(w);
  }
  if (s.main.isNull()) {
    // Without a main window on the screen: the dialog's grid place.
    const int x = s.avail.left() + window.grid.x() * kCellWidth;
    const int y = s.avail.top() + (T().screen_rows - window.grid.y() - window.rows) * kCellHeight;
    w->move(std::max(s.avail.left(), std::min(x, s.avail.right() + 1 - size.width())),
            std::max(s.avail.top(), std::min(y, s.avail.bottom() + 1 - size.height())));
    return;
  }
  // Beside the main window where there is room, else as near as can be.
  const QRect place = BestPlace(size, QPoint(s.main.right() + 1, s.main.top()), s);
  if (!place.isNull()) {
    w->move(place.topLeft());
    return;
  }
  MakeRoom(window, size, s);
}

void GiveBackRoom(Item& dialog) {
  Item* master = nullptr;
  for (auto& [h, it] : T().items)
    if (it.kind == Kind::kMaster) master = &it;
  SetGridAreaSize(dialog);
  if (master && dialog.folded) {
    master->folded = false;
    Relayout(*master);
  }
  dialog.folded = false;
  if (!dialog.main_before.isNull() && master && master->widget) {
    // Unless the user has since changed the main window's size himself: a
    // size neither asked for nor the one before.
    const QSize now = master->widget->size();
    const auto near = [&now](QSize size) {
      return std::abs(now.width() - size.width()) <= 2 && std::abs(now.height() - size.height()) <= 2;
    };
    if (near(dialog.main_after.size()) || near(dialog.main_after.size().expandedTo(master->widget->minimumSize())) ||
        near(dialog.main_before.size())) {
      master->widget->move(dialog.main_before.topLeft());
      master->widget->resize(dialog.main_before.size());
    }
  }
  dialog.main_before = dialog.main_after = QRect();
}

QRect PlaceOfBox(QSize size) {
  // The cause: the dialog the user works in, else the control with the
  // focus (Accept, Go), else the main window.
  QWidget* active = QApplication::activeWindow();
  const Item* master = MasterItem();
  QWidget* dialog = nullptr;
  for (const auto& [h, it] : T().items)
    if (it.kind == Kind::kDialog && it.widget == active && active->isVisible()) dialog = active;
  const Screen s = Look(dialog);
  if (s.avail.isEmpty() || s.main.isNull()) return {};
  QRect cause = s.main;
  if (dialog) {
    cause = dialog->frameGeometry();
  } else if (QWidget* focus = QApplication::focusWidget(); focus && focus->isVisible() && master &&
                                                           focus->window() == master->widget) {
    cause = Global(focus);
  }
  return BestPlace(size, cause.center() - QPoint(size.width() / 2, size.height() / 2), s);
}

}  // namespace pvgui_qt
