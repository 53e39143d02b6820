#include "commands/report.h"

#include "commands/files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/record_writer.h"
#include "engine/batch_command.h"
#include "engine/run.h"
#include "report/session.h"
#include "toolkit/toolkit.h"

namespace kalvex {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kReportFilter = "*.html|(Report)|*.*|(All)";

}  // namespace

void SaveReport(ProgramState& state) {
  FileState& f = state.files;
  tk::SetBrowseTitle("Save Report");
  tk::SetBrowseSave();
  const std::string proposed = f.data_file_name.empty() ? "report.html"
                                                        : fs::path(f.data_file_name).replace_extension(".html").string();
  const tk::BrowseResult chosen = tk::Browse(proposed, f.browse_dir, kReportFilter);
  if (chosen.name.empty()) return;
  const std::string& name = chosen.name;
  if (engine::IsRunFile(f, name)) {
    tk::ErrorBox("WinKalvex", name + " is a file of this run: name another");
    return;
  }
  std::error_code ec;
  if (fs::exists(name, ec) && tk::AskChoice("WinKalvex", name + " exists: Replace / Cancel", "Replace|Cancel") != 0)
    return;
  const std::string error = report::WriteSessionReport(state, name);
  if (!error.empty()) {
    tk::ErrorBox("WinKalvex", "Cannot write the report " + error);
    return;
  }
  tk::GeneralMessage("WinKalvex", "Report written to " + name, 3, 0);
}

void CopyBatchCommand(ProgramState& state) {
  const int status_bar = state.widgets.status_bar;
  if (!state.files.data_open) {
    tk::ShowStatus(status_bar, "No data file is open: there is no run to repeat");
    return;
  }
  const std::string line =
      engine::CommandLine(engine::SessionRequest(state), fs::path(state.files.data_path).parent_path().string());
  tk::SetClipboardText(line);
  std::string said = "Copied: " + line;
  const std::vector<std::string> not_repeated = engine::NotRepeated(state);
  for (std::size_t i = 0; i < not_repeated.size(); ++i) said += (i == 0 ? "  (not repeated: " : "; ") + not_repeated[i];
  if (!not_repeated.empty()) said += ")";
  tk::ShowStatus(status_bar, said);
}

}  // namespace kalvex
