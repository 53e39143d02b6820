// UB and cell least squares: the linear fit h_phi = UB h with ESDs by
// perturbation, and the one-step refinement constrained to a crystal system.
#include "refine/cell_lsq.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/constants.h"

namespace kalvex {

namespace {

constexpr float kJacobianStep = 0.0005f;

// Sums of the normal equations: S_hh = sum h h^T (exact, from integers) and
// S_vh = sum h_phi h^T, accumulated in double: over a whole data set's
// thousands of reflections a single-precision sum drifts by more than the
// cell's ESD.
void NormalSums(std::span<const Angles> angles, std::span<const Hkl> hkl, float lambda, Mat3& s_hh, Mat3& s_vh,
                std::vector<Vec3>* h_phi = nullptr) {
  if (h_phi != nullptr) h_phi->resize(angles.size());
  std::array<std::array<long long, 3>, 3> hh{};
  std::array<std::array<double, 3>, 3> vh{};
  for (std::size_t n = 0; n < angles.size(); ++n) {
    const Vec3 v = DiffractionVector(angles[n], lambda);
    if (h_phi != nullptr) (*h_phi)[n] = v;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        hh[i][j] += static_cast<long long>(hkl[n][i]) * hkl[n][j];
        vh[i][j] += static_cast<double>(v[i]) * hkl[n][j];
      }
    }
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      s_hh[i][j] = static_cast<float>(hh[i][j]);
      s_vh[i][j] = static_cast<float>(vh[i][j]);
    }
}

Vec3 ToVec(const Hkl& h) { return {float(h[0]), float(h[1]), float(h[2])}; }

// Seven ESDs of the cell from independent perturbations of the UB elements by
// their standard errors `delta`.
CellVector PerturbationEsds(const Mat3& ub, const Mat3& delta, const CellVector& cell) {
  CellVector sum{};
  Mat3 trial = ub;
  for (int m = 0; m < 3; ++m) {
    for (int j = 0; j < 3; ++j) {
      trial[m][j] += delta[m][j];
      CellVector moved = cell;
      if (CellFromUB(trial, moved) == kCellOk) {
        for (int p = 0; p < 7; ++p) sum[p] += (moved[p] - cell[p]) * (moved[p] - cell[p]);
      }
      trial[m][j] = ub[m][j];
    }
  }
  CellVector esd{};
  for (int p = 0; p < 7; ++p) esd[p] = std::sqrt(sum[p]);
  return esd;
}

// Linearised conditions that keep the symmetrised metric of the working cell
// under UB = UB' D. Each names up to three D elements (0-based position
// 3 (row - 1) + column - 1) and their coefficients.
struct Constraint {
  int count = 0;
  std::array<int, 3> position{};
  std::array<float, 3> coefficient{};
};

Constraint MakeConstraint(int number, const CellMetrics& r) {
  const float a = r.a, b = r.b, c = r.c, cb = r.cos_beta, cg = r.cos_gamma;
  switch (number) {
    case 1: return {2, {1, 3, 0}, {a / b, b / a, 0}};
    case 2: return {2, {2, 6, 0}, {a / c, c / a, 0}};
    case 3: return {2, {5, 7, 0}, {b / c, c / b, 0}};
    case 4: return {2, {0, 4, 0}, {1, -1, 0}};
    case 5: return {2, {0, 8, 0}, {1, -1, 0}};
    case 6: return {3, {0, 3, 4}, {1, 1, -1}};
    case 7: return {3, {6, 2, 5}, {c / a, a / c, b * cg / c}};
    case 8: return {3, {6, 7, 5}, {-c * cg / a, c / b, b * (1 - cg * cg) / c}};
    case 9: return {3, {5, 7, 1}, {b / c, c / b, a * cb / b}};
    case 10: return {3, {5, 3, 1}, {-b * cb / c, b / a, a * (1 - cb * cb) / b}};
    default: return {};
  }
}

// The constraints of each crystal system, in order (0 ends a list).
constexpr int kSystemConstraints[7][5] = {
    {0}, {9, 10}, {7, 8}, {1, 2, 3}, {4, 1, 2, 3}, {6, 1, 7, 8}, {4, 5, 1, 2, 3},
};

// A UB whose determinant is negligible beside the lengths of its rows cannot
// be inverted usefully; scale-free, so that large cells still refine.
bool NearlySingular(const Mat3& m, float det) {
  float norms = 1.0f;
  for (const auto& row : m) norms *= std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]);
  return !(std::fabs(det) > 1.0e-5f * norms);
}

Mat3 Times(const Mat3& a, const Mat3& b) {
  Mat3 c{};
  Multiply3(a, b, c);
  return c;
}

Mat3 DFromSolution(const std::array<float, 9>& s) {
  return {{{s[0], s[1], s[2]}, {s[3], s[4], s[5]}, {s[6], s[7], s[8]}}};
}

}  // namespace

std::string_view CrystalSystemName(int system) {
  switch (system) {
    case kMonoclinicB: return "Monoclinic (B-unique)";
    case kMonoclinicC: return "Monoclinic (C-unique)";
    case kOrthorhombic: return "Orthorhombic";
    case kTetragonal: return "Tetragonal";
    case kHexagonal: return "Hexagonal";
    case kCubic: return "Cubic";
    default: return "";
  }
}

WorkingCell CellFromWorkingUB(const Mat3& ub) {
  Mat3 ubt{};
  Transpose3(ub, ubt);
  Mat3 gs{};
  Multiply3(ubt, ub, gs);
  WorkingCell w;
  CellMetrics& r = w.reciprocal;
  r.a = std::sqrt(gs[0][0]);
  r.b = std::sqrt(gs[1][1]);
  r.c = std::sqrt(gs[2][2]);
  r.cos_alpha = gs[1][2] / (r.b * r.c);
  r.cos_beta = gs[0][2] / (r.c * r.a);
  r.cos_gamma = gs[0][1] / (r.a * r.b);
  const ReciprocalCellResult direct = ReciprocalCell(r);
  w.direct = direct.reciprocal;
  w.volume = direct.inverse_volume;
  auto angle = [](float cosine) {
    return std::atan2(std::sqrt(std::max(0.0f, 1.0f - cosine * cosine)), cosine) * kDegPerRadGeometry;
  };
  w.alpha = angle(w.direct.cos_alpha);
  w.beta = angle(w.direct.cos_beta);
  w.gamma = angle(w.direct.cos_gamma);
  return w;
}

int SolveConstrained(int system, const CellMetrics& reciprocal, const std::array<float, 9>& rhs,
                     BorderedArray& a, std::array<float, 9>& solution, int& free_parameters) {
  for (int i = 0; i < 9; ++i)
    for (int j = 9; j < kBorderedColumns; ++j) a[i][j] = 0.0f;
  for (int i = 9; i < kBorderedRows; ++i) a[i].fill(0.0f);
  if (system < 1 || system > 6) return 2;
  int k = 0;
  for (int number : kSystemConstraints[system]) {
    if (number == 0) break;
    const Constraint c = MakeConstraint(number, reciprocal);
    for (int e = 0; e < c.count; ++e) {
      a[9 + k][c.position[e]] = c.coefficient[e];
      a[c.position[e]][9 + k] = c.coefficient[e];
    }
    ++k;
  }
  free_parameters = 9 - k;
  const int order = 9 + k;
  for (int i = 0; i < 9; ++i) a[i][order] = rhs[i];
  float determinant = 0.0f;
  if (GaussJordanInvert(a[0].data(), order, kBorderedColumns, 1.0e-6f, 1, determinant) != order) return 1;
  for (int i = 0; i < 9; ++i) solution[i] = a[i][order];
  return 0;
}

bool LSQ(std::span<const Angles> angles, std::span<const Hkl> hkl, float lambda, OrientationState& o,
         Notices& notices) {
  const int n = static_cast<int>(angles.size());
  Mat3 s_hh{}, s_vh{};
  NormalSums(angles, hkl, lambda, s_hh, s_vh);
  Mat3 s_inv{};
  float det = 0.0f;
  if (InvertMatrix(s_hh, s_inv, det) != kLuOk) notices.Add(Notice::kLuSingular);
  if (!(std::fabs(det) > 1.0e-4f)) {
    notices.Add(Notice::kLsqSingular);
    return false;
  }
  const Mat3 ub = Times(s_vh, s_inv);

  // A UB without a cell (all diffraction vectors zero or coplanar) would be
  // useless for predictions: the previous orientation stays.
  CellVector cell = o.cell;
  Mat3 b = o.b;
  if (!OMTOB(ub, cell, b, notices)) return false;
  o.ub = ub;
  o.cell = cell;
  o.b = b;
  if (n < 4) return true;

  Vec3 q{};
  for (int r = 0; r < n; ++r) {
    const Vec3 v = DiffractionVector(angles[r], lambda);
    const Vec3 fit = Multiply3(ub, ToVec(hkl[r]));
    for (int m = 0; m < 3; ++m) q[m] += (v[m] - fit[m]) * (v[m] - fit[m]);
  }
  Mat3 delta{};
  for (int m = 0; m < 3; ++m)
    for (int j = 0; j < 3; ++j) delta[m][j] = std::sqrt(q[m] * s_inv[j][j] / static_cast<float>(n - 3));
  o.cell_esd = PerturbationEsds(ub, delta, cell);
  return true;
}

bool LSVEC(int system, std::span<const Angles> angles, std::span<const Hkl> hkl, float lambda,
           OrientationState& o, Notices& notices) {
  const int n = static_cast<int>(angles.size());
  // Every reflection handed in: a data set's whole file, not only the list
  // a preprocessing pass keeps.
  std::vector<Vec3> h_phi;
  Mat3 s_hh{}, s_vh{};
  NormalSums(angles, hkl, lambda, s_hh, s_vh, &h_phi);

  BorderedArray bordered{};
  for (int block = 0; block < 3; ++block)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) bordered[3 * block + i][3 * block + j] = s_hh[i][j];

  Mat3 s_inv = s_hh;
  float det = 0.0f;
  if (GaussJordanInvert(s_inv[0].data(), 3, 3, 1.0e-6f, 0, det) != 3) {
    notices.Add(Notice::kLsvecRankDeficient);
    return false;
  }

  // Unconstrained start, split into its rotation U and the cell's B0.
  const WorkingCell start = CellFromWorkingUB(Times(s_vh, s_inv));
  const Mat3 b0 = BuildBMatrix(start.direct, start.reciprocal);
  Mat3 b0_inv{};
  if (InvertMatrix(b0, b0_inv, det) != kLuOk) {
    notices.Add(Notice::kLuSingular);
    notices.Add(Notice::kLsvecSingular);
    return false;
  }
  const Mat3 u = Times(Times(s_vh, s_inv), b0_inv);

  // Impose the system's metric on the reciprocal cell.
  CellMetrics sym = start.reciprocal;
  sym.cos_alpha = 0.0f;
  switch (system) {
    case kMonoclinicB: sym.cos_gamma = 0.0f; break;
    case kMonoclinicC: sym.cos_beta = 0.0f; break;
    case kOrthorhombic: sym.cos_beta = sym.cos_gamma = 0.0f; break;
    case kTetragonal:
      sym.a = sym.b = std::sqrt(sym.a * sym.b);
      sym.cos_beta = sym.cos_gamma = 0.0f;
      break;
    case kHexagonal:
      sym.a = sym.b = std::sqrt(sym.a * sym.b);
      sym.cos_beta = 0.0f;
      sym.cos_gamma = 0.5f;
      break;
    case kCubic:
      sym.a = sym.b = sym.c = std::pow(sym.a * sym.b * sym.c, 0.3333333f);
      sym.cos_beta = sym.cos_gamma = 0.0f;
      break;
    default: break;
  }
  const ReciprocalCellResult sym_direct = ReciprocalCell(sym);
  const Mat3 ub_sym = Times(u, BuildBMatrix(sym_direct.reciprocal, sym));
  Mat3 ub_sym_inv{};
  if (InvertMatrix(ub_sym, ub_sym_inv, det) != kLuOk) notices.Add(Notice::kLuSingular);
  if (NearlySingular(ub_sym, det)) {
    notices.Add(Notice::kLsvecSingular);
    return false;
  }

  // Indices in the symmetrised frame and the right-hand side of D h = k.
  std::vector<Vec3> k(angles.size());
  std::array<float, 9> rhs{};
  for (int r = 0; r < n; ++r) {
    k[r] = Multiply3(ub_sym_inv, h_phi[r]);
    for (int row = 0; row < 3; ++row)
      for (int c = 0; c < 3; ++c) rhs[3 * row + c] += k[r][row] * static_cast<float>(hkl[r][c]);
  }
  std::array<float, 9> solution{};
  int free_parameters = 0;
  if (SolveConstrained(system, sym, rhs, bordered, solution, free_parameters) != 0) {
    notices.Add(Notice::kLsvecSingular);
    return false;
  }
  Mat3 d = DFromSolution(solution);
  const Mat3 ub = Times(ub_sym, d);
  const WorkingCell cell = CellFromWorkingUB(ub);

  float sum = 0.0f;
  for (int r = 0; r < n; ++r) {
    const Vec3 dh = Multiply3(d, ToVec(hkl[r]));
    for (int m = 0; m < 3; ++m) sum += (dh[m] - k[r][m]) * (dh[m] - k[r][m]);
  }
  const float sigma2 = sum / static_cast<float>(3 * n - free_parameters);

  // Cell parameters p = (a, b, c, cos alpha, cos beta, cos gamma, V) and
  // their derivatives by the nine D elements.
  auto parameters = [](const WorkingCell& w) {
    return std::array<float, 7>{w.direct.a,         w.direct.b,        w.direct.c, w.direct.cos_alpha,
                                w.direct.cos_beta, w.direct.cos_gamma, w.volume};
  };
  const std::array<float, 7> p = parameters(cell);
  std::array<std::array<float, 9>, 7> jacobian{};
  for (int e = 0; e < 9; ++e) {
    d[e / 3][e % 3] += kJacobianStep;
    const std::array<float, 7> moved = parameters(CellFromWorkingUB(Times(ub_sym, d)));
    for (int i = 0; i < 7; ++i) jacobian[i][e] = (moved[i] - p[i]) / kJacobianStep;
    d[e / 3][e % 3] -= kJacobianStep;
  }

  // C = J (sigma^2 A^-1) J^T over the nine D elements.
  std::array<std::array<float, 7>, 7> cov{};
  for (int i = 0; i < 7; ++i) {
    for (int j = 0; j < 7; ++j) {
      float s = 0.0f;
      for (int e = 0; e < 9; ++e)
        for (int f = 0; f < 9; ++f) s += jacobian[i][e] * sigma2 * bordered[e][f] * jacobian[j][f];
      cov[i][j] = s;
    }
  }
  // Angles the system fixes carry no variance; the pairing with V stays.
  auto clear = [&cov](int i) {
    for (int j = 0; j < 6; ++j) cov[i][j] = cov[j][i] = 0.0f;
  };
  clear(3);
  if (system != kMonoclinicB) clear(4);
  if (system != kMonoclinicC) clear(5);

  CellVector esd{};
  for (int i = 0; i < 7; ++i) esd[i] = std::sqrt(cov[i][i] > 0.0f ? cov[i][i] : 1.0e-24f);
  // d(angle) = -d(cos) / sin(angle).
  for (int i = 3; i < 6; ++i) {
    const float sine = std::sqrt(std::max(0.0f, 1.0f - p[i] * p[i]));
    esd[i] = kDegPerRadGeometry * esd[i] / sine;
  }

  o.ub = ub;
  o.cell = {cell.direct.a, cell.direct.b, cell.direct.c, cell.alpha, cell.beta, cell.gamma, cell.volume};
  o.cell_esd = esd;
  CALCB(o.cell, o.b, notices);
  return true;
}

}  // namespace kalvex
