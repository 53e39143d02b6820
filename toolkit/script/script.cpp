// Headless pvgui: every entry point over widgets held in memory.
#include "toolkit/script/script.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <variant>

#include "toolkit/pvgui.h"

namespace script {
namespace {

struct Widget {
  int parent = 0;
  std::string title;  // window title, caption or label text
  std::string text;   // field contents
  float number = 0;
  bool typed = false;  // a value field's text was typed over its number
  int toggle = 0;
  int status = 1;
  int code = 0;
  int radio_box = 0;  // for a radio toggle: its box
  bool window = false;
  bool shown = false;
  bool status_bar = false;
  std::vector<std::string> entries;
  int selected = 0;
  std::vector<DrawOp> drawing;
  float scale[4] = {0.0f, 0.0f, 300.0f, 200.0f};
  int updates = 0;
  std::string tooltip;
  std::string caption;
  int decimals = -1;
  PvguiViewHandler view_handler = nullptr;
  void* view_context = nullptr;
  std::vector<std::pair<std::string, std::string>> recent;  // name, directory; newest first
  int recent_room = 0;
};

struct Step {
  enum Kind { kClick, kNumber, kText, kToggle, kList, kBrowse, kCall, kAnswer } kind = kClick;
  int code_or_widget = 0;
  float number = 0;
  int state = 0;
  std::string text, directory;
  std::function<void()> call;
  int after_ticks = 0;
};

struct Toolkit {
  bool initialised = false;
  // Widget of handle h at h - 1: handles are given in order and never
  // taken back, and a deque keeps every widget where it is as more come.
  std::deque<Widget> widgets;
  std::deque<Step> steps;
  std::vector<MessageBox> boxes;
  std::vector<BrowseCall> browses;
  std::function<void(const MessageBox&)> box_observer;
  std::function<int()> idle;
  std::function<void()> tick_observer;
  std::function<void(const std::string&)> status_observer;
  int idle_calls = 0;
  int timer_code = 0;
  int ticks = 0;  // timer codes given since the last scripted step
  int active = 0;
  std::string browse_title;
  bool browse_save = false;
  std::string clipboard;
};

Toolkit& T() {
  static Toolkit toolkit;
  return toolkit;
}

std::string Arg(const char* p, int len, int cut) {
  if (!p || len <= 0) return {};
  std::string s(p, static_cast<std::size_t>(len));
  const auto end = s.find_last_not_of(' ');
  s.erase(end == std::string::npos ? 0 : end + 1);
  if (static_cast<int>(s.size()) > cut) s.resize(cut);
  return s;
}

void CopyBack(const std::string& s, char* p, int len) {
  for (int i = 0; i < len; ++i) p[i] = i < static_cast<int>(s.size()) ? s[i] : ' ';
}

Widget* Find(int handle) {
  auto& widgets = T().widgets;
  if (handle < 1 || handle > static_cast<int>(widgets.size())) return nullptr;
  return &widgets[static_cast<std::size_t>(handle - 1)];
}

int Create(Widget w, int* handle) {
  T().widgets.push_back(std::move(w));
  const int h = static_cast<int>(T().widgets.size());
  if (handle) *handle = h;
  return h;
}

void Record(const std::string& title, const std::string& message, bool error, bool question = false) {
  MessageBox box{title, message, error, question};
  T().boxes.push_back(box);
  if (T().box_observer) T().box_observer(box);
}

void Apply(const Step& s) {
  Widget* w = Find(s.code_or_widget);
  switch (s.kind) {
    case Step::kNumber:
      if (w) {
        w->number = s.number;
        w->typed = false;
      }
      break;
    case Step::kText:
      if (w) {
        w->text = s.text;
        w->typed = true;
      }
      break;
    case Step::kToggle:
      if (w) {
        if (w->radio_box && s.state) {
          for (auto& other : T().widgets)
            if (other.radio_box == w->radio_box) other.toggle = 0;
        }
        w->toggle = s.state;
      }
      break;
    case Step::kList:
      if (w) w->selected = s.state;
      break;
    case Step::kCall:
      if (s.call) s.call();
      break;
    default:
      break;
  }
}

// Value steps queued before an answer (a click, a browse, a question's
// answer) are applied when a box or browser asks for it.
void ApplyValueSteps() {
  auto& steps = T().steps;
  while (!steps.empty() && steps.front().kind != Step::kClick && steps.front().kind != Step::kBrowse &&
         steps.front().kind != Step::kAnswer) {
    Step step = std::move(steps.front());
    steps.pop_front();
    Apply(step);
  }
}

DrawOp Op(DrawOp::Kind kind, float x, float y) {
  DrawOp op;
  op.kind = kind;
  op.x = x;
  op.y = y;
  return op;
}

int DefaultIdle() {
  if (++T().idle_calls > 100) {
    throw std::runtime_error("headless toolkit: the program keeps waiting but the script is used up");
  }
  return -1;
}

}  // namespace

void Reset() { T() = Toolkit{}; }

void QueueClick(int code, int after_ticks) {
  Step s;
  s.kind = Step::kClick;
  s.code_or_widget = code;
  s.after_ticks = after_ticks;
  T().steps.push_back(std::move(s));
}
void QueueNumber(int widget, float value) {
  Step s;
  s.kind = Step::kNumber;
  s.code_or_widget = widget;
  s.number = value;
  T().steps.push_back(std::move(s));
}
void QueueText(int widget, const std::string& text) {
  Step s;
  s.kind = Step::kText;
  s.code_or_widget = widget;
  s.text = text;
  T().steps.push_back(std::move(s));
}
void QueueAnswer(int choice) {
  Step s;
  s.kind = Step::kAnswer;
  s.state = choice;
  T().steps.push_back(std::move(s));
}
void QueueToggle(int widget, int state) {
  Step s;
  s.kind = Step::kToggle;
  s.code_or_widget = widget;
  s.state = state;
  T().steps.push_back(std::move(s));
}
void QueueListSelect(int list, int entry) {
  Step s;
  s.kind = Step::kList;
  s.code_or_widget = list;
  s.state = entry;
  T().steps.push_back(std::move(s));
}
void QueueBrowse(const std::string& name, const std::string& directory) {
  Step s;
  s.kind = Step::kBrowse;
  s.code_or_widget = 0;
  s.text = name;
  s.directory = directory;
  T().steps.push_back(std::move(s));
}
void QueueCall(std::function<void()> call) {
  Step s;
  s.kind = Step::kCall;
  s.code_or_widget = 0;
  s.call = std::move(call);
  T().steps.push_back(std::move(s));
}
std::size_t PendingSteps() { return T().steps.size(); }
void SetIdleHandler(std::function<int()> handler) { T().idle = std::move(handler); }
void SetTickObserver(std::function<void()> observer) { T().tick_observer = std::move(observer); }
void SetStatusObserver(std::function<void(const std::string&)> observer) {
  T().status_observer = std::move(observer);
}

const std::vector<MessageBox>& Boxes() { return T().boxes; }
void ClearBoxes() { T().boxes.clear(); }
void SetBoxObserver(std::function<void(const MessageBox&)> observer) { T().box_observer = std::move(observer); }
const std::vector<BrowseCall>& Browses() { return T().browses; }

float Number(int widget) {
  const Widget* w = Find(widget);
  return w ? w->number : 0.0f;
}
std::string Text(int widget) {
  const Widget* w = Find(widget);
  return w ? w->text : std::string();
}
int Toggle(int widget) {
  const Widget* w = Find(widget);
  return w ? w->toggle : 0;
}
int Status(int widget) {
  const Widget* w = Find(widget);
  return w ? w->status : 0;
}
bool Shown(int window) {
  const Widget* w = Find(window);
  return w && w->shown;
}
int ActiveWindow() { return T().active; }
std::string Title(int widget) {
  const Widget* w = Find(widget);
  return w ? w->title : std::string();
}
int CodeOf(int widget) {
  const Widget* w = Find(widget);
  return w ? w->code : 0;
}
std::vector<std::string> ListEntries(int list) {
  const Widget* w = Find(list);
  return w ? w->entries : std::vector<std::string>{};
}
int TimerCode() { return T().timer_code; }
std::string Tooltip(int widget) {
  const Widget* w = Find(widget);
  return w ? w->tooltip : std::string();
}
const std::vector<DrawOp>& Drawing(int frame) {
  static const std::vector<DrawOp> none;
  const Widget* w = Find(frame);
  return w ? w->drawing : none;
}
int FrameUpdates(int frame) {
  const Widget* w = Find(frame);
  return w ? w->updates : 0;
}
std::string Caption(int widget) {
  const Widget* w = Find(widget);
  return w ? w->caption : std::string();
}
int Decimals(int widget) {
  const Widget* w = Find(widget);
  return w ? w->decimals : -1;
}
std::string Clipboard() { return T().clipboard; }
void FrameView(int frame, int event, float x, float y, float amount) {
  const Widget* w = Find(frame);
  if (w && w->view_handler) w->view_handler(w->view_context, frame, event, x, y, amount);
}

}  // namespace script

using script::Create;
using script::Find;
using script::T;
using script::Arg;
using script::Widget;

extern "C" {

int WinInit(void) {
  T().initialised = true;
  return 1;
}
void DrawTitle(const char*, int) {}
void RemoveTitle(void) {}
int SetGridArea(int columns, int rows) { return columns > 0 && rows > 0 ? 1 : 0; }
void GetGridArea(int* columns, int* rows) {
  if (columns) *columns = 32;
  if (rows) *rows = 24;
}
void WinExit(void) {
  T().initialised = false;
  for (auto& w : T().widgets) w.shown = false;
}

int OpenMaster(const char* title, int title_len, int, int, int, int, int, int* handle) {
  Widget w;
  w.title = Arg(title, title_len, PVGUI_MAX_LABEL);
  w.window = true;
  return Create(std::move(w), handle);
}
int OpenWindow(int parent, const char* title, int title_len, int, int, int, int, int* handle) {
  Widget w;
  w.parent = parent;
  w.title = Arg(title, title_len, PVGUI_MAX_LABEL);
  w.window = true;
  return Create(std::move(w), handle);
}
void WindowDraw(int window) {
  if (Widget* w = Find(window)) w->shown = true;
}
void WindowAction(int window) {
  if (Widget* w = Find(window)) {
    w->shown = true;
    T().active = window;
  }
}
void WindowRemove(int window) {
  if (Widget* w = Find(window)) w->shown = false;
}
void WidgetStatus(int widget, int status) {
  if (Widget* w = Find(widget)) w->status = status;
}
int GetWidgetStatus(int widget) {
  const Widget* w = Find(widget);
  return w ? w->status : -1;
}

int AddMenuBar(int window, int* handle) {
  Widget w;
  w.parent = window;
  return Create(std::move(w), handle);
}
int AddMenuPop(int bar, const char* title, int title_len, int* handle) {
  Widget w;
  w.parent = bar;
  w.title = Arg(title, title_len, PVGUI_MAX_LABEL);
  return Create(std::move(w), handle);
}
int AddMenuPull(int pop, int* handle) {
  Widget w;
  w.parent = pop;
  return Create(std::move(w), handle);
}
int AddMenuEntry(int pull, const char* text, int text_len, int code, int* handle) {
  Widget w;
  w.parent = pull;
  w.title = Arg(text, text_len, PVGUI_MAX_LABEL);
  w.code = code;
  return Create(std::move(w), handle);
}
int AddMenuSeparator(int pull, int* handle) {
  Widget w;
  w.parent = pull;
  return Create(std::move(w), handle);
}

int AddButton(int window, const char* text, int text_len, int, int, int, int, int code, int* handle) {
  Widget w;
  w.parent = window;
  w.title = Arg(text, text_len, PVGUI_MAX_LABEL);
  w.code = code;
  return Create(std::move(w), handle);
}
int AddString(int window, const char* text, int text_len, int, int, int, int, int max_len, int editable,
              int* handle) {
  Widget w;
  w.parent = window;
  w.title = Arg(text, text_len, PVGUI_MAX_LABEL);
  w.text = editable ? Arg(text, text_len, std::max(0, max_len)) : w.title;
  return Create(std::move(w), handle);
}
int AddFloat(int window, float value, int, int, int, int, int, int, int, int* handle) {
  Widget w;
  w.parent = window;
  w.number = value;
  return Create(std::move(w), handle);
}
int AddToggle(int window, const char* text, int text_len, int, int, int, int, int state, int code, int* handle) {
  Widget w;
  w.parent = window;
  w.title = Arg(text, text_len, PVGUI_MAX_LABEL);
  w.toggle = state ? 1 : 0;
  w.code = code;
  return Create(std::move(w), handle);
}
int AddRadioBox(int window, int, int, int, int, int* handle) {
  Widget w;
  w.parent = window;
  return Create(std::move(w), handle);
}
int AddRadio(int box, const char* text, int text_len, int, int, int state, int code, int* handle) {
  Widget w;
  w.parent = box;
  w.radio_box = box;
  w.title = Arg(text, text_len, PVGUI_MAX_LABEL);
  w.code = code;
  const int h = Create(std::move(w), handle);
  if (state) SetToggle(h, 1);
  return h;
}
int AddListBox(int window, int, int, int, int, int* handle) {
  Widget w;
  w.parent = window;
  return Create(std::move(w), handle);
}
void ListBoxSet(int list, const char* entry, int entry_len) {
  if (Widget* w = Find(list)) w->entries.push_back(Arg(entry, entry_len, PVGUI_MAX_LABEL));
}
int ListBoxStatus(int list) {
  const Widget* w = Find(list);
  return w ? w->selected : 0;
}
void ListBoxSelect(int list, int entry) {
  if (Widget* w = Find(list)) w->selected = entry;
}
int AddIcon(int window, int, int, int, int, int* handle) {
  Widget w;
  w.parent = window;
  return Create(std::move(w), handle);
}
int AddStatusBar(int window, const char* text, int text_len, int* handle) {
  Widget w;
  w.parent = window;
  w.text = Arg(text, text_len, PVGUI_MAX_LABEL);
  w.status_bar = true;
  return Create(std::move(w), handle);
}
int AddTextBlock(int window, int, int, int, int, int* handle) {
  Widget w;
  w.parent = window;
  return Create(std::move(w), handle);
}
int GraphicsFrame(int window, int, int, int, int, int* handle) {
  Widget w;
  w.parent = window;
  return Create(std::move(w), handle);
}

void SetNumber(int widget, float value) {
  if (Widget* w = Find(widget)) {
    w->number = value;
    w->typed = false;
  }
}
int GetCheckedNumber(int widget, float* value) {
  const Widget* w = Find(widget);
  if (!w) return 0;
  if (!w->typed) {
    *value = w->number;
    return 1;
  }
  // What a person typed counts only when all of it is a number.
  char* end = nullptr;
  const float typed = std::strtof(w->text.c_str(), &end);
  if (w->text.empty() || end == w->text.c_str() || *end != '\0') return 0;
  *value = typed;
  return 1;
}
float GetNumber(int widget) {
  float value = 0.0f;
  return GetCheckedNumber(widget, &value) ? value : 0.0f;
}
void SetString(int widget, const char* text, int text_len) {
  Widget* w = Find(widget);
  if (!w) return;
  w->text = Arg(text, text_len, PVGUI_MAX_FIELD);
  if (w->status_bar && T().status_observer) T().status_observer(w->text);
}
void GetString(int widget, char* text, int text_len) {
  const Widget* w = Find(widget);
  script::CopyBack(w ? w->text : std::string(), text, text_len);
}
void SetToggle(int widget, int state) {
  Widget* w = Find(widget);
  if (!w) return;
  if (w->radio_box && state) {
    for (auto& other : T().widgets)
      if (other.radio_box == w->radio_box) other.toggle = 0;
  }
  w->toggle = state ? 1 : 0;
}
int GetToggle(int widget) {
  const Widget* w = Find(widget);
  return w ? w->toggle : 0;
}

int IWinAction(void) {
  auto& t = T();
  for (;;) {
    if (!t.steps.empty()) {
      script::Step& front = t.steps.front();
      const bool due = front.after_ticks <= t.ticks || t.timer_code == 0;
      if (due && front.kind != script::Step::kBrowse) {
        script::Step step = std::move(front);
        t.steps.pop_front();
        t.ticks = 0;
        if (step.kind == script::Step::kClick) {
          // A click on a greyed or hidden widget does nothing, as on screen.
          return step.code_or_widget;
        }
        script::Apply(step);
        continue;
      }
      if (due && front.kind == script::Step::kBrowse) {
        // A browse answer is for OpenBrowse; while the program waits for a
        // code instead, only the timer (if any) can answer.
        if (t.timer_code == 0) {
          throw std::runtime_error(
              "headless toolkit: a file-browser answer is queued but the program waits for an action");
        }
      }
    }
    if (t.timer_code != 0) {
      ++t.ticks;
      if (t.tick_observer) t.tick_observer();
      return t.timer_code;
    }
    return t.idle ? t.idle() : script::DefaultIdle();
  }
}

// Headless, a wait with nothing scripted due returns the timer code at once:
// the interval has no meaning here.
void SetCallTime(int /*interval*/, int code) {
  T().timer_code = code;
  T().ticks = 0;
}

void ErrorBox(const char* title, int title_len, const char* message, int message_len) {
  script::Record(Arg(title, title_len, PVGUI_MAX_LABEL), Arg(message, message_len, PVGUI_MAX_LABEL), true);
}
int GeneralMessage(const char* title, int title_len, const char* message, int message_len, int, int default_reply) {
  script::Record(Arg(title, title_len, PVGUI_MAX_LABEL), Arg(message, message_len, PVGUI_MAX_LABEL), false);
  return default_reply;
}
int AskChoice(const char* title, int title_len, const char* message, int message_len, const char* choices,
              int choices_len) {
  auto& t = T();
  const std::string answers = Arg(choices, choices_len, PVGUI_MAX_LABEL);
  const int last = static_cast<int>(std::count(answers.begin(), answers.end(), '|'));
  script::Record(Arg(title, title_len, PVGUI_MAX_LABEL), Arg(message, message_len, PVGUI_MAX_LABEL), false, true);
  // Without a queued answer the box is closed, which is its last answer.
  script::ApplyValueSteps();
  if (t.steps.empty() || t.steps.front().kind != script::Step::kAnswer) return last;
  const int chosen = t.steps.front().state;
  t.steps.pop_front();
  return chosen >= 0 && chosen <= last ? chosen : last;
}
void RegTitleString(const char* title, int title_len) { T().browse_title = Arg(title, title_len, PVGUI_MAX_LABEL); }
void RegBrowseType(int type) { T().browse_save = type == 1; }

void OpenBrowse(char* name, int name_len, char* directory, int directory_len, const char* filter, int filter_len) {
  auto& t = T();
  t.browses.push_back({t.browse_title, Arg(name, name_len, name_len), Arg(directory, directory_len, directory_len),
                       std::string(filter, filter_len > 0 ? filter_len : 0), t.browse_save});
  t.browse_save = false;
  script::ApplyValueSteps();
  std::string chosen, dir;
  if (!t.steps.empty() && t.steps.front().kind == script::Step::kBrowse) {
    chosen = t.steps.front().text;
    dir = t.steps.front().directory;
    t.steps.pop_front();
  }
  if (!chosen.empty() && !dir.empty() && chdir(dir.c_str()) != 0) {
    chosen.clear();  // a directory that does not exist cannot be browsed to
  }
  script::CopyBack(chosen, name, name_len);
  script::CopyBack(chosen.empty() ? std::string() : dir, directory, directory_len);
}

// Keys need a keyboard: the script presses the widgets themselves.
void SetMainAction(int) {}
void SetEscapeAction(int) {}
void SetWindowEscape(int, int) {}
void SetFieldAction(int, int) {}
void SetKey(int, const char*, int) {}
void SetFixedPitch(int) {}
void SetFirstFocus(int, int) {}
void SetWindowEnter(int, int) {}
void SetFieldCaption(int widget, const char* text, int text_len) {
  if (Widget* w = Find(widget)) w->caption = Arg(text, text_len, PVGUI_MAX_LABEL);
}
void SetValueDecimals(int widget, int decimals) {
  if (Widget* w = Find(widget)) w->decimals = decimals;
}
void SetClipboardText(const char* text, int text_len) { T().clipboard = Arg(text, text_len, PVGUI_MAX_FIELD); }
void SetTooltip(int widget, const char* text, int text_len) {
  if (Widget* w = Find(widget)) w->tooltip = Arg(text, text_len, PVGUI_MAX_LABEL);
}
int AddRecentMenu(int pull, const char* title, int title_len, int, int count, int* handle) {
  Widget w;
  w.parent = pull;
  w.title = Arg(title, title_len, PVGUI_MAX_LABEL);
  w.recent_room = count;
  return Create(std::move(w), handle);
}
void NoteRecentFile(int menu, const char* name, int name_len, const char* directory, int directory_len) {
  Widget* w = Find(menu);
  if (!w || w->recent_room <= 0) return;
  const std::pair<std::string, std::string> file{Arg(name, name_len, name_len),
                                                 Arg(directory, directory_len, directory_len)};
  std::erase(w->recent, file);
  w->recent.insert(w->recent.begin(), file);
  if (static_cast<int>(w->recent.size()) > w->recent_room) w->recent.resize(static_cast<std::size_t>(w->recent_room));
}
void ChooseRecentFile(int menu, int index, char* name, int name_len, char* directory, int directory_len) {
  const Widget* w = Find(menu);
  std::string chosen, dir;
  if (w && index >= 0 && index < static_cast<int>(w->recent.size())) {
    chosen = w->recent[static_cast<std::size_t>(index)].first;
    dir = w->recent[static_cast<std::size_t>(index)].second;
    if (chdir(dir.c_str()) != 0) chosen.clear();
  }
  script::CopyBack(chosen, name, name_len);
  script::CopyBack(chosen.empty() ? std::string() : dir, directory, directory_len);
}

void ClearFrame(int frame) {
  if (Widget* w = Find(frame)) w->drawing.clear();
}
void GetFrameScale(int frame, float* x_min, float* y_min, float* x_max, float* y_max) {
  const Widget* w = Find(frame);
  if (!w) return;
  *x_min = w->scale[0];
  *y_min = w->scale[1];
  *x_max = w->scale[2];
  *y_max = w->scale[3];
}
void SetFrameScale(int frame, float x_min, float y_min, float x_max, float y_max) {
  if (Widget* w = Find(frame)) {
    w->scale[0] = x_min;
    w->scale[1] = y_min;
    w->scale[2] = x_max;
    w->scale[3] = y_max;
  }
}
void DrawMove(int frame, float x, float y) {
  if (Widget* w = Find(frame)) w->drawing.push_back(script::Op(script::DrawOp::kMove, x, y));
}
void DrawLine(int frame, float x, float y) {
  if (Widget* w = Find(frame)) w->drawing.push_back(script::Op(script::DrawOp::kLine, x, y));
}
void ChangePen(int frame, int colour, float char_size) {
  if (Widget* w = Find(frame)) {
    script::DrawOp op = script::Op(script::DrawOp::kPen, 0, 0);
    op.colour = colour;
    op.char_size = char_size;
    w->drawing.push_back(op);
  }
}
void DrawString(int frame, float x, float y, const char* text, int text_len) {
  if (Widget* w = Find(frame)) {
    script::DrawOp op = script::Op(script::DrawOp::kText, x, y);
    op.text = Arg(text, text_len, PVGUI_MAX_LABEL);
    w->drawing.push_back(op);
  }
}
void UpdateFrame(int frame) {
  if (Widget* w = Find(frame)) ++w->updates;
}
void WinFlush(void) {}
void SetFrameViewHandler(int frame, PvguiViewHandler handler, void* context) {
  if (Widget* w = Find(frame)) {
    w->view_handler = handler;
    w->view_context = context;
  }
}

}  // extern "C"
