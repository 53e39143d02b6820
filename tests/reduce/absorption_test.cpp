// Absorption: the beams in the crystal's frame against explicit rotations,
// the faces' transmission against closed forms and the simulator's own
// integration, the sphere against published values, mu from the formula
// against published structures, the empirical surface on a simulated
// plate, and both corrections of a simulated plate through the reduction.
#include <gtest/gtest.h>

#include <gemmi/cif.hpp>

#include <cmath>
#include <fstream>
#include <map>
#include <numbers>
#include <regex>

#include "engine/reduction.h"
#include "reduce/absorption.h"
#include "reduce/attenuation.h"
#include "reduce/empirical_absorption.h"
#include "reduce/hklf4.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex::reduce {
namespace {

constexpr double kDeg = std::numbers::pi / 180;
using M3 = simulate::Matrix3;

Mat3 AsMat3(const M3& m) {
  Mat3 out{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i][j] = static_cast<float>(m[i][j]);
  return out;
}

M3 Product(const M3& a, const M3& b) {
  M3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

double Dot(const Direction& a, const Direction& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

std::vector<CrystalFace> Box(double x, double y, double z) {
  return {{{1, 0, 0}, x / 2}, {{-1, 0, 0}, x / 2}, {{0, 1, 0}, y / 2},
          {{0, -1, 0}, y / 2}, {{0, 0, 1}, z / 2}, {{0, 0, -1}, z / 2}};
}

const Mat3 kIdentity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

TEST(ReduceAbsorption, BeamsAgainstExplicitRotations) {
  simulate::Crystal crystal;
  crystal.cell = {7.5, 9.8, 11.3, 90, 104.3, 90};
  crystal.rotation = {12, -25, 40};
  const M3 ubd = simulate::UBMatrix(crystal);
  const Mat3 ub = AsMat3(ubd);
  const double lambda = 0.71073;
  int checked = 0;
  for (const simulate::Hkl& hkl : std::vector<simulate::Hkl>{{1, 0, 0}, {2, -3, 1}, {0, 4, -5}, {-6, 2, 7}, {3, 3, 3}}) {
    const simulate::Vector3 h = simulate::Multiply(ubd, {double(hkl[0]), double(hkl[1]), double(hkl[2])});
    const double length = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
    const double theta = std::asin(lambda * length / 2);
    // Busing and Levy: h_phi turned by Omega X Phi lies along +x; omega 0 is
    // the bisecting setting, any other turns the crystal about h (psi).
    for (double omega : {0.0, 20.0, -35.0}) {
      const double chi = std::asin(h[2] / length / std::cos(omega * kDeg));
      const double phi =
          std::atan2(h[1], h[0]) - std::atan2(std::sin(omega * kDeg), std::cos(chi) * std::cos(omega * kDeg));
      auto about_z = [](double a) {
        return M3{{{std::cos(a), std::sin(a), 0}, {-std::sin(a), std::cos(a), 0}, {0, 0, 1}}};
      };
      const M3 x{{{std::cos(chi), 0, std::sin(chi)}, {0, 1, 0}, {-std::sin(chi), 0, std::cos(chi)}}};
      const M3 r = Product(about_z(omega * kDeg), Product(x, about_z(phi)));
      const std::array<double, 4> angles{2 * theta / kDeg, omega, chi / kDeg, phi / kDeg};
      const auto beams = BeamsInCrystal(ub, hkl, angles, lambda);
      ASSERT_TRUE(beams.has_value());
      // In the laboratory the incident beam travels (-sin, cos, 0) theta and
      // is diffracted along (sin, cos, 0); R^T takes them to the crystal.
      const Direction in_lab{std::sin(theta), -std::cos(theta), 0}, out_lab{std::sin(theta), std::cos(theta), 0};
      for (int i = 0; i < 3; ++i) {
        double in = 0, out = 0;
        for (int k = 0; k < 3; ++k) in += r[k][i] * in_lab[k], out += r[k][i] * out_lab[k];
        EXPECT_NEAR(beams->reversed_incident[i], in, 2e-6);
        EXPECT_NEAR(beams->diffracted[i], out, 2e-6);
        // s1 - s0 = lambda UB h.
        EXPECT_NEAR(beams->reversed_incident[i] + beams->diffracted[i], lambda * h[i], 2e-6);
      }
      EXPECT_NEAR(Dot(beams->reversed_incident, beams->reversed_incident), 1, 1e-12);
      EXPECT_NEAR(Dot(beams->reversed_incident, beams->diffracted), -std::cos(2 * theta), 1e-6);
      // The same beams as the HKLF 4 direction cosines.
      const std::array<double, 6> cosines = CosinesOnReciprocalAxes(*beams, ub);
      const auto written = BeamCosines(ub, hkl, angles, lambda);
      for (int i = 0; i < 6; ++i) EXPECT_NEAR(cosines[i], (*written)[i], 1e-6);  // UB is single precision
      ++checked;
    }
  }
  EXPECT_EQ(checked, 15);
  EXPECT_FALSE(BeamsInCrystal(ub, {0, 0, 0}, {0, 0, 0, 0}, lambda).has_value());
  EXPECT_FALSE(BeamsInCrystal(ub, {40, 40, 40}, {0, 0, 0, 0}, lambda).has_value());  // beyond 2theta = 180
}

TEST(ReduceAbsorption, FacesFileAndTheCrystalsItRefuses) {
  const FacesFile read = ParseFacesFile({"# plate", "", " 1 0 0 0.2  # front", "-1 0 0 0.2", "0 1 0 0.1",
                                         "0 -1 0 0.1", "0 0 1 0.025", "0 0 -1 0.025"});
  ASSERT_EQ(read.error, "");
  ASSERT_EQ(read.faces.size(), 6u);
  EXPECT_EQ(read.faces[0].line_number, 3);
  EXPECT_EQ(ParseFacesFile({"1 0 0 0.2", "1 0 0.2"}).error, "line 2: a face is four numbers, h k l distance_mm; found 3");
  EXPECT_EQ(ParseFacesFile({"1 0 x 0.2"}).error, "line 1: 'x' is not a number");
  EXPECT_EQ(ParseFacesFile({"# nothing"}).error, "no faces in the file");

  const CrystalShape plate = BuildCrystal(read.faces, kIdentity);
  ASSERT_TRUE(plate.Valid()) << plate.error;
  EXPECT_NEAR(plate.volume, 0.4 * 0.2 * 0.05, 1e-12);
  EXPECT_NEAR(plate.size[0], 0.4, 1e-9);
  EXPECT_NEAR(plate.size[1], 0.2, 1e-9);
  EXPECT_NEAR(plate.size[2], 0.05, 1e-9);

  std::vector<CrystalFace> faces = read.faces;
  faces[4].distance = -0.01;
  EXPECT_EQ(BuildCrystal(faces, kIdentity).error.rfind("face 5 (0 0 1 at -0.01 mm, line 7): the distance", 0), 0u);
  faces = read.faces;
  faces.pop_back();
  EXPECT_EQ(BuildCrystal(faces, kIdentity).error,
            "the faces do not close a crystal: it is open towards [0.00 0.00 -1.00] of the direct cell");
  faces = read.faces;
  faces.push_back({{1, 1, 0}, 0.5, 9});  // beyond the corner at 0.2, 0.1: touches nothing
  EXPECT_EQ(BuildCrystal(faces, kIdentity).error.rfind("face 7 (1 1 0 at 0.5 mm, line 9) does not bound", 0), 0u);
  faces.back().hkl = {0, 0, 0};
  EXPECT_EQ(BuildCrystal(faces, kIdentity).error, "face 7 (0 0 0 at 0.5 mm, line 9): indices 0 0 0 name no face");
}

// Closed forms (International Tables C, Table 6.3.3.1) for a slab of
// thickness T, both beams at theta to its faces: reflected from one face,
// A = sin theta / (2 mu T) (1 - exp(-2 mu T / sin theta)); transmitted
// through it, A = exp(-mu T / cos theta). A cube with both beams along an
// edge: A = exp(-mu L) at 2theta = 0, (1 - exp(-2 mu L)) / (2 mu L) at 180.
TEST(ReduceAbsorption, SlabAndCubeAgainstClosedForms) {
  const double t = 0.05, mu = 8;
  const CrystalShape slab = BuildCrystal(Box(1000, 1000, t), kIdentity);
  ASSERT_TRUE(slab.Valid());
  const GaussianTransmission g(slab, mu);
  for (double theta : {10.0, 25.0, 45.0, 70.0}) {
    const double s = std::sin(theta * kDeg), c = std::cos(theta * kDeg);
    const double reflected = s / (2 * mu * t) * (1 - std::exp(-2 * mu * t / s));
    EXPECT_NEAR(g.Transmission({{-c, 0, s}, {c, 0, s}}) / reflected, 1, 3e-4) << theta;  // the slab's edges: 1e-4
    const double transmitted = std::exp(-mu * t / c);
    EXPECT_NEAR(g.Transmission({{-s, 0, -c}, {-s, 0, c}}) / transmitted, 1, 3e-4) << theta;
  }
  // A cube turned by a general UB: the edges are the normals UB h.
  simulate::Crystal crystal;
  crystal.cell = {8.5, 11.2, 13.7, 90, 90, 90};
  crystal.rotation = {12, -25, 40};
  const Mat3 ub = AsMat3(simulate::UBMatrix(crystal));
  const CrystalShape cube = BuildCrystal(Box(0.2, 0.2, 0.2), ub);
  ASSERT_TRUE(cube.Valid());
  const Direction edge = cube.normals[2];
  const Direction back{-edge[0], -edge[1], -edge[2]};
  for (double m : {0.5, 5.0, 40.0}) {
    const GaussianTransmission gc(cube, m);
    EXPECT_NEAR(gc.Transmission({back, edge}) / std::exp(-m * 0.2), 1, 1e-6) << m;
    EXPECT_NEAR(gc.Transmission({edge, edge}) / ((1 - std::exp(-0.4 * m)) / (0.4 * m)), 1, 1e-6) << m;
  }
}

TEST(ReduceAbsorption, IrregularCrystalAgainstTheSimulatorsIntegration) {
  const std::vector<CrystalFace> faces{{{1, 0, 0}, 0.15}, {{-1, 0, 0}, 0.12}, {{0, 1, 0}, 0.08},  {{0, -1, 0}, 0.1},
                                       {{0, 0, 1}, 0.05}, {{0, 0, -1}, 0.06}, {{1, 1, 1}, 0.14},  {{-1, 1, -2}, 0.13},
                                       {{2, -1, 1}, 0.12}};
  simulate::Crystal crystal;
  crystal.cell = {7.5, 9.8, 11.3, 90, 104.3, 90};
  crystal.rotation = {30, 10, -20};
  const M3 ubd = simulate::UBMatrix(crystal);
  const CrystalShape shape = BuildCrystal(faces, AsMat3(ubd));
  ASSERT_TRUE(shape.Valid()) << shape.error;
  simulate::Absorber absorber;
  for (const CrystalFace& f : faces) absorber.faces.push_back({f.hkl[0], f.hkl[1], f.hkl[2], f.distance});
  absorber.mu = 6;
  const simulate::AbsorptionOracle oracle(absorber, ubd, 200000);
  const GaussianTransmission mine(shape, absorber.mu), empty(shape, 0.0);
  double worst = 0;
  for (int j = 0; j < 40; ++j) {
    const double z = 1 - (2 * j + 1) / 40.0, a = 2.4 * j, b = 1.1 * j;
    const Direction in{std::sqrt(1 - z * z) * std::cos(a), std::sqrt(1 - z * z) * std::sin(a), z};
    const Direction out{std::cos(b) * 0.8, std::sin(b) * 0.8, j % 2 ? 0.6 : -0.6};
    // Every cell of the crystal is counted once: without absorption A = 1.
    EXPECT_NEAR(empty.Transmission({in, out}), 1, 1e-9);
    EXPECT_NEAR(empty.Transmission({in, in}), 1, 1e-9);  // 2theta = 180: the two sets of cells coincide
    const double reference = oracle.Transmission(in, out);
    worst = std::max(worst, std::fabs(mine.Transmission({in, out}) / reference - 1));
  }
  EXPECT_LT(worst, 1.5e-3);  // the Halton sample's own error
}

TEST(ReduceAbsorption, SphereAgainstPublishedValues) {
  // A(mu R) at 2theta = 0, 90, 180. The ends are closed forms, x = 2 mu R:
  // 2theta = 0, both paths on one chord: A = 3 / x^3 (2 - exp(-x) (x^2 + 2x + 2));
  // 2theta = 180, back along the way in: A = 3 / (4 mu R) (1/2 - (1 - exp(-2x) (1 + 2x)) / (2x)^2).
  // 2theta = 90: the table of C. W. Dwiggins, Acta Cryst. A31 (1975) 146,
  // from the polynomial in ln A by which the table is published for
  // interpolation (within 0.15 % of the table).
  struct Row {
    double mu_r, a0, a90, a180;
  };
  for (const Row& row : {Row{0.5, 0.481808, 0.501762, 0.527252}, Row{1.0, 0.242493, 0.285525, 0.332418},
                         Row{2.0, 0.071428, 0.125592, 0.181658}}) {
    const SphereTransmission sphere(row.mu_r);
    EXPECT_NEAR(sphere.At(0) / row.a0, 1, 2e-3) << row.mu_r;
    EXPECT_NEAR(sphere.At(90) / row.a90, 1, 2e-3) << row.mu_r;
    EXPECT_NEAR(sphere.At(180) / row.a180, 1, 2e-3) << row.mu_r;
    // Between the table's points the interpolation follows the integral.
    EXPECT_NEAR(sphere.At(37.3), SphereTransmissionIntegral(row.mu_r, 37.3), 2e-6);
  }
}

TEST(ReduceAbsorption, MuFromTheFormulaAgainstPublishedStructures) {
  // Published mu (1/mm) with its formula, Z, cell volume and wavelength.
  struct Compound {
    const char* formula;
    double z, volume, lambda, mu;
  };
  const Compound compounds[] = {
      // C12H16O2 (Pbca), Acta Cryst. C53 (1997) 1963, COD 2006882: Mo.
      {"C12 H16 O2", 8, 2068.3, 0.71073, 0.082},
      // Calix[4]bipyrrole chloride, Chem. Commun. (2005), COD 7101147: Mo.
      {"C68 H104 Cl N9 O2", 4, 6599.2, 0.71073, 0.107},
      // C38H51N7O4S2, J. Am. Chem. Soc. 128 (2006), supporting CIF rn90f: Mo.
      {"C38H51N7O4S2", 4, 3947.79, 0.71073, 0.182},
      // Tetrachlorocyclotriphosphazene derivative, Acta Cryst. E60 (2004) o1369, COD 2204100: Cu.
      {"C23 H27 Cl4 N5 O3 P3", 8, 5959, 1.54184, 5.432},
  };
  for (const Compound& c : compounds) {
    const Attenuation a = AttenuationFromFormula(c.formula, c.z, c.volume, c.lambda);
    ASSERT_EQ(a.error, "") << c.formula;
    // The published digits, or 0.1 %.
    EXPECT_NEAR(a.mu, c.mu, std::max(0.0005, 1e-3 * c.mu)) << c.formula;
  }
  // For light atoms scattering is a third of mu at Mo K-alpha: carbon.
  const CrossSection carbon = AtomCrossSection(6, 0.71073);
  EXPECT_GT(carbon.scattering / carbon.Total(), 0.3);
  // Between the table's wavelengths the K edge of Br (0.92 A) stays sharp.
  EXPECT_GT(AtomCrossSection(35, 0.91).photo / AtomCrossSection(35, 0.93).photo, 5);
  EXPECT_EQ(AttenuationFromFormula("C12 Q2", 4, 1000, 0.71).error, "'Q2' in the formula names no element");
  EXPECT_EQ(AttenuationFromFormula("Cm2 O3", 4, 1000, 0.71).error,
            "Cm is beyond the elements with cross-sections (H to U)");
  EXPECT_NE(AttenuationFromFormula("C6 H6", 0, 1000, 0.71).error, "");
}

TEST(ReduceAbsorption, SphericalHarmonicsAreOrthonormal) {
  // Gauss-Legendre in cos(polar) and an even grid in azimuth integrate
  // products up to order 12 exactly.
  const int lmax = 6, n = 16, azimuths = 32;
  std::vector<double> y, x(n), w(n);
  for (int i = 0; i < n; ++i) {  // nodes on [-1, 1]: Newton on P_n
    double z = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5)), d = 1;
    for (int it = 0; it < 50; ++it) {
      double p0 = 1, p1 = 0;
      for (int j = 1; j <= n; ++j) {
        const double p2 = p1;
        p1 = p0;
        p0 = ((2.0 * j - 1) * z * p1 - (j - 1.0) * p2) / j;
      }
      d = n * (z * p0 - p1) / (z * z - 1);
      z -= p0 / d;
    }
    x[i] = z;
    w[i] = 2 / ((1 - z * z) * d * d);
  }
  const int size = (lmax + 1) * (lmax + 1);
  std::vector<double> gram(size * size, 0.0);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < azimuths; ++k) {
      const double phi = 2 * std::numbers::pi * k / azimuths, s = std::sqrt(1 - x[i] * x[i]);
      RealSphericalHarmonics(lmax, {s * std::cos(phi), s * std::sin(phi), x[i]}, y);
      for (int a = 0; a < size; ++a)
        for (int b = 0; b < size; ++b) gram[a * size + b] += w[i] * 2 * std::numbers::pi / azimuths * y[a] * y[b];
    }
  for (int a = 0; a < size; ++a)
    for (int b = 0; b < size; ++b) EXPECT_NEAR(gram[a * size + b], a == b ? 1.0 : 0.0, 1e-12) << a << " " << b;
  // Y_20 = sqrt(5 / 16 pi) (3 z^2 - 1).
  RealSphericalHarmonics(2, {0.6, 0, 0.8}, y);
  EXPECT_NEAR(y[6], std::sqrt(5 / (16 * std::numbers::pi)) * (3 * 0.64 - 1), 1e-14);
}

TEST(ReduceAbsorption, EmpiricalSurfaceOnASimulatedPlate) {
  // A plate 0.4 x 0.2 x 0.05 mm, mu = 2/mm, on an orthorhombic cell: every
  // equivalent of mmm measured in the bisecting setting, I = F^2 A with
  // counting noise.
  simulate::Crystal crystal;
  crystal.cell = {8.5, 11.2, 13.7, 90, 90, 90};
  crystal.rotation = {12, -25, 40};
  const M3 ubd = simulate::UBMatrix(crystal);
  const Mat3 ub = AsMat3(ubd);
  const CrystalShape plate = BuildCrystal(Box(0.4, 0.2, 0.05), ub);
  ASSERT_TRUE(plate.Valid());
  const GaussianTransmission gauss(plate, 2.0);
  simulate::Random random(7);
  std::vector<AbsorptionMeasurement> data;
  std::vector<double> truth;
  int group = 0;
  for (int h = 0; h <= 9; ++h)
    for (int k = 0; k <= 11; ++k)
      for (int l = 0; l <= 13; ++l) {
        const simulate::Vector3 s = simulate::Multiply(ubd, {double(h), double(k), double(l)});
        if (h + k + l == 0 || std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) > 1 / 1.1) continue;
        const double f2 = -20000 * std::log(random.Uniform());
        for (const simulate::Hkl& e : simulate::Equivalents("mmm", {h, k, l})) {
          simulate::SettingAngles a;
          simulate::BisectingAngles(ubd, e, 0.71073, a);
          const BeamPair beams = *BeamsInCrystal(ub, e, {a.two_theta, a.omega, a.chi, a.phi}, 0.71073);
          const double transmission = gauss.Transmission(beams);
          const double sigma = std::sqrt(f2 * transmission + 20);
          data.push_back({group, f2 * transmission + sigma * random.Normal(), sigma, beams});
          truth.push_back(transmission);
        }
        ++group;
      }
  const EmpiricalAbsorption e = RefineEmpiricalAbsorption(data);
  ASSERT_TRUE(e.Usable()) << e.refusal;
  EXPECT_TRUE(e.odd_orders);
  EXPECT_EQ(e.coefficients, 24);
  const double floor = RInt(data, truth);  // with the true transmission: counting alone
  EXPECT_GT(e.r_int_before, 3 * floor);
  EXPECT_LT(e.r_int_after, 0.4 * e.r_int_before);
  EXPECT_NEAR(e.t_max, 1.0, 1e-12);
  EXPECT_LT(CompareTransmissions(e.transmission, truth).rms, 0.03);
  // lmax 6 comes close to counting alone.
  EmpiricalOptions six;
  six.lmax = 6;
  const EmpiricalAbsorption finer = RefineEmpiricalAbsorption(data, six);
  EXPECT_EQ(finer.coefficients, 48);
  EXPECT_LT(finer.r_int_after, 1.5 * floor);
  EXPECT_LT(CompareTransmissions(finer.transmission, truth).rms, 0.02);
  // The surface gives any measurement the transmission it gave the data.
  EXPECT_NEAR(e.TransmissionOf(data[5].beams), e.transmission[5], 1e-12);

  // A few groups cannot hold lmax 6 (48 or 27 coefficients).
  const std::vector<AbsorptionMeasurement> few(data.begin(), data.begin() + 40);
  const EmpiricalAbsorption refused = RefineEmpiricalAbsorption(few, six);
  EXPECT_FALSE(refused.Usable());
  EXPECT_NE(refused.refusal.find("cannot determine the 27 coefficients of lmax 6 (at least 2 a coefficient are needed)"),
            std::string::npos)
      << refused.refusal;
}

TEST(ReduceAbsorption, SimulatedPlateThroughTheReduction) {
  // The plate above, its faces in a file, on a set of every mmm equivalent
  // with Poisson counts, and the same set without absorption for the floor.
  namespace fs = std::filesystem;
  const fs::path dir = kalvex::testing::ScratchDir("reduce_plate");
  std::ofstream(dir / "plate.faces") << "# 0.4 x 0.2 x 0.05 mm\n1 0 0 0.2\n-1 0 0 0.2\n0 1 0 0.1\n0 -1 0 0.1\n"
                                        "0 0 1 0.025\n0 0 -1 0.025\n";
  simulate::GeneratorOptions g;
  g.from_f_squared = true;
  g.equivalents = "mmm";
  g.reflections = 1000;
  g.mean_intensity = 100;
  g.seed = 4;
  simulate::DataSet sets[2];
  for (int absorbing = 0; absorbing < 2; ++absorbing) {
    if (absorbing) {
      std::string error;
      ASSERT_TRUE(simulate::ReadFaces(dir / "plate.faces", g.absorber.faces, error)) << error;
      g.absorber.mu = 2;
    }
    const std::string name = absorbing ? "plate" : "flat";
    sets[absorbing] = simulate::Generate({{8.5, 11.2, 13.7, 90, 90, 90}, {12, -25, 40}}, {}, {}, {}, g);
    std::string error;
    ASSERT_TRUE(simulate::WriteXcalibur(sets[absorbing], dir / (name + ".dca"), error) &&
                simulate::WriteParameterFile(sets[absorbing], dir / (name + ".par"), error));
    ASSERT_EQ(std::system((std::string(KALVEX_COMMAND) + " integrate " + (dir / (name + ".dca")).string() + " --par " +
                           (dir / (name + ".par")).string() + " --quiet > /dev/null").c_str()),
              0);
  }
  engine::ReductionRequest request;
  request.intensity_file = (dir / "flat.int").string();
  request.parameter_file = (dir / "flat.par").string();
  request.laue = "mmm";
  const engine::ReductionOutcome flat = engine::RunReduction(request);
  ASSERT_EQ(flat.status, 0) << flat.error;
  const double floor = flat.reduction.table.front().r_int;

  // Numerical, through the batch command.
  const std::string plate = (dir / "plate").string();
  ASSERT_EQ(std::system((std::string(KALVEX_COMMAND) + " reduce " + plate + ".int --par " + plate +
                         ".par --laue mmm --absorption faces --faces " + plate + ".faces --mu 2 > " + plate + ".out")
                            .c_str()),
            0);
  std::ifstream summary(plate + ".out");
  const std::string out((std::istreambuf_iterator<char>(summary)), {});
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("R_int in mmm ([0-9.]+) before, ([0-9.]+) after"))) << out;
  std::printf("R_int without absorption %.4f; with, uncorrected %s, numerical %s\n", floor, m[1].str().c_str(),
              m[2].str().c_str());
  EXPECT_GT(std::stod(m[1]), 3 * floor);
  EXPECT_LT(std::stod(m[2]), 1.2 * floor);
  // The corrected intensities against F^2 on the output scale.
  ASSERT_TRUE(std::regex_search(out, m, std::regex("Output scale ([0-9.e+-]+):")));
  const double k = std::stod(m[1]);
  std::map<std::array<int, 3>, double> f2;
  for (const simulate::SimReflection& r : sets[1].reflections)
    if (r.standard_index == 0) f2[r.hkl] = r.f_squared;
  double z2 = 0;
  int n = 0;
  std::ifstream hkl(plate + ".hkl");
  for (std::string line; std::getline(hkl, line) && line.substr(0, 12) != "   0   0   0"; ++n) {
    const std::array<int, 3> h{std::stoi(line.substr(0, 4)), std::stoi(line.substr(4, 4)), std::stoi(line.substr(8, 4))};
    z2 += std::pow((std::stod(line.substr(12, 8)) - k * f2.at(h)) / std::stod(line.substr(20, 8)), 2);
  }
  EXPECT_GT(n, 6000);
  std::printf("numerical: rms (I - F^2) / sigma %.3f\n", std::sqrt(z2 / n));
  EXPECT_LT(std::sqrt(z2 / n), 1.2);
  gemmi::cif::Document doc = gemmi::cif::read_file(plate + ".cif");
  gemmi::cif::Block& block = doc.blocks.at(0);
  EXPECT_EQ(gemmi::cif::as_string(*block.find_value("_exptl_absorpt_correction_type")), "gaussian");
  EXPECT_EQ(block.find("_exptl_crystal_face_", {"index_h", "index_k", "index_l", "perp_dist"}).length(), 6);
  EXPECT_NEAR(std::stod(*block.find_value("_exptl_crystal_size_mid")), 0.2, 1e-9);
  EXPECT_NEAR(std::stod(*block.find_value("_exptl_absorpt_coefficient_mu")), 2, 1e-9);

  // Empirical, the class from the ranking: the plate hides mmm until the
  // data are corrected. Its transmission against the simulator's truth.
  request.intensity_file = plate + ".int";
  request.parameter_file = plate + ".par";
  request.laue.clear();
  request.absorption = AbsorptionMethod::kEmpirical;
  request.lmax = 6;
  request.faces_file = plate + ".faces";
  request.mu = 2;
  request.hkl_file = (dir / "empirical.hkl").string();
  request.cif_file = (dir / "empirical.cif").string();
  const engine::ReductionOutcome empirical = engine::RunReduction(request);
  ASSERT_EQ(empirical.status, 0) << empirical.error;
  const Reduction& r = empirical.reduction;
  EXPECT_EQ(r.laue->label, "mmm");
  std::map<int, double> truth;
  for (const simulate::SimReflection& x : sets[1].reflections) truth[x.seq] = x.transmission;
  std::vector<double> mine, true_ones;
  for (const ReducedReflection& x : r.reflections)
    if (r.Kept(x)) mine.push_back(x.transmission), true_ones.push_back(truth.at(r.Record(x).seq_no));
  const TransmissionComparison against_truth = CompareTransmissions(mine, true_ones);
  std::printf("empirical: R_int %.4f; against the truth rms %.4f, against the faces rms %.4f\n",
              r.absorption.r_int_after, against_truth.rms, r.absorption.against_faces->rms);
  EXPECT_LT(r.absorption.r_int_after, 1.5 * floor);
  EXPECT_LT(against_truth.rms, 0.03);
  EXPECT_NEAR(r.absorption.against_faces->rms, against_truth.rms, 0.01);
  doc = gemmi::cif::read_file(empirical.cif_file);
  EXPECT_EQ(gemmi::cif::as_string(*doc.blocks.at(0).find_value("_exptl_absorpt_correction_type")), "multi-scan");
}

}  // namespace
}  // namespace kalvex::reduce
