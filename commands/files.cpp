// File selection and opening. Names are bare names relative to the
// directory the browser made current; they are never cut to a fixed width.
#include "commands/files.h"

#include <cctype>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "commands/data_file.h"
#include "common/file_names.h"
#include "common/fixed_fields.h"
#include "scan/parameter_file.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
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

// A name shown in a 12-column record field keeps at least its 12 columns.
std::string NameField(const std::string& name) { return name.size() < 12 ? fields::Fixed(name, 12) : name; }

using fileio::AbsolutePath;
using fileio::SameFile;

void StartLog(ProgramState& state, const std::string& data_name) {
  FileState& f = state.files;
  auto& log = f.log;
  log.Close();
  f.log_path.clear();
  f.data_path = AbsolutePath(data_name);
  // The log never overwrites a file of the run (a data file named
  // "scan.log", say): it is then named after the whole data-file name.
  std::string name = LogFileName(data_name);
  if (IsRunFile(f, name)) {
    const std::string other = data_name + ".log";
    if (IsRunFile(f, other)) {
      tk::ErrorBox("WinKalvex", "Error opening log file\n" + name + " and " + other + " are files of this run");
      return;
    }
    tk::GeneralMessage("WinKalvex", "The log is " + other + ": " + name + " is one of this run's files", 3, 0);
    name = other;
  }
  if (!log.Open(name, false)) {
    tk::ErrorBox("WinKalvex", "Error opening log file\n" + log.Error());
    return;
  }
  f.log_file_name = name;
  f.log_path = AbsolutePath(name);
  f.log_failed = false;
  log.Empty(2);
  log.Line("   LOG FILE CREATED BY WIN-KALVEX V3.3 ON " + LogTimestamp());
  log.Empty();
  log.Line("   INPUT DATA FILE WAS: " + NameField(data_name));
  log.Empty(2);
  FlushLog(state);
}

}  // namespace

bool IsRunFile(const FileState& f, const std::string& name) {
  return SameFile(name, f.data_path) || SameFile(name, f.parameter_path) || SameFile(name, f.output_path) ||
         SameFile(name, f.log_path);
}

std::string LogFileName(std::string_view data_file_name) {
  const auto dot = data_file_name.find('.');
  if (dot == std::string_view::npos) return "log";
  return std::string(data_file_name.substr(0, dot + 1)) + "log";
}

std::string OutputFileName(std::string_view chosen) {
  std::string name(chosen);
  if (name.find('.') == std::string::npos) name += ".INT";
  return name;
}

std::string LogTimestamp() {
  static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %s %2d %02d:%02d:%02d %04d", kDays[local.tm_wday], kMonths[local.tm_mon],
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
  return buf;
}

void OpenDataFile(ProgramState& state) { OpenDataFileFrom(state, std::nullopt); }

void OpenRecentDataFile(ProgramState& state, int index) {
  const tk::BrowseResult chosen = tk::ChooseRecentFile(state.widgets.menu_recent, index);
  if (!chosen.name.empty()) OpenDataFileFrom(state, chosen);
}

void OpenDataFileFrom(ProgramState& state, const std::optional<tk::BrowseResult>& first_choice) {
  FileState& f = state.files;
  std::string proposed = f.data_open ? f.data_file_name : std::string();
  const std::string start = StartDirectory(f);
  if (f.data_open) {
    f.data.Close();
    f.data_open = false;
  }
  f.ForgetReflectionCount();
  tk::SetBrowseTitle("Open Data File");
  // A recent file is the first choice; one that no longer opens brings the
  // browser, as any file that does not open does.
  tk::BrowseResult chosen;
  for (bool first = first_choice.has_value();; first = false) {
    chosen = first ? *first_choice : tk::Browse(proposed, start, kDataFilter);
    if (chosen.name.empty()) return;
    if (f.data.Open(chosen.name)) break;
    tk::ErrorBox("WinKalvex", kTryAgain);
    proposed.clear();
  }
  tk::NoteRecentFile(state.widgets.menu_recent, chosen.name, chosen.directory);
  StartLog(state, chosen.name);
  f.data_file_name = chosen.name;
  f.browse_dir = chosen.directory;
  f.data_open = true;
  f.read_error.reset();
  state.session_record.ForgetReflections();
  SetPreprocessedState(state, 0);
  ChooseInputFormat(state);
  SetDataFileOpen(state, true);
  tk::SetString(state.widgets.data_file_field, f.data_file_name);
  // A file that cannot be read as the chosen format is closed again at once
  // with the reader's message; the session goes on.
  if (!RewindDataFile(state)) return;
  if (ReadReflection(state, 1) == kReadError) return;
  ShowDataSetTitle(state, state.data_set.title);
  // The count a pass's progress is measured against.
  if (state.count_reflections) CountFileReflections(state);
}

int FormatFromName(std::string_view name) {
  const auto dot = name.rfind('.');
  std::string ext(dot == std::string_view::npos ? name.substr(0, 3) : name.substr(dot + 1, 3));
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ext == "DCA") return kFormatXcalibur;
  if (ext == "DAT") return kFormatCad4;
  if (ext == "P4T") return kFormatXscans;
  return 0;
}

void ChooseInputFormat(ProgramState& state) {
  const Widgets& w = state.widgets;
  switch (FormatFromName(state.files.data_file_name)) {
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
  if (f.output_open) {
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
    name = OutputFileName(chosen.name);
    proposed.clear();
    if (IsRunFile(f, name)) {
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
    if (f.output.Open(name, append)) break;
    tk::ErrorBox("ERROR", std::string(kTryAgain) + "\n" + f.output.Error());
  }
  f.log.Empty(2);
  f.log.Line("  INTEGRATED DATA FILE OPENED: " + NameField(name));
  FlushLog(state);
  f.output_file_name = name;
  f.output_path = AbsolutePath(name);
  f.written.Clear();
  f.pending_seq_nos.clear();
  // The report, like the list of what was written, follows the new file.
  state.session_record.ForgetReflections();
  f.output_open = true;
  tk::SetString(w.output_file_field, name);
  tk::WidgetStatus(w.output_label, tk::kActive);
  tk::WidgetStatus(w.output_file_field, tk::kActive);
}

void OpenParameterFile(ProgramState& state) {
  FileState& f = state.files;
  tk::SetBrowseTitle("Open Parameter File");
  std::string name;
  for (;;) {
    const tk::BrowseResult chosen = tk::Browse("", StartDirectory(f), kParameterFilter);
    if (chosen.name.empty()) return;
    if (f.parameters.Open(chosen.name)) {
      name = chosen.name;
      break;
    }
    tk::ErrorBox("ERROR", kTryAgain);
  }
  f.parameter_file_name = name;
  f.log.Empty(2);
  f.log.Line("  INSTRUMENT PARAMETER FILE OPENED: " + NameField(name));
  f.log.Line("  CONTENTS ARE:");
  f.log.Empty();
  // Read into copies: a file that cannot be read leaves the run's parameters
  // as they were.
  RunParameters params = state.params;
  ParameterMarks marks = state.parameter_marks;
  const ParameterFileResult read = ReadParameterFile(f.parameters, params, marks);
  for (const std::string& line : read.echo) f.log.Line(line);
  if (read.error) {
    ShowReadError(state, *read.error);
    state.parameter_error = read.error->message;
    return;
  }
  state.params = params;
  state.parameter_marks = marks;
  state.parameter_error.clear();
  f.parameter_path = AbsolutePath(name);
  f.log.Empty();
  f.log.Line(" ****************END OF PARAMETER FILE***************");
  f.log.Empty(2);
  FlushLog(state);
  // The reflection read when the data file opened was scaled before the
  // parameter file gave the attenuator factor.
  ReadReflectionAgain(state);
}

}  // namespace kalvex
