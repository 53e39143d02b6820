// The graphics frame of the Qt toolkit: the drawing calls since the last
// ClearFrame kept as a display list, painted again whenever Qt asks.
#pragma once

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

 protected:
  void paintEvent(QPaintEvent*) override;
};

// The frame of a graphics frame handle; nullptr for any other handle.
FrameWidget* FrameOf(int handle);

}  // namespace pvgui_qt
