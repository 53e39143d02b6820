// Windows on the layout grid: cells to pixels, windows that grow to hold
// their widgets and find their place on the screen; the program's mark.
#include "toolkit/qt/widgets.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>
#include <array>
#include <cmath>

namespace pvgui_qt {
namespace {

QRect CellRect(const Item& window, const QRect& g) {
  return QRect(g.x() * kCellWidth, (window.rows - g.y() - g.height()) * kCellHeight, g.width() * kCellWidth,
               g.height() * kCellHeight);
}

// The frame of the main window: the one widget that grows with it.
const Item* FrameIn(const Item& window) {
  if (window.kind != Kind::kMaster) return nullptr;
  for (int h : window.placed) {
    const Item* it = Find(h);
    if (it && it->kind == Kind::kFrame) return it;
  }
  return nullptr;
}

QSize Nominal(const Item& window) { return QSize(window.columns * kCellWidth, window.rows * kCellHeight); }

// The least the plot may shrink to when the main window is made smaller.
constexpr int kMinFrameColumns = 8;
constexpr int kMinFrameRows = 4;

QSize MinimumArea(const Item& window) {
  const Item* frame = FrameIn(window);
  if (!frame) return Nominal(window);
  int right = (frame->grid.x() + kMinFrameColumns) * kCellWidth;
  for (int h : window.placed) {
    const Item* it = Find(h);
    if (it && it != frame) right = std::max(right, (it->grid.x() + it->grid.width()) * kCellWidth);
  }
  return QSize(right, Nominal(window).height() - (frame->grid.height() - kMinFrameRows) * kCellHeight);
}

void Place(const Item& window, const Item& item) {
  if (!item.widget) return;
  QRect r = CellRect(window, item.grid);
  // What the main window has gained or lost goes to the frame; the widgets
  // below the frame move with the window's bottom edge.
  const Item* frame = FrameIn(window);
  if (frame && window.grid_area && window.grid_area->testAttribute(Qt::WA_Resized)) {
    const QSize extra = window.grid_area->size() - Nominal(window);
    if (&item == frame)
      r.adjust(0, 0, extra.width(), extra.height());
    else if (item.grid.y() + item.grid.height() <= frame->grid.y())
      r.translate(0, extra.height());
  }
  item.widget->setGeometry(r.marginsRemoved(QMargins(kGutterX, kGutterY, kGutterX, kGutterY)));
}

const Item* WindowOfArea(const QWidget* area) {
  for (const auto& [h, it] : T().items)
    if ((it.kind == Kind::kMaster || it.kind == Kind::kDialog) && it.grid_area == area) return &it;
  return nullptr;
}

const Item* MasterItem() {
  for (const auto& [h, it] : T().items)
    if (it.kind == Kind::kMaster) return &it;
  return nullptr;
}

QString ShownNumber(double value, int decimals) { return QString::number(value, 'f', std::clamp(decimals, 0, 15)); }

}  // namespace

void MasterWindow::closeEvent(QCloseEvent* e) {
  if (T().exiting) {
    e->accept();
    return;
  }
  e->ignore();
  Post(-1);
}

void DialogWindow::closeEvent(QCloseEvent* e) {
  if (T().exiting)
    e->accept();
  else
    e->ignore();
}

void MasterWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && escape && escape->isVisible() && escape->isEnabled())
    escape->click();
  else
    QMainWindow::keyPressEvent(e);
}

void DialogWindow::reject() {
  if (escape && escape->isVisible() && escape->isEnabled()) escape->click();
}

QSize GridArea::sizeHint() const {
  const Item* window = WindowOfArea(this);
  return window ? Nominal(*window) : QWidget::sizeHint();
}

QSize GridArea::minimumSizeHint() const {
  const Item* window = WindowOfArea(this);
  return window ? MinimumArea(*window) : QWidget::minimumSizeHint();
}

void GridArea::resizeEvent(QResizeEvent*) {
  const Item* window = WindowOfArea(this);
  if (!window) return;
  for (int h : window->placed)
    if (const Item* it = Find(h)) Place(*window, *it);
}

void IconWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintLogo(p, QRectF(rect()).adjusted(2, 2, -2, -2));
}

void PaintLogo(QPainter& p, const QRectF& r) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const double s = std::min(r.width(), r.height());
  const QPointF o(r.center().x() - s / 2, r.center().y() - s / 2);
  auto at = [&](double x, double y) { return o + QPointF(x * s, y * s); };
  QPolygonF crystal;
  crystal << at(0.10, 0.55) << at(0.28, 0.22) << at(0.46, 0.55) << at(0.28, 0.88);
  p.setPen(QPen(QColor(20, 30, 90), std::max(1.0, s / 40)));
  p.setBrush(QColor(120, 170, 230));
  p.drawPolygon(crystal);
  p.drawLine(at(0.10, 0.55), at(0.46, 0.55));
  QPainterPath peak;
  peak.moveTo(at(0.50, 0.86));
  for (int i = 0; i <= 40; ++i) {
    const double u = i / 40.0;
    const double g = std::exp(-std::pow((u - 0.5) / 0.13, 2));
    peak.lineTo(at(0.50 + 0.45 * u, 0.86 - 0.68 * g));
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(210, 30, 30), std::max(1.5, s / 28)));
  p.drawPath(peak);
  p.setPen(QPen(QColor(20, 30, 90), std::max(1.0, s / 40)));
  p.drawLine(at(0.50, 0.88), at(0.95, 0.88));
  p.restore();
}

QPixmap LogoPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  PaintLogo(p, QRectF(0, 0, size, size));
  return pixmap;
}

void SetGridAreaSize(Item& window) {
  if (window.kind == Kind::kMaster) {
    window.grid_area->updateGeometry();
    if (window.widget->layout()) window.widget->layout()->invalidate();
    window.widget->adjustSize();
  } else {
    window.grid_area->setFixedSize(Nominal(window));
    window.widget->setFixedSize(window.grid_area->size() + QSize(2 * kDialogMargin, 2 * kDialogMargin));
  }
}

void Adopt(int window_handle, int handle) {
  Item& window = T().items[window_handle];
  Item& item = T().items[handle];
  item.window = window_handle;
  window.placed.push_back(handle);
  const int columns = std::max(window.columns, item.grid.x() + item.grid.width());
  const int rows = std::max(window.rows, item.grid.y() + item.grid.height());
  if (columns == window.columns && rows == window.rows) {
    Place(window, item);
    return;
  }
  window.columns = columns;
  window.rows = rows;
  SetGridAreaSize(window);
  for (int h : window.placed) Place(window, T().items[h]);
}

int CellsFor(QWidget* w, int at_least) {
  const int pixels = w->sizeHint().width() + 2 * kGutterX;
  return std::max(at_least, (pixels + kCellWidth - 1) / kCellWidth);
}

namespace {

QRect Available(QWidget* w) {
  QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

// The main window: at its grid place, as large as its grid where the screen
// allows, smaller (the plot gives way) where it does not.
void PutMasterOnScreen(Item& window) {
  QWidget* w = window.widget;
  const QRect avail = Available(w);
  if (avail.isEmpty()) return;
  SetGridAreaSize(window);
  const QSize decoration = w->frameGeometry().size() - w->size();
  w->resize(w->size().boundedTo(avail.size() - decoration).expandedTo(w->minimumSizeHint()));
  const QSize size = w->size() + decoration;
  QPoint top_left = avail.topLeft() + QPoint(window.grid.x() * kCellWidth,
                                             (T().screen_rows - window.grid.y() - window.rows) * kCellHeight);
  top_left.setX(std::max(avail.left(), std::min(top_left.x(), avail.right() + 1 - size.width())));
  top_left.setY(std::max(avail.top(), std::min(top_left.y(), avail.bottom() + 1 - size.height())));
  w->move(top_left);
}

int Overlap(const QRect& a, const QRect& b) {
  const QRect c = a.intersected(b);
  return c.isEmpty() ? 0 : c.width() * c.height();
}

}  // namespace

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
  QWidget* w = window.widget;
  const QRect avail = Available(w);
  if (avail.isEmpty()) return;
  w->adjustSize();
  const Item* main = MasterItem();
  // A window never shown has no frame yet: it will have the main window's.
  QSize size = w->frameGeometry().size();
  if (size == w->size() && main && main->widget) size += main->widget->frameGeometry().size() - main->widget->size();
  const auto clamp_x = [&](int x) { return std::max(avail.left(), std::min(x, avail.right() + 1 - size.width())); };
  const auto clamp_y = [&](int y) { return std::max(avail.top(), std::min(y, avail.bottom() + 1 - size.height())); };
  const auto at = [&](int x, int y) { return QRect(QPoint(x, y), size); };
  // Without a main window on the screen: the dialog's grid place.
  const QRect grid_place = at(clamp_x(avail.left() + window.grid.x() * kCellWidth),
                              clamp_y(avail.top() + (T().screen_rows - window.grid.y() - window.rows) * kCellHeight));
  const Item* frame = main ? FrameIn(*main) : nullptr;
  if (!main || !main->widget || !main->widget->isVisible() || !frame || !frame->widget) {
    w->move(grid_place.topLeft());
    return;
  }
  QWidget* mw = main->widget;
  const QRect m = mw->frameGeometry();
  // The dialog's places right of, left of, below and above `r`.
  const auto around = [&](const QRect& r) {
    return std::array<QRect, 4>{at(r.right() + 1, clamp_y(r.top())), at(r.left() - size.width(), clamp_y(r.top())),
                                at(clamp_x(r.left()), r.bottom() + 1), at(clamp_x(r.left()), r.top() - size.height())};
  };
  // The main window moved and made lower while the dialog is shown; it is
  // given back its place when the dialog is hidden.
  const auto make_room = [&](QPoint top_left, int height) {
    window.main_before = QRect(mw->pos(), mw->size());
    mw->move(top_left);
    mw->resize(mw->width(), height);
    window.main_after = QRect(mw->pos(), mw->size());
  };

  // Beside the main window, else below or above it.
  for (const QRect& r : around(m)) {
    if (avail.contains(r)) {
      w->move(r.topLeft());
      return;
    }
  }

  // Room made below the main window: it moves up and its plot gives up
  // height, which it gets back when the dialog is hidden.
  const int up = m.top() - avail.top();
  const int spare = main->grid_area->height() - main->grid_area->minimumSizeHint().height();
  const int short_by = m.bottom() + 1 + size.height() - (avail.bottom() + 1);
  if (short_by <= up + spare) {
    const int lift = std::min(up, short_by);
    const int shrink = short_by - lift;
    make_room(m.topLeft() - QPoint(0, lift), mw->height() - shrink);
    w->move(clamp_x(m.left()), m.bottom() + 1 - lift - shrink);
    return;
  }

  // Never over the plot, and over as little of the main window as can be,
  // the plot made as small as it may be, at the top of the screen.
  QRect plot(frame->widget->mapToGlobal(QPoint(0, 0)), frame->widget->size());
  plot.adjust(0, -up, 0, -up - spare);
  const QRect smallest = m.adjusted(0, -up, 0, -up - spare);
  QRect best;
  for (const QRect& r : around(plot)) {
    if (avail.contains(r) && (best.isNull() || Overlap(r, smallest) < Overlap(best, smallest))) best = r;
  }
  if (best.isNull()) {
    w->move(grid_place.topLeft());
    return;
  }
  make_room(smallest.topLeft(), mw->height() - spare);
  w->move(best.topLeft());
}

void GiveBackRoom(Item& dialog) {
  const Item* main = MasterItem();
  if (dialog.main_before.isNull() || !main || !main->widget) return;
  // Unless the user has since changed the main window's size himself.
  if (main->widget->size() == dialog.main_after.size()) {
    main->widget->move(dialog.main_before.topLeft());
    main->widget->resize(dialog.main_before.size());
  }
  dialog.main_before = dialog.main_after = QRect();
}

void ApplyStatus(QWidget* w, int status) {
  if (!w) return;
  w->setEnabled(status == 1);
  w->setVisible(status != -1);
}

void ApplyStatus(QAction* a, int status) {
  if (!a) return;
  a->setEnabled(status == 1);
  a->setVisible(status != -1);
}

QWidget* ParentWidget(int window) {
  Item* it = Find(window);
  return it && (it->kind == Kind::kMaster || it->kind == Kind::kDialog) ? it->grid_area : nullptr;
}

QString FittedNumber(const QLineEdit* field, double value, int decimals) {
  const int room = field->contentsRect().width() - 8;
  QString text = ShownNumber(value, decimals);
  while (decimals > 0 && field->fontMetrics().horizontalAdvance(text) > room) text = ShownNumber(value, --decimals);
  return text;
}

QSize CellSize() { return QSize(kCellWidth, kCellHeight); }
QMargins Gutter() { return QMargins(kGutterX, kGutterY, kGutterX, kGutterY); }
QWidget* GridAreaOf(int window) { return ParentWidget(window); }

}  // namespace pvgui_qt
