// LU and Gauss-Jordan inversion and the 3 x 3 helpers, in single precision as
// the program has always computed them.
#include "common/linear_algebra.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kalvex {

namespace {
constexpr float kTiny = 1.0e-20f;
}

int LUDCMP(Matrix6& a, int n, Pivots6& pivots, float& parity) {
  Vector6 scale{};
  parity = 1.0f;
  for (int i = 0; i < n; ++i) {
    float big = 0.0f;
    for (int j = 0; j < n; ++j) big = std::max(big, std::fabs(a[i][j]));
    if (big == 0.0f) return kLuZeroRow;
    scale[i] = 1.0f / big;
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      float sum = a[i][j];
      for (int k = 0; k < i; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    float big = 0.0f;
    int imax = j;
    for (int i = j; i < n; ++i) {
      float sum = a[i][j];
      for (int k = 0; k < j; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      // Greater-or-equal: of equally good pivots the later row wins.
      const float merit = scale[i] * std::fabs(sum);
      if (merit >= big) {
        big = merit;
        imax = i;
      }
    }
    if (imax != j) {
      std::swap(a[imax], a[j]);
      parity = -parity;
      scale[imax] = scale[j];
    }
    pivots[j] = imax;
    if (a[j][j] == 0.0f) a[j][j] = kTiny;
    if (j != n - 1) {
      const float inv = 1.0f / a[j][j];
      for (int i = j + 1; i < n; ++i) a[i][j] *= inv;
    }
  }
  return kLuOk;
}

void LuBackSubstitute(const Matrix6& lu, int n, const Pivots6& pivots, Vector6& b) {
  int first = -1;  // first non-zero element of b: the sums start there
  for (int i = 0; i < n; ++i) {
    const int ip = pivots[i];
    float sum = b[ip];
    b[ip] = b[i];
    if (first >= 0) {
      for (int j = first; j < i; ++j) sum -= lu[i][j] * b[j];
    } else if (sum != 0.0f) {
      first = i;
    }
    b[i] = sum;
  }
  for (int i = n - 1; i >= 0; --i) {
    float sum = b[i];
    for (int j = i + 1; j < n; ++j) sum -= lu[i][j] * b[j];
    b[i] = sum / lu[i][i];
  }
}

int InvertMatrix(const Matrix6& a, int n, Matrix6& inverse, float& determinant) {
  Matrix6 lu = a;
  Pivots6 pivots{};
  float parity = 1.0f;
  if (LUDCMP(lu, n, pivots, parity) != kLuOk) {
    determinant = 0.0f;
    return kLuZeroRow;
  }
  determinant = parity;
  for (int i = 0; i < n; ++i) determinant *= lu[i][i];
  for (int j = 0; j < n; ++j) {
    Vector6 column{};
    column[j] = 1.0f;
    LuBackSubstitute(lu, n, pivots, column);
    for (int i = 0; i < n; ++i) inverse[i][j] = column[i];
  }
  return kLuOk;
}

int InvertMatrix(const Mat3& a, Mat3& inverse, float& determinant) {
  Matrix6 work{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) work[i][j] = a[i][j];
  const int status = InvertMatrix(work, 3, work, determinant);
  if (status != kLuOk) return status;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) inverse[i][j] = work[i][j];
  return kLuOk;
}

void Transpose3(const Mat3& a, Mat3& t) {
  Mat3 tmp;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) tmp[j][i] = a[i][j];
  t = tmp;
}

void Multiply3(const Mat3& a, const Mat3& b, Mat3& c) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      c[i][j] = 0.0f;
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
    }
  }
}

Vec3 Multiply3(const Mat3& a, const Vec3& v) {
  Vec3 r{};
  for (int i = 0; i < 3; ++i) r[i] = a[i][0] * v[0] + a[i][1] * v[1] + a[i][2] * v[2];
  return r;
}

int GaussJordanInvert(float* a, int n, int stride, float eps, int extra, float& determinant) {
  const int width = n + extra;
  determinant = 0.0f;
  if (n < 0 || extra < 0 || width > stride || width > kMaxGaussJordanColumns) return 0;
  auto at = [a, stride](int i, int j) -> float& { return a[i * stride + j]; };
  // Where each step's pivot came from (row, column), to undo the interchanges.
  std::array<int, kMaxGaussJordanColumns> pivot_row{};
  std::array<int, kMaxGaussJordanColumns> pivot_col{};
  determinant = 1.0f;
  for (int k = 0; k < n; ++k) {
    float biggest = 0.0f;
    int pr = k;
    int pc = k;
    for (int j = k; j < n; ++j) {
      for (int i = k; i < n; ++i) {
        if (std::fabs(at(i, j)) > biggest) {
          biggest = std::fabs(at(i, j));
          pr = i;
          pc = j;
        }
      }
    }
    // A NaN element never wins the search, so a matrix of NaNs has rank 0.
    if (!(biggest >= eps)) return k;
    const float pivot = at(pr, pc);
    determinant *= pivot;
    pivot_row[k] = pr;
    pivot_col[k] = pc;
    if (pr != k) {
      for (int j = 0; j < width; ++j) std::swap(at(pr, j), at(k, j));
      determinant = -determinant;
    }
    if (pc != k) {
      for (int i = 0; i < n; ++i) std::swap(at(i, pc), at(i, k));
      determinant = -determinant;
    }
    const float inv = 1.0f / pivot;
    for (int j = 0; j < width; ++j)
      if (j != k) at(k, j) *= inv;
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      const float f = at(i, k);
      if (f == 0.0f) continue;
      for (int j = 0; j < width; ++j)
        if (j != k) at(i, j) -= f * at(k, j);
      at(i, k) = -f * inv;
    }
    at(k, k) = inv;
  }
  // A row interchange of the matrix is a column interchange of its inverse and
  // the other way round; the solutions follow the rows.
  for (int k = n - 1; k >= 0; --k) {
    if (pivot_row[k] != k)
      for (int i = 0; i < n; ++i) std::swap(at(i, pivot_row[k]), at(i, k));
    if (pivot_col[k] != k)
      for (int j = 0; j < width; ++j) std::swap(at(pivot_col[k], j), at(k, j));
  }
  return n;
}

int GaussJordanInvert(Matrix6& a, int n, float eps) {
  float determinant = 0.0f;
  return GaussJordanInvert(a[0].data(), n, kMaxOrder, eps, 0, determinant);
}

}  // namespace kalvex
