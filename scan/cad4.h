// Enraf CAD4 scan files: the conversion of the kappa setting angles to Euler angles.
#pragma once

namespace kalvex {

// Setting angles as a CAD4 block gives them (degrees).
struct KappaAngles {
  float theta = 0, phi = 0, omega = 0, kappa = 0;
};

// The same setting as the record holds it; omega_centre is omega - theta.
struct EulerAngles {
  float two_theta = 0, omega_centre = 0, chi = 0, phi = 0;
};

// Kappa to Euler for the 50-degree kappa arm. Returns 0, or 11 when the
// cosine ratio leaves [-1.001, 1.001] (the reader fails with "OVERFLOW IN ANGLE_CONVERT").
int ANGLE_CONVERT(const KappaAngles& kappa, EulerAngles& euler);

}  // namespace kalvex
