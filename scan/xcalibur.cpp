// Reader of "Xcalibur Ascii" step-scan files (*.dca), input_format 3.
//
// Only columns 1-80 of a line count; its first character says what it is.
// Columns are 1-based; Iw integer, Fw real (a decimal point in the field
// overrides the implied decimals, blanks read as zeros), An characters.
//
// Header, in file order:
//   'C'/'G' lines, any number          skipped
//   scan-parameter line (any other)    "sc s" at column k: speed F9 at k+5..k+13;
//                                      "sc w" at column m: A F7 at m+6..m+12,
//                                      B F7 at m+13..m+19, C F9 at m+20..m+28
//   'P' x 2                            second: default step count I3 at 56-58
//   'P'                                lambda1 F15 at 31-45, lambda2 F15 at 46-60
//   'P' x 6                            sixth: standards I2 at 29-30,
//                                      standards' step count I3 at 39-41
//   'P' per standard                   h k l 3I4 at 33-44, step time F6.2 at 50-55
//   anything but 'R' and '#'           skipped
// Reflection block:
//   '#' ordinary / 'R' standard        sequence number I5 at 2-6 (negative on 'R'),
//                                      h k l 3I5 at 10-24, class A2 at 38-39
//                                      ("LT" "WK" "NL" "ST" "FT"),
//                                      '#' only: speed factor F F6.4 at 64-69
//   'Z' x 2                            not used
//   'E'                                omega 2-11, 2theta 12-21, chi 22-31,
//                                      phi 32-41 (4F10); omega is the scan's
//                                      end, 2theta before division by C
//   'Y'                                not used
//   'S' x ceil(N/8)                    counts, 8I9 at 2-73
// N is the header's default step count ('#') or the standards' one ('R').
// Lines of any other kind between blocks are passed over. A block cut short
// by the end of the file (lines missing, or its last line ending before its
// last field) gives status 11 with the sequence number and indices as far
// as they were read.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/constants.h"
#include "common/fixed_fields.h"
#include "scan/readers.h"

namespace kalvex {
namespace {

constexpr int kLineLength = 80;
constexpr int kCountsPerLine = 8;
// Last columns of the fields of a standard's 'R' line, an ordinary '#'
// line and the 'E' line; a count of an 'S' line ends at 1 + 9 k.
constexpr int kStandardLineEnd = 39;
constexpr int kOrdinaryLineEnd = 69;
constexpr int kAngleLineEnd = 41;
constexpr int kCountWidth = 9;

constexpr const char* kHeaderEof = "UNEXPECTED EOF IN DATAFILE HEADER";
constexpr const char* kHeaderField = "ERROR READING DATAFILE HEADER";

char Kind(const std::string& line) { return line.empty() ? ' ' : line[0]; }
bool IsBlockStart(const std::string& line) { return Kind(line) == 'R' || Kind(line) == '#'; }

// Every message that names a line is built here, with the file's true line
// number (moves back and rewinds included).
[[noreturn]] void FailLine(const textfile::LineSource& data, std::optional<std::pair<char, char>> expected_got) {
  std::string message;
  if (expected_got) {
    message = std::string("ERROR READING FILE: EXPECTED ") + expected_got->first + ", GOT " + expected_got->second +
              " AT LINE " + fields::FormatInt(data.LineNumber(), 6);
  } else {
    message = "ERROR READING FILE AT LINE " + fields::FormatInt(data.LineNumber(), 6);
  }
  reader::Fail(data, message);
}

// The next line of the data file, cut to 80 columns; false at the end of the
// file. A line whose first character is not `expected` (a blank accepts any)
// fails the read.
bool ReadCheckedLine(textfile::LineSource& data, std::string& line, char expected) {
  if (!data.Next(line)) return false;
  if (line.size() > kLineLength) line.resize(kLineLength);
  if (expected != ' ' && Kind(line) != expected) FailLine(data, std::make_pair(expected, Kind(line)));
  return true;
}

// Field readers: a header field that does not convert fails the read with
// the header message, a field of a reflection block with the line's number.
int HeaderInt(const textfile::LineSource& data, const std::string& line, int first_col, int width) {
  const auto value = fields::ReadInt(line, first_col, width);
  if (!value) reader::Fail(data, kHeaderField);
  return *value;
}

float HeaderReal(const textfile::LineSource& data, const std::string& line, int first_col, int width,
                 int decimals) {
  const auto value = fields::ReadReal(line, first_col, width, decimals);
  if (!value) reader::Fail(data, kHeaderField);
  return static_cast<float>(*value);
}

int BlockInt(const textfile::LineSource& data, const std::string& line, int first_col, int width) {
  const auto value = fields::ReadInt(line, first_col, width);
  if (!value) FailLine(data, std::nullopt);
  return *value;
}

float BlockReal(const textfile::LineSource& data, const std::string& line, int first_col, int width, int decimals) {
  const auto value = fields::ReadReal(line, first_col, width, decimals);
  if (!value) FailLine(data, std::nullopt);
  return static_cast<float>(*value);
}

// A header line that must be there.
std::string HeaderLine(textfile::LineSource& data, char expected) {
  std::string line;
  if (!ReadCheckedLine(data, line, expected)) reader::Fail(data, kHeaderEof);
  return line;
}

// 1-based column at which `key` begins within the 80 columns, 0 if absent.
int ColumnOf(const std::string& line, std::string_view key) {
  const auto at = line.find(key);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

// Reads on from the current position to the next reflection line and leaves
// the file just before it; false at the end of the file.
bool PositionAtBlock(textfile::LineSource& data) {
  std::string line;
  while (ReadCheckedLine(data, line, ' ')) {
    if (IsBlockStart(line)) {
      data.Back();
      return true;
    }
  }
  return false;
}

// Sequence number of a reflection line; standards carry it negative.
int SequenceNumber(const textfile::LineSource& data, const std::string& line) {
  return std::abs(BlockInt(data, line, 2, 5));
}

// Moves to the reflection before the current one: back over this block and
// the previous one, then forward to the first reflection numbered at least
// seq_no - 1. When the move back was too short to reach it (a short scan after
// a long one), the search starts again from the first reflection.
void PositionBeforeCurrent(textfile::LineSource& data, int seq_no, int step_count) {
  for (int i = 0; i < 2 * step_count + 12 && data.Back(); ++i) {
  }
  std::string line;
  while (ReadCheckedLine(data, line, ' ')) {
    if (!IsBlockStart(line)) continue;
    const int seq = SequenceNumber(data, line);
    if (seq < seq_no - 1) continue;
    data.Back();
    if (seq > seq_no - 1) {
      data.Rewind();
      PositionAtBlock(data);
    }
    return;
  }
}

// The class code of the reflection line: class character and counter.
void Classify(const ReaderParts& p, bool standard, const std::string& code) {
  ScanReflection& scan = p.scan;
  if (standard) {
    p.set.Count(kClassStandards);
    scan.class_code[0] = 'S';
    return;
  }
  struct ClassRule {
    const char* code;
    InputClass counter;
    char letter;
  };
  static constexpr ClassRule kRules[] = {{"LT", kClassLT, 'W'},
                                         {"WK", kClassWeak, 'N'},
                                         {"NL", kClassNormal, 'N'},
                                         {"ST", kClassStrong, 'S'},
                                         {"FT", kClassFiltered, 'F'}};
  for (const ClassRule& rule : kRules) {
    if (code != rule.code) continue;
    p.set.Count(rule.counter);
    scan.class_code[0] = rule.letter;
    // Attenuated reflections are put back on the common scale.
    if (rule.counter == kClassFiltered) scan.count_scale *= p.params.atten;
    return;
  }
}

// 2theta of the file with sin(theta) divided by the header's C; NaN when
// the quotient leaves [-1, 1].
float DividedTwoTheta(const XcaliburFormat& format, float two_theta) {
  if (std::abs(format.divisor - 1.0f) <= 0.00001f) return two_theta;
  const float theta = two_theta / 2.0f;
  return 2.0f * std::asin(std::sin(theta * kRadPerDeg) / format.divisor) / kRadPerDeg;
}

// Scan width, step width, time and scale of the block just read, its 2theta
// corrected; `speed_factor` is F of a '#' line.
void ConvertBlock(const XcaliburFormat& format, const StandardsTable& standards, float omega, float speed_factor,
                  ScanReflection& scan) {
  scan.two_theta = DividedTwoTheta(format, scan.two_theta);
  const float theta = scan.two_theta / 2.0f;
  const int n = scan.step_count;
  scan.scan_width = format.width_a + format.width_b * std::tan(theta * kRadPerDeg);
  scan.step_width = scan.scan_width / static_cast<float>(n);
  if (scan.standard_index > 0) {
    const StandardEntry& entry = standards.entries[scan.standard_index - 1];
    const float total_time = static_cast<float>(n) * entry.step_time;
    scan.step_time = entry.step_time;
    scan.count_scale = scan.scan_width / format.scan_speed / total_time;
  } else {
    const float total_time = scan.scan_width / format.scan_speed / speed_factor;
    scan.step_time = total_time / static_cast<float>(n);
    scan.count_scale = speed_factor;
  }
  scan.omega_centre = omega - scan.two_theta / 2.0f - scan.scan_width / 2.0f;
}

int ReadHeader(const ReaderParts& p) {
  textfile::LineSource& data = p.data;
  XcaliburFormat& format = p.set.xcalibur;
  if (p.set.title.size() < 28) p.set.title.resize(28, ' ');
  p.set.title.replace(0, 28, 28, ' ');

  std::string line;
  do {
    line = HeaderLine(data, ' ');
  } while (Kind(line) == 'C' || Kind(line) == 'G');
  const int speed_at = ColumnOf(line, "sc s");
  format.scan_speed = HeaderReal(data, line, speed_at + 5, 9, 0);
  const int width_at = ColumnOf(line, "sc w");
  format.width_a = HeaderReal(data, line, width_at + 6, 7, 0);
  format.width_b = HeaderReal(data, line, width_at + 13, 7, 0);
  format.divisor = HeaderReal(data, line, width_at + 20, 9, 0);

  HeaderLine(data, 'P');
  format.default_steps = HeaderInt(data, HeaderLine(data, 'P'), 56, 3);

  line = HeaderLine(data, 'P');
  p.params.lambda1 = HeaderReal(data, line, 31, 15, 0);
  p.params.lambda2 = HeaderReal(data, line, 46, 15, 0);
  p.params.iratio = 0.5f;
  p.params.n_wavelengths = 2;

  for (int i = 0; i < 6; ++i) line = HeaderLine(data, 'P');
  const int standards = HeaderInt(data, line, 29, 2);
  const int standard_steps = HeaderInt(data, line, 39, 3);
  if (standards > kMaxStandards) reader::Fail(data, "More than 10 standards");
  if (standards < 0) reader::Fail(data, kHeaderField);

  p.set.standards = StandardsTable{};
  for (int i = 0; i < standards; ++i) {
    line = HeaderLine(data, 'P');
    StandardEntry& entry = p.set.standards.entries[i];
    entry.hkl = {HeaderInt(data, line, 33, 4), HeaderInt(data, line, 37, 4), HeaderInt(data, line, 41, 4)};
    entry.step_time = HeaderReal(data, line, 50, 6, 2);
    entry.step_count = standard_steps;
  }
  p.set.standards.count = standards;

  if (!PositionAtBlock(data)) reader::Fail(data, kHeaderEof);
  return kReadOk;
}

int ReadReflection(const ReaderParts& p, int request, const Hkl& wanted) {
  textfile::LineSource& data = p.data;
  ScanReflection& scan = p.scan;
  const int seq_no = scan.seq_no;

  int target = 0;
  if (request == 0 || request < seq_no - 1) {
    data.Rewind();
    PositionAtBlock(data);
    target = std::abs(request);
  } else if (request == seq_no - 1) {
    PositionBeforeCurrent(data, seq_no, scan.step_count);
    target = seq_no - 1;
  } else {
    target = std::max(request, seq_no + 1);
  }

  // One buffer for every reflection's lines: most are too long for a short
  // string, and a run reads thousands.
  thread_local std::string line;
  for (;;) {
    if (!ReadCheckedLine(data, line, ' ')) return kEndOfData;
    if (!IsBlockStart(line)) continue;
    const bool standard = Kind(line) == 'R';
    if (reader::CutShort(data, line, standard ? kStandardLineEnd : kOrdinaryLineEnd)) {
      scan.seq_no = std::abs(fields::ReadInt(line, 2, 5).value_or(0));
      for (int i = 0; i < 3; ++i) scan.hkl[i] = fields::ReadInt(line, 10 + 5 * i, 5).value_or(0);
      return kReadFailed;
    }
    scan.seq_no = SequenceNumber(data, line);
    scan.hkl = {BlockInt(data, line, 10, 5), BlockInt(data, line, 15, 5), BlockInt(data, line, 20, 5)};
    const std::string code = fields::Column(line, 38, 2);
    const float speed_factor = standard ? 0.0f : BlockReal(data, line, 64, 6, 4);
    if (request == 0 ? scan.hkl != wanted : scan.seq_no < target) continue;

    if (!ReadCheckedLine(data, line, 'Z') || !ReadCheckedLine(data, line, 'Z')) return kReadFailed;
    if (!ReadCheckedLine(data, line, 'E') || reader::CutShort(data, line, kAngleLineEnd)) return kReadFailed;
    const float omega = BlockReal(data, line, 2, 10, 0);
    scan.two_theta = BlockReal(data, line, 12, 10, 0);
    scan.chi = BlockReal(data, line, 22, 10, 0);
    scan.phi = BlockReal(data, line, 32, 10, 0);
    // A C that takes sin(theta) beyond 1 leaves no 2theta of the reflection.
    if (!reader::PossibleSetting(scan.two_theta, omega, scan.chi, scan.phi) ||
        std::isnan(DividedTwoTheta(p.set.xcalibur, scan.two_theta))) {
      FailLine(data, std::nullopt);
    }
    if (!ReadCheckedLine(data, line, 'Y')) return kReadFailed;

    if (standard) {
      scan.standard_index = FindStandard(p.set.standards, scan.hkl);
      if (scan.standard_index == 0) reader::Fail(data, "Unidentified Standard Refln");
      scan.step_count = p.set.standards.entries[scan.standard_index - 1].step_count;
    } else {
      scan.standard_index = 0;
      scan.step_count = p.set.xcalibur.default_steps;
    }
    // The record holds 200 steps; a scan that states more (or none) is refused.
    if (scan.step_count > kMaxSteps) {
      reader::Fail(data, "Reflection " + std::to_string(scan.seq_no) + ": more than 200 steps");
    }
    if (scan.step_count < 1) reader::Fail(data, "Reflection " + std::to_string(scan.seq_no) + ": no steps");

    for (int first = 0; first < scan.step_count; first += kCountsPerLine) {
      const int on_line = std::min(kCountsPerLine, scan.step_count - first);
      if (!ReadCheckedLine(data, line, 'S') || reader::CutShort(data, line, 1 + kCountWidth * on_line)) {
        return kReadFailed;
      }
      for (int j = 0; j < on_line; ++j) {
        scan.counts[first + j] = static_cast<float>(BlockInt(data, line, 2 + 9 * j, 9));
      }
    }

    if (p.set.skip_weak == 1 && code == "LT") continue;

    ConvertBlock(p.set.xcalibur, p.set.standards, omega, speed_factor, scan);
    Classify(p, standard, code);
    return kReadOk;
  }
}

}  // namespace

ReadResult ReadXcaliburHeader(const ReaderParts& p) {
  return reader::Guarded([&] { return ReadHeader(p); });
}

ReadResult ReadXcaliburReflection(const ReaderParts& p, int request, const Hkl& wanted) {
  return reader::Guarded([&] { return ReadReflection(p, request, wanted); });
}

}  // namespace kalvex
