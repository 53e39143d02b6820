// A whole data file integrated by one call, in the order a user works in the
// window: open the files, the background pass, preprocessing with Calc FWHM
// and Calc UB, back to the first reflection, then the automatic run.
#include "engine/integrate.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/file_names.h"
#include "scan/reflection_input.h"

namespace kalvex::engine {

namespace fs = std::filesystem;

namespace {

// Why a file cannot be an input of the run: it must be a regular file (a
// pipe or a device reads as nothing, and the run would go on without it).
std::optional<std::string> NotReadable(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec) return "cannot read " + path + ": " + ec.message();
  if (!fs::is_regular_file(status)) return "cannot read " + path + ": not a regular file (give the file itself, not a pipe or a device)";
  return std::nullopt;
}

bool IsAnyOf(const std::string& name, const std::vector<std::string>& files) {
  return std::any_of(files.begin(), files.end(), [&](const std::string& file) { return fileio::SameFile(name, file); });
}

// A pass over the data file step by step until it ends; the last step.
template <class Next>
Step Pass(Run& run, const Events& events, Next&& next) {
  run.ResumeProgress();
  run.ShowProgress(true);
  Step step = Step::kDone;
  do {
    step = next();
    run.ShowProgress();
  } while (step == Step::kDone || step == Step::kCutShort);
  run.ShowProgress(true);
  if (events.pass_ended) events.pass_ended();
  return step;
}

}  // namespace

IntegrateOutcome Integrate(const IntegrateRequest& request, const Events& events) {
  IntegrateOutcome out;
  const auto fail = [&out](Failure failure, std::string message) -> IntegrateOutcome {
    out.failure = failure;
    out.message = std::move(message);
    return std::move(out);
  };
  const fs::path data = fs::absolute(request.data).lexically_normal();
  const fs::path parameters = fs::absolute(request.parameters).lexically_normal();
  fs::path output = request.output.empty() ? fs::path(data).replace_extension(".int")
                                           : fs::absolute(request.output).lexically_normal();
  // The name the program opens: a name without "." gets ".INT".
  output.replace_filename(OutputFileName(output.filename().string()));
  const int format = request.input_format != 0 ? request.input_format : FormatFromName(data.filename().string());
  if (format == 0) {
    return fail(Failure::kUsage,
                "cannot tell the format of " + data.filename().string() + " from its name: give --input-format");
  }
  for (const fs::path& input : {data, parameters}) {
    if (auto why = NotReadable(input.string())) return fail(Failure::kReadError, *why);
  }
  // The intensity file may be no input and not the log; it must be new
  // unless the request says what to do with it.
  const std::vector<std::string> run_files = {data.string(), parameters.string(),
                                              (data.parent_path() / LogFileName(data.filename().string())).string()};
  if (IsAnyOf(output.string(), run_files)) {
    return fail(Failure::kUsage, output.string() + " is an input or the log of this run: give another --out");
  }
  std::error_code ec;
  if (!fs::is_directory(output.parent_path(), ec)) {
    return fail(Failure::kFatal, "cannot write " + output.string() + ": " + std::strerror(ENOENT) + " (no directory " +
                                     output.parent_path().string() + ")");
  }
  const bool existed = fs::exists(output, ec);
  if (existed && request.existing == ExistingOutput::kRefuse) {
    return fail(Failure::kUsage, output.string() + " exists: give --append to add to it or --replace to write it anew");
  }

  out.state = NewProgramState();
  ProgramState& state = *out.state;
  state.params.output_format = kOutputRfine;
  state.plot.drawn = false;
  state.tick_budget_ms = 0;
  // The count is there for the progress: where none is shown, the pass
  // that counts is not made.
  state.count_reflections = static_cast<bool>(events.progress);
  Run run(state, events);

  // A run that fails before its first record leaves no new intensity file.
  bool created = false;
  const auto give_up = [&](Failure failure, std::string message) -> IntegrateOutcome {
    state.files.output.Close();
    state.files.log.Close();
    if (created && !state.files.written_any) fs::remove(output, ec);
    return fail(failure, std::move(message));
  };
  const auto read_failed = [&]() -> IntegrateOutcome {
    out.read_error = state.files.read_error;
    const std::string message = state.files.read_error ? state.files.read_error->message : state.parameter_error;
    return give_up(Failure::kReadError, message);
  };

  // The data file, its format and a Single file's omega step.
  if (auto why = run.OpenDataFile(data.string())) return give_up(Failure::kFatal, "cannot open " + data.string() + ": " + *why);
  if (!state.files.log.IsOpen()) {
    return give_up(Failure::kFatal, "no log could be written beside " + data.string() + ": nothing was integrated");
  }
  state.params.input_format = format;
  if (request.omega_step > 0) state.data_set.omega_step = request.omega_step;
  if (!run.ReadFirst()) return read_failed();

  if (auto why = run.OpenParameterFile(parameters.string())) {
    return give_up(Failure::kFatal, "cannot open " + parameters.string() + ": " + *why);
  }
  if (!state.parameter_error.empty() || state.files.read_error) return read_failed();

  const bool append = request.existing == ExistingOutput::kAppend || !existed;
  if (auto why = run.OpenOutputFile(output.string(), append)) {
    return give_up(Failure::kFatal, "cannot write " + *why);
  }
  created = !existed;
  state.params.output_format = request.output_format;

  // The background: the pass of "Calc Background" first when asked, then
  // the choice its dialog offers.
  if (request.calc_background) {
    if (!run.StartBackgroundPass()) return read_failed();
    if (Pass(run, events, [&] { return run.BackgroundNext(); }) == Step::kReadError) return read_failed();
    run.FinishBackgroundPass();
  }
  if (request.background >= 0) state.params.bg_type = request.background;
  if (request.nstep_bg > 0 && state.params.bg_type == kBgFromScan) state.params.nstep_bg = request.nstep_bg;

  if (request.preprocess) {
    run.PrepareStartValues();
    if (!run.StartPreprocessing(request.threshold)) return read_failed();
    const Step last = Pass(run, events, [&] { return run.PreprocessNext(); });
    out.preprocessed = state.preprocessed_list.count;
    if (last == Step::kReadError) return read_failed();
    if (last != Step::kEndOfData) return give_up(Failure::kFatal, "the preprocessing pass did not complete");
    run.FinishPreprocessing();
    if (request.calc_fwhm) {
      const FwhmLine line = FitFwhmLine(state.preprocessed_list);
      SessionRecord& record = state.session_record;
      record.fwhm_line = true;
      record.fwhm_a = line.a;
      record.fwhm_b = line.b;
      state.params.pdef[kFwhm][kCoefA] = line.a;
      state.params.pdef[kFwhm][kCoefB] = line.b;
      state.choices.fwhm_line_stored = true;
      out.fwhm = line;
    }
    if (request.calc_ub) {
      if (state.preprocessed_list.count < 3) {
        events.Error("Win-Kalvex", "Too Few Reflections for Least Squares");
        return give_up(Failure::kFatal, "\"Calc UB\" could not refine");
      }
      run.RefineOrientation(request.refinement);
      if (!state.orientation.corrections_valid) return give_up(Failure::kFatal, "\"Calc UB\" could not refine");
      out.orientation_refined = true;
    }
  }
  // A pass leaves the file's last reflection in memory; the run starts
  // again from the first, fitted as manual fitting would show it.
  if (request.preprocess || request.calc_background) {
    state.fitting_mode = kManualFitting;
    run.PrepareStartValues();
    run.FitWithRetry();
    if (run.Read(1) == kReadError) return read_failed();
    run.FitWithRetry();
  }
  if (state.end_requested) return give_up(Failure::kFatal, state.end_message);

  // "Auto profile fit": the controls as asked, then "Go" to the end.
  run.StartAutoFit();
  run.PrepareStartValues();
  state.default_flag = request.defaults;
  state.skip_weak_control = request.skip_weak ? 1 : 0;
  run.ResumeProgress();
  run.ShowProgress(true);
  run.GoOn();
  Step last = Step::kDone;
  while (!state.end_requested) {
    last = run.FitNext();
    run.ShowProgress();
    if (last == Step::kEndOfData || last == Step::kReadError || last == Step::kFatal) break;
    if (events.stop && events.stop()) break;
  }
  if (last == Step::kReadError) {
    run.FlushRecords();
    if (events.pass_ended) events.pass_ended();
    return read_failed();
  }
  if (last == Step::kEndOfData) {
    out.notes = run.FinishAutoFit();
    out.unwritten = run.Missing();
  } else {
    run.FlushRecords();
  }
  if (events.pass_ended) events.pass_ended();
  out.cut_short = state.files.cut_short;
  if (state.end_requested) return give_up(Failure::kFatal, state.end_message);
  state.files.output.Close();
  state.files.log.Close();
  // What could not be written at the end has no step left to say it.
  for (const textfile::RecordWriter* file : {&state.files.output, &state.files.log}) {
    if (!file->Error().empty()) return fail(Failure::kFatal, "cannot write " + file->Error());
  }
  out.summary = ClassificationSummary(state.data_set.input_class, state.fit);
  out.output_path = state.files.output_path;
  out.log_path = state.files.log_path;
  if (last != Step::kEndOfData) return fail(Failure::kFatal, "the run was stopped before the end of the data");
  return out;
}

}  // namespace kalvex::engine
