// The two beams of a measurement in the crystal's frame: what the absorption
// corrections and the direction cosines are computed from.
#pragma once

#include <array>
#include <optional>

#include "common/linear_algebra.h"

namespace kalvex::reduce {

using Direction = std::array<double, 3>;

// Unit vectors in the phi-axis frame (the Cartesian frame of UB h, which
// turns with the crystal): the reversed incident beam, pointing from the
// crystal back towards the source, and the diffracted beam. Their sum is
// lambda UB h.
struct BeamPair {
  Direction reversed_incident{};
  Direction diffracted{};
};

// The beams of reflection `hkl` measured at the setting angles `angles`
// (2theta, omega, chi, phi in degrees, as the instrument turned them:
// parities undone; omega from the bisecting position). The diffraction
// vector is taken from UB h, so that the beams meet the Laue condition
// exactly; the plane of diffraction from the angles, whose omega axis is
// normal to it. The incident beam travels along +y of the frame in which the
// diffraction vector lies along +x (Busing and Levy's axes). nullopt when UB h
// is no diffraction vector for `lambda`.
std::optional<BeamPair> BeamsInCrystal(const Mat3& ub, const std::array<int, 3>& hkl,
                                       const std::array<double, 4>& angles, double lambda);

// The cosines of the two beams against the unit reciprocal axes a*, b*, c*
// (the columns of UB), in the order of the HKLF 4 record: incident a*,
// diffracted a*, incident b*, ...
std::array<double, 6> CosinesOnReciprocalAxes(const BeamPair& beams, const Mat3& ub);

}  // namespace kalvex::reduce
