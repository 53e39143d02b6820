// The one toolkit state of the run, its handle registry and code queue, and
// what a test reads of them.
#include "toolkit/qt/registry.h"

#include <QAction>
#include <QEventLoop>
#include <QMenu>

namespace pvgui_qt {

Toolkit& T() {
  static Toolkit toolkit;
  return toolkit;
}

Item* Find(int handle) {
  auto it = T().items.find(handle);
  return it == T().items.end() ? nullptr : &it->second;
}

int Create(Item item, int* handle) {
  const int h = ++T().next_handle;
  T().items[h] = std::move(item);
  if (handle) *handle = h;
  return h;
}

void Post(int code) {
  T().codes.push_back(code);
  if (T().waiting) T().waiting->quit();
}

QWidget* WidgetOf(int handle) {
  Item* it = Find(handle);
  return it ? it->widget.data() : nullptr;
}
QAction* ActionOf(int handle) {
  Item* it = Find(handle);
  if (!it) return nullptr;
  if (it->kind == Kind::kMenu || it->kind == Kind::kRecentMenu) return it->menu->menuAction();
  return it->action;
}

std::vector<int> PendingCodes() { return {T().codes.begin(), T().codes.end()}; }

}  // namespace pvgui_qt
