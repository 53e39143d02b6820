// The simulator the reader tests stand on: its geometry against independent
// formulas, its random numbers, its counts against the model, the generated
// data set's make-up, the parameter file as the program reads it, and the
// bundled example against the command that made it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>

#include "scan/parameter_file.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

namespace sim = simulate;
constexpr double kDeg = std::numbers::pi / 180.0;

double Length(const sim::Vector3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

TEST(Simulate, BMatrixGivesTheCellsDSpacings) {
  const sim::Matrix3 ortho = sim::BMatrix({5, 8, 10, 90, 90, 90});
  EXPECT_NEAR(ortho[0][0], 0.2, 1e-12);
  EXPECT_NEAR(ortho[1][1], 0.125, 1e-12);
  EXPECT_NEAR(ortho[2][2], 0.1, 1e-12);
  EXPECT_NEAR(ortho[0][1], 0.0, 1e-12);
  EXPECT_NEAR(ortho[1][2], 0.0, 1e-12);

  // Monoclinic: 1/d^2 = (h^2/a^2 + k^2 sin^2(beta)/b^2 + l^2/c^2 - 2hl cos(beta)/(ac)) / sin^2(beta).
  const sim::Cell mono{7.9, 9.4, 12.1, 90, 104.5, 90};
  const sim::Matrix3 b = sim::BMatrix(mono);
  const double sb = std::sin(mono.beta * kDeg), cb = std::cos(mono.beta * kDeg);
  for (const sim::Hkl& h : {sim::Hkl{1, 0, 0}, sim::Hkl{2, -3, 1}, sim::Hkl{-1, 2, 5}, sim::Hkl{3, 1, -4}}) {
    const double inv_d2 = (h[0] * h[0] / (mono.a * mono.a) + h[1] * h[1] * sb * sb / (mono.b * mono.b) +
                           h[2] * h[2] / (mono.c * mono.c) - 2.0 * h[0] * h[2] * cb / (mono.a * mono.c)) /
                          (sb * sb);
    const double d_star = Length(sim::Multiply(b, {double(h[0]), double(h[1]), double(h[2])}));
    EXPECT_NEAR(d_star * d_star, inv_d2, 1e-12);
  }
}

TEST(Simulate, BisectingAnglesPutTheDiffractionVectorWhereUBSays) {
  const sim::Crystal crystal{{7.9, 9.4, 12.1, 90, 104.5, 90}, {20, -35, 65}};
  const sim::Matrix3 ub = sim::UBMatrix(crystal);
  const sim::Matrix3 u = sim::UMatrix(crystal.rotation);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double dot = u[i][0] * u[j][0] + u[i][1] * u[j][1] + u[i][2] * u[j][2];
      EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-12);
    }
  const double lambda = 0.7093;
  for (const sim::Hkl& h : {sim::Hkl{1, 0, 0}, sim::Hkl{2, -3, 1}, sim::Hkl{0, 0, -6}, sim::Hkl{4, 1, 2}}) {
    sim::SettingAngles a;
    ASSERT_TRUE(sim::BisectingAngles(ub, h, lambda, a));
    // h_phi = (2 sin(theta) / lambda) (cos om cos chi cos phi - sin om sin phi,
    //          cos om cos chi sin phi + sin om cos phi, cos om sin chi).
    const double s = 2.0 * std::sin(a.two_theta / 2 * kDeg) / lambda;
    const double om = a.omega * kDeg, ch = a.chi * kDeg, ph = a.phi * kDeg;
    const sim::Vector3 from_angles{
        s * (std::cos(om) * std::cos(ch) * std::cos(ph) - std::sin(om) * std::sin(ph)),
        s * (std::cos(om) * std::cos(ch) * std::sin(ph) + std::sin(om) * std::cos(ph)),
        s * std::cos(om) * std::sin(ch)};
    const sim::Vector3 from_ub = sim::Multiply(ub, {double(h[0]), double(h[1]), double(h[2])});
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(from_angles[i], from_ub[i], 1e-12);
  }
  sim::SettingAngles unused;
  EXPECT_FALSE(sim::BisectingAngles(ub, {0, 0, 0}, lambda, unused));
  EXPECT_FALSE(sim::BisectingAngles(ub, {40, 0, 0}, lambda, unused));  // beyond 2/lambda
}

TEST(Simulate, PoissonDrawsHaveTheirMeanAndVarianceAndRepeat) {
  for (double mean : {0.7, 5.0, 40.0, 2500.0}) {
    sim::Random random(99);
    const int n = 40000;
    double sum = 0, sum2 = 0;
    for (int i = 0; i < n; ++i) {
      const double k = static_cast<double>(random.Poisson(mean));
      sum += k;
      sum2 += k * k;
    }
    const double m = sum / n, variance = sum2 / n - m * m;
    EXPECT_NEAR(m, mean, 5.0 * std::sqrt(mean / n)) << mean;
    EXPECT_NEAR(variance / mean, 1.0, 0.05) << mean;
  }
  sim::Random a(5), b(5);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a.Poisson(30.0 + i), b.Poisson(30.0 + i));
  EXPECT_EQ(sim::Random(1).Poisson(0.0), 0);
}

// The model written out again here: background + I / scale x
// [pV(x - p) + ratio pV(x - p - shift)], pV a unit-area pseudo-Voigt.
double ModelMean(const sim::SimReflection& r, double x, double ratio) {
  auto pv = [&](double d) {
    const double w = r.truth.fwhm;
    const double gauss = std::sqrt(4.0 * std::log(2.0) / std::numbers::pi) / w * std::exp(-4.0 * std::log(2.0) * d * d / (w * w));
    const double lorentz = (w / 2.0) / std::numbers::pi / (d * d + w * w / 4.0);
    return (1.0 - r.truth.eta) * gauss + r.truth.eta * lorentz;
  };
  const double d = x - r.truth.position;
  return r.truth.background + r.truth.intensity / r.count_scale * (pv(d) + ratio * pv(d - r.doublet_shift));
}

TEST(Simulate, CountsFollowTheFittedModelWithinCountingNoise) {
  sim::Instrument instrument;
  instrument.omega_zero = 0.03;
  std::vector<sim::ReflectionRecipe> recipes;
  for (int i = 1; i <= 6; ++i) {
    sim::ReflectionRecipe recipe;
    recipe.hkl = {i, 1, 2};
    recipe.cls = i % 2 ? sim::ReflectionClass::kStrong : sim::ReflectionClass::kFiltered;
    recipe.intensity = 3000.0 * i;
    recipe.centring_error = 0.05;
    recipes.push_back(recipe);
  }
  const sim::DataSet data = sim::MakeDataSet({{7.9, 9.4, 12.1, 90, 104.5, 90}, {20, -35, 65}}, instrument,
                                             sim::ScanSettings{}, sim::FitSettings{}, {}, recipes, 4);
  ASSERT_EQ(data.reflections.size(), 6u);
  for (const sim::SimReflection& r : data.reflections) {
    EXPECT_DOUBLE_EQ(r.truth.position, 0.03);  // omega zero alone moves the peak
    EXPECT_DOUBLE_EQ(r.count_scale, r.cls == sim::ReflectionClass::kFiltered ? 15.4 : 2.0);
    const double theta = r.angles.two_theta / 2.0;
    const double rho = instrument.lambda2 / instrument.lambda1;
    EXPECT_NEAR(r.doublet_shift, std::asin(rho * std::sin(theta * kDeg)) / kDeg - theta, 1e-12);
    double observed = 0, expected = 0, first_moment_obs = 0, first_moment_exp = 0;
    for (int i = 0; i < r.step_count; ++i) {
      const double x = r.omega_centre - r.scan_width / 2 + (i + 0.5) * r.step_width;
      const double mean = ModelMean(r, x, instrument.iratio);
      observed += static_cast<double>(r.counts[i]);
      expected += mean;
      first_moment_obs += x * (static_cast<double>(r.counts[i]) - r.truth.background);
      first_moment_exp += x * (mean - r.truth.background);
    }
    EXPECT_NEAR(observed, expected, 5.0 * std::sqrt(expected)) << r.seq;
    EXPECT_NEAR(first_moment_obs / expected, first_moment_exp / expected, 2e-3) << r.seq;
  }
}

TEST(Simulate, GeneratedDataSetHasEveryClassAndItsStandardsInGroups) {
  sim::GeneratorOptions options;
  options.reflections = 200;
  options.standards_every = 50;
  const sim::DataSet data = sim::Generate({{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}}, sim::Instrument{},
                                          sim::ScanSettings{}, sim::FitSettings{}, options);
  ASSERT_EQ(data.standards.size(), 3u);
  // Standards first, after each 50 ordinary reflections, and last: 5 groups.
  ASSERT_EQ(data.reflections.size(), 200u + 5u * 3u);
  int ordinary_since = 0, groups = 0;
  for (std::size_t i = 0; i < data.reflections.size(); ++i) {
    const auto& r = data.reflections[i];
    EXPECT_EQ(r.seq, static_cast<int>(i) + 1);
    if (r.standard_index == 1) {
      EXPECT_TRUE(ordinary_since == 0 || ordinary_since == 50) << i;
      ordinary_since = 0;
      ++groups;
    } else if (r.standard_index == 0) {
      ++ordinary_since;
      EXPECT_LE(2.0 * std::sin(r.angles.two_theta / 2 * kDeg) / 0.7093, 1.0 / options.d_min + 1e-9);
    }
  }
  EXPECT_EQ(groups, 5);
  std::map<sim::ReflectionClass, int> seen;
  for (const auto& r : data.reflections) ++seen[r.cls];
  for (auto cls : {sim::ReflectionClass::kLessThan, sim::ReflectionClass::kWeak, sim::ReflectionClass::kNormal,
                   sim::ReflectionClass::kStrong, sim::ReflectionClass::kFiltered})
    EXPECT_GT(seen[cls], 0) << sim::ClassCode(cls);
}

TEST(Simulate, XcaliburWriterRefusesARatioItsHeaderCannotCarry) {
  sim::DataSet data;
  data.instrument.iratio = 0.45;
  std::string error;
  EXPECT_FALSE(sim::WriteXcalibur(data, testing::ScratchDir("simulate_ratio") / "x.dca", error));
  EXPECT_EQ(error, "Xcalibur files imply an alpha2 : alpha1 ratio of 0.5");
}

TEST(Simulate, ParameterFileReadsBackIntoTheRunParameters) {
  sim::DataSet data;
  data.instrument.mono_orient = 1;
  data.instrument.atten = 17.25;
  data.fit.bg_type = 1;
  const auto dir = testing::ScratchDir("simulate_parameters");
  std::string error;
  ASSERT_TRUE(sim::WriteParameterFile(data, dir / "set.par", error)) << error;
  auto state = testing::FreshState(false);
  ASSERT_TRUE(state->files.parameters.Open((dir / "set.par").string()));
  const ParameterFileResult read = ReadParameterFile(state->files.parameters, state->params, state->parameter_marks);
  ASSERT_FALSE(read.error) << read.error->message;
  const RunParameters& p = state->params;
  EXPECT_FLOAT_EQ(p.pdef[kFwhm][kCoefA], data.fit.fwhm_a);
  EXPECT_FLOAT_EQ(p.pdef[kFwhm][kCoefB], data.fit.fwhm_b);
  EXPECT_FLOAT_EQ(p.pdef[kEta][kCoefA], data.fit.eta);
  for (int k = 1; k <= 6; ++k) {
    EXPECT_FLOAT_EQ(p.low[k], data.fit.low[k]) << k;
    EXPECT_FLOAT_EQ(p.high[k], data.fit.high[k]) << k;
    EXPECT_EQ(p.refine_flag[k], data.fit.refine_flag[k]) << k;
  }
  for (int k = 1; k <= 7; ++k) EXPECT_EQ(p.check_flag[k], data.fit.check_flag[k]) << k;
  EXPECT_FLOAT_EQ(p.rwp_max, data.fit.rwp_max);
  EXPECT_FLOAT_EQ(p.atten, 17.25f);
  EXPECT_EQ(p.n_wavelengths, 2);
  EXPECT_FLOAT_EQ(p.lambda1, 0.7093f);
  EXPECT_FLOAT_EQ(p.lambda2, 0.71359f);
  EXPECT_FLOAT_EQ(p.iratio, 0.5f);
  EXPECT_EQ(p.mono_orient, 1);
  EXPECT_FLOAT_EQ(p.mono_2theta, 12.16f);
  EXPECT_EQ(p.bg_type, 1);
  EXPECT_FLOAT_EQ(p.rs, 100.0f);
  EXPECT_EQ(state->parameter_marks, (std::array<bool, 8>{true, true, true, true, true, true, true, true}));
}

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The README's command, run again, makes the bundled example byte for byte.
TEST(Simulate, BundledExampleIsWhatItsCommandMakes) {
  const std::filesystem::path examples = std::filesystem::path(KALVEX_SOURCE_DIR) / "examples";
  const std::string readme = Slurp(examples / "README.md");
  const auto start = readme.find("simulate --format");
  ASSERT_NE(start, std::string::npos);
  std::string arguments = readme.substr(start + 8, readme.find('\n', start) - start - 8);
  const auto out = testing::ScratchDir("simulate_example");
  arguments.replace(arguments.find("--out examples"), 14, "--out " + out.string());
  const std::string command =
      (std::filesystem::path(KALVEX_BINARY_DIR) / "tools" / "simulate" / "simulate").string() + arguments + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (const char* name : {"example.dca", "example.par", "example_truth.csv"}) {
    const std::string made = Slurp(out / name);
    ASSERT_FALSE(made.empty()) << name;
    EXPECT_TRUE(made == Slurp(examples / name)) << name << " differs from the bundled one";
  }
}

}  // namespace
}  // namespace kalvex
