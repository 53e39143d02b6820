// Windows on the layout grid: cells to pixels, windows that grow to hold
// their widgets and find their place on the screen; the program's mark.
#include "toolkit/qt/widgets.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace pvgui_qt {
namespace {

QRect CellRect(const Item& window, const QRect& g) {
  return QRect(g.x() * kCellWidth, (window.rows - g.y() - g.height()) * kCellHeight, g.width() * kCellWidth,
               g.height() * kCellHeight);
}

void Place(const Item& window, const Item& item) {
  if (!item.widget) return;
  item.widget->setGeometry(CellRect(window, item.grid).marginsRemoved(QMargins(kGutterX, kGutterY, kGutterX, kGutterY)));
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
  window.grid_area->setFixedSize(window.columns * kCellWidth, window.rows * kCellHeight);
  if (window.kind == Kind::kMaster) {
    window.widget->adjustSize();
  } else {
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

void PutOnScreen(Item& window) {
  if (window.on_screen || !window.widget) return;
  window.on_screen = true;
  QScreen* screen = window.widget->screen() ? window.widget->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect avail = screen->availableGeometry();
  QWidget* w = window.widget;
  w->adjustSize();
  const QSize size = w->frameGeometry().size();
  QPoint top_left = avail.topLeft() + QPoint(window.grid.x() * kCellWidth,
                                             (T().screen_rows - window.grid.y() - window.rows) * kCellHeight);
  top_left.setX(std::max(avail.left(), std::min(top_left.x(), avail.right() + 1 - size.width())));
  top_left.setY(std::max(avail.top(), std::min(top_left.y(), avail.bottom() + 1 - size.height())));
  // A dialog whose grid place is at the main window's right edge (the
  // fitting controls) stands beside it, so that the scan stays in view.
  // When the screen is too narrow for the two side by side it goes below
  // the main window if there is room there.
  const Item* main = MasterItem();
  if (window.kind == Kind::kDialog && main && main->widget && main->on_screen &&
      window.grid.x() >= main->grid.x() + main->columns - 1) {
    const QRect beside = main->widget->frameGeometry();
    if (QRect(top_left, size).intersects(beside)) {
      if (beside.right() + 1 + size.width() <= avail.right() + 1) {
        top_left.setX(beside.right() + 1);
      } else if (beside.bottom() + 1 + size.height() <= avail.bottom() + 1) {
        top_left = QPoint(std::min(beside.left(), avail.right() + 1 - size.width()), beside.bottom() + 1);
      }
    }
  }
  w->move(top_left);
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
