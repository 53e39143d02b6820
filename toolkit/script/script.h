// The headless toolkit: the pvgui entry points with widgets held in memory,
// driven by a script instead of a person. IWinAction plays the script: value
// changes are applied as they come, a click returns its code, a browse answer
// waits for the next OpenBrowse. Message boxes are recorded and dismissed at
// once; drawing is recorded as a display list per frame.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace script {

// Forgets every widget, the script, the boxes and the drawing.
void Reset();

// --- what the "user" does, in order ---------------------------------------
// `after_ticks`: the step waits until the timer (SetCallTime) has fired that
// many times since the previous step, as a person waits before pressing Stop.
void QueueClick(int code, int after_ticks = 0);
void QueueNumber(int widget, float value);
void QueueText(int widget, const std::string& text);
void QueueToggle(int widget, int state);
void QueueListSelect(int list, int entry);
// The answer (0-based) to the next question box; without one it is closed,
// which chooses its last answer.
void QueueAnswer(int choice);
// The answer to the next OpenBrowse: a bare name (empty = cancel) and its
// directory (made current, as the real browser does).
void QueueBrowse(const std::string& name, const std::string& directory);
// Runs `call` when the script reaches it (to look at the state mid-way).
void QueueCall(std::function<void()> call);
std::size_t PendingSteps();

// Called when the script is used up and no timer runs; returns the code the
// wait then gives. The default gives -1 (the main window closed) and stops
// the process with a diagnostic if asked a hundred times more.
void SetIdleHandler(std::function<int()> handler);

// Called each time the wait gives the timer's code (the batch command shows
// its progress from here).
void SetTickObserver(std::function<void()> observer);
// Called with the status bar's text each time the program sets it (the
// batch command's terminal line follows it).
void SetStatusObserver(std::function<void(const std::string&)> observer);

// --- what the program showed -----------------------------------------------
struct MessageBox {
  std::string title;
  std::string message;
  bool error = false;
  bool question = false;  // asked with AskChoice
};
const std::vector<MessageBox>& Boxes();
void ClearBoxes();
// Called for every box as it is shown (the batch command prints them).
void SetBoxObserver(std::function<void(const MessageBox&)> observer);

struct BrowseCall {
  std::string title, proposed_name, start_directory, filter;
  bool save = false;  // a file to be written
};
const std::vector<BrowseCall>& Browses();

float Number(int widget);
std::string Text(int widget);
int Toggle(int widget);
int Status(int widget);
bool Shown(int window);  // a window handed to the toolkit for display and not removed
int ActiveWindow();
std::string Title(int widget);  // window title or widget caption
int CodeOf(int widget);
std::vector<std::string> ListEntries(int list);
int TimerCode();
std::string Tooltip(int widget);
std::string Caption(int widget);  // a value field's caption
int Decimals(int widget);         // as SetValueDecimals left them; -1 before
std::string Clipboard();
// The user zooms, pans or resets the frame's view, or the frame is given a
// new size in pixels (PVGUI_VIEW_...): its handler hears of it.
void FrameView(int frame, int event, float x, float y, float amount);

struct DrawOp {
  enum Kind { kMove, kLine, kPen, kText } kind = kMove;
  float x = 0, y = 0;
  int colour = 0;
  float char_size = 0;
  std::string text;
};
const std::vector<DrawOp>& Drawing(int frame);
// Number of UpdateFrame calls on the frame so far.
int FrameUpdates(int frame);

}  // namespace script
