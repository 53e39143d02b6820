// Writes a simulated data set as an Xscans scan file, the inverse of the
// program's Xscans reader: keyword header, then per reflection one line and
// its counts in the letter encoding.
//
// Every scan has the header's step count, and the reader spreads the written
// width over step_count - 1 intervals: the width written is the data set's
// times (N - 1) / N and the centre half a step lower, so the step centres
// the program derives are the simulated ones. The scan speed carries the
// scale of ordinary reflections (attenuated ones get atten on reading);
// standards read back with scale 1, and their speed gives their step time.
// Counts are packed without blanks into 80-column lines, so a count may run
// on into the next line.
#include <cmath>
#include <fstream>
#include <string>

#include "common/fixed_fields.h"
#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
namespace {

constexpr int kCountColumns = 80;
constexpr char kTerminators[] = "0123456789`~!@#$%^&*()-_=+|\\[{]};:'\",<.>/?";

// A count as letters (base 52, most significant first) and one terminator.
std::string EncodeCount(long long count) {
  std::string letters;
  for (long long run = count / 42; run > 0; run /= 52) {
    const int digit = static_cast<int>(run % 52);
    letters.insert(letters.begin(), static_cast<char>(digit < 26 ? 'A' + digit : 'a' + digit - 26));
  }
  return letters + kTerminators[count % 42];
}

bool Fits(const DataSet& data, std::string& error) {
  if (data.standards.size() > 10) {
    error = "Xscans headers hold at most 10 standards";
    return false;
  }
  if (data.reflections.empty()) return true;
  const int steps = data.reflections.front().step_count;
  if (steps < 2 || steps > 200) {
    error = "Xscans scans need 2 to 200 steps";
    return false;
  }
  for (const SimReflection& r : data.reflections) {
    const std::string name = "reflection " + std::to_string(r.seq);
    if (r.step_count != steps || static_cast<int>(r.counts.size()) != steps) {
      error = "Xscans files have one step count; " + name + " differs";
      return false;
    }
    if (r.seq > 99999) {
      error = name + ": sequence numbers are I6 after a blank";
      return false;
    }
    for (long long c : r.counts) {
      if (c < 0) {
        error = name + ": negative count";
        return false;
      }
    }
  }
  return true;
}

void WriteHeader(const DataSet& data, int steps, std::ofstream& out) {
  out << "TITLE " << fields::Fixed(data.title, 60) << '\n';
  out << "CHECKR" << fields::FormatInt(static_cast<long long>(data.standards.size()), 4) << fields::Blanks(28)
      << fields::FormatInt(steps, 3) << '\n';
  for (std::size_t k = 0; k < data.standards.size(); ++k) {
    const Hkl& hkl = data.standards[k].hkl;
    out << "CHECKN" << fields::FormatInt(static_cast<long long>(k + 1), 6) << fields::FormatInt(hkl[0], 4)
        << fields::FormatInt(hkl[1], 4) << fields::FormatInt(hkl[2], 4) << '\n';
  }
  out << "SOURCE" << fields::Blanks(18) << RealInWidth(data.instrument.lambda1, 7, 5) << fields::Blanks(3)
      << RealInWidth(data.instrument.lambda2, 7, 5) << '\n';
  out << "DETECT" << fields::Blanks(40) << RealInWidth(data.instrument.atten, 6, 3) << '\n';
  out << "DATA" << '\n';
}

void WriteReflection(const DataSet& data, const SimReflection& r, std::ofstream& out) {
  const int n = r.step_count;
  const bool standard = r.cls == ReflectionClass::kStandard;
  const bool filtered = r.cls == ReflectionClass::kFiltered;
  const std::string width_text = RealInWidth((filtered ? -1.0 : 1.0) * r.scan_width * (n - 1) / n, 5, 3);
  const double step = std::abs(AsRead(width_text)) / (n - 1);
  const std::string two_theta_text = RealInWidth(r.angles.two_theta, 8, 4);
  const double omega = r.omega_centre - step / 2.0 + AsRead(two_theta_text) / 2.0;
  // Standards are read with scale 1: their speed carries the step time instead.
  const double speed = standard   ? 60.0 / n / r.step_time
                       : filtered ? r.count_scale / data.instrument.atten
                                  : r.count_scale;

  out << "  " << fields::FormatInt(standard ? -r.seq : r.seq, 5) << fields::FormatInt(r.hkl[0], 4)
      << fields::FormatInt(r.hkl[1], 4) << fields::FormatInt(r.hkl[2], 4) << two_theta_text << RealInWidth(omega, 8, 4)
      << RealInWidth(r.angles.phi, 8, 4) << RealInWidth(r.angles.chi, 8, 4) << width_text << RealInWidth(speed, 8, 4)
      << '\n';
  std::string counts;
  for (long long c : r.counts) counts += EncodeCount(c);
  for (std::size_t i = 0; i < counts.size(); i += kCountColumns) out << counts.substr(i, kCountColumns) << '\n';
}

}  // namespace

bool WriteXscans(const DataSet& data, const std::filesystem::path& path, std::string& error) {
  if (!Fits(data, error)) return false;
  std::ofstream out(path);
  if (!out) return CannotWrite(path, error);
  const int steps = data.reflections.empty() ? 2 : data.reflections.front().step_count;
  WriteHeader(data, steps, out);
  for (const SimReflection& r : data.reflections) WriteReflection(data, r, out);
  out.flush();
  if (!out) return CannotWrite(path, error);
  return true;
}

}  // namespace kalvex::simulate
