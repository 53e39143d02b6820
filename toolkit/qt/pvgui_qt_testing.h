// What the Qt toolkit lets a test see and steer: the QWidget behind a handle,
// the boxes shown, canned answers for the file browser and the code queue.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <string>
#include <vector>

class QAction;
class QWidget;

namespace pvgui_qt {

// One layout-grid cell in pixels, and the gutter a widget keeps inside its
// cells so that neighbours do not touch.
QSize CellSize();
QMargins Gutter();

// The top-level window of a window handle, the widget of any other widget
// handle (for a status bar: its text label); nullptr for menus and unknown
// handles.
QWidget* WidgetOf(int handle);
// The area of a window that the layout grid covers (the central widget of the
// main window; the dialog itself for a dialog).
QWidget* GridAreaOf(int window);
// The action of a menu title or menu entry.
QAction* ActionOf(int handle);

// With KALVEX_AUTO_DISMISS_BOXES=1 in the environment, error and message
// boxes are recorded here and not shown. Boxes are recorded either way.
struct Box {
  QString title;
  QString message;
  bool error = false;
  QRect place;  // where it stood on the screen, frame included (null: where Qt put it)
};
const std::vector<Box>& LastBoxes();
void ClearBoxes();

// The next OpenBrowse takes this answer instead of showing a dialog: a bare
// name (empty = the user cancelled) and its directory.
void AnswerNextBrowse(const std::string& name, const std::string& directory);
// The next AskChoice takes this answer (0-based) instead of asking; with
// boxes auto-dismissed and no answer given, it takes its last answer.
void AnswerNextQuestion(int choice);

struct BrowseCall {
  QString title, proposed_name, start_directory, filter;  // filter in Qt's form
  bool save = false;                                       // a file to be written
};
const std::vector<BrowseCall>& Browses();

// Codes posted by widgets or the timer and not yet taken by IWinAction.
std::vector<int> PendingCodes();

// The filter text of OpenBrowse ("pattern|description|...") in Qt's
// "description (pattern);;..." form.
QString QtFilter(const QString& pairs);

}  // namespace pvgui_qt
