// The numerical absorption correction's cost: the Gaussian transmission of
// 10,000 measurements of a plate 0.4 x 0.2 x 0.05 mm (mu = 2/mm, and a
// strongly absorbing 20/mm), every mmm equivalent in the bisecting setting.
// The counter "worst" is the largest relative difference from the same
// integration run 10^5 times tighter: the accuracy bought.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "reduce/absorption.h"
#include "tools/simulate/simulate.h"

namespace kalvex::reduce {
namespace {

struct Plate {
  CrystalShape shape;
  std::vector<BeamPair> beams;
};

const Plate& ThePlate() {
  static const Plate plate = [] {
    Plate p;
    simulate::Crystal crystal;
    crystal.cell = {8.5, 11.2, 13.7, 90, 90, 90};
    crystal.rotation = {12, -25, 40};
    const simulate::Matrix3 ubd = simulate::UBMatrix(crystal);
    Mat3 ub{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) ub[i][j] = static_cast<float>(ubd[i][j]);
    const std::vector<CrystalFace> faces{{{1, 0, 0}, 0.2},  {{-1, 0, 0}, 0.2},  {{0, 1, 0}, 0.1},
                                         {{0, -1, 0}, 0.1}, {{0, 0, 1}, 0.025}, {{0, 0, -1}, 0.025}};
    p.shape = BuildCrystal(faces, ub);
    for (int h = 0; h <= 12 && p.beams.size() < 10000; ++h)
      for (int k = 0; k <= 16 && p.beams.size() < 10000; ++k)
        for (int l = 0; l <= 20 && p.beams.size() < 10000; ++l)
          for (const simulate::Hkl& e : simulate::Equivalents("mmm", {h, k, l})) {
            simulate::SettingAngles a;
            if (p.beams.size() >= 10000 || !simulate::BisectingAngles(ubd, e, 0.71073, a)) continue;
            const auto b = BeamsInCrystal(ub, e, {a.two_theta, a.omega, a.chi, a.phi}, 0.71073);
            if (b) p.beams.push_back(*b);
          }
    return p;
  }();
  return plate;
}

void BM_GaussianTransmission(benchmark::State& state) {
  const Plate& plate = ThePlate();
  const double mu = static_cast<double>(state.range(0));
  const GaussianTransmission gauss(plate.shape, mu), tight(plate.shape, mu, 1e-11);
  double worst = 0;
  for (std::size_t i = 0; i < plate.beams.size(); i += 50) {
    const double reference = tight.Transmission(plate.beams[i]);
    worst = std::max(worst, std::fabs(gauss.Transmission(plate.beams[i]) / reference - 1));
  }
  for (auto _ : state) {
    double sum = 0;
    for (const BeamPair& b : plate.beams) sum += gauss.Transmission(b);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["measurements"] = static_cast<double>(plate.beams.size());
  state.counters["worst"] = worst;
}
BENCHMARK(BM_GaussianTransmission)->Arg(2)->Arg(20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalvex::reduce

BENCHMARK_MAIN();
