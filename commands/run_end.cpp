#include "commands/run_end.h"

#include "commands/report.h"

#include "common/fixed_fields.h"
#include "scan/reflection_input.h"
#include "toolkit/toolkit.h"

namespace kalvex {

namespace {

// The width of the summary's table, so that a note reads with it.
constexpr std::size_t kWidth = 65;

void Wrap(std::string_view text, std::string& out) {
  while (text.size() > kWidth) {
    // After a comma of a list of ranges, else between two words; a word
    // longer than the line is the only one cut.
    std::size_t take = text.rfind(", ", kWidth - 1);
    if (take != std::string_view::npos && take > 0) {
      ++take;
    } else if ((take = text.rfind(' ', kWidth)) == std::string_view::npos || take == 0) {
      take = kWidth;
    }
    out.append(text.substr(0, take));
    out += '\n';
    text.remove_prefix(take);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  }
  out.append(text);
  out += '\n';
}

}  // namespace

std::string RunEndText(std::string_view heading, const std::vector<std::string>& notes,
                       const std::vector<std::string>& summary) {
  std::string text(heading);
  text += "\n\n";
  for (const std::string& note : notes) Wrap(note, text);
  if (!notes.empty()) text += '\n';
  bool blank = true;  // a blank line already ends the text
  for (const std::string& record : summary) {
    // Each log record begins with its carriage-control character.
    const std::string line(fields::TrimRight(std::string_view(record).substr(record.empty() ? 0 : 1)));
    if (line.empty()) {
      if (!blank) text += '\n';
      blank = true;
      continue;
    }
    text += line + '\n';
    blank = false;
  }
  return text;
}

void ShowRunEnd(ProgramState& state, std::string_view heading, const std::vector<std::string>& notes) {
  const Widgets& w = state.widgets;
  tk::SetString(w.run_end_text, RunEndText(heading, notes, ClassificationSummary(state.data_set.input_class, state.fit)));
  tk::WindowDraw(w.run_end_dialog);
  tk::WindowAction(w.run_end_dialog);
}

void CloseRunEnd(ProgramState& state) {
  tk::WindowRemove(state.widgets.run_end_dialog);
  tk::WindowAction(state.widgets.main_window);
}

void OpenReportFromRunEnd(ProgramState& state) { SaveReport(state); }

}  // namespace kalvex
