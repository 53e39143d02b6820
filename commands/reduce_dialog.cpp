#include "commands/reduce_dialog.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "commands/calc_ub.h"
#include "commands/session.h"
#include "commands/files.h"
#include "engine/reduction.h"
#include "common/file_names.h"
#include "report/reduction_report.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"
#include "ui/reduce_dialog.h"
#include "ui/user_interface.h"

namespace kalvex {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kIntensityFilter = "*.int|(Int)|*.*|(All)";

// The intensity file to reduce, as an absolute path: the one the session
// writes, else one chosen now; empty when none is open and none is chosen.
std::string IntensityFile(ProgramState& state) {
  const FileState& f = state.files;
  if (f.output_open) return f.output_path;
  tk::SetBrowseTitle("Intensity File to Reduce");
  const tk::BrowseResult chosen = tk::Browse("", f.browse_dir, kIntensityFilter);
  if (chosen.name.empty()) return {};
  return fileio::AbsolutePath(chosen.name);
}

// An output name as typed; a bare or relative name lies beside the intensity
// file, and is said relative to the current directory (the summary names it).
fs::path OutputPath(const std::string& typed, const fs::path& intensity) {
  const fs::path name(typed);
  if (name.is_absolute()) return name;
  std::error_code ec;
  const fs::path here = fs::current_path(ec);
  const fs::path beside = intensity.parent_path() / name;
  return ec ? beside : beside.lexically_proximate(here);
}

// Whether the names typed may be written: not a file of this session's
// run, and an existing file only when the user agrees to replace it.
bool OutputsAllowed(const ProgramState& state, const std::vector<fs::path>& outputs) {
  for (const fs::path& out : outputs) {
    if (engine::IsRunFile(state.files, out.string())) {
      tk::ErrorBox("WinKalvex", out.filename().string() + " is a file of this run: name another");
      return false;
    }
  }
  std::string existing;
  std::error_code ec;
  for (const fs::path& out : outputs)
    if (fs::exists(out, ec)) existing += (existing.empty() ? "" : " and ") + out.filename().string();
  if (existing.empty()) return true;
  return tk::AskChoice("WinKalvex", existing + " exists: Replace / Cancel", "Replace|Cancel") == 0;
}

// Shows the dialog until "Reduce" with names that may be written (the request
// then filled in) or "Quit" (nothing).
std::optional<engine::ReductionRequest> AskReduction(ProgramState& state, const std::string& intensity) {
  const Widgets& w = state.widgets;
  const fs::path input(intensity);
  tk::SetString(w.reduce_input, input.filename().string());
  tk::SetString(w.reduce_hkl, fs::path(input.filename()).replace_extension(".hkl").string());
  tk::SetString(w.reduce_cif, fs::path(input.filename()).replace_extension(".cif").string());
  tk::SetString(w.reduce_report, fs::path(input.filename()).replace_extension(".html").string());
  std::optional<engine::ReductionRequest> request;
  OpenModal(state, w.reduce_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeReduceQuit || code == kCodeClosed) break;
    if (code != kCodeReduceGo) continue;
    const std::string hkl = tk::GetString(w.reduce_hkl), cif = tk::GetString(w.reduce_cif);
    if (hkl.empty() || cif.empty()) {
      tk::ErrorBox("WinKalvex", "Name both the HKLF 4 file and the CIF");
      continue;
    }
    engine::ReductionRequest r;
    r.intensity_file = intensity;
    r.parameter_file = state.files.parameter_path;
    r.hkl_file = OutputPath(hkl, input).string();
    r.cif_file = OutputPath(cif, input).string();
    const std::string report = tk::GetString(w.reduce_report);
    if (!report.empty()) {
      r.report_file = OutputPath(report, input).string();
      r.report_page = [name = input.filename().string()](const reduce::Reduction& reduction) {
        return report::BuildReductionReport(reduction, name).html;
      };
    }
    std::vector<fs::path> outputs = {r.hkl_file, r.cif_file};
    if (!report.empty()) outputs.push_back(r.report_file);
    if (!OutputsAllowed(state, outputs)) continue;
    const int laue = tk::ListBoxSelected(w.reduce_laue_list);
    if (laue > 1 && laue <= static_cast<int>(kReduceLaueChoices.size())) r.laue = kReduceLaueChoices[laue - 1];
    r.lp = tk::GetToggle(w.reduce_lp) == 1;
    r.decay = tk::GetToggle(w.reduce_decay) == 1;
    r.cosines = tk::GetToggle(w.reduce_cosines) == 1;
    const int method = tk::ListBoxSelected(w.reduce_absorption_list);
    if (method >= 1 && method <= static_cast<int>(kReduceAbsorptionChoices.size()))
      r.absorption = *reduce::AbsorptionMethodNamed(kReduceAbsorptionChoices[method - 1]);
    // A faces file named bare lies beside the intensity file, as the outputs do.
    if (const std::string faces = tk::GetString(w.reduce_faces); !faces.empty())
      r.faces_file = OutputPath(faces, input).string();
    if (const float mu = tk::GetNumber(w.reduce_mu); mu > 0) r.mu = mu;
    r.radius = tk::GetNumber(w.reduce_radius);
    r.lmax = static_cast<int>(std::lround(tk::GetNumber(w.reduce_lmax)));
    r.formula = tk::GetString(w.reduce_formula);
    r.z = tk::GetNumber(w.reduce_z);
    request = r;
    break;
  }
  CloseModal(state, w.reduce_dialog);
  return request;
}

// The summary a page at a time; "Next page" goes round to the first again.
void ShowSummary(ProgramState& state, const std::vector<std::string>& lines) {
  const Widgets& w = state.widgets;
  const int n = static_cast<int>(lines.size());
  const int pages = std::max(1, (n + kSummaryRows - 1) / kSummaryRows);
  int page = 0;
  auto show = [&] {
    for (int i = 0; i < kSummaryRows; ++i) {
      const int k = page * kSummaryRows + i;
      tk::SetString(w.summary_rows[i], k < n ? lines[k] : std::string());
    }
    tk::SetString(w.summary_page, "Page " + std::to_string(page + 1) + " of " + std::to_string(pages));
  };
  tk::WidgetStatus(w.summary_more, pages > 1 ? tk::kActive : tk::kGreyed);
  show();
  OpenModal(state, w.summary_dialog);
  for (;;) {
    const int code = tk::Wait();
    if (code == kCodeSummaryOk || code == kCodeClosed) break;
    if (code != kCodeSummaryMore) continue;
    page = (page + 1) % pages;
    show();
  }
  CloseModal(state, w.summary_dialog);
}

}  // namespace

void ReduceToShelx(ProgramState& state) {
  FileState& f = state.files;
  // The reduction reads the instrument constants and wavelength again from
  // the file itself; one that could not be read has no path.
  if (f.parameter_path.empty()) {
    tk::ErrorBox("WinKalvex", "No parameter file is open: the reduction needs its wavelength and monochromator");
    return;
  }
  const std::string intensity = IntensityFile(state);
  if (intensity.empty()) {
    tk::GeneralMessage("WinKalvex", "No intensity file is open and none was chosen: nothing to reduce");
    return;
  }
  const std::optional<engine::ReductionRequest> request = AskReduction(state, intensity);
  if (!request) return;

  ShowWorkingBox(state, 1);
  const engine::ReductionOutcome outcome = engine::RunReduction(*request);
  ShowWorkingBox(state, 0);
  const std::string name = fs::path(intensity).filename().string();
  auto& log = f.log;
  log.Empty(2);
  if (outcome.status != 0) {
    log.Line("  REDUCTION OF " + name + " FAILED: " + outcome.error);
    engine::Run(state, WindowEvents(state)).FlushLog();
    tk::ErrorBox("WinKalvex", "Cannot reduce " + name + ": " + outcome.error);
    return;
  }
  log.Line("  " + name + " REDUCED TO SHELX HKLF 4 AND CIF");
  log.Empty();
  for (const std::string& line : outcome.summary) log.Line(" " + line);
  log.Empty();
  engine::Run(state, WindowEvents(state)).FlushLog();
  ShowSummary(state, outcome.summary);
  // The report opens in any web browser; its address goes to the clipboard.
  if (!outcome.report_file.empty() &&
      tk::AskChoice("WinKalvex", "The reduction report is written to " + outcome.report_file +
                                     ": copy its address, to open it in a web browser?",
                    "Copy address|Close") == 0)
    tk::SetClipboardText("file://" + fileio::AbsolutePath(outcome.report_file));
}

}  // namespace kalvex
