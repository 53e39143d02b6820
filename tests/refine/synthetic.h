// Synthetic reflections for the refinement tests: setting angles of known
// indices under a known UB, solved in double precision independently of the
// program's single-precision geometry, with optional omega noise.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "commands/session.h"
#include "engine/run.h"
#include "refine/cell_lsq.h"
#include "refine/geometry.h"
#include "refine/offsets.h"

namespace kalvex::testing {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

struct Reflection {
  Angles angles{};
  Hkl hkl{};
};

// Rz(a) Rx(b) Rz(c), angles in degrees.
inline Mat3 Rotation(double a, double b, double c) {
  auto rz = [](double t) {
    const double s = std::sin(t * kDeg), co = std::cos(t * kDeg);
    return std::array<std::array<double, 3>, 3>{{{co, -s, 0}, {s, co, 0}, {0, 0, 1}}};
  };
  const double s = std::sin(b * kDeg), co = std::cos(b * kDeg);
  const std::array<std::array<double, 3>, 3> rx{{{1, 0, 0}, {0, co, -s}, {0, s, co}}};
  auto mul = [](const auto& x, const auto& y) {
    std::array<std::array<double, 3>, 3> r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) r[i][j] += x[i][k] * y[k][j];
    return r;
  };
  const auto m = mul(mul(rz(a), rx), rz(c));
  Mat3 out{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i][j] = static_cast<float>(m[i][j]);
  return out;
}

// B of a cell in double precision from the reciprocal metric: the columns of
// B are a*, b*, c* in the Busing-Levy frame (a* along x, c along z).
inline std::array<std::array<double, 3>, 3> ReferenceB(double a, double b, double c, double al, double be,
                                                       double ga) {
  const double ca = std::cos(al * kDeg), cb = std::cos(be * kDeg), cg = std::cos(ga * kDeg);
  const double sa = std::sin(al * kDeg), sb = std::sin(be * kDeg), sg = std::sin(ga * kDeg);
  const double v = a * b * c * std::sqrt(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
  const double as = b * c * sa / v, bs = c * a * sb / v, cs = a * b * sg / v;
  const double cgs = (ca * cb - cg) / (sa * sb), cbs = (cg * ca - cb) / (sg * sa);
  const double sgs = std::sqrt(1 - cgs * cgs), sbs = std::sqrt(1 - cbs * cbs);
  return {{{as, bs * cgs, cs * cbs}, {0, bs * sgs, -cs * sbs * ca}, {0, 0, 1 / c}}};
}

// U * B for the cell in the orientation Rotation(u1, u2, u3).
inline Mat3 MakeUB(const CellVector& cell, double u1, double u2, double u3) {
  const auto b = ReferenceB(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]);
  const Mat3 u = Rotation(u1, u2, u3);
  Mat3 ub{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += double(u[i][k]) * b[k][j];
      ub[i][j] = static_cast<float>(s);
    }
  return ub;
}

// Setting angles that bring hkl into diffraction at the given omega (degrees
// from bisecting); false when the reflection is out of reach.
inline bool SettingAngles(const Mat3& ub, const Hkl& hkl, double lambda, double omega, Angles& angles) {
  double h[3];
  for (int i = 0; i < 3; ++i) h[i] = double(ub[i][0]) * hkl[0] + double(ub[i][1]) * hkl[1] + double(ub[i][2]) * hkl[2];
  const double len = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
  const double s = lambda * len / 2;
  if (len == 0 || s >= 1) return false;
  const double ux = h[0] / len, uy = h[1] / len, uz = h[2] / len;
  const double co = std::cos(omega * kDeg), so = std::sin(omega * kDeg);
  const double sin_chi = uz / co;
  if (std::fabs(sin_chi) > 1) return false;
  const double chi = std::asin(sin_chi);
  // R1 is Rz(phi) applied to (cos w cos chi, sin w, cos w sin chi).
  const double phi = std::atan2(uy, ux) - std::atan2(so, co * std::cos(chi));
  angles = {static_cast<float>(2 * std::asin(s) / kDeg), static_cast<float>(omega), static_cast<float>(chi / kDeg),
            static_cast<float>(phi / kDeg)};
  return true;
}

// Reflections with |h|, |k|, |l| <= 4 between 2theta 8 and 70 degrees, in a
// shuffled order of a fixed seed, each at a random omega off bisecting within
// +-omega_spread, and its omega then shifted by Gaussian noise of omega_sd
// (and 2theta, chi, phi by noise of angle_sd).
inline std::vector<Reflection> MakeReflections(const Mat3& ub, double lambda, int count, unsigned seed,
                                               double omega_sd = 0.0, double omega_spread = 10.0,
                                               double angle_sd = 0.0) {
  std::mt19937 rng(seed);
  std::vector<Hkl> candidates;
  for (int h = -4; h <= 4; ++h)
    for (int k = -4; k <= 4; ++k)
      for (int l = -4; l <= 4; ++l)
        if (h != 0 || k != 0 || l != 0) candidates.push_back({h, k, l});
  std::shuffle(candidates.begin(), candidates.end(), rng);
  std::uniform_real_distribution<double> spread(-omega_spread, omega_spread);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<Reflection> out;
  for (const Hkl& hkl : candidates) {
    if (static_cast<int>(out.size()) == count) break;
    Reflection r;
    r.hkl = hkl;
    if (!SettingAngles(ub, hkl, lambda, spread(rng), r.angles)) continue;
    if (r.angles[kTwoTheta] < 8 || r.angles[kTwoTheta] > 70) continue;
    if (omega_sd > 0) r.angles[kOmega] += static_cast<float>(omega_sd * noise(rng));
    if (angle_sd > 0) {
      for (int i : {kTwoTheta, kChi, kPhi}) r.angles[i] += static_cast<float>(angle_sd * noise(rng));
    }
    out.push_back(r);
  }
  return out;
}

// The orientation kernels on a state's preprocessed list, their notices
// shown as the window shows them.
struct ListArrays {
  std::vector<Angles> angles;
  std::vector<Hkl> hkl;
};
inline ListArrays ListOf(const ProgramState& s) {
  ListArrays l;
  for (int i = 0; i < s.preprocessed_list.count; ++i) {
    l.angles.push_back(s.preprocessed_list.entries[i].angles);
    l.hkl.push_back(s.preprocessed_list.entries[i].hkl);
  }
  return l;
}
inline void Show(ProgramState& s, const Notices& n) { engine::Run(s, WindowEvents(s)).ShowNotices(n); }
inline bool StateLSQ(ProgramState& s) {
  const ListArrays l = ListOf(s);
  Notices n;
  const bool ok = LSQ(l.angles, l.hkl, s.params.lambda1, s.orientation, n);
  Show(s, n);
  return ok;
}
inline bool StateLSVEC(ProgramState& s, int system) {
  const ListArrays l = ListOf(s);
  Notices n;
  const bool ok = LSVEC(system, l.angles, l.hkl, s.params.lambda1, s.orientation, n);
  Show(s, n);
  return ok;
}
inline int StateLSQ_OFFSETS(ProgramState& s, int refine_omega_zero) {
  const ListArrays l = ListOf(s);
  Notices n;
  const int cycles =
      LSQ_OFFSETS(refine_omega_zero == 1, l.angles, l.hkl, s.params.lambda1, s.params.rs, s.orientation, n);
  Show(s, n);
  return cycles;
}
inline int StateRefineOmegaZero(ProgramState& s) {
  const ListArrays l = ListOf(s);
  Notices n;
  const int cycles = RefineOmegaZero(l.angles, l.hkl, s.params.lambda1, s.orientation, n);
  Show(s, n);
  return cycles;
}
inline bool StateOMTOB(ProgramState& s) {
  Notices n;
  const bool ok = OMTOB(s.orientation.ub, s.orientation.cell, s.orientation.b, n);
  Show(s, n);
  return ok;
}
inline bool StateCALCB(ProgramState& s) {
  Notices n;
  const bool ok = CALCB(s.orientation.cell, s.orientation.b, n);
  Show(s, n);
  return ok;
}

}  // namespace kalvex::testing
