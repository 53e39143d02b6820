// The Single reader: the title and the omega step it is given, the step
// asked again when the file is rewound, count and continuation lines,
// passed-over angle lines, the reference step time, positioning, round trips
// through the simulator's writer, broken files.
#include <gtest/gtest.h>

#include <string>

#include "commands/session.h"
#include "engine/run.h"
#include "common/fixed_fields.h"
#include "scan/reflection_input.h"
#include "tests/scan/reading.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"
#include "ui/user_interface.h"

namespace kalvex {
namespace {

using fields::FormatInt;
using fields::FormatReal;
using testing::FailedWith;
using testing::FreshState;
using testing::HeaderStatus;
using testing::ReflectionStatus;

// Count line and continuation lines of an N-step scan with step time t;
// count i (1-based) is first + i.
std::string CountLines(int n, int t, int first = 1000) {
  std::string text = "*" + FormatInt(n, 3) + FormatInt(t, 2);
  for (int i = 1; i <= 21 * (1 + (n - 1) / 21); ++i) {
    if (i > 21 && i % 21 == 1) text += "\n" + fields::Blanks(6);
    text += i <= n ? FormatInt(first + i, 6) : fields::Blanks(6);
  }
  return text + "\n";
}

std::string AngleLine(char mark, int seq, int standard, Hkl hkl, double step_time, double two_theta = 20.0) {
  return std::string(1, mark) + FormatInt(seq, 4) + FormatInt(standard, 1) + FormatInt(hkl[0], 3) +
         FormatInt(hkl[1], 3) + FormatInt(hkl[2], 3) + FormatReal(two_theta, 8, 3) + FormatReal(-0.125, 8, 3) +
         FormatReal(45.5, 8, 3) + FormatReal(-120.25, 8, 3) + fields::Blanks(36) + FormatReal(step_time, 10, 3) +
         "\n";
}

std::string Block(int seq, Hkl hkl, int n = 30, int t = 0, double step_time = 2.0) {
  return CountLines(n, t, 1000 * seq) + AngleLine(' ', seq, 0, hkl, step_time);
}

std::unique_ptr<ProgramState> StateWith(const std::string& text) {
  auto state = FreshState();
  state->params.input_format = kFormatSingle;
  state->files.data_file_name = "crystal.dat";
  state->files.data.SetText(text);
  return state;
}

// The header with the step width the user gave when opening the file.
void ReadHeader(ProgramState& state, float step) {
  state.data_set.omega_step = step;
  ASSERT_EQ(HeaderStatus(state), kReadOk);
}

TEST(SingleReader, HeaderTitlesTheDataAndTakesTheStepWidthItIsGiven) {
  auto state = StateWith(Block(1, {1, 2, 3}));
  state->files.data_file_name = "a_rather_long_name.dat";
  state->data_set.omega_step = 0.005f;
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  EXPECT_EQ(state->data_set.title, fields::Fixed("Data from a_rather_lon", 60));
  EXPECT_EQ(state->files.data.LineNumber(), 0);  // no header lines in the file
  // The reader asks nothing of the user.
  EXPECT_TRUE(script::Boxes().empty());
  EXPECT_FALSE(script::Shown(state->widgets.omega_dialog));
  ASSERT_EQ(ReflectionStatus(*state, 1), kReadOk);
  EXPECT_FLOAT_EQ(state->scan.step_width, 0.005f);
  EXPECT_FLOAT_EQ(state->scan.scan_width, 30 * 0.005f);
}

// Opening or rewinding a Single file asks for the step width: a value below
// 0.001 is refused with a box and 0.001 offered instead.
TEST(SingleReader, RewindAsksForTheStepWidth) {
  auto state = StateWith(Block(1, {1, 2, 3}) + Block(2, {2, 0, 0}));
  ASSERT_EQ(ReflectionStatus(*state, 2), kReadOk);
  script::QueueNumber(state->widgets.omega_value, 0.0009f);
  script::QueueClick(kCodeOmegaOk);
  script::QueueCall([&] { EXPECT_FLOAT_EQ(script::Number(state->widgets.omega_value), 0.001f); });
  script::QueueClick(kCodeOmegaOk);
  engine::Run run(*state, WindowEvents(*state));
  ASSERT_TRUE(RewindDataFile(*state, run));
  EXPECT_FLOAT_EQ(state->data_set.omega_step, 0.001f);
  EXPECT_EQ(state->data_set.title, fields::Fixed("Data from crystal.dat", 60));
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "WinKalvex");
  EXPECT_EQ(script::Boxes()[0].message, "  Step size too small");
  EXPECT_FALSE(script::Shown(state->widgets.omega_dialog));
  EXPECT_EQ(state->files.data.LineNumber(), 0);
  ASSERT_EQ(ReflectionStatus(*state, 1), kReadOk);
  EXPECT_EQ(state->scan.seq_no, 1);
  EXPECT_FLOAT_EQ(state->scan.step_width, 0.001f);
}

TEST(SingleReader, CountAndContinuationLinesFillTheScan) {
  const std::string text = CountLines(21, 0) + AngleLine(' ', 1, 0, {1, 0, 0}, 2.0) +  //
                           CountLines(22, 0) + AngleLine(' ', 2, 3, {0, 1, 0}, 2.0) +  //
                           CountLines(43, 0) + AngleLine(' ', 3, 0, {0, 0, 1}, 2.0);
  auto state = StateWith(text);
  ReadHeader(*state, 0.02f);
  ScanReflection& scan = state->scan;
  scan.class_code[0] = 'x';

  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  EXPECT_EQ(state->files.data.LineNumber(), 2);  // no continuation line
  EXPECT_EQ(scan.step_count, 21);
  EXPECT_EQ(scan.counts[20], 1021.0f);
  EXPECT_EQ(scan.hkl, (Hkl{1, 0, 0}));
  EXPECT_FLOAT_EQ(scan.two_theta, 20.0f);
  EXPECT_FLOAT_EQ(scan.omega_centre, -0.125f);
  EXPECT_FLOAT_EQ(scan.chi, 45.5f);
  EXPECT_FLOAT_EQ(scan.phi, -120.25f);
  EXPECT_FLOAT_EQ(scan.step_width, 0.02f);
  EXPECT_FLOAT_EQ(scan.scan_width, 21 * 0.02f);

  ASSERT_EQ(ReflectionStatus(*state, 2), 0);
  EXPECT_EQ(state->files.data.LineNumber(), 5);  // one continuation line
  EXPECT_EQ(scan.counts[21], 1022.0f);
  EXPECT_EQ(scan.standard_index, 3);  // the file's digit

  ASSERT_EQ(ReflectionStatus(*state, 3), 0);
  EXPECT_EQ(scan.step_count, 43);
  EXPECT_EQ(scan.counts[42], 1043.0f);
  EXPECT_NEAR(scan.step_position[0], -0.125 - 43 * 0.02 / 2 + 0.01, 1e-6);

  // Single files classify nothing.
  EXPECT_EQ(scan.class_code[0], 'x');
  EXPECT_EQ(state->data_set.input_class, (std::array<int, kInputClasses>{}));
}

TEST(SingleReader, StepTimesScaleToTheFirstReflectionReadSinceStartUp) {
  const std::string text = Block(1, {1, 0, 0}, 30, 0, 2.0) +  // angle line's time
                           Block(2, {2, 0, 0}, 30, 4, 2.0) +  // the count line's t wins
                           CountLines(30, 0) + AngleLine('*', 3, 0, {9, 9, 9}, 8.0) +
                           AngleLine(' ', 3, 0, {3, 0, 0}, 1.0, 30.0);  // the marked line is passed over
  auto state = StateWith(text);
  ReadHeader(*state, 0.01f);
  ScanReflection& scan = state->scan;
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  EXPECT_FLOAT_EQ(scan.step_time, 2.0f);
  EXPECT_FLOAT_EQ(scan.count_scale, 1.0f);
  ASSERT_EQ(ReflectionStatus(*state, 2), 0);
  EXPECT_FLOAT_EQ(scan.step_time, 4.0f);
  EXPECT_FLOAT_EQ(scan.count_scale, 0.5f);
  ASSERT_EQ(ReflectionStatus(*state, 3), 0);
  EXPECT_EQ(scan.hkl, (Hkl{3, 0, 0}));
  EXPECT_FLOAT_EQ(scan.two_theta, 30.0f);
  EXPECT_FLOAT_EQ(scan.step_time, 1.0f);
  EXPECT_FLOAT_EQ(scan.count_scale, 2.0f);

  // A file opened later keeps the reference time of the first one.
  state->files.data.SetText(Block(1, {1, 0, 0}, 30, 0, 8.0));
  ReadHeader(*state, 0.01f);
  scan.seq_no = 0;
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  EXPECT_FLOAT_EQ(scan.count_scale, 0.25f);
}

TEST(SingleReader, PositioningRequestsFindTheirReflection) {
  // Scans of different lengths: stepping back by the current block's length
  // would land inside the previous block.
  const std::string text = Block(1, {1, 0, 0}, 100) + Block(2, {2, 0, 0}, 10) + Block(3, {3, 0, 0}, 64) +
                           Block(4, {4, 0, 0}, 21) + Block(5, {5, 0, 0}, 150);
  auto state = StateWith(text);
  ReadHeader(*state, 0.02f);
  ScanReflection& scan = state->scan;
  for (int seq = 1; seq <= 4; ++seq) ASSERT_EQ(ReflectionStatus(*state, scan.seq_no + 1), 0);
  ASSERT_EQ(ReflectionStatus(*state, scan.seq_no - 1), 0);
  EXPECT_EQ(scan.seq_no, 3);
  EXPECT_EQ(scan.counts[63], 3064.0f);
  ASSERT_EQ(ReflectionStatus(*state, scan.seq_no - 1), 0);
  EXPECT_EQ(scan.seq_no, 2);
  ASSERT_EQ(ReflectionStatus(*state, 5), 0);
  EXPECT_EQ(scan.step_count, 150);
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  EXPECT_EQ(scan.seq_no, 1);
  ASSERT_EQ(ReflectionStatus(*state, 0, {4, 0, 0}), 0);
  EXPECT_EQ(scan.seq_no, 4);
  EXPECT_EQ(ReflectionStatus(*state, 0, {6, 0, 0}), kEndOfData);
}

TEST(SingleReader, SimulatedSetReadsBackReflectionByReflection) {
  using namespace simulate;
  Crystal crystal;
  crystal.cell = {5.9, 7.7, 12.4, 90, 90, 90};
  crystal.rotation = {25, 5, -60};
  ScanSettings settings;
  settings.width_a = 1.6;
  settings.width_b = 0;  // Single files hold one step width
  settings.steps = 80;
  settings.standard_steps = 80;
  const std::vector<Standard> standards{{{0, 2, 0}, 80, 0.6}};
  std::vector<ReflectionRecipe> recipes;
  const std::pair<Hkl, ReflectionClass> kinds[] = {
      {{1, 1, 1}, ReflectionClass::kNormal}, {{0, 2, 0}, ReflectionClass::kStandard},
      {{2, -1, 3}, ReflectionClass::kWeak},  {{3, 1, -2}, ReflectionClass::kFiltered},
      {{1, 3, 5}, ReflectionClass::kStrong},
  };
  for (const auto& [hkl, cls] : kinds) {
    ReflectionRecipe recipe;
    recipe.hkl = hkl;
    recipe.cls = cls;
    recipe.standard_index = cls == ReflectionClass::kStandard ? 1 : 0;
    recipe.intensity = cls == ReflectionClass::kFiltered ? 90000 : 900;
    recipe.centring_error = 0.02 * static_cast<double>(recipes.size()) - 0.04;
    recipes.push_back(recipe);
  }
  const simulate::DataSet data = MakeDataSet(crystal, Instrument{}, settings, FitSettings{}, standards, recipes, 5);
  ASSERT_EQ(data.reflections.size(), recipes.size());

  const auto path = testing::ScratchDir("single_round_trip") / "set.dat";
  std::string error;
  ASSERT_TRUE(WriteSingle(data, path, error)) << error;
  auto state = FreshState();
  state->params.input_format = kFormatSingle;
  ASSERT_TRUE(state->files.data.Open(path.string()));
  ReadHeader(*state, static_cast<float>(data.reflections[0].step_width));

  ScanReflection& scan = state->scan;
  const double first_scale = data.reflections[0].count_scale;
  for (const SimReflection& r : data.reflections) {
    SCOPED_TRACE(r.seq);
    ASSERT_EQ(ReflectionStatus(*state, scan.seq_no + 1), 0);
    EXPECT_EQ(scan.seq_no, r.seq);
    EXPECT_EQ(scan.hkl, r.hkl);
    EXPECT_EQ(scan.standard_index, r.standard_index);
    EXPECT_NEAR(scan.two_theta, r.angles.two_theta, 1e-4);
    EXPECT_NEAR(scan.chi, r.angles.chi, 1e-3);
    EXPECT_NEAR(scan.phi, r.angles.phi, 1e-3);
    ASSERT_EQ(scan.step_count, r.step_count);
    for (int i = 0; i < r.step_count; ++i) {
      ASSERT_EQ(scan.counts[i], static_cast<float>(r.counts[i])) << "step " << i + 1;
      const double centre = r.omega_centre - r.scan_width / 2 + (i + 0.5) * r.step_width;
      ASSERT_NEAR(scan.step_position[i], centre, 2e-4) << "step " << i + 1;
    }
    // The scale survives as the ratio to the first reflection's.
    EXPECT_NEAR(scan.count_scale, r.count_scale / first_scale, 1e-4 * r.count_scale / first_scale);
    EXPECT_EQ(scan.class_code[0], ' ');
  }
  EXPECT_EQ(ReflectionStatus(*state, scan.seq_no + 1), kEndOfData);
}

// A file that cannot be read: the reader's message and the true number of
// the line it names.
struct BrokenFile {
  const char* name;
  std::string text;
  const char* message;
  int line;
};

TEST(SingleReader, BrokenFilesGiveTheirMessageAndLine) {
  std::string short_continuation = CountLines(30, 0);
  short_continuation.replace(short_continuation.find('\n') + 10, 1, "x");
  // Block 2's angle line (line 5) with `text` over columns `first_col`..
  auto with_angle = [](int first_col, const std::string& text) {
    return Block(1, {1, 0, 0}) + CountLines(3, 0) +
           AngleLine(' ', 2, 0, {2, 0, 0}, 2.0).replace(first_col - 1, text.size(), text);
  };
  // Block 1 (30 counts) takes lines 1-3: block 2 begins at 4.
  const BrokenFile files[] = {
      // Count lines.
      {"a count line without its star", Block(1, {1, 0, 0}) + "  30 0" + CountLines(30, 0).substr(6),
       "Error reading datafile at line 4", 4},
      {"no step count", Block(1, {1, 0, 0}) + "*  0 0\n", "Error reading datafile at line 4", 4},
      {"letters in a count", Block(1, {1, 0, 0}) + short_continuation + AngleLine(' ', 2, 0, {2, 0, 0}, 2.0),
       "Error reading datafile at line 5", 5},
      // Angle lines.
      {"letters in an index", with_angle(13, "1x"), "Error reading datafile at line 5", 5},
      // Angles beyond the instrument, however written.
      {"2theta of 1e10", with_angle(16, " 1.0E10 "), "Error reading datafile at line 5", 5},
      {"phi of 720", with_angle(40, " 720.000"), "Error reading datafile at line 5", 5},
      {"no step time", Block(1, {1, 0, 0}) + CountLines(5, 0) + AngleLine(' ', 2, 0, {2, 0, 0}, 0.0),
       "Error reading datafile at line 5", 5},
      // A scan longer than the record, named once its angle line is read.
      {"more than 200 steps", Block(1, {1, 0, 0}) + CountLines(230, 0) + AngleLine(' ', 12, 0, {2, 0, 0}, 2.0),
       "Reflection 12 has more than 200 steps at line 15", 15},
  };
  for (const BrokenFile& f : files) {
    SCOPED_TRACE(f.name);
    auto state = StateWith(f.text);
    ReadHeader(*state, 0.02f);
    ASSERT_EQ(ReflectionStatus(*state, 1), kReadOk);
    EXPECT_TRUE(FailedWith(ReadSingleReflection(engine::PartsOf(*state), 2, {0, 0, 0}), f.message, f.line));
  }
  EXPECT_TRUE(script::Boxes().empty());  // the reader shows nothing
}

TEST(SingleReader, BlockCutShortIsNotReadInFull) {
  // 25 counts: a count line and one continuation line of 4 counts, then the angle line.
  std::string block = CountLines(25, 0, 2000);
  block = block.substr(0, block.find('\n') + 1 + 6 + 4 * 6) + "\n" + AngleLine(' ', 2, 0, {2, 1, 0}, 2.0);
  struct Cut {
    std::string text;
    int seq_no;
    Hkl hkl;
  };
  const std::size_t angle_line = block.rfind('\n', block.size() - 2) + 1;
  const Cut cuts[] = {
      {block.substr(0, angle_line), 0, {0, 0, 0}},              // the angle line is missing
      {block.substr(0, block.find('\n') + 20), 0, {0, 0, 0}},  // inside the continuation line
      {block.substr(0, angle_line + 59), 2, {2, 1, 0}},          // the angle line ends before its step time
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.text);
    auto state = StateWith(Block(1, {1, 0, 0}) + cut.text);
    ReadHeader(*state, 0.02f);
    ASSERT_EQ(ReflectionStatus(*state, 1), kReadOk);
    EXPECT_EQ(ReflectionStatus(*state, 2), kReadFailed);
    EXPECT_EQ(state->scan.seq_no, cut.seq_no);  // its number and indices as far as read
    EXPECT_EQ(state->scan.hkl, cut.hkl);
    EXPECT_EQ(ReflectionStatus(*state, state->scan.seq_no + 1), kEndOfData);
  }
}

}  // namespace
}  // namespace kalvex
