// Reduction of an intensity file to a refinement-ready data set: the files
// read, the orientation refined from the records' own angles, the HKLF 4
// file and the CIF written, and a summary for the user. No dialog: the
// batch command and the window's "Reduce to SHELX/CIF..." share it.
#pragma once

#include <functional>
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
  // The cell's contents: the Wilson plot's atoms, mu, the CIF's formula and
  // the .ins's SFAC and UNIT. A formula goes with Z.
  std::string formula;
  double z = 0;
  // A space-group symbol: the group of the CIF and the .ins, whatever the
  // absences say; its Laue class is the merging's (with --laue, the same).
  std::string space_group;
  std::string ins_file;  // a SHELX instruction file beside the HKLF 4 file; empty for none
  int shells = 10;          // of the statistics against resolution
  double theta_full = 0;    // degrees; 0: up to where the completeness stays 0.95
  // The absorption correction: the method and what it needs (mu, or the
  // formula and Z for it).
  reduce::AbsorptionMethod absorption = reduce::AbsorptionMethod::kNone;
  int lmax = 4;
  std::string faces_file;
  std::optional<double> mu;  // 1/mm
  double radius = 0;         // mm, of a sphere
  // The reduction report: written with the other outputs, its page made by
  // the caller (the report is drawn above this room) from the reduction.
  std::string report_file;
  std::function<std::string(const reduce::Reduction&)> report_page;
};

struct ReductionOutcome {
  int status = 0;      // 0 written, 1 an input that cannot be reduced, 2 a request that makes no sense
  std::string error;   // with status != 0
  std::vector<std::string> summary;
  std::string hkl_file, cif_file, ins_file, report_file;  // as written; the last two empty when not asked for
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
