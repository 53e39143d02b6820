#include "common/progress_text.h"

#include <cmath>
#include <cstdio>

namespace kalvex {

namespace {
constexpr const char* kDot = " \u00B7 ";
}

std::string GroupedNumber(long long n) {
  const bool negative = n < 0;
  unsigned long long v = negative ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  std::string digits = std::to_string(v);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

std::string DurationText(double seconds) {
  // Whole seconds, rounded up: "0 s left" only when nothing is.
  const long long s = seconds > 0 ? static_cast<long long>(std::ceil(seconds)) : 0;
  char buf[48];
  if (s < 60) {
    std::snprintf(buf, sizeof buf, "%lld s", s);
  } else if (s < 3600) {
    std::snprintf(buf, sizeof buf, "%lld min %02lld s", s / 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld h %02lld min", s / 3600, (s % 3600) / 60);
  }
  return buf;
}

std::string ProgressText(long long done, long long total, double rate_per_second) {
  const bool counted = total >= 0 && done <= total;
  std::string text = GroupedNumber(done);
  if (counted) text += " of " + GroupedNumber(total);
  text += " reflections";
  if (!(rate_per_second > 0) || !std::isfinite(rate_per_second)) return text;
  if (rate_per_second >= 10) {
    text += kDot + GroupedNumber(std::llround(rate_per_second)) + "/s";
  } else {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f/s", rate_per_second);
    text += kDot + std::string(buf);
  }
  if (counted) text += kDot + DurationText(static_cast<double>(total - done) / rate_per_second) + " left";
  return text;
}

}  // namespace kalvex
