// Writes a simulated data set as an Enraf CAD4 scan file, the inverse of
// the program's CAD4 reader: header records, then ten-line blocks.
//
// The format fixes what the data set cannot choose: every scan has 96 steps
// spanning the written width with 95 intervals, the Euler setting is written
// as kappa angles, and the speed code n carries the class (Cad4SpeedCode),
// from which the program takes each scan's time and scale. The scales read
// back are the data set's only when it was made with CAD4 timing
// (ScanTiming::kCad4SpeedCode). The written centre is half a step below the
// data set's, so that the step centres the program derives are the
// simulated ones.
#include <cmath>
#include <fstream>
#include <string>

#include "common/fixed_fields.h"
#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
namespace {

constexpr int kCad4Steps = 96;
constexpr double kDeg = 0.017453292519943295;
constexpr double kSin50 = 0.76604;  // the kappa arm's angle as the program takes it

// Flags: 1 'I' a standard, 4 'W' an LT reflection.
std::string Flags(ReflectionClass cls) {
  std::string flags = "      ";
  if (cls == ReflectionClass::kStandard) flags[0] = 'I';
  if (cls == ReflectionClass::kLessThan) flags[3] = 'W';
  return flags;
}

std::string LineStart(int type, int seq) { return " " + fields::FormatInt(type, 2) + fields::FormatInt(seq, 6); }

// The counts of lines 3-10: four groups of three I4 separated by a blank.
std::string CountLine(const SimReflection& r, int type) {
  std::string line = LineStart(type, r.seq) + " ";
  for (int j = 0; j < 12; ++j) {
    if (j > 0 && j % 3 == 0) line += " ";
    line += fields::FormatInt(r.counts[12 * (type - 3) + j], 4);
  }
  return line;
}

bool Fits(const DataSet& data, std::string& error) {
  if (data.standards.size() > 10) {
    error = "CAD4 files hold at most 10 standards";
    return false;
  }
  for (const SimReflection& r : data.reflections) {
    if (r.step_count != kCad4Steps || static_cast<int>(r.counts.size()) != kCad4Steps) {
      error = "CAD4 scans have 96 steps; reflection " + std::to_string(r.seq) + " has " + std::to_string(r.step_count);
      return false;
    }
    for (long long c : r.counts) {
      if (c < 0 || c > 9999) {
        error = "CAD4 counts are I4; reflection " + std::to_string(r.seq) + " has " + std::to_string(c);
        return false;
      }
    }
    if (std::abs(std::sin(r.angles.chi / 2.0 * kDeg)) > kSin50) {
      error = "chi beyond the kappa arm's reach for reflection " + std::to_string(r.seq);
      return false;
    }
  }
  return true;
}

void WriteHeader(const DataSet& data, std::ofstream& out) {
  out << fields::Blanks(9) << fields::Fixed(data.title, 28) << '\n';
  out << " 32" << fields::Blanks(31) << RealInWidth(data.instrument.lambda1, 9, 5)
      << RealInWidth(data.instrument.lambda2, 9, 5) << RealInWidth(data.instrument.atten, 9, 3) << '\n';
  out << " 22" << fields::Blanks(46) << fields::FormatInt(kCad4StrongSpeedCode, 2)
      << fields::FormatInt(kCad4MaxScanTime, 4) << '\n';
  if (!data.standards.empty()) {
    out << " 27" << '\n';
    for (const Standard& s : data.standards) {
      out << "  0  " << fields::FormatInt(s.hkl[0], 3) << fields::FormatInt(s.hkl[1], 3) << fields::FormatInt(s.hkl[2], 3)
          << '\n';
    }
    out << " 28" << '\n';  // ends the list; the reader passes it over unread
  }
}

void WriteBlock(const SimReflection& r, std::ofstream& out) {
  const std::string width_text = RealInWidth(r.scan_width * 95.0 / 96.0, 7, 5);
  const double width = AsRead(width_text);
  const double step = width / 95.0;
  const double theta = r.angles.two_theta / 2.0;
  const std::string theta_text = RealInWidth(theta, 8, 5);

  // Euler to kappa: the inverse of the reader's ANGLE_CONVERT.
  const double s = std::sin(r.angles.chi / 2.0 * kDeg) / kSin50;
  const double kappa = 2.0 * std::asin(s) / kDeg;
  const double ratio = std::cos(kappa / 2.0 * kDeg) / std::cos(r.angles.chi / 2.0 * kDeg);
  double delta = std::acos(std::fmin(ratio, 1.0)) / kDeg;
  if (s < 0.0) delta = -delta;
  const double omega = r.omega_centre - step / 2.0 - delta + AsRead(theta_text);
  const double phi = r.angles.phi - delta;

  const ReflectionClass cls = r.standard_index > 0 ? ReflectionClass::kStandard : r.cls;
  out << LineStart(1, r.seq) << fields::FormatInt(r.hkl[0], 5) << fields::FormatInt(r.hkl[1], 5)
      << fields::FormatInt(r.hkl[2], 5) << " " << Flags(cls) << fields::Blanks(7)
      << fields::FormatInt(Cad4SpeedCode(cls, width), 4) << '\n';
  out << LineStart(2, r.seq) << theta_text << RealInWidth(phi, 9, 4) << RealInWidth(omega, 9, 4)
      << RealInWidth(kappa, 9, 4) << width_text << '\n';
  for (int type = 3; type <= 10; ++type) out << CountLine(r, type) << '\n';
}

}  // namespace

bool WriteCad4(const DataSet& data, const std::filesystem::path& path, std::string& error) {
  if (!Fits(data, error)) return false;
  std::ofstream out(path);
  if (!out) return CannotWrite(path, error);
  WriteHeader(data, out);
  for (const SimReflection& r : data.reflections) WriteBlock(r, out);
  out.flush();
  if (!out) return CannotWrite(path, error);
  return true;
}

}  // namespace kalvex::simulate
