// The typed toolkit operations the program calls. Each checks that the
// toolkit is initialised and that a handle names a widget of the kind the
// operation expects; misuse is reported in an error box naming the operation
// and the call is then skipped. Texts go to the pvgui entry points as
// pointer + length and come back blank-trimmed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tk {

enum class Kind {
  kNone,
  kMaster,
  kDialog,
  kMenuBar,
  kMenuPop,
  kMenuPull,
  kMenuEntry,
  kMenuSeparator,
  kButton,
  kLabel,
  kTextField,
  kValue,
  kToggle,
  kRadioBox,
  kListBox,
  kIcon,
  kStatusBar,
  kFrame,
  kTextBlock,
  kRecentMenu,
};

// A position and size in layout-grid units.
struct Box {
  int x = 0, y = 0, w = 1, h = 1;
};

// Widget status.
constexpr int kActive = 1;
constexpr int kGreyed = 0;
constexpr int kHidden = -1;

bool Init();
void Exit();
bool SetGrid(int columns, int rows);

int OpenMaster(std::string_view title, Box box);
int OpenWindow(int parent, std::string_view title, Box box);
void WindowDraw(int window);
void WindowAction(int window);
void WindowRemove(int window);
void WidgetStatus(int widget, int status);
int GetWidgetStatus(int widget);

int AddMenuBar(int window);
int AddMenuPop(int bar, std::string_view title);
int AddMenuPull(int pop);
int AddMenuEntry(int pull, std::string_view text, int code);
int AddMenuSeparator(int pull);

int AddButton(int window, std::string_view text, Box box, int code);
int AddLabel(int window, std::string_view text, Box box);
int AddTextField(int window, std::string_view text, Box box, int max_len, bool editable);
int AddValue(int window, float value, Box box, int digits, int decimals, bool editable);
int AddToggle(int window, std::string_view text, Box box, int state, int code);
int AddRadioBox(int window, Box box);
int AddRadio(int radio_box, std::string_view text, int x, int y, int state, int code);
int AddListBox(int window, Box box);
void ListBoxAdd(int list, std::string_view entry);
int ListBoxSelected(int list);
void ListBoxSelect(int list, int entry);
int AddIcon(int window, Box box);
int AddStatusBar(int window, std::string_view text);
// Read-only lines ("\n" between them) in a fixed-pitch font, so that the
// columns of a table line up; SetString fills it.
int AddTextBlock(int window, Box box);
int AddFrame(int window, Box box);

// Keys and meanings (a key presses its widget, which sends its usual code).
void SetMainAction(int button);
void SetEscapeAction(int button);
void SetWindowEscape(int window, int button);
void SetFieldAction(int field, int button);
void SetKey(int widget, std::string_view key);
void SetTooltip(int widget, std::string_view text);
void SetFixedPitch(int widget);
void SetFirstFocus(int window, int widget);
void SetWindowEnter(int window, int button);
void SetFieldCaption(int widget, std::string_view text);
void SetValueDecimals(int widget, int decimals);
void SetClipboardText(std::string_view text);
int AddRecentMenu(int pull, std::string_view title, int first_code, int count);
void NoteRecentFile(int menu, std::string_view name, std::string_view directory);

void SetNumber(int widget, float value);
float GetNumber(int widget);
// The number a value field holds, or nothing when its text is not a number.
std::optional<float> GetCheckedNumber(int widget);
void SetString(int widget, std::string_view text);
std::string GetString(int widget, int max_len = 255);
void SetToggle(int widget, int state);
int GetToggle(int widget);

// The next code the user (or the timer) sends. Ends the program through
// `on_no_window` when no window exists.
int Wait();
void SetCallTime(int interval, int code);

// Puts `text` in the status bar and lets the screen show it now, also from
// inside a pass that does not return to the wait.
void ShowStatus(int status_bar, std::string_view text);

void ErrorBox(std::string_view title, std::string_view message);
void GeneralMessage(std::string_view title, std::string_view message, int style = 3, int default_reply = 0);
// Asks `message` with the answers `choices` ("Append|Replace|Cancel"); the
// 0-based index of the one chosen. Closing the box chooses the last.
int AskChoice(std::string_view title, std::string_view message, std::string_view choices);

struct BrowseResult {
  std::string name;       // bare name, empty when cancelled
  std::string directory;  // made current by the browser
};
void SetBrowseTitle(std::string_view title);
// The next browse names a file to be written: its button says "Save".
void SetBrowseSave();
BrowseResult Browse(std::string_view proposed_name, std::string_view start_directory, std::string_view filter);
// A file of the recent-files menu, given as Browse gives one.
BrowseResult ChooseRecentFile(int menu, int index);

void ClearFrame(int frame);
void GetFrameScale(int frame, float& x_min, float& y_min, float& x_max, float& y_max);
void SetFrameScale(int frame, float x_min, float y_min, float x_max, float y_max);
void DrawMove(int frame, float x, float y);
void DrawLine(int frame, float x, float y);
void ChangePen(int frame, int colour, float char_size = 1.0f);
void DrawString(int frame, float x, float y, std::string_view text);
void UpdateFrame(int frame);
// `handler(context, frame, event, x, y, amount)` hears of the user's zoom,
// pan and reset of the frame's view and of its new size (PVGUI_VIEW_...).
using ViewHandler = void (*)(void* context, int frame, int event, float x, float y, float amount);
void SetFrameViewHandler(int frame, ViewHandler handler, void* context);

// Forgets every handle (a fresh toolkit; used between tests).
void ResetRegistry();

}  // namespace tk
