// Least squares of the orientation matrix UB and the cell from reflections of
// known indices: unconstrained (LSQ) and constrained to a crystal system (LSVEC).
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "refine/geometry.h"
#include "refine/notices.h"
#include "state/orientation_state.h"
#include "state/preprocessed_list.h"

namespace kalvex {

// The values of the "Unit Cell Refinement" list; 0 = unconstrained.
enum CrystalSystem : int {
  kUnconstrained = 0,
  kMonoclinicB = 1,
  kMonoclinicC = 2,
  kOrthorhombic = 3,
  kTetragonal = 4,
  kHexagonal = 5,
  kCubic = 6,
};

// The name the refinement report gives a system ("" for 0 and unknown values).
std::string_view CrystalSystemName(int system);

// The working cell of the constrained refinement: direct lengths, angle
// cosines and angles (degrees), volume, and the reciprocal cell.
struct WorkingCell {
  CellMetrics direct;
  float alpha = 0, beta = 0, gamma = 0;
  float volume = 0;
  CellMetrics reciprocal;
};

WorkingCell CellFromWorkingUB(const Mat3& ub);

// Bordered normal equations: nine D elements and up to five constraints, and
// the right-hand-side column after the last equation. Row-major, 0-based.
constexpr int kBorderedRows = 15;
constexpr int kBorderedColumns = 16;
using BorderedArray = std::array<std::array<float, kBorderedColumns>, kBorderedRows>;

// Solves the bordered system whose 9 x 9 block the caller has filled, with the
// constraints of `system` built from the (symmetrised) reciprocal cell and
// the right-hand side `rhs`. Returns 0 (solution written, top-left 9 x 9 of
// `a` holding the constrained inverse), 1 (rank too low) or 2 (no such system).
int SolveConstrained(int system, const CellMetrics& reciprocal, const std::array<float, 9>& rhs,
                     BorderedArray& a, std::array<float, 9>& solution, int& free_parameters);

// Unconstrained: UB, B and the cell (and from four reflections on the cell
// ESDs) in `o`. False, with `o` unchanged, for singular normal equations or a
// UB without a cell. `angles` and `hkl` hold the same number of reflections.
bool LSQ(std::span<const Angles> angles, std::span<const Hkl> hkl, float lambda, OrientationState& o,
         Notices& notices);

// Constrained to crystal system 1..6: UB, B, the cell and its ESDs in `o`.
// False, with `o` unchanged, when the refinement cannot be made.
bool LSVEC(int system, std::span<const Angles> angles, std::span<const Hkl> hkl, float lambda,
           OrientationState& o, Notices& notices);


}  // namespace kalvex
