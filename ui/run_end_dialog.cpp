#include "ui/run_end_dialog.h"

#include "toolkit/toolkit.h"
#include "ui/codes.h"

namespace kalvex {

void BuildRunEndDialog(Widgets& w) {
  // The summary's widest line is 65 characters; the block scrolls what does
  // not fit.
  w.run_end_dialog = tk::OpenWindow(w.main_window, "End of Run", {6, 4, 16, 13});
  const int d = w.run_end_dialog;
  w.run_end_text = tk::AddTextBlock(d, {0, 1, 16, 12});
  w.run_end_report = tk::AddButton(d, "Report...", {8, 0, 3, 1}, kCodeRunEndReport);
  w.run_end_close = tk::AddButton(d, "Close", {12, 0, 3, 1}, kCodeRunEndClose);
  tk::SetMainAction(w.run_end_close);
  tk::SetEscapeAction(w.run_end_close);
}

}  // namespace kalvex
