// The progress line's words, and what it leaves out when a part is unknown.
#include <gtest/gtest.h>

#include <limits>

#include "common/progress_text.h"

namespace kalvex {
namespace {

TEST(ProgressText, SaysWhatIsKnownAndLeavesOutTheRest) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    long long done, total;
    double rate;
    const char* text;
  } cases[] = {
      // 4,069 left at 2,150 a second: 1.9 s, rounded up.
      {1234, 5303, 2150.0, "1,234 of 5,303 reflections \u00B7 2,150/s \u00B7 2 s left"},
      {5303, 5303, 2150.4, "5,303 of 5,303 reflections \u00B7 2,150/s \u00B7 0 s left"},
      {0, 106003, 25.0, "0 of 106,003 reflections \u00B7 25/s \u00B7 1 h 10 min left"},
      {100, 400, 2.0, "100 of 400 reflections \u00B7 2.0/s \u00B7 2 min 30 s left"},
      {1234, -1, 2150.0, "1,234 reflections \u00B7 2,150/s"},      // the file not counted
      {1, 5303, 0.0, "1 of 5,303 reflections"},                     // no rate measured yet
      {1, 5303, nan, "1 of 5,303 reflections"},
      {7, -1, 0.0, "7 reflections"},
      {5400, 5303, 2000.0, "5,400 reflections \u00B7 2,000/s"},    // more than counted
      {0, 0, 0.0, "0 of 0 reflections"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressText(c.done, c.total, c.rate), c.text);
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
  EXPECT_EQ(GroupedNumber(-1234), "-1,234");
  EXPECT_EQ(DurationText(59.5), "1 min 00 s");
  EXPECT_EQ(DurationText(3600.0), "1 h 00 min");
  EXPECT_EQ(DurationText(-5.0), "0 s");
}

}  // namespace
}  // namespace kalvex
