// The structure solver's instruction file beside the HKLF 4 reflections:
// the cell, the space group's operators in SHELX's conventions, the cell's
// contents and the reflection format.
#pragma once

#include <string>
#include <vector>

#include "reduce/formula.h"
#include "state/orientation_state.h"

namespace gemmi {
struct SpaceGroup;
}

namespace kalvex::reduce {

struct InsContents {
  std::string title;
  double wavelength = 0;  // A
  CellVector cell{}, cell_esd{};
  int z = 1;  // formula units in the cell
  const gemmi::SpaceGroup* group = nullptr;
  std::vector<FormulaElement> formula;  // empty: carbon, one atom per 18 A^3
};

// TITL, CELL, ZERR, LATT, SYMM, SFAC, UNIT, HKLF 4, END. LATT gives the
// centring (1 P, 2 I, 3 R obverse, 4 F, 5 A, 6 B, 7 C), positive when the
// group has a centre of symmetry at the origin; SYMM lists the operators
// besides the identity that the centring and that centre do not make.
// Empty without a group.
std::vector<std::string> InsFile(const InsContents& contents);

}  // namespace kalvex::reduce
