// Fixed-column reading and Fortran-style writing.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "tests/support/headless.h"

#include "common/fixed_fields.h"
#include "common/text_files.h"

namespace {

using fields::FormatInt;
using fields::FormatReal;
using fields::ReadInt;
using fields::ReadReal;

TEST(FixedFields, IntegerFieldsIgnoreBlanksAndRejectText) {
  EXPECT_EQ(ReadInt("   12", 1, 5), 12);
  EXPECT_EQ(ReadInt("  1 2", 1, 5), 12);  // blanks inside are ignored
  EXPECT_EQ(ReadInt("     ", 1, 5), 0);   // all blank is zero
  EXPECT_EQ(ReadInt("abc", 5, 5), 0);     // beyond the line: blank
  EXPECT_EQ(ReadInt("   -7xx", 1, 5), -7);
  EXPECT_EQ(ReadInt("  +42", 1, 5), 42);
  EXPECT_FALSE(ReadInt("  1.5", 1, 5).has_value());
  EXPECT_FALSE(ReadInt("   - ", 1, 5).has_value());
  EXPECT_FALSE(ReadInt(" 99999999999", 1, 12).has_value());
}

TEST(FixedFields, RealsTakeImpliedDecimalsOnlyWithoutPoint) {
  EXPECT_DOUBLE_EQ(*ReadReal("123456", 1, 6, 4), 12.3456);
  EXPECT_DOUBLE_EQ(*ReadReal("12.3456", 1, 7, 2), 12.3456);
  EXPECT_DOUBLE_EQ(*ReadReal("   -25", 1, 6, 1), -2.5);
  EXPECT_DOUBLE_EQ(*ReadReal("  1.5E2", 1, 7, 3), 150.0);
  EXPECT_DOUBLE_EQ(*ReadReal("   15E2", 1, 7, 1), 150.0);  // implied decimals before the exponent
  EXPECT_DOUBLE_EQ(*ReadReal("  2.5d-1", 1, 8, 0), 0.25);
  EXPECT_DOUBLE_EQ(*ReadReal("          ", 1, 10, 3), 0.0);
  EXPECT_DOUBLE_EQ(*ReadReal(" 1 2. 5", 1, 7, 0), 12.5);
  EXPECT_FALSE(ReadReal("  1.2.3", 1, 7, 0).has_value());
  EXPECT_FALSE(ReadReal("   abc", 1, 6, 0).has_value());
  EXPECT_FALSE(ReadReal("   1E", 1, 5, 0).has_value());
}

TEST(FixedFields, RealsBeyondTheRangeOfARealDoNotConvertAndAnyExponentIsSafe) {
  EXPECT_DOUBLE_EQ(*ReadReal("3.0E38", 1, 6, 0), 3.0e38);
  EXPECT_FALSE(ReadReal("3.5E38", 1, 6, 0).has_value());  // no single-precision real holds it
  EXPECT_FALSE(ReadReal("-1.E300", 1, 7, 0).has_value());
  // The exponent is any 32-bit value; with the implied decimals it must not wrap round.
  EXPECT_EQ(*fields::ParseReal("1E-2147483648", 3), 0.0);
  EXPECT_FALSE(fields::ParseReal("1E2147483647", 3).has_value());
  EXPECT_EQ(*fields::ParseReal("0E2147483647", 3), 0.0);
}

TEST(FixedFields, ColumnsArePaddedAndCut) {
  EXPECT_EQ(fields::Column("ABCDEF", 5, 4), "EF  ");
  EXPECT_EQ(fields::Column("AB", 4, 2), "  ");
  EXPECT_EQ(fields::Fixed("run5.int", 12), "run5.int    ");
  EXPECT_EQ(fields::Fixed("a-very-long-name", 4), "a-ve");
  EXPECT_EQ(fields::TrimRight("abc   "), "abc");
}

TEST(FixedFields, WritingFollowsFortranEditDescriptors) {
  EXPECT_EQ(FormatInt(42, 5), "   42");
  EXPECT_EQ(FormatInt(-42, 3), "-42");
  EXPECT_EQ(FormatInt(12345, 4), "****");
  EXPECT_EQ(FormatReal(3.14159, 8, 3), "   3.142");
  EXPECT_EQ(FormatReal(-0.5, 6, 2), " -0.50");
  EXPECT_EQ(FormatReal(0.5, 3, 2), ".50");      // the leading zero gives way
  EXPECT_EQ(FormatReal(-0.5, 4, 2), "-.50");
  EXPECT_EQ(FormatReal(-0.001, 6, 2), "  0.00");  // no negative zero
  EXPECT_EQ(FormatReal(123456.0, 6, 1), "******");
  EXPECT_EQ(FormatReal(2.5, 5, 0), "   3.");
  // Half-way rounds away from zero whichever way the digits are found;
  // anything short of half-way by a bit of the binary value rounds down.
  EXPECT_EQ(FormatReal(0.125, 6, 2), "  0.13");
  EXPECT_EQ(FormatReal(2.675, 6, 2), "  2.67");
  EXPECT_EQ(FormatReal(0.1, 6, 3), " 0.100");
  EXPECT_EQ(FormatReal(70368744177664.125, 20, 2), "   70368744177664.13");
  EXPECT_EQ(FormatReal(1.0000000000000002, 20, 16), "  1.0000000000000002");
}

TEST(TextFiles, LineSourceKeepsTrueLineNumbersWhenMovingBack) {
  textfile::LineSource src;
  src.SetText("one\r\ntwo\nthree\n");
  std::string line;
  ASSERT_TRUE(src.Next(line));
  ASSERT_TRUE(src.Next(line));
  EXPECT_EQ(line, "two");
  EXPECT_EQ(src.LineNumber(), 2);
  ASSERT_TRUE(src.Back());
  EXPECT_EQ(src.LineNumber(), 1);
  ASSERT_TRUE(src.Next(line));
  EXPECT_EQ(line, "two");
  EXPECT_EQ(src.LineNumber(), 2);
  ASSERT_TRUE(src.Next(line));
  EXPECT_FALSE(src.Next(line));
  EXPECT_TRUE(src.AtEnd());
  src.Rewind();
  ASSERT_TRUE(src.Next(line));
  EXPECT_EQ(line, "one");
  src.Rewind();
  EXPECT_FALSE(src.Back());
}

// A file is read a block at a time through its line index: lines across the
// blocks' edges, one longer than a block, and going back over them read as
// written.
TEST(TextFiles, AFileReadsTheSameThroughItsLineIndex) {
  std::vector<std::string> written;
  for (int i = 0; i < 20000; ++i) written.push_back(std::string(static_cast<std::size_t>(i % 23), 'a' + i % 26));
  written[7000] = std::string(300000, 'x');
  const auto path = kalvex::testing::ScratchDir("line_index") / "lines.txt";
  {
    std::ofstream out(path, std::ios::binary);
    for (const auto& line : written) out << line << (line.size() % 2 ? "\r\n" : "\n");
    out << "\x1A";
  }
  textfile::LineSource src;
  ASSERT_TRUE(src.Open(path.string()));
  std::string line;
  // The index grows as reading goes: back to the start from part-way.
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(src.Next(line));
  src.Rewind();
  for (std::size_t i = 0; i < written.size(); ++i) {
    ASSERT_TRUE(src.Next(line));
    ASSERT_EQ(line, written[i]) << i;
  }
  EXPECT_FALSE(src.Next(line));
  src.SetPosition(6999);
  ASSERT_TRUE(src.Next(line));
  ASSERT_TRUE(src.Next(line));
  EXPECT_EQ(line, written[7000]);
  EXPECT_EQ(src.LineNumber(), 7001);
  src.Rewind();
  ASSERT_TRUE(src.Next(line));
  EXPECT_EQ(line, written[0]);
  EXPECT_FALSE(src.Open((path.parent_path() / "none").string()));
  EXPECT_FALSE(src.Open(path.parent_path().string()));  // a directory has no lines
}

}  // namespace
