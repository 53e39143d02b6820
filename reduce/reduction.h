// Data reduction of an integrated data set: Lorentz-polarisation and decay
// corrections, direction cosines, merging statistics, and the HKLF 4 and
// CIF contents. Pure: the caller reads the files and refines the
// orientation.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "reduce/cif_writer.h"
#include "reduce/corrections.h"
#include "reduce/hklf4.h"
#include "reduce/records.h"
#include "reduce/symmetry.h"
#include "state/orientation_state.h"
#include "state/run_parameters.h"

namespace kalvex::reduce {

struct ReduceOptions {
  bool lp = true;
  bool decay = true;
  bool cosines = false;
  bool batch_from_scale_groups = false;
  std::optional<LaueClass> laue;  // none: rank every class the cell allows
};

// 2theta, omega, chi, phi as the instrument turned them: the record's values
// with the parameter file's parities taken off again.
std::array<double, 4> InstrumentAngles(const IntensityRecord& r, const std::array<int, 4>& parity);

struct ReducedReflection {
  IntensityRecord record;
  std::array<double, 4> angles{};  // as the instrument turned
  double lp = 1;
  DecayScale decay;
  int scale_group = 1;
  // Integrated intensity and sigma over the decay scale, and those further
  // over Lp: the CIF's net intensity and the HKLF 4 intensity, before the
  // output scale.
  double net = 0, net_sigma = 0;
  double intensity = 0, sigma = 0;
  std::optional<DirectionCosines> cosines;
};

struct Reduction {
  std::vector<ReducedReflection> reflections;  // the accepted records, standards included
  int rejected = 0;                             // records the integration rejected
  DecayModel decay;
  bool decay_applied = false;
  double output_scale = 1;  // multiplies every written intensity and sigma
  int missing_cosines = 0;  // reflections UB could not place
  std::vector<MergingStatistics> table;  // one row for a named class; else every class allowed, best first
};

Reduction Reduce(std::span<const IntensityRecord> records, const RunParameters& params, const OrientationState& o,
                 const ReduceOptions& options);

// The HKLF 4 file: the ordinary reflections, times the output scale, batch 1
// or the scale group, then the end record.
std::vector<std::string> Hklf4File(const Reduction& r, const ReduceOptions& options);

// What the CIF holds, apart from the cell's provenance.
CifContents CifOf(const Reduction& r, const RunParameters& params, const OrientationState& o,
                  const ReduceOptions& options);

}  // namespace kalvex::reduce
