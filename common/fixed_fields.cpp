// Fixed-column field conversions shared by the readers, the parameter file,
// the log and the intensity-file writer.
#include "common/fixed_fields.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace fields {

std::string Column(std::string_view line, int first_col, int width) {
  std::string out(width > 0 ? width : 0, ' ');
  const int start = first_col - 1;
  for (int i = 0; i < width; ++i) {
    const int pos = start + i;
    if (pos >= 0 && pos < static_cast<int>(line.size())) out[i] = line[pos];
  }
  return out;
}

namespace {

// The field with its blanks taken out (the Fortran BN rule).
std::string Squeeze(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int> ParseInt(std::string_view text) {
  const std::string s = Squeeze(text);
  if (s.empty()) return 0;
  std::size_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return std::nullopt;
  long long value = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return std::nullopt;
    value = value * 10 + (s[i] - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<double> ParseReal(std::string_view text, int decimals) {
  const std::string s = Squeeze(text);
  if (s.empty()) return 0.0;
  std::size_t i = 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') {
    negative = s[i] == '-';
    ++i;
  }
  double mantissa = 0.0;
  int digits = 0;
  int after_point = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (IsDigit(c)) {
      mantissa = mantissa * 10.0 + (c - '0');
      ++digits;
      if (point) ++after_point;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  int exponent = 0;
  if (i < s.size()) {
    const char c = s[i];
    if (c != 'E' && c != 'e' && c != 'D' && c != 'd') return std::nullopt;
    const auto e = ParseInt(std::string_view(s).substr(i + 1));
    if (!e || i + 1 == s.size()) return std::nullopt;
    exponent = *e;
  }
  const int scale = point ? -after_point : -decimals;
  double value = mantissa * std::pow(10.0, scale + exponent);
  if (!std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

std::optional<int> ReadInt(std::string_view line, int first_col, int width) {
  return ParseInt(Column(line, first_col, width));
}

std::optional<double> ReadReal(std::string_view line, int first_col, int width, int decimals) {
  return ParseReal(Column(line, first_col, width), decimals);
}

std::string FormatInt(long long value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) > width) return std::string(width, '*');
  return std::string(width - s.size(), ' ') + s;
}

namespace {

// |value| rounded half away from zero to `decimals` places, as digits with a
// decimal point: glibc prints the exact binary value, so ties are real ties.
std::string RoundedMagnitude(double magnitude, int decimals) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals + 40, magnitude);
  std::string s = buf;
  const std::size_t point = s.find('.');
  std::string digits = s.substr(0, point) + s.substr(point + 1, decimals);
  const bool up = s[point + 1 + decimals] >= '5';
  if (up) {
    int i = static_cast<int>(digits.size()) - 1;
    for (; i >= 0; --i) {
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
    }
    if (i < 0) digits.insert(digits.begin(), '1');
  }
  const std::size_t int_digits = digits.size() - decimals;
  return digits.substr(0, int_digits) + "." + digits.substr(int_digits);
}

}  // namespace

std::string FormatReal(double value, int width, int decimals) {
  // Nothing that large fits a record field.
  if (!std::isfinite(value) || std::fabs(value) >= 1e100 || decimals > 60) return std::string(width, '*');
  std::string s = RoundedMagnitude(std::fabs(value), decimals);
  // No "-0.00": a value that rounds to zero has no sign.
  if (value < 0 && s.find_first_of("123456789") != std::string::npos) s.insert(0, "-");
  if (static_cast<int>(s.size()) > width) {
    if (s.rfind("0.", 0) == 0) {
      s.erase(0, 1);
    } else if (s.rfind("-0.", 0) == 0) {
      s.erase(1, 1);
    }
  }
  if (static_cast<int>(s.size()) > width) return std::string(width, '*');
  return std::string(width - s.size(), ' ') + s;
}

std::string Fixed(std::string_view text, int width) {
  std::string out(text.substr(0, static_cast<std::size_t>(width)));
  out.resize(width, ' ');
  return out;
}

std::string_view TrimRight(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '\0')) --n;
  return text.substr(0, n);
}

}  // namespace fields
