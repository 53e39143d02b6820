// The format readers. Each is a function of the data file's lines, the data
// set it belongs to, the run parameters its header may set, and the current
// reflection; it returns a ReadStatus, or kReadError with the program's own
// message and the true line number. A reader never shows a box or ends the
// program: what an error means is its caller's to decide.
//
// Reflection requests: 0 finds `wanted` hkl from the start; seq_no - 1 steps
// back; anything else reads on to the first reflection whose sequence number
// is at least the request.
#pragma once

#include <array>
#include <string>

#include "common/read_error.h"
#include "common/text_files.h"
#include "state/data_set.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex {

using Hkl = std::array<int, 3>;

// ReadStatus of a file that cannot be read as its format says.
constexpr int kReadError = 13;

struct ReadResult {
  int status = kReadOk;
  ReadError error;  // set when status is kReadError
  bool Failed() const { return status == kReadError; }
};

// The parts of the run a reader reads and fills.
struct ReaderParts {
  textfile::LineSource& data;
  DataSet& set;
  RunParameters& params;
  ScanReflection& scan;
};

ReadResult ReadXcaliburHeader(const ReaderParts& p);
ReadResult ReadXcaliburReflection(const ReaderParts& p, int request, const Hkl& wanted);

ReadResult ReadCad4Header(const ReaderParts& p);
ReadResult ReadCad4Reflection(const ReaderParts& p, int request, const Hkl& wanted);

// Single files have no header; the step width is set.omega_step, which the
// command that opens or rewinds the file asks of the user.
ReadResult ReadSingleHeader(const ReaderParts& p, const std::string& data_file_name);
ReadResult ReadSingleReflection(const ReaderParts& p, int request, const Hkl& wanted);

ReadResult ReadXscansHeader(const ReaderParts& p);
ReadResult ReadXscansReflection(const ReaderParts& p, int request, const Hkl& wanted);

// The entry 1..count of the standards table whose hkl equals `hkl`, or 0.
int FindStandard(const StandardsTable& table, const Hkl& hkl);

namespace reader {

// Inside a reader, failing is a throw of this, caught where the reader
// returns; nothing of it leaves the scan room.
struct Failure {
  ReadError error;
};

// Ends the current read with `message` as it stands; the line is that of
// the line read last.
[[noreturn]] void Fail(const textfile::LineSource& data, std::string message);
// Ends it with "<message> at line N", N the true number of the line read
// last (or of the line given).
[[noreturn]] void FailAtLine(const textfile::LineSource& data, const std::string& message);
[[noreturn]] void FailAtLine(int line_number, const std::string& message);

// Whether setting angles read from a file are ones a diffractometer can
// stand at: 2theta within 180 degrees either side (its sign is the side of
// the detector), omega, chi and phi within one full turn either way.
// Anything else, infinities and NaN included, is damage: such an angle
// would only hang or poison what comes after.
bool PossibleSetting(double two_theta, double omega, double chi, double phi);

// Whether `line`, just read, is the last of the file and ends before
// `last_column`: the file was cut inside it. Blank fields read as zeros,
// so the part cut away would otherwise read as counts or angles of 0.
bool CutShort(textfile::LineSource& data, const std::string& line, int last_column);

// Runs one read, turning a Failure into a kReadError result.
template <class Read>
ReadResult Guarded(Read&& read) {
  try {
    return ReadResult{read(), {}};
  } catch (const Failure& failure) {
    return ReadResult{kReadError, failure.error};
  }
}

}  // namespace reader
}  // namespace kalvex
