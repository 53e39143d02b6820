// The windows and widgets of the Qt toolkit and their place on the layout
// grid (lower-left corners, y upwards) and on the screen.
#pragma once

#include <QDialog>
#include <QMainWindow>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include "toolkit/qt/registry.h"

class QAction;
class QLineEdit;
class QPainter;

namespace pvgui_qt {

// A cell holds one line of 9-point text and a 5-digit number fits two cells.
inline constexpr int kCellWidth = 40;
inline constexpr int kCellHeight = 28;
inline constexpr int kGutterX = 2;
inline constexpr int kGutterY = 1;
// A dialog's grid starts at its very edge; a margin keeps text off the frame.
inline constexpr int kDialogMargin = 10;
// Display fields take the focus only from a click (to copy their text): when
// a focused button is greyed, the focus must not fall on a file name and
// show it selected.
inline constexpr Qt::FocusPolicy kDisplayFocus = Qt::ClickFocus;

class MasterWindow : public QMainWindow {
 public:
  // Pressed by Escape while the program sets one (manual fitting's Exit).
  QPointer<QAbstractButton> escape;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  // The program ends through its own Exit; a close by the window manager is
  // only reported to it.
  void closeEvent(QCloseEvent* e) override;
};

class DialogWindow : public QDialog {
 public:
  explicit DialogWindow(QWidget* parent) : QDialog(parent) {}
  // A dialog is hidden only by the program's handler, which runs the wait
  // loop on it; Escape and the close button must not leave that loop
  // waiting on an invisible dialog. Escape presses the dialog's escape
  // button instead (its "Quit"), when it has one that can be pressed.
  void reject() override;
  QPointer<QAbstractButton> escape;

 protected:
  void closeEvent(QCloseEvent* e) override;
  // Enter in a dialog without a main action of its own presses the button
  // the program named for it (the fitting controls' Go).
  void keyPressEvent(QKeyEvent* e) override;
};

// The area a window's grid covers. In the main window it follows the
// window's size: the graphics frame takes up what the window gains or
// loses, and the widgets above and below it keep their places.
class GridArea : public QWidget {
 public:
  using QWidget::QWidget;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent*) override;
};

class IconWidget : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override;
};

// The program's own mark: a small crystal beside a diffraction peak.
void PaintLogo(QPainter& p, const QRectF& r);
QPixmap LogoPixmap(int size);

// Fits a window to its grid of columns x rows cells.
void SetGridAreaSize(Item& window);
// Puts a new widget on its window's grid. Some dialogs hold widgets beyond
// the size they were opened with; the window grows to hold them rather than
// cut them off.
void Adopt(int window_handle, int handle);
// Text that is wider than its cells (a label, a radio toggle) takes the room
// it needs, in whole cells.
int CellsFor(QWidget* w, int at_least);
// Moves the main window to its place on the screen's grid the first time it
// shows, kept inside the screen. A dialog is placed each time it is shown
// again: inside the screen, never over the scan plot or the main window's
// buttons, over no other dialog where it can, beside the main window where
// there is room. Where there is none, the main window moves to the top of
// the screen and makes room below it: its plot gives up height (keeping at
// least 40 % of the window's), then the rows above the plot fold away, and
// last the dialog scrolls.
void PutOnScreen(Item& window);
// A window shown for the first time kept inside the screen, now that its
// frame is known.
void KeepInside(Item& window);
// A dialog being hidden gives back the room it took from the main window.
void GiveBackRoom(Item& dialog);
// Where a message box of `size` (its frame included) goes: centred on the
// window or control that caused it where that is free, else the nearest
// place off the plot and the main window's buttons; a null rectangle when
// there is none.
QRect PlaceOfBox(QSize size);

// The main window, its graphics frame, and the height of the rows above the
// frame (what folding gives the plot).
const Item* MasterItem();
const Item* PlotFrameIn(const Item& window);
int FoldedHeight(const Item& window);
// Lays a window's widgets out again on its grid.
void Relayout(const Item& window);

// Status 1 active, 0 greyed, -1 hidden.
void ApplyStatus(QWidget* w, int status);
void ApplyStatus(QAction* a, int status);

// The grid area of a window handle; nullptr for any other handle.
QWidget* ParentWidget(int window);

// A number wider than its field gives up decimals, never leading digits (a
// limit of 1000000.000 in a two-cell field); the field keeps the exact
// number for GetNumber either way.
QString FittedNumber(const QLineEdit* field, double value, int decimals);

}  // namespace pvgui_qt
