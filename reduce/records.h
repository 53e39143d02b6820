// Records of an integrated-intensity file read back for data reduction:
// "Rfine" and "Rfine extended" carry the setting angles that the cell
// refinement, the Lorentz-polarisation factor and the direction cosines
// need; a "Shelx hkl" file does not and is refused.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace textfile {
class LineSource;
}

namespace kalvex::reduce {

// The integration's four letters: input class, status, reason, attempt.
// Kept in place: a file of a million records holds a million of them.
class ClassCode {
 public:
  ClassCode() = default;
  ClassCode(std::string_view text) { *this = text; }  // implicit: a code is written as its letters
  ClassCode& operator=(std::string_view text) {
    letters_.fill(' ');
    for (std::size_t i = 0; i < text.size() && i < letters_.size(); ++i) letters_[i] = text[i];
    return *this;
  }
  char operator[](std::size_t i) const { return letters_[i]; }
  std::string_view View() const { return {letters_.data(), letters_.size()}; }

 private:
  std::array<char, 4> letters_{' ', ' ', ' ', ' '};
};

struct IntensityRecord {
  std::array<int, 3> hkl{};
  // 2theta, omega, chi, phi as written (F8.3): each already multiplied by
  // its circle's parity.
  std::array<float, 4> angles{};
  double intensity = 0;
  double sigma = 0;
  int seq_no = 0;
  int standard_index = 0;  // 0 for an ordinary reflection
  ClassCode class_code;
  int line_number = 0;

  bool IsStandard() const { return standard_index != 0; }
  // The integration's status letter: 'R' marks a fit it rejected.
  bool Accepted() const { return class_code[1] != 'R' && class_code[1] != ' '; }
};

struct IntensityFileContents {
  std::vector<IntensityRecord> records;
  std::string error;  // empty when every line was read
};

// Reads the lines of an intensity file. The first line that is neither an
// "Rfine" record nor one of the three value lines after an extended record
// ends the reading with a message naming its line; so does a record no
// reduction can use, with the field named: indices 0 0 0, an intensity or
// sigma that is not finite, a negative sigma (or none, on an accepted
// record), a sequence field that is not a whole 10 x sequence + standard,
// and a sequence number met before.
IntensityFileContents ReadIntensityFile(textfile::LineSource& in);

}  // namespace kalvex::reduce
