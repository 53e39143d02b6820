// The graphics frame of the Qt toolkit: the drawing calls since the last
// ClearFrame kept as a display list, painted again whenever Qt asks. The
// wheel, a drag, a double click and the keys of the view are told to the
// program, which draws the picture again for the range the user chose:
// zoom is a change of what is plotted, not a magnified picture.
#pragma once

#include <QPointF>
#include <QString>
#include <QWidget>
#include <vector>

#include "toolkit/pvgui.h"

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

  // Who hears of the user's zoom, pan and reset, and of a new size.
  PvguiViewHandler handler = nullptr;
  void* context = nullptr;
  int handle = 0;
  // Tells the handler of `event` at the point `at` (pixels); `amount` as
  // the entry point has it.
  void Tell(int event, QPointF at, double amount);
  // A step of the keyboard: zoom about the middle, pan a tenth of the width.
  void Zoom(double factor, bool counts);
  void Pan(double fraction_of_width);
  void Reset();

 protected:
  void paintEvent(QPaintEvent*) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPointF drag_from_;
  bool dragging_ = false;
};

// The frame of a graphics frame handle; nullptr for any other handle.
FrameWidget* FrameOf(int handle);

}  // namespace pvgui_qt
