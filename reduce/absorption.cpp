#include "reduce/absorption.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <sstream>

namespace kalvex::reduce {

namespace {

constexpr double kPi = std::numbers::pi;

Direction Add(const Direction& a, const Direction& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Direction Sub(const Direction& a, const Direction& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Direction Scale(const Direction& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double Dot(const Direction& a, const Direction& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Direction Cross(const Direction& a, const Direction& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Norm(const Direction& a) { return std::sqrt(Dot(a, a)); }
Direction Unit(const Direction& a) { return Scale(a, 1.0 / Norm(a)); }

// Gauss-Legendre nodes and weights on [0, 1], by Newton's method on P_n.
void GaussLegendre(int n, std::vector<double>& x, std::vector<double>& w) {
  x.assign(n, 0.0);
  w.assign(n, 0.0);
  for (int i = 0; i < n; ++i) {
    double z = std::cos(kPi * (i + 0.75) / (n + 0.5));
    double derivative = 1;
    for (int iteration = 0; iteration < 100; ++iteration) {
      double p0 = 1, p1 = 0;
      for (int j = 1; j <= n; ++j) {
        const double p2 = p1;
        p1 = p0;
        p0 = ((2.0 * j - 1.0) * z * p1 - (j - 1.0) * p2) / j;
      }
      derivative = n * (z * p0 - p1) / (z * z - 1.0);
      const double step = p0 / derivative;
      z -= step;
      if (std::fabs(step) < 1e-15) break;
    }
    x[i] = (1.0 - z) / 2.0;
    w[i] = 1.0 / ((1.0 - z * z) * derivative * derivative);  // 2 / (...) halved for [0, 1]
  }
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// The eigenvectors of a symmetric 3 x 3 matrix, by Jacobi rotations.
std::array<Direction, 3> Eigenvectors(std::array<Direction, 3> a) {
  std::array<Direction, 3> v{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  for (int sweep = 0; sweep < 50; ++sweep) {
    double off = 0;
    for (int p = 0; p < 3; ++p)
      for (int q = p + 1; q < 3; ++q) off += a[p][q] * a[p][q];
    if (off < 1e-30) break;
    for (int p = 0; p < 3; ++p)
      for (int q = p + 1; q < 3; ++q) {
        if (std::fabs(a[p][q]) < 1e-300) continue;
        const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < 3; ++k) {
          const double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (int k = 0; k < 3; ++k) {
          const double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
        for (int k = 0; k < 3; ++k) {
          const double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
  }
  return {Direction{v[0][0], v[1][0], v[2][0]}, Direction{v[0][1], v[1][1], v[2][1]},
          Direction{v[0][2], v[1][2], v[2][2]}};
}

}  // namespace

FacesFile ParseFacesFile(const std::vector<std::string>& lines) {
  FacesFile out;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string text = lines[n].substr(0, lines[n].find('#'));
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    if (words.empty()) continue;
    const std::string where = "line " + std::to_string(n + 1) + ": ";
    if (words.size() != 4) {
      out.error = where + "a face is four numbers, h k l distance_mm; found " + std::to_string(words.size());
      return out;
    }
    std::array<double, 4> v{};
    for (int i = 0; i < 4; ++i) {
      char* end = nullptr;
      v[i] = std::strtod(words[i].c_str(), &end);
      if (*end != '\0' || !std::isfinite(v[i])) {
        out.error = where + "'" + words[i] + "' is not a number";
        return out;
      }
    }
    out.faces.push_back({{v[0], v[1], v[2]}, v[3], static_cast<int>(n + 1)});
  }
  if (out.faces.empty()) out.error = "no faces in the file";
  return out;
}

std::string FaceName(const CrystalFace& face, int index) {
  std::string name = "face " + std::to_string(index + 1) + " (" + Number(face.hkl[0]) + " " + Number(face.hkl[1]) +
                     " " + Number(face.hkl[2]) + " at " + Number(face.distance) + " mm";
  if (face.line_number > 0) name += ", line " + std::to_string(face.line_number);
  return name + ")";
}

CrystalShape BuildCrystal(std::span<const CrystalFace> faces, const Mat3& ub) {
  CrystalShape c;
  c.faces.assign(faces.begin(), faces.end());
  const int f = static_cast<int>(faces.size());
  if (f < 4) {
    c.error = "a crystal needs at least 4 faces; " + std::to_string(f) + " given";
    return c;
  }
  double largest = 0;
  for (int i = 0; i < f; ++i) {
    const CrystalFace& face = faces[i];
    if (face.hkl[0] == 0 && face.hkl[1] == 0 && face.hkl[2] == 0) {
      c.error = FaceName(face, i) + ": indices 0 0 0 name no face";
      return c;
    }
    if (!(face.distance > 0)) {
      c.error = FaceName(face, i) +
                ": the distance is measured from a point inside the crystal and must be positive; this face "
                "leaves that point outside";
      return c;
    }
    Direction n{};
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) n[r] += static_cast<double>(ub[r][k]) * face.hkl[k];
    c.normals.push_back(Unit(n));
    largest = std::max(largest, face.distance);
  }

  // Corners: points where three planes meet inside every half-space. A box
  // far outside stands in for faces the file may lack; a corner on it means
  // the crystal is open.
  std::vector<Direction> normals = c.normals;
  std::vector<double> distances;
  for (const CrystalFace& face : faces) distances.push_back(face.distance);
  const double far = 1000.0 * largest;
  for (int axis = 0; axis < 3; ++axis)
    for (double sign : {1.0, -1.0}) {
      Direction n{};
      n[axis] = sign;
      normals.push_back(n);
      distances.push_back(far);
    }
  const int planes = static_cast<int>(normals.size());
  const double tol = 1e-9 * far;
  struct Corner {
    Direction at;
    std::vector<int> on;
  };
  std::vector<Corner> corners;
  for (int i = 0; i < planes; ++i)
    for (int j = i + 1; j < planes; ++j)
      for (int k = j + 1; k < planes; ++k) {
        const Direction jk = Cross(normals[j], normals[k]);
        const double det = Dot(normals[i], jk);
        if (std::fabs(det) < 1e-9) continue;
        const Direction v = Scale(Add(Add(Scale(jk, distances[i]), Scale(Cross(normals[k], normals[i]), distances[j])),
                                      Scale(Cross(normals[i], normals[j]), distances[k])),
                                  1.0 / det);
        bool inside = true;
        for (int m = 0; m < planes && inside; ++m) inside = Dot(normals[m], v) <= distances[m] + tol;
        if (!inside) continue;
        if (std::any_of(corners.begin(), corners.end(), [&](const Corner& x) { return Norm(Sub(x.at, v)) < tol; }))
          continue;
        Corner corner{v, {}};
        for (int m = 0; m < planes; ++m)
          if (std::fabs(Dot(normals[m], v) - distances[m]) < tol) corner.on.push_back(m);
        corners.push_back(corner);
      }

  Direction open{};
  bool is_open = false;
  for (const Corner& corner : corners)
    if (corner.on.back() >= f) {
      open = Add(open, Unit(corner.at));
      is_open = true;
    }
  if (is_open) {
    // The direction in the direct cell's axes: x = A uvw with A = (UB)^-T.
    Direction uvw{};
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) uvw[j] += static_cast<double>(ub[i][j]) * open[i];
    const double top = std::max({std::fabs(uvw[0]), std::fabs(uvw[1]), std::fabs(uvw[2])});
    char text[96];
    std::snprintf(text, sizeof text, "[%.2f %.2f %.2f]", uvw[0] / top + 0.0, uvw[1] / top + 0.0, uvw[2] / top + 0.0);
    c.error = std::string("the faces do not close a crystal: it is open towards ") + text + " of the direct cell";
    return c;
  }

  c.polygons.resize(f);
  for (const Corner& corner : corners) {
    c.centre = Add(c.centre, corner.at);
    for (int m : corner.on) c.polygons[m].push_back(corner.at);
  }
  c.centre = Scale(c.centre, 1.0 / static_cast<double>(corners.size()));
  for (int i = 0; i < f; ++i) {
    std::vector<Direction>& polygon = c.polygons[i];
    if (polygon.size() < 3) {
      c.error = FaceName(faces[i], i) +
                " does not bound the crystal the other faces enclose (its plane misses it or touches only an edge "
                "or a corner); check its indices and distance";
      return c;
    }
    Direction middle{};
    for (const Direction& p : polygon) middle = Add(middle, p);
    middle = Scale(middle, 1.0 / static_cast<double>(polygon.size()));
    const Direction e1 = Unit(Sub(polygon[0], middle));
    const Direction e2 = Cross(c.normals[i], e1);
    std::sort(polygon.begin(), polygon.end(), [&](const Direction& a, const Direction& b) {
      const Direction da = Sub(a, middle), db = Sub(b, middle);
      return std::atan2(Dot(da, e2), Dot(da, e1)) < std::atan2(Dot(db, e2), Dot(db, e1));
    });
    double twice_area = 0;
    for (std::size_t j = 1; j + 1 < polygon.size(); ++j)
      twice_area += Norm(Cross(Sub(polygon[j], polygon[0]), Sub(polygon[j + 1], polygon[0])));
    c.volume += twice_area / 6.0 * (faces[i].distance - Dot(c.normals[i], c.centre));
  }

  // Size: the extents of the corners along the principal axes of their spread.
  std::array<Direction, 3> spread{};
  for (const Corner& corner : corners) {
    const Direction d = Sub(corner.at, c.centre);
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) spread[r][k] += d[r] * d[k];
  }
  const std::array<Direction, 3> axes = Eigenvectors(spread);
  for (int a = 0; a < 3; ++a) {
    double low = 0, high = 0;
    for (const Corner& corner : corners) {
      const double x = Dot(axes[a], Sub(corner.at, c.centre));
      low = std::min(low, x);
      high = std::max(high, x);
    }
    c.size[a] = high - low;
  }
  std::sort(c.size.begin(), c.size.end(), std::greater<>());
  return c;
}

namespace {

// A convex polyhedron as its face polygons.
using Polygon = std::vector<Direction>;
using Polyhedron = std::vector<Polygon>;

// The part of `body` with n.r <= d (n a unit vector): each face cut by the
// plane (Sutherland-Hodgman) and the cut closed by a new face. A corner
// within `tol` of the plane lies on it. A body with no corner beyond the
// plane is kept whole, one with none inside it is gone (a face lying in the
// plane is no part of the inside: two cells never share volume).
Polyhedron Clip(const Polyhedron& body, const Direction& n, double d, double tol) {
  bool beyond = false, inside = false;
  for (const Polygon& face : body)
    for (const Direction& p : face) {
      const double side = Dot(n, p) - d;
      beyond = beyond || side > tol;
      inside = inside || side < -tol;
    }
  if (!beyond) return body;
  if (!inside) return {};
  Polyhedron out;
  Polygon cut;
  auto add = [tol](Polygon& polygon, const Direction& x) {
    if (polygon.empty() || Norm(Sub(polygon.back(), x)) > tol) polygon.push_back(x);
  };
  for (const Polygon& face : body) {
    Polygon kept;
    for (std::size_t k = 0; k < face.size(); ++k) {
      const Direction& a = face[k];
      const Direction& b = face[(k + 1) % face.size()];
      const double da = Dot(n, a) - d, db = Dot(n, b) - d;
      if (da <= tol) add(kept, a);
      if (std::fabs(da) <= tol) cut.push_back(a);
      if ((da < -tol && db > tol) || (da > tol && db < -tol)) {
        const Direction x = Add(a, Scale(Sub(b, a), da / (da - db)));
        add(kept, x);
        cut.push_back(x);
      }
    }
    if (kept.size() > 1 && Norm(Sub(kept.front(), kept.back())) <= tol) kept.pop_back();
    if (kept.size() >= 3) out.push_back(std::move(kept));
  }
  Polygon cap;
  for (const Direction& x : cut)
    if (std::none_of(cap.begin(), cap.end(), [&](const Direction& y) { return Norm(Sub(x, y)) <= tol; }))
      cap.push_back(x);
  if (cap.size() >= 3) {
    Direction middle{};
    for (const Direction& x : cap) middle = Add(middle, x);
    middle = Scale(middle, 1.0 / static_cast<double>(cap.size()));
    const Direction e1 = Unit(Sub(cap[0], middle)), e2 = Cross(n, e1);
    std::sort(cap.begin(), cap.end(), [&](const Direction& x, const Direction& y) {
      const Direction dx = Sub(x, middle), dy = Sub(y, middle);
      return std::atan2(Dot(dx, e2), Dot(dx, e1)) < std::atan2(Dot(dy, e2), Dot(dy, e1));
    });
    out.push_back(std::move(cap));
  }
  if (out.size() < 4) out.clear();
  return out;
}

// Gauss-Legendre rules on [0, 1] of 1 to kMostPoints points, made once.
constexpr int kMostPoints = 16;
struct GaussRules {
  std::array<std::vector<double>, kMostPoints + 1> x, w;
  GaussRules() {
    for (int n = 1; n <= kMostPoints; ++n) GaussLegendre(n, x[n], w[n]);
  }
};
const GaussRules& Rules() {
  static const GaussRules rules;
  return rules;
}

// The fewest Gauss points that integrate exp(x range) over [0, 1] within
// `tolerance` of its largest value: the rule's error term
// (n!)^4 / ((2n + 1) ((2n)!)^3) range^(2n).
int PointsFor(double range, double tolerance) {
  for (int n = 1; n < kMostPoints; ++n) {
    const double log_bound = 4.0 * std::lgamma(n + 1.0) - 3.0 * std::lgamma(2.0 * n + 1.0) - std::log(2.0 * n + 1.0) +
                             2.0 * n * std::log(std::max(range, 1e-300));
    if (log_bound < std::log(tolerance)) return n;
  }
  return kMostPoints;
}

// Int exp(f0 + g.r) dV over a convex polyhedron: tetrahedra of its centre
// and each face's fan of triangles, each with a product Gauss rule in s and v
// of the collapsed coordinates r = c + s (q - c), q = P0 + v (Pj + t (Pj+1 - Pj) - P0),
// dV = s^2 v |det(P0 - c, Pj - P0, Pj+1 - P0)| ds dv dt.
double IntegrateExp(const Polyhedron& body, double f0, const Direction& g, int points) {
  const std::vector<double>& x = Rules().x[points];
  const std::vector<double>& w = Rules().w[points];
  Direction c{};
  int corners = 0;
  for (const Polygon& face : body)
    for (const Direction& p : face) {
      c = Add(c, p);
      ++corners;
    }
  c = Scale(c, 1.0 / corners);
  double sum = 0;
  for (const Polygon& face : body) {
    const Direction& p0 = face[0];
    for (std::size_t j = 1; j + 1 < face.size(); ++j) {
      const Direction& p1 = face[j];
      const Direction& p2 = face[j + 1];
      const double jacobian = std::fabs(Dot(Sub(p0, c), Cross(Sub(p1, p0), Sub(p2, p0))));
      if (jacobian == 0) continue;
      // f is linear: along each collapsed coordinate it moves by a fixed step.
      const double fc = f0 + Dot(g, c), f_p0 = Dot(g, Sub(p0, c)), f_p1 = Dot(g, Sub(p1, p0)),
                   f_p2 = Dot(g, Sub(p2, p1));
      // Along t the exponent is linear and nothing else varies: that
      // integral is exact, exp(A) (exp(B) - 1) / B.
      double tetra = 0;
      for (int a = 0; a < points; ++a) {
        const double s = x[a];
        for (int b = 0; b < points; ++b) {
          const double v = x[b];
          const double along = s * v * f_p2;
          const double line = std::fabs(along) < 1e-8 ? 1.0 + along / 2.0 : std::expm1(along) / along;
          tetra += w[a] * w[b] * s * s * v * std::exp(fc + s * (f_p0 + v * f_p1)) * line;
        }
      }
      sum += tetra * jacobian;
    }
  }
  return sum;
}

// Int exp(f0 + g.r) over a cell whose exponent spans `range`: cells spanning
// more than kSplitRange are halved across g (the error bound of a rule is
// relative to the cell's largest value, which then exceeds its mean by
// e^range at most), the rest integrated with the fewest points that the
// bound allows, one more for the s^2 v of the collapsed coordinates.
constexpr double kSplitRange = 3.0;
double IntegrateCell(const Polyhedron& body, double f0, const Direction& g, double tolerance, double tol, int depth) {
  double low = 1e300, high = -1e300;
  for (const Polygon& face : body)
    for (const Direction& p : face) {
      const double value = f0 + Dot(g, p);
      low = std::min(low, value);
      high = std::max(high, value);
    }
  if (high - low > kSplitRange && depth < 12) {
    const double length = Norm(g);
    const Direction n = Scale(g, 1.0 / length);
    const double d = ((low + high) / 2.0 - f0) / length;
    double sum = 0;
    const Polyhedron below = Clip(body, n, d, tol), above = Clip(body, Scale(n, -1.0), -d, tol);
    if (!below.empty()) sum += IntegrateCell(below, f0, g, tolerance, tol, depth + 1);
    if (!above.empty()) sum += IntegrateCell(above, f0, g, tolerance, tol, depth + 1);
    return sum;
  }
  return IntegrateExp(body, f0, g, std::min(PointsFor(high - low, tolerance) + 1, kMostPoints));
}

}  // namespace

GaussianTransmission::GaussianTransmission(const CrystalShape& crystal, double mu, double tolerance)
    : mu_(mu), tolerance_(tolerance), volume_(crystal.volume), normals_(crystal.normals), body_(crystal.polygons) {
  for (const CrystalFace& face : crystal.faces) distances_.push_back(face.distance);
  double extent = 0;
  for (const Polygon& face : body_)
    for (const Direction& p : face) extent = std::max(extent, Norm(p));
  tol_ = 1e-12 * extent;
}

// The crystal is cut into cells in each of which one face is where the
// reversed incident beam leaves and one where the diffracted beam leaves:
// inside a cell both paths are linear in the position, and the integrand
// exp(-mu (t_in + t_out)) is smooth, so a Gauss rule converges fast. The cell
// of exit face i for a beam along d is where t_i <= t_m for every face m the
// beam can leave through, t_m = (d_m - n_m.r) / (n_m.d): half-spaces.
double GaussianTransmission::Transmission(const BeamPair& beams) const {
  const int f = static_cast<int>(normals_.size());
  struct Exit {
    int face;
    double inverse;  // 1 / (n.d)
  };
  auto exits = [&](const Direction& d) {
    std::vector<Exit> out;
    for (int m = 0; m < f; ++m) {
      const double c = Dot(normals_[m], d);
      // A face nearly parallel to the beam is its exit only within 1e-6 of
      // the path from it: leaving it out changes A by less than that.
      if (c > 1e-6) out.push_back({m, 1.0 / c});
    }
    return out;
  };
  const std::vector<Exit> in = exits(beams.reversed_incident), out = exits(beams.diffracted);
  // Keeps the part of `body` where exit i of `list` comes first.
  auto cell = [&](Polyhedron body, const std::vector<Exit>& list, const Exit& i) {
    for (const Exit& m : list) {
      if (m.face == i.face || body.empty()) continue;
      const Direction n = Sub(Scale(normals_[m.face], m.inverse), Scale(normals_[i.face], i.inverse));
      const double length = Norm(n);
      const double d = distances_[m.face] * m.inverse - distances_[i.face] * i.inverse;
      body = Clip(body, Scale(n, 1.0 / length), d / length, tol_);
    }
    return body;
  };
  double sum = 0;
  for (const Exit& i : in) {
    const Polyhedron entry = cell(body_, in, i);
    if (entry.empty()) continue;
    for (const Exit& j : out) {
      const Polyhedron both = cell(entry, out, j);
      if (both.empty()) continue;
      // -mu (t_in + t_out) = f0 + g.r
      const double f0 = -mu_ * (distances_[i.face] * i.inverse + distances_[j.face] * j.inverse);
      const Direction g =
          Scale(Add(Scale(normals_[i.face], i.inverse), Scale(normals_[j.face], j.inverse)), mu_);
      sum += IntegrateCell(both, f0, g, tolerance_, tol_, 0);
    }
  }
  return sum / volume_;
}

double SphereTransmissionIntegral(double mu_r, double two_theta) {
  // Unit sphere; the reversed incident beam along z, the diffracted beam in
  // the xz plane at 180 - 2theta from it. The path from p to the surface
  // along d is -p.d + sqrt((p.d)^2 + 1 - p^2).
  // Past mu R = 3 the integrand crowds to the surface: more points.
  const int n = mu_r <= 3 ? 48 : (mu_r <= 8 ? 72 : 96);
  std::vector<double> x, w;
  GaussLegendre(n, x, w);
  const double gamma = kPi - two_theta * kPi / 180.0;
  const Direction a{0, 0, 1}, b{std::sin(gamma), 0, std::cos(gamma)};
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const double r = x[i];
    for (int j = 0; j < n; ++j) {
      const double cos_polar = 2.0 * x[j] - 1.0, sin_polar = std::sqrt(1.0 - cos_polar * cos_polar);
      for (int k = 0; k < n; ++k) {
        const double azimuth = kPi * x[k];
        const Direction p{r * sin_polar * std::cos(azimuth), r * sin_polar * std::sin(azimuth), r * cos_polar};
        const double pa = Dot(p, a), pb = Dot(p, b), inside = 1.0 - r * r;
        const double path = -pa + std::sqrt(pa * pa + inside) - pb + std::sqrt(pb * pb + inside);
        sum += w[i] * w[j] * w[k] * r * r * std::exp(-mu_r * path);
      }
    }
  }
  // Int r^2 dr dcos dphi over r in [0,1], cos in [-1,1], phi in [0, pi] is (1/3) 2 pi: half the sphere.
  return sum * 2.0 * kPi / (2.0 * kPi / 3.0);
}

SphereTransmission::SphereTransmission(double mu_r) {
  for (int k = 0; k <= 90; ++k) table_.push_back(SphereTransmissionIntegral(mu_r, 2.0 * k));
}

double SphereTransmission::At(double two_theta) const {
  // Cubic through the four nearest entries; the transmission is even about
  // 2theta = 0 and 180, which gives the entries beyond either end.
  const double u = std::clamp(two_theta, 0.0, 180.0) / 2.0;
  const int k = std::min(static_cast<int>(u), 89);
  const double t = u - k;
  auto entry = [this](int i) { return table_[i < 0 ? -i : (i > 90 ? 180 - i : i)]; };
  const double p0 = entry(k - 1), p1 = entry(k), p2 = entry(k + 1), p3 = entry(k + 2);
  return p1 + t * ((p2 - p0) / 2.0 +
                   t * ((p0 - 2.5 * p1 + 2.0 * p2 - 0.5 * p3) + t * (1.5 * (p1 - p2) + (p3 - p0) / 2.0)));
}

}  // namespace kalvex::reduce
