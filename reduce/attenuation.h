// The linear attenuation coefficient mu of a crystal from its formula, Z and
// cell volume at the run's wavelength: photoabsorption and the coherent and
// incoherent scattering of each element.
#pragma once

#include <string>

namespace kalvex::reduce {

// Cross-sections of one atom in barn (1e-24 cm^2) at `lambda` (Angstrom).
struct CrossSection {
  double photo = 0;
  double scattering = 0;  // coherent + incoherent
  double Total() const { return photo + scattering; }
};
// Elements 1 to 92; zeros for any other.
CrossSection AtomCrossSection(int z, double lambda);

struct Attenuation {
  double mu = 0;              // 1/mm
  double formula_weight = 0;  // g/mol
  double density = 0;         // g/cm^3
  std::string error;          // empty when mu was computed
};

// mu = (Z / V) sum over the formula (as ParseFormula reads it) of count x
// cross-section, V in Angstrom^3. Refused with the reason for a formula that
// does not read, an element beyond 92, or Z, V or lambda not positive.
Attenuation AttenuationFromFormula(const std::string& formula, double z_units, double cell_volume, double lambda);

}  // namespace kalvex::reduce
