// SHELX HKLF 4 records and the direction cosines they can carry.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/linear_algebra.h"

namespace kalvex::reduce {

// Direction cosines in the order of the HKLF 4 record: the reversed incident
// beam and the diffracted beam, each against a*, then b*, then c* (unit
// reciprocal axes).
using DirectionCosines = std::array<double, 6>;

// The beams of reflection `hkl` in the crystal's frame: the diffraction
// vector from UB h (so that the two beams add up to lambda UB h exactly),
// the plane of diffraction from the setting angles (2theta, omega, chi, phi,
// degrees, as the instrument turned: parities undone), whose omega axis is
// normal to it. The incident beam travels along +y of the frame in which
// the diffraction vector lies along +x (Busing and Levy's axes). nullopt
// when UB h is no diffraction vector for `lambda`.
std::optional<DirectionCosines> BeamCosines(const Mat3& ub, const std::array<int, 3>& hkl,
                                            const std::array<double, 4>& angles, double lambda);

// The largest factor 1, 2 or 5 times a power of ten that brings every
// intensity and sigma into F8.2 (at most 99999.99, at least -9999.99).
double OutputScale(std::span<const double> intensities, std::span<const double> sigmas);

// A value in an F8.2 field with as many decimals (1 to 5) as the field holds
// with a blank before it, else as F8.2 fills it: a reader of F8.2 honours
// an explicit decimal point, so a weak reflection keeps its digits.
std::string WideF8(double value);

// One HKLF 4 record, 3I4, I and sigma each as WideF8, I4, and with cosines
// 6F8.5 after it.
std::string Hklf4Line(const std::array<int, 3>& hkl, double intensity, double sigma, int batch,
                      const DirectionCosines* cosines);

// The record that ends the file: h = k = l = 0.
std::string Hklf4End();

}  // namespace kalvex::reduce
