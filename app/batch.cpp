// kalvex integrate: the options made a request, the engine's Integrate
// called, its boxes, progress and outcome printed.
#include "app/batch.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

#include "common/file_names.h"
#include "common/progress_text.h"
#include "engine/integrate.h"
#include "engine/reduction.h"
#include "report/session.h"
#include "scan/reflection_input.h"

namespace kalvex {

namespace {

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

int FormatCode(const std::string& name) {
  if (name == "xcalibur") return kFormatXcalibur;
  if (name == "single") return kFormatSingle;
  if (name == "cad4") return kFormatCad4;
  if (name == "xscans") return kFormatXscans;
  return 0;
}

engine::IntegrateRequest RequestOf(const BatchOptions& opt) {
  engine::IntegrateRequest r;
  r.data = opt.data;
  r.parameters = opt.parameters;
  r.output = opt.output;
  r.existing = opt.append    ? engine::ExistingOutput::kAppend
               : opt.replace ? engine::ExistingOutput::kReplace
                             : engine::ExistingOutput::kRefuse;
  r.input_format = FormatCode(opt.input_format);
  r.output_format = opt.output_format == "rfine-extended" ? kOutputRfineExtended
                    : opt.output_format == "shelx"        ? kOutputShelx
                                                          : kOutputRfine;
  r.omega_step = opt.omega_step;
  r.skip_weak = opt.skip_weak;
  const std::pair<const char*, int> defaults[] = {
      {"background", kBackground}, {"fwhm", kFwhm}, {"position", kPosition}, {"eta", kEta}, {"iratio", kIratio}};
  for (const std::string& name : opt.defaults)
    for (const auto& [key, k] : defaults)
      if (name == key) r.defaults[k] = 1;
  const std::string backgrounds[4] = {"none", "spline", "exp", "from-scan"};
  for (int i = 0; i < 4; ++i)
    if (opt.background == backgrounds[i]) r.background = i;
  r.nstep_bg = opt.nstep_bg;
  r.calc_background = opt.calc_background;
  r.preprocess = opt.preprocess;
  r.threshold = opt.threshold;
  r.calc_fwhm = opt.calc_fwhm;
  r.calc_ub = opt.calc_ub;
  r.refinement = {engine::CrystalSystemFromName(opt.system), opt.offsets, opt.omega_zero};
  return r;
}

// A box as a line of stderr: "kalvex: TITLE: message", its further lines
// indented under it.
void PrintBox(TerminalLine& progress, std::string_view title, std::string_view text) {
  std::string message(text);
  for (std::size_t at = message.find('\n'); at != std::string::npos; at = message.find('\n', at)) {
    message.replace(at, 1, "\n  ");
    at += 3;
  }
  progress.End();
  std::fprintf(stderr, "kalvex: %.*s: %s\n", static_cast<int>(title.size()), title.data(), message.c_str());
}

}  // namespace

int RunBatch(const BatchOptions& opt) {
  // The report's name is checked against the run's files before anything is
  // written.
  const std::string report = opt.report.empty() ? std::string() : fileio::AbsolutePath(opt.report);
  TerminalLine progress(!opt.quiet && isatty(STDERR_FILENO) == 1);
  const auto fail = [&progress](const std::string& message, int status) {
    progress.End();
    std::fprintf(stderr, "kalvex: %s\n", message.c_str());
    return status;
  };

  engine::Events events;
  events.error = [&](std::string_view title, std::string_view text) { PrintBox(progress, title, text); };
  // "End of input data file" alone says nothing a batch run's end does not;
  // what follows it (what the intensity file lacks) is said.
  events.message = [&](std::string_view title, std::string_view text) {
    constexpr std::string_view kEnd = engine::kEndOfDataText;
    if (text == kEnd) return;
    if (text.starts_with(kEnd) && text.size() > kEnd.size() && text[kEnd.size()] == '\n') {
      text.remove_prefix(kEnd.size() + 1);
    }
    PrintBox(progress, title, text);
  };
  if (progress.Shown()) {
    events.progress = [&](int passed, int total, double rate) { progress.Show(ProgressText(passed, total, rate)); };
  }
  events.pass_ended = [&] { progress.End(); };
  if (!report.empty()) events.written = [](ProgramState& state) { report::NoteReflection(state); };

  engine::IntegrateRequest request = RequestOf(opt);
  if (!report.empty()) {
    const std::string data = fileio::AbsolutePath(opt.data);
    const std::string out = fileio::AbsolutePath(
        opt.output.empty() ? std::filesystem::path(opt.data).replace_extension(".int").string() : opt.output);
    const std::string log = (std::filesystem::path(data).parent_path() /
                             engine::LogFileName(std::filesystem::path(data).filename().string()))
                                .string();
    for (const std::string& file : {data, fileio::AbsolutePath(opt.parameters), out, log}) {
      if (fileio::SameFile(report, file))
        return fail(report + " is an input, the intensity file or the log of this run: give another --report", 2);
    }
  }

  const engine::IntegrateOutcome out = engine::Integrate(request, events);
  progress.End();
  if (request.preprocess && out.state) std::printf("Preprocessing kept %d reflections\n", out.preprocessed);
  if (out.failure == engine::Failure::kReadError) {
    // The box has said it with the program's words; a file refused before
    // it was read has its reason here.
    if (!out.read_error && out.state && out.state->parameter_error.empty()) std::fprintf(stderr, "kalvex: %s\n", out.message.c_str());
    if (!out.state) std::fprintf(stderr, "kalvex: %s\n", out.message.c_str());
    return 1;
  }
  if (out.failure != engine::Failure::kNone) return fail(out.message, out.ExitStatus());
  const ProgramState& state = *out.state;
  if (out.fwhm) std::printf("FWHM = %.4f + %.4f tan(theta)\n", out.fwhm->a, out.fwhm->b);
  if (out.orientation_refined) {
    const OrientationState& o = state.orientation;
    const char* names[7] = {"a", "b", "c", "alpha", "beta", "gamma", "V"};
    std::printf("Refined cell from %d reflections%s%s:\n", state.preprocessed_list.count,
                opt.system.empty() ? "" : ", constrained ", opt.system.c_str());
    for (int i = 0; i < 7; ++i) std::printf("  %-6s %12.5f (%.5f)\n", names[i], o.cell[i], o.cell_esd[i]);
    std::printf("  omega zero %10.4f\n  offsets    %10.4f %10.4f %10.4f\n", o.omega_zero, o.offsets[0],
                o.offsets[1], o.offsets[2]);
  }
  // The log keeps its fixed columns; the terminal's summary widens them
  // for counts of 100,000 and more.
  for (const std::string& line : ClassificationSummary(state.data_set.input_class, state.fit,
                                                       SummaryWidth(state.data_set.input_class, state.fit))) {
    std::printf("%s\n", line.c_str());
  }
  if (!report.empty()) {
    const std::string error = report::WriteSessionReport(state, report);
    if (!error.empty()) return fail("cannot write " + error, 1);
    std::printf("\nReport %s\n", report.c_str());
  }
  std::printf("\nWrote %s\n      %s\n", out.output_path.c_str(), out.log_path.c_str());
  // A reflection the data file ends inside (its box has named it) is not in
  // the intensity file: the run is not whole.
  return out.ExitStatus();
}

}  // namespace kalvex
