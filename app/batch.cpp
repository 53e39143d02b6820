// The batch run: the window's commands in the order a user gives them.
#include "app/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "commands/data_file.h"
#include "commands/files.h"
#include "engine/reduction.h"
#include "commands/report.h"
#include "common/file_names.h"
#include "scan/reflection_input.h"
#include "shell/command_loop.h"
#include "toolkit/script/script.h"
#include "toolkit/toolkit.h"
#include "ui/user_interface.h"

namespace kalvex {

namespace fs = std::filesystem;

namespace {

struct Place {
  std::string name;
  std::string directory;
};

Place Split(const std::string& path) {
  const fs::path p = fs::absolute(path).lexically_normal();
  return {p.filename().string(), p.parent_path().string()};
}

int FormatToggle(const Widgets& w, const std::string& format) {
  if (format == "xcalibur") return w.format_xcalibur;
  if (format == "single") return w.format_single;
  if (format == "cad4") return w.format_cad4;
  return w.format_xscans;
}

// The format's name as the options give it.
std::string FormatName(int format) {
  switch (format) {
    case kFormatXcalibur: return "xcalibur";
    case kFormatCad4: return "cad4";
    case kFormatXscans: return "xscans";
    default: return {};
  }
}

// Ends the run's progress line on the terminal, if one is open, before last
// words are said.
std::function<void()> g_end_progress_line;

[[noreturn]] void Fail(const std::string& message, int status) {
  if (g_end_progress_line) g_end_progress_line();
  std::fprintf(stderr, "kalvex: %s\n", message.c_str());
  std::exit(status);
}

// A file the run could not read has been named, with the program's message,
// by the box that showed it; the run ends there.
void EndOnReadError(const ProgramState& state) {
  if (state.files.read_error || !state.parameter_error.empty()) std::exit(1);
}

// Runs a command as the window would and stops the batch run after a read error.
bool Dispatch(ProgramState& state, int code) {
  const bool known = DispatchCommand(state, code);
  EndOnReadError(state);
  return known;
}

// The status bar's progress on a terminal: one line, rewritten in place,
// ended when its pass ends or something else must be said. Nothing when
// stderr is not a terminal (a log file, a pipe): a line rewritten a few
// times a second is no record.
class TerminalLine {
 public:
  explicit TerminalLine(bool shown) : shown_(shown) {}
  bool Shown() const { return shown_; }
  void Show(const std::string& text) {
    if (!shown_) return;
    // Blanks over what is left of a longer line before.
    const std::size_t width = Width(text);
    const std::string pad(width_ > width ? width_ - width : 0, ' ');
    std::fprintf(stderr, "\r%s%s", text.c_str(), pad.c_str());
    std::fflush(stderr);
    width_ = width;
    open_ = true;
  }
  void End() {
    if (!open_) return;
    std::fputc('\n', stderr);
    open_ = false;
    width_ = 0;
  }

 private:
  // Characters on the screen: UTF-8 continuation bytes take no column.
  static std::size_t Width(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
  }
  bool shown_;
  bool open_ = false;
  std::size_t width_ = 0;
};

// "Preprocess", then optionally "Calc FWHM" and "Calc UB", answering their
// dialogs; the refined cell is printed.
void Prepare(ProgramState& state, const BatchOptions& opt, const std::function<void()>& queue_omega_step,
             TerminalLine& progress) {
  const Widgets& w = state.widgets;
  script::QueueNumber(w.preprocess_threshold, opt.threshold);
  script::QueueClick(kCodePreprocessGo);
  queue_omega_step();
  Dispatch(state, kCodePreprocess);
  progress.End();
  std::printf("Preprocessing kept %d reflections\n", state.preprocessed_list.count);
  if (state.preprocessed != 1) Fail("the preprocessing pass did not complete", 1);
  if (opt.calc_fwhm) {
    script::QueueClick(kCodeFwhmSave);
    Dispatch(state, kCodeCalcFwhm);
    std::printf("FWHM = %.4f + %.4f tan(theta)\n", state.params.pdef[kFwhm][kCoefA], state.params.pdef[kFwhm][kCoefB]);
  }
  if (!opt.calc_ub) return;
  if (!opt.system.empty()) {
    script::QueueToggle(w.refine_constrained, 1);
    script::QueueListSelect(w.refine_system_list, engine::CrystalSystemFromName(opt.system));
  }
  if (opt.offsets) script::QueueToggle(w.refine_offsets, 1);
  if (opt.omega_zero) script::QueueToggle(w.refine_omega_zero, 1);
  script::QueueClick(kCodeRefineGo);
  script::QueueClick(kCodeResultsOk);
  Dispatch(state, kCodeCalcUB);
  if (!state.orientation.corrections_valid) Fail("\"Calc UB\" could not refine", 1);
  const OrientationState& o = state.orientation;
  const char* names[7] = {"a", "b", "c", "alpha", "beta", "gamma", "V"};
  std::printf("Refined cell from %d reflections%s%s:\n", state.preprocessed_list.count,
              opt.system.empty() ? "" : ", constrained ", opt.system.c_str());
  for (int i = 0; i < 7; ++i) std::printf("  %-6s %12.5f (%.5f)\n", names[i], o.cell[i], o.cell_esd[i]);
  std::printf("  omega zero %10.4f\n  offsets    %10.4f %10.4f %10.4f\n", o.omega_zero, o.offsets[0], o.offsets[1],
              o.offsets[2]);
}

// Refuses, before anything is opened, an intensity file the run must not
// write: one that is an input or the log, one in a directory that does not
// exist, and an existing one without --append or --replace.
// The inputs and the log of the run.
std::vector<fs::path> InputsAndLog(const Place& data, const Place& parameters) {
  return {fs::path(data.directory) / data.name, fs::path(parameters.directory) / parameters.name,
          fs::path(data.directory) / LogFileName(data.name)};
}

bool IsAnyOf(const std::string& name, const std::vector<fs::path>& files) {
  return std::any_of(files.begin(), files.end(),
                     [&](const fs::path& file) { return fileio::SameFile(name, file.string()); });
}

void CheckOutput(const BatchOptions& opt, const Place& data, const Place& parameters, const Place& output) {
  const fs::path out = fs::path(output.directory) / output.name;
  std::error_code ec;
  if (IsAnyOf(out.string(), InputsAndLog(data, parameters))) {
    Fail(out.string() + " is an input or the log of this run: give another --out", 2);
  }
  if (!fs::is_directory(output.directory, ec)) {
    Fail("cannot write " + out.string() + ": " + std::strerror(ENOENT) + " (no directory " + output.directory + ")",
         1);
  }
  if (fs::exists(out, ec) && !opt.append && !opt.replace) {
    Fail(out.string() + " exists: give --append to add to it or --replace to write it anew", 2);
  }
}

}  // namespace

int RunBatch(const BatchOptions& opt) {
  const Place data = Split(opt.data);
  const Place parameters = Split(opt.parameters);
  Place output = Split(opt.output.empty() ? fs::path(opt.data).replace_extension(".int").string() : opt.output);
  // The name the program opens: a name without "." gets ".INT".
  output.name = OutputFileName(output.name);
  const std::string format = opt.input_format.empty() ? FormatName(FormatFromName(data.name)) : opt.input_format;
  if (format.empty()) Fail("cannot tell the format of " + data.name + " from its name: give --input-format", 2);
  CheckOutput(opt, data, parameters, output);
  // The browsers make other directories current: the report's name is fixed now.
  const std::string report = opt.report.empty() ? std::string() : fileio::AbsolutePath(opt.report);
  std::vector<fs::path> run_files = InputsAndLog(data, parameters);
  run_files.push_back(fs::path(output.directory) / output.name);
  if (IsAnyOf(report, run_files))
    Fail(report + " is an input, the intensity file or the log of this run: give another --report", 2);

  script::Reset();
  tk::ResetRegistry();
  TerminalLine progress(!opt.quiet && isatty(STDERR_FILENO) == 1);
  g_end_progress_line = [&progress] { progress.End(); };
  BeforeLastWords(g_end_progress_line);
  struct Unhook {
    ~Unhook() {
      g_end_progress_line = nullptr;
      BeforeLastWords(nullptr);
    }
  } unhook;
  script::SetBoxObserver([&progress](const script::MessageBox& box) {
    // A fatal box is reported by the program itself as it ends; questions
    // are answered by the options.
    constexpr std::string_view kEnd = kEndOfDataText;
    if (Stopping() || box.question || box.message == kEnd) return;
    std::string message = box.message;
    if (message.starts_with(std::string(kEnd) + "\n")) message.erase(0, kEnd.size() + 1);
    for (std::size_t at = message.find('\n'); at != std::string::npos; at = message.find('\n', at)) {
      message.replace(at, 1, "\n  ");
      at += 3;
    }
    progress.End();
    std::fprintf(stderr, "kalvex: %s: %s\n", box.title.c_str(), message.c_str());
  });
  // The status bar shows a pass's progress and nothing else in a batch run.
  script::SetStatusObserver([&progress](const std::string& text) { progress.Show(text); });
  script::SetIdleHandler([]() -> int {
    Fail("the program waits for an answer this batch run does not give", 1);
  });

  auto owned = NewProgramState();
  ProgramState& state = *owned;
  const Widgets& w = state.widgets;
  state.params.output_format = kOutputRfine;
  state.plot.drawn = false;  // no one sees the plot of a batch run
  state.tick_budget_ms = 0;  // one reflection a tick, as the scripts count them
  // The count is there for the progress line: where none is shown, the
  // pass that counts is not made.
  state.count_reflections = progress.Shown();
  if (!BuildUserInterface(state)) Fail("cannot start the headless toolkit", 1);

  // A Single file's omega step is asked whenever the file is opened or
  // rewound: at opening, and before preprocessing and "Calc Background".
  const std::function<void()> queue_omega_step = [&] {
    if (format != "single") return;
    if (opt.omega_step > 0.0f) script::QueueNumber(w.omega_value, opt.omega_step);
    script::QueueClick(kCodeOmegaOk);
  };

  // "Open data file": the browser, the format dialog, the omega step box.
  script::QueueBrowse(data.name, data.directory);
  script::QueueToggle(FormatToggle(w, format), 1);
  script::QueueClick(kCodeFormatOk);
  queue_omega_step();
  OpenDataFile(state);
  EndOnReadError(state);
  if (!state.files.data_open) Fail("cannot open " + opt.data, 1);
  if (!state.files.log.IsOpen()) Fail("no log could be written beside " + opt.data + ": nothing was integrated", 1);

  script::QueueBrowse(parameters.name, parameters.directory);
  OpenParameterFile(state);
  EndOnReadError(state);

  script::QueueBrowse(output.name, output.directory);
  if (opt.append || opt.replace) script::QueueAnswer(opt.append ? 0 : 1);
  Dispatch(state, kCodeOpenOutput);
  if (!state.files.output_open) {
    Fail("no intensity file could be opened: nothing was integrated", 1);
  }

  const int output_toggles[3] = {w.out_rfine, w.out_rfine_extended, w.out_shelx};
  const int output_index = opt.output_format == "rfine-extended" ? 1 : opt.output_format == "shelx" ? 2 : 0;
  script::QueueToggle(output_toggles[output_index], 1);
  script::QueueClick(kCodeOutputSave);
  Dispatch(state, kCodeOutputFormat);

  // Background choice, after the optional "Calc Background" pass whose
  // dialog then asks for it.
  const int bg_codes[4] = {kCodeBgNone, kCodeBgSpline, kCodeBgExp, kCodeBgFromScan};
  const std::string bg_names[4] = {"none", "spline", "exp", "from-scan"};
  auto queue_background = [&] {
    for (int i = 0; i < 4; ++i)
      if (opt.background == bg_names[i]) script::QueueClick(bg_codes[i]);
    if (opt.nstep_bg > 0) script::QueueNumber(w.bg_nstep, static_cast<float>(opt.nstep_bg));
  };
  if (opt.calc_background) {
    queue_omega_step();
    queue_background();
    script::QueueClick(kCodeBgSave);
    if (!Dispatch(state, kCodeCalcBackground)) Fail("\"Calc Background\" is not available", 1);
    progress.End();
  } else if (!opt.background.empty() || opt.nstep_bg > 0) {
    queue_background();
    script::QueueClick(kCodeBgSave);
    Dispatch(state, kCodeBackgrounds);
  }

  if (opt.preprocess) Prepare(state, opt, queue_omega_step, progress);
  // A pass over the file leaves its last reflection in memory; a user goes
  // back to the first through "Manual profile fit" (sequence number 1,
  // "Go", "Exit") before integrating.
  if (opt.preprocess || opt.calc_background) {
    script::QueueNumber(w.main[kWSeqEntry], 1.0f);
    script::QueueClick(kCodeSeqGo);
    script::QueueClick(kCodeExit);
    Dispatch(state, kCodeManualFit);
  }

  // "Auto profile fit": the peak defaults stay as they are; the "D" column
  // and "Skip weak reflns" as asked; then "Go" until the end of the data.
  script::QueueClick(kCodePeakQuit);
  const std::pair<const char*, int> defaults[] = {
      {"background", kBackground}, {"fwhm", kFwhm}, {"position", kPosition}, {"eta", kEta}, {"iratio", kIratio}};
  for (const std::string& name : opt.defaults) {
    for (const auto& [key, k] : defaults)
      if (name == key) script::QueueToggle(w.fit_rows[k].default_toggle, 1);
  }
  if (opt.skip_weak) script::QueueToggle(w.fit_skip_weak, 1);
  script::QueueClick(kCodeGo);
  if (!Dispatch(state, kCodeAutoFit)) Fail("\"Auto profile fit\" is not available", 1);
  progress.End();
  state.files.output.Close();
  state.files.log.Close();
  // What could not be written at the end has no command left to say it.
  for (const textfile::RecordWriter* file : {&state.files.output, &state.files.log}) {
    if (!file->Error().empty()) Fail("cannot write " + file->Error(), 1);
  }

  for (const std::string& line : ClassificationSummary(state.data_set.input_class, state.fit)) {
    std::printf("%s\n", line.c_str());
  }
  if (!report.empty()) {
    const std::string error = WriteSessionReport(state, report);
    if (!error.empty()) Fail("cannot write " + error, 1);
    std::printf("\nReport %s\n", report.c_str());
  }
  std::printf("\nWrote %s\n      %s\n", state.files.output_path.c_str(), state.files.log_path.c_str());
  tk::Exit();
  return 0;
}

}  // namespace kalvex
