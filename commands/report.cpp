#include "commands/report.h"

#include "commands/files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/record_writer.h"
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

}  // namespace kalvex
