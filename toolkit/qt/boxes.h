// What the Qt toolkit shows besides the program's windows: message boxes
// and the title while the program starts.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace pvgui_qt {

// The window a box or browser belongs to: the active one, else the main window.
QWidget* BoxParent();
// Recorded for a test either way; shown unless KALVEX_AUTO_DISMISS_BOXES=1,
// and written to the console before WinInit.
void ShowBox(const QString& title, const QString& message, bool error);
// Asks `message` with `choices` as buttons; the index of the one pressed,
// the last when the box is closed. Recorded like a box.
int AskChoice(const QString& title, const QString& message, const QStringList& choices);
// The title screen with the program's mark, shown while the program starts.
void ShowTitle(const QString& text);
void HideTitle();

}  // namespace pvgui_qt
