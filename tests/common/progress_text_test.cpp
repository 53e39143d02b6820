// The progress line's wording: counts grouped by thousands, the rate, the
// time left, and what is left out when a part is not known.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/progress_text.h"

namespace kalvex {
namespace {

TEST(ProgressText, SaysCountTotalRateAndTimeLeft) {
  // 4,069 left at 2,150 a second: 1.9 s, rounded up.
  EXPECT_EQ(ProgressText(1234, 5303, 2150.0), "1,234 of 5,303 reflections \u00B7 2,150/s \u00B7 2 s left");
  EXPECT_EQ(ProgressText(5303, 5303, 2150.4), "5,303 of 5,303 reflections \u00B7 2,150/s \u00B7 0 s left");
  EXPECT_EQ(ProgressText(0, 106003, 25.0), "0 of 106,003 reflections \u00B7 25/s \u00B7 1 h 10 min left");
  EXPECT_EQ(ProgressText(100, 400, 2.0), "100 of 400 reflections \u00B7 2.0/s \u00B7 2 min 30 s left");
  EXPECT_EQ(ProgressText(3, 10, 0.3), "3 of 10 reflections \u00B7 0.3/s \u00B7 24 s left");
}

TEST(ProgressText, LeavesOutWhatIsNotKnown) {
  // No count of the file: no total and no time left.
  EXPECT_EQ(ProgressText(1234, -1, 2150.0), "1,234 reflections \u00B7 2,150/s");
  // No rate yet (the start, or a pass stopped before one was measured).
  EXPECT_EQ(ProgressText(1, 5303, 0.0), "1 of 5,303 reflections");
  EXPECT_EQ(ProgressText(1, 5303, std::numeric_limits<double>::quiet_NaN()), "1 of 5,303 reflections");
  EXPECT_EQ(ProgressText(1, 5303, std::numeric_limits<double>::infinity()), "1 of 5,303 reflections");
  EXPECT_EQ(ProgressText(7, -1, 0.0), "7 reflections");
  // More passed than counted: the file changed since; no negative time.
  EXPECT_EQ(ProgressText(5400, 5303, 2000.0), "5,400 reflections \u00B7 2,000/s");
  EXPECT_EQ(ProgressText(0, 0, 0.0), "0 of 0 reflections");
}

TEST(ProgressText, GroupsAndDurations) {
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1000), "1,000");
  EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
  EXPECT_EQ(GroupedNumber(-1234), "-1,234");
  EXPECT_EQ(DurationText(0.0), "0 s");
  EXPECT_EQ(DurationText(0.01), "1 s");
  EXPECT_EQ(DurationText(59.5), "1 min 00 s");
  EXPECT_EQ(DurationText(3599.0), "59 min 59 s");
  EXPECT_EQ(DurationText(3600.0), "1 h 00 min");
  EXPECT_EQ(DurationText(-5.0), "0 s");
}

}  // namespace
}  // namespace kalvex
