// Parameter file layout (columns 1-based; only columns 1-80 count, except a
// FITLIM line, which is read in full so that all its 13 fields are seen):
//   1-6    keyword, lower case taken as upper case
//   PKPAR  3F10         pdef FWHM a, FWHM b, Eta a
//   FITLIM 13F10        low/high of parameters 1..6 in pairs, then rwp_max
//   ATTEN  F10          atten
//   WAVEL  I5,3F10      n_wavelengths, lambda1, lambda2, iratio
//   RFLAGS 6I5          refine_flag(1..6)
//   TFLAGS 7I10         check_flag(1..7)
//   PARITY 4I10         parity(1..4)
//   MONO   I5,2F10,I5   mono_flag, mono_2theta, dihedral, mono_orient (cols 5-6 free)
//   BACKGR I5 then 3F10 (type 2) or I5 (type 3)   bg_type, coefficients / nstep_bg
//   RCRS   2F10         rc, rs (cols 5-6 free)
// A real without a decimal point is a whole number; blank fields are zero.
// Values the run cannot use are refused here, when the file is read, rather
// than left to give negative intensities or reject every reflection:
//   FWHM a <= 0 or FWHM b < 0  the width a + b tan(theta) divides the profile
//                              and must stay positive; b = 0 is a constant width
//   FITLIM ending before its 13th field (column 127)
//   ATTEN <= 0                 the factor multiplies or divides counts
//   lambda1 <= 0; lambda2 < 0, or 0 with two wavelengths (0 is "none" for one)
// Every error names the keyword and the line, within the 60 characters of
// the error box: "ERROR READING PARAMETER FILE: ATTEN at line 7".
#include "scan/parameter_file.h"

#include <array>
#include <cctype>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "common/fixed_fields.h"
#include "scan/readers.h"

namespace kalvex {

namespace {

constexpr int kRecordLength = 80;
constexpr std::string_view kParameterError = "ERROR READING PARAMETER FILE";
constexpr std::string_view kMissingData = "MISSING DATA FROM PARAMETER FILE";
// The last FITLIM field, rwp_max, starts here.
constexpr int kLastFitlimColumn = 127;

enum Mark { kMarkPkpar, kMarkFitlim, kMarkAtten, kMarkWavel, kMarkRflags, kMarkTflags, kMarkParity, kMarkMono };
constexpr std::array<std::string_view, 8> kMarkKeywords = {"PKPAR",  "FITLIM", "ATTEN",  "WAVEL",
                                                           "RFLAGS", "TFLAGS", "PARITY", "MONO"};

// Ends the read at the line read last, naming its keyword.
[[noreturn]] void Refuse(const textfile::LineSource& in, std::string_view keyword) {
  reader::FailAtLine(in, std::string(kParameterError) + ": " + std::string(keyword));
}

// Fields of one keyword line; the first that does not convert is fatal.
class FieldReader {
 public:
  FieldReader(const textfile::LineSource& in, const std::string& line, std::string_view keyword)
      : in_(in), line_(line), keyword_(keyword) {}
  int Int(int first_col, int width) {
    const auto v = fields::ReadInt(line_, first_col, width);
    if (!v) Refuse(in_, keyword_);
    return *v;
  }
  float Real(int first_col, int width) {
    const auto v = fields::ReadReal(line_, first_col, width, 0);
    if (!v) Refuse(in_, keyword_);
    return static_cast<float>(*v);
  }
  // A value the run cannot use is refused as a field that does not convert.
  void Require(bool usable) {
    if (!usable) Refuse(in_, keyword_);
  }

 private:
  const textfile::LineSource& in_;
  const std::string& line_;
  std::string_view keyword_;
};

// The keyword a line's first six columns (upper case) name; empty for none.
std::string_view KeywordOf(const std::string& key) {
  for (std::string_view k : {"PKPAR ", "FITLIM", "ATTEN ", "WAVEL ", "RFLAGS", "TFLAGS", "PARITY", "BACKGR"}) {
    if (key == k) return k.substr(0, k.find_last_not_of(' ') + 1);
  }
  if (key.compare(0, 4, "MONO") == 0) return "MONO";
  if (key.compare(0, 4, "RCRS") == 0) return "RCRS";
  return {};
}

void ReadKeywordLine(const textfile::LineSource& in, const std::string& record, const std::string& full_line,
                     RunParameters& p, ParameterMarks& marks) {
  const std::string_view key = KeywordOf(record.substr(0, 6));
  FieldReader f(in, record, key);
  if (key == "PKPAR") {
    p.pdef[kFwhm][kCoefA] = f.Real(7, 10);
    p.pdef[kFwhm][kCoefB] = f.Real(17, 10);
    p.pdef[kEta][kCoefA] = f.Real(27, 10);
    f.Require(p.pdef[kFwhm][kCoefA] > 0.0f && p.pdef[kFwhm][kCoefB] >= 0.0f);
    marks[kMarkPkpar] = true;
  } else if (key == "FITLIM") {
    FieldReader full(in, full_line, key);
    full.Require(full_line.find_last_not_of(' ') + 1 >= static_cast<std::size_t>(kLastFitlimColumn));
    for (int k = 1; k <= kProfileParameters; ++k) {
      p.low[k] = full.Real(7 + 20 * (k - 1), 10);
      p.high[k] = full.Real(17 + 20 * (k - 1), 10);
    }
    p.rwp_max = full.Real(kLastFitlimColumn, 10);
    marks[kMarkFitlim] = true;
  } else if (key == "ATTEN") {
    p.atten = f.Real(7, 10);
    f.Require(p.atten > 0.0f);
    marks[kMarkAtten] = true;
  } else if (key == "WAVEL") {
    p.n_wavelengths = f.Int(7, 5);
    p.lambda1 = f.Real(12, 10);
    p.lambda2 = f.Real(22, 10);
    p.iratio = f.Real(32, 10);
    f.Require(p.lambda1 > 0.0f && (p.n_wavelengths == 2 ? p.lambda2 > 0.0f : p.lambda2 >= 0.0f));
    if (p.n_wavelengths == 1) p.iratio = 0.0f;
    p.pdef[kIratio][kCoefA] = p.iratio;
    marks[kMarkWavel] = true;
  } else if (key == "RFLAGS") {
    for (int k = 1; k <= 6; ++k) p.refine_flag[k] = f.Int(7 + 5 * (k - 1), 5);
    marks[kMarkRflags] = true;
  } else if (key == "TFLAGS") {
    for (int k = 1; k <= 7; ++k) p.check_flag[k] = f.Int(7 + 10 * (k - 1), 10);
    marks[kMarkTflags] = true;
  } else if (key == "PARITY") {
    for (int i = 0; i < 4; ++i) p.parity[i] = f.Int(7 + 10 * i, 10);
    marks[kMarkParity] = true;
  } else if (key == "MONO") {
    p.mono_flag = f.Int(7, 5);
    p.mono_2theta = f.Real(12, 10);
    p.dihedral = f.Real(22, 10);
    p.mono_orient = f.Int(32, 5);
    marks[kMarkMono] = true;
  } else if (key == "BACKGR") {
    p.bg_type = f.Int(7, 5);
    if (p.bg_type == kBgExp) {
      p.pdef[kBackground][kCoefA] = f.Real(12, 10);
      p.pdef[kBackground][kCoefB] = f.Real(22, 10);
      p.pdef[kBackground][kCoefC] = f.Real(32, 10);
    } else if (p.bg_type == kBgFromScan) {
      p.nstep_bg = f.Int(12, 5);
    }
  } else if (key == "RCRS") {
    p.rc = f.Real(7, 10);
    p.rs = f.Real(17, 10);
  }
}

}  // namespace

ParameterFileResult ReadParameterFile(textfile::LineSource& in, RunParameters& params, ParameterMarks& marks) {
  ParameterFileResult result;
  in.Rewind();
  try {
    std::string line;
    while (in.Next(line)) {
      // The log keeps the line whole: a FITLIM line runs to column 136.
      result.echo.push_back(" " + line);
      std::string record = fields::Fixed(line, kRecordLength);
      for (int i = 0; i < 6; ++i) record[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(record[i])));
      std::string full = line;
      full.replace(0, std::min<std::size_t>(6, full.size()), record.substr(0, std::min<std::size_t>(6, full.size())));
      ReadKeywordLine(in, record, full, params, marks);
    }
    for (std::size_t m = 0; m < marks.size(); ++m) {
      if (!marks[m]) reader::Fail(in, std::string(kMissingData) + ": " + std::string(kMarkKeywords[m]));
    }
  } catch (const reader::Failure& failure) {
    result.error = failure.error;
    return result;
  }
  if (params.mono_orient != 0) {
    const float shift = MonoShift(params.mono_2theta, params.mono_orient, params.lambda1, params.lambda2);
    // Without a usable wavelength pair there is no shift to apply.
    params.mono_shift = std::isfinite(shift) ? shift : 0.0f;
  }
  return result;
}

}  // namespace kalvex
