// The parameter file under the fuzzer: the input is the file's text, read
// twice as a run may read it (the marks of the first kept for the second),
// then the background model it selects evaluated over the angles.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/text_files.h"
#include "fit/background.h"
#include "scan/parameter_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kalvex;
  textfile::LineSource source;
  source.SetText(std::string_view(reinterpret_cast<const char*>(data), size));
  RunParameters params;
  ParameterMarks marks{};
  ReadParameterFile(source, params, marks);
  const ParameterFileResult result = ReadParameterFile(source, params, marks);
  if (result.error) return 0;

  ScanReflection scan;
  scan.step_count = 24;
  scan.count_scale = 1.0f;
  for (int i = 0; i < scan.step_count; ++i) scan.counts[i] = static_cast<float>(i % 7);
  BackgroundTable table{};
  volatile float sink = 0;
  for (float two_theta = -180.0f; two_theta <= 180.0f; two_theta += 7.5f) {
    sink = sink + FixedBackground(scan, params, table, two_theta);
  }
  return 0;
}
