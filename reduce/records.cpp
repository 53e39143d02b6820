// "Rfine" record: 3I3 hkl, 4F8.3 angles, 1X, F11 I, 1X, F7 sigma,
// F7.0 10*seq+standard, 2X, 4A1 class code, 2X, I3 (0, or 3 when three value
// lines FACTORS, PARAMETERS and SIGMAS follow: "Rfine extended").
#include "reduce/records.h"

#include <cmath>
#include <optional>

#include "common/fixed_fields.h"
#include "common/text_files.h"

namespace kalvex::reduce {

namespace {

constexpr int kRecordLength = 79;
// The sequence field holds 10 x sequence + standard in seven columns.
constexpr double kLargestCode = 9999999;

std::string Where(int line_number) { return "line " + std::to_string(line_number) + ": "; }

// 3I4, 2F8.2, I4 and an optional F10.5: the "Shelx hkl" layout.
bool LooksLikeShelx(std::string_view line) {
  const std::string_view text = fields::TrimRight(line);
  if (text.size() < 28 || text.size() > 42) return false;
  for (int c : {1, 5, 9})
    if (!fields::ReadInt(text, c, 4)) return false;
  return text.substr(12, 16).find('.') != std::string_view::npos && fields::ReadReal(text, 13, 8, 2) &&
         fields::ReadReal(text, 21, 8, 2);
}

// The fields of a record as read; nullopt when the line is no "Rfine" record.
struct RawRecord {
  IntensityRecord r;
  double code = 0;  // the sequence field
  int follow = 0;   // value lines after it
};

std::optional<RawRecord> ParseRecord(std::string_view line, int line_number) {
  if (fields::TrimRight(line).size() < kRecordLength - 2) return std::nullopt;
  RawRecord raw;
  IntensityRecord& r = raw.r;
  for (int i = 0; i < 3; ++i) {
    const auto v = fields::ReadInt(line, 1 + 3 * i, 3);
    if (!v) return std::nullopt;
    r.hkl[i] = *v;
  }
  for (int i = 0; i < 4; ++i) {
    const auto v = fields::ReadReal(line, 10 + 8 * i, 8, 3);
    if (!v) return std::nullopt;
    r.angles[i] = static_cast<float>(*v);
  }
  const auto intensity = fields::ReadReal(line, 43, 11, 0);
  const auto sigma = fields::ReadReal(line, 55, 7, 0);
  const auto code = fields::ReadReal(line, 62, 7, 0);
  const auto flag = fields::ReadInt(line, 77, 3);
  if (!intensity || !sigma || !code || !flag || (*flag != 0 && *flag != 3)) return std::nullopt;
  r.intensity = *intensity;
  r.sigma = *sigma;
  r.class_code = fields::Column(line, 71, 4);
  r.line_number = line_number;
  raw.code = *code;
  raw.follow = *flag;
  return raw;
}

// Why a record that was read cannot be reduced; empty when it can.
std::string Refusal(RawRecord& raw, std::vector<int>& line_of_seq) {
  IntensityRecord& r = raw.r;
  if (r.hkl == std::array<int, 3>{0, 0, 0})
    return "indices 0 0 0 (columns 1-9): no reflection, and the record that ends an HKLF 4 file";
  if (!std::isfinite(r.intensity)) return "the intensity (columns 43-53) is not a finite number";
  if (!std::isfinite(r.sigma) || r.sigma < 0 || (r.sigma == 0 && r.Accepted()))
    return fields::Printf("sigma %g (columns 55-61) is not a positive number", r.sigma);
  const double code = raw.code;
  if (!(code >= 0 && code <= kLargestCode && code == std::floor(code)))
    return fields::Printf("the sequence field %g (columns 62-68) is not a whole number 10 x sequence + standard",
                          code);
  const auto whole = static_cast<int>(code);
  r.seq_no = whole / 10;
  r.standard_index = whole % 10;
  if (r.seq_no >= static_cast<int>(line_of_seq.size())) line_of_seq.resize(r.seq_no + 1, 0);
  int& first = line_of_seq[r.seq_no];
  if (first != 0)
    // Two data files' runs appended to one intensity file share numbers:
    // their standards and decay cannot be told apart.
    return "sequence number " + std::to_string(r.seq_no) + " (columns 62-68) is already that of line " +
           std::to_string(first) + " (reduce the records of each data file apart)";
  first = r.line_number;
  return {};
}

}  // namespace

IntensityFileContents ReadIntensityFile(textfile::LineSource& in) {
  IntensityFileContents out;
  static constexpr const char* kValueLines[3] = {"FACTORS", "PARAMETERS", "SIGMAS"};
  std::vector<int> line_of_seq;  // the line of each sequence number met, 0 for none
  std::string line;
  while (in.Next(line)) {
    const int number = in.LineNumber();
    if (fields::TrimRight(line).empty()) continue;
    std::optional<RawRecord> raw = ParseRecord(line, number);
    if (!raw) {
      out.error = LooksLikeShelx(line)
                      ? Where(number) + "a \"Shelx hkl\" record: it carries no setting angles, which the cell "
                                        "refinement, the Lorentz-polarisation factor and the direction cosines "
                                        "need; integrate with --output-format rfine or rfine-extended"
                      : Where(number) + "not an \"Rfine\" record";
      return out;
    }
    if (const std::string refusal = Refusal(*raw, line_of_seq); !refusal.empty()) {
      out.error = Where(number) + refusal;
      return out;
    }
    for (int k = 0; k < raw->follow; ++k) {
      const bool more = in.Next(line);
      if (!more || line.rfind(kValueLines[k], 0) != 0) {
        // At the end of the file the missing line is the one after the last.
        out.error = Where(in.LineNumber() + (more ? 0 : 1)) + "the " + kValueLines[k] +
                    " line of the extended record of line " + std::to_string(number) + " is missing";
        return out;
      }
    }
    out.records.push_back(raw->r);
  }
  return out;
}

}  // namespace kalvex::reduce
