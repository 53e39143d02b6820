// Numerical absorption corrections: the transmission of a convex crystal
// bounded by indexed faces (Gaussian integration over its volume) and of a
// sphere. Lengths in mm, mu in 1/mm; beams as BeamsInCrystal gives them.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "common/linear_algebra.h"
#include "reduce/beam_geometry.h"

namespace kalvex::reduce {

// One line of a faces file: "h k l distance_mm", the distance of the face
// from a point inside the crystal along the face's normal.
struct CrystalFace {
  std::array<double, 3> hkl{};
  double distance = 0;
  int line_number = 0;
};

struct FacesFile {
  std::vector<CrystalFace> faces;
  std::string error;  // empty when every line was read; else names the line
};

// Reads the lines of a faces file: one face a line, four numbers; blank lines
// and everything after a '#' are ignored.
FacesFile ParseFacesFile(const std::vector<std::string>& lines);

// "face 3 (1 0 -2 at 0.125 mm, line 5)": how messages name a face.
std::string FaceName(const CrystalFace& face, int index);

// A convex crystal in the phi-axis frame, mm.
struct CrystalShape {
  std::vector<CrystalFace> faces;
  std::vector<Direction> normals;              // outward unit normals, UB h of each face
  std::vector<std::vector<Direction>> polygons;  // each face's corners, in order round it
  Direction centre{};                          // mean of the corners: a point inside
  double volume = 0;                           // mm^3
  std::array<double, 3> size{};                // max, mid, min: extents along the principal axes
  std::string error;                           // empty for a crystal; else why the faces make none
  bool Valid() const { return error.empty(); }
};

// The crystal the faces bound, with UB giving their normals. Refused, with
// the face named, when a distance is not positive (the reference point is not
// inside), a face's indices are 0 0 0, a face does not bound the crystal the
// others enclose, or the faces leave it open (the direction named in the
// direct cell's axes).
CrystalShape BuildCrystal(std::span<const CrystalFace> faces, const Mat3& ub);

// A = (1/V) Int exp(-mu (t_in + t_out)) dV by Gaussian quadrature, where
// t_in is the path from a point to the surface along the reversed incident
// beam and t_out along the diffracted beam. For each measurement the crystal
// is cut into cells, one for each pair of faces the two beams leave through:
// inside a cell both paths are linear in the position and the integrand is
// the exponential of a linear function, smooth (a fixed grid over the whole
// crystal would straddle the kinks where a beam's exit face changes, and
// converge slowly). A cell over which mu (t_in + t_out) varies by more than
// 3 is halved across its gradient until none does. Each cell is cut into
// tetrahedra (its centre and a triangle of a face), each with a product
// Gauss-Legendre rule in two of its collapsed coordinates (along the third
// only the exponent varies, and that integral is exact) of the fewest points
// whose error term for exp over the cell's range lies below `tolerance` of
// the cell's largest value, and one more (at most 16 a coordinate). The grid is
// thus made for each measurement. With the default tolerance the
// transmission of a plate agrees with that of a 1e5 times smaller one within
// 1e-8 (bench/absorption_bench); the tests hold it to closed forms and to
// the simulator's own integration.
class GaussianTransmission {
 public:
  GaussianTransmission(const CrystalShape& crystal, double mu, double tolerance = 1e-6);
  double Transmission(const BeamPair& beams) const;

 private:
  double mu_ = 0;
  double tolerance_ = 0;
  double volume_ = 0;
  double tol_ = 0;  // mm: where a corner lies on a cutting plane
  std::vector<Direction> normals_;
  std::vector<double> distances_;
  std::vector<std::vector<Direction>> body_;
};

// The transmission of a sphere of mu R = `mu_r` at `two_theta` (degrees), by
// direct integration over the sphere (radius, polar and azimuthal
// Gauss-Legendre rules of 48 points each, 72 past mu R = 3 and 96 past 8;
// the mirror plane of the two beams halves the azimuth). Against the closed
// forms at 2theta = 0 and 180: within 1e-5 up to mu R = 2, 1e-4 at 5,
// 3e-4 at 10.
double SphereTransmissionIntegral(double mu_r, double two_theta);

// A sphere's transmission for one mu R, integrated once at every 2 degrees
// of 2theta and interpolated (cubic) between.
class SphereTransmission {
 public:
  explicit SphereTransmission(double mu_r);
  double At(double two_theta) const;

 private:
  std::vector<double> table_;  // 2theta = 0, 2, ..., 180
};

}  // namespace kalvex::reduce
