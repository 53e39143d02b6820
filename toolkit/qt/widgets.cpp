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
#include <QPushButton>
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

QSize Nominal(const Item& window) { return QSize(window.columns * kCellWidth, window.rows * kCellHeight); }

// The least the plot may shrink to when the main window is made smaller.
constexpr int kMinFrameColumns = 8;
constexpr int kMinFrameRows = 4;

QSize MinimumArea(const Item& window) {
  const Item* frame = PlotFrameIn(window);
  if (!frame) return Nominal(window);
  int right = (frame->grid.x() + kMinFrameColumns) * kCellWidth;
  for (int h : window.placed) {
    const Item* it = Find(h);
    if (it && it != frame) right = std::max(right, (it->grid.x() + it->grid.width()) * kCellWidth);
  }
  return QSize(right, Nominal(window).height() - (frame->grid.height() - kMinFrameRows) * kCellHeight -
                          (window.folded ? FoldedHeight(window) : 0));
}

void Place(const Item& window, const Item& item) {
  if (!item.widget) return;
  QRect r = CellRect(window, item.grid);
  // What the main window has gained or lost goes to the frame; the widgets
  // below the frame move with the window's bottom edge. Folded, the frame
  // also takes the rows above it, and covers what stands there.
  const Item* frame = PlotFrameIn(window);
  if (frame && window.grid_area && window.grid_area->testAttribute(Qt::WA_Resized)) {
    const QSize extra = window.grid_area->size() - Nominal(window);
    if (&item == frame) {
      r.adjust(0, window.folded ? -FoldedHeight(window) : 0, extra.width(), extra.height());
    } else if (item.grid.y() + item.grid.height() <= frame->grid.y()) {
      r.translate(0, extra.height());
    }
  }
  item.widget->setGeometry(r.marginsRemoved(QMargins(kGutterX, kGutterY, kGutterX, kGutterY)));
  if (&item == frame && window.folded) item.widget->raise();
}

const Item* WindowOfArea(const QWidget* area) {
  for (const auto& [h, it] : T().items)
    if ((it.kind == Kind::kMaster || it.kind == Kind::kDialog) && it.grid_area == area) return &it;
  return nullptr;
}

QString ShownNumber(double value, int decimals) { return QString::number(value, 'f', std::clamp(decimals, 0, 15)); }

}  // namespace

const Item* PlotFrameIn(const Item& window) {
  if (window.kind != Kind::kMaster) return nullptr;
  for (int h : window.placed) {
    const Item* it = Find(h);
    if (it && it->kind == Kind::kFrame) return it;
  }
  return nullptr;
}

const Item* MasterItem() {
  for (const auto& [h, it] : T().items)
    if (it.kind == Kind::kMaster) return &it;
  return nullptr;
}

int FoldedHeight(const Item& window) {
  const Item* frame = PlotFrameIn(window);
  return frame ? (window.rows - frame->grid.y() - frame->grid.height()) * kCellHeight : 0;
}

void Relayout(const Item& window) {
  if (window.grid_area) window.grid_area->updateGeometry();
  // The window's least size follows at once, not at the next layout pass.
  if (window.widget && window.widget->layout()) {
    window.widget->layout()->invalidate();
    window.widget->layout()->activate();
  }
  for (int h : window.placed)
    if (const Item* it = Find(h)) Place(window, *it);
}

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

namespace {

bool IsEnter(const QKeyEvent* e) { return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter; }

// The button Enter presses in `window` for want of a main action of its own.
QAbstractButton* EnterOf(const QWidget* window) {
  for (const auto& [h, it] : T().items)
    if (it.widget == window) return it.enter && it.enter->isVisible() && it.enter->isEnabled() ? it.enter.data() : nullptr;
  return nullptr;
}

}  // namespace

void MasterWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && escape && escape->isVisible() && escape->isEnabled()) {
    escape->click();
  } else if (IsEnter(e) && EnterOf(this)) {
    EnterOf(this)->click();
  } else {
    QMainWindow::keyPressEvent(e);
  }
}

void DialogWindow::keyPressEvent(QKeyEvent* e) {
  if (IsEnter(e) && EnterOf(this)) {
    bool main_action = false;
    for (const QPushButton* button : findChildren<QPushButton*>()) main_action = main_action || button->isDefault();
    if (!main_action) {
      EnterOf(this)->click();
      return;
    }
  }
  QDialog::keyPressEvent(e);
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
    if (window.scroll) window.scroll->setFixedSize(Nominal(window));
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
  const QMargins caption = field->textMargins();
  const int room = field->contentsRect().width() - 8 - caption.left() - caption.right();
  QString text = ShownNumber(value, decimals);
  while (decimals > 0 && field->fontMetrics().horizontalAdvance(text) > room) text = ShownNumber(value, --decimals);
  return text;
}

QSize CellSize() { return QSize(kCellWidth, kCellHeight); }
QMargins Gutter() { return QMargins(kGutterX, kGutterY, kGutterX, kGutterY); }
QWidget* GridAreaOf(int window) { return ParentWidget(window); }

}  // namespace pvgui_qt
