// Instrument constants and fitting settings of the run.
#pragma once

#include <array>

namespace kalvex {

// Profile-parameter index, 1-based as the parameter file and the dialogs
// number them; tables of seven use index 7 for Rwp.
constexpr int kBackground = 1;
constexpr int kFwhm = 2;
constexpr int kIntensity = 3;
constexpr int kPosition = 4;
constexpr int kEta = 5;
constexpr int kIratio = 6;
constexpr int kRwp = 7;
constexpr int kProfileParameters = 6;

// input_format values.
constexpr int kFormatCad4 = 1;
constexpr int kFormatSingle = 2;
constexpr int kFormatXcalibur = 3;
constexpr int kFormatXscans = 4;

// output_format values.
constexpr int kOutputRfine = 0;
constexpr int kOutputRfineExtended = 1;
constexpr int kOutputShelx = 2;

// bg_type values.
constexpr int kBgNone = 0;
constexpr int kBgSpline = 1;
constexpr int kBgExp = 2;
constexpr int kBgFromScan = 3;

// Coefficient columns of pdef.
constexpr int kCoefA = 0;
constexpr int kCoefB = 1;
constexpr int kCoefC = 2;

struct RunParameters {
  int input_format = 0;
  int output_format = 0;
  int n_wavelengths = 0;
  float lambda1 = 0, lambda2 = 0;
  float iratio = 0;
  float atten = 0;
  float rc = 0, rs = 0;
  std::array<int, 4> parity{};
  int mono_flag = 0;
  float mono_2theta = 0;
  float dihedral = 0;
  int mono_orient = 0;
  float mono_shift = 0;
  int bg_type = 0;
  int nstep_bg = 0;
  // Indexed [k][coefficient] with k the 1-based profile-parameter index
  // (row 0 unused), so that pdef[kFwhm][kCoefA] reads as it is named.
  std::array<std::array<float, 3>, 7> pdef{};
  std::array<float, 7> low{};   // [1..6]
  std::array<float, 7> high{};  // [1..6]
  float rwp_max = 0;
  std::array<int, 7> refine_flag{};  // [1..6]
  std::array<int, 8> check_flag{};   // [1..7], 7 = Rwp
};

// The monochromator angle difference between the two wavelengths, degrees.
float MonoShift(float mono_2theta, int mono_orient, float lambda1, float lambda2);

}  // namespace kalvex
