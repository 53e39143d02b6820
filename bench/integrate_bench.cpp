// Whole-file rates: the Xcalibur reader alone, and the engine's Integrate
// from the first reflection to the end of a large simulated data file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "engine/integrate.h"
#include "engine/run.h"
#include "scan/reflection_input.h"
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

// The data file and its parameter file opened through the engine, as every
// door opens them.
std::unique_ptr<ProgramState> OpenBig(const fs::path& dir) {
  auto state = NewProgramState();
  engine::Run run(*state, {});
  run.OpenDataFile((dir / "big.dca").string());
  state->params.input_format = kFormatXcalibur;
  run.ReadFirst();
  run.OpenParameterFile((dir / "big.par").string());
  return state;
}

void BM_ReadXcaliburFile(benchmark::State& bench) {
  const fs::path& dir = DataSet(static_cast<int>(bench.range(0)));
  auto state = OpenBig(dir);
  std::int64_t reflections = 0;
  for (auto _ : bench) {
    state->scan.seq_no = 0;
    state->files.data.Rewind();
    const ReaderParts parts = engine::PartsOf(*state);
    ReadScanHeader(parts, state->files.data_file_name);
    while (ReadNextReflection(parts, state->scan.seq_no + 1).status == kReadOk) ++reflections;
  }
  bench.SetItemsProcessed(reflections);
  bench.counters["reflections/s"] = benchmark::Counter(static_cast<double>(reflections), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadXcaliburFile)->Arg(5000)->Unit(benchmark::kMillisecond);

// The whole integration as `kalvex integrate` and the Python module call it.
void BM_IntegrateWholeFile(benchmark::State& bench) {
  const fs::path& dir = DataSet(static_cast<int>(bench.range(0)));
  std::int64_t reflections = 0;
  for (auto _ : bench) {
    engine::IntegrateRequest request;
    request.data = (dir / "big.dca").string();
    request.parameters = (dir / "big.par").string();
    request.output = (dir / "big.int").string();
    request.existing = engine::ExistingOutput::kReplace;
    const engine::IntegrateOutcome out = engine::Integrate(request, {});
    if (out.failure != engine::Failure::kNone) {
      bench.SkipWithError(out.message.c_str());
      break;
    }
    for (int k = 1; k <= kOutcomeCounters; ++k) reflections += out.state->fit.outcome[k];
  }
  bench.SetItemsProcessed(reflections);
  bench.counters["reflections/s"] = benchmark::Counter(static_cast<double>(reflections), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IntegrateWholeFile)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalvex

BENCHMARK_MAIN();
