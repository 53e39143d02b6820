// Reader of Single scan files: no header, one block of count lines and an
// angle line per reflection; the step width is the data set's omega step,
// which the user gives when the file is opened or rewound.
//
// Columns are 1-based. A block is:
//   count line         '*' in 1; step count N 2-4 (I3); step time t 5-6 (I2,
//                      0 = take the angle line's); counts 1-21 as 21 I6 in 7-132
//   continuation lines (N - 1) div 21 of them; counts 21j+1 .. 21j+21 as
//                      21 I6 in 7-132 (columns 1-6 not used)
//   angle line         mark in 1; sequence number 2-5 (I4); standard number
//                      6 (I1); h, k, l 7-15 (3I3); 2theta, omega - theta, chi,
//                      phi 16-47 (4F8.3); step time 84-93 (F10.3)
// Quirks honoured:
//   - an angle line marked '*' is taken and then passed over: the next line
//     is read as the angle line again;
//   - the last continuation line carries 21 fields, of which only those up
//     to N belong to the scan;
//   - counts are scaled to the step time of the first Single reflection read
//     since start-up (T0), across data files;
//   - the format classifies nothing: class_code and the class counters stay;
//   - the standard number is the file's digit, not a standards-table entry;
//   - the second angle is stored unchanged as omega_centre.
// A block cut short by the end of the file (lines missing, or its last line
// ending before its last field) gives status 11; its sequence number and
// indices are those of its angle line as far as read, 0 before it.
#include <algorithm>
#include <string>

#include "common/fixed_fields.h"
#include "scan/readers.h"

namespace kalvex {

namespace {

constexpr int kCountsPerLine = 21;
constexpr int kCountWidth = 6;
// Last columns of an angle line's angles and of its step time.
constexpr int kAnglesEnd = 47;
constexpr int kStepTimeEnd = 93;

// The end of the file inside a block.
struct Cut {};

[[noreturn]] void FailRead(const textfile::LineSource& data) { reader::FailAtLine(data, "Error reading datafile"); }

// The 21 I6 counts of columns 7-132 into counts[first_step - 1 ...], as far
// as the record holds them; false when a field does not convert.
bool StoreCounts(const std::string& line, int first_step, ScanReflection& scan) {
  for (int j = 0; j < kCountsPerLine; ++j) {
    const auto count = fields::ReadInt(line, 7 + 6 * j, 6);
    if (!count) return false;
    const int index = first_step - 1 + j;
    if (index < kMaxSteps) scan.counts[index] = static_cast<float>(*count);
  }
  return true;
}

// The next count line of a block, `counts` of whose fields belong to the scan.
std::string CountLine(textfile::LineSource& data, int counts) {
  std::string line;
  if (!data.Next(line) || reader::CutShort(data, line, 6 + kCountWidth * std::min(counts, kCountsPerLine))) throw Cut{};
  return line;
}

// One angle line into the record, with the step time, the reference time
// and the scale; returns whether the line was marked '*' (passed over).
bool ReadAngleLine(const ReaderParts& p, int line_time, int step_count) {
  textfile::LineSource& data = p.data;
  ScanReflection& scan = p.scan;
  std::string line;
  if (!data.Next(line)) throw Cut{};
  if (reader::CutShort(data, line, line_time != 0 ? kAnglesEnd : kStepTimeEnd)) {
    scan.seq_no = fields::ReadInt(line, 2, 4).value_or(0);
    for (int i = 0; i < 3; ++i) scan.hkl[i] = fields::ReadInt(line, 7 + 3 * i, 3).value_or(0);
    throw Cut{};
  }
  const auto seq = fields::ReadInt(line, 2, 4);
  const auto standard = fields::ReadInt(line, 6, 1);
  if (!seq || !standard) FailRead(data);
  Hkl hkl{};
  for (int i = 0; i < 3; ++i) {
    const auto index = fields::ReadInt(line, 7 + 3 * i, 3);
    if (!index) FailRead(data);
    hkl[i] = *index;
  }
  std::optional<double> angle[4];
  for (int i = 0; i < 4; ++i) {
    angle[i] = fields::ReadReal(line, 16 + 8 * i, 8, 3);
    if (!angle[i]) FailRead(data);
  }
  const auto time = fields::ReadReal(line, 84, 10, 3);
  if (!time) FailRead(data);
  // The second angle stands for omega (omega - theta, within a turn as well).
  if (!reader::PossibleSetting(*angle[0], *angle[1], *angle[2], *angle[3])) FailRead(data);

  scan.seq_no = *seq;
  scan.standard_index = *standard;
  scan.hkl = hkl;
  scan.two_theta = static_cast<float>(*angle[0]);
  scan.omega_centre = static_cast<float>(*angle[1]);
  scan.chi = static_cast<float>(*angle[2]);
  scan.phi = static_cast<float>(*angle[3]);
  scan.step_time = line_time != 0 ? static_cast<float>(line_time) : static_cast<float>(*time);
  // A zero counting time would scale the counts to infinity.
  if (scan.step_time <= 0.0f) FailRead(data);
  if (!p.set.single.reference_time_set) {
    p.set.single.reference_time = scan.step_time;
    p.set.single.reference_time_set = true;
  }
  scan.count_scale = p.set.single.reference_time / scan.step_time;
  scan.step_count = step_count;
  scan.scan_width = static_cast<float>(step_count) * p.set.omega_step;
  scan.step_width = p.set.omega_step;
  return line[0] == '*';
}

enum class Block { kRead, kEndOfFile, kCut };

// The count line, its continuation lines and the angle line(s) of a block.
Block ReadBlock(const ReaderParts& p) {
  textfile::LineSource& data = p.data;
  thread_local std::string line;  // one buffer for every reflection of a run
  if (!data.Next(line)) return Block::kEndOfFile;
  const auto step_count = fields::ReadInt(line, 2, 3);
  const auto line_time = fields::ReadInt(line, 5, 2);
  if (line.empty() || line[0] != '*' || !step_count || *step_count < 1 || !line_time) FailRead(data);
  try {
    // Nothing of the block's number and indices is known before its angle line.
    p.scan.seq_no = 0;
    p.scan.hkl = {0, 0, 0};
    if (reader::CutShort(data, line, 6 + kCountWidth * std::min(*step_count, kCountsPerLine))) throw Cut{};
    if (!StoreCounts(line, 1, p.scan)) FailRead(data);
    const int continuation_lines = (*step_count - 1) / kCountsPerLine;
    for (int j = 1; j <= continuation_lines; ++j) {
      line = CountLine(data, *step_count - kCountsPerLine * j);
      if (!StoreCounts(line, kCountsPerLine * j + 1, p.scan)) FailRead(data);
    }
    while (ReadAngleLine(p, *line_time, *step_count)) {
    }
  } catch (const Cut&) {
    return Block::kCut;
  }
  if (*step_count > kMaxSteps) {
    reader::FailAtLine(data, "Reflection " + std::to_string(p.scan.seq_no) + " has more than 200 steps");
  }
  return Block::kRead;
}

}  // namespace

ReadResult ReadSingleHeader(const ReaderParts& p, const std::string& data_file_name) {
  p.set.title = fields::Fixed("Data from " + fields::Fixed(data_file_name, 12), 60);
  return {};
}

ReadResult ReadSingleReflection(const ReaderParts& p, int request, const Hkl& wanted) {
  return reader::Guarded([&] {
    ScanReflection& scan = p.scan;
    // Stepping back rewinds as well: moving back by the current block's
    // length lands in the wrong place when the previous scan is longer.
    if (request == 0 || request <= scan.seq_no - 1) p.data.Rewind();
    const int target = request;
    for (;;) {
      const Block block = ReadBlock(p);
      if (block == Block::kEndOfFile) return kEndOfData;
      if (block == Block::kCut) return kReadFailed;
      const bool accepted = request == 0 ? scan.hkl == wanted : scan.seq_no >= target;
      if (accepted) return kReadOk;
    }
  });
}

}  // namespace kalvex
