#include "reduce/cell_refinement.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace kalvex::reduce {

namespace {

constexpr double kRad = std::numbers::pi / 180.0;

using V3 = std::array<double, 3>;
using Vector9 = std::array<double, 9>;
using Matrix9 = std::array<std::array<double, 9>, 9>;

double Dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
V3 Cross(const V3& a, const V3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Matrix3 Product(const Matrix3& a, const Matrix3& b) {
  Matrix3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

double Determinant(const Matrix3& m) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

Matrix3 Inverse(const Matrix3& m) {
  const double det = Determinant(m);
  Matrix3 inv{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
      inv[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
    }
  return inv;
}

// Gauss-Jordan inversion with partial pivoting of the leading n x n block;
// false when it is singular.
bool Invert(Matrix9& a, int n) {
  std::array<int, 9> column{};
  for (int i = 0; i < n; ++i) column[i] = i;
  Matrix9 inv{};
  for (int i = 0; i < n; ++i) inv[i][i] = 1;
  double largest = 0;
  for (int i = 0; i < n; ++i) largest = std::max(largest, std::fabs(a[i][i]));
  for (int c = 0; c < n; ++c) {
    int pivot = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    if (!(std::fabs(a[pivot][c]) > 1e-14 * largest)) return false;
    std::swap(a[c], a[pivot]);
    std::swap(inv[c], inv[pivot]);
    const double p = a[c][c];
    for (int k = 0; k < n; ++k) a[c][k] /= p, inv[c][k] /= p;
    for (int r = 0; r < n; ++r) {
      if (r == c || a[r][c] == 0) continue;
      const double f = a[r][c];
      for (int k = 0; k < n; ++k) a[r][k] -= f * a[c][k], inv[r][k] -= f * inv[c][k];
    }
  }
  a = inv;
  return true;
}

// The diffraction vector in the phi-axis frame (Busing and Levy), and the
// unit directions an omega and a chi error move it in.
struct Vectors {
  V3 v{}, along{}, omega{}, chi{};
  double length = 0, cos_theta = 1;
};

Vectors DiffractionVectors(const std::array<double, 4>& angles, double lambda) {
  const double om = angles[1] * kRad, chi = angles[2] * kRad, phi = angles[3] * kRad, theta = angles[0] * kRad / 2;
  Vectors out;
  out.length = 2.0 * std::sin(theta) / lambda;
  out.cos_theta = std::cos(theta);
  const double so = std::sin(om), co = std::cos(om), sc = std::sin(chi), cc = std::cos(chi), sp = std::sin(phi),
               cp = std::cos(phi);
  out.along = {co * cc * cp - so * sp, co * cc * sp + so * cp, co * sc};
  for (int i = 0; i < 3; ++i) out.v[i] = out.length * out.along[i];
  // d along / d omega: a unit vector normal to `along`, in the plane of diffraction.
  out.omega = {-so * cc * cp - co * sp, -so * cc * sp + co * cp, -so * sc};
  out.chi = Cross(out.along, out.omega);
  return out;
}

// The weight matrix of one reflection: the inverse of its diffraction
// vector's covariance under the error model.
Matrix3 Weight(const Vectors& d, const AngleErrors& e, double i_over_sigma, double lambda) {
  const double radial = d.cos_theta / lambda * e.two_theta * kRad;
  const double omega_deg = std::hypot(e.omega_floor, e.omega_scale / std::max(i_over_sigma, 1.0));
  const double omega = d.length * omega_deg * kRad;
  const double chi = d.length * e.across * kRad;
  Matrix3 w{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      w[i][j] = d.along[i] * d.along[j] / (radial * radial) + d.omega[i] * d.omega[j] / (omega * omega) +
                d.chi[i] * d.chi[j] / (chi * chi);
  return w;
}

// The weighted normal equations of h(phi) = UB h over the nine elements of
// UB (row-major), and the weighted sum of v^2, so that the sum of squares
// of any UB is a quadratic form in it.
struct Normal {
  Matrix9 n{};
  Vector9 b{};
  double vv = 0;
  int count = 0;
};

double SumOfSquares(const Normal& s, const Vector9& x) {
  double q = s.vv;
  for (int i = 0; i < 9; ++i) {
    q -= 2 * x[i] * s.b[i];
    for (int j = 0; j < 9; ++j) q += x[i] * s.n[i][j] * x[j];
  }
  return std::max(q, 0.0);
}

Normal Accumulate(std::span<const CellObservation> data, double lambda, const AngleErrors* errors) {
  Normal s;
  for (const CellObservation& o : data) {
    const Vectors d = DiffractionVectors(o.angles, lambda);
    Matrix3 w{};
    if (errors != nullptr) {
      w = Weight(d, *errors, o.i_over_sigma, lambda);
    } else {
      w = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    }
    const double h[3] = {static_cast<double>(o.hkl[0]), static_cast<double>(o.hkl[1]), static_cast<double>(o.hkl[2])};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        s.vv += d.v[i] * w[i][j] * d.v[j];
        for (int k = 0; k < 3; ++k) {
          s.b[3 * i + k] += w[i][j] * d.v[j] * h[k];
          for (int l = 0; l < 3; ++l) s.n[3 * i + k][3 * j + l] += w[i][j] * h[k] * h[l];
        }
      }
    ++s.count;
  }
  return s;
}

Matrix3 AsMatrix(const Vector9& x) { return {{{x[0], x[1], x[2]}, {x[3], x[4], x[5]}, {x[6], x[7], x[8]}}}; }
Vector9 AsVector(const Matrix3& m) {
  return {m[0][0], m[0][1], m[0][2], m[1][0], m[1][1], m[1][2], m[2][0], m[2][1], m[2][2]};
}

// The error model from the residuals of `ub`.
AngleErrors ErrorsOf(std::span<const CellObservation> data, double lambda, const Matrix3& ub) {
  double radial = 0, across = 0;
  // omega^2 = floor^2 + scale^2 x with x = 1 / (I/sigma)^2: a straight line.
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = static_cast<double>(data.size());
  for (const CellObservation& o : data) {
    const Vectors d = DiffractionVectors(o.angles, lambda);
    V3 e{};
    for (int i = 0; i < 3; ++i) e[i] = d.v[i] - (ub[i][0] * o.hkl[0] + ub[i][1] * o.hkl[1] + ub[i][2] * o.hkl[2]);
    radial += std::pow(Dot(e, d.along) / (d.cos_theta / lambda) / kRad, 2);
    across += std::pow(Dot(e, d.chi) / d.length / kRad, 2);
    const double y = std::pow(Dot(e, d.omega) / d.length / kRad, 2);
    const double x = 1.0 / std::pow(std::max(o.i_over_sigma, 1.0), 2);
    sx += x, sy += y, sxx += x * x, sxy += x * y;
  }
  AngleErrors out;
  // Nothing is known better than the 0.0001 degree the files never resolve.
  constexpr double kFinest = 1e-4;
  out.two_theta = std::max(std::sqrt(radial / n), kFinest);
  out.across = std::max(std::sqrt(across / n), kFinest);
  const double spread = n * sxx - sx * sx;
  double slope = spread > 0 ? (n * sxy - sx * sy) / spread : 0;
  slope = std::max(slope, 0.0);
  const double floor = std::max((sy - slope * sx) / n, kFinest * kFinest);
  out.omega_floor = std::sqrt(floor);
  out.omega_scale = std::sqrt(slope);
  return out;
}

Matrix3 Rotation(const V3& r) {
  const double angle = std::sqrt(Dot(r, r));
  Matrix3 m{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  if (angle == 0) return m;
  const V3 k{r[0] / angle, r[1] / angle, r[2] / angle};
  const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  return {{{t * k[0] * k[0] + c, t * k[0] * k[1] - s * k[2], t * k[0] * k[2] + s * k[1]},
           {t * k[0] * k[1] + s * k[2], t * k[1] * k[1] + c, t * k[1] * k[2] - s * k[0]},
           {t * k[0] * k[2] - s * k[1], t * k[1] * k[2] + s * k[0], t * k[2] * k[2] + c}}};
}

// Busing and Levy's B of a direct cell (a, b, c, alpha, beta, gamma).
Matrix3 BMatrix(const std::array<double, 6>& c) {
  const double ca = std::cos(c[3] * kRad), cb = std::cos(c[4] * kRad), cg = std::cos(c[5] * kRad);
  const double sa = std::sin(c[3] * kRad), sb = std::sin(c[4] * kRad), sg = std::sin(c[5] * kRad);
  const double volume = c[0] * c[1] * c[2] * std::sqrt(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg);
  const double as = c[1] * c[2] * sa / volume, bs = c[0] * c[2] * sb / volume, cs = c[0] * c[1] * sg / volume;
  const double cbs = (ca * cg - cb) / (sa * sg), cgs = (ca * cb - cg) / (sa * sb);
  const double sbs = std::sqrt(1 - cbs * cbs), sgs = std::sqrt(1 - cgs * cgs);
  return {{{as, bs * cgs, cs * cbs}, {0, bs * sgs, -cs * sbs * ca}, {0, 0, 1 / c[2]}}};
}

// The parameters a crystal system leaves free, and the cell they make.
int CellParameters(int system) {
  static constexpr int kCount[7] = {6, 4, 4, 3, 2, 2, 1};
  return kCount[system];
}

std::array<double, 6> CellFrom(int system, const double* p) {
  switch (system) {
    case 1: return {p[0], p[1], p[2], 90, p[3], 90};
    case 2: return {p[0], p[1], p[2], 90, 90, p[3]};
    case 3: return {p[0], p[1], p[2], 90, 90, 90};
    case 4: return {p[0], p[0], p[1], 90, 90, 90};
    case 5: return {p[0], p[0], p[1], 90, 90, 120};
    default: return {p[0], p[0], p[0], 90, 90, 90};
  }
}

std::vector<double> StartOf(int system, const Cell7& c) {
  switch (system) {
    case 1: return {c[0], c[1], c[2], c[4]};
    case 2: return {c[0], c[1], c[2], c[5]};
    case 3: return {c[0], c[1], c[2]};
    case 4:
    case 5: return {(c[0] + c[1]) / 2, c[2]};
    default: return {(c[0] + c[1] + c[2]) / 3};
  }
}

// The nearest rotation to m: m (m^T m)^(-1/2), by Newton's iteration.
Matrix3 Orthonormal(Matrix3 m) {
  for (int k = 0; k < 30; ++k) {
    const Matrix3 inv = Inverse(m);
    Matrix3 next{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) next[i][j] = 0.5 * (m[i][j] + inv[j][i]);
    m = next;
  }
  return m;
}

// Cell parameters and their ESDs from parameters q with covariance `cov`
// through the map `cell_of`, by a numerical Jacobian.
template <class CellOf>
void Propagate(const CellOf& cell_of, std::vector<double> q, const Matrix9& cov, Cell7& cell, Cell7& esd) {
  const int n = static_cast<int>(q.size());
  cell = cell_of(q);
  std::array<Cell7, 9> jacobian{};
  for (int k = 0; k < n; ++k) {
    const double step = 1e-7 * std::max(1.0, std::fabs(q[k]));
    q[k] += step;
    const Cell7 up = cell_of(q);
    q[k] -= 2 * step;
    const Cell7 down = cell_of(q);
    q[k] += step;
    for (int p = 0; p < 7; ++p) jacobian[k][p] = (up[p] - down[p]) / (2 * step);
  }
  for (int p = 0; p < 7; ++p) {
    double v = 0;
    for (int k = 0; k < n; ++k)
      for (int l = 0; l < n; ++l) v += jacobian[k][p] * cov[k][l] * jacobian[l][p];
    esd[p] = std::sqrt(std::max(v, 0.0));
  }
}

}  // namespace

Cell7 CellOfUB(const Matrix3& ub) {
  Matrix3 g_star{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) g_star[i][j] += ub[k][i] * ub[k][j];
  const Matrix3 g = Inverse(g_star);
  Cell7 c{};
  for (int i = 0; i < 3; ++i) c[i] = std::sqrt(g[i][i]);
  c[3] = std::acos(g[1][2] / (c[1] * c[2])) / kRad;
  c[4] = std::acos(g[0][2] / (c[0] * c[2])) / kRad;
  c[5] = std::acos(g[0][1] / (c[0] * c[1])) / kRad;
  c[6] = std::sqrt(Determinant(g));
  return c;
}

CellFit FitCell(std::span<const CellObservation> data, double lambda, int system) {
  CellFit fit;
  if (system < 0 || system > 6) {
    fit.error = "no such crystal system";
    return fit;
  }
  if (data.size() < 4) {
    fit.error = "at least 4 reflections are needed";
    return fit;
  }
  // Equal weights first; then twice the weights the residuals show.
  Normal normal = Accumulate(data, lambda, nullptr);
  Vector9 x{};
  for (int pass = 0; pass < 3; ++pass) {
    Matrix9 inv = normal.n;
    if (!Invert(inv, 9)) {
      fit.error = "the reflections do not span three dimensions";
      return fit;
    }
    x = {};
    for (int i = 0; i < 9; ++i)
      for (int j = 0; j < 9; ++j) x[i] += inv[i][j] * normal.b[j];
    if (pass == 2) break;
    fit.errors = ErrorsOf(data, lambda, AsMatrix(x));
    normal = Accumulate(data, lambda, &fit.errors);
  }
  const double observations = 3.0 * static_cast<double>(data.size());
  const Vector9 free = x;
  if (!(std::fabs(Determinant(AsMatrix(free))) > 0)) {
    fit.error = "the refined UB has no cell";
    return fit;
  }

  if (system == 0) {
    Matrix9 cov = normal.n;
    Invert(cov, 9);
    const double s2 = SumOfSquares(normal, free) / (observations - 9);
    for (auto& row : cov)
      for (double& v : row) v *= s2;
    fit.goodness = std::sqrt(s2);
    fit.ub = AsMatrix(free);
    Propagate([](const std::vector<double>& q) {
      Vector9 v{};
      std::copy(q.begin(), q.end(), v.begin());
      return CellOfUB(AsMatrix(v));
    }, std::vector<double>(free.begin(), free.end()), cov, fit.cell, fit.esd);
    return fit;
  }

  // Held to a system: UB = R(r) U0 B(p), fitted by Gauss-Newton to the
  // quadratic form of the free fit.
  const int k = CellParameters(system);
  const int count = 3 + k;
  std::vector<double> q(3, 0.0);
  const std::vector<double> start = StartOf(system, CellOfUB(AsMatrix(free)));
  q.insert(q.end(), start.begin(), start.end());
  const Matrix3 u0 = Orthonormal(Product(AsMatrix(free), Inverse(BMatrix(CellFrom(system, start.data())))));
  const auto ub_of = [&](const std::vector<double>& p) {
    return Product(Product(Rotation({p[0], p[1], p[2]}), u0), BMatrix(CellFrom(system, p.data() + 3)));
  };
  Matrix9 curvature{};
  for (int iteration = 0; iteration < 50; ++iteration) {
    const Vector9 here = AsVector(ub_of(q));
    std::array<Vector9, 9> d{};  // d UB / d q
    for (int m = 0; m < count; ++m) {
      const double step = 1e-7 * std::max(1.0, std::fabs(q[m]));
      std::vector<double> moved = q;
      moved[m] += step;
      const Vector9 there = AsVector(ub_of(moved));
      for (int e = 0; e < 9; ++e) d[m][e] = (there[e] - here[e]) / step;
    }
    // Normal equations of the parameters: D^T N D dq = D^T (b - N x).
    Vector9 gradient{};
    curvature = {};
    for (int m = 0; m < count; ++m) {
      for (int e = 0; e < 9; ++e) {
        double residual = normal.b[e];
        for (int f = 0; f < 9; ++f) residual -= normal.n[e][f] * here[f];
        gradient[m] += d[m][e] * residual;
        for (int f = 0; f < 9; ++f)
          for (int l = 0; l < count; ++l) curvature[m][l] += d[m][e] * normal.n[e][f] * d[l][f];
      }
    }
    Matrix9 inv = curvature;
    if (!Invert(inv, count)) {
      fit.error = "the constrained refinement is singular";
      return fit;
    }
    double largest = 0;
    for (int m = 0; m < count; ++m) {
      double step = 0;
      for (int l = 0; l < count; ++l) step += inv[m][l] * gradient[l];
      q[m] += step;
      largest = std::max(largest, std::fabs(step) / std::max(1.0, std::fabs(q[m])));
    }
    curvature = inv;
    if (largest < 1e-12) break;
  }
  const double s2 = SumOfSquares(normal, AsVector(ub_of(q))) / (observations - count);
  for (int m = 0; m < count; ++m)
    for (int l = 0; l < count; ++l) curvature[m][l] *= s2;
  fit.goodness = std::sqrt(s2);
  fit.ub = ub_of(q);
  Propagate([&](const std::vector<double>& p) { return CellOfUB(ub_of(p)); }, q, curvature, fit.cell, fit.esd);
  return fit;
}

}  // namespace kalvex::reduce
