// Four-circle geometry: setting angles to diffraction vector and indices, the
// predicted peak omega, B and the cell from UB, and the crystal-offset correction.
#pragma once

#include <array>

#include "common/constants.h"
#include "common/linear_algebra.h"
#include "refine/notices.h"
#include "state/orientation_state.h"

namespace kalvex {

// 2theta, omega, chi, phi in degrees; omega is 0 in the bisecting position.
using Angles = std::array<float, 4>;
using Hkl = std::array<int, 3>;

constexpr int kTwoTheta = 0;
constexpr int kOmega = 1;
constexpr int kChi = 2;
constexpr int kPhi = 3;

// Cell lengths and the cosines of its angles (direct or reciprocal).
struct CellMetrics {
  float a = 0, b = 0, c = 0;
  float cos_alpha = 0, cos_beta = 0, cos_gamma = 0;
};

struct ReciprocalCellResult {
  float volume = 0;
  float inverse_volume = 0;
  CellMetrics reciprocal;
};

// h_phi = (2 sin theta / lambda) * unit vector; its length is 1/d.
Vec3 DiffractionVector(const Angles& angles, float lambda);

// The unit direction of the diffraction vector and its derivative by omega.
void DiffractionDirection(const Angles& angles, Vec3& r1, Vec3& r2);

// UB^-1 h_phi. False (indices untouched) when UB has a row of zeros.
bool AnglesToHkl(const Mat3& ub, const Angles& angles, float lambda, Vec3& indices);

// Sum of |computed - integer| over the three indices, for a given UB^-1.
float HklMisfit(const Mat3& ub_inverse, const Angles& angles, float lambda, const Hkl& hkl);

// The omega within about 1 degree of angles[kOmega] at which UB brings the
// reflection closest to its integer indices (2theta, chi, phi held). When UB
// cannot be inverted the search is not made: returns angles[kOmega] and false.
bool PredictOmega(const Mat3& ub, const Angles& angles, float lambda, const Hkl& hkl, float& omega);

// a, b, c and 1/V of the reciprocal cell; applied to a reciprocal cell it
// gives the direct one (and V of the reciprocal cell).
ReciprocalCellResult ReciprocalCell(const CellMetrics& cell);

// Upper-triangular B from a direct cell and its reciprocal.
Mat3 BuildBMatrix(const CellMetrics& direct, const CellMetrics& reciprocal);

// B of the cell (a, b, c, alpha, beta, gamma in degrees; V not read). False
// (B untouched, kCalcbError with det G noted) for a cell without volume.
bool CALCB(const CellVector& cell, Mat3& b, Notices& notices);

// The cell (a, b, c, alpha, beta, gamma in degrees, V) from G* = UB^T UB.
// The cell stays untouched unless the result is kCellOk: kCellLuZeroRow for
// a G* with a row of zeros, kCellNoVolume for det G* not positive.
constexpr int kCellOk = 0;
constexpr int kCellLuZeroRow = 1;
constexpr int kCellNoVolume = 2;
int CellFromUB(const Mat3& ub, CellVector& cell);

// The cell (seven values) and B from UB. False (cell and B untouched) when
// UB^T UB is not positive: a zero or singular UB.
bool OMTOB(const Mat3& ub, CellVector& cell, Mat3& b, Notices& notices);

// The correction (delta 2theta, delta omega, 0) in degrees that crystal
// offsets (in the unit of rs) and omega zero add to a predicted omega.
Vec3 OffsetCorrection(const Angles& angles, const Vec3& offsets, float omega_zero, float rs);


}  // namespace kalvex
