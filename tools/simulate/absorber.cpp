// The simulator's own transmission of an absorbing crystal: a quasi-random
// (Halton) sample of points filling the crystal, each point's paths to the
// surface along the two beams. It shares nothing with the program's
// Gaussian integration, so each checks the other.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
namespace {

double Dot(const Vector3& a, const Vector3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vector3 Unit(const Vector3& a) {
  const double n = std::sqrt(Dot(a, a));
  return {a[0] / n, a[1] / n, a[2] / n};
}

// The radical inverse of i in base b: the Halton sequence's coordinate.
double RadicalInverse(int i, int b) {
  double f = 1, r = 0;
  for (; i > 0; i /= b) {
    f /= b;
    r += f * (i % b);
  }
  return r;
}

}  // namespace

bool ReadFaces(const std::filesystem::path& path, std::vector<std::array<double, 4>>& faces, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path.string();
    return false;
  }
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::istringstream words(line.substr(0, line.find('#')));
    std::array<double, 4> face{};
    std::string extra;
    if (!(words >> face[0])) continue;
    if (!(words >> face[1] >> face[2] >> face[3]) || (words >> extra) || !(face[3] > 0)) {
      error = path.string() + " line " + std::to_string(number) + ": a face is h k l and a positive distance in mm";
      return false;
    }
    faces.push_back(face);
  }
  if (faces.size() < 4) {
    error = path.string() + ": a crystal needs at least 4 faces";
    return false;
  }
  return true;
}

AbsorptionOracle::AbsorptionOracle(const Absorber& absorber, const Matrix3& ub, int points) : mu_(absorber.mu) {
  double reach = absorber.sphere_radius;
  if (absorber.sphere_radius <= 0) {
    for (const auto& f : absorber.faces) {
      normals_.push_back(Unit(Multiply(ub, {f[0], f[1], f[2]})));
      distances_.push_back(f[3]);
    }
    // The farthest corner bounds the sample's cube: corners are where three
    // planes meet inside all the others.
    const std::size_t n = normals_.size();
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j)
        for (std::size_t k = j + 1; k < n; ++k) {
          const Vector3 jk = Cross(normals_[j], normals_[k]);
          const double det = Dot(normals_[i], jk);
          if (std::abs(det) < 1e-9) continue;
          const Vector3 ki = Cross(normals_[k], normals_[i]), ij = Cross(normals_[i], normals_[j]);
          Vector3 v{};
          for (int c = 0; c < 3; ++c)
            v[c] = (distances_[i] * jk[c] + distances_[j] * ki[c] + distances_[k] * ij[c]) / det;
          bool inside = true;
          for (std::size_t m = 0; m < n && inside; ++m) inside = Dot(normals_[m], v) <= distances_[m] * (1 + 1e-9);
          if (inside) reach = std::max(reach, std::sqrt(Dot(v, v)));
        }
  }
  radius_ = absorber.sphere_radius;
  for (int i = 1; static_cast<int>(points_.size()) < points && i < 1000 * points; ++i) {
    const Vector3 p{reach * (2 * RadicalInverse(i, 2) - 1), reach * (2 * RadicalInverse(i, 3) - 1),
                    reach * (2 * RadicalInverse(i, 5) - 1)};
    bool inside = radius_ > 0 ? Dot(p, p) < radius_ * radius_ : true;
    for (std::size_t m = 0; m < normals_.size() && inside; ++m) inside = Dot(normals_[m], p) < distances_[m];
    if (inside) points_.push_back(p);
  }
}

double AbsorptionOracle::Path(const Vector3& p, const Vector3& d) const {
  if (radius_ > 0) {
    const double pd = Dot(p, d);
    return -pd + std::sqrt(pd * pd + radius_ * radius_ - Dot(p, p));
  }
  double t = 1e300;
  for (std::size_t m = 0; m < normals_.size(); ++m) {
    const double c = Dot(normals_[m], d);
    if (c > 0) t = std::min(t, (distances_[m] - Dot(normals_[m], p)) / c);
  }
  return t;
}

double AbsorptionOracle::Transmission(const Vector3& reversed_incident, const Vector3& diffracted) const {
  double sum = 0;
  for (const Vector3& p : points_) sum += std::exp(-mu_ * (Path(p, reversed_incident) + Path(p, diffracted)));
  return sum / static_cast<double>(points_.size());
}

double AbsorptionOracle::Transmission(const Matrix3& ub, const Hkl& hkl, const SettingAngles& angles,
                                      double lambda) const {
  // The diffraction vector from UB h, the plane of diffraction normal to the
  // omega axis: the incident beam travels along +y of the frame whose +x is
  // the diffraction vector, turned back by omega, chi and phi.
  const Vector3 h = Multiply(ub, {double(hkl[0]), double(hkl[1]), double(hkl[2])});
  const double sin_theta = lambda * std::sqrt(Dot(h, h)) / 2, cos_theta = std::sqrt(1 - sin_theta * sin_theta);
  const double d = std::numbers::pi / 180;
  const double om = angles.omega * d, ch = angles.chi * d, ph = angles.phi * d;
  const Vector3 y{-std::sin(om) * std::cos(ch) * std::cos(ph) - std::cos(om) * std::sin(ph),
                  std::cos(om) * std::cos(ph) - std::sin(om) * std::cos(ch) * std::sin(ph), -std::sin(om) * std::sin(ch)};
  const Vector3 x = Unit(h);
  const double k = Dot(y, x);
  const Vector3 across = Unit({y[0] - k * x[0], y[1] - k * x[1], y[2] - k * x[2]});
  Vector3 in{}, out{};
  for (int c = 0; c < 3; ++c) {
    in[c] = sin_theta * x[c] - cos_theta * across[c];
    out[c] = sin_theta * x[c] + cos_theta * across[c];
  }
  return Transmission(in, out);
}

}  // namespace kalvex::simulate
