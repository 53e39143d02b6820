// Message boxes, the title screen and the file browser's filter of the Qt
// toolkit, and what a test reads of the boxes and the browser.
#include "toolkit/qt/boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSplashScreen>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "toolkit/pvwinerr/pvwinerr.h"
#include "toolkit/qt/registry.h"
#include "toolkit/qt/widgets.h"

namespace pvgui_qt {
namespace {

bool AutoDismiss() {
  const char* v = std::getenv("KALVEX_AUTO_DISMISS_BOXES");
  return v && v[0] == '1';
}

// Moves a box off the plot and the main window's buttons, centred on what
// caused it where that is free; notes where it stands.
void PutBox(QMessageBox& box, Box& record) {
  box.adjustSize();
  QSize size = box.size();
  for (const auto& [h, it] : T().items)
    if (it.kind == Kind::kMaster && it.widget) size += it.widget->frameGeometry().size() - it.widget->size();
  record.place = PlaceOfBox(size);
  if (!record.place.isNull()) box.move(record.place.topLeft());
}

}  // namespace

QWidget* BoxParent() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (auto& [h, it] : T().items)
    if (it.kind == Kind::kMaster && it.widget) return it.widget;
  return nullptr;
}

void ShowBox(const QString& title, const QString& message, bool error) {
  T().boxes.push_back({title, message, error, {}});
  if (!qApp) {
    // Nothing can be drawn before WinInit: the console must do.
    if (AutoDismiss()) return;
    const QByteArray text = message.toLocal8Bit();
    errormessage_(text.constData(), static_cast<int>(text.size()));
    return;
  }
  QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information, title, message, QMessageBox::Ok,
                  BoxParent());
  PutBox(box, T().boxes.back());
  if (AutoDismiss()) return;
  box.exec();
}

int AskChoice(const QString& title, const QString& message, const QStringList& choices) {
  T().boxes.push_back({title, message, false, {}});
  const int last = static_cast<int>(choices.size()) - 1;
  if (!qApp) return last;
  QMessageBox box(QMessageBox::Question, title, message, QMessageBox::NoButton, BoxParent());
  std::vector<QAbstractButton*> buttons;
  for (const QString& choice : choices) {
    // The last answer leaves things as they are: it is what Escape gives.
    const auto role = buttons.size() == static_cast<std::size_t>(last) ? QMessageBox::RejectRole
                                                                     : QMessageBox::AcceptRole;
    buttons.push_back(box.addButton(choice, role));
  }
  box.setEscapeButton(buttons.back());
  box.setDefaultButton(static_cast<QPushButton*>(buttons.back()));
  PutBox(box, T().boxes.back());
  if (!T().question_answers.empty()) {
    const int chosen = T().question_answers.front();
    T().question_answers.pop_front();
    return chosen >= 0 && chosen <= last ? chosen : last;
  }
  if (AutoDismiss()) return last;
  box.exec();
  const auto pressed = std::find(buttons.begin(), buttons.end(), box.clickedButton());
  return pressed == buttons.end() ? last : static_cast<int>(pressed - buttons.begin());
}

void AnswerNextQuestion(int choice) { T().question_answers.push_back(choice); }

void ShowTitle(const QString& text) {
  if (!T().splash) {
    QPixmap pixmap(420, 130);
    pixmap.fill(QColor(250, 250, 252));
    QPainter p(&pixmap);
    p.setPen(QColor(150, 160, 180));
    p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    PaintLogo(p, QRectF(16, 15, 100, 100));
    p.end();
    T().splash = new QSplashScreen(pixmap);
  }
  T().splash->showMessage(text, Qt::AlignRight | Qt::AlignVCenter, QColor(20, 30, 90));
  T().splash->show();
}

void HideTitle() {
  if (T().splash) T().splash->close();
}

const std::vector<Box>& LastBoxes() { return T().boxes; }
void ClearBoxes() { T().boxes.clear(); }
void AnswerNextBrowse(const std::string& name, const std::string& directory) {
  T().browse_answers.emplace_back(name, directory);
}
const std::vector<BrowseCall>& Browses() { return T().browses; }

QString QtFilter(const QString& pairs) {
  const QStringList parts = pairs.split('|');
  QStringList filters;
  for (int i = 0; i < parts.size(); i += 2) {
    QString pattern = parts[i].trimmed();
    if (pattern.isEmpty()) continue;
    QString description = i + 1 < parts.size() ? parts[i + 1].trimmed() : pattern;
    if (description.startsWith('(') && description.endsWith(')')) description = description.mid(1, description.size() - 2);
    if (description.isEmpty()) description = pattern;
    // "*.*" means every file here, also names without a dot; a list of
    // patterns is separated by ';' in the program's filters.
    QStringList patterns = pattern.split(';', Qt::SkipEmptyParts);
    for (QString& one : patterns) {
      one = one.trimmed();
      if (one == "*.*") one = "*";
    }
    filters << description + " (" + patterns.join(' ') + ")";
  }
  return filters.join(";;");
}

}  // namespace pvgui_qt
