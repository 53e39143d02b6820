// Angle conversions. The program has always used two roundings of degrees per
// radian: the profile fit, the readers and the parameter file the finer one,
// the diffractometer geometry and the cell routines the coarser. Results,
// written records and the refinement report depend on which is used where, so
// both are kept, each named for its place.
#pragma once

namespace kalvex {

// Profile fit, readers, parameter file, start values.
constexpr float kDegPerRadScan = 57.29578f;
// Diffractometer geometry, cell and orientation least squares.
constexpr float kDegPerRadGeometry = 57.2958f;
// Radians per degree wherever angles are multiplied rather than divided.
constexpr float kRadPerDeg = 0.01745329f;
// The crystal-offset fit's own, finer value.
constexpr float kRadPerDegOffsets = 0.017453292f;
// Half of kRadPerDeg in double, for tan(theta) from 2theta in the FWHM line.
constexpr double kHalfRadPerDeg = 0.008726646;

}  // namespace kalvex
