// File selection and opening. Names are bare names relative to the
// directory the browser made current; they are never cut to a fixed width.
#include "commands/files.h"

#include <filesystem>
#include <system_error>

#include "commands/session.h"
#include "common/fixed_fields.h"
#include "engine/run.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/scan_plot.h"
#include "ui/user_interface.h"

namespace kalvex {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDataFilter = "*.dca|Xcalibur Ascii|*.dat|Single/CAD4|*.p4t|Xscans|*.*|All ";
constexpr std::string_view kOutputFilter = "*.int|(Int)|*.*|(All)";
constexpr std::string_view kParameterFilter = "*.par|(Parameter File)|*.*|(All Files)";
constexpr std::string_view kTryAgain = "Error opening file: Try again";

// Where every browse starts: nothing until a data-file browse has succeeded
// (the browser then picks its own place), "D:" for a blank remembered
// directory, else the remembered one.
std::string StartDirectory(const FileState& files) {
  if (files.browse_dir.empty()) return {};
  if (fields::TrimRight(files.browse_dir).empty()) return "D:";
  return files.browse_dir;
}

}  // namespace

void OpenDataFile(ProgramState& state) { OpenDataFileFrom(state, std::nullopt); }

namespace {

// Opens and reads the first reflection; the frame then says what is open.
void OpenAndRead(ProgramState& state, const std::optional<tk::BrowseResult>& first_choice);

}  // namespace

void OpenDataFileFrom(ProgramState& state, const std::optional<tk::BrowseResult>& first_choice) {
  OpenAndRead(state, first_choice);
  ShowWhereYouAre(state);
}

void OpenRecentDataFile(ProgramState& state, int index) {
  const tk::BrowseResult chosen = tk::ChooseRecentFile(state.widgets.menu_recent, index);
  if (!chosen.name.empty()) OpenDataFileFrom(state, chosen);
}

namespace {

void OpenAndRead(ProgramState& state, const std::optional<tk::BrowseResult>& first_choice) {
  FileState& f = state.files;
  std::string proposed = f.data_open ? f.data_file_name : std::string();
  const std::string start = StartDirectory(f);
  engine::Run run(state, WindowEvents(state));
  if (f.data_open) {
    f.data.Close();
    f.data_open = false;
  }
  f.ForgetReflectionCount();
  // What the window showed of the file before is not this file's.
  ClearStatus(state);
  ClearReflectionFields(state);
  tk::SetBrowseTitle("Open Data File");
  // A recent file is the first choice; one that no longer opens brings the
  // browser, as any file that does not open does.
  tk::BrowseResult chosen;
  for (bool first = first_choice.has_value();; first = false) {
    chosen = first ? *first_choice : tk::Browse(proposed, start, kDataFilter);
    if (chosen.name.empty()) return;
    if (!run.OpenDataFile(chosen.name)) break;
    tk::ErrorBox("WinKalvex", kTryAgain);
    proposed.clear();
  }
  tk::NoteRecentFile(state.widgets.menu_recent, chosen.name, chosen.directory);
  f.browse_dir = chosen.directory;
  SetPreprocessedState(state, 0);
  ChooseInputFormat(state);
  SetDataFileOpen(state, true);
  tk::SetString(state.widgets.data_file_field, f.data_file_name);
  // A file that cannot be read as the chosen format is closed again at once
  // with the reader's message; the session goes on.
  if (state.params.input_format == kFormatSingle) AskOmegaStep(state, state.data_set.omega_step);
  if (!run.ReadFirst()) return;
  ShowDataSetTitle(state, state.data_set.title);
}

}  // namespace

void ChooseInputFormat(ProgramState& state) {
  const Widgets& w = state.widgets;
  switch (engine::FormatFromName(state.files.data_file_name)) {
    case kFormatXcalibur: tk::SetToggle(w.format_xcalibur, 1); break;
    case kFormatCad4: tk::SetToggle(w.format_cad4, 1); break;
    case kFormatXscans: tk::SetToggle(w.format_xscans, 1); break;
    default: break;  // last time's choice stays
  }
  OpenModal(state, w.format_dialog);
  while (tk::Wait() != kCodeFormatOk) {
  }
  const std::pair<int, int> order[] = {{w.format_xcalibur, kFormatXcalibur},
                                       {w.format_single, kFormatSingle},
                                       {w.format_cad4, kFormatCad4},
                                       {w.format_xscans, kFormatXscans}};
  for (const auto& [toggle, format] : order) {
    if (tk::GetToggle(toggle)) {
      state.params.input_format = format;
      break;
    }
  }
  CloseModal(state, w.format_dialog);
}

void OpenOutputFile(ProgramState& state) {
  FileState& f = state.files;
  const Widgets& w = state.widgets;
  std::string proposed = f.output_open ? f.output_file_name : std::string();
  const std::string start = StartDirectory(f);
  engine::Run run(state, WindowEvents(state));
  if (f.output_open) {
    run.FlushRecords();
    f.output.Close();
    f.output_open = false;
    tk::SetString(w.output_file_field, "");
    tk::WidgetStatus(w.output_label, tk::kHidden);
    tk::WidgetStatus(w.output_file_field, tk::kHidden);
  }
  f.output_path.clear();
  tk::SetBrowseTitle("Open Output File");
  std::string name;
  for (;;) {
    const tk::BrowseResult chosen = tk::Browse(proposed, start, kOutputFilter);
    if (chosen.name.empty()) return;
    name = engine::OutputFileName(chosen.name);
    proposed.clear();
    if (engine::IsRunFile(f, name)) {
      tk::ErrorBox("ERROR", name + " is an input or the log of this run: choose another intensity file");
      continue;
    }
    // An existing file is touched only after the user has chosen.
    bool append = true;
    std::error_code ec;
    if (fs::exists(name, ec)) {
      const int choice = tk::AskChoice("WinKalvex", name + " exists: Append / Replace / Cancel", "Append|Replace|Cancel");
      if (choice == 2) return;
      append = choice == 0;
    }
    const std::optional<std::string> why = run.OpenOutputFile(name, append);
    if (!why) break;
    tk::ErrorBox("ERROR", std::string(kTryAgain) + "\n" + *why);
  }
  tk::SetString(w.output_file_field, name);
  tk::WidgetStatus(w.output_label, tk::kActive);
  tk::WidgetStatus(w.output_file_field, tk::kActive);
  ShowWhereYouAre(state);
}

void OpenParameterFile(ProgramState& state) {
  FileState& f = state.files;
  tk::SetBrowseTitle("Open Parameter File");
  engine::Run run(state, WindowEvents(state));
  for (;;) {
    const tk::BrowseResult chosen = tk::Browse("", StartDirectory(f), kParameterFilter);
    if (chosen.name.empty()) return;
    if (!run.OpenParameterFile(chosen.name)) {
      ShowWhereYouAre(state);
      return;
    }
    tk::ErrorBox("ERROR", kTryAgain);
  }
}

}  // namespace kalvex
