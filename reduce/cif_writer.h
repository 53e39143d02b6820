// The reduced data set as a CIF of the core dictionary, written a line at a
// time: the measurement loop of a large file is never held as a document.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reduce/absorption.h"
#include "reduce/formula.h"
#include "reduce/records.h"
#include "reduce/symmetry.h"
#include "state/orientation_state.h"

namespace kalvex::reduce {

// Where a file's text goes, a piece at a time.
using TextOut = std::function<void(std::string_view)>;

// A value with its standard uncertainty in the CIF's notation: 8.5001(1),
// 104.512(12); the uncertainty with two digits when they start with 1. An
// uncertainty below 1e-9 of the value (none, or a held parameter's) gives
// the value alone with `decimals` places, trailing zeros dropped.
std::string WithUncertainty(double value, double uncertainty, int decimals);

// A data block's name from a file's: the characters outside A-Z, a-z, 0-9,
// '.', '-' and '_' become '_' (a CIF name holds no blank and no letter
// beyond ASCII), at most 70 of them, "kalvex" for none.
std::string BlockName(std::string_view stem);

struct CifReflection {
  Miller hkl{};
  std::array<double, 4> angles{};  // 2theta, omega, chi, phi (degrees), as the instrument turned
  double intensity = 0, sigma = 0;  // net intensity after the standards' scale, and its uncertainty
  int scale_group = 1;
  int standard = 0;  // the standard's code, 0 for an ordinary reflection
  ClassCode class_code;
};

struct ClassCount {
  ClassCode code;
  int count = 0;
};

struct CifContents {
  std::string block = "kalvex";
  std::string program;  // "kalvex reduce (Win-Kalvex 3.3)"
  std::array<double, 7> cell{}, cell_esd{};  // a, b, c, alpha, beta, gamma, V
  int cell_reflections = 0;
  double cell_theta_min = 0, cell_theta_max = 0;
  std::array<std::array<double, 3>, 3> ub{};
  double wavelength = 0;
  std::string radiation_type = "?";
  std::string monochromator = "?";
  std::optional<double> polarisation_ratio;  // perpendicular over parallel to the monochromator's plane
  double polarisation_norm = 0;              // the dihedral angle, degrees
  std::optional<double> temperature;         // kelvin
  std::string device = "?", source = "?";
  // The space group named or found beyond doubt: its symbol, number and
  // operators; without one a comment gives the reason.
  const gemmi::SpaceGroup* space_group = nullptr;
  std::string space_group_note;
  std::string crystal_system;       // of the class the data merge in; empty when none was found
  // The cell's contents, when the user gives them.
  std::vector<FormulaElement> formula;
  std::optional<double> z;  // formula units in the cell
  std::optional<double> formula_weight, density;  // g/mol, g/cm^3
  // The absorption correction.
  std::string absorption_type = "none";
  std::optional<double> mu;  // 1/mm
  std::optional<double> t_min, t_max;
  std::string absorption_details;
  std::vector<CrystalFace> faces;
  std::optional<std::array<double, 3>> crystal_size;  // max, mid, min, mm
  std::string merging_class;        // the class R_int is of
  int standards_interval = 0;
  std::optional<double> decay_percent;  // none without a decay measurement
  std::vector<std::pair<int, Miller>> standards;  // code and indices
  int reflections_number = 0;
  std::optional<double> r_int;
  double r_sigma = 0;
  Miller h_min{}, h_max{};  // limits of h, k, l
  double theta_min = 0, theta_max = 0, theta_full = 0;
  double fraction_max = 0, fraction_full = 0;
  std::optional<double> friedel_coverage;
  int unique = 0, unique_gt = 0;
  std::string reduction_process;
  int scale_groups = 1;
  std::vector<ClassCount> classes;  // every class code of the loop, with its count
  std::size_t rows = 0;             // rows of the measurement loop
  std::function<CifReflection(std::size_t)> row;  // row i of it
};

void WriteCif(const CifContents& contents, const TextOut& out);

// A formula as the CIF writes it: carbon, then hydrogen, then the rest in
// alphabetical order (all alphabetical without carbon), a count of 1 left
// out: "C12 H10 N2 O".
std::string FormulaSum(std::vector<FormulaElement> formula);

}  // namespace kalvex::reduce
