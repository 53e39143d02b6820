// Records of an integrated-intensity file read back for data reduction:
// "Rfine" and "Rfine extended" carry the setting angles that the cell
// refinement, the Lorentz-polarisation factor and the direction cosines
// need; a "Shelx hkl" file does not and is refused.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace kalvex::reduce {

struct IntensityRecord {
  std::array<int, 3> hkl{};
  // 2theta, omega, chi, phi as written: each already multiplied by its
  // circle's parity.
  std::array<double, 4> angles{};
  double intensity = 0;
  double sigma = 0;
  int seq_no = 0;
  int standard_index = 0;  // 0 for an ordinary reflection
  std::string class_code;  // the four written letters: input class, status, reason, attempt
  int line_number = 0;

  bool IsStandard() const { return standard_index != 0; }
  // The integration's status letter: 'R' marks a fit it rejected.
  bool Accepted() const { return class_code.size() > 1 && class_code[1] != 'R'; }
};

struct IntensityFileContents {
  std::vector<IntensityRecord> records;
  std::string error;  // empty when every line was read
};

// Reads the lines of an intensity file. The first line that is neither an
// "Rfine" record nor one of the three value lines after an extended record
// ends the reading with a message naming its line; "Shelx hkl" records get a
// message of their own.
IntensityFileContents ParseIntensityFile(const std::vector<std::string>& lines);

}  // namespace kalvex::reduce
