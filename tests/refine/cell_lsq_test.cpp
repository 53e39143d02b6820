// UB and cell least squares on synthetic reflections: recovery of a known
// cell, ESDs against the scatter of repeated simulations, the constrained
// systems, and the singular cases with their boxes.
#include "refine/cell_lsq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/refine/synthetic.h"
#include "tests/support/headless.h"

namespace kalvex {
namespace {

constexpr float kLambda = 0.71073f;

struct Data {
  std::vector<Angles> angles;
  std::vector<Hkl> hkl;
};

Data Simulate(const Mat3& ub, int count, unsigned seed, double sd) {
  Data d;
  for (const auto& r : testing::MakeReflections(ub, kLambda, count, seed, sd, 10.0, sd)) {
    d.angles.push_back(r.angles);
    d.hkl.push_back(r.hkl);
  }
  return d;
}

CellVector TrueCell(const Mat3& ub) {
  CellVector cell{};
  EXPECT_EQ(CellFromUB(ub, cell), kCellOk);
  return cell;
}

const CellVector kTriclinic{7.1f, 9.3f, 11.2f, 84.0f, 97.5f, 103.0f, 0};

TEST(CellLsq, LsqRecoversCellAndUBWithinEsds) {
  const Mat3 ub = testing::MakeUB(kTriclinic, 20, 35, -50);
  const CellVector truth = TrueCell(ub);
  const Data d = Simulate(ub, 40, 3, 0.01);
  OrientationState o;
  Notices notices;
  ASSERT_TRUE(LSQ(d.angles, d.hkl, kLambda, o, notices));
  EXPECT_EQ(notices.count, 0);
  for (int i = 0; i < 7; ++i) {
    EXPECT_GT(o.cell_esd[i], 0.0f);
    EXPECT_LT(std::fabs(o.cell[i] - truth[i]), 4 * o.cell_esd[i]) << "parameter " << i;
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(o.ub[i][j], ub[i][j], 2e-4f);
  // B belongs to the refined cell.
  Mat3 b{};
  ASSERT_TRUE(CALCB(o.cell, b, notices));
  EXPECT_EQ(b, o.b);
}

// Mean reported ESD over the scatter of the refined values, per parameter.
std::array<double, 7> EsdOverScatter(int system, const CellVector& cell, int sims) {
  const Mat3 ub = testing::MakeUB(cell, 20, 35, -50);
  const CellVector truth = TrueCell(ub);
  std::array<double, 7> sum{}, sum2{}, esd{};
  for (int k = 0; k < sims; ++k) {
    const Data d = Simulate(ub, 40, 100 + k, 0.01);
    OrientationState o;
    Notices notices;
    const bool ok = system == kUnconstrained ? LSQ(d.angles, d.hkl, kLambda, o, notices)
                                             : LSVEC(system, d.angles, d.hkl, kLambda, o, notices);
    EXPECT_TRUE(ok);
    for (int i = 0; i < 7; ++i) {
      const double dev = double(o.cell[i]) - truth[i];
      sum[i] += dev;
      sum2[i] += dev * dev;
      esd[i] += o.cell_esd[i];
    }
  }
  std::array<double, 7> ratio{};
  for (int i = 0; i < 7; ++i) {
    const double mean = sum[i] / sims;
    const double sd = std::sqrt(std::max(0.0, sum2[i] / sims - mean * mean));
    ratio[i] = (esd[i] / sims) / sd;
  }
  return ratio;
}

TEST(CellLsq, LsqEsdsHaveTheSizeOfTheScatter) {
  const auto ratio = EsdOverScatter(kUnconstrained, kTriclinic, 200);
  for (int i = 0; i < 7; ++i) {
    EXPECT_GT(ratio[i], 0.55) << "parameter " << i;
    EXPECT_LT(ratio[i], 1.6) << "parameter " << i;
  }
}

TEST(CellLsq, ExactlyThreeReflectionsReproduceTheirVectorsAndKeepEsds) {
  const Mat3 ub = testing::MakeUB(kTriclinic, 10, 20, 30);
  Data d;
  for (Hkl h : {Hkl{1, 0, 0}, Hkl{0, 1, 1}, Hkl{1, -1, 2}}) {
    Angles a{};
    ASSERT_TRUE(testing::SettingAngles(ub, h, kLambda, 3.0, a));
    d.angles.push_back(a);
    d.hkl.push_back(h);
  }
  OrientationState o;
  o.cell_esd = {1, 2, 3, 4, 5, 6, 7};
  Notices notices;
  ASSERT_TRUE(LSQ(d.angles, d.hkl, kLambda, o, notices));
  EXPECT_EQ(o.cell_esd, (CellVector{1, 2, 3, 4, 5, 6, 7}));
  for (int n = 0; n < 3; ++n) {
    const Vec3 v = DiffractionVector(d.angles[n], kLambda);
    const Vec3 fit = Multiply3(o.ub, Vec3{float(d.hkl[n][0]), float(d.hkl[n][1]), float(d.hkl[n][2])});
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(fit[i], v[i], 1e-6f);
  }
}

TEST(CellLsq, ZoneOfReflectionsIsSingularForBothRefinements) {
  auto state = testing::FreshState(false);
  state->params.lambda1 = kLambda;
  const Mat3 ub = testing::MakeUB(kTriclinic, 10, 20, 30);
  PreprocessedList& list = state->preprocessed_list;
  for (Hkl h : {Hkl{1, 0, 0}, Hkl{0, 1, 0}, Hkl{1, 1, 0}, Hkl{2, -1, 0}, Hkl{1, 3, 0}}) {
    ASSERT_TRUE(testing::SettingAngles(ub, h, kLambda, 0.0, list.entries[list.count].angles));
    list.entries[list.count++].hkl = h;
  }
  OrientationState& o = state->orientation;
  o.ub[0][0] = 0.5f;
  o.cell = {1, 2, 3, 90, 90, 90, 6};
  o.cell_esd = {1, 1, 1, 1, 1, 1, 1};
  const OrientationState before = o;
  EXPECT_FALSE(testing::StateLSQ(*state));
  ASSERT_EQ(script::Boxes().size(), 2u);
  EXPECT_EQ(script::Boxes()[0].message, "Singular matrix in LUDCMP");
  EXPECT_EQ(script::Boxes()[1].title, "Win-Kalvex");
  EXPECT_EQ(script::Boxes()[1].message, "Normal Equations Matrix in LSQ is Singular");
  script::ClearBoxes();
  EXPECT_FALSE(testing::StateLSVEC(*state, kOrthorhombic));
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "Win-Kalvex");
  EXPECT_EQ(script::Boxes()[0].message, "Matrix is Singular");
  EXPECT_EQ(o.ub, before.ub);
  EXPECT_EQ(o.cell, before.cell);
  EXPECT_EQ(o.cell_esd, before.cell_esd);
}

TEST(CellLsq, LsqKeepsTheOrientationWhenTheFitHasNoCell) {
  // Reflections at 2theta = 0 have no diffraction vector: UB would be zero.
  Data d;
  for (Hkl h : {Hkl{1, 0, 0}, Hkl{0, 1, 0}, Hkl{0, 0, 1}, Hkl{1, 1, 1}}) {
    d.angles.push_back({0.0f, 0.0f, 10.0f, 20.0f});
    d.hkl.push_back(h);
  }
  OrientationState o;
  o.ub = testing::MakeUB(kTriclinic, 10, 20, 30);
  o.cell = {7, 9, 11, 84, 97, 103, 700};
  o.cell_esd = {1, 1, 1, 1, 1, 1, 1};
  const OrientationState before = o;
  Notices notices;
  EXPECT_FALSE(LSQ(d.angles, d.hkl, kLambda, o, notices));
  EXPECT_EQ(notices.Count(Notice::kOmtobInvalid), 1);
  EXPECT_EQ(o.ub, before.ub);
  EXPECT_EQ(o.cell, before.cell);
  EXPECT_EQ(o.cell_esd, before.cell_esd);
}

struct SystemCase {
  int system;
  CellVector cell;
};

const SystemCase kSystems[] = {
    {kMonoclinicB, {7.1f, 9.3f, 11.2f, 90, 112, 90, 0}}, {kMonoclinicC, {7.1f, 9.3f, 11.2f, 90, 90, 115, 0}},
    {kOrthorhombic, {7.1f, 9.3f, 11.2f, 90, 90, 90, 0}}, {kTetragonal, {8, 8, 11.2f, 90, 90, 90, 0}},
    {kHexagonal, {6, 6, 9, 90, 90, 120, 0}},            {kCubic, {9.5f, 9.5f, 9.5f, 90, 90, 90, 0}},
};

TEST(CellLsq, LsvecHoldsTheSystemsAnglesAndFindsTheLengths) {
  for (const SystemCase& sc : kSystems) {
    const Mat3 ub = testing::MakeUB(sc.cell, -15, 48, 122);
    const CellVector truth = TrueCell(ub);
    const Data d = Simulate(ub, 40, 21, 0.01);
    OrientationState o;
    Notices notices;
    ASSERT_TRUE(LSVEC(sc.system, d.angles, d.hkl, kLambda, o, notices)) << sc.system;
    EXPECT_EQ(notices.count, 0);
    // Angles exact up to the program's degree constant (57.2958 vs 180/pi).
    EXPECT_NEAR(o.cell[3], 90.0f, 1e-4f) << sc.system;
    if (sc.system != kMonoclinicB) {
      EXPECT_NEAR(o.cell[4], 90.0f, 1e-4f) << sc.system;
    }
    if (sc.system != kMonoclinicC && sc.system != kHexagonal) {
      EXPECT_NEAR(o.cell[5], 90.0f, 1e-4f) << sc.system;
    }
    if (sc.system == kHexagonal) {
      EXPECT_NEAR(o.cell[5], 120.0f, 1e-4f);
    }
    if (sc.system == kTetragonal || sc.system == kHexagonal || sc.system == kCubic) {
      EXPECT_NEAR(o.cell[0], o.cell[1], 1e-5f) << sc.system;
    }
    if (sc.system == kCubic) {
      EXPECT_NEAR(o.cell[0], o.cell[2], 1e-5f);
    }
    for (int i = 0; i < 7; ++i) {
      if (i >= 3 && i <= 5 && o.cell_esd[i] < 1e-6f) continue;  // a fixed angle
      EXPECT_LT(std::fabs(o.cell[i] - truth[i]), 4 * o.cell_esd[i]) << sc.system << " parameter " << i;
    }
    // Only the free angle has an ESD.
    EXPECT_LT(o.cell_esd[3], 1e-9f);
    EXPECT_EQ(o.cell_esd[4] > 1e-6f, sc.system == kMonoclinicB) << sc.system;
    EXPECT_EQ(o.cell_esd[5] > 1e-6f, sc.system == kMonoclinicC) << sc.system;
  }
}

TEST(CellLsq, LsvecOnExactOrthorhombicDataMatchesLsq) {
  const Mat3 ub = testing::MakeUB({7.1f, 9.3f, 11.2f, 90, 90, 90, 0}, 5, 60, -20);
  const Data d = Simulate(ub, 30, 8, 0.0);
  OrientationState free_fit, constrained;
  Notices notices;
  ASSERT_TRUE(LSQ(d.angles, d.hkl, kLambda, free_fit, notices));
  ASSERT_TRUE(LSVEC(kOrthorhombic, d.angles, d.hkl, kLambda, constrained, notices));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(constrained.cell[i], free_fit.cell[i], 2e-5f);
  for (int i = 3; i < 6; ++i) {
    EXPECT_NEAR(constrained.cell[i], 90.0f, 1e-4f);
    EXPECT_NEAR(constrained.cell_esd[i], kDegPerRadGeometry * 1e-12f, 1e-14f);
  }
}

TEST(CellLsq, LsvecLeavesTheUBOfItsCell) {
  // The ESD Jacobian moves each D element and back; the stored UB must be the
  // solution itself, not the last moved one.
  for (const SystemCase& sc : kSystems) {
    const Mat3 ub = testing::MakeUB(sc.cell, 30, 70, 10);
    const Data d = Simulate(ub, 30, 4, 0.005);
    OrientationState o;
    Notices notices;
    ASSERT_TRUE(LSVEC(sc.system, d.angles, d.hkl, kLambda, o, notices));
    CellVector from_ub{};
    ASSERT_EQ(CellFromUB(o.ub, from_ub), kCellOk);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(from_ub[i], o.cell[i], 2e-5f * o.cell[i]) << sc.system;
    for (int i = 3; i < 6; ++i) EXPECT_NEAR(from_ub[i], o.cell[i], 2e-3f) << sc.system;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(o.ub[i][j], ub[i][j], 3e-4f) << sc.system;
  }
}

TEST(CellLsq, LsvecEsdsHaveTheSizeOfTheScatter) {
  // beta far from 90 tells an angle ESD divided by sin(beta) from one
  // multiplied by it (a factor of 2 at 135 degrees).
  const SystemCase cases[] = {{kMonoclinicB, {7.1f, 9.3f, 11.2f, 90, 135, 90, 0}},
                              {kMonoclinicC, {7.1f, 9.3f, 11.2f, 90, 90, 60, 0}},
                              {kOrthorhombic, {7.1f, 9.3f, 11.2f, 90, 90, 90, 0}},
                              {kHexagonal, {6, 6, 9, 90, 90, 120, 0}},
                              {kCubic, {9.5f, 9.5f, 9.5f, 90, 90, 90, 0}}};
  for (const SystemCase& sc : cases) {
    const auto ratio = EsdOverScatter(sc.system, sc.cell, 200);
    for (int i : {0, 1, 2, 6}) {
      EXPECT_GT(ratio[i], 0.55) << sc.system << " parameter " << i;
      EXPECT_LT(ratio[i], 1.6) << sc.system << " parameter " << i;
    }
    const int free_angle = sc.system == kMonoclinicB ? 4 : sc.system == kMonoclinicC ? 5 : -1;
    if (free_angle > 0) {
      EXPECT_GT(ratio[free_angle], 0.75) << sc.system;
      EXPECT_LT(ratio[free_angle], 1.35) << sc.system;
    }
  }
}

TEST(CellLsq, LargeCellsRefineWithConstraints) {
  // V = 160000: 1/V is below 1e-5, yet the cell is perfectly regular.
  const CellVector cell{48.0f, 55.0f, 60.6f, 90, 90, 90, 0};
  const Mat3 ub = testing::MakeUB(cell, 12, 34, 56);
  std::vector<Angles> angles;
  std::vector<Hkl> hkl;
  for (const auto& r : testing::MakeReflections(ub, 1.5418, 60, 9)) {
    angles.push_back(r.angles);
    hkl.push_back(r.hkl);
  }
  OrientationState o;
  Notices notices;
  ASSERT_TRUE(LSVEC(kOrthorhombic, angles, hkl, 1.5418f, o, notices));
  EXPECT_EQ(notices.count, 0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(o.cell[i], cell[i], 1e-3f * cell[i]);
}

TEST(CellLsq, UnknownSystemIsRefusedWithTheLsvecBox) {
  auto state = testing::FreshState(false);
  state->params.lambda1 = kLambda;
  const Mat3 ub = testing::MakeUB(kTriclinic, 10, 20, 30);
  PreprocessedList& list = state->preprocessed_list;
  for (const auto& r : testing::MakeReflections(ub, kLambda, 12, 2)) {
    list.entries[list.count].angles = r.angles;
    list.entries[list.count++].hkl = r.hkl;
  }
  const OrientationState before = state->orientation;
  EXPECT_FALSE(testing::StateLSVEC(*state, 7));
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].message, "Normal Equations Matrix in LSVEC is Singular");
  EXPECT_EQ(state->orientation.ub, before.ub);

  // The same list refines through the state's wrappers.
  script::ClearBoxes();
  EXPECT_TRUE(testing::StateLSQ(*state));
  EXPECT_NEAR(state->orientation.cell[0], 7.1f, 1e-4f);
  // A wrong system is a fit, not a failure; one linear step from far away
  // holds the constraints to first order only.
  EXPECT_TRUE(testing::StateLSVEC(*state, kMonoclinicB));
  EXPECT_TRUE(script::Boxes().empty());
  EXPECT_NEAR(state->orientation.cell[5], 90.0f, 0.1f);

  BorderedArray a{};
  std::array<float, 9> solution{};
  int free_parameters = -1;
  EXPECT_EQ(SolveConstrained(0, CellMetrics{}, {}, a, solution, free_parameters), 2);
}

}  // namespace
}  // namespace kalvex
