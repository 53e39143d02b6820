// Fixed-column text fields as the instrument files and the program's own
// records lay them out: reading I/F/A fields and writing Iw, Fw.d and nX.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace fields {

// The text of columns first_col .. first_col+width-1 (1-based, as file layouts
// count them). Columns beyond the end of the line read as blanks, so the
// result is always `width` characters long.
std::string Column(std::string_view line, int first_col, int width);

// An integer field: blanks anywhere are ignored, an all-blank field is zero.
// Anything else that is not an optionally signed run of digits does not
// convert and yields nullopt; so does a value outside the 32-bit range.
std::optional<int> ReadInt(std::string_view line, int first_col, int width);

// A real field read like Fortran's Fw.d: blanks are ignored and an all-blank
// field is zero; a field with a decimal point is read as written; one
// without takes `decimals` implied decimals ("123456" with d = 4 is 12.3456),
// also in front of an exponent (E, D, e or d). Does not convert: nullopt;
// nor does a value beyond the range of a single-precision real. One too
// small for a double reads as zero.
std::optional<double> ReadReal(std::string_view line, int first_col, int width, int decimals);

// The same conversions on a whole piece of text.
std::optional<int> ParseInt(std::string_view text);
std::optional<double> ParseReal(std::string_view text, int decimals);

// Fortran Iw: right-justified in `width` columns, asterisks when it does not fit.
std::string FormatInt(long long value, int width);

// Fortran Fw.d: right-justified, rounded to `decimals` places; the leading
// zero is dropped when only that makes it fit, asterisks when nothing does.
// A value that rounds to zero is written without a minus sign.
std::string FormatReal(double value, int width, int decimals);

// Fortran nX.
inline std::string Blanks(int n) { return std::string(n > 0 ? n : 0, ' '); }

// printf's conversions into a string, for the texts that are no
// fixed-column record: summaries, the report, CIF values.
template <class... Values>
std::string Printf(const char* format, Values... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

// Blank-pad or cut `text` to exactly `width` characters (a fixed-length text).
std::string Fixed(std::string_view text, int width);

// `text` without its trailing blanks.
std::string_view TrimRight(std::string_view text);

}  // namespace fields
