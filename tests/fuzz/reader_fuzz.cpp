// One data-file reader under the fuzzer: the input is the file's text. The
// header is read, then reflection after reflection as a run reads them, then
// back again by steps and by indices; every reflection read in full goes on
// to what consumes the readers' output: the derived quantities (done by the
// dispatch), angle wrapping, the background models and the intensity record.
// KALVEX_FUZZ_FORMAT is the input_format of the reader.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/text_files.h"
#include "fit/background.h"
#include "fit/intensity_file.h"
#include "scan/reflection_input.h"

namespace {

using namespace kalvex;

// Enough reads for any file the fuzzer makes, few enough to stay quick.
constexpr int kMaxReads = 2000;
constexpr int kMaxStepsBack = 3;

// What the run does with a reflection once it is read in full.
void Consume(const ScanReflection& scan, RunParameters& params, const BackgroundTable& table,
             std::vector<BackgroundPoint>& points) {
  volatile float sink = 0;
  for (float angle : {scan.two_theta, scan.omega_centre, scan.chi, scan.phi}) sink = sink + WrapAngle(angle);
  sink = sink + BackgroundTableValue(table, scan.two_theta);
  for (int type : {kBgNone, kBgSpline, kBgExp, kBgFromScan}) {
    params.bg_type = type;
    sink = sink + FixedBackground(scan, params, table, scan.two_theta);
  }
  if (points.size() < static_cast<std::size_t>(kMaxBackgroundPoints)) {
    points.push_back({scan.two_theta, EndBackground(scan)});
  }
  IntegratedReflection record;
  record.hkl = scan.hkl;
  record.angles = {scan.two_theta, scan.omega_centre + scan.two_theta / 2.0f, scan.chi, scan.phi};
  record.parity = {1, 1, -1, 1};
  record.intensity = scan.max_count;
  record.sigma = scan.max_count / 10.0f;
  record.seq_no = scan.seq_no;
  record.standard_index = scan.standard_index;
  record.class_code = scan.class_code;
  record.count_scale = scan.count_scale;
  record.step_width = scan.step_width;
  for (int format : {kOutputRfine, kOutputRfineExtended, kOutputShelx}) {
    sink = sink + static_cast<float>(FormatIntegrated(record, format).size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  textfile::LineSource source;
  source.SetText(std::string_view(reinterpret_cast<const char*>(data), size));
  DataSet set;
  RunParameters params;
  params.input_format = KALVEX_FUZZ_FORMAT;
  params.lambda1 = 0.7093f;
  params.lambda2 = 0.71359f;
  params.nstep_bg = 3;
  params.pdef[kBackground] = {20.0f, 0.05f, 2.0f};
  ScanReflection scan;
  const ReaderParts parts{source, set, params, scan};
  if (ReadScanHeader(parts, "fuzz.dat").status != kReadOk) return 0;

  BackgroundTable table{};
  for (int k = 0; k <= kBgTableSize; ++k) table[k] = 100.0f / static_cast<float>(k + 1);
  std::vector<BackgroundPoint> points;
  int reads = 0;
  Hkl last_hkl{};
  for (; reads < kMaxReads; ++reads) {
    const ReadResult result = ReadNextReflection(parts, scan.seq_no + 1);
    if (result.status == kReadOk) {
      Consume(scan, params, table, points);
      last_hkl = scan.hkl;
    } else if (result.status != kReadFailed) {
      break;
    }
  }
  // Positioning: a few steps back, then a search by indices from the start.
  for (int i = 0; i < kMaxStepsBack && scan.seq_no > 1; ++i) {
    if (ReadNextReflection(parts, scan.seq_no - 1).status != kReadOk) break;
    Consume(scan, params, table, points);
  }
  if (ReadNextReflection(parts, 0, last_hkl).status == kReadOk) Consume(scan, params, table, points);

  BuildBackgroundTable(points.data(), static_cast<int>(points.size()), table);
  FitExponentialBackground(points.data(), static_cast<int>(points.size()));
  for (const BackgroundPoint& p : points) BackgroundTableValue(table, p.two_theta);
  return 0;
}
