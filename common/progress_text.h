// How far a pass over the data file has come, in the words the status bar
// and the batch command's terminal line use.
#pragma once

#include <string>

namespace kalvex {

// "1,234 of 5,303 reflections · 2,150/s · 2 s left". `total` below zero is
// a count not known: "1,234 reflections · 2,150/s". A rate of zero (or not
// yet measured) gives neither rate nor time left. More done than counted
// (the file changed since it was counted) drops the total and the time left
// rather than promise a negative one.
std::string ProgressText(long long done, long long total, double rate_per_second);

// 1234567 -> "1,234,567".
std::string GroupedNumber(long long n);

// The time left as a reader takes it in at a glance: "0 s", "42 s",
// "3 min 05 s", "2 h 07 min".
std::string DurationText(double seconds);

}  // namespace kalvex
