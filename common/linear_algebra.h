// The small dense linear algebra every least-squares fit of the program uses:
// LU inversion with determinant, Gauss-Jordan inversion with rank, 3 x 3 helpers.
#pragma once

#include <array>

namespace kalvex {

// Layout: every matrix is row-major and 0-based, m[row][column]. A matrix of
// order n <= 6 lives in the top-left n x n corner of a 6 x 6 array (the
// program's fixed leading dimension 6); the rest of the array is not read.
constexpr int kMaxOrder = 6;
using Matrix6 = std::array<std::array<float, kMaxOrder>, kMaxOrder>;
using Vector6 = std::array<float, kMaxOrder>;
using Pivots6 = std::array<int, kMaxOrder>;
using Mat3 = std::array<std::array<float, 3>, 3>;
using Vec3 = std::array<float, 3>;

// Status of LUDCMP and InvertMatrix: a row of zeros is the only failure the
// factorisation reports (its caller shows "Singular matrix in LUDCMP").
constexpr int kLuOk = 0;
constexpr int kLuZeroRow = 1;

// Crout LU factorisation with implicit (row-scaled) partial pivoting, in
// place. `pivots[j]` is the row interchanged with row j; `parity` is +1 or -1
// by the number of interchanges. A zero pivot of dependent rows is replaced
// by 1e-20, so such a matrix factorises and shows up as a tiny determinant.
int LUDCMP(Matrix6& a, int n, Pivots6& pivots, float& parity);

// Solves LU x = b for a factorisation of LUDCMP; b is overwritten by x.
void LuBackSubstitute(const Matrix6& lu, int n, const Pivots6& pivots, Vector6& b);

// inverse = a^-1 and determinant = det a; `inverse` may be `a` itself. On
// kLuZeroRow the determinant is 0 and `inverse` is left untouched.
int InvertMatrix(const Matrix6& a, int n, Matrix6& inverse, float& determinant);
int InvertMatrix(const Mat3& a, Mat3& inverse, float& determinant);

// t = a^T; t may be a itself.
void Transpose3(const Mat3& a, Mat3& t);
// c = a * b; c must be neither a nor b.
void Multiply3(const Mat3& a, const Mat3& b, Mat3& c);
// a * v.
Vec3 Multiply3(const Mat3& a, const Vec3& v);

// In-place Gauss-Jordan inversion with full pivoting of the n x n matrix at
// `a`, row-major with `stride` floats per row, carrying `extra` further
// columns (right-hand sides, which come out as the solutions); n + extra must
// not exceed `stride` nor kMaxGaussJordanColumns. Returns the rank: the number
// of pivots at least `eps` in magnitude before the first that is not. A rank
// below n leaves the array part-reduced and is the caller's "singular".
constexpr int kMaxGaussJordanColumns = 16;
int GaussJordanInvert(float* a, int n, int stride, float eps, int extra, float& determinant);
// The profile fit's form: order n <= 6 in a 6 x 6 array, no extra columns.
int GaussJordanInvert(Matrix6& a, int n, float eps);

}  // namespace kalvex
