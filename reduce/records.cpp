// "Rfine" record: 3I3 hkl, 4F8.3 angles, 1X, F11 I, 1X, F7 sigma,
// F7.0 10*seq+standard, 2X, 4A1 class code, 2X, I3 (0, or 3 when three value
// lines FACTORS, PARAMETERS and SIGMAS follow: "Rfine extended").
#include "reduce/records.h"

#include <cmath>

#include "common/fixed_fields.h"

namespace kalvex::reduce {

namespace {

constexpr int kRecordLength = 79;

std::string Where(int line_number) { return "line " + std::to_string(line_number) + ": "; }

// 3I4, 2F8.2, I4 and an optional F10.5: the "Shelx hkl" layout.
bool LooksLikeShelx(const std::string& line) {
  const std::string_view text = fields::TrimRight(line);
  if (text.size() < 28 || text.size() > 42) return false;
  for (int c : {1, 5, 9})
    if (!fields::ReadInt(text, c, 4)) return false;
  return text.substr(12, 16).find('.') != std::string_view::npos && fields::ReadReal(text, 13, 8, 2) &&
         fields::ReadReal(text, 21, 8, 2);
}

bool ParseRecord(const std::string& line, int line_number, IntensityRecord& r, int& follow) {
  if (fields::TrimRight(line).size() < kRecordLength - 2) return false;
  for (int i = 0; i < 3; ++i) {
    const auto v = fields::ReadInt(line, 1 + 3 * i, 3);
    if (!v) return false;
    r.hkl[i] = *v;
  }
  for (int i = 0; i < 4; ++i) {
    const auto v = fields::ReadReal(line, 10 + 8 * i, 8, 3);
    if (!v) return false;
    r.angles[i] = *v;
  }
  const auto intensity = fields::ReadReal(line, 43, 11, 0);
  const auto sigma = fields::ReadReal(line, 55, 7, 0);
  const auto q = fields::ReadReal(line, 62, 7, 0);
  const auto flag = fields::ReadInt(line, 77, 3);
  if (!intensity || !sigma || !q || !flag || (*flag != 0 && *flag != 3) || *q < 0) return false;
  r.intensity = *intensity;
  r.sigma = *sigma;
  const long long code = std::llround(*q);
  r.seq_no = static_cast<int>(code / 10);
  r.standard_index = static_cast<int>(code % 10);
  r.class_code = fields::Column(line, 71, 4);
  r.line_number = line_number;
  follow = *flag;
  return true;
}

}  // namespace

IntensityFileContents ParseIntensityFile(const std::vector<std::string>& lines) {
  IntensityFileContents out;
  static constexpr const char* kValueLines[3] = {"FACTORS", "PARAMETERS", "SIGMAS"};
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    const int number = static_cast<int>(n) + 1;
    if (fields::TrimRight(line).empty()) continue;
    IntensityRecord r;
    int follow = 0;
    if (!ParseRecord(line, number, r, follow)) {
      out.error = LooksLikeShelx(line)
                      ? Where(number) + "a \"Shelx hkl\" record: it carries no setting angles, which the cell "
                                        "refinement, the Lorentz-polarisation factor and the direction cosines "
                                        "need; integrate with --output-format rfine or rfine-extended"
                      : Where(number) + "not an \"Rfine\" record";
      return out;
    }
    for (int k = 0; k < follow; ++k) {
      if (++n >= lines.size() || lines[n].rfind(kValueLines[k], 0) != 0) {
        out.error = Where(static_cast<int>(n) + 1) + "the " + kValueLines[k] +
                    " line of the extended record of line " + std::to_string(number) + " is missing";
        return out;
      }
    }
    out.records.push_back(std::move(r));
  }
  return out;
}

}  // namespace kalvex::reduce
