/* pvgui: the widget and graphics layer of the program, as plain C entry
 * points. Two implementations exist: toolkit/qt (libpvgui.so over Qt 6
 * Widgets, the window people use) and toolkit/script (headless, for tests and
 * the batch command). An executable links exactly one of them.
 *
 * Conventions of every entry point:
 *  - texts arrive as pointer + length, blank-padded, without terminator; the
 *    layer removes trailing blanks and cuts titles, messages, labels and menu
 *    texts at 255 characters and field contents at 32766;
 *  - texts returned are copied into the caller's field, cut to its length and
 *    blank-padded;
 *  - reals are single precision here, double inside the toolkit;
 *  - positions and sizes are layout-grid units: (x, y) is the lower-left
 *    corner inside the parent, y grows upwards;
 *  - a create operation returns the new handle and also stores it in its last
 *    argument. Handles are positive and valid for the whole run;
 *  - widget status: 1 active, 0 unavailable (greyed), -1 hidden.
 */
#ifndef KALVEX_PVGUI_H
#define KALVEX_PVGUI_H

#ifdef __cplusplus
extern "C" {
#endif

#define PVGUI_MAX_LABEL 255
#define PVGUI_MAX_FIELD 32766

/* start and end */
int WinInit(void);
void DrawTitle(const char* text, int text_len);
void RemoveTitle(void);
/* 1 when accepted: every grid cell must be wider and higher than 11 pixels. */
int SetGridArea(int columns, int rows);
void GetGridArea(int* columns, int* rows);
void WinExit(void);

/* windows */
int OpenMaster(const char* title, int title_len, int x, int y, int w, int h, int icon, int* handle);
int OpenWindow(int parent, const char* title, int title_len, int x, int y, int w, int h, int* handle);
void WindowDraw(int window);
void WindowAction(int window);
void WindowRemove(int window);
void WidgetStatus(int widget, int status);
int GetWidgetStatus(int widget);

/* menus: a bar, a title on it (Pop), its pull-down (Pull), entries */
int AddMenuBar(int window, int* handle);
int AddMenuPop(int bar, const char* title, int title_len, int* handle);
int AddMenuPull(int pop, int* handle);
int AddMenuEntry(int pull, const char* text, int text_len, int code, int* handle);
int AddMenuSeparator(int pull, int* handle);

/* widgets */
int AddButton(int window, const char* text, int text_len, int x, int y, int w, int h, int code, int* handle);
/* A label (editable 0) or a text field of at most max_len characters. */
int AddString(int window, const char* text, int text_len, int x, int y, int w, int h, int max_len, int editable,
              int* handle);
int AddFloat(int window, float value, int x, int y, int w, int h, int digits, int decimals, int editable,
             int* handle);
int AddToggle(int window, const char* text, int text_len, int x, int y, int w, int h, int state, int code,
              int* handle);
/* A radio box; its toggles (AddRadio) exclude each other and sit at positions
 * of the dialog's grid. */
int AddRadioBox(int window, int x, int y, int w, int h, int* handle);
int AddRadio(int box, const char* text, int text_len, int x, int y, int state, int code, int* handle);
int AddListBox(int window, int x, int y, int w, int h, int* handle);
/* Appends an entry to a list box. */
void ListBoxSet(int list, const char* entry, int entry_len);
/* The selected entry, 1-based; 0 when none is selected. */
int ListBoxStatus(int list);
void ListBoxSelect(int list, int entry);
int AddIcon(int window, int x, int y, int w, int h, int* handle);
int AddStatusBar(int window, const char* text, int text_len, int* handle);
/* Read-only lines in a fixed-pitch font, filled by SetString with "\n"
 * between lines; it scrolls when they do not fit. */
int AddTextBlock(int window, int x, int y, int w, int h, int* handle);
int GraphicsFrame(int window, int x, int y, int w, int h, int* handle);

/* keys, tooltips and the recent-files menu: what a widget means to the user.
 * A key never changes a code: it presses its widget, which sends the code
 * it always sends, and only while that widget is shown and usable. */
/* Enter in the button's window presses it (the window's main action). */
void SetMainAction(int button);
/* Escape in the button's window presses it. */
void SetEscapeAction(int button);
/* Escape in `window` presses `button`, which may stand in another window
 * (the main window's Exit for the fitting dialog); button 0: nothing. */
void SetWindowEscape(int window, int button);
/* Enter in a text or value field presses the button. */
void SetFieldAction(int field, int button);
/* A key for a button or menu entry in the portable form "N", "F5",
 * "Ctrl+O"; for a menu title "Alt+" and one of its letters. */
void SetKey(int widget, const char* key, int key_len);
/* The text shown when the pointer rests on the widget. */
void SetTooltip(int widget, const char* text, int text_len);
/* The widget's text in a fixed-pitch face, for columns aligned with spaces. */
void SetFixedPitch(int widget);
/* A submenu of up to `count` files opened before (kept between runs), the
 * newest first; choosing entry i sends first_code + i. */
int AddRecentMenu(int pull, const char* title, int title_len, int first_code, int count, int* handle);
/* Puts a file just opened at the head of the list. */
void NoteRecentFile(int menu, const char* name, int name_len, const char* directory, int directory_len);
/* Entry `index` (0-based) of the list as OpenBrowse gives a file: the bare
 * name (blank when there is none, or its directory cannot be entered) and
 * its directory, made current. */
void ChooseRecentFile(int menu, int index, char* name, int name_len, char* directory, int directory_len);

/* Where the focus goes each time WindowAction makes `window` active: the
 * widget (for a radio box its toggle that is on), when it can take it;
 * 0: the window's main action. */
void SetFirstFocus(int window, int widget);
/* Enter in `window` presses `button`, which may stand in another window
 * (the main window's Go for the fitting dialog); button 0: nothing. */
void SetWindowEnter(int window, int button);
/* A short caption inside a value field, before its number ("2θ"). */
void SetFieldCaption(int widget, const char* text, int text_len);
/* The decimals a value field shows from now on. */
void SetValueDecimals(int widget, int decimals);
/* Puts a text on the clipboard. */
void SetClipboardText(const char* text, int text_len);

/* values */
void SetNumber(int widget, float value);
float GetNumber(int widget);
/* 1 when a value field holds a number (stored in *value), 0 when its text
 * is not one (*value untouched). */
int GetCheckedNumber(int widget, float* value);
void SetString(int widget, const char* text, int text_len);
void GetString(int widget, char* text, int text_len);
void SetToggle(int widget, int state);
int GetToggle(int widget);

/* events: IWinAction blocks until a widget with a code is activated and
 * returns the code; -1 when the main window is closed. SetCallTime starts a
 * repeating timer whose code the wait then also returns once per interval
 * (toolkit time units); code 0 stops it. */
int IWinAction(void);
void SetCallTime(int interval, int code);

/* boxes */
void ErrorBox(const char* title, int title_len, const char* message, int message_len);
int GeneralMessage(const char* title, int title_len, const char* message, int message_len, int style,
                   int default_reply);
/* A question with the answers given as "First|Second|...": returns the
 * 0-based index of the answer chosen; closing the box gives the last one. */
int AskChoice(const char* title, int title_len, const char* message, int message_len, const char* choices,
              int choices_len);
void RegTitleString(const char* title, int title_len);
/* The kind of the next browse: 0 a file to open, 1 a file to save (its
 * button says so). */
void RegBrowseType(int type);
/* Proposed name and start directory in, chosen bare name (blank when
 * cancelled) and its directory out; the directory is made current. */
void OpenBrowse(char* name, int name_len, char* directory, int directory_len, const char* filter,
                int filter_len);

/* graphics: a frame keeps a display list in user coordinates */
void ClearFrame(int frame);
void GetFrameScale(int frame, float* x_min, float* y_min, float* x_max, float* y_max);
void SetFrameScale(int frame, float x_min, float y_min, float x_max, float y_max);
void DrawMove(int frame, float x, float y);
void DrawLine(int frame, float x, float y);
/* Line colour by colour index (1, 2, 5 and 7 are four clearly different
 * colours) and character size in tenths of a grid row. */
void ChangePen(int frame, int colour, float char_size);
void DrawString(int frame, float x, float y, const char* text, int text_len);
void UpdateFrame(int frame);
void WinFlush(void);

/* What the user does to a frame's view, for the program to draw it again:
 * a zoom in x about the pointer (x, y: the pointer in the frame's
 * coordinates; amount: the factor, above 1 closer), a zoom of the y axis
 * (amount: the factor), a pan in x (amount: how far the picture moves, in
 * the frame's x units), back to the whole picture, and a new size of the
 * frame (x, y: the width and height in pixels that its coordinates span;
 * amount: the pixels of a grid row, of which a character size is tenths). */
#define PVGUI_VIEW_ZOOM 1
#define PVGUI_VIEW_ZOOM_Y 2
#define PVGUI_VIEW_PAN 3
#define PVGUI_VIEW_RESET 4
#define PVGUI_VIEW_RESIZED 5
typedef void (*PvguiViewHandler)(void* context, int frame, int event, float x, float y, float amount);
/* Calls `handler` with `context` for every such action on the frame; a
 * null handler: none. */
void SetFrameViewHandler(int frame, PvguiViewHandler handler, void* context);

#ifdef __cplusplus
}
#endif

#endif /* KALVEX_PVGUI_H */
