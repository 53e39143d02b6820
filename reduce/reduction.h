// Data reduction of an integrated data set: Lorentz-polarisation and decay
// corrections, the records out of line, the Laue class, direction cosines,
// merging statistics, and the HKLF 4 and CIF contents. Pure: the caller
// reads the files and refines the orientation from the reflections chosen
// here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "reduce/absorption_correction.h"
#include "reduce/cell_refinement.h"
#include "reduce/cif_writer.h"
#include "reduce/corrections.h"
#include "reduce/data_statistics.h"
#include "reduce/hklf4.h"
#include "reduce/records.h"
#include "reduce/symmetry.h"
#include "state/orientation_state.h"
#include "state/run_parameters.h"

namespace kalvex::reduce {

struct ReduceOptions {
  bool lp = true;
  bool decay = true;
  bool decay_anyway = false;  // correct even when the standards disagree
  bool cosines = false;
  bool batch_from_scale_groups = false;
  std::optional<LaueClass> laue;  // none: rank every class the cell allows
};

// 2theta, omega, chi, phi as the instrument turned them: the record's values
// with the parameter file's parities taken off again.
std::array<double, 4> InstrumentAngles(const IntensityRecord& r, const std::array<int, 4>& parity);

// The Lp factors a reduction divides by: beyond these the correction would
// multiply an intensity by more than a hundred or a thousand.
constexpr double kLpLeast = 0.01;
constexpr double kLpMost = 1000.0;

// Why the records cannot be reduced with these parameters, naming the line
// and field: a 2theta (as the instrument turned) outside (0, 180) degrees,
// or an accepted record's Lp outside [kLpLeast, kLpMost]. Empty when they can.
std::string CheckGeometry(std::span<const IntensityRecord> records, const RunParameters& params,
                          const ReduceOptions& options);

// Why a reflection is left out as out of line.
enum class OutOfLine : std::uint8_t {
  kNo,
  // |I| more than kOutlierSize times the median |I| + median sigma, or I/sigma
  // more than kOutlierPrecision times max(median I/sigma, 3), of its shell of
  // kShell reflections neighbouring in 2theta.
  kNeighbours,
  // In a group of three or more equivalents: more than kOutlierSigmas
  // combined sigmas and more than kOutlierFraction of the median away from
  // the group's median.
  kEquivalents,
};
constexpr int kShell = 200;
constexpr double kOutlierSize = 1000.0;
constexpr double kOutlierPrecision = 100.0;
constexpr double kOutlierSigmas = 10.0;
constexpr double kOutlierFraction = 0.5;

struct ReducedReflection {
  std::uint32_t record = 0;  // index in Reduction::records
  float lp = 1;
  DecayScale decay;
  int scale_group = 1;
  OutOfLine out_of_line = OutOfLine::kNo;
  // Integrated intensity and sigma over the decay scale, and those further
  // over Lp and the transmission: the CIF's net intensity and the HKLF 4
  // intensity, before the output scale.
  double net = 0, net_sigma = 0;
  double intensity = 0, sigma = 0;
  double transmission = 1;  // the absorption correction's A, 1 without one
};

struct Reduction {
  std::vector<IntensityRecord> records;        // every record read
  std::vector<ReducedReflection> reflections;  // the accepted records, standards included
  int rejected = 0;                            // records the integration rejected
  DecayModel decay;
  bool decay_applied = false;
  std::string decay_refusal;  // why the decay was not corrected, when it was asked for
  int out_of_line[3] = {0, 0, 0};  // by OutOfLine
  std::vector<MergingStatistics> table;  // one row for a named class; else every class allowed, best first
  std::size_t chosen = 0;                // the row the data merge in
  bool no_symmetry = false;              // no class beyond -1 merged well enough
  std::optional<LaueClass> laue;         // the class of that row
  CentringCheck centring;                // of a named centred space group
  double output_scale = 1;               // multiplies every written intensity and sigma
  std::vector<std::optional<DirectionCosines>> cosines;  // with --cosines, one a reflection
  int missing_cosines = 0;                                // reflections UB could not place
  AbsorptionCorrection absorption;
  DataStatistics statistics;  // of the kept reflections once corrected, in the class they merge in

  const IntensityRecord& Record(const ReducedReflection& x) const { return records[x.record]; }
  // An ordinary reflection that goes to the HKLF 4 file and the merging.
  bool Kept(const ReducedReflection& x) const { return !Record(x).IsStandard() && x.out_of_line == OutOfLine::kNo; }
};

// Lp, the decay model and its correction, and the neighbours rule. The
// decay is not applied (decay_refusal says why) with fewer than two rounds
// or when a standard leaves the others of its round, unless decay_anyway.
Reduction Correct(std::vector<IntensityRecord> records, const RunParameters& params, const ReduceOptions& options);

// The kept ordinary reflections as observations (I and sigma as corrected).
std::vector<Observation> KeptObservations(const Reduction& r);

// The kept ordinary reflections whose integrated I/sigma reaches `threshold`,
// one of each unique reflection of `laue` (the one of highest I/sigma),
// as indices in r.reflections: what the cell is refined from.
std::vector<std::uint32_t> CellReflections(const Reduction& r, double threshold, const LaueClass& laue);

// The Laue class: the one named (refused, with the reason, when the cell's
// metric does not allow it or its centring is contradicted), or the best of
// the ranking over the classes `cell` allows. Then the equivalents rule, and
// the merging statistics without what it left out. Empty when accepted.
std::string ChooseLaueClass(Reduction& r, const CellVector& cell, const CellVector& esd, const ReduceOptions& options);

// Direction cosines (with --cosines) and the output scale: one factor for
// both files, fitted to the HKLF 4 fields of the kept reflections.
void Finish(Reduction& r, const OrientationState& o, const RunParameters& params, const ReduceOptions& options);

// The HKLF 4 file: the kept reflections, times the output scale, batch 1 or
// the scale group, then the end record.
void WriteHklf4(const Reduction& r, const ReduceOptions& options, const TextOut& out);

// What the CIF holds, apart from the cell's provenance and what the user
// tells (temperature, device, source). Its rows refer to `r`.
CifContents CifOf(const Reduction& r, const RunParameters& params, const CellFit& cell,
                  const ReduceOptions& options);

}  // namespace kalvex::reduce
