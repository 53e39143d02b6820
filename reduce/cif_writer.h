// The reduced data set as a CIF, written with gemmi's CIF document.
#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "reduce/symmetry.h"
#include "state/orientation_state.h"

namespace kalvex::reduce {

// A value with its standard uncertainty in the CIF's notation: 8.5001(1),
// 104.512(12); the uncertainty with two digits when they start with 1. An
// uncertainty below 1e-7 of the value (none, or a held parameter's) gives
// the value alone with `decimals` places, trailing zeros dropped.
std::string WithUncertainty(double value, double uncertainty, int decimals);

struct CifReflection {
  Miller hkl{};
  std::array<double, 4> angles{};  // 2theta, omega, chi, phi (degrees)
  double intensity = 0, sigma = 0;
  int scale_group = 1;
  int standard = 0;  // the standard's code, 0 for an ordinary reflection
  std::string class_code;
};

struct CifContents {
  std::string block = "kalvex";
  CellVector cell{}, cell_esd{};
  int cell_reflections = 0;
  double cell_theta_min = 0, cell_theta_max = 0;
  double wavelength = 0;
  const LaueClass* laue = nullptr;  // the class or space group named, if any
  int standards_interval = 0;
  std::optional<double> decay_percent;  // none without a decay measurement
  std::vector<std::pair<int, Miller>> standards;  // code and indices
  int reflections_number = 0;
  std::optional<double> r_int;
  double r_sigma = 0;
  Miller h_min{}, h_max{};  // limits of h, k, l
  double theta_min = 0, theta_max = 0;
  std::string reduction_process;
  std::vector<CifReflection> reflections;
};

void WriteCif(const CifContents& contents, std::ostream& out);

}  // namespace kalvex::reduce
