// A run's work on the program's state, one step at a time: the files opened,
// a reflection read, fitted with its retry, counted and written once, the
// preprocessing and background passes, "Calc UB" and the end of a run. The
// window calls it one reflection a timer tick and shows what it returns;
// Integrate calls it for a whole file. No box, no widget, no exit: what a
// user must hear of goes through Events.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/events.h"
#include "refine/geometry.h"
#include "refine/notices.h"
#include "scan/readers.h"
#include "state/program_state.h"

namespace kalvex {
class ReadAhead;
}

namespace kalvex::engine {

// What the box at the end of the data says first.
inline constexpr std::string_view kEndOfDataText = "End of input data file";

// What one step of a pass did.
enum class Step {
  kDone,       // a reflection read and dealt with
  kCutShort,   // a reflection the file ends inside: named, neither fitted nor kept
  kEndOfData,  // the pass is over
  kListFull,   // preprocessing kept as many as it can: the pass ends
  kReadError,  // the data file could not be read and is closed
  kFatal,      // a file of the run could not be written: state.end_requested
};

// "Calc UB"'s choices.
struct RefinementOptions {
  int crystal_system = 0;  // 0 free, else a CrystalSystem of refine/cell_lsq.h
  bool offsets = false;
  bool omega_zero = false;
};

// The weighted straight line fwhm = a + b tan(theta) through the list
// entries whose fwhm ESD exceeds 0.0001, with the ESDs of a and b. With
// fewer than two distinct tan(theta) among them everything is 0.
struct FwhmLine {
  float a = 0, b = 0, esd_a = 0, esd_b = 0;
};
FwhmLine FitFwhmLine(const PreprocessedList& list);

// The reader's view of the run's state.
ReaderParts PartsOf(ProgramState& state);

// When a batch of records written by an automatic run reaches the file.
enum class Flush { kNow, kWhenDue };
inline constexpr std::chrono::milliseconds kOutputFlushInterval{50};
inline constexpr std::size_t kOutputBatchBytes = 32 * 1024;

// " REFLECTION nnnnnn  HKL hhhhkkkkllll": how the log names a reflection.
std::string ReflectionLabel(const ScanReflection& scan);
// "1-13, 20, 25-30": sorted numbers as ranges.
std::string Ranges(const std::vector<int>& numbers);
// "Reflections 1-13 are not in example.int" for `missing`, the ranges cut to
// `room` characters ("..." after the last that fits); empty when none.
std::string UnwrittenNote(const std::vector<int>& missing, const std::string& file,
                          std::size_t room = std::string::npos);
// The log's name for a data file: the name up to and including its first
// ".", then "log"; a name without "." gives "log".
std::string LogFileName(std::string_view data_file_name);
// The output name as opened: ".INT" appended to a name without ".".
std::string OutputFileName(std::string_view chosen);
// Local date and time in the log banner's 24-character form.
std::string LogTimestamp();
// The format a data-file name suggests (.dca Xcalibur, .dat CAD4, .p4t
// Xscans, in any case); 0 when its extension names none.
int FormatFromName(std::string_view data_file_name);
// `name` is the data, parameter or output file or the log of this run.
bool IsRunFile(const FileState& f, const std::string& name);

class Run {
 public:
  Run(ProgramState& state, Events events);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  ProgramState& State() { return state_; }
  const Events& Listeners() const { return events_; }

  // ---- Files. Names are paths; the log is made beside the data file.
  // Opens the data file and starts its log; the system's reason when it
  // does not open. The format and a Single file's omega step are set by
  // the door, then ReadFirst reads the header and the first reflection.
  std::optional<std::string> OpenDataFile(const std::string& path);
  // False after a read error (the file is then closed).
  bool ReadFirst();
  // The system's reason when the parameter file does not open; a file that
  // opens but cannot be read leaves the parameters as they were and sets
  // state.parameter_error.
  std::optional<std::string> OpenParameterFile(const std::string& path);
  // Opens the intensity file, appended to or written anew; the system's
  // reason when it cannot be.
  std::optional<std::string> OpenOutputFile(const std::string& path, bool append);

  // ---- Reading.
  // Reads for `request`. At the end of the data says "End of input data
  // file" unless `announce_end` is false. A read error closes the file.
  int Read(int request, const Hkl& wanted = {0, 0, 0}, bool announce_end = true);
  // Reads the reflection in memory again with the parameters as they now
  // stand, without counting it again.
  void ReadAgain();
  // Back to the first reflection, the header read again (a Single file's
  // omega step as the state holds it). False after a read error.
  bool Rewind();
  // The reflections of the file counted by a pass of their own.
  void CountReflections();
  // Reflections of the counted file passed so far; -1 when not counted.
  int Passed(std::optional<std::size_t> at = std::nullopt) const;
  // The sequence numbers of the data file below `before`, in file order.
  std::vector<int> FileSequenceNumbers(int before);
  // The sequence numbers of the data file not in the open intensity file;
  // `run` holds those a run read, from its first.
  std::vector<int> Unwritten(const std::vector<int>& run);

  // ---- Fitting. The fitting controls are the state's: refine and default
  // flags, limits, "Skip weak" and the start values the controls hold
  // (state.fit.inputs); the window copies its dialog there first.
  FitControls Seed();
  // "Reset to Defaults": every start value from its default rule.
  void ResetStartValues();
  // What a fitting run starts from: the defaults while no start value has
  // been set, then the controls hold the current values.
  void PrepareStartValues();
  // Seeds and fits the current reflection, retrying a rejected fit with the
  // predicted position once "Calc UB" has run; counts the outcome.
  void FitWithRetry();
  float PredictedPosition();
  // Writes the current reflection (nothing without an intensity file) and
  // notes it as written; false when it was not.
  bool Write(Flush flush = Flush::kNow);
  // Writes the records still waiting; false when the write failed (then the
  // run is over: state.end_requested).
  bool FlushRecords(Flush flush = Flush::kNow);
  bool AlreadyWritten() const;
  // Writes the log's pending lines; a log that cannot be written ends the run.
  void FlushLog();

  // ---- The automatic run.
  void StartAutoFit();
  // "Go": the reflection in memory fitted (unless this run has) and written
  // (unless it is already).
  void GoOn();
  // The next reflection read, fitted and written.
  Step FitNext();
  // Ends reading ahead: the file stands after the reflection in memory.
  void Pause();
  // The end of the data: records flushed, what the intensity file lacks in
  // the log and the box, the summary in the log. The notes for the End of
  // Run dialog.
  std::vector<std::string> FinishAutoFit();
  // The batch command that repeats the run, and what it does not repeat,
  // to the log.
  void WriteCommandLine();
  // The sequence numbers the intensity file lacks, as FinishAutoFit found.
  const std::vector<int>& Missing() const { return missing_; }

  // ---- Preprocessing: rewinds and keeps the strong reflections.
  bool StartPreprocessing(float threshold);
  Step PreprocessNext();
  // The summary in the log; the list is ready for Calc UB and Calc FWHM.
  void FinishPreprocessing();

  // ---- The background pass of "Calc Background".
  bool StartBackgroundPass();
  Step BackgroundNext();
  // The exponential fit and the table from the pass.
  void FinishBackgroundPass();

  // ---- "Calc UB" on the preprocessed list, with its report in the log.
  void RefineOrientation(const RefinementOptions& options);
  // The predicted omega, and the crystal offsets' correction of the angles.
  float PredictOmega(const Angles& angles, const Hkl& hkl);
  Vec3 OffsetCorrection(const Angles& angles) const;

  // ---- Progress of the pass under way, through events.progress: at most a
  // few times a second unless `now`.
  void ResumeProgress();
  void ShowProgress(bool now = false);

  // Notices of the kernels as boxes, in order; "Error in CALCB" also in
  // the log when one is open.
  void ShowNotices(const Notices& notices);

  // Zeroes the input-class, outcome, refitted and recovered counters.
  void ResetCounters();
  // The classification summary appended to the log.
  void WriteSummary();

 private:
  void ReadFailed(const ReadError& error);
  void ShowReadError(const ReadError& error);
  void LogUnread(std::string_view consequence);
  void StartLog(const std::string& directory, const std::string& data_name);
  void Refine(const RefinementOptions& options);

  ProgramState& state_;
  Events events_;
  // The automatic run: what it has read, and what it has fitted last.
  std::vector<int> run_;
  int fitted_seq_no_ = 0;
  std::vector<int> missing_;
  std::unique_ptr<ReadAhead> ahead_;
  // Preprocessing's threshold of I/sigma.
  float threshold_ = 0;
  // The background pass's points.
  std::vector<std::pair<float, float>> background_points_;
  // Progress: the rate is measured from the last resume.
  std::chrono::steady_clock::time_point resumed_at_{}, shown_at_{};
  int passed_at_resume_ = 0;
  double rate_ = 0;
};

}  // namespace kalvex::engine
