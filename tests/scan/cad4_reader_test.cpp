// The CAD4 reader: kappa conversion, classes by speed code and flags,
// damaged and skipped blocks, positioning, round trips through the
// simulator's writer, and broken files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/fixed_fields.h"
#include "scan/cad4.h"
#include "scan/reflection_input.h"
#include "tests/scan/reading.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

using fields::FormatInt;
using fields::FormatReal;
using testing::FailedWith;
using testing::FreshState;
using testing::HeaderStatus;
using testing::ReflectionStatus;

TEST(Cad4Reader, AngleConvertTurnsKappaIntoEuler) {
  EulerAngles e;
  ASSERT_EQ(ANGLE_CONVERT({10.0f, 20.0f, 30.0f, 0.0f}, e), 0);
  EXPECT_FLOAT_EQ(e.two_theta, 20.0f);
  EXPECT_NEAR(e.chi, 0.0f, 1e-5);
  EXPECT_NEAR(e.omega_centre, 20.0f, 1e-4);  // omega - theta, no delta
  EXPECT_NEAR(e.phi, 20.0f, 1e-4);

  // kappa 180: chi = 2 asin(sin 50) = 100, and cos(kappa/2) = 0 gives delta 90.
  ASSERT_EQ(ANGLE_CONVERT({10.0f, 20.0f, 30.0f, 180.0f}, e), 0);
  EXPECT_NEAR(e.chi, 2.0 * std::asin(0.76604) * 57.29578, 1e-3);
  EXPECT_NEAR(e.omega_centre, 90.0f + 30.0f - 10.0f, 1e-3);
  EXPECT_NEAR(e.phi, 110.0f, 1e-3);

  ASSERT_EQ(ANGLE_CONVERT({10.0f, 20.0f, 30.0f, -180.0f}, e), 0);
  EXPECT_NEAR(e.chi, -2.0 * std::asin(0.76604) * 57.29578, 1e-3);
  EXPECT_NEAR(e.omega_centre, -90.0f + 20.0f, 1e-3);
  EXPECT_NEAR(e.phi, -70.0f, 1e-3);

  // kappa 60: chi = 2 asin(0.76604 / 2); delta = acos(cos 30 / cos(chi / 2)).
  ASSERT_EQ(ANGLE_CONVERT({5.0f, 0.0f, 5.0f, 60.0f}, e), 0);
  const double half_chi = std::asin(0.76604 * 0.5);
  const double delta = std::acos(std::cos(30.0 / 57.29578) / std::cos(half_chi)) * 57.29578;
  EXPECT_NEAR(e.chi, 2.0 * half_chi * 57.29578, 1e-3);
  EXPECT_NEAR(e.omega_centre, delta, 1e-3);
  EXPECT_NEAR(e.phi, delta, 1e-3);
}

// ---- hand-written files --------------------------------------------------------

std::string Start(int type, int seq) { return " " + FormatInt(type, 2) + FormatInt(seq, 6); }

std::string FirstLine(int seq, Hkl hkl, const std::string& flags, int speed_code) {
  return Start(1, seq) + FormatInt(hkl[0], 5) + FormatInt(hkl[1], 5) + FormatInt(hkl[2], 5) + " " +
         fields::Fixed(flags, 6) + fields::Blanks(7) + FormatInt(speed_code, 4);
}

std::string AngleLine(int seq, double theta, double phi, double omega, double kappa, double width) {
  return Start(2, seq) + FormatReal(theta, 8, 3) + FormatReal(phi, 9, 3) + FormatReal(omega, 9, 3) +
         FormatReal(kappa, 9, 3) + FormatReal(width, 7, 3);
}

// Counts of line `type`: 100 * type + position within the line.
std::string CountLine(int seq, int type) {
  std::string line = Start(type, seq) + " ";
  for (int j = 0; j < 12; ++j) line += (j > 0 && j % 3 == 0 ? " " : "") + FormatInt(100 * type + j, 4);
  return line;
}

std::string Block(int seq, Hkl hkl, const std::string& flags = "", int speed_code = 10, double width = 2.0) {
  std::string text = FirstLine(seq, hkl, flags, speed_code) + "\n" + AngleLine(seq, 10, 20, 30, 0, width) + "\n";
  for (int type = 3; type <= 10; ++type) text += CountLine(seq, type) + "\n";
  return text;
}

// Title, wavelengths and atten 8, strong speed code 4 and maximum scan time
// 60 s, standards (1 0 0) and (0 2 0).
const std::string kHeader = "         A hand-made CAD4 set\n" + std::string(" 32") + fields::Blanks(31) +
                            "  0.70930  0.71359    8.000\n" + " 22" + fields::Blanks(46) + " 4  60\n" +
                            " 25 an ignored record\n" + " 27\n" + "  0    1  0  0\n" + "  0    0  2  0\n" +
                            " 28 ends the list\n";

std::unique_ptr<ProgramState> StateWith(const std::string& text) {
  auto state = FreshState();
  state->params.input_format = kFormatCad4;
  state->files.data.SetText(text);
  return state;
}

TEST(Cad4Reader, HeaderRecordsFillTheDataSet) {
  auto state = StateWith(kHeader + Block(1, {1, 1, 1}));
  EXPECT_EQ(HeaderStatus(*state), 0);
  EXPECT_EQ(state->data_set.title, fields::Fixed("A hand-made CAD4 set", 60));
  EXPECT_FLOAT_EQ(state->params.lambda1, 0.7093f);
  EXPECT_FLOAT_EQ(state->params.lambda2, 0.71359f);
  EXPECT_FLOAT_EQ(state->params.atten, 8.0f);
  EXPECT_EQ(state->data_set.cad4.strong_speed_code, 4);
  EXPECT_EQ(state->data_set.cad4.max_scan_time, 60);
  EXPECT_EQ(state->data_set.standards.count, 2);
  EXPECT_EQ(state->data_set.standards.entries[1].hkl, (Hkl{0, 2, 0}));
  EXPECT_EQ(state->data_set.standards.entries[0].step_count, 96);
  EXPECT_EQ(state->scan.step_count, 96);
  EXPECT_EQ(state->files.data.LineNumber(), 8);  // the first block is read next

  // Without a standards record the table is empty.
  state = StateWith("title\n 25\n" + Block(1, {1, 1, 1}));
  state->data_set.standards.count = 3;
  EXPECT_EQ(HeaderStatus(*state), 0);
  EXPECT_EQ(state->data_set.standards.count, 0);
}

TEST(Cad4Reader, BlockFillsTheRecord) {
  auto state = StateWith(kHeader + Block(7, {2, -1, 3}, "", 10, 1.9));
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  const ScanReflection& scan = state->scan;
  EXPECT_EQ(scan.seq_no, 7);
  EXPECT_EQ(scan.hkl, (Hkl{2, -1, 3}));
  EXPECT_FLOAT_EQ(scan.two_theta, 20.0f);
  EXPECT_NEAR(scan.omega_centre, 20.0f, 1e-4);
  EXPECT_NEAR(scan.chi, 0.0f, 1e-5);
  EXPECT_NEAR(scan.phi, 20.0f, 1e-4);
  EXPECT_EQ(scan.step_count, 96);
  EXPECT_FLOAT_EQ(scan.scan_width, 1.9f);
  EXPECT_FLOAT_EQ(scan.step_width, 0.02f);  // 96 steps, 95 intervals
  EXPECT_FLOAT_EQ(scan.step_time, 10.0f * 0.02f / 16.48f / 60.0f);
  EXPECT_FLOAT_EQ(scan.count_scale, 100.0f);
  EXPECT_EQ(scan.counts[0], 300.0f);
  EXPECT_EQ(scan.counts[11], 311.0f);
  EXPECT_EQ(scan.counts[12], 400.0f);
  EXPECT_EQ(scan.counts[95], 1011.0f);
}

TEST(Cad4Reader, SpeedCodesAndFlagsGiveTheInputClass) {
  // Width 2 and 60 s: m = 1, weak code e = 16; strong code 4; atten 8.
  struct Case {
    std::string flags;
    int speed_code;
    char input_class;
    InputClass counter;
  };
  const Case cases[] = {
      {"", 15, 'N', kClassWeak},      {"", 16, 'N', kClassWeak},   {"", 17, 'N', kClassWeak},
      {"", 18, 'N', kClassNormal},    {"", 14, 'N', kClassNormal}, {"", 4, 'S', kClassStrong},
      {"", -20, 'F', kClassFiltered}, {"   W", -20, 'W', kClassLT}, {"I  W", 4, 'S', kClassStandards},
  };
  std::string text = kHeader;
  int seq = 0;
  for (const Case& c : cases) {
    ++seq;
    text += Block(seq, c.flags[0] == 'I' ? Hkl{0, 2, 0} : Hkl{seq, 0, 0}, c.flags, c.speed_code, 2.0);
  }
  auto state = StateWith(text);
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  float first_rate = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("flags '" + c.flags + "' speed code " + std::to_string(c.speed_code));
    const auto before = state->data_set.input_class;
    ASSERT_EQ(ReflectionStatus(*state, state->scan.seq_no + 1), 0);
    EXPECT_EQ(state->scan.class_code[0], c.input_class);
    for (int k = 0; k < kInputClasses; ++k) EXPECT_EQ(state->data_set.input_class[k] - before[k], k == c.counter ? 1 : 0);
    // The same counts in every block: the scan's time grows with |n| and the
    // scale brings them to one rate, an attenuated scan's 8 times lower.
    const float rate = state->scan.count_scale * state->scan.step_time;
    if (first_rate == 0) first_rate = rate;
    EXPECT_NEAR(rate / first_rate, c.input_class == 'F' ? 0.125f : 1.0f, 1e-6f);
  }
  EXPECT_EQ(state->scan.standard_index, 2);

  // n = -20 with atten 8: 1000 / 20 / 8.
  ASSERT_EQ(ReflectionStatus(*state, 7), 0);
  EXPECT_FLOAT_EQ(state->scan.count_scale, 6.25f);
  EXPECT_FLOAT_EQ(state->scan.step_time, 20.0f * (2.0f / 95.0f) / 16.48f / 60.0f);  // a time, not signed
}

TEST(Cad4Reader, SkippedDamagedAndWeakBlocksArePassedOver) {
  std::string damaged = Block(3, {3, 0, 0});
  const std::size_t line5 = damaged.find("\n  5");
  damaged.replace(line5 + 20, 1, "x");  // a count of line 5 no longer converts
  const std::string text = kHeader + FirstLine(1, {9, 9, 9}, " X", 10) + "\n" + AngleLine(1, 1, 1, 1, 0, 1) + "\n" +
                           Block(2, {2, 0, 0}, "   W") + damaged + Block(4, {4, 0, 0});
  auto state = StateWith(text);
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  EXPECT_EQ(state->scan.seq_no, 2);  // the two-line block 1 is skipped
  ASSERT_EQ(ReflectionStatus(*state, 3), 0);
  EXPECT_EQ(state->scan.seq_no, 4);  // the damaged block 3 is dropped
  EXPECT_EQ(state->data_set.input_class[kClassLT], 1);

  // With "Skip weak reflns" the weak block is read, counted and passed over.
  state->data_set.skip_weak = 1;
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  EXPECT_EQ(state->scan.seq_no, 4);
  EXPECT_EQ(state->data_set.input_class[kClassLT], 2);
  EXPECT_EQ(ReflectionStatus(*state, 5), kEndOfData);
}

TEST(Cad4Reader, SteppingBackOverATwoLineBlockFindsThePreviousReflection) {
  const std::string text = kHeader + Block(1, {1, 0, 0}) + Block(2, {2, 0, 0}) + FirstLine(3, {9, 9, 9}, " X", 10) +
                           "\n" + AngleLine(3, 1, 1, 1, 0, 1) + "\n" + Block(4, {4, 0, 0}) + Block(5, {5, 0, 0});
  auto state = StateWith(text);
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  ASSERT_EQ(ReflectionStatus(*state, 2), 0);
  ASSERT_EQ(ReflectionStatus(*state, 4), 0);
  ASSERT_EQ(ReflectionStatus(*state, 5), 0);
  ASSERT_EQ(ReflectionStatus(*state, state->scan.seq_no - 1), 0);
  EXPECT_EQ(state->scan.seq_no, 4);
  ASSERT_EQ(ReflectionStatus(*state, state->scan.seq_no - 1), 0);
  EXPECT_EQ(state->scan.seq_no, 4);  // 3 is a skipped block: the first at or after it
  ASSERT_EQ(ReflectionStatus(*state, 0, {2, 0, 0}), 0);
  EXPECT_EQ(state->scan.seq_no, 2);
  ASSERT_EQ(ReflectionStatus(*state, state->scan.seq_no - 1), 0);
  EXPECT_EQ(state->scan.seq_no, 1);
}

// A file that cannot be read: the reader's message and the true number of
// the line it names.
struct BrokenFile {
  const char* name;
  std::string text;
  const char* message;
  int line;
};

TEST(Cad4Reader, BrokenHeadersGiveTheirMessageAndLine) {
  std::string eleven = "title\n 27\n";
  for (int i = 0; i < 11; ++i) eleven += "  0    1  0" + FormatInt(i, 3) + "\n";
  const BrokenFile files[] = {
      // Records that do not belong in a header.
      {"record type 5", "title\n 32\n  5\n", "Error reading file header at line 3", 3},
      {"type 0 outside the standards list", "title\n  0    1  0  0\n", "Error reading file header at line 2", 2},
      {"eleven standards", eleven + " 28\n", "More than 10 standards at line 13", 13},
      // Fields that do not convert.
      {"letters in a record type", "title\n 2x\n", "Error reading file header at line 2", 2},
      {"letters in a wavelength", "title\n 32" + fields::Blanks(31) + "  0.7x930\n",
       "Error reading file header at line 2", 2},
      // The file ends: the line read last, none in an empty file.
      {"end of file", "title\n 32\n", "Error reading file header at line 2", 2},
      {"empty file", "", "Error reading file header at line 0", 0},
  };
  for (const BrokenFile& f : files) {
    SCOPED_TRACE(f.name);
    auto state = StateWith(f.text);
    EXPECT_TRUE(FailedWith(ReadCad4Header(engine::PartsOf(*state)), f.message, f.line));
  }
  EXPECT_TRUE(script::Boxes().empty());  // the reader shows nothing
}

TEST(Cad4Reader, BrokenBlocksGiveTheirMessageAndLine) {
  std::string swapped = Block(2, {2, 0, 0});
  const std::size_t line4 = swapped.find("\n  4");
  const std::size_t line5 = swapped.find("\n  5");
  const std::size_t line6 = swapped.find("\n  6");
  swapped = swapped.substr(0, line4) + swapped.substr(line5, line6 - line5) + swapped.substr(line4, line5 - line4) +
            swapped.substr(line6);
  // Block 2 with `text` over columns `first_col`.. of its angle line (line 20).
  auto with_angle = [](int first_col, const std::string& text) {
    std::string block = Block(2, {2, 0, 0});
    block.replace(block.find("\n  2") + first_col, text.size(), text);
    return block;
  };
  // The header takes lines 1-8 and block 1 lines 9-18: block 2 begins at 19.
  const BrokenFile files[] = {
      // Angles and widths beyond the instrument, however written.
      {"theta 1e10", Block(1, {1, 0, 0}) + with_angle(10, " 1.0E10 "), "READ ERROR ON SCAN FILE at line 20", 20},
      {"phi 1e30", Block(1, {1, 0, 0}) + with_angle(18, "  1.0E30 "), "READ ERROR ON SCAN FILE at line 20", 20},
      {"kappa -400", Block(1, {1, 0, 0}) + with_angle(36, " -400.000"), "READ ERROR ON SCAN FILE at line 20", 20},
      {"width 1e30", Block(1, {1, 0, 0}) + with_angle(45, "1.00E30"), "READ ERROR ON SCAN FILE at line 20", 20},
      // Lines out of their place in a block.
      {"a count line where line 1 belongs", Block(1, {1, 0, 0}) + CountLine(2, 3) + "\n",
       "READ ERROR ON SCAN FILE at line 19", 19},
      {"line 2 of another block",
       Block(1, {1, 0, 0}) + FirstLine(2, {2, 0, 0}, "", 10) + "\n" + AngleLine(3, 1, 1, 1, 0, 1) + "\n",
       "READ ERROR ON SCAN FILE at line 20", 20},
      {"count lines out of order", Block(1, {1, 0, 0}) + swapped, "READ ERROR ON SCAN FILE at line 22", 22},
      // Block contents refused: named at the block's first line.
      {"an unknown standard", Block(1, {1, 0, 0}) + Block(2, {3, 0, 0}, "I"),
       "Unidentified Standard Refln at line 19", 19},
      {"speed code 0", Block(1, {1, 0, 0}) + Block(2, {2, 0, 0}, "", 0), "READ ERROR ON SCAN FILE at line 19", 19},
  };
  for (const BrokenFile& f : files) {
    SCOPED_TRACE(f.name);
    auto state = StateWith(kHeader + f.text);
    ASSERT_EQ(HeaderStatus(*state), kReadOk);
    ASSERT_EQ(ReflectionStatus(*state, 1), kReadOk);
    // After a step back the error still names the true line.
    ASSERT_EQ(ReflectionStatus(*state, 0, {1, 0, 0}), kReadOk);
    EXPECT_TRUE(FailedWith(ReadCad4Reflection(engine::PartsOf(*state), 2, {0, 0, 0}), f.message, f.line));
  }
  EXPECT_TRUE(script::Boxes().empty());
}

TEST(Cad4Reader, BlockCutShortIsNotReadInFull) {
  const std::string block = Block(2, {2, 0, 0});
  const std::string cuts[] = {
      block.substr(0, block.find("\n  4") + 1),  // count lines 4-10 missing
      block.substr(0, block.size() - 3),  // the last count line ends inside its last field
      block.substr(0, block.find("\n  2") + 30),  // inside the angle line
      block.substr(0, 26),  // inside the first line, past the indices
  };
  for (const std::string& cut : cuts) {
    SCOPED_TRACE(cut);
    auto state = StateWith(kHeader + Block(1, {1, 0, 0}) + cut);
    ASSERT_EQ(HeaderStatus(*state), kReadOk);
    ASSERT_EQ(ReflectionStatus(*state, 1), kReadOk);
    EXPECT_EQ(ReflectionStatus(*state, 2), kReadFailed);
    EXPECT_EQ(state->scan.seq_no, 2);
    EXPECT_EQ(state->scan.hkl, (Hkl{2, 0, 0}));
    EXPECT_EQ(ReflectionStatus(*state, 3), kEndOfData);
  }
  EXPECT_TRUE(script::Boxes().empty());
}

// ---- round trip through the simulator ---------------------------------------------

TEST(Cad4Reader, SimulatedSetReadsBackReflectionByReflection) {
  using namespace simulate;
  Crystal crystal;
  crystal.cell = {6.2, 8.4, 9.9, 90, 97.0, 90};
  crystal.rotation = {-15, 30, 70};
  Instrument instrument;
  instrument.atten = 12.5;
  ScanSettings scan_settings;
  scan_settings.timing = ScanTiming::kCad4SpeedCode;
  const std::vector<Standard> standards{{{1, 1, 0}, 96, 0.5}, {{0, 0, 2}, 96, 0.5}};
  std::vector<ReflectionRecipe> recipes;
  const std::pair<Hkl, ReflectionClass> kinds[] = {
      {{1, 1, 0}, ReflectionClass::kStandard}, {{2, 1, -1}, ReflectionClass::kNormal},
      {{1, -2, 3}, ReflectionClass::kWeak},    {{3, 0, 1}, ReflectionClass::kStrong},
      {{2, 2, 2}, ReflectionClass::kFiltered}, {{0, 3, -2}, ReflectionClass::kLessThan},
      {{0, 0, 2}, ReflectionClass::kStandard}, {{-3, 1, 4}, ReflectionClass::kNormal},
  };
  for (const auto& [hkl, cls] : kinds) {
    ReflectionRecipe recipe;
    recipe.hkl = hkl;
    recipe.cls = cls;
    recipe.standard_index = hkl == Hkl{1, 1, 0} ? 1 : hkl == Hkl{0, 0, 2} ? 2 : 0;
    recipe.intensity = cls == ReflectionClass::kFiltered ? 400 : 4000;
    recipe.centring_error = 0.015 * static_cast<double>(recipes.size() % 3) - 0.01;
    recipes.push_back(recipe);
  }
  const simulate::DataSet data = MakeDataSet(crystal, instrument, scan_settings, FitSettings{}, standards, recipes, 11);
  ASSERT_EQ(data.reflections.size(), recipes.size());

  const auto path = testing::ScratchDir("cad4_round_trip") / "set.dat";
  std::string error;
  ASSERT_TRUE(WriteCad4(data, path, error)) << error;
  auto state = FreshState();
  state->params.input_format = kFormatCad4;
  ASSERT_TRUE(state->files.data.Open(path.string()));
  ASSERT_EQ(HeaderStatus(*state), 0);
  EXPECT_FLOAT_EQ(state->params.atten, 12.5f);
  EXPECT_EQ(state->data_set.standards.count, 2);

  ScanReflection& scan = state->scan;
  for (const SimReflection& r : data.reflections) {
    SCOPED_TRACE(r.seq);
    ASSERT_EQ(ReflectionStatus(*state, scan.seq_no + 1), 0);
    EXPECT_EQ(scan.seq_no, r.seq);
    EXPECT_EQ(scan.hkl, r.hkl);
    EXPECT_NEAR(scan.two_theta, r.angles.two_theta, 1e-4);
    EXPECT_NEAR(scan.chi, r.angles.chi, 2e-3);
    EXPECT_NEAR(scan.phi, r.angles.phi, 2e-3);
    ASSERT_EQ(scan.step_count, 96);
    for (int i = 0; i < 96; ++i) {
      ASSERT_EQ(scan.counts[i], static_cast<float>(r.counts[i])) << "step " << i + 1;
      const double centre = r.omega_centre - r.scan_width / 2 + (i + 0.5) * r.step_width;
      ASSERT_NEAR(scan.step_position[i], centre, 2e-3) << "step " << i + 1;
    }
    const char expected_class[] = {'W', 'N', 'N', 'S', 'S', 'F'};  // in ReflectionClass order
    EXPECT_EQ(scan.class_code[0], expected_class[static_cast<int>(r.cls)]);
    EXPECT_EQ(scan.standard_index, r.standard_index);
    // The speed code gives the scale the data set's counts were drawn at.
    EXPECT_NEAR(scan.count_scale / r.count_scale, 1.0, 1e-6);
  }
  EXPECT_EQ(state->data_set.input_class, (std::array<int, kInputClasses>{1, 1, 2, 1, 2, 1}));
  EXPECT_EQ(ReflectionStatus(*state, scan.seq_no + 1), kEndOfData);
}

}  // namespace
}  // namespace kalvex
