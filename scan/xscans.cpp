// Reader of Xscans scan files: the keyword header, the reflection lines and
// the count lines, whose counts are runs of letters closed by a terminator.
//
// Columns are 1-based; header and reflection lines are read to column 120,
// count lines to column 80. Header lines, in any order, up to "DATA":
//   "CHECKR"  number of standards 7-10 (I4); step count 39-41 (I3)
//   "SOURCE"  lambda1 25-31, lambda2 35-41 (2F7.5)
//   "CHECKN"  standard number k 7-12 (I6); its h, k, l 13-24 (3I4)
//   "DETECT"  atten 47-52 (F6.3)
//   "TITLE"   title 7-66 (A60)
//   "DATA"    ends the header; anything else is ignored
// Reflection line, beginning with two blanks: sequence number 2-7 (I6,
// negative for a standard); h, k, l 8-19 (3I4); 2theta, omega, phi, chi
// 20-51 (4F8.2, phi before chi); width w 52-56 (F5.2, negative for an
// attenuated scan); scan speed v 57-64 (F8.2).
// Count lines follow it: step_count counts written back to back, each a run
// of letters ('A'-'Z' = 0-25, 'a'-'z' = 26-51, most significant first) and
// one terminator ('0'-'9' = 0-9, then `~!@#$%^&*()-_=+|\[{]};:'",<.>/? =
// 10-41); count = 42 * letters + terminator.
// Quirks honoured:
//   - blanks anywhere in count lines are ignored and a count may run on
//     into the next line;
//   - the step positions span the width with step_count - 1 intervals;
//   - lines between reflections that do not begin with two blanks are
//     passed over;
//   - count lines cut short by the end of the file give status 11 and the
//     record as far as it was read;
//   - only attenuated scans are classified ('F'); for the others class_code
//     and the counters stay as they were.
#include "scan/xscans.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/fixed_fields.h"
#include "scan/readers.h"

namespace kalvex {

namespace {

constexpr int kCountColumns = 80;
constexpr int kTerminators = 42;
constexpr int kLetterBase = 52;
constexpr char kTerminatorCharacters[] = "0123456789`~!@#$%^&*()-_=+|\\[{]};:'\",<.>/?";
static_assert(sizeof(kTerminatorCharacters) - 1 == kTerminators);

constexpr std::array<signed char, 128> MakeTerminatorTable() {
  std::array<signed char, 128> table{};
  for (int value = 0; value < kTerminators; ++value) {
    table[static_cast<unsigned char>(kTerminatorCharacters[value])] = static_cast<signed char>(value);
  }
  return table;
}
constexpr std::array<signed char, 128> kTerminatorValue = MakeTerminatorTable();

bool IsLetterDigit(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool StartsWith(const std::string& line, std::string_view keyword) { return line.starts_with(keyword); }

// ---- header ---------------------------------------------------------------

// "CHECKR" and "SOURCE" lines must reach the end of their last field.
void RequireLength(const textfile::LineSource& data, const std::string& line, std::size_t length) {
  if (line.size() < length) reader::FailAtLine(data, "UNEXPECTED EOF IN DATAFILE HEADER");
}

int HeaderInt(const textfile::LineSource& data, const std::string& line, int first_col, int width) {
  const auto value = fields::ReadInt(line, first_col, width);
  if (!value) reader::FailAtLine(data, "ERROR READING DATAFILE HEADER");
  return *value;
}

float HeaderReal(const textfile::LineSource& data, const std::string& line, int first_col, int width,
                 int decimals) {
  const auto value = fields::ReadReal(line, first_col, width, decimals);
  if (!value) reader::FailAtLine(data, "ERROR READING DATAFILE HEADER");
  return static_cast<float>(*value);
}

void ReadCheckLine(const ReaderParts& p, const std::string& line) {
  const textfile::LineSource& data = p.data;
  RequireLength(data, line, 41);
  const int standards = HeaderInt(data, line, 7, 4);
  const int steps = HeaderInt(data, line, 39, 3);
  if (standards > kMaxStandards) reader::FailAtLine(data, "More than 10 standards");
  // A single step has no step width (the width spans steps - 1 intervals).
  if (standards < 0 || steps < 2) reader::FailAtLine(data, "ERROR READING DATAFILE HEADER");
  if (steps > kMaxSteps) reader::FailAtLine(data, "More than 200 steps per scan");
  p.set.standards.count = standards;
  p.set.xscans.step_count = steps;
}

void ReadStandardLine(const ReaderParts& p, const std::string& line) {
  const textfile::LineSource& data = p.data;
  const int k = HeaderInt(data, line, 7, 6);
  if (k > kMaxStandards) reader::FailAtLine(data, "More than 10 standards");
  if (k < 1) reader::FailAtLine(data, "ERROR READING DATAFILE HEADER");
  for (int i = 0; i < 3; ++i) p.set.standards.entries[k - 1].hkl[i] = HeaderInt(data, line, 13 + 4 * i, 4);
}

void ReadSourceLine(const ReaderParts& p, const std::string& line) {
  RequireLength(p.data, line, 41);
  p.params.lambda1 = HeaderReal(p.data, line, 25, 7, 5);
  p.params.lambda2 = HeaderReal(p.data, line, 35, 7, 5);
  p.params.iratio = 0.5f;
  p.params.n_wavelengths = 2;
}

// ---- reflections ------------------------------------------------------------

struct ReflectionLine {
  int seq_no = 0;  // as written: negative for a standard
  Hkl hkl{};
  float two_theta = 0, omega = 0, phi = 0, chi = 0;
  float width = 0, speed = 0;
};

std::optional<ReflectionLine> ParseReflectionLine(const std::string& line) {
  const auto seq = fields::ReadInt(line, 2, 6);
  if (!seq) return std::nullopt;
  ReflectionLine r;
  r.seq_no = *seq;
  for (int i = 0; i < 3; ++i) {
    const auto index = fields::ReadInt(line, 8 + 4 * i, 4);
    if (!index) return std::nullopt;
    r.hkl[i] = *index;
  }
  float* reals[] = {&r.two_theta, &r.omega, &r.phi, &r.chi};
  for (int i = 0; i < 4; ++i) {
    const auto value = fields::ReadReal(line, 20 + 8 * i, 8, 2);
    if (!value) return std::nullopt;
    *reals[i] = static_cast<float>(*value);
  }
  if (!reader::PossibleSetting(r.two_theta, r.omega, r.chi, r.phi)) return std::nullopt;
  const auto width = fields::ReadReal(line, 52, 5, 2);
  const auto speed = fields::ReadReal(line, 57, 8, 2);
  if (!width || !speed) return std::nullopt;
  r.width = static_cast<float>(*width);
  r.speed = static_cast<float>(*speed);
  return r;
}

bool IsReflectionLine(const std::string& line) { return line.starts_with("  "); }

// Rewinds to the line after "DATA"; false when there is none.
bool RewindToData(textfile::LineSource& data) {
  data.Rewind();
  std::string line;
  while (data.Next(line)) {
    if (StartsWith(line, "DATA")) return true;
  }
  return false;
}

// Scan geometry, time, scale and class of an accepted reflection.
void ConvertReflection(const ReaderParts& p, const ReflectionLine& r) {
  ScanReflection& scan = p.scan;
  const int steps = p.set.xscans.step_count;
  scan.step_count = steps;
  scan.scan_width = std::abs(r.width);
  scan.step_width = scan.scan_width / static_cast<float>(steps - 1);
  scan.count_scale = r.seq_no < 0 ? 1.0f : r.speed;
  scan.step_time = 60.0f / r.speed / static_cast<float>(steps);
  scan.omega_centre = r.omega - scan.two_theta / 2.0f;
  if (r.width < 0.0f) {
    p.set.Count(kClassFiltered);
    scan.count_scale *= p.params.atten;
    scan.class_code[0] = 'F';
  }
}

}  // namespace

int TerminatorValue(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code < kTerminatorValue.size() ? kTerminatorValue[code] : 0;
}

long long DecodeLetterRun(std::string_view letters) {
  if (letters.size() > static_cast<std::size_t>(kMaxLetterRun)) return -1;
  long long value = 0;
  long long weight = kTerminators;
  for (auto it = letters.rbegin(); it != letters.rend(); ++it) {
    const int code = static_cast<unsigned char>(*it);
    const int digit = code < 91 ? code - 65 : code - 71;
    value += digit * weight;
    weight *= kLetterBase;
  }
  return value;
}

int ReadEncodedCounts(textfile::LineSource& data, int step_count, std::array<float, kMaxSteps>& counts) {
  const int wanted = std::min(step_count, kMaxSteps);
  int stored = 0;
  char pending[kMaxLetterRun];
  int pending_length = 0;
  thread_local std::string line;  // one buffer for every reflection of a run
  do {
    if (!data.Next(line)) return 1;
    const std::size_t columns = std::min<std::size_t>(line.size(), kCountColumns);
    for (std::size_t i = 0; i < columns; ++i) {
      const char c = line[i];
      if (c == ' ') continue;
      if (IsLetterDigit(c)) {
        // A run longer than any count is damage, not a number.
        if (pending_length == kMaxLetterRun) return 1;
        pending[pending_length++] = c;
        continue;
      }
      if (c != '0' && TerminatorValue(c) == 0) return 1;  // control or non-ASCII character
      const long long value = DecodeLetterRun({pending, static_cast<std::size_t>(pending_length)});
      pending_length = 0;
      if (stored < kMaxSteps) counts[stored] = static_cast<float>(value + TerminatorValue(c));
      ++stored;
    }
  } while (stored < wanted);
  return 0;
}

namespace {

int ReadHeader(const ReaderParts& p) {
  textfile::LineSource& data = p.data;
  p.set.standards = StandardsTable{};
  p.set.xscans.step_count = 0;
  std::string line;
  for (;;) {
    if (!data.Next(line)) reader::FailAtLine(data, "UNEXPECTED EOF IN DATAFILE HEADER");
    if (StartsWith(line, "CHECKR")) ReadCheckLine(p, line);
    else if (StartsWith(line, "SOURCE")) ReadSourceLine(p, line);
    else if (StartsWith(line, "CHECKN")) ReadStandardLine(p, line);
    else if (StartsWith(line, "DETECT")) p.params.atten = HeaderReal(data, line, 47, 6, 3);
    else if (StartsWith(line, "TITLE")) p.set.title = fields::Fixed(fields::Column(line, 7, 60), 60);
    else if (StartsWith(line, "DATA")) break;
  }
  // Without "CHECKR" there is no step count, and no scan can be laid out.
  if (p.set.xscans.step_count == 0) reader::FailAtLine(data, "ERROR READING DATAFILE HEADER");
  p.scan.step_count = p.set.xscans.step_count;
  for (auto& entry : p.set.standards.entries) entry.step_count = p.set.xscans.step_count;
  return kReadOk;
}

int ReadReflection(const ReaderParts& p, int request, const Hkl& wanted) {
  textfile::LineSource& data = p.data;
  ScanReflection& scan = p.scan;
  int target = 0;
  // Stepping back rewinds as well: ten lines back need not reach the
  // previous reflection line when scans fill many count lines.
  if (request == 0 || request <= scan.seq_no - 1) {
    if (!RewindToData(data)) return kEndOfData;
    target = std::abs(request);
  } else {
    target = std::max(request, scan.seq_no + 1);
  }

  thread_local std::string line;  // one buffer for every reflection of a run
  for (;;) {
    if (!data.Next(line)) return kEndOfData;
    if (!IsReflectionLine(line)) continue;
    const auto r = ParseReflectionLine(line);
    if (!r) reader::FailAtLine(data, "READ ERROR ON SCAN FILE");
    scan.seq_no = std::abs(r->seq_no);
    scan.hkl = r->hkl;
    scan.two_theta = r->two_theta;
    scan.omega_centre = r->omega;
    scan.phi = r->phi;
    scan.chi = r->chi;
    const bool accepted = request == 0 ? scan.hkl == wanted : scan.seq_no >= target;
    if (!accepted) continue;
    scan.standard_index = 0;
    if (r->seq_no < 0) {
      scan.standard_index = FindStandard(p.set.standards, scan.hkl);
      if (scan.standard_index == 0) reader::FailAtLine(data, "Unidentified Standard Refln");
    }
    const int counts_status = ReadEncodedCounts(data, p.set.xscans.step_count, scan.counts);
    ConvertReflection(p, *r);
    return counts_status == 0 ? kReadOk : kReadFailed;
  }
}

}  // namespace

ReadResult ReadXscansHeader(const ReaderParts& p) {
  return reader::Guarded([&] { return ReadHeader(p); });
}

ReadResult ReadXscansReflection(const ReaderParts& p, int request, const Hkl& wanted) {
  return reader::Guarded([&] { return ReadReflection(p, request, wanted); });
}

}  // namespace kalvex
