// Reduction of an intensity file to a refinement-ready data set: the files
// read, the orientation refined from the records' own angles, the HKLF 4
// file and the CIF written, and a summary for the user. No dialog: the
// batch command and the window's "Reduce to SHELX/CIF..." share it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "reduce/cell_refinement.h"
#include "reduce/reduction.h"
#include "state/orientation_state.h"

namespace kalvex::engine {

// The cell is refined from reflections with I/sigma at least this by default.
constexpr double kDefaultCellThreshold = 20.0;

struct ReductionRequest {
  std::string intensity_file;
  std::string parameter_file;
  std::string hkl_file;  // empty: the intensity file's name with ".hkl"
  std::string cif_file;  // empty: the intensity file's name with ".cif"
  std::string laue;      // empty: rank every Laue class the cell allows
  bool lp = true;
  bool decay = true;
  bool decay_anyway = false;  // correct for decay even when the standards disagree
  bool cosines = false;
  bool batch_from_scale_groups = false;
  int crystal_system = 0;  // CrystalSystem of refine/cell_lsq.h; 0 free
  double cell_threshold = kDefaultCellThreshold;
  // What the run cannot know, for the CIF; "?" there when not given.
  std::optional<double> temperature;  // kelvin
  std::string device, source;
};

struct ReductionOutcome {
  int status = 0;      // 0 written, 1 an input that cannot be reduced, 2 a request that makes no sense
  std::string error;   // with status != 0
  std::vector<std::string> summary;
  std::string hkl_file, cif_file;  // as written
  OrientationState orientation;  // UB and the cell, in the state's single precision
  reduce::CellFit cell;          // the same as refined
  int cell_reflections = 0;
  reduce::Reduction reduction;
};

ReductionOutcome RunReduction(const ReductionRequest& request);

// "monoclinic-b" .. "cubic" as the refinement's crystal system; 0 for "".
// -1 for a name it does not know.
int CrystalSystemFromName(const std::string& name);

}  // namespace kalvex::engine
