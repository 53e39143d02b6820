// Painting the graphics frame: its display list mapped from the frame's
// scale to pixels, in the pens of the scan plot.
#include "toolkit/qt/frame.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "toolkit/qt/registry.h"
#include "toolkit/qt/widgets.h"

namespace pvgui_qt {
namespace {

// Colour indices of the frame: 1, 2, 5 and 7 are the ones the scan plot
// uses and must be told apart at a glance.
QColor Colour(int index) {
  switch (index) {
    case 0: return QColor(255, 255, 255);
    case 1: return QColor(20, 30, 90);
    case 2: return QColor(210, 30, 30);
    case 3: return QColor(0, 140, 60);
    case 4: return QColor(30, 90, 220);
    case 5: return QColor(20, 170, 60);
    case 6: return QColor(0, 160, 170);
    case 7: return QColor(190, 0, 190);
    case 8: return QColor(230, 130, 0);
    case 10: return QColor(222, 222, 222);
    default: return QColor(90, 90, 90);
  }
}

// The pen of a colour index. The scan plot draws the counts in 1 and then
// the fitted profile over them in 5: the profile is a broad translucent band,
// so that the counts stay visible inside it and show plainly where they leave it.
QPen PenOf(int index) {
  QColor colour = Colour(index);
  double width = 1.75;
  if (index == 1) width = 1.5;
  // Axes and the light lines at their ticks stay behind the data.
  if (index >= 9) width = 1.0;
  if (index == 5) {
    width = 6.0;
    colour.setAlpha(120);
  }
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

}  // namespace

namespace {

// A few pixels of margin keep lines drawn at the bounds fully visible.
constexpr double kMargin = 6;

}  // namespace

void FrameWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(QColor(170, 170, 170));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF area = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
  const double sx = scale[2] != scale[0] ? area.width() / (scale[2] - scale[0]) : 1.0;
  const double sy = scale[3] != scale[1] ? area.height() / (scale[3] - scale[1]) : 1.0;
  auto map = [&](double x, double y) {
    return QPointF(area.left() + (x - scale[0]) * sx, area.bottom() - (y - scale[1]) * sy);
  };
  p.setClipRect(rect().adjusted(1, 1, -1, -1));
  QPen pen = PenOf(1);
  double char_size = 1;
  QPointF at = map(scale[0], scale[1]);
  for (const Op& op : ops) {
    switch (op.kind) {
      case Op::kMove:
        at = map(op.x, op.y);
        break;
      case Op::kLine: {
        const QPointF to = map(op.x, op.y);
        p.setPen(pen);
        p.drawLine(at, to);
        at = to;
        break;
      }
      case Op::kPen:
        pen = PenOf(op.colour);
        char_size = op.char_size;
        break;
      case Op::kText: {
        // Character size in tenths of a grid row: the plot's 5 gives
        // half a row, a clear label that stays out of the curves.
        QFont font = p.font();
        font.setPixelSize(std::max(9, static_cast<int>(std::lround(char_size * kCellHeight / 10.0))));
        font.setBold(true);
        p.setFont(font);
        p.setPen(pen.color());
        p.drawText(map(op.x, op.y), op.text);
        break;
      }
    }
  }
}

void FrameWidget::Tell(int event, QPointF at, double amount) {
  if (!handler) return;
  const QRectF area = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
  const double sx = area.width() > 0 ? (scale[2] - scale[0]) / area.width() : 1.0;
  const double sy = area.height() > 0 ? (scale[3] - scale[1]) / area.height() : 1.0;
  const double x = scale[0] + (at.x() - area.left()) * sx;
  const double y = scale[1] + (area.bottom() - at.y()) * sy;
  // A pan is told in the frame's units, not in pixels.
  if (event == PVGUI_VIEW_PAN) amount *= sx;
  handler(context, handle, event, static_cast<float>(x), static_cast<float>(y), static_cast<float>(amount));
}

void FrameWidget::Zoom(double factor, bool counts) {
  Tell(counts ? PVGUI_VIEW_ZOOM_Y : PVGUI_VIEW_ZOOM, QRectF(rect()).center(), factor);
}

void FrameWidget::Pan(double fraction_of_width) { Tell(PVGUI_VIEW_PAN, QPointF(), fraction_of_width * width()); }

void FrameWidget::Reset() { Tell(PVGUI_VIEW_RESET, QPointF(), 0); }

void FrameWidget::wheelEvent(QWheelEvent* event) {
  // One notch of the wheel zooms by a quarter, about the point under the
  // pointer; with Shift the counts. Some systems turn a wheel held with
  // Shift into a sideways one.
  const QPoint delta = event->angleDelta();
  const int notches = delta.y() != 0 ? delta.y() : delta.x();
  if (notches == 0) return QWidget::wheelEvent(event);
  const bool counts = event->modifiers() & Qt::ShiftModifier;
  Tell(counts ? PVGUI_VIEW_ZOOM_Y : PVGUI_VIEW_ZOOM, event->position(), std::pow(1.25, notches / 120.0));
  event->accept();
}

void FrameWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  dragging_ = true;
  drag_from_ = event->position();
}

void FrameWidget::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
  const double dx = event->position().x() - drag_from_.x();
  drag_from_ = event->position();
  if (dx != 0) Tell(PVGUI_VIEW_PAN, event->position(), dx);
}

void FrameWidget::mouseDoubleClickEvent(QMouseEvent*) {
  dragging_ = false;
  Reset();
}

void FrameWidget::resizeEvent(QResizeEvent*) {
  // The size the frame's coordinates span, inside its margin.
  if (handler) {
    handler(context, handle, PVGUI_VIEW_RESIZED, static_cast<float>(std::max(1.0, width() - 2 * kMargin)),
            static_cast<float>(std::max(1.0, height() - 2 * kMargin)), kCellHeight);
  }
}

FrameWidget* FrameOf(int handle) {
  Item* it = Find(handle);
  return it && it->kind == Kind::kFrame ? static_cast<FrameWidget*>(it->widget.data()) : nullptr;
}

}  // namespace pvgui_qt
