// Typed calling side of the pvgui entry points.
#include "toolkit/toolkit.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/pvgui.h"

namespace tk {

namespace {

struct Registry {
  bool initialised = false;
  int windows = 0;
  std::vector<Kind> kinds;  // by handle; kNone where none was made

  Kind KindOf(int handle) const {
    return handle > 0 && handle < static_cast<int>(kinds.size()) ? kinds[static_cast<std::size_t>(handle)]
                                                                 : Kind::kNone;
  }
};

Registry& Reg() {
  static Registry registry;
  return registry;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kMaster: return "main window";
    case Kind::kDialog: return "window";
    case Kind::kMenuBar: return "menu bar";
    case Kind::kMenuPop: return "menu title";
    case Kind::kMenuPull: return "menu";
    case Kind::kMenuEntry: return "menu entry";
    case Kind::kMenuSeparator: return "menu separator";
    case Kind::kButton: return "button";
    case Kind::kLabel: return "label";
    case Kind::kTextField: return "text field";
    case Kind::kValue: return "value field";
    case Kind::kToggle: return "toggle";
    case Kind::kRadioBox: return "radio box";
    case Kind::kListBox: return "list box";
    case Kind::kIcon: return "icon";
    case Kind::kStatusBar: return "status bar";
    case Kind::kFrame: return "graphics frame";
    case Kind::kTextBlock: return "text block";
    case Kind::kRecentMenu: return "recent-files menu";
    case Kind::kNone: break;
  }
  return "unknown widget";
}

void Misuse(const char* operation, const std::string& what) {
  const std::string message = std::string(operation) + ": " + what;
  ::ErrorBox("Toolkit error", 13, message.data(), static_cast<int>(message.size()));
}

bool Ready(const char* operation) {
  if (Reg().initialised) return true;
  // Nothing can be shown before WinInit; say it where it can be seen.
  std::fprintf(stderr, "%s: the toolkit is not initialised\n", operation);
  return false;
}

// True when `handle` names a widget of one of the `expected` kinds.
bool Check(const char* operation, int handle, std::initializer_list<Kind> expected) {
  if (!Ready(operation)) return false;
  const Kind kind = Reg().KindOf(handle);
  if (kind == Kind::kNone) {
    Misuse(operation, "handle " + std::to_string(handle) + " names no widget");
    return false;
  }
  if (expected.size() == 0 || std::find(expected.begin(), expected.end(), kind) != expected.end()) return true;
  Misuse(operation, "handle " + std::to_string(handle) + " is a " + KindName(kind));
  return false;
}

int Remember(int handle, Kind kind) {
  if (handle > 0) {
    auto& kinds = Reg().kinds;
    if (static_cast<std::size_t>(handle) >= kinds.size()) kinds.resize(static_cast<std::size_t>(handle) + 1, Kind::kNone);
    kinds[static_cast<std::size_t>(handle)] = kind;
    if (kind == Kind::kMaster || kind == Kind::kDialog) ++Reg().windows;
  }
  return handle;
}

int Len(std::string_view s) { return static_cast<int>(s.size()); }

// Texts come back from the entry points blank-padded to their buffer.
std::string Unpadded(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Room for any path the system allows; names are never cut short.
constexpr int kPathRoom = 4096;

constexpr std::initializer_list<Kind> kWindows = {Kind::kMaster, Kind::kDialog};
constexpr std::initializer_list<Kind> kNumberFields = {Kind::kValue};
constexpr std::initializer_list<Kind> kTextWidgets = {Kind::kLabel, Kind::kTextField, Kind::kStatusBar,
                                                      Kind::kButton, Kind::kToggle, Kind::kTextBlock};
constexpr std::initializer_list<Kind> kToggles = {Kind::kToggle};
constexpr std::initializer_list<Kind> kAny = {};

}  // namespace

bool Init() {
  if (Reg().initialised) return true;
  Reg().initialised = ::WinInit() != 0;
  return Reg().initialised;
}

void Exit() {
  if (!Reg().initialised) return;
  ::WinExit();
  Reg().initialised = false;
}

bool SetGrid(int columns, int rows) {
  if (!Ready("SetGridArea")) return false;
  return ::SetGridArea(columns, rows) != 0;
}

int OpenMaster(std::string_view title, Box b) {
  if (!Ready("OpenMaster")) return 0;
  int h = 0;
  ::OpenMaster(title.data(), Len(title), b.x, b.y, b.w, b.h, 1, &h);
  return Remember(h, Kind::kMaster);
}

int OpenWindow(int parent, std::string_view title, Box b) {
  if (!Check("OpenWindow", parent, kWindows)) return 0;
  int h = 0;
  ::OpenWindow(parent, title.data(), Len(title), b.x, b.y, b.w, b.h, &h);
  return Remember(h, Kind::kDialog);
}

void WindowDraw(int window) {
  if (Check("WindowDraw", window, kWindows)) ::WindowDraw(window);
}
void WindowAction(int window) {
  if (Check("WindowAction", window, kWindows)) ::WindowAction(window);
}
void WindowRemove(int window) {
  if (Check("WindowRemove", window, kWindows)) ::WindowRemove(window);
}
void WidgetStatus(int widget, int status) {
  if (Check("WidgetStatus", widget, kAny)) ::WidgetStatus(widget, status);
}
int GetWidgetStatus(int widget) {
  return Check("GetWidgetStatus", widget, kAny) ? ::GetWidgetStatus(widget) : tk::kHidden;
}

int AddMenuBar(int window) {
  if (!Check("AddMenuBar", window, {Kind::kMaster})) return 0;
  int h = 0;
  ::AddMenuBar(window, &h);
  return Remember(h, Kind::kMenuBar);
}
int AddMenuPop(int bar, std::string_view title) {
  if (!Check("AddMenuPop", bar, {Kind::kMenuBar})) return 0;
  int h = 0;
  ::AddMenuPop(bar, title.data(), Len(title), &h);
  return Remember(h, Kind::kMenuPop);
}
int AddMenuPull(int pop) {
  if (!Check("AddMenuPull", pop, {Kind::kMenuPop})) return 0;
  int h = 0;
  ::AddMenuPull(pop, &h);
  return Remember(h, Kind::kMenuPull);
}
int AddMenuEntry(int pull, std::string_view text, int code) {
  if (!Check("AddMenuEntry", pull, {Kind::kMenuPull})) return 0;
  int h = 0;
  ::AddMenuEntry(pull, text.data(), Len(text), code, &h);
  return Remember(h, Kind::kMenuEntry);
}
int AddMenuSeparator(int pull) {
  if (!Check("AddMenuSeparator", pull, {Kind::kMenuPull})) return 0;
  int h = 0;
  ::AddMenuSeparator(pull, &h);
  return Remember(h, Kind::kMenuSeparator);
}

int AddButton(int window, std::string_view text, Box b, int code) {
  if (!Check("AddButton", window, kWindows)) return 0;
  int h = 0;
  ::AddButton(window, text.data(), Len(text), b.x, b.y, b.w, b.h, code, &h);
  return Remember(h, Kind::kButton);
}
int AddLabel(int window, std::string_view text, Box b) {
  if (!Check("AddString", window, kWindows)) return 0;
  int h = 0;
  ::AddString(window, text.data(), Len(text), b.x, b.y, b.w, b.h, Len(text), 0, &h);
  return Remember(h, Kind::kLabel);
}
int AddTextField(int window, std::string_view text, Box b, int max_len, bool editable) {
  if (!Check("AddString", window, kWindows)) return 0;
  int h = 0;
  ::AddString(window, text.data(), Len(text), b.x, b.y, b.w, b.h, max_len, editable ? 1 : 0, &h);
  return Remember(h, Kind::kTextField);
}
int AddValue(int window, float value, Box b, int digits, int decimals, bool editable) {
  if (!Check("AddFloat", window, kWindows)) return 0;
  int h = 0;
  ::AddFloat(window, value, b.x, b.y, b.w, b.h, digits, decimals, editable ? 1 : 0, &h);
  return Remember(h, Kind::kValue);
}
int AddToggle(int window, std::string_view text, Box b, int state, int code) {
  if (!Check("AddToggle", window, kWindows)) return 0;
  int h = 0;
  ::AddToggle(window, text.data(), Len(text), b.x, b.y, b.w, b.h, state, code, &h);
  return Remember(h, Kind::kToggle);
}
int AddRadioBox(int window, Box b) {
  if (!Check("AddRadioBox", window, kWindows)) return 0;
  int h = 0;
  ::AddRadioBox(window, b.x, b.y, b.w, b.h, &h);
  return Remember(h, Kind::kRadioBox);
}
int AddRadio(int radio_box, std::string_view text, int x, int y, int state, int code) {
  if (!Check("AddRadio", radio_box, {Kind::kRadioBox})) return 0;
  int h = 0;
  ::AddRadio(radio_box, text.data(), Len(text), x, y, state, code, &h);
  return Remember(h, Kind::kToggle);
}
int AddListBox(int window, Box b) {
  if (!Check("AddListBox", window, kWindows)) return 0;
  int h = 0;
  ::AddListBox(window, b.x, b.y, b.w, b.h, &h);
  return Remember(h, Kind::kListBox);
}
void ListBoxAdd(int list, std::string_view entry) {
  if (Check("ListBoxSet", list, {Kind::kListBox})) ::ListBoxSet(list, entry.data(), Len(entry));
}
int ListBoxSelected(int list) {
  return Check("ListBoxStatus", list, {Kind::kListBox}) ? ::ListBoxStatus(list) : 0;
}
void ListBoxSelect(int list, int entry) {
  if (Check("ListBoxSelect", list, {Kind::kListBox})) ::ListBoxSelect(list, entry);
}
int AddIcon(int window, Box b) {
  if (!Check("AddIcon", window, kWindows)) return 0;
  int h = 0;
  ::AddIcon(window, b.x, b.y, b.w, b.h, &h);
  return Remember(h, Kind::kIcon);
}
int AddStatusBar(int window, std::string_view text) {
  if (!Check("AddStatusBar", window, {Kind::kMaster})) return 0;
  int h = 0;
  ::AddStatusBar(window, text.data(), Len(text), &h);
  return Remember(h, Kind::kStatusBar);
}
int AddTextBlock(int window, Box b) {
  if (!Check("AddTextBlock", window, kWindows)) return 0;
  int h = 0;
  ::AddTextBlock(window, b.x, b.y, b.w, b.h, &h);
  return Remember(h, Kind::kTextBlock);
}
int AddFrame(int window, Box b) {
  if (!Check("GraphicsFrame", window, kWindows)) return 0;
  int h = 0;
  ::GraphicsFrame(window, b.x, b.y, b.w, b.h, &h);
  return Remember(h, Kind::kFrame);
}

constexpr std::initializer_list<Kind> kKeyed = {Kind::kButton, Kind::kMenuEntry, Kind::kMenuPop};
constexpr std::initializer_list<Kind> kFields = {Kind::kTextField, Kind::kValue};

void SetMainAction(int button) {
  if (Check("SetMainAction", button, {Kind::kButton})) ::SetMainAction(button);
}
void SetEscapeAction(int button) {
  if (Check("SetEscapeAction", button, {Kind::kButton})) ::SetEscapeAction(button);
}
void SetWindowEscape(int window, int button) {
  if (Check("SetWindowEscape", window, kWindows) && (button == 0 || Check("SetWindowEscape", button, {Kind::kButton})))
    ::SetWindowEscape(window, button);
}
void SetFieldAction(int field, int button) {
  if (Check("SetFieldAction", field, kFields) && Check("SetFieldAction", button, {Kind::kButton}))
    ::SetFieldAction(field, button);
}
void SetKey(int widget, std::string_view key) {
  if (Check("SetKey", widget, kKeyed)) ::SetKey(widget, key.data(), Len(key));
}
void SetFixedPitch(int widget) {
  if (Check("SetFixedPitch", widget, kAny)) ::SetFixedPitch(widget);
}
void SetFirstFocus(int window, int widget) {
  if (Check("SetFirstFocus", window, kWindows) && (widget == 0 || Check("SetFirstFocus", widget, kAny)))
    ::SetFirstFocus(window, widget);
}
void SetWindowEnter(int window, int button) {
  if (Check("SetWindowEnter", window, kWindows) && (button == 0 || Check("SetWindowEnter", button, {Kind::kButton})))
    ::SetWindowEnter(window, button);
}
void SetFieldCaption(int widget, std::string_view text) {
  if (Check("SetFieldCaption", widget, kNumberFields)) ::SetFieldCaption(widget, text.data(), Len(text));
}
void SetValueDecimals(int widget, int decimals) {
  if (Check("SetValueDecimals", widget, kNumberFields)) ::SetValueDecimals(widget, decimals);
}
void SetClipboardText(std::string_view text) {
  if (Ready("SetClipboardText")) ::SetClipboardText(text.data(), Len(text));
}
void SetTooltip(int widget, std::string_view text) {
  if (Check("SetTooltip", widget, kAny)) ::SetTooltip(widget, text.data(), Len(text));
}
int AddRecentMenu(int pull, std::string_view title, int first_code, int count) {
  if (!Check("AddRecentMenu", pull, {Kind::kMenuPull})) return 0;
  int h = 0;
  ::AddRecentMenu(pull, title.data(), Len(title), first_code, count, &h);
  return Remember(h, Kind::kRecentMenu);
}
void NoteRecentFile(int menu, std::string_view name, std::string_view directory) {
  if (Check("NoteRecentFile", menu, {Kind::kRecentMenu}))
    ::NoteRecentFile(menu, name.data(), Len(name), directory.data(), Len(directory));
}

void SetNumber(int widget, float value) {
  if (Check("SetNumber", widget, kNumberFields)) ::SetNumber(widget, value);
}
float GetNumber(int widget) {
  return Check("GetNumber", widget, kNumberFields) ? ::GetNumber(widget) : 0.0f;
}
std::optional<float> GetCheckedNumber(int widget) {
  float value = 0.0f;
  if (!Check("GetCheckedNumber", widget, kNumberFields) || !::GetCheckedNumber(widget, &value)) return std::nullopt;
  return value;
}
void SetString(int widget, std::string_view text) {
  if (Check("SetString", widget, kTextWidgets)) ::SetString(widget, text.data(), Len(text));
}
std::string GetString(int widget, int max_len) {
  if (!Check("GetString", widget, kTextWidgets)) return {};
  std::string buf(static_cast<std::size_t>(max_len), ' ');
  ::GetString(widget, buf.data(), max_len);
  return Unpadded(std::move(buf));
}
void SetToggle(int widget, int state) {
  if (Check("SetToggle", widget, kToggles)) ::SetToggle(widget, state);
}
int GetToggle(int widget) {
  return Check("GetToggle", widget, kToggles) ? ::GetToggle(widget) : 0;
}

int Wait() {
  if (!Reg().initialised || Reg().windows == 0) {
    // Nothing the user could act on: the program cannot go on, and main
    // ends it.
    if (Reg().initialised) ::WinExit();
    throw std::runtime_error("IWinAction: no window exists");
  }
  return ::IWinAction();
}

void SetCallTime(int interval, int code) {
  if (Ready("SetCallTime")) ::SetCallTime(interval, code);
}

void ErrorBox(std::string_view title, std::string_view message) {
  ::ErrorBox(title.data(), Len(title), message.data(), Len(message));
}

void GeneralMessage(std::string_view title, std::string_view message, int style, int default_reply) {
  ::GeneralMessage(title.data(), Len(title), message.data(), Len(message), style, default_reply);
}

int AskChoice(std::string_view title, std::string_view message, std::string_view choices) {
  return ::AskChoice(title.data(), Len(title), message.data(), Len(message), choices.data(), Len(choices));
}

void SetBrowseTitle(std::string_view title) {
  if (Ready("RegTitleString")) ::RegTitleString(title.data(), Len(title));
}

void SetBrowseSave() {
  if (Ready("RegBrowseType")) ::RegBrowseType(1);
}

BrowseResult Browse(std::string_view proposed_name, std::string_view start_directory, std::string_view filter) {
  if (!Ready("OpenBrowse")) return {};
  std::string name(kPathRoom, ' ');
  std::string dir(kPathRoom, ' ');
  name.replace(0, std::min<std::size_t>(proposed_name.size(), kPathRoom), proposed_name.substr(0, kPathRoom));
  dir.replace(0, std::min<std::size_t>(start_directory.size(), kPathRoom), start_directory.substr(0, kPathRoom));
  ::OpenBrowse(name.data(), kPathRoom, dir.data(), kPathRoom, filter.data(), Len(filter));
  return {Unpadded(std::move(name)), Unpadded(std::move(dir))};
}

BrowseResult ChooseRecentFile(int menu, int index) {
  if (!Check("ChooseRecentFile", menu, {Kind::kRecentMenu})) return {};
  std::string name(kPathRoom, ' ');
  std::string dir(kPathRoom, ' ');
  ::ChooseRecentFile(menu, index, name.data(), kPathRoom, dir.data(), kPathRoom);
  return {Unpadded(std::move(name)), Unpadded(std::move(dir))};
}

void ClearFrame(int frame) {
  if (Check("ClearFrame", frame, {Kind::kFrame})) ::ClearFrame(frame);
}
void GetFrameScale(int frame, float& x_min, float& y_min, float& x_max, float& y_max) {
  if (Check("GetFrameScale", frame, {Kind::kFrame})) ::GetFrameScale(frame, &x_min, &y_min, &x_max, &y_max);
}
void SetFrameScale(int frame, float x_min, float y_min, float x_max, float y_max) {
  if (Check("SetFrameScale", frame, {Kind::kFrame})) ::SetFrameScale(frame, x_min, y_min, x_max, y_max);
}
void DrawMove(int frame, float x, float y) {
  if (Check("DrawMove", frame, {Kind::kFrame})) ::DrawMove(frame, x, y);
}
void DrawLine(int frame, float x, float y) {
  if (Check("DrawLine", frame, {Kind::kFrame})) ::DrawLine(frame, x, y);
}
void ChangePen(int frame, int colour, float char_size) {
  if (Check("ChangePen", frame, {Kind::kFrame})) ::ChangePen(frame, colour, char_size);
}
void DrawString(int frame, float x, float y, std::string_view text) {
  if (Check("DrawString", frame, {Kind::kFrame})) ::DrawString(frame, x, y, text.data(), Len(text));
}
void UpdateFrame(int frame) {
  if (Check("UpdateFrame", frame, {Kind::kFrame})) ::UpdateFrame(frame);
  ::WinFlush();
}

void SetFrameViewHandler(int frame, ViewHandler handler, void* context) {
  if (Check("SetFrameViewHandler", frame, {Kind::kFrame})) ::SetFrameViewHandler(frame, handler, context);
}

void ShowStatus(int status_bar, std::string_view text) {
  if (!Check("ShowStatus", status_bar, {Kind::kStatusBar})) return;
  ::SetString(status_bar, text.data(), Len(text));
  ::WinFlush();
}

void ResetRegistry() { Reg() = Registry{}; }

}  // namespace tk
