// Reader dispatch and the derived fields every reflection gets.
#include "scan/reflection_input.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/constants.h"
#include "common/fixed_fields.h"
#include "scan/readers.h"

namespace kalvex {

ReadResult ReadScanHeader(const ReaderParts& p, const std::string& data_file_name) {
  switch (p.params.input_format) {
    case kFormatCad4: return ReadCad4Header(p);
    case kFormatSingle: return ReadSingleHeader(p, data_file_name);
    case kFormatXcalibur: return ReadXcaliburHeader(p);
    default: return ReadXscansHeader(p);
  }
}

int FindStandard(const StandardsTable& table, const Hkl& hkl) {
  for (int i = 0; i < table.count && i < kMaxStandards; ++i) {
    if (table.entries[i].hkl == hkl) return i + 1;
  }
  return 0;
}

namespace reader {

void Fail(const textfile::LineSource& data, std::string message) {
  throw Failure{ReadError{std::move(message), data.LineNumber()}};
}

void FailAtLine(const textfile::LineSource& data, const std::string& message) {
  FailAtLine(data.LineNumber(), message);
}

void FailAtLine(int line_number, const std::string& message) {
  throw Failure{ReadError{message + " at line " + std::to_string(line_number), line_number}};
}

bool PossibleSetting(double two_theta, double omega, double chi, double phi) {
  // Written so that NaN fails every comparison and is refused with the rest.
  constexpr double kTurn = 360.0;
  constexpr double kHalfTurn = 180.0;
  return std::fabs(two_theta) <= kHalfTurn && std::fabs(omega) <= kTurn && std::fabs(chi) <= kTurn &&
         std::fabs(phi) <= kTurn;
}

bool CutShort(textfile::LineSource& data, const std::string& line, int last_column) {
  return data.AtEnd() && static_cast<int>(line.size()) < last_column;
}

}  // namespace reader

void DeriveScanQuantities(ScanReflection& scan, float lambda1, float lambda2, float mono_shift) {
  scan.calculated.fill(0.0f);
  const int n = std::min(scan.step_count, kMaxSteps);
  const float start = scan.omega_centre - scan.scan_width / 2.0f + scan.step_width / 2.0f;
  for (int i = 0; i < n; ++i) scan.step_position[i] = start + static_cast<float>(i) * scan.step_width;

  const float theta = scan.two_theta / 2.0f;
  const float ratio = lambda1 != 0.0f ? lambda2 / lambda1 : 0.0f;
  scan.doublet_shift = std::asin(ratio * std::sin(theta / kDegPerRadScan)) * kDegPerRadScan - theta;
  scan.mono_term = scan.two_theta < 0.0f ? -mono_shift : mono_shift;

  scan.max_count = 0.0f;
  // With no count above zero the highest count is taken at the first step.
  scan.max_step = 1;
  for (int i = 0; i < n; ++i) {
    if (scan.counts[i] > scan.max_count) {
      scan.max_count = scan.counts[i];
      scan.max_step = i + 1;
    }
  }
}

ReadResult ReadNextReflection(const ReaderParts& p, int request, const Hkl& wanted) {
  ReadResult result;
  // The reflection in memory stays the one counted until another is read.
  const int counted_before = p.set.counted_class;
  p.set.counted_class = -1;
  switch (p.params.input_format) {
    case kFormatCad4: result = ReadCad4Reflection(p, request, wanted); break;
    case kFormatSingle: result = ReadSingleReflection(p, request, wanted); break;
    case kFormatXcalibur: result = ReadXcaliburReflection(p, request, wanted); break;
    default: result = ReadXscansReflection(p, request, wanted); break;
  }
  if (result.status == kEndOfData || result.Failed()) {
    p.set.counted_class = counted_before;
    return result;
  }
  DeriveScanQuantities(p.scan, p.params.lambda1, p.params.lambda2, p.params.mono_shift);
  return result;
}

int SummaryWidth(const std::array<int, kInputClasses>& input_class, const FitState& fit) {
  long long largest = fit.refitted_count;
  long long total = 0;
  for (int c : input_class) total += c;
  largest = std::max({largest, total, static_cast<long long>(fit.recovered_count)});
  for (int k = 1; k <= kOutcomeCounters; ++k) largest = std::max(largest, static_cast<long long>(fit.outcome[k]));
  int digits = 1;
  for (long long n = largest; n >= 10; n /= 10) ++digits;
  // A blank before every number, as the five columns have up to 9,999.
  return std::max(5, digits + 1);
}

std::vector<std::string> ClassificationSummary(const std::array<int, kInputClasses>& input_class,
                                               const FitState& fit, int width) {
  using fields::FormatInt;
  std::vector<std::string> lines;
  int total = 0;
  for (int c : input_class) total += c;
  const std::string wider(static_cast<std::size_t>(std::max(width, 5) - 5), ' ');

  lines.insert(lines.end(), {" ", " ", " REFLECTIONS AS CLASSIFIED IN INPUT FILE:"});
  const char* labels[kInputClasses] = {"  NUMBER OF LT REFLECTIONS:    ", "  NUMBER OF WEAK REFLECTIONS:  ",
                                       "  NUMBER OF NORMAL REFLECTIONS:", "  NUMBER OF STRONG REFLECTIONS:",
                                       "  NUMBER OF STANDARDS:         ", "  NUMBER FILTERED REFLECTIONS: "};
  for (int i = 0; i < kInputClasses; ++i) lines.push_back(std::string(labels[i]) + FormatInt(input_class[i], width));
  lines.push_back(" ");
  lines.push_back("  TOTAL NUMBER OF REFLECTIONS: " + FormatInt(total, width));

  lines.insert(lines.end(), {" ", " ", " REFLECTIONS AS CLASSIFIED BY INTEGRATION:"});
  // Each reason letter stands over the last digit of its count.
  std::string heading = "        " + wider + "OK   ";
  for (char letter : std::string("ECDBIPWRFS")) heading += std::string(static_cast<std::size_t>(width - 1), ' ') + letter;
  heading += "  ";
  lines.push_back(heading);
  std::string counts = "     " + FormatInt(fit.outcome[1], width) + "   ";
  for (int k = 2; k <= kOutcomeCounters; ++k) counts += FormatInt(fit.outcome[k], width);
  lines.push_back(counts);
  lines.push_back(" ");

  lines.insert(lines.end(), {" ", " "});
  lines.push_back("     " + FormatInt(fit.refitted_count, width) + " REFLECTIONS REFITTED, " +
                  FormatInt(fit.recovered_count, width) + " RECOVERED");
  return lines;
}

}  // namespace kalvex
