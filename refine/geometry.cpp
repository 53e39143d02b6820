// Four-circle geometry in single precision, angles in degrees at every
// interface.
#include "refine/geometry.h"

#include <algorithm>
#include <cmath>

#include "common/constants.h"

namespace kalvex {

namespace {

// Rounding can push a cosine of a nearly straight or flat angle just past 1,
// which acos would turn into NaN.
float AngleFromCosine(float cosine) {
  return std::acos(std::clamp(cosine, -1.0f, 1.0f)) * kDegPerRadGeometry;
}

float SineFromCosine(float cosine) { return std::sqrt(std::max(0.0f, 1.0f - cosine * cosine)); }

// Cell lengths and angles from the metric G = (G*)^-1 and det G*.
void CellFromMetric(const Mat3& g, float det_g_star, CellVector& cell) {
  const float a = std::sqrt(g[0][0]);
  const float b = std::sqrt(g[1][1]);
  const float c = std::sqrt(g[2][2]);
  cell = {a,
          b,
          c,
          AngleFromCosine(g[1][2] / (b * c)),
          AngleFromCosine(g[0][2] / (a * c)),
          AngleFromCosine(g[0][1] / (a * b)),
          1.0f / std::sqrt(det_g_star)};
}

}  // namespace

void DiffractionDirection(const Angles& angles, Vec3& r1, Vec3& r2) {
  const float om = angles[kOmega] * kRadPerDeg;
  const float chi = angles[kChi] * kRadPerDeg;
  const float phi = angles[kPhi] * kRadPerDeg;
  const float so = std::sin(om), co = std::cos(om);
  const float sc = std::sin(chi), cc = std::cos(chi);
  const float sp = std::sin(phi), cp = std::cos(phi);
  r1 = {co * cc * cp - so * sp, co * cc * sp + so * cp, co * sc};
  r2 = {-so * cc * cp - co * sp, co * cp - so * cc * sp, -so * sc};
}

Vec3 DiffractionVector(const Angles& angles, float lambda) {
  const float om = angles[kOmega] / kDegPerRadGeometry;
  const float chi = angles[kChi] / kDegPerRadGeometry;
  const float phi = angles[kPhi] / kDegPerRadGeometry;
  const float theta = 0.5f * angles[kTwoTheta] / kDegPerRadGeometry;
  const float length = 2.0f * std::sin(theta) / lambda;
  const float so = std::sin(om), co = std::cos(om);
  const float sc = std::sin(chi), cc = std::cos(chi);
  const float sp = std::sin(phi), cp = std::cos(phi);
  return {length * (co * cc * cp - so * sp), length * (co * cc * sp + so * cp), length * co * sc};
}

bool AnglesToHkl(const Mat3& ub, const Angles& angles, float lambda, Vec3& indices) {
  Mat3 inverse{};
  float det = 0.0f;
  if (InvertMatrix(ub, inverse, det) != kLuOk) return false;
  indices = Multiply3(inverse, DiffractionVector(angles, lambda));
  return true;
}

float HklMisfit(const Mat3& ub_inverse, const Angles& angles, float lambda, const Hkl& hkl) {
  const Vec3 computed = Multiply3(ub_inverse, DiffractionVector(angles, lambda));
  float misfit = 0.0f;
  for (int i = 0; i < 3; ++i) misfit += std::fabs(computed[i] - static_cast<float>(hkl[i]));
  return misfit;
}

bool PredictOmega(const Mat3& ub, const Angles& angles, float lambda, const Hkl& hkl, float& omega) {
  const float start = angles[kOmega];
  omega = start;
  // UB^-1 does not change during the search, so it is inverted once.
  Mat3 inverse{};
  float det = 0.0f;
  if (InvertMatrix(ub, inverse, det) != kLuOk) return false;
  Angles trial = angles;
  float best = 1000.0f;
  auto consider = [&](float w) {
    trial[kOmega] = w;
    const float misfit = HklMisfit(inverse, trial, lambda, hkl);
    if (misfit < best) {  // strict: of equal misfits the first stays
      best = misfit;
      omega = w;
    }
  };
  // Coarse: start - 0.98 .. start + 1.00 in 0.02 steps.
  for (int i = 1; i <= 100; ++i) consider(start - 1.0f + 0.02f * static_cast<float>(i));
  // Fine: 0.0002 steps across +-0.02 of the coarse best (the window is fixed
  // by the coarse best even when the fine best moves).
  const float coarse = omega;
  for (int j = 1; j <= 200; ++j) consider(coarse - 0.02f + 0.0002f * static_cast<float>(j));
  return true;
}

ReciprocalCellResult ReciprocalCell(const CellMetrics& cell) {
  const float ca = cell.cos_alpha, cb = cell.cos_beta, cg = cell.cos_gamma;
  ReciprocalCellResult r;
  r.volume = cell.a * cell.b * cell.c * std::sqrt(1.0f - ca * ca - cb * cb - cg * cg + 2.0f * ca * cb * cg);
  r.inverse_volume = 1.0f / r.volume;
  const float sa = SineFromCosine(ca), sb = SineFromCosine(cb), sg = SineFromCosine(cg);
  r.reciprocal.a = cell.b * cell.c * sa / r.volume;
  r.reciprocal.b = cell.c * cell.a * sb / r.volume;
  r.reciprocal.c = cell.a * cell.b * sg / r.volume;
  r.reciprocal.cos_alpha = (cb * cg - ca) / (sb * sg);
  r.reciprocal.cos_beta = (cg * ca - cb) / (sg * sa);
  r.reciprocal.cos_gamma = (ca * cb - cg) / (sa * sb);
  return r;
}

Mat3 BuildBMatrix(const CellMetrics& direct, const CellMetrics& reciprocal) {
  const CellMetrics& r = reciprocal;
  Mat3 b{};
  b[0] = {r.a, r.b * r.cos_gamma, r.c * r.cos_beta};
  b[1] = {0.0f, r.b * SineFromCosine(r.cos_gamma), -r.c * SineFromCosine(r.cos_beta) * direct.cos_alpha};
  b[2] = {0.0f, 0.0f, 1.0f / direct.c};
  return b;
}

bool CALCB(const CellVector& cell, Mat3& b, Notices& notices) {
  const float ca = std::cos(cell[3] * kRadPerDeg);
  const float cb = std::cos(cell[4] * kRadPerDeg);
  const float cg = std::cos(cell[5] * kRadPerDeg);
  Mat3 g{};
  g[0] = {cell[0] * cell[0], cell[0] * cell[1] * cg, cell[0] * cell[2] * cb};
  g[1] = {g[0][1], cell[1] * cell[1], cell[1] * cell[2] * ca};
  g[2] = {g[0][2], g[1][2], cell[2] * cell[2]};
  Mat3 gs{};
  float det = 0.0f;
  if (InvertMatrix(g, gs, det) != kLuOk) notices.Add(Notice::kLuSingular);
  if (!(det > 0.0f)) {
    notices.Add(Notice::kCalcbError, det);
    return false;
  }
  const float as = std::sqrt(gs[0][0]), bs = std::sqrt(gs[1][1]), cs = std::sqrt(gs[2][2]);
  const float cas = gs[1][2] / (bs * cs);
  const float cbs = gs[0][2] / (as * cs);
  const float cgs = gs[0][1] / (as * bs);
  const float sgs = SineFromCosine(cgs);
  const float t = (cas - cbs * cgs) / sgs;
  b[0] = {as, bs * cgs, cs * cbs};
  b[1] = {0.0f, bs * sgs, cs * t};
  b[2] = {0.0f, 0.0f, cs * std::sqrt(std::max(0.0f, 1.0f - cbs * cbs - t * t))};
  return true;
}

int CellFromUB(const Mat3& ub, CellVector& cell) {
  Mat3 ubt{};
  Transpose3(ub, ubt);
  Mat3 gs{};
  Multiply3(ubt, ub, gs);
  Mat3 g{};
  float det = 0.0f;
  if (InvertMatrix(gs, g, det) != kLuOk) return kCellLuZeroRow;
  if (!(det > 0.0f)) return kCellNoVolume;
  CellFromMetric(g, det, cell);
  return kCellOk;
}

bool OMTOB(const Mat3& ub, CellVector& cell, Mat3& b, Notices& notices) {
  const int status = CellFromUB(ub, cell);
  if (status == kCellLuZeroRow) notices.Add(Notice::kLuSingular);
  if (status != kCellOk) {
    notices.Add(Notice::kOmtobInvalid);
    return false;
  }
  CALCB(cell, b, notices);
  return true;
}

Vec3 OffsetCorrection(const Angles& angles, const Vec3& offsets, float omega_zero, float rs) {
  // Without offsets (or without the distance that turns them into an angle)
  // only omega zero shifts the peak.
  if (std::fabs(offsets[0]) + std::fabs(offsets[1]) + std::fabs(offsets[2]) < 1.0e-5f || rs == 0.0f)
    return {0.0f, omega_zero, 0.0f};
  const float theta = 0.5f * angles[kTwoTheta] * kRadPerDeg;
  Vec3 r1{}, r2{};
  DiffractionDirection(angles, r1, r2);
  const float v1 = r1[0] * offsets[0] + r1[1] * offsets[1] + r1[2] * offsets[2];
  const float v2 = r2[0] * offsets[0] + r2[1] * offsets[1] + r2[2] * offsets[2];
  const float d2theta = (v1 * std::cos(theta) + v2 * std::sin(theta)) / rs / kRadPerDeg;
  return {d2theta, omega_zero + d2theta, 0.0f};
}

}  // namespace kalvex
