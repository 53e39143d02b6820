// Writes a simulated data set as an "Xcalibur Ascii" scan file (*.dca), in
// the line layout the program's Xcalibur reader takes apart.
#include <cmath>
#include <fstream>
#include <numbers>

#include "common/fixed_fields.h"
#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
namespace {

using fields::FormatInt;
using fields::FormatReal;

// An 80-column line starting with `kind`; Put places text from a 1-based column.
struct Line {
  explicit Line(char kind) : text(80, ' ') { text[0] = kind; }
  Line& Put(int column, const std::string& value) {
    if (text.size() < column - 1 + value.size()) text.resize(column - 1 + value.size(), ' ');
    text.replace(column - 1, value.size(), value);
    return *this;
  }
  std::string Text() const { return std::string(fields::TrimRight(text)); }
  std::string text;
};

}  // namespace

bool WriteXcalibur(const DataSet& data, const std::filesystem::path& path, std::string& error) {
  const Instrument& instrument = data.instrument;
  const ScanSettings& scan = data.scan;
  // The reader sets iratio 0.5 and two wavelengths from every header.
  if (instrument.n_wavelengths == 2 && instrument.lambda2 >= 0.1 && std::abs(instrument.iratio - 0.5) > 1e-9) {
    error = "Xcalibur files imply an alpha2 : alpha1 ratio of 0.5";
    return false;
  }
  if (data.standards.size() > 99) {
    error = "Xcalibur header holds at most 99 standards";
    return false;
  }
  for (const SimReflection& r : data.reflections) {
    // Columns 2-6 hold the sequence number, negative for a standard.
    if ((r.standard_index > 0 ? -r.seq : r.seq) < -9999 || r.seq > 99999) {
      error = "reflection " + std::to_string(r.seq) + ": its sequence number does not fit the Xcalibur columns";
      return false;
    }
  }
  std::ofstream out(path);
  if (!out) return CannotWrite(path, error);
  auto line = [&out](const Line& l) { out << l.Text() << '\n'; };

  line(Line('C').Put(3, "Simulated Xcalibur step scans: " + data.title));
  line(Line('G').Put(3, "omega scans, counts per step"));
  // "sc s" at column 3: speed in columns 8-16; "sc w" at column 20: A, B in
  // columns 26-32, 33-39 and C in 40-48.
  line(Line('I')
           .Put(3, "sc s")
           .Put(8, FormatReal(scan.scan_speed, 9, 5))
           .Put(20, "sc w")
           .Put(26, FormatReal(scan.width_a, 7, 4))
           .Put(33, FormatReal(scan.width_b, 7, 4))
           .Put(40, FormatReal(scan.divisor, 9, 6)));
  line(Line('P').Put(3, "detector scan parameters"));
  line(Line('P').Put(3, "default number of steps").Put(56, FormatInt(scan.steps, 3)));
  line(Line('P').Put(3, "wavelengths").Put(31, FormatReal(instrument.lambda1, 15, 6)).Put(46, FormatReal(instrument.lambda2, 15, 6)));
  for (int i = 1; i <= 5; ++i) line(Line('P').Put(3, "instrument record " + std::to_string(i)));
  const int standard_steps = data.standards.empty() ? scan.standard_steps : data.standards.front().step_count;
  line(Line('P').Put(3, "standards").Put(29, FormatInt(static_cast<long long>(data.standards.size()), 2)).Put(39, FormatInt(standard_steps, 3)));
  for (const Standard& s : data.standards) {
    line(Line('P')
             .Put(3, "standard")
             .Put(33, FormatInt(s.hkl[0], 4))
             .Put(37, FormatInt(s.hkl[1], 4))
             .Put(41, FormatInt(s.hkl[2], 4))
             .Put(50, FormatReal(s.step_time, 6, 2)));
  }
  line(Line('C').Put(3, "reflections follow"));

  const double kDeg = std::numbers::pi / 180.0;
  for (const SimReflection& r : data.reflections) {
    const bool standard = r.standard_index > 0;
    // Standards carry a negative sequence number on an 'R' line.
    Line head(standard ? 'R' : '#');
    head.Put(2, FormatInt(standard ? -r.seq : r.seq, 5))
        .Put(10, FormatInt(r.hkl[0], 5))
        .Put(15, FormatInt(r.hkl[1], 5))
        .Put(20, FormatInt(r.hkl[2], 5))
        .Put(38, standard ? "ST" : ClassCode(r.cls));
    if (!standard) head.Put(64, FormatReal(r.speed_factor, 6, 4));
    line(head);
    line(Line('Z').Put(3, "profile record 1"));
    line(Line('Z').Put(3, "profile record 2"));
    // The file's 2theta is the one before the reader's division by C, and
    // its omega is the scan's end: omega_centre + theta + width / 2.
    const double sin_theta = std::sin(r.angles.two_theta / 2.0 * kDeg) * scan.divisor;
    const double file_two_theta = 2.0 * std::asin(sin_theta) / kDeg;
    const double file_omega = r.omega_centre + r.angles.two_theta / 2.0 + r.scan_width / 2.0;
    line(Line('E')
             .Put(2, FormatReal(file_omega, 10, 5))
             .Put(12, FormatReal(file_two_theta, 10, 5))
             .Put(22, FormatReal(r.angles.chi, 10, 5))
             .Put(32, FormatReal(r.angles.phi, 10, 5)));
    line(Line('Y').Put(3, "positions"));
    for (int first = 0; first < r.step_count; first += 8) {
      Line counts('S');
      for (int j = 0; j < 8 && first + j < r.step_count; ++j) counts.Put(2 + 9 * j, FormatInt(r.counts[first + j], 9));
      line(counts);
    }
  }
  out.flush();
  if (!out) return CannotWrite(path, error);
  return true;
}

}  // namespace kalvex::simulate
