// Writes a simulated data set as a Single scan file, the inverse of the
// program's Single reader: per reflection a count line, its continuation
// lines and an angle line.
//
// The file holds no step width (the user types it in the omega-step box), so
// every reflection must have the same one. The reader scales each reflection
// by T0 / step time with T0 the first reflection's time, so the written step
// time is K / count_scale (K = first step time x first count_scale): the
// scales read back are the data set's divided by the first one's. Single
// files classify nothing; the written standard number is the entry number.
#include <cmath>
#include <fstream>
#include <string>

#include "common/fixed_fields.h"
#include "tools/simulate/simulate.h"

namespace kalvex::simulate {
namespace {

constexpr int kCountsPerLine = 21;

bool FitsInt(long long value, int width) { return fields::FormatInt(value, width).find('*') == std::string::npos; }

bool Fits(const DataSet& data, std::string& error) {
  if (data.reflections.empty()) return true;
  const double step = data.reflections.front().step_width;
  for (const SimReflection& r : data.reflections) {
    const std::string name = "reflection " + std::to_string(r.seq);
    if (std::abs(r.step_width - step) > 1e-6 * step) {
      error = "Single files have one step width; " + name + " differs";
      return false;
    }
    if (!FitsInt(r.seq, 4) || !FitsInt(r.step_count, 3) || r.standard_index > 9 ||
        static_cast<int>(r.counts.size()) != r.step_count) {
      error = name + " does not fit the Single fields";
      return false;
    }
    for (int i = 0; i < 3; ++i) {
      if (!FitsInt(r.hkl[i], 3)) {
        error = name + ": indices are I3";
        return false;
      }
    }
    for (long long c : r.counts) {
      if (c < 0 || !FitsInt(c, 6)) {
        error = name + ": counts are I6";
        return false;
      }
    }
  }
  return true;
}

void WriteReflection(const SimReflection& r, double time_times_scale, std::ofstream& out) {
  const int standard = r.cls == ReflectionClass::kStandard ? r.standard_index : 0;
  const int lines = 1 + (r.step_count - 1) / kCountsPerLine;
  for (int j = 0; j < lines; ++j) {
    // Step time 0 on the count line: the angle line's time holds.
    std::string line = j == 0 ? "*" + fields::FormatInt(r.step_count, 3) + fields::FormatInt(0, 2) : fields::Blanks(6);
    for (int i = kCountsPerLine * j; i < kCountsPerLine * (j + 1) && i < r.step_count; ++i) {
      line += fields::FormatInt(r.counts[i], 6);
    }
    out << line << '\n';
  }
  out << " " << fields::FormatInt(r.seq, 4) << fields::FormatInt(standard, 1) << fields::FormatInt(r.hkl[0], 3)
      << fields::FormatInt(r.hkl[1], 3) << fields::FormatInt(r.hkl[2], 3) << RealInWidth(r.angles.two_theta, 8, 4)
      << RealInWidth(r.omega_centre, 8, 4) << RealInWidth(r.angles.chi, 8, 4) << RealInWidth(r.angles.phi, 8, 4)
      << fields::Blanks(36) << RealInWidth(time_times_scale / r.count_scale, 10, 6) << '\n';
}

}  // namespace

bool WriteSingle(const DataSet& data, const std::filesystem::path& path, std::string& error) {
  if (!Fits(data, error)) return false;
  std::ofstream out(path);
  if (!out) return CannotWrite(path, error);
  if (!data.reflections.empty()) {
    const SimReflection& first = data.reflections.front();
    const double time_times_scale = first.step_time * first.count_scale;
    for (const SimReflection& r : data.reflections) WriteReflection(r, time_times_scale, out);
  }
  out.flush();
  if (!out) return CannotWrite(path, error);
  return true;
}

}  // namespace kalvex::simulate
