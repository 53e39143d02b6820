// The graphics frame of the Qt toolkit: the drawing calls since the last
// ClearFrame kept as a display list, painted again whenever Qt asks. The
// wheel zooms about the pointer, a drag pans, a double click shows the whole
// again: a view over the list, which stays in the program's coordinates.
#pragma once

#include <QPointF>
#include <QString>
#include <QWidget>
#include <vector>

namespace pvgui_qt {

struct Op {
  enum Kind { kMove, kLine, kPen, kText } kind = kMove;
  double x = 0, y = 0;
  int colour = 1;
  double char_size = 1;
  QString text;
};

class FrameWidget : public QWidget {
 public:
  explicit FrameWidget(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
  std::vector<Op> ops;
  Op& Add(Op::Kind kind, double x, double y) {
    Op& op = ops.emplace_back();
    op.kind = kind;
    op.x = x;
    op.y = y;
    return op;
  }
  double scale[4] = {0.0, 0.0, 300.0, 200.0};  // x_min, y_min, x_max, y_max

  // The view: pixels of the unzoomed painting p are shown at zoom * p + pan.
  double zoom = 1.0;
  QPointF pan;
  void ResetView() {
    zoom = 1.0;
    pan = QPointF();
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QPointF drag_from_;
  bool dragging_ = false;
};

// The frame of a graphics frame handle; nullptr for any other handle.
FrameWidget* FrameOf(int handle);

}  // namespace pvgui_qt
