// The linear algebra kit against independent formulations: inverse times
// matrix, cofactor determinants, Gauss-Jordan against LU, rank of singular input.
#include "common/linear_algebra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kalvex {
namespace {

// Determinant by cofactor expansion along the first row (double precision).
double CofactorDeterminant(const Matrix6& a, int n) {
  if (n == 1) return a[0][0];
  double det = 0.0;
  for (int c = 0; c < n; ++c) {
    Matrix6 minor{};
    for (int i = 1; i < n; ++i) {
      int mc = 0;
      for (int j = 0; j < n; ++j)
        if (j != c) minor[i - 1][mc++] = a[i][j];
    }
    det += ((c % 2) ? -1.0 : 1.0) * a[0][c] * CofactorDeterminant(minor, n - 1);
  }
  return det;
}

Matrix6 RandomMatrix(int n, std::mt19937& rng, bool symmetric) {
  std::uniform_real_distribution<float> u(-2.0f, 2.0f);
  Matrix6 a{};
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) a[i][j] = u(rng);
  if (symmetric) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < i; ++j) a[i][j] = a[j][i];
    for (int i = 0; i < n; ++i) a[i][i] += 4.0f;  // keep it well conditioned
  }
  return a;
}

// Largest |a * inv - I| over the n x n block.
double IdentityError(const Matrix6& a, const Matrix6& inv, int n) {
  double worst = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += double(a[i][k]) * inv[k][j];
      worst = std::max(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
    }
  return worst;
}

TEST(LinearAlgebra, InvertMatrixGivesInverseAndCofactorDeterminant) {
  std::mt19937 rng(12345);
  for (int n = 1; n <= 6; ++n) {
    for (int trial = 0; trial < 20; ++trial) {
      const Matrix6 a = RandomMatrix(n, rng, false);
      const double cofactor = CofactorDeterminant(a, n);
      if (std::fabs(cofactor) < 0.05) continue;  // too ill-conditioned for float checks
      Matrix6 inv{};
      float det = 0.0f;
      ASSERT_EQ(InvertMatrix(a, n, inv, det), kLuOk);
      EXPECT_NEAR(det, cofactor, 1e-4 * std::max(1.0, std::fabs(cofactor))) << "n=" << n;
      EXPECT_LT(IdentityError(a, inv, n), 2e-3) << "n=" << n << " trial " << trial;
    }
  }
}

TEST(LinearAlgebra, InvertMatrixInPlaceAndNeedingPivots) {
  // A zero leading element forces a row interchange: determinant sign flips.
  Matrix6 a{};
  a[0] = {0, 2, 1};
  a[1] = {3, 1, 0};
  a[2] = {1, 0, 4};
  const Matrix6 original = a;
  float det = 0.0f;
  ASSERT_EQ(InvertMatrix(a, 3, a, det), kLuOk);
  EXPECT_NEAR(det, CofactorDeterminant(original, 3), 1e-5);
  EXPECT_NEAR(det, -25.0, 1e-5);
  EXPECT_LT(IdentityError(original, a, 3), 1e-6);
}

TEST(LinearAlgebra, ZeroRowFailsWithInverseUntouched) {
  Matrix6 a{};
  a[0] = {1, 2, 3};
  a[2] = {0, 1, 5};
  Matrix6 inv{};
  inv[0][0] = 42.0f;
  float det = 7.0f;
  EXPECT_EQ(InvertMatrix(a, 3, inv, det), kLuZeroRow);
  EXPECT_EQ(det, 0.0f);
  EXPECT_EQ(inv[0][0], 42.0f);
  EXPECT_EQ(inv[1][1], 0.0f);
}

TEST(LinearAlgebra, DependentRowsFactoriseWithTinyDeterminant) {
  Matrix6 a{};
  a[0] = {1, 2, 3};
  a[1] = {2, 4, 6};
  a[2] = {1, 0, 1};
  Matrix6 inv{};
  float det = 1.0f;
  EXPECT_EQ(InvertMatrix(a, 3, inv, det), kLuOk);
  EXPECT_LT(std::fabs(det), 1e-6f);
}

TEST(LinearAlgebra, LuBackSubstituteSolvesSystems) {
  std::mt19937 rng(7);
  for (int n = 2; n <= 6; ++n) {
    const Matrix6 a = RandomMatrix(n, rng, true);
    Vector6 x_true{};
    for (int i = 0; i < n; ++i) x_true[i] = float(i) - 1.5f;
    Vector6 b{};
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) b[i] += a[i][j] * x_true[j];
    Matrix6 lu = a;
    Pivots6 pivots{};
    float parity = 0.0f;
    ASSERT_EQ(LUDCMP(lu, n, pivots, parity), kLuOk);
    EXPECT_TRUE(parity == 1.0f || parity == -1.0f);
    LuBackSubstitute(lu, n, pivots, b);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(b[i], x_true[i], 1e-4) << "n=" << n;
  }
}

TEST(LinearAlgebra, TransposeAndMultiplyThree) {
  const Mat3 a{{{1, 2, 3}, {4, 5, 6}, {7, 8, 10}}};
  const Mat3 b{{{0, 1, 0}, {-1, 0, 0}, {0, 0, 2}}};
  Mat3 t = a;
  Transpose3(t, t);
  EXPECT_EQ(t[0][2], 7.0f);
  EXPECT_EQ(t[2][0], 3.0f);
  EXPECT_EQ(t[1][1], 5.0f);
  Mat3 c{};
  Multiply3(a, b, c);
  const Mat3 expected{{{-2, 1, 6}, {-5, 4, 12}, {-8, 7, 20}}};
  EXPECT_EQ(c, expected);
  const Vec3 v = Multiply3(a, Vec3{1, 0, -1});
  EXPECT_EQ(v, (Vec3{-2, -2, -3}));
  Mat3 inv{};
  float det = 0.0f;
  ASSERT_EQ(InvertMatrix(a, inv, det), kLuOk);
  EXPECT_NEAR(det, -3.0f, 1e-5f);
  Mat3 prod{};
  Multiply3(inv, a, prod);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(prod[i][j], i == j ? 1.0f : 0.0f, 1e-5f);
}

TEST(LinearAlgebra, GaussJordanMatchesLuInverseAndDeterminant) {
  std::mt19937 rng(99);
  for (int n = 1; n <= 6; ++n) {
    for (int trial = 0; trial < 10; ++trial) {
      const bool symmetric = trial % 2 == 0;
      const Matrix6 a = RandomMatrix(n, rng, symmetric);
      const double cofactor = CofactorDeterminant(a, n);
      if (std::fabs(cofactor) < 0.05) continue;
      Matrix6 gj = a;
      float det = 0.0f;
      ASSERT_EQ(GaussJordanInvert(gj[0].data(), n, kMaxOrder, 1e-6f, 0, det), n);
      EXPECT_NEAR(det, cofactor, 1e-4 * std::max(1.0, std::fabs(cofactor)));
      Matrix6 lu_inv{};
      float lu_det = 0.0f;
      ASSERT_EQ(InvertMatrix(a, n, lu_inv, lu_det), kLuOk);
      EXPECT_LT(IdentityError(a, gj, n), 2e-3) << "n=" << n << " trial " << trial;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          EXPECT_NEAR(gj[i][j], lu_inv[i][j], 1e-3 * (1.0 + std::fabs(lu_inv[i][j])));
      Matrix6 gj6 = a;
      EXPECT_EQ(GaussJordanInvert(gj6, n, 1e-6f), n);
      EXPECT_EQ(gj6, gj);
    }
  }
}

TEST(LinearAlgebra, GaussJordanSolvesExtraColumns) {
  // 4 x 4 with two right-hand sides, in a wider array (stride 16).
  std::array<std::array<float, 16>, 15> a{};
  const float m[4][4] = {{0, 1, 2, 0}, {3, 0, 1, 1}, {1, 1, 0, 5}, {2, 0, 0, 1}};
  const float x1[4] = {1, -1, 2, 0.5f};
  const float x2[4] = {0, 3, -2, 1};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      a[i][j] = m[i][j];
      a[i][4] += m[i][j] * x1[j];
      a[i][5] += m[i][j] * x2[j];
    }
  }
  float det = 0.0f;
  ASSERT_EQ(GaussJordanInvert(a[0].data(), 4, 16, 1e-6f, 2, det), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(a[i][4], x1[i], 1e-5f);
    EXPECT_NEAR(a[i][5], x2[i], 1e-5f);
  }
}

TEST(LinearAlgebra, GaussJordanReportsRankOfSingularInput) {
  Matrix6 rank2{};
  rank2[0] = {1, 2, 3};
  rank2[1] = {2, 1, 0};
  rank2[2] = {3, 3, 3};  // sum of the first two rows
  EXPECT_EQ(GaussJordanInvert(rank2, 3, 1e-6f), 2);

  Matrix6 rank1{};
  rank1[0] = {1, 2, 0};
  rank1[1] = {2, 4, 0};
  EXPECT_EQ(GaussJordanInvert(rank1, 3, 1e-6f), 1);

  Matrix6 zero{};
  EXPECT_EQ(GaussJordanInvert(zero, 4, 1e-6f), 0);

  // A pivot just below the tolerance counts as unusable.
  Matrix6 small{};
  small[0][0] = 1.0f;
  small[1][1] = 5.0e-7f;
  EXPECT_EQ(GaussJordanInvert(small, 2, 1e-6f), 1);

  Matrix6 nan_matrix{};
  nan_matrix[0][0] = std::nanf("");
  EXPECT_EQ(GaussJordanInvert(nan_matrix, 1, 1e-6f), 0);
}

}  // namespace
}  // namespace kalvex
