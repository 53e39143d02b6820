// Geometry: diffraction vector, indices round trips, the omega search, B and
// the cell from UB with hand-checked numbers, and the offset correction.
#include "refine/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "tests/support/headless.h"
#include "tests/refine/synthetic.h"

namespace kalvex {
namespace {

using testing::kDeg;

constexpr float kLambda = 0.71073f;

TEST(Geometry, DiffractionVectorInBisectingPositionAndItsLength) {
  const Angles angles{30.0f, 0.0f, 25.0f, 140.0f};
  const Vec3 h = DiffractionVector(angles, kLambda);
  const double len = 2 * std::sin(15 * kDeg) / kLambda;
  EXPECT_NEAR(h[0], len * std::cos(25 * kDeg) * std::cos(140 * kDeg), 1e-5);
  EXPECT_NEAR(h[1], len * std::cos(25 * kDeg) * std::sin(140 * kDeg), 1e-5);
  EXPECT_NEAR(h[2], len * std::sin(25 * kDeg), 1e-5);
  // Off bisecting the direction changes, the length 1/d does not.
  const Vec3 g = DiffractionVector({30.0f, 12.0f, 25.0f, 140.0f}, kLambda);
  EXPECT_NEAR(std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]), len, 1e-5);
  Vec3 r1{}, r2{};
  DiffractionDirection({30.0f, 12.0f, 25.0f, 140.0f}, r1, r2);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(g[i], len * r1[i], 1e-5);
  // R2 is the omega derivative of R1: compare with a central difference.
  Vec3 up{}, down{}, unused{};
  DiffractionDirection({30.0f, 12.5f, 25.0f, 140.0f}, up, unused);
  DiffractionDirection({30.0f, 11.5f, 25.0f, 140.0f}, down, unused);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(r2[i], (up[i] - down[i]) / (1.0 * kDeg), 2e-4);
}

TEST(Geometry, AnglesOfIndicesGiveTheIndicesBack) {
  const Mat3 ub = testing::MakeUB({7.1f, 9.3f, 11.2f, 84.0f, 97.5f, 103.0f}, 20, 35, -50);
  const auto refl = testing::MakeReflections(ub, kLambda, 60, 11);
  ASSERT_EQ(refl.size(), 60u);
  for (const auto& r : refl) {
    Vec3 hkl{};
    ASSERT_TRUE(AnglesToHkl(ub, r.angles, kLambda, hkl));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(hkl[i], r.hkl[i], 2e-4);
    Mat3 inverse{};
    float det = 0;
    ASSERT_EQ(InvertMatrix(ub, inverse, det), kLuOk);
    EXPECT_LT(HklMisfit(inverse, r.angles, kLambda, r.hkl), 5e-4f);
  }
}

TEST(Geometry, PredictOmegaFindsThePeakWithinItsWindow) {
  const Mat3 ub = testing::MakeUB({7.1f, 9.3f, 11.2f, 84.0f, 97.5f, 103.0f}, 20, 35, -50);
  const auto refl = testing::MakeReflections(ub, kLambda, 20, 5);
  for (const auto& r : refl) {
    for (float start_off : {0.5f, -0.5f, 0.93f}) {
      Angles start = r.angles;
      start[kOmega] += start_off;
      float omega = 0;
      ASSERT_TRUE(PredictOmega(ub, start, kLambda, r.hkl, omega));
      EXPECT_NEAR(omega, r.angles[kOmega], 3e-4f) << r.hkl[0] << r.hkl[1] << r.hkl[2] << " off " << start_off;
    }
    // Beyond the window the search ends at its edge, about 1 degree away.
    Angles far = r.angles;
    far[kOmega] += 1.5f;
    float omega = 0;
    ASSERT_TRUE(PredictOmega(ub, far, kLambda, r.hkl, omega));
    EXPECT_NEAR(omega, far[kOmega] - 1.0f, 1e-3f);
  }
}

TEST(Geometry, PredictOmegaKeepsTheFirstOfEqualMisfits) {
  // At 2theta = 0 the diffraction vector vanishes: every omega fits equally,
  // so the first candidate of the coarse pass, start - 0.98, must stay.
  const Mat3 ub = testing::MakeUB({5, 5, 5, 90, 90, 90}, 0, 0, 0);
  float omega = 0;
  ASSERT_TRUE(PredictOmega(ub, {0.0f, 3.0f, 10.0f, 20.0f}, kLambda, {1, 0, 0}, omega));
  EXPECT_NEAR(omega, 3.0f - 0.98f, 1e-5f);
}

TEST(Geometry, PredictOmegaWithoutAnInverseShowsTheLuBoxAndKeepsOmega) {
  auto state = testing::FreshState(false);
  state->params.lambda1 = kLambda;
  state->orientation.ub = {};
  state->orientation.ub[0] = {0.1f, 0, 0};
  state->orientation.ub[1] = {0, 0.1f, 0};  // third row zero
  const float omega = engine::Run(*state, WindowEvents(*state)).PredictOmega({20.0f, 1.25f, 10.0f, 20.0f}, {1, 1, 0});
  EXPECT_EQ(omega, 1.25f);
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "Win-Kalvex");
  EXPECT_EQ(script::Boxes()[0].message, "Singular matrix in LUDCMP");
}

TEST(Geometry, BMatrixOfKnownCells) {
  Notices notices;
  Mat3 b{};
  ASSERT_TRUE(CALCB({10, 10, 10, 90, 90, 90, 0}, b, notices));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(b[i][j], i == j ? 0.1f : 0.0f, 1e-6f);

  ASSERT_TRUE(CALCB({5, 6, 7, 90, 90, 90, 0}, b, notices));
  EXPECT_NEAR(b[0][0], 0.2f, 1e-6f);
  EXPECT_NEAR(b[1][1], 1.0f / 6, 1e-6f);
  EXPECT_NEAR(b[2][2], 1.0f / 7, 1e-6f);

  // Hexagonal a = 4, c = 6: a* = 2/(a sqrt 3) = 0.288675, gamma* = 60.
  ASSERT_TRUE(CALCB({4, 4, 6, 90, 90, 120, 0}, b, notices));
  EXPECT_NEAR(b[0][0], 0.288675f, 2e-6f);
  EXPECT_NEAR(b[0][1], 0.144338f, 2e-6f);
  EXPECT_NEAR(b[1][1], 0.25f, 2e-6f);
  EXPECT_NEAR(b[2][2], 1.0f / 6, 2e-6f);
  EXPECT_NEAR(b[0][2], 0.0f, 1e-6f);
  EXPECT_NEAR(b[1][2], 0.0f, 1e-6f);

  // Monoclinic b-unique a = 5, b = 6, c = 7, beta = 100: a* = 1/(a sin beta),
  // c* cos beta* = cos 80 / (c sin 100), c* sin beta* = 1/c.
  ASSERT_TRUE(CALCB({5, 6, 7, 90, 100, 90, 0}, b, notices));
  EXPECT_NEAR(b[0][0], 0.2030853f, 2e-6f);
  EXPECT_NEAR(b[0][1], 0.0f, 1e-6f);
  EXPECT_NEAR(b[0][2], 0.0251896f, 2e-6f);
  EXPECT_NEAR(b[1][1], 1.0f / 6, 2e-6f);
  EXPECT_NEAR(b[2][2], 1.0f / 7, 2e-6f);
  EXPECT_EQ(notices.count, 0);
}

TEST(Geometry, TriclinicBAgreesWithReciprocalMetricAndBuildBMatrix) {
  const CellVector cell{5.5f, 7.25f, 9.0f, 78.0f, 96.0f, 108.0f, 0};
  Notices notices;
  Mat3 b{};
  ASSERT_TRUE(CALCB(cell, b, notices));
  const auto ref = testing::ReferenceB(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(b[i][j], ref[i][j], 2e-6) << i << j;

  CellMetrics direct{cell[0], cell[1], cell[2], float(std::cos(78 * kDeg)), float(std::cos(96 * kDeg)),
                     float(std::cos(108 * kDeg))};
  const ReciprocalCellResult rec = ReciprocalCell(direct);
  const Mat3 built = BuildBMatrix(direct, rec.reciprocal);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(built[i][j], b[i][j], 2e-6) << i << j;
  // The reciprocal of the reciprocal is the direct cell, volumes inverse.
  const ReciprocalCellResult back = ReciprocalCell(rec.reciprocal);
  EXPECT_NEAR(back.reciprocal.a, direct.a, 1e-4);
  EXPECT_NEAR(back.reciprocal.b, direct.b, 1e-4);
  EXPECT_NEAR(back.reciprocal.c, direct.c, 1e-4);
  EXPECT_NEAR(back.reciprocal.cos_alpha, direct.cos_alpha, 1e-5);
  EXPECT_NEAR(back.reciprocal.cos_beta, direct.cos_beta, 1e-5);
  EXPECT_NEAR(back.reciprocal.cos_gamma, direct.cos_gamma, 1e-5);
  EXPECT_NEAR(back.volume * rec.volume, 1.0, 1e-5);
  EXPECT_NEAR(rec.inverse_volume * rec.volume, 1.0, 1e-6);
}

TEST(Geometry, OmtobRecoversTheCellAndBFromUB) {
  const CellVector cell{5.5f, 7.25f, 9.0f, 78.0f, 96.0f, 108.0f, 0};
  const Mat3 ub = testing::MakeUB(cell, 33, -21, 75);
  Notices notices;
  CellVector got{};
  Mat3 b{};
  ASSERT_TRUE(OMTOB(ub, got, b, notices));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], cell[i], 2e-4f);
  for (int i = 3; i < 6; ++i) EXPECT_NEAR(got[i], cell[i], 3e-3f);
  const double ca = std::cos(78 * kDeg), cb = std::cos(96 * kDeg), cg = std::cos(108 * kDeg);
  const double volume = 5.5 * 7.25 * 9.0 * std::sqrt(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
  EXPECT_NEAR(got[6], volume, 2e-4 * volume);
  const auto ref = testing::ReferenceB(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(b[i][j], ref[i][j], 1e-5);

  // A left-handed UB has a positive UB^T UB all the same.
  Mat3 left = ub;
  for (auto& row : left)
    for (float& v : row) v = -v;
  CellVector got_left{};
  ASSERT_TRUE(OMTOB(left, got_left, b, notices));
  for (int i = 0; i < 7; ++i) EXPECT_NEAR(got_left[i], got[i], 1e-4f * std::max(1.0f, got[i]));
  EXPECT_EQ(notices.count, 0);
}

TEST(Geometry, ZeroUBAndImpossibleCellLeaveStateAndShowBoxes) {
  auto state = testing::FreshState(false);
  const auto dir = testing::ScratchDir("refine_geometry_boxes");
  ASSERT_TRUE(state->files.log.Open((dir / "run.log").string(), false));
  OrientationState& o = state->orientation;
  o.cell = {1, 2, 3, 90, 90, 90, 6};
  o.b[0][0] = 42.0f;
  EXPECT_FALSE(testing::StateOMTOB(*state));
  EXPECT_EQ(o.cell, (CellVector{1, 2, 3, 90, 90, 90, 6}));
  EXPECT_EQ(o.b[0][0], 42.0f);
  ASSERT_EQ(script::Boxes().size(), 2u);
  EXPECT_EQ(script::Boxes()[0].message, "Singular matrix in LUDCMP");
  EXPECT_EQ(script::Boxes()[1].title, "Win-Kalvex");
  EXPECT_EQ(script::Boxes()[1].message, "Invalid Orientation Matrix in OMTOB");

  // Angles of 150 degrees close no cell: det G < 0.
  script::ClearBoxes();
  o.cell = {5, 5, 5, 150, 150, 150, 0};
  EXPECT_FALSE(testing::StateCALCB(*state));
  EXPECT_EQ(o.b[0][0], 42.0f);
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "WinKalvex");
  EXPECT_EQ(script::Boxes()[0].message, " Error in CALCB");
  state->files.log.Close();
  std::ifstream in(dir / "run.log");
  std::stringstream text;
  text << in.rdbuf();
  // det G = 125^2 (1 - 3 cos^2 150 + 2 cos^3 150) = -39828.7, in F12.3.
  const std::string line = text.str();
  const std::string head = " Error in Cell: Determinant of G = ";
  ASSERT_EQ(line.size(), head.size() + 12 + 1);
  EXPECT_EQ(line.substr(0, head.size()), head);
  EXPECT_EQ(line.substr(head.size() + 8, 1), ".");
  EXPECT_NEAR(std::stod(line.substr(head.size(), 12)), -39828.72, 0.1);
}

TEST(Geometry, OffsetCorrection) {
  // Without offsets only omega zero moves the peak, whatever the angles.
  for (const Angles& a : {Angles{20, 3, 40, 50}, Angles{70, -8, -30, 200}}) {
    const Vec3 c = OffsetCorrection(a, {0, 0, 0}, 0.05f, 200.0f);
    EXPECT_EQ(c, (Vec3{0.0f, 0.05f, 0.0f}));
  }
  // x along the phi axis at chi = 90, omega = 0: delta 2theta = d cos(theta)/rs rad.
  const float d = 0.3f, rs = 180.0f;
  const Vec3 c = OffsetCorrection({40, 0, 90, 33}, {0, 0, d}, 0.01f, rs);
  const double expected = d * std::cos(20 * kDeg) / rs / kDeg;
  EXPECT_NEAR(c[0], expected, 1e-5);
  EXPECT_NEAR(c[1], 0.01 + expected, 1e-5);
  EXPECT_EQ(c[2], 0.0f);
  // At chi = 0, phi = 0, omega = 0 an offset along y lies along dR1/domega:
  // it acts through sin(theta).
  const Vec3 s = OffsetCorrection({40, 0, 0, 0}, {0, d, 0}, 0.0f, rs);
  EXPECT_NEAR(s[0], d * std::sin(20 * kDeg) / rs / kDeg, 1e-5);
}

TEST(Geometry, OffsetCorrectionWithoutDistanceIsOmegaZeroOnly) {
  // An RS of 0 (never set) would turn offsets into an infinite correction.
  const Vec3 c = OffsetCorrection({40, 0, 90, 33}, {0.1f, 0.2f, 0.3f}, 0.02f, 0.0f);
  EXPECT_EQ(c, (Vec3{0.0f, 0.02f, 0.0f}));
}

}  // namespace
}  // namespace kalvex
