// The contents of the cell from a chemical formula: the elements and counts
// the Wilson plot scatters with and the solver's SFAC and UNIT lines name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalvex::reduce {

struct FormulaElement {
  std::string symbol;  // as the periodic table spells it: "C", "Cl"
  double count = 0;    // atoms per formula unit
};

// "C12H10N2O", "C12 H10 N2 O", "CL2 CU": a word of capitals and a count
// that names one element is that element, as SHELX writes them ("CO" is
// cobalt, "CH4" carbon and hydrogen); otherwise each capital starts an
// element. An element named twice is counted once with the sum. Empty,
// with `error` set, when a name is no element or nothing is left.
std::vector<FormulaElement> ParseFormula(std::string_view text, std::string& error);

}  // namespace kalvex::reduce
