// Reader of Enraf CAD4 scan files: the header and the ten-line reflection
// blocks, with the kappa setting angles converted to Euler angles.
//
// Columns are 1-based. Every line after the first carries its record type
// in columns 2-3 (I2).
//   title line   title 10-37 (A28)
//   type 27      opens the standards list: each following type-0 line holds
//                one standard's h, k, l in 6-14 (3I3)
//   type 32      lambda1, lambda2, atten in 35-43, 44-52, 53-61 (3F9.2)
//   type 22      strong speed code 50-51 (I2), maximum scan time 52-55 (I4, s)
//   types 21-33  otherwise ignored
//   type 1       first line of the first block; ends the header
// A block is ten lines of types 1..10, each repeating the block's sequence
// number in columns 4-9 (I6):
//   line 1       h, k, l 10-24 (3I5); six flag characters 26-31; speed code
//                n 39-42 (I4), negative for an attenuated scan
//   line 2       theta 10-17 (F8.3); phi, omega, kappa 18-26, 27-35, 36-44
//                (3F9.3); scan width 45-51 (F7.3)
//   lines 3-10   twelve counts each, four groups of 3I4 at 11-22, 24-35,
//                37-48, 50-61; line k holds counts 12(k-3)+1 .. 12(k-2)
// Flags: 1 'I' standard, 2 'X' a block of only two lines (skipped), 4 'W' weak.
// Quirks honoured:
//   - the line of non-zero type that ends the standards list is consumed
//     without being looked at;
//   - every scan has 96 steps, standards too; they span the scan width with
//     95 intervals, so the step width is width / 95;
//   - a count line whose fields do not convert drops its block only (the
//     rest of the block is still read, to stay in step with the file);
//   - a weak block skipped for "Skip weak reflns" has already been counted.
// A block cut short by the end of the file (lines missing, or its last line
// ending before its last field) gives status 11 with the sequence number and
// indices as far as they were read.
#include "scan/cad4.h"

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/constants.h"
#include "common/fixed_fields.h"
#include "scan/readers.h"

namespace kalvex {

namespace {

constexpr int kCad4Steps = 96;
constexpr int kBlockLines = 10;
constexpr int kCountsPerLine = 12;
// Last columns of the fields of block lines 1, 2 and 3-10.
constexpr int kFirstLineEnd = 42;
constexpr int kAngleLineEnd = 51;
constexpr int kCountLineEnd = 61;
// Widest scan the instrument can make (degrees).
constexpr double kMaxScanWidth = 360.0;
// The instrument's speed-code constant: the step time is n * step / 16.48 / 60
// and the weak speed code 16.48 / m.
constexpr float kSpeedRate = 16.48f;

std::optional<int> RecordType(const std::string& line) { return fields::ReadInt(line, 2, 2); }

// ---- header ---------------------------------------------------------------

void ReadStandardsList(const ReaderParts& p) {
  textfile::LineSource& data = p.data;
  StandardsTable& table = p.set.standards;
  table.count = 0;
  std::string line;
  for (;;) {
    if (!data.Next(line)) reader::FailAtLine(data, "Error reading file header");
    const auto type = RecordType(line);
    if (!type) reader::FailAtLine(data, "Error reading file header");
    if (*type != 0) return;
    if (table.count == kMaxStandards) reader::FailAtLine(data, "More than 10 standards");
    auto& entry = table.entries[table.count];
    for (int i = 0; i < 3; ++i) {
      const auto index = fields::ReadInt(line, 6 + 3 * i, 3);
      if (!index) reader::FailAtLine(data, "Error reading file header");
      entry.hkl[i] = *index;
    }
    ++table.count;
  }
}

void ReadWavelengths(const ReaderParts& p, const std::string& line) {
  const auto lambda1 = fields::ReadReal(line, 35, 9, 2);
  const auto lambda2 = fields::ReadReal(line, 44, 9, 2);
  const auto atten = fields::ReadReal(line, 53, 9, 2);
  if (!lambda1 || !lambda2 || !atten) reader::FailAtLine(p.data, "Error reading file header");
  p.params.lambda1 = static_cast<float>(*lambda1);
  p.params.lambda2 = static_cast<float>(*lambda2);
  p.params.atten = static_cast<float>(*atten);
}

void ReadSpeedLimits(const ReaderParts& p, const std::string& line) {
  const auto strong = fields::ReadInt(line, 50, 2);
  const auto max_time = fields::ReadInt(line, 52, 4);
  if (!strong || !max_time) reader::FailAtLine(p.data, "Error reading file header");
  p.set.cad4.strong_speed_code = *strong;
  p.set.cad4.max_scan_time = *max_time;
}

// ---- one block --------------------------------------------------------------

struct FirstLine {
  int line_number = 0;
  int seq_no = 0;
  Hkl hkl{};
  std::string flags;  // six characters, flag k at flags[k - 1]
  int speed_code = 0;
};

std::optional<FirstLine> ParseFirstLine(const std::string& line) {
  const auto type = RecordType(line);
  const auto seq = fields::ReadInt(line, 4, 6);
  const auto speed = fields::ReadInt(line, 39, 4);
  if (!type || *type != 1 || !seq || !speed) return std::nullopt;
  FirstLine first;
  for (int i = 0; i < 3; ++i) {
    const auto index = fields::ReadInt(line, 10 + 5 * i, 5);
    if (!index) return std::nullopt;
    first.hkl[i] = *index;
  }
  first.seq_no = *seq;
  first.flags = fields::Column(line, 26, 6);
  first.speed_code = *speed;
  return first;
}

struct AngleLine {
  int line_number = 0;
  KappaAngles kappa;
  float scan_width = 0;
};

std::optional<AngleLine> ParseAngleLine(const std::string& line, int seq_no) {
  const auto type = RecordType(line);
  const auto seq = fields::ReadInt(line, 4, 6);
  const auto theta = fields::ReadReal(line, 10, 8, 3);
  const auto phi = fields::ReadReal(line, 18, 9, 3);
  const auto omega = fields::ReadReal(line, 27, 9, 3);
  const auto kappa = fields::ReadReal(line, 36, 9, 3);
  const auto width = fields::ReadReal(line, 45, 7, 3);
  if (!type || *type != 2 || !seq || *seq != seq_no || !theta || !phi || !omega || !kappa || !width) {
    return std::nullopt;
  }
  // Kappa turns within the limits of the Euler circles.
  if (!reader::PossibleSetting(2.0 * *theta, *omega, *kappa, *phi)) return std::nullopt;
  if (!(*width >= 0.0 && *width <= kMaxScanWidth)) return std::nullopt;
  AngleLine angles;
  angles.kappa = {static_cast<float>(*theta), static_cast<float>(*phi), static_cast<float>(*omega),
                  static_cast<float>(*kappa)};
  angles.scan_width = static_cast<float>(*width);
  return angles;
}

enum class CountLines { kRead, kDamaged, kCut };

// Lines 3-10 of the block into the counts.
CountLines ReadCountLines(const ReaderParts& p, int seq_no) {
  textfile::LineSource& data = p.data;
  bool damaged = false;
  thread_local std::string line;  // one buffer for every reflection of a run
  for (int position = 3; position <= kBlockLines; ++position) {
    if (!data.Next(line) || reader::CutShort(data, line, kCountLineEnd)) return CountLines::kCut;
    const auto type = RecordType(line);
    const auto seq = fields::ReadInt(line, 4, 6);
    std::array<float, kCountsPerLine> values{};
    bool readable = type && seq;
    for (int j = 0; j < kCountsPerLine && readable; ++j) {
      const auto count = fields::ReadInt(line, 11 + 13 * (j / 3) + 4 * (j % 3), 4);
      readable = count.has_value();
      if (readable) values[j] = static_cast<float>(*count);
    }
    if (!readable) {
      damaged = true;
      continue;
    }
    if (*type != position || *seq != seq_no) reader::FailAtLine(data, "READ ERROR ON SCAN FILE");
    for (int j = 0; j < kCountsPerLine; ++j) p.scan.counts[kCountsPerLine * (position - 3) + j] = values[j];
  }
  return damaged ? CountLines::kDamaged : CountLines::kRead;
}

// Weak speed code: the speed at which a scan of this width takes the
// maximum scan time. Without a maximum scan time nothing is weak by speed.
// The width is within 0..360 degrees, so m is a small whole number.
int WeakSpeedCode(float scan_width, int max_scan_time) {
  if (max_scan_time <= 0) return 0;
  const int m = static_cast<int>(scan_width / static_cast<float>(max_scan_time) / 60.0f) + 1;
  return static_cast<int>(kSpeedRate / static_cast<float>(m));
}

// Input class and counter of an accepted block; scales attenuated scans.
void Classify(const ReaderParts& p, const FirstLine& first, float scan_width) {
  ScanReflection& scan = p.scan;
  const int n = first.speed_code;
  char input_class = 'N';
  if (first.flags[0] == 'I') {
    scan.standard_index = FindStandard(p.set.standards, first.hkl);
    if (scan.standard_index == 0) reader::FailAtLine(first.line_number, "Unidentified Standard Refln");
    p.set.Count(kClassStandards);
    input_class = 'S';
  } else {
    scan.standard_index = 0;
    if (first.flags[3] == 'W') {
      p.set.Count(kClassLT);
      input_class = 'W';
    } else if (n < 0) {
      scan.count_scale /= p.params.atten;
      p.set.Count(kClassFiltered);
      input_class = 'F';
    } else if (n == p.set.cad4.strong_speed_code) {
      p.set.Count(kClassStrong);
      input_class = 'S';
    } else if (std::abs(n - WeakSpeedCode(scan_width, p.set.cad4.max_scan_time)) < 2) {
      p.set.Count(kClassWeak);
    } else {
      p.set.Count(kClassNormal);
    }
  }
  scan.class_code[0] = input_class;
}

// Angles, step, time and scale of an accepted block.
void ConvertBlock(const ReaderParts& p, const FirstLine& first, const AngleLine& angles) {
  ScanReflection& scan = p.scan;
  EulerAngles euler;
  if (ANGLE_CONVERT(angles.kappa, euler) != kReadOk) reader::FailAtLine(angles.line_number, "OVERFLOW IN ANGLE_CONVERT");
  scan.two_theta = euler.two_theta;
  scan.omega_centre = euler.omega_centre;
  scan.chi = euler.chi;
  scan.phi = euler.phi;
  scan.step_count = kCad4Steps;
  scan.scan_width = angles.scan_width;
  scan.step_width = angles.scan_width / static_cast<float>(kCad4Steps - 1);
  // An attenuated scan's negative code still counts for its magnitude.
  const auto n = static_cast<float>(std::abs(first.speed_code));
  scan.step_time = n * scan.step_width / kSpeedRate / 60.0f;
  scan.count_scale = 1000.0f / n;
}

bool Accepted(int request, const Hkl& wanted, int target, const FirstLine& first) {
  return request == 0 ? first.hkl == wanted : first.seq_no >= target;
}

// Status 11 for a block whose first line the file cuts: what of its number
// and indices converts goes to the record, so the caller can name it.
int CutFirstLine(const ReaderParts& p, const std::string& line) {
  const auto type = RecordType(line);
  const auto seq = fields::ReadInt(line, 4, 6);
  if (type != 1 || !seq) reader::FailAtLine(p.data, "READ ERROR ON SCAN FILE");
  p.scan.seq_no = *seq;
  for (int i = 0; i < 3; ++i) p.scan.hkl[i] = fields::ReadInt(line, 10 + 5 * i, 5).value_or(0);
  return kReadFailed;
}

void SkipLines(textfile::LineSource& data, int count) {
  std::string line;
  for (int i = 0; i < count && data.Next(line); ++i) {
  }
}

// Rewinds to the first block: past the title line, then up to the first
// line of type 1.
void RewindToFirstBlock(textfile::LineSource& data) {
  data.Rewind();
  std::string line;
  if (!data.Next(line)) return;
  while (data.Next(line)) {
    if (RecordType(line) == 1) {
      data.Back();
      return;
    }
  }
}

}  // namespace

int ANGLE_CONVERT(const KappaAngles& kappa, EulerAngles& euler) {
  const float half_kappa = kappa.kappa / 2.0f * kRadPerDeg;
  const float s = std::sin(half_kappa);
  const float half_chi = std::asin(0.76604f * s);  // 0.76604 = sin 50 degrees
  float r = std::cos(half_kappa) / std::cos(half_chi);
  if (std::abs(r) > 1.001f) return kReadFailed;
  if (std::abs(r) > 0.999999f) r = r < 0.0f ? -1.0f : 1.0f;
  float delta = std::acos(r) / kRadPerDeg;
  if (s < 0.0f) delta = -delta;
  euler.two_theta = 2.0f * kappa.theta;
  euler.chi = 2.0f * half_chi / kRadPerDeg;
  euler.omega_centre = delta + kappa.omega - kappa.theta;
  euler.phi = delta + kappa.phi;
  return kReadOk;
}

namespace {

int ReadHeader(const ReaderParts& p) {
  textfile::LineSource& data = p.data;
  p.set.standards = StandardsTable{};
  std::string line;
  if (!data.Next(line)) reader::FailAtLine(data, "Error reading file header");
  p.set.title = fields::Fixed(fields::Column(line, 10, 28), 60);
  for (;;) {
    if (!data.Next(line)) reader::FailAtLine(data, "Error reading file header");
    const auto type = RecordType(line);
    if (!type) reader::FailAtLine(data, "Error reading file header");
    if (*type == 1) break;
    if (*type < 21 || *type > 33) reader::FailAtLine(data, "Error reading file header");
    if (*type == 27) ReadStandardsList(p);
    if (*type == 32) ReadWavelengths(p, line);
    if (*type == 22) ReadSpeedLimits(p, line);
  }
  data.Back();
  p.scan.step_count = kCad4Steps;
  for (auto& entry : p.set.standards.entries) entry.step_count = kCad4Steps;
  return kReadOk;
}

int ReadReflection(const ReaderParts& p, int request, const Hkl& wanted) {
  textfile::LineSource& data = p.data;
  ScanReflection& scan = p.scan;
  // Stepping back rewinds as well: moving back two blocks lands in the
  // wrong place when a two-line 'X' block or a dropped block lies between.
  if (request == 0 || request <= scan.seq_no - 1) RewindToFirstBlock(data);
  const int target = request;

  thread_local std::string line;  // one buffer for every reflection of a run
  for (;;) {
    if (!data.Next(line)) return kEndOfData;
    if (reader::CutShort(data, line, kFirstLineEnd)) return CutFirstLine(p, line);
    auto first = ParseFirstLine(line);
    if (!first) reader::FailAtLine(data, "READ ERROR ON SCAN FILE");
    first->line_number = data.LineNumber();
    scan.seq_no = first->seq_no;
    scan.hkl = first->hkl;
    if (first->flags[1] == 'X') {
      SkipLines(data, 1);
      continue;
    }
    if (!Accepted(request, wanted, target, *first)) {
      SkipLines(data, kBlockLines - 1);
      continue;
    }
    // A speed code of 0 would give an infinite count scale.
    if (first->speed_code == 0) reader::FailAtLine(data, "READ ERROR ON SCAN FILE");
    if (!data.Next(line) || reader::CutShort(data, line, kAngleLineEnd)) return kReadFailed;
    auto angles = ParseAngleLine(line, first->seq_no);
    if (!angles) reader::FailAtLine(data, "READ ERROR ON SCAN FILE");
    angles->line_number = data.LineNumber();
    const CountLines counts = ReadCountLines(p, first->seq_no);
    if (counts == CountLines::kCut) return kReadFailed;
    if (counts == CountLines::kDamaged) continue;
    ConvertBlock(p, *first, *angles);
    Classify(p, *first, angles->scan_width);
    if (first->flags[3] == 'W' && p.set.skip_weak == 1 && request >= 0) continue;
    return kReadOk;
  }
}

}  // namespace

ReadResult ReadCad4Header(const ReaderParts& p) {
  return reader::Guarded([&] { return ReadHeader(p); });
}

ReadResult ReadCad4Reflection(const ReaderParts& p, int request, const Hkl& wanted) {
  return reader::Guarded([&] { return ReadReflection(p, request, wanted); });
}

}  // namespace kalvex
