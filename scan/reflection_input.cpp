// Reader dispatch and the derived fields every reflection gets.
#include "scan/reflection_input.h"

#include <cmath>
#include <string>

#include "common/fixed_fields.h"
#include "scan/readers.h"
#include "shell/command_loop.h"
#include "toolkit/toolkit.h"

namespace kalvex {

void ResetRunCounters(ProgramState& state) {
  state.input_class.fill(0);
  state.fit.outcome.fill(0);
  state.fit.refitted_count = 0;
  state.fit.recovered_count = 0;
}

int ReadScanHeader(ProgramState& state) {
  switch (state.params.input_format) {
    case kFormatCad4: return ReadCad4Header(state);
    case kFormatSingle: return ReadSingleHeader(state);
    case kFormatXcalibur: return ReadXcaliburHeader(state);
    default: return ReadXscansHeader(state);
  }
}

int FindStandard(const StandardsTable& table, const Hkl& hkl) {
  for (int i = 0; i < table.count && i < kMaxStandards; ++i) {
    if (table.entries[i].hkl == hkl) return i + 1;
  }
  return 0;
}

void FailAtLine(const textfile::LineSource& data, const std::string& message) {
  FailAtLine(data.LineNumber(), message);
}

void FailAtLine(int line_number, const std::string& message) {
  StopWithMessage(message + " at line " + std::to_string(line_number));
}

void DeriveScanQuantities(ScanReflection& scan, float lambda1, float lambda2, float mono_shift) {
  scan.calculated.fill(0.0f);
  const int n = std::min(scan.step_count, kMaxSteps);
  const float start = scan.omega_centre - scan.scan_width / 2.0f + scan.step_width / 2.0f;
  for (int i = 0; i < n; ++i) scan.step_position[i] = start + static_cast<float>(i) * scan.step_width;

  const float theta = scan.two_theta / 2.0f;
  const float ratio = lambda1 != 0.0f ? lambda2 / lambda1 : 0.0f;
  scan.doublet_shift = std::asin(ratio * std::sin(theta / 57.29578f)) * 57.29578f - theta;
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

int ReadNextReflection(ProgramState& state, int request, const Hkl& wanted) {
  int status = kReadOk;
  switch (state.params.input_format) {
    case kFormatCad4: status = ReadCad4Reflection(state, request, wanted); break;
    case kFormatSingle: status = ReadSingleReflection(state, request, wanted); break;
    case kFormatXcalibur: status = ReadXcaliburReflection(state, request, wanted); break;
    default: status = ReadXscansReflection(state, request, wanted); break;
  }
  if (status == kEndOfData) {
    tk::GeneralMessage("WIN-KALVEX", "End of input data file", 3, 0);
    return status;
  }
  DeriveScanQuantities(state.scan, state.params.lambda1, state.params.lambda2, state.params.mono_shift);
  return status;
}

std::vector<std::string> ClassificationSummary(const ProgramState& state) {
  using fields::FormatInt;
  std::vector<std::string> lines;
  int total = 0;
  for (int c : state.input_class) total += c;

  lines.insert(lines.end(), {" ", " ", " REFLECTIONS AS CLASSIFIED IN INPUT FILE:"});
  const char* labels[kInputClasses] = {"  NUMBER OF LT REFLECTIONS:    ", "  NUMBER OF WEAK REFLECTIONS:  ",
                                       "  NUMBER OF NORMAL REFLECTIONS:", "  NUMBER OF STRONG REFLECTIONS:",
                                       "  NUMBER OF STANDARDS:         ", "  NUMBER FILTERED REFLECTIONS: "};
  for (int i = 0; i < kInputClasses; ++i) lines.push_back(std::string(labels[i]) + FormatInt(state.input_class[i], 5));
  lines.push_back(" ");
  lines.push_back("  TOTAL NUMBER OF REFLECTIONS: " + FormatInt(total, 5));

  lines.insert(lines.end(), {" ", " ", " REFLECTIONS AS CLASSIFIED BY INTEGRATION:"});
  std::string heading = "        OK";
  for (char letter : std::string(" ECDBIPWRFS")) heading += std::string("  ") + letter + "  ";
  lines.push_back(heading);
  std::string counts = "     " + FormatInt(state.fit.outcome[1], 5) + "   ";
  for (int k = 2; k <= kOutcomeCounters; ++k) counts += FormatInt(state.fit.outcome[k], 5);
  lines.push_back(counts);
  lines.push_back(" ");

  lines.insert(lines.end(), {" ", " "});
  lines.push_back("     " + FormatInt(state.fit.refitted_count, 5) + " REFLECTIONS REFITTED, " +
                  FormatInt(state.fit.recovered_count, 5) + " RECOVERED");
  return lines;
}

void WriteClassificationSummary(ProgramState& state) {
  for (const std::string& line : ClassificationSummary(state)) state.files.log.Line(line);
  state.files.log.Flush();
}

}  // namespace kalvex
