// A run's work on the program's state: what every door of the program calls.
#include "engine/run.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <thread>

#include "common/constants.h"
#include "engine/batch_command.h"
#include "common/file_names.h"
#include "common/fixed_fields.h"
#include "fit/background.h"
#include "fit/fit_reflection.h"
#include "fit/intensity_file.h"
#include "refine/cell_lsq.h"
#include "refine/offsets.h"
#include "scan/parameter_file.h"
#include "scan/read_ahead.h"
#include "scan/reflection_input.h"

namespace kalvex::engine {

namespace fs = std::filesystem;
using fields::FormatInt;
using fields::FormatReal;
using fileio::AbsolutePath;
using fileio::SameFile;

namespace {

// A name shown in a 12-column record field keeps at least its 12 columns.
std::string NameField(const std::string& name) { return name.size() < 12 ? fields::Fixed(name, 12) : name; }

// The directory part of a path ("" for a bare name: the current one).
std::string DirectoryOf(const std::string& path) { return fs::path(path).parent_path().string(); }
std::string Beside(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : (fs::path(directory) / name).string();
}

// A pass of its own over the data file from its header on, on copies of
// what reading changes; the run's place in the file is set back after it.
// `each` sees every reflection read, whole or cut, and returns false to end
// the pass. False when the header or a reflection could not be read.
template <class Each>
bool PassOverCopies(ProgramState& state, bool every_reflection, Each&& each) {
  textfile::LineSource& data = state.files.data;
  const std::size_t place = data.Position();
  DataSet set = state.data_set;
  if (every_reflection) set.skip_weak = 0;
  RunParameters params = state.params;
  auto scan = std::make_unique<ScanReflection>();
  const ReaderParts parts{data, set, params, *scan};
  data.Rewind();
  bool whole = !ReadScanHeader(parts, state.files.data_file_name).Failed();
  while (whole) {
    const ReadResult read = ReadNextReflection(parts, scan->seq_no + 1);
    if (read.status == kEndOfData) break;
    whole = read.status == kReadOk || read.status == kReadFailed;
    if (whole && !each(*scan)) break;
  }
  data.SetPosition(place);
  return whole;
}

}  // namespace

// ---------------------------------------------------------------- names

ReaderParts PartsOf(ProgramState& state) { return {state.files.data, state.data_set, state.params, state.scan}; }

std::string ReflectionLabel(const ScanReflection& scan) {
  std::string label = " REFLECTION " + FormatInt(scan.seq_no, 6) + "  HKL";
  for (int v : scan.hkl) label += FormatInt(v, 4);
  return label;
}

std::string Ranges(const std::vector<int>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(numbers[i]);
    if (j > i) text += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return text;
}

std::string UnwrittenNote(const std::vector<int>& missing, const std::string& file, std::size_t room) {
  if (missing.empty()) return {};
  std::string ranges = Ranges(missing);
  if (ranges.size() > room) {
    const std::size_t cut = ranges.rfind(", ", room);
    ranges = ranges.substr(0, cut == std::string::npos ? room : cut) + ", ...";
  }
  return (missing.size() == 1 ? "Reflection " + ranges + " is not in " : "Reflections " + ranges + " are not in ") +
         file;
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

int FormatFromName(std::string_view name) {
  const auto dot = name.rfind('.');
  std::string ext(dot == std::string_view::npos ? name.substr(0, 3) : name.substr(dot + 1, 3));
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ext == "DCA") return kFormatXcalibur;
  if (ext == "DAT") return kFormatCad4;
  if (ext == "P4T") return kFormatXscans;
  return 0;
}

bool IsRunFile(const FileState& f, const std::string& name) {
  return SameFile(name, f.data_path) || SameFile(name, f.parameter_path) || SameFile(name, f.output_path) ||
         SameFile(name, f.log_path);
}

FwhmLine FitFwhmLine(const PreprocessedList& list) {
  double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int i = 0; i < list.count; ++i) {
    const PreprocessedEntry& e = list.entries[i];
    if (!(e.fwhm_esd > 0.0001f)) continue;
    const double w = 1.0 / (static_cast<double>(e.fwhm_esd) * e.fwhm_esd);
    const double x = std::tan(kHalfRadPerDeg * e.angles[0]);
    s += w;
    sx += w * x;
    sy += w * e.fwhm;
    sxx += w * x * x;
    sxy += w * x * e.fwhm;
  }
  FwhmLine line;
  const double d = s * sxx - sx * sx;
  // One distinct tan(theta) (or none) fixes no line: D is zero up to rounding.
  if (!(d > 1e-12 * s * sxx)) return line;
  line.a = static_cast<float>((sxx * sy - sx * sxy) / d);
  line.b = static_cast<float>((s * sxy - sx * sy) / d);
  line.esd_a = static_cast<float>(std::sqrt(sxx / d));
  line.esd_b = static_cast<float>(std::sqrt(s / d));
  return line;
}

// ---------------------------------------------------------------- files

Run::Run(ProgramState& state, Events events) : state_(state), events_(std::move(events)) {}

Run::~Run() = default;

void Run::StartLog(const std::string& directory, const std::string& data_name) {
  FileState& f = state_.files;
  auto& log = f.log;
  log.Close();
  f.log_path.clear();
  // The log never overwrites a file of the run (a data file named
  // "scan.log", say): it is then named after the whole data-file name.
  std::string name = LogFileName(data_name);
  if (IsRunFile(f, Beside(directory, name))) {
    const std::string other = data_name + ".log";
    if (IsRunFile(f, Beside(directory, other))) {
      events_.Error("WinKalvex", "Error opening log file\n" + name + " and " + other + " are files of this run");
      return;
    }
    events_.Message("WinKalvex", "The log is " + other + ": " + name + " is one of this run's files");
    name = other;
  }
  // Another run of the same data file writes this log: two runs' records
  // interleaved in one log would tell neither truly, so this one is refused.
  if (!log.Open(Beside(directory, name), false, textfile::Lock::kExclusive)) {
    events_.Error("WinKalvex", "Error opening log file\n" + log.Error());
    return;
  }
  f.log_file_name = name;
  f.log_path = AbsolutePath(Beside(directory, name));
  f.log_failed = false;
  log.Empty(2);
  log.Line("   LOG FILE CREATED BY WIN-KALVEX V3.3 ON " + LogTimestamp());
  log.Empty();
  log.Line("   INPUT DATA FILE WAS: " + NameField(data_name));
  log.Empty(2);
  FlushLog();
}

std::optional<std::string> Run::OpenDataFile(const std::string& path) {
  FileState& f = state_.files;
  Pause();
  if (f.data_open) {
    f.data.Close();
    f.data_open = false;
  }
  f.ForgetReflectionCount();
  if (!f.data.Open(path)) return std::string(std::strerror(errno));
  const std::string name = fs::path(path).filename().string();
  f.data_path = AbsolutePath(path);
  StartLog(DirectoryOf(path), name);
  f.data_file_name = name;
  f.data_open = true;
  f.read_error.reset();
  state_.session_record.ForgetReflections();
  state_.preprocessed = 0;
  // The passes over another data file repeat nothing of this one.
  SessionChoices& choices = state_.choices;
  choices.background_pass = choices.preprocessed = choices.orientation_refined = false;
  // What was written belongs to the pair of data file and intensity file:
  // another data file's sequence numbers say nothing of this one's.
  if (f.written_data_path != f.data_path) {
    if (f.output_open && f.written_any) f.output_has_other_data = true;
    f.written.Clear();
    f.written_data_path = f.data_path;
  }
  return std::nullopt;
}

bool Run::ReadFirst() {
  if (!Rewind()) return false;
  if (Read(1) == kReadError) return false;
  if (state_.count_reflections) CountReflections();
  return true;
}

std::optional<std::string> Run::OpenParameterFile(const std::string& path) {
  FileState& f = state_.files;
  if (!f.parameters.Open(path)) return std::string(std::strerror(errno));
  const std::string name = fs::path(path).filename().string();
  f.parameter_file_name = name;
  f.log.Empty(2);
  f.log.Line("  INSTRUMENT PARAMETER FILE OPENED: " + NameField(name));
  f.log.Line("  CONTENTS ARE:");
  f.log.Empty();
  // Read into copies: a file that cannot be read leaves the run's parameters
  // as they were.
  RunParameters params = state_.params;
  ParameterMarks marks = state_.parameter_marks;
  const ParameterFileResult read = ReadParameterFile(f.parameters, params, marks);
  for (const std::string& line : read.echo) f.log.Line(line);
  if (read.error) {
    ShowReadError(*read.error);
    state_.parameter_error = read.error->message;
    return std::nullopt;
  }
  state_.params = params;
  state_.parameter_marks = marks;
  state_.parameter_error.clear();
  state_.parameters_read = true;
  f.parameter_path = AbsolutePath(path);
  state_.choices.read = params;
  state_.choices.parameters_known = true;
  state_.choices.fwhm_line_stored = false;
  f.log.Empty();
  f.log.Line(" ****************END OF PARAMETER FILE***************");
  f.log.Empty(2);
  FlushLog();
  // The reflection read when the data file opened was scaled before the
  // parameter file gave the attenuator factor.
  ReadAgain();
  return std::nullopt;
}

std::optional<std::string> Run::OpenOutputFile(const std::string& path, bool append) {
  FileState& f = state_.files;
  if (f.output_open) {
    FlushRecords();
    f.output.Close();
    f.output_open = false;
  }
  f.output_path.clear();
  std::error_code ec;
  const bool had_records = append && fs::file_size(path, ec) > 0 && !ec;
  // Locked while open: a second run writing the same intensity file is
  // refused rather than interleaving its records with these.
  if (!f.output.Open(path, append, textfile::Lock::kExclusive)) return f.output.Error();
  state_.choices.appended = had_records;
  const std::string name = fs::path(path).filename().string();
  f.log.Empty(2);
  f.log.Line("  INTEGRATED DATA FILE OPENED: " + NameField(name));
  if (f.output.TornBytesCut() > 0) {
    // A run that stopped mid-record left a torn last line; it was cut
    // before anything is appended.
    f.log.Line("  " + std::to_string(f.output.TornBytesCut()) + " BYTES OF A TORN LAST RECORD CUT FROM " + name);
  }
  FlushLog();
  f.output_file_name = name;
  f.output_path = AbsolutePath(path);
  f.written.Clear();
  f.written_data_path = f.data_path;
  f.written_any = false;
  f.output_has_other_data = false;
  f.pending_seq_nos.clear();
  // The report, like the list of what was written, follows the new file.
  state_.session_record.ForgetReflections();
  f.output_open = true;
  return std::nullopt;
}

// ---------------------------------------------------------------- reading

void Run::ShowReadError(const ReadError& error) {
  events_.Error("WinKalvex", FatalMessageText(error.message));
  if (state_.files.log.IsOpen()) {
    state_.files.log.Line(" " + error.message);
    FlushLog();
  }
}

void Run::ReadFailed(const ReadError& error) {
  Pause();
  ShowReadError(error);
  FileState& f = state_.files;
  f.data.Close();
  f.data_open = false;
  f.read_error = error;
  f.ForgetReflectionCount();
  if (events_.data_file_closed) events_.data_file_closed(error);
}

int Run::Read(int request, const Hkl& wanted, bool announce_end) {
  const ReadResult result = ReadNextReflection(PartsOf(state_), request, wanted);
  if (result.Failed()) {
    ReadFailed(result.error);
  } else if (result.status == kEndOfData && announce_end) {
    events_.Message("WIN-KALVEX", kEndOfDataText);
  }
  return result.status;
}

void Run::ReadAgain() {
  if (!state_.files.data_open || state_.scan.seq_no <= 0) return;
  const int seq_no = state_.scan.seq_no;
  const std::array<int, kInputClasses> counts = state_.data_set.input_class;
  // The header is read into a copy: its wavelengths and attenuator factor
  // must not undo the parameter file's.
  RunParameters header_params = state_.params;
  state_.files.data.Rewind();
  state_.scan.seq_no = 0;
  ReadResult read = ReadScanHeader({state_.files.data, state_.data_set, header_params, state_.scan},
                                   state_.files.data_file_name);
  if (!read.Failed()) read = ReadNextReflection(PartsOf(state_), seq_no);
  state_.data_set.input_class = counts;
  if (read.Failed()) ReadFailed(read.error);
}

bool Run::Rewind() {
  Pause();
  state_.scan.seq_no = 0;
  state_.files.data.Rewind();
  const ReadResult header = ReadScanHeader(PartsOf(state_), state_.files.data_file_name);
  if (header.Failed()) {
    ReadFailed(header.error);
    return false;
  }
  return true;
}

std::vector<int> Run::FileSequenceNumbers(int before) {
  std::vector<int> numbers;
  if (!state_.files.data_open) return numbers;
  PassOverCopies(state_, false, [&](const ScanReflection& scan) {
    if (scan.seq_no >= before) return false;
    numbers.push_back(scan.seq_no);
    return true;
  });
  return numbers;
}

void Run::CountReflections() {
  FileState& f = state_.files;
  f.ForgetReflectionCount();
  if (!f.data_open) return;
  // Every reflection counts, the weak ones a pass may skip too: the place in
  // the file measures progress, not what a pass keeps.
  std::vector<std::uint32_t> ends;
  const bool whole = PassOverCopies(state_, true, [&](const ScanReflection&) {
    ends.push_back(static_cast<std::uint32_t>(f.data.Position()));
    return true;
  });
  if (!whole) return;
  f.reflection_ends = std::move(ends);
  f.reflection_count = static_cast<int>(f.reflection_ends.size());
}

int Run::Passed(std::optional<std::size_t> position) const {
  const FileState& f = state_.files;
  if (f.reflection_count < 0 || !f.data_open) return -1;
  const auto at = static_cast<std::uint32_t>(position.value_or(f.data.Position()));
  return static_cast<int>(std::upper_bound(f.reflection_ends.begin(), f.reflection_ends.end(), at) -
                          f.reflection_ends.begin());
}

std::vector<int> Run::Unwritten(const std::vector<int>& run) {
  std::vector<int> missing;
  if (!state_.files.output_open) return missing;
  // The run read what follows its first reflection; only what comes before
  // that has to be read again.
  std::vector<int> numbers = FileSequenceNumbers(run.empty() ? std::numeric_limits<int>::max() : run.front());
  numbers.insert(numbers.end(), run.begin(), run.end());
  for (int seq_no : numbers)
    if (!state_.files.written.Contains(seq_no)) missing.push_back(seq_no);
  std::sort(missing.begin(), missing.end());
  missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
  return missing;
}

void Run::LogUnread(std::string_view consequence) {
  // A reflection cut before its indices has none to be named by: its place
  // in the file names it. Either way the file and the line where it ends
  // say where to look.
  const FileState& f = state_.files;
  const std::string where = " (" + f.data_file_name + " ends at line " + std::to_string(f.data.LineNumber()) + ")";
  const std::string label = state_.scan.seq_no == 0 && state_.scan.hkl == Hkl{0, 0, 0}
                                ? " REFLECTION ENDING AT LINE " + std::to_string(f.data.LineNumber())
                                : ReflectionLabel(state_.scan);
  const std::string text = label + "  NOT READ IN FULL: " + std::string(consequence) + where;
  // No fit of the reflection before may be shown as this one's.
  state_.fit.i_fit = state_.fit.sigma_fit = state_.fit.sigma_sum = state_.fit.rwp = 0;
  state_.scan.calculated.fill(0);
  state_.files.log.Line(text);
  FlushLog();
  state_.files.cut_short.emplace_back(fields::TrimRight(text.substr(1)));
  // The file ends inside this reflection: a user must hear of it, not only
  // the log.
  events_.Error("WinKalvex", fields::TrimRight(text.substr(1)));
}

void Run::FlushLog() {
  FileState& f = state_.files;
  if (f.log.Flush() || f.log_failed) return;
  f.log_failed = true;
  events_.Error("WinKalvex", "Error writing log file " + f.log.Error());
  state_.end_requested = true;
  state_.end_message = "ERROR WRITING LOG FILE";
}

void Run::ResetCounters() {
  state_.data_set.input_class.fill(0);
  state_.fit.outcome.fill(0);
  state_.fit.refitted_count = 0;
  state_.fit.recovered_count = 0;
}

void Run::WriteSummary() {
  for (const std::string& line : ClassificationSummary(state_.data_set.input_class, state_.fit)) {
    state_.files.log.Line(line);
  }
  FlushLog();
}

// ---------------------------------------------------------------- fitting

namespace {

float CurrentFixedBackground(const ProgramState& state) {
  return FixedBackground(state.scan, state.params, state.fit.bg_table, state.scan.two_theta);
}

// The rows whose start value the controls show after seeding: the
// background and position always, the intensity when refined, the others
// when they follow their default rule.
void ShowSeeded(ProgramState& state, const FitControls& controls) {
  for (int k = 1; k <= kProfileParameters; ++k) {
    bool shown = false;
    switch (k) {
      case kBackground:
      case kPosition: shown = true; break;
      case kIntensity: shown = controls.refine[k] == 1; break;
      default: shown = controls.use_default[k] == 1; break;
    }
    if (shown) state.fit.inputs[k] = controls.start[k];
  }
}

}  // namespace

float Run::PredictedPosition() {
  const ScanReflection& scan = state_.scan;
  const Angles angles = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  return PredictOmega(angles, scan.hkl) + OffsetCorrection(angles)[1];
}

FitControls Run::Seed() {
  state_.data_set.skip_weak = state_.skip_weak_control;
  FitControls controls;
  controls.start = state_.fit.inputs;
  controls.refine = state_.params.refine_flag;
  controls.use_default = state_.default_flag;
  std::optional<float> predicted;
  if (controls.refine[kPosition] != 1 && controls.use_default[kPosition] == 1 &&
      state_.orientation.corrections_valid) {
    predicted = PredictedPosition();
  }
  controls.start = SeedStartValues(state_.scan, state_.params, controls, CurrentFixedBackground(state_), predicted);
  state_.fit.peak.value = controls.start;
  ShowSeeded(state_, controls);
  return controls;
}

void Run::ResetStartValues() {
  FitControls controls;
  controls.refine = state_.params.refine_flag;
  controls.use_default = state_.default_flag;
  std::optional<float> predicted;
  if (controls.refine[kPosition] != 1 && state_.orientation.corrections_valid) predicted = PredictedPosition();
  state_.fit.peak.value = DefaultStartValues(state_.scan, state_.params, controls, CurrentFixedBackground(state_),
                                             predicted, state_.fit.peak.value);
  state_.fit.inputs = state_.fit.peak.value;
}

void Run::PrepareStartValues() {
  bool all_zero = true;
  for (int k = 1; k <= kProfileParameters; ++k) all_zero = all_zero && state_.fit.peak.value[k] == 0.0f;
  if (all_zero) ResetStartValues();
  state_.fit.inputs = state_.fit.peak.value;
}

void Run::FitWithRetry() {
  // The retry follows the controls as they stood before this fit's seeding.
  const bool retry_allowed = state_.default_flag[kPosition] == 1 && state_.params.refine_flag[kPosition] == 1 &&
                             state_.orientation.corrections_valid;
  const FitControls controls = Seed();
  const RetriedFit fit = kalvex::FitWithRetry(state_.scan, state_.params, controls, retry_allowed,
                                              [&](const ScanReflection&) { return PredictedPosition(); });
  static_cast<FitOutcome&>(state_.fit) = fit.outcome;
  if (fit.first_status != 'R') {
    ++state_.fit.outcome[1];
  } else {
    ++state_.fit.outcome[OutcomeCounterOf(fit.first_reason)];
  }
  if (fit.refitted) {
    ++state_.fit.refitted_count;
    // The retry's held position is what the controls show.
    ShowSeeded(state_, fit.last_controls);
  }
  if (fit.recovered) ++state_.fit.recovered_count;
}

bool Run::Write(Flush flush) {
  FileState& f = state_.files;
  if (!f.output_open) return false;
  std::vector<std::string>& lines = f.record_lines;
  if (!FormatIntegrated(CurrentIntegrated(state_), state_.params.output_format, lines)) {
    // Too large for the file's fields: say so rather than lose it silently.
    f.log.Line(ReflectionLabel(state_.scan) + "  NOT WRITTEN: I =" + FormatReal(state_.fit.i_fit, 14, 1) +
               "  SIGMA =" + FormatReal(state_.fit.sigma_fit, 12, 1) + " TOO LARGE");
    FlushLog();
    return false;
  }
  // The reflection's lines go out as one whole: all of them or none.
  for (const std::string& line : lines) f.output.Line(line);
  f.written.Insert(state_.scan.seq_no);
  f.written_any = true;
  f.pending_seq_nos.push_back(state_.scan.seq_no);
  if (events_.written) events_.written(state_);
  return FlushRecords(flush);
}

bool Run::FlushRecords(Flush flush) {
  FileState& f = state_.files;
  if (f.pending_seq_nos.empty()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (flush == Flush::kWhenDue && now - f.output_flushed_at < kOutputFlushInterval &&
      f.output.Pending() < kOutputBatchBytes) {
    return true;
  }
  f.output_flushed_at = now;
  if (f.output.Flush()) {
    f.pending_seq_nos.clear();
    return true;
  }
  // The batch is not in the file: its reflections were never written.
  for (int seq_no : f.pending_seq_nos) f.written.Erase(seq_no);
  f.pending_seq_nos.clear();
  events_.Error("WinKalvex", "Error writing integrated data file " + f.output.Error());
  f.log.Line(" ERROR WRITING INTEGRATED DATA FILE " + f.output.Error());
  FlushLog();
  state_.end_requested = true;
  state_.end_message = "ERROR WRITING INTEGRATED DATA FILE";
  return false;
}

bool Run::AlreadyWritten() const { return state_.files.written.Contains(state_.scan.seq_no); }

// ---------------------------------------------------------------- the automatic run

void Run::StartAutoFit() {
  ResetCounters();
  // The reflection in memory is integrated by this run and counts once.
  const int c = state_.data_set.counted_class;
  if (state_.files.data_open && state_.scan.seq_no > 0 && c >= 0 && c < kInputClasses) {
    ++state_.data_set.input_class[c];
  }
  state_.files.cut_short.clear();
  fitted_seq_no_ = 0;
  run_.clear();
  if (state_.scan.seq_no > 0) run_.push_back(state_.scan.seq_no);
  state_.fitting_mode = kAutomaticFitting;
}

void Run::GoOn() {
  Seed();
  if (state_.scan.seq_no != fitted_seq_no_) {
    FitWithRetry();
    fitted_seq_no_ = state_.scan.seq_no;
  }
  if (!AlreadyWritten()) Write();
}

void Run::Pause() { ahead_.reset(); }

Step Run::FitNext() {
  // The next reflections are read on another core while this one is fitted.
  static const bool kSecondCore = std::thread::hardware_concurrency() > 1;
  if (!ahead_ && kSecondCore) {
    ahead_ = std::make_unique<ReadAhead>(state_.files.data, state_.data_set, state_.params, state_.scan);
  }
  int status = kReadOk;
  if (!(ahead_ && ahead_->Take(state_.scan, state_.data_set, state_.params))) {
    ahead_.reset();
    status = Read(state_.scan.seq_no + 1, {0, 0, 0}, false);
  }
  if (status == kReadError) return Step::kReadError;
  if (status == kEndOfData) {
    ahead_.reset();
    return Step::kEndOfData;
  }
  run_.push_back(state_.scan.seq_no);
  if (status == kReadFailed) {
    LogUnread("NOT FITTED, NOT WRITTEN");
    return Step::kCutShort;
  }
  FitWithRetry();
  fitted_seq_no_ = state_.scan.seq_no;
  if (!AlreadyWritten()) Write(Flush::kWhenDue);
  return state_.end_requested ? Step::kFatal : Step::kDone;
}

std::vector<std::string> Run::FinishAutoFit() {
  // A box holds a few lines: its list of ranges is cut there; the log has
  // all, the dialog (which scrolls) nearly all.
  constexpr std::size_t kBoxRoom = 160;
  constexpr std::size_t kDialogRoom = 4000;
  Pause();
  missing_.clear();
  // What the run wrote is in the file before the file is read back.
  FlushRecords();
  ShowProgress(true);
  const FileState& f = state_.files;
  std::string text(kEndOfDataText);
  std::vector<std::string> notes;
  if (!f.output_open) {
    notes.push_back("No intensity file was open: nothing was written");
  } else {
    missing_ = Unwritten(run_);
    const std::vector<int>& missing = missing_;
    if (missing.empty()) {
      notes.push_back("Every reflection of " + f.data_file_name + " is in " + f.output_file_name);
    } else {
      state_.files.log.Empty();
      state_.files.log.Record(UnwrittenNote(missing, f.output_file_name));
      FlushLog();
      text += "\n" + UnwrittenNote(missing, f.output_file_name, kBoxRoom);
      notes.push_back(UnwrittenNote(missing, f.output_file_name, kDialogRoom));
    }
  }
  for (const std::string& cut : f.cut_short) notes.push_back(cut);
  events_.Message("WIN-KALVEX", text);
  // The command first: the classification summary ends the run's lines.
  WriteCommandLine();
  WriteSummary();
  return notes;
}

void Run::WriteCommandLine() {
  textfile::RecordWriter& log = state_.files.log;
  log.Empty();
  log.Line(" THE SAME RUN FROM THE COMMAND LINE, IN THE DIRECTORY OF " + state_.files.data_file_name + ":");
  log.Line(" " + CommandLine(SessionRequest(state_), DirectoryOf(state_.files.data_path)));
  const std::vector<std::string> not_repeated = NotRepeated(state_);
  for (std::size_t i = 0; i < not_repeated.size(); ++i)
    log.Line(std::string(i == 0 ? " NOT REPEATED BY IT: " : "                     ") + not_repeated[i]);
  FlushLog();
}

// ---------------------------------------------------------------- preprocessing

bool Run::StartPreprocessing(float threshold) {
  ResetCounters();
  state_.preprocessed_list.count = 0;
  state_.fitting_mode = kAutomaticFitting;
  state_.data_set.skip_weak = 1;
  threshold_ = std::max(threshold, 3.0f);
  state_.choices.threshold = threshold_;
  return Rewind();
}

Step Run::PreprocessNext() {
  const int status = Read(state_.scan.seq_no + 1);
  if (status == kEndOfData) return Step::kEndOfData;
  if (status == kReadError) return Step::kReadError;
  ScanReflection& scan = state_.scan;
  if (status == kReadFailed) {
    LogUnread("NOT FITTED, NOT STORED");
    return Step::kCutShort;
  }
  const FitControls controls = Seed();
  static_cast<FitOutcome&>(state_.fit) = FitReflection(scan, state_.params, controls);
  if (scan.class_code[1] == 'R') {
    ++state_.fit.outcome[OutcomeCounterOf(scan.class_code[2])];
    return Step::kDone;
  }
  ++state_.fit.outcome[1];
  const float sigma = state_.fit.sigma_fit;
  if (scan.standard_index != 0 || !(sigma > 0.0f) || !(state_.fit.i_fit / sigma > threshold_)) return Step::kDone;
  PreprocessedList& list = state_.preprocessed_list;
  if (list.count >= kMaxPreprocessed) {
    events_.Error("WinKalvex", "Too many reflections: Increase I/sig");
    return Step::kListFull;
  }
  PreprocessedEntry& e = list.entries[list.count++];
  e.angles = {scan.two_theta, scan.omega_centre, scan.chi, scan.phi};
  e.hkl = scan.hkl;
  e.fwhm = state_.fit.peak.value[kFwhm];
  e.fwhm_esd = state_.fit.peak.esd[kFwhm];
  e.background = state_.fit.peak.value[kBackground];
  return Step::kDone;
}

void Run::FinishPreprocessing() {
  state_.preprocessed = 1;
  state_.choices.preprocessed = true;
  WriteSummary();
}

// ---------------------------------------------------------------- background pass

bool Run::StartBackgroundPass() {
  background_points_.clear();
  return Rewind();
}

Step Run::BackgroundNext() {
  const ScanReflection& scan = state_.scan;
  const int status = Read(scan.seq_no + 1);
  if (status == kEndOfData) return Step::kEndOfData;
  if (status == kReadError) return Step::kReadError;
  // A reflection cut short ends the pass, as it always has: its end
  // background would be the earlier reflection's.
  if (status != kReadOk) return Step::kEndOfData;
  if (background_points_.size() < static_cast<std::size_t>(kMaxBackgroundPoints)) {
    background_points_.emplace_back(scan.two_theta, EndBackground(scan) * scan.count_scale);
  }
  return Step::kDone;
}

void Run::FinishBackgroundPass() {
  state_.files.data.Rewind();
  const int count = static_cast<int>(background_points_.size());
  if (count == 0) return;
  std::vector<BackgroundPoint> points(background_points_.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i] = {background_points_[i].first, background_points_[i].second};
  }
  const ExponentialBackground exponential = FitExponentialBackground(points.data(), count);
  BuildBackgroundTable(points.data(), count, state_.fit.bg_table);
  state_.choices.background_pass = true;
  auto& coefficients = state_.params.pdef[kBackground];
  coefficients[kCoefA] = exponential.a;
  coefficients[kCoefB] = exponential.b;
  coefficients[kCoefC] = exponential.c;
}

// ---------------------------------------------------------------- Calc UB

void Run::ShowNotices(const Notices& notices) {
  for (int i = 0; i < notices.count; ++i) {
    const Notice notice = notices.code[i];
    events_.Error(NoticeTitle(notice), NoticeText(notice));
    if (notice == Notice::kCalcbError && state_.files.log.IsOpen()) {
      state_.files.log.Line(" Error in Cell: Determinant of G = " + FormatReal(notices.value[i], 12, 3));
    }
  }
}

float Run::PredictOmega(const Angles& angles, const Hkl& hkl) {
  float omega = angles[kOmega];
  if (!kalvex::PredictOmega(state_.orientation.ub, angles, state_.params.lambda1, hkl, omega)) {
    Notices notices;
    notices.Add(Notice::kLuSingular);
    ShowNotices(notices);
  }
  return omega;
}

Vec3 Run::OffsetCorrection(const Angles& angles) const {
  const OrientationState& o = state_.orientation;
  return kalvex::OffsetCorrection(angles, o.offsets, o.omega_zero, state_.params.rs);
}

namespace {

std::string CellLine(const char* label, const CellVector& v) {
  std::string line = std::string(label) + fields::Blanks(12);
  for (int i = 0; i < 3; ++i) line += FormatReal(v[i], 9, 5);
  for (int i = 3; i < 6; ++i) line += FormatReal(v[i], 8, 3);
  return line + FormatReal(v[6], 10, 4);
}

}  // namespace

void Run::Refine(const RefinementOptions& options) {
  auto& log = state_.files.log;
  OrientationState& o = state_.orientation;
  const PreprocessedList& list = state_.preprocessed_list;
  const auto n = static_cast<std::size_t>(std::clamp(list.count, 0, kMaxPreprocessed));
  std::vector<Angles> angles(n);
  std::vector<Hkl> hkl(n);
  for (std::size_t i = 0; i < n; ++i) {
    angles[i] = list.entries[i].angles;
    hkl[i] = list.entries[i].hkl;
  }
  const float lambda = state_.params.lambda1;
  Notices notices;
  if (options.crystal_system != 0) {
    LSVEC(options.crystal_system, angles, hkl, lambda, o, notices);
    ShowNotices(notices);
    log.Empty();
    log.Line("  SYMMETRY-CONSTRAINED TO " + fields::Fixed(CrystalSystemName(options.crystal_system), 25) +
             " NO XTAL OFFSETS");
  } else if (options.offsets) {
    LSQ_OFFSETS(options.omega_zero, angles, hkl, lambda, state_.params.rs, o, notices);
    ShowNotices(notices);
    log.Empty();
    log.Line("  UNCONSTRAINED REFINEMENT WITH CRYSTAL OFFSETS");
  } else if (options.omega_zero) {
    log.Empty();
    log.Line("  UNCONSTRAINED REFINEMENT WITH OMEGA ZERO");
    RefineOmegaZero(angles, hkl, lambda, o, notices);
    ShowNotices(notices);
    o.offsets = {0, 0, 0};
  } else {
    LSQ(angles, hkl, lambda, o, notices);
    ShowNotices(notices);
    log.Empty();
    log.Line("  UNCONSTRAINED REFINEMENT ");
    o.offsets = {0, 0, 0};
  }
}

void Run::RefineOrientation(const RefinementOptions& options) {
  auto& log = state_.files.log;
  OrientationState& o = state_.orientation;
  const PreprocessedList& list = state_.preprocessed_list;
  const int n = list.count;
  o.offsets = {0, 0, 0};
  o.omega_zero = 0;
  o.corrections_valid = false;
  log.Empty(2);
  log.Line(std::string(" RESULTS OF LEAST SQUARES REFINEMENT OF ") + "CELL PARAMETERS");
  Refine(options);
  // Predictions need a UB that can be inverted; after a failed first
  // refinement there is none, and every prediction would only raise a box.
  const Mat3& u = o.ub;
  const float det = u[0][0] * (u[1][1] * u[2][2] - u[1][2] * u[2][1]) -
                    u[0][1] * (u[1][0] * u[2][2] - u[1][2] * u[2][0]) +
                    u[0][2] * (u[1][0] * u[2][1] - u[1][1] * u[2][0]);
  o.corrections_valid = det != 0.0f && std::isfinite(det);
  SessionChoices& choices = state_.choices;
  choices.orientation_refined = o.corrections_valid;
  choices.crystal_system = options.crystal_system;
  choices.offsets = options.offsets;
  choices.omega_zero = options.omega_zero;
  SessionRecord& record = state_.session_record;
  record.orientation_refined = o.corrections_valid;
  record.omega.clear();

  const std::string head = "   H   K   L  2THETA   OM(FIT)    CHI      PHI   ";
  if (options.offsets) {
    log.Line(head + "OM(UB) + OM(OFF) = OM(CALC)   DEL-OM");
    log.Empty();
  } else {
    log.Empty();
    log.Line(head + "OM(UB)   DEL-OM");
    log.Empty();
  }
  double sum = 0;
  float largest = 0;
  for (int i = 0; i < n; ++i) {
    const PreprocessedEntry& e = list.entries[i];
    const Angles angles = e.angles;
    const float om_ub = PredictOmega(angles, e.hkl);
    std::string line;
    for (int v : e.hkl) line += FormatInt(v, 4);
    for (float a : angles) line += FormatReal(a, 9, 3);
    float del = 0;
    if (options.offsets) {
      const float correction = OffsetCorrection(angles)[1];
      const float om_calc = om_ub + correction;
      del = angles[kOmega] - om_calc;
      for (float v : {om_ub, correction, om_calc, del}) line += FormatReal(v, 9, 3);
    } else {
      del = angles[kOmega] - om_ub;
      for (float v : {om_ub, del}) line += FormatReal(v, 9, 3);
    }
    log.Line(line);
    if (o.corrections_valid) record.omega.push_back({angles[0], del});
    sum += std::fabs(del);
    largest = std::max(largest, std::fabs(del));
  }

  log.Empty(2);
  log.Line("  Orientation Matrix ");
  log.Line("     (For axes and circle parities as read from data file)");
  log.Empty();
  for (const auto& row : o.ub) {
    std::string line;
    for (float v : row) line += FormatReal(v, 12, 5);
    log.Line(line);
  }
  log.Empty(2);
  log.Line(CellLine(" CELL", o.cell));
  log.Line(CellLine(" ESDs", o.cell_esd));
  log.Empty();
  log.Line("     " + FormatInt(n, 5) + " REFLECTIONS USED");
  log.Line(" AVERAGE DELTA-OMEGA = " + FormatReal(n > 0 ? sum / n : 0.0, 7, 4));
  log.Line("     MAX OMEGA ERROR = " + FormatReal(largest, 7, 4));
  log.Line("          OMEGA-ZERO = " + FormatReal(o.omega_zero, 7, 4));
  log.Empty();
  std::string offsets = "     CRYSTAL OFFSETS = ";
  for (float x : o.offsets) offsets += FormatReal(x, 10, 4);
  log.Line(offsets);
  log.Empty();
  FlushLog();
}

// ---------------------------------------------------------------- progress

namespace {
constexpr auto kShowEvery = std::chrono::milliseconds(250);
// A rate measured over less than this is mostly the start's noise.
constexpr double kShortestMeasure = 0.2;
}  // namespace

void Run::ResumeProgress() {
  resumed_at_ = std::chrono::steady_clock::now();
  passed_at_resume_ = Passed();
}

void Run::ShowProgress(bool now) {
  const auto clock = std::chrono::steady_clock::now();
  if (!now && clock - shown_at_ < kShowEvery) return;
  shown_at_ = clock;
  // A file not counted (where no one would see it, or damaged further on)
  // has no measure of progress.
  const int passed = Passed(ahead_ ? std::make_optional(ahead_->Position()) : std::nullopt);
  if (passed < 0 || !events_.progress) return;
  const double seconds = std::chrono::duration<double>(clock - resumed_at_).count();
  // Until a rate can be measured, the last one stands (none at the start).
  if (seconds >= kShortestMeasure && passed > passed_at_resume_) rate_ = (passed - passed_at_resume_) / seconds;
  events_.progress(passed, state_.files.reflection_count, rate_);
}

}  // namespace kalvex::engine
