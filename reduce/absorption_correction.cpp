#include "reduce/absorption_correction.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "common/fixed_fields.h"
#include "reduce/reduction.h"

namespace kalvex::reduce {

using fields::Printf;

namespace {

// The beams of an accepted measurement under `ub`, or why there are none.
std::optional<BeamPair> Beams(const IntensityRecord& record, const Mat3& ub, const RunParameters& params,
                              std::string& error) {
  const std::optional<BeamPair> beams =
      BeamsInCrystal(ub, record.hkl, InstrumentAngles(record, params.parity), params.lambda1);
  if (!beams)
    error = Printf("line %d: %d %d %d lies beyond the sphere of reflection with the refined UB: its beams, and so "
                   "its absorption, are unknown",
                   record.line_number, record.hkl[0], record.hkl[1], record.hkl[2]);
  return beams;
}

void Divide(ReducedReflection& x, double transmission) {
  x.transmission = transmission;
  x.intensity /= transmission;
  x.sigma /= transmission;
}

}  // namespace

std::optional<AbsorptionMethod> AbsorptionMethodNamed(std::string_view name) {
  if (name == "none") return AbsorptionMethod::kNone;
  if (name == "empirical") return AbsorptionMethod::kEmpirical;
  if (name == "faces") return AbsorptionMethod::kFaces;
  if (name == "sphere") return AbsorptionMethod::kSphere;
  return std::nullopt;
}

const char* CorrectionType(AbsorptionMethod method) {
  switch (method) {
    case AbsorptionMethod::kEmpirical: return "multi-scan";
    case AbsorptionMethod::kFaces: return "gaussian";
    case AbsorptionMethod::kSphere: return "sphere";
    default: return "none";
  }
}

CrystalShape CrystalOfFaces(const AbsorptionRequest& request, const Mat3& ub) {
  return BuildCrystal(request.faces, ub);
}

std::string CorrectNumerically(Reduction& r, const AbsorptionRequest& request, const Mat3& ub,
                               const RunParameters& params) {
  AbsorptionCorrection& a = r.absorption;
  a.method = request.method;
  a.mu = request.mu;
  const double mu = request.mu.value_or(0);
  std::string error;
  if (request.method == AbsorptionMethod::kSphere) {
    const SphereTransmission sphere(mu * request.radius);
    a.grid = Printf("mu R = %.4g; the sphere integrated once every 2 degrees of 2theta (Gauss-Legendre rules of 48 "
                    "points or more in radius, polar angle and azimuth) and interpolated",
                    mu * request.radius);
    for (ReducedReflection& x : r.reflections) Divide(x, sphere.At(InstrumentAngles(r.Record(x), params.parity)[0]));
    return {};
  }
  a.crystal = CrystalOfFaces(request, ub);
  a.has_crystal = true;
  if (!a.crystal.Valid()) return a.crystal.error;
  const GaussianTransmission gauss(a.crystal, mu);
  a.grid = "Gaussian quadrature over the cells of the crystal between the faces the two beams leave through, each "
           "rule chosen for a relative error below 1e-6";
  for (ReducedReflection& x : r.reflections) {
    const std::optional<BeamPair> beams = Beams(r.Record(x), ub, params, error);
    if (!beams) return error;
    Divide(x, gauss.Transmission(*beams));
  }
  return {};
}

std::string CorrectEmpirically(Reduction& r, const AbsorptionRequest& request, const Mat3& ub,
                               const RunParameters& params) {
  AbsorptionCorrection& a = r.absorption;
  a.method = AbsorptionMethod::kEmpirical;
  a.mu = request.mu;
  std::string error;
  std::vector<BeamPair> beams(r.reflections.size());
  for (std::size_t i = 0; i < r.reflections.size(); ++i) {
    const std::optional<BeamPair> b = Beams(r.Record(r.reflections[i]), ub, params, error);
    if (!b) return error;
    beams[i] = *b;
  }
  // The sets of equivalents: the unique reflections of the class, then one
  // set for each standard.
  std::vector<std::uint32_t> places;
  std::vector<Miller> hkl;
  for (std::uint32_t i = 0; i < r.reflections.size(); ++i)
    if (r.Kept(r.reflections[i])) {
      places.push_back(i);
      hkl.push_back(r.Record(r.reflections[i]).hkl);
    }
  const Grouping groups = GroupEquivalents(*r.laue, hkl);
  std::vector<AbsorptionMeasurement> data;
  std::vector<std::uint32_t> measured;  // the place of each in r.reflections
  for (std::size_t g = 0; g < groups.Groups(); ++g)
    for (std::size_t m = groups.starts[g]; m < groups.starts[g + 1]; ++m) {
      const std::uint32_t i = places[groups.order[m]];
      const ReducedReflection& x = r.reflections[i];
      data.push_back({static_cast<int>(g), x.intensity, x.sigma, beams[i]});
      measured.push_back(i);
    }
  for (std::uint32_t i = 0; i < r.reflections.size(); ++i) {
    const ReducedReflection& x = r.reflections[i];
    const IntensityRecord& record = r.Record(x);
    if (!record.IsStandard() || x.out_of_line != OutOfLine::kNo) continue;
    data.push_back({static_cast<int>(groups.Groups()) + record.standard_index, x.intensity, x.sigma, beams[i]});
    measured.push_back(i);
  }

  // With the faces and mu the crystal's own transmission gives the level
  // and the check.
  std::vector<double> numerical;
  EmpiricalOptions options;
  options.lmax = request.lmax;
  if (!request.faces.empty() && request.mu) {
    a.crystal = CrystalOfFaces(request, ub);
    a.has_crystal = true;
    if (!a.crystal.Valid()) return a.crystal.error;
    const GaussianTransmission gauss(a.crystal, *request.mu);
    for (std::uint32_t i : measured) numerical.push_back(gauss.Transmission(beams[i]));
    options.expected_tmax = *std::max_element(numerical.begin(), numerical.end());
  }
  a.empirical = RefineEmpiricalAbsorption(data, options);
  if (!a.empirical.Usable()) return "the empirical absorption correction is refused: " + a.empirical.refusal;
  if (!numerical.empty()) a.against_faces = CompareTransmissions(a.empirical.transmission, numerical);

  std::vector<double> transmission(r.reflections.size(), 0.0);
  for (std::size_t k = 0; k < measured.size(); ++k) transmission[measured[k]] = a.empirical.transmission[k];
  for (std::size_t i = 0; i < r.reflections.size(); ++i)
    Divide(r.reflections[i], transmission[i] > 0 ? transmission[i] : a.empirical.TransmissionOf(beams[i]));
  const std::string label = r.table[r.chosen].label;
  r.table[r.chosen] = Merge(*r.laue, KeptObservations(r));
  r.table[r.chosen].label = label;
  return {};
}

void UndoAbsorption(Reduction& r) {
  for (ReducedReflection& x : r.reflections) {
    x.intensity *= x.transmission;
    x.sigma *= x.transmission;
    x.transmission = 1;
  }
  r.absorption = AbsorptionCorrection{};
}

void SummariseAbsorption(Reduction& r) {
  AbsorptionCorrection& a = r.absorption;
  if (a.method == AbsorptionMethod::kNone || !r.laue) return;
  std::vector<Observation> before;
  bool first = true;
  for (const ReducedReflection& x : r.reflections) {
    if (!r.Kept(x)) continue;
    before.push_back({r.Record(x).hkl, x.intensity * x.transmission, x.sigma * x.transmission});
    a.t_min = first ? x.transmission : std::min<double>(a.t_min, x.transmission);
    a.t_max = first ? x.transmission : std::max<double>(a.t_max, x.transmission);
    first = false;
  }
  a.r_int_before = Merge(*r.laue, before).r_int;
  a.r_int_after = r.table[r.chosen].r_int;
}

std::string AbsorptionDetails(const AbsorptionCorrection& a, const AbsorptionRequest& request,
                              const std::string& laue_label) {
  const std::string r_int = Printf("R_int in %s %.4f before, %.4f after", laue_label.c_str(), a.r_int_before,
                                   a.r_int_after);
  switch (a.method) {
    case AbsorptionMethod::kEmpirical: {
      const EmpiricalAbsorption& e = a.empirical;
      std::string text =
          Printf("Empirical (multi-scan) correction by kalvex reduce: ln T is the same sum of real spherical "
                 "harmonics of order 1 to %d (%s orders, %d coefficients) ",
                 e.lmax, e.odd_orders ? "even and odd" : "even", e.coefficients) +
          Printf("of the reversed incident and of the diffracted beam in the crystal's frame, refined by least "
                 "squares against %d comparisons among equivalents, restrained towards a flat surface; ",
                 e.comparisons);
      text += a.against_faces ? "its level set by the largest transmission the faces give; "
                              : "relative transmission, the largest 1; ";
      return text + r_int + ". Blessing, R. H. (1995). Acta Cryst. A51, 33-38.";
    }
    case AbsorptionMethod::kFaces:
      return Printf("Numerical correction from %d indexed faces by kalvex reduce: A = (1/V) Int exp(-mu (t_in + "
                    "t_out)) dV by ",
                    static_cast<int>(request.faces.size())) +
             a.grid + "; " + r_int + ". Busing, W. R. & Levy, H. A. (1957). Acta Cryst. 10, 180-182.";
    case AbsorptionMethod::kSphere:
      return Printf("Spherical crystal of radius %g mm by kalvex reduce, ", request.radius) + a.grid + "; " + r_int +
             ". Dwiggins, C. W. (1975). Acta Cryst. A31, 146-148; International Tables for Crystallography Vol. C, "
             "Table 6.3.3.3.";
    default:
      return {};
  }
}

}  // namespace kalvex::reduce
