// The absorption correction of a reduction: the method the user chose,
// applied to the accepted measurements, and what the summary, the CIF and
// the report show of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/linear_algebra.h"
#include "reduce/absorption.h"
#include "reduce/empirical_absorption.h"
#include "reduce/symmetry.h"
#include "state/run_parameters.h"

namespace kalvex::reduce {

struct Reduction;

enum class AbsorptionMethod { kNone, kEmpirical, kFaces, kSphere };

// "none", "empirical", "faces", "sphere"; nullopt for anything else.
std::optional<AbsorptionMethod> AbsorptionMethodNamed(std::string_view name);
// The CIF's _exptl_absorpt_correction_type of a method.
const char* CorrectionType(AbsorptionMethod method);

struct AbsorptionRequest {
  AbsorptionMethod method = AbsorptionMethod::kNone;
  int lmax = 4;                    // of the empirical surface
  std::vector<CrystalFace> faces;  // the crystal's faces, when known
  std::optional<double> mu;        // 1/mm
  double radius = 0;               // mm, of the sphere
};

struct AbsorptionCorrection {
  AbsorptionMethod method = AbsorptionMethod::kNone;
  std::optional<double> mu;  // 1/mm
  CrystalShape crystal;      // from the faces, when given
  bool has_crystal = false;
  EmpiricalAbsorption empirical;  // the surface of the empirical method
  // Over the kept ordinary reflections: the transmission's extremes
  // (relative, the largest 1, for the empirical surface unless the faces
  // and mu give its level), and R_int in the class the data merge in
  // before and after the correction.
  double t_min = 1, t_max = 1;
  double r_int_before = 0, r_int_after = 0;
  // The empirical transmission against the faces' numerical one, after one
  // scale, when both are known.
  std::optional<TransmissionComparison> against_faces;
  std::string grid;  // how the numerical transmission was integrated
};

// The crystal the faces bound (with UB giving their normals), refused with
// the face named; checked before anything is corrected.
CrystalShape CrystalOfFaces(const AbsorptionRequest& request, const Mat3& ub);

// The numerical methods (faces, sphere): each accepted measurement's
// transmission A from its beams under `ub`, its intensity and sigma divided
// by A. They need no symmetry, so they come before the Laue class is
// chosen. Empty when done, else why not (the record's line named).
std::string CorrectNumerically(Reduction& r, const AbsorptionRequest& request, const Mat3& ub,
                               const RunParameters& params);

// The empirical method in the Laue class the data merge in (r.laue): the
// surface refined against the kept ordinary reflections and the standards
// (each standard's measurements one set), then every accepted measurement
// divided by its transmission. With faces and mu the numerical
// transmission of the same measurements is compared with it and gives the
// surface its level. Empty when done, else the refusal.
std::string CorrectEmpirically(Reduction& r, const AbsorptionRequest& request, const Mat3& ub,
                               const RunParameters& params);

// Every measurement as it was before the correction.
void UndoAbsorption(Reduction& r);

// Tmin, Tmax and R_int before and after, once the data merge in r.laue and
// its merging statistics are of the corrected data.
void SummariseAbsorption(Reduction& r);

// _exptl_absorpt_process_details: the method, its parameters and its reference.
std::string AbsorptionDetails(const AbsorptionCorrection& a, const AbsorptionRequest& request,
                              const std::string& laue_label);

}  // namespace kalvex::reduce
