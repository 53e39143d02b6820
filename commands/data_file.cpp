// Reading the data file on behalf of the commands, and the session's answer
// to a file that cannot be read.
#include "commands/data_file.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <string>

#include "common/fixed_fields.h"
#include "scan/reflection_input.h"
#include "toolkit/toolkit.h"
#include "ui/dialogs.h"

namespace kalvex {

ReaderParts PartsOf(ProgramState& state) {
  return {state.files.data, state.data_set, state.params, state.scan};
}

void ShowReadError(ProgramState& state, const ReadError& error) {
  tk::ErrorBox("WinKalvex", FatalMessageText(error.message));
  if (state.files.log.IsOpen()) {
    state.files.log.Line(" " + error.message);
    FlushLog(state);
  }
}

void DataFileFailed(ProgramState& state, const ReadError& error) {
  ShowReadError(state, error);
  state.files.data.Close();
  state.files.data_open = false;
  state.files.read_error = error;
  state.files.ForgetReflectionCount();
  tk::SetString(state.widgets.data_file_field, "");
  SetDataFileOpen(state, false);
}

int ReadReflection(ProgramState& state, int request, const Hkl& wanted, bool announce_end) {
  const ReadResult result = ReadNextReflection(PartsOf(state), request, wanted);
  if (result.Failed()) {
    DataFileFailed(state, result.error);
  } else if (result.status == kEndOfData && announce_end) {
    tk::GeneralMessage("WIN-KALVEX", kEndOfDataText, 3, 0);
  }
  return result.status;
}

void ReadReflectionAgain(ProgramState& state) {
  if (!state.files.data_open || state.scan.seq_no <= 0) return;
  const int seq_no = state.scan.seq_no;
  const std::array<int, kInputClasses> counts = state.data_set.input_class;
  // The header is read into a copy: its wavelengths and attenuator factor
  // must not undo the parameter file's.
  RunParameters header_params = state.params;
  state.files.data.Rewind();
  state.scan.seq_no = 0;
  ReadResult read = ReadScanHeader({state.files.data, state.data_set, header_params, state.scan},
                                   state.files.data_file_name);
  if (!read.Failed()) read = ReadNextReflection(PartsOf(state), seq_no);
  state.data_set.input_class = counts;
  if (read.Failed()) DataFileFailed(state, read.error);
}

namespace {

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

std::vector<int> FileSequenceNumbers(ProgramState& state, int before) {
  std::vector<int> numbers;
  if (!state.files.data_open) return numbers;
  PassOverCopies(state, false, [&](const ScanReflection& scan) {
    if (scan.seq_no >= before) return false;
    numbers.push_back(scan.seq_no);
    return true;
  });
  return numbers;
}

void CountFileReflections(ProgramState& state) {
  FileState& f = state.files;
  f.ForgetReflectionCount();
  if (!f.data_open) return;
  // Every reflection counts, the weak ones a pass may skip too: the place in
  // the file measures progress, not what a pass keeps.
  std::vector<std::uint32_t> ends;
  const bool whole = PassOverCopies(state, true, [&](const ScanReflection&) {
    ends.push_back(static_cast<std::uint32_t>(f.data.Position()));
    return true;
  });
  if (!whole) return;
  f.reflection_ends = std::move(ends);
  f.reflection_count = static_cast<int>(f.reflection_ends.size());
}

int ReflectionsPassed(const ProgramState& state, std::optional<std::size_t> position) {
  const FileState& f = state.files;
  if (f.reflection_count < 0 || !f.data_open) return -1;
  const auto at = static_cast<std::uint32_t>(position.value_or(f.data.Position()));
  return static_cast<int>(std::upper_bound(f.reflection_ends.begin(), f.reflection_ends.end(), at) -
                          f.reflection_ends.begin());
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

std::vector<int> UnwrittenSequenceNumbers(ProgramState& state, const std::vector<int>& run) {
  std::vector<int> missing;
  if (!state.files.output_open) return missing;
  // The run read what follows its first reflection; only what comes before
  // that has to be read again.
  std::vector<int> numbers = FileSequenceNumbers(state, run.empty() ? std::numeric_limits<int>::max() : run.front());
  numbers.insert(numbers.end(), run.begin(), run.end());
  for (int seq_no : numbers)
    if (!state.files.written.Contains(seq_no)) missing.push_back(seq_no);
  std::sort(missing.begin(), missing.end());
  missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
  return missing;
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

void FlushLog(ProgramState& state) {
  FileState& f = state.files;
  if (f.log.Flush() || f.log_failed) return;
  f.log_failed = true;
  tk::ErrorBox("WinKalvex", "Error writing log file " + f.log.Error());
  state.end_requested = true;
  state.end_message = "ERROR WRITING LOG FILE";
}

bool RewindDataFile(ProgramState& state) {
  state.scan.seq_no = 0;
  state.files.data.Rewind();
  if (state.params.input_format == kFormatSingle) AskOmegaStep(state, state.data_set.omega_step);
  const ReadResult header = ReadScanHeader(PartsOf(state), state.files.data_file_name);
  if (header.Failed()) {
    DataFileFailed(state, header.error);
    return false;
  }
  return true;
}

void ResetRunCounters(ProgramState& state) {
  state.data_set.input_class.fill(0);
  state.fit.outcome.fill(0);
  state.fit.refitted_count = 0;
  state.fit.recovered_count = 0;
}

void CountReflectionInMemory(ProgramState& state) {
  const int c = state.data_set.counted_class;
  if (state.files.data_open && state.scan.seq_no > 0 && c >= 0 && c < kInputClasses) ++state.data_set.input_class[c];
}

void WriteClassificationSummary(ProgramState& state) {
  for (const std::string& line : ClassificationSummary(state.data_set.input_class, state.fit)) {
    state.files.log.Line(line);
  }
  FlushLog(state);
}

std::string ReflectionLabel(const ScanReflection& scan) {
  std::string label = " REFLECTION " + fields::FormatInt(scan.seq_no, 6) + "  HKL";
  for (int v : scan.hkl) label += fields::FormatInt(v, 4);
  return label;
}

void LogUnreadReflection(ProgramState& state, std::string_view consequence) {
  // A reflection cut before its indices has none to be named by: its place
  // in the file names it.
  const std::string label = state.scan.seq_no == 0 && state.scan.hkl == Hkl{0, 0, 0}
                                ? " REFLECTION ENDING AT LINE " + std::to_string(state.files.data.LineNumber())
                                : ReflectionLabel(state.scan);
  const std::string text = label + "  NOT READ IN FULL: " + std::string(consequence);
  state.files.log.Line(text);
  FlushLog(state);
  // The file ends inside this reflection: a user must hear of it, not only
  // the log.
  tk::ErrorBox("WinKalvex", fields::TrimRight(text.substr(1)));
}

}  // namespace kalvex
