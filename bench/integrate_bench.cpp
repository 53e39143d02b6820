// Whole-file rates: the Xcalibur reader alone, and "Auto profile fit" from
// the first reflection to the end of a large simulated data file, run through
// the same handlers as the window on the headless toolkit.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "commands/auto_fit.h"
#include "commands/data_file.h"
#include "scan/reflection_input.h"
#include "shell/command_loop.h"
#include "commands/files.h"
#include "ui/user_interface.h"
#include "toolkit/script/script.h"
#include "toolkit/toolkit.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;

// A data set of `reflections` ordinary reflections (plus standards), made once.
const fs::path& DataSet(int reflections) {
  static fs::path dir;
  if (!dir.empty()) return dir;
  dir = fs::temp_directory_path() / ("kalvex-bench-" + std::to_string(reflections));
  fs::create_directories(dir);
  simulate::GeneratorOptions options;
  options.reflections = reflections;
  options.d_min = 0.6;
  const auto set = simulate::Generate({{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}}, {}, {}, {}, options);
  std::string error;
  simulate::WriteXcalibur(set, dir / "big.dca", error);
  simulate::WriteParameterFile(set, dir / "big.par", error);
  return dir;
}

std::unique_ptr<ProgramState> OpenBig(const fs::path& dir) {
  script::Reset();
  tk::ResetRegistry();
  auto state = NewProgramState();
  BuildUserInterface(*state);
  script::QueueBrowse("big.dca", dir.string());
  script::QueueClick(kCodeFormatOk);
  OpenDataFile(*state);
  script::QueueBrowse("big.par", dir.string());
  OpenParameterFile(*state);
  return state;
}

void BM_ReadXcaliburFile(benchmark::State& bench) {
  const fs::path& dir = DataSet(static_cast<int>(bench.range(0)));
  auto state = OpenBig(dir);
  std::int64_t reflections = 0;
  for (auto _ : bench) {
    state->scan.seq_no = 0;
    state->files.data.Rewind();
    const ReaderParts parts = PartsOf(*state);
    ReadScanHeader(parts, state->files.data_file_name);
    while (ReadNextReflection(parts, state->scan.seq_no + 1).status == kReadOk) ++reflections;
  }
  bench.SetItemsProcessed(reflections);
  bench.counters["reflections/s"] = benchmark::Counter(static_cast<double>(reflections), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadXcaliburFile)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_AutoFitWholeFile(benchmark::State& bench) {
  const fs::path& dir = DataSet(static_cast<int>(bench.range(0)));
  std::int64_t reflections = 0;
  for (auto _ : bench) {
    bench.PauseTiming();
    auto state = OpenBig(dir);
    script::QueueClick(kCodePeakQuit);
    script::QueueClick(kCodeGo);
    bench.ResumeTiming();
    DispatchCommand(*state, kCodeAutoFit);
    for (int k = 1; k <= kOutcomeCounters; ++k) reflections += state->fit.outcome[k];
  }
  bench.SetItemsProcessed(reflections);
  bench.counters["reflections/s"] = benchmark::Counter(static_cast<double>(reflections), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AutoFitWholeFile)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalvex

BENCHMARK_MAIN();
