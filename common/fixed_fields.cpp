// Fixed-column field conversions shared by the readers, the parameter file,
// the log and the intensity-file writer.
#include "common/fixed_fields.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

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

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The field with its blanks taken out (the Fortran BN rule), kept on the
// stack for a field of ordinary width: every reflection reads dozens.
class Squeezed {
 public:
  explicit Squeezed(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += !IsBlank(c);
    char* out = small_;
    if (n > sizeof small_) {
      large_.resize(n);
      out = large_.data();
    }
    for (char c : text)
      if (!IsBlank(c)) *out++ = c;
    view_ = std::string_view(n > sizeof small_ ? large_.data() : small_, n);
  }
  std::string_view View() const { return view_; }

 private:
  char small_[64];
  std::string large_;
  std::string_view view_;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Columns first_col .. first_col+width-1 of the line as far as it has them;
// the columns beyond its end are blanks, which reading ignores.
std::string_view ColumnsPresent(std::string_view line, int first_col, int width) {
  const long long start = std::max(static_cast<long long>(first_col) - 1, 0LL);
  const long long end = std::min(static_cast<long long>(first_col) - 1 + width, static_cast<long long>(line.size()));
  if (end <= start) return {};
  return line.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

}  // namespace

std::optional<int> ParseInt(std::string_view text) {
  // Counts are read by the hundred for every reflection, and nearly all are
  // leading blanks and then digits to the end of the field: read those in
  // one tight pass, and anything else by the general rule below.
  {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t first = i;
    unsigned value = 0;
    while (i < text.size() && i - first < 9 && IsDigit(text[i])) value = value * 10 + static_cast<unsigned>(text[i++] - '0');
    if (i == text.size() && i > first) return static_cast<int>(value);
  }
  // One pass over the field, blanks skipped where they stand.
  long long value = 0;
  bool started = false;
  bool digits = false;
  bool negative = false;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (!started) {
      started = true;
      if (c == '+' || c == '-') {
        negative = c == '-';
        continue;
      }
    }
    if (!IsDigit(c)) return std::nullopt;
    digits = true;
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
  }
  if (!started) return 0;
  if (!digits) return std::nullopt;
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<double> ParseReal(std::string_view text, int decimals) {
  const Squeezed squeezed(text);
  const std::string_view s = squeezed.View();
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
    const auto e = ParseInt(s.substr(i + 1));
    if (!e || i + 1 == s.size()) return std::nullopt;
    exponent = *e;
  }
  // The power of ten in 64 bits: an exponent field may hold any 32-bit
  // value, and the sum with the scale must not wrap. Beyond the doubles it
  // comes out as 0 or infinity, which the range test below sorts out.
  const long long scale = point ? -static_cast<long long>(after_point) : -static_cast<long long>(decimals);
  const double power = static_cast<double>(scale + exponent);
  if (mantissa == 0.0) return negative ? -0.0 : 0.0;
  const double value = mantissa * std::pow(10.0, power);
  // Every field lands in a single-precision real: one beyond its range
  // cannot be held and does not convert.
  if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) return std::nullopt;
  return negative ? -value : value;
}

std::optional<int> ReadInt(std::string_view line, int first_col, int width) {
  return ParseInt(ColumnsPresent(line, first_col, width));
}

std::optional<double> ReadReal(std::string_view line, int first_col, int width, int decimals) {
  return ParseReal(ColumnsPresent(line, first_col, width), decimals);
}

std::string FormatInt(long long value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) > width) return std::string(width, '*');
  return std::string(width - s.size(), ' ') + s;
}

namespace {

// A positive finite value as m * 2^e with m odd.
struct OddBinary {
  std::uint64_t mantissa;
  int exponent;
};

OddBinary OddParts(double magnitude) {
  // The IEEE layout: 52 stored mantissa bits, an 11-bit exponent biased by
  // 1023 (1075 with the mantissa read as a whole number), and none of the
  // hidden bit for subnormal values.
  constexpr int kStoredBits = 52;
  constexpr int kBias = 1075;
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const auto stored_exponent = static_cast<int>((bits >> kStoredBits) & 0x7ffU);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << kStoredBits) - 1);
  int exponent = 1 - kBias;
  if (stored_exponent != 0) {
    mantissa |= std::uint64_t{1} << kStoredBits;
    exponent = stored_exponent - kBias;
  }
  const int zeros = std::countr_zero(mantissa);
  return {mantissa >> zeros, exponent + zeros};
}

// |value| rounded half away from zero to `decimals` places, written into
// `out` as digits with a decimal point; returns the length.
int RoundedMagnitude(double magnitude, int decimals, char* out) {
  constexpr int kExactPlaces = 15;  // 10^15 and 5^15 are exact in double
  if (decimals <= kExactPlaces) {
    const OddBinary binary = magnitude > 0.0 ? OddParts(magnitude) : OddBinary{0, 0};
    // Scaled by 10^d = 5^d 2^d the value is m 5^d 2^(e+d), exact in double
    // while m 5^d fits its 53 bits: then the rounding is exact arithmetic.
    // Record values are single-precision reals with a few places, so this
    // is nearly every field written.
    static constexpr auto kPowers = [] {
      std::array<std::pair<std::uint64_t, double>, kExactPlaces + 1> powers{};
      std::uint64_t five = 1;
      double ten = 1.0;
      for (auto& power : powers) {
        power = {five, ten};
        five *= 5;
        ten *= 10.0;
      }
      return powers;
    }();
    const auto [five, ten] = kPowers[static_cast<std::size_t>(decimals)];
    const double scaled = magnitude * ten;
    constexpr double kWholeExact = 0x1p53;
    if (std::bit_width(binary.mantissa) + std::bit_width(five) <= std::numeric_limits<double>::digits &&
        scaled < kWholeExact) {
      const double whole = std::floor(scaled);
      const auto units = static_cast<std::uint64_t>(whole) + (scaled - whole >= 0.5 ? 1 : 0);
      char digits[24];
      const int n = static_cast<int>(std::to_chars(digits, digits + sizeof digits, units).ptr - digits);
      char* o = out;
      if (n <= decimals) {
        *o++ = '0';
        *o++ = '.';
        o = std::fill_n(o, decimals - n, '0');
        o = std::copy(digits, digits + n, o);
      } else {
        o = std::copy(digits, digits + n - decimals, o);
        *o++ = '.';
        o = std::copy(digits + n - decimals, digits + n, o);
      }
      return static_cast<int>(o - out);
    }
    // Twice the value times 10^d is m 5^d 2^(e+1+d): an odd whole number,
    // which is what a tie is, only when that power of two is 1. Away from
    // a tie printf's own rounding is the rounding.
    if (magnitude > 0.0 && binary.exponent != -(decimals + 1)) {
      char* end = std::to_chars(out, out + 200, magnitude, std::chars_format::fixed, decimals).ptr;
      if (decimals == 0) *end++ = '.';
      return static_cast<int>(end - out);
    }
  }
  // A tie, or more places than that: the digits come exact to 40 places
  // beyond the last kept (the binary value's own digits, as printf gives
  // them), so ties are real ties, and a tie goes up.
  char buf[320];
  const auto printed = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::fixed, decimals + 40);
  const char* point = std::find(buf, printed.ptr, '.');
  const int whole = static_cast<int>(point - buf);
  // The integer digits and the kept decimals behind one place for a carry.
  char digits[200];
  digits[0] = '0';
  std::copy(static_cast<const char*>(buf), point, digits + 1);
  std::copy(point + 1, point + 1 + decimals, digits + 1 + whole);
  const int last = whole + decimals;
  if (point[1 + decimals] >= '5') {
    int i = last;
    for (; digits[i] == '9'; --i) digits[i] = '0';
    ++digits[i];
  }
  const int first = digits[0] == '0' ? 1 : 0;
  char* o = std::copy(digits + first, digits + 1 + whole, out);
  *o++ = '.';
  o = std::copy(digits + 1 + whole, digits + 1 + last, o);
  return static_cast<int>(o - out);
}

}  // namespace

std::string FormatReal(double value, int width, int decimals) {
  // Nothing that large fits a record field.
  if (!std::isfinite(value) || std::fabs(value) >= 1e100 || decimals < 0 || decimals > 60) {
    return std::string(width > 0 ? width : 0, '*');
  }
  char text[256];
  char* s = text + 1;  // room for a sign in front
  int n = RoundedMagnitude(std::fabs(value), decimals, s);
  // No "-0.00": a value that rounds to zero has no sign.
  if (value < 0 && std::find_if(s, s + n, [](char c) { return c >= '1' && c <= '9'; }) != s + n) {
    *--s = '-';
    ++n;
  }
  if (n > width) {
    // The leading zero goes when only that makes it fit.
    if (n >= 2 && s[0] == '0' && s[1] == '.') {
      ++s;
      --n;
    } else if (n >= 3 && s[0] == '-' && s[1] == '0' && s[2] == '.') {
      s[1] = '-';
      ++s;
      --n;
    }
  }
  if (n > width) return std::string(width > 0 ? width : 0, '*');
  std::string field(static_cast<std::size_t>(width - n), ' ');
  field.append(s, static_cast<std::size_t>(n));
  return field;
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
