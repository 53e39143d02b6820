// The Xscans reader: the count decoder against hand-checked encodings, round
// trips through the simulator's writer, positioning, and broken files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/fixed_fields.h"
#include "scan/reflection_input.h"
#include "scan/xscans.h"
#include "tests/scan/reading.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

using testing::FailedWith;
using testing::FreshState;
using testing::HeaderStatus;
using testing::ReflectionStatus;

// ---- decoder ------------------------------------------------------------------

TEST(XscansDecoder, TerminatorsTakeTheirPlaceInTheTableAndEverythingElseIsZero) {
  const std::string terminators = "0123456789`~!@#$%^&*()-_=+|\\[{]};:'\",<.>/?";
  for (std::size_t i = 0; i < terminators.size(); ++i) EXPECT_EQ(TerminatorValue(terminators[i]), int(i)) << terminators[i];
  for (char c : std::string("AZaz \t")) EXPECT_EQ(TerminatorValue(c), 0) << int(c);
  EXPECT_EQ(TerminatorValue(static_cast<char>(0xE9)), 0);
}

TEST(XscansDecoder, LetterRunsAreBase52TimesFortyTwo) {
  EXPECT_EQ(DecodeLetterRun(""), 0);
  EXPECT_EQ(DecodeLetterRun("B"), 42);
  EXPECT_EQ(DecodeLetterRun("C"), 84);
  EXPECT_EQ(DecodeLetterRun("BA"), (1 * 52 + 0) * 42);
  EXPECT_EQ(DecodeLetterRun("a"), 26 * 42);
  EXPECT_EQ(DecodeLetterRun("zz"), (51 * 52 + 51) * 42);
  EXPECT_EQ(DecodeLetterRun("AAB"), 42);  // leading zeros change nothing
  EXPECT_EQ(DecodeLetterRun("zzzzzzzz"), (std::llround(std::pow(52.0, 8)) - 1) * 42);
  EXPECT_EQ(DecodeLetterRun("BAAAAAAAA"), -1);  // longer than any count
}

struct Decoded {
  int status;
  std::array<float, kMaxSteps> counts;
};

Decoded Decode(const std::string& text, int step_count) {
  textfile::LineSource lines;
  lines.SetText(text);
  Decoded d{0, {}};
  d.counts.fill(-1.0f);
  d.status = ReadEncodedCounts(lines, step_count, d.counts);
  return d;
}

TEST(XscansDecoder, CountLinesIgnoreBlanksAndCarryRunsOverTheLineEnd) {
  Decoded d = Decode("7 B0  C}\n", 3);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.counts[0], 7.0f);
  EXPECT_EQ(d.counts[1], 42.0f);
  EXPECT_EQ(d.counts[2], 115.0f);
  EXPECT_EQ(d.counts[3], -1.0f);

  d = Decode("BA5a?B\n0\n", 3);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.counts[0], 2189.0f);
  EXPECT_EQ(d.counts[1], 1133.0f);
  EXPECT_EQ(d.counts[2], 42.0f);

  // Only the first 80 columns are count columns.
  d = Decode(std::string(79, ' ') + "12\n3\n", 2);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.counts[0], 1.0f);
  EXPECT_EQ(d.counts[1], 3.0f);
}

TEST(XscansDecoder, ATerminatorPastTheStepCountIsStoredButNeverPastTheRecord) {
  Decoded d = Decode("123\n", 2);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.counts[2], 3.0f);

  // 200 steps and five more counts on the last line: the record keeps 200.
  d = Decode(std::string(80, '1') + "\n" + std::string(80, '2') + "\n" + std::string(45, '3') + "\n", kMaxSteps);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.counts[79], 1.0f);
  EXPECT_EQ(d.counts[159], 2.0f);
  EXPECT_EQ(d.counts[199], 3.0f);

  // A step count beyond the record is read as far as the record goes.
  d = Decode(std::string(80, '4') + "\n" + std::string(80, '4') + "\n" + std::string(80, '4') + "\n", 500);
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.counts[199], 4.0f);
}

TEST(XscansDecoder, EndOfFileAndForeignCharactersFailTheCounts) {
  EXPECT_EQ(Decode("12\n", 3).status, 1);
  EXPECT_EQ(Decode("", 1).status, 1);
  EXPECT_EQ(Decode("1\t2\n", 2).status, 1);
  EXPECT_EQ(Decode("1\xC3\xA9" "2\n", 2).status, 1);
  EXPECT_EQ(Decode("BBBBBBBBB0\n", 1).status, 1);
}

// ---- reader -------------------------------------------------------------------

// Header lines in their columns.
std::string CheckLine(int standards, int steps) {
  char text[64];
  std::snprintf(text, sizeof text, "CHECKR%4d%28s%3d", standards, "", steps);
  return text;
}

std::string StandardLine(int k, Hkl hkl) {
  char text[64];
  std::snprintf(text, sizeof text, "CHECKN%6d%4d%4d%4d", k, hkl[0], hkl[1], hkl[2]);
  return text;
}

const std::string kHeader = "TITLE Two standards and a filtered scan\n" + CheckLine(2, 4) + "\n" +
                            StandardLine(1, {1, 0, 0}) + "\n" + StandardLine(2, {0, 2, 0}) +
                            "\nSOURCE                  0.70930   0.71359\n"
                            "DETECT                                         8.000\n"
                            "something the reader ignores\n"
                            "DATA\n";

// Reflection line: seq 2-7, hkl 8-19, 2theta omega phi chi 20-51, w 52-56, v 57-64.
std::string Line(int seq, Hkl hkl, double two_theta, double omega, double phi, double chi, double width,
                 double speed) {
  char text[80];
  std::snprintf(text, sizeof text, "  %5d%4d%4d%4d%8.2f%8.2f%8.2f%8.2f%5.2f%8.2f", seq, hkl[0], hkl[1], hkl[2],
                two_theta, omega, phi, chi, width, speed);
  return text;
}

std::string Line(int seq, Hkl hkl) { return Line(seq, hkl, 20, 10, 0, 0, 1.5, 1); }

std::unique_ptr<ProgramState> StateWith(const std::string& text, int format = kFormatXscans) {
  auto state = FreshState();
  state->params.input_format = format;
  state->files.data.SetText(text);
  return state;
}

TEST(XscansReader, HeaderKeywordsInAnyOrderFillTheDataSet) {
  auto state = StateWith(kHeader);
  EXPECT_EQ(HeaderStatus(*state), 0);
  EXPECT_EQ(fields::TrimRight(state->data_set.title), "Two standards and a filtered scan");
  EXPECT_EQ(state->data_set.title.size(), 60u);
  EXPECT_EQ(state->data_set.standards.count, 2);
  EXPECT_EQ(state->data_set.standards.entries[1].hkl, (Hkl{0, 2, 0}));
  EXPECT_EQ(state->data_set.standards.entries[0].step_count, 4);
  EXPECT_EQ(state->scan.step_count, 4);
  EXPECT_FLOAT_EQ(state->params.lambda1, 0.7093f);
  EXPECT_FLOAT_EQ(state->params.lambda2, 0.71359f);
  EXPECT_FLOAT_EQ(state->params.iratio, 0.5f);
  EXPECT_EQ(state->params.n_wavelengths, 2);
  EXPECT_FLOAT_EQ(state->params.atten, 8.0f);
  EXPECT_EQ(state->files.data.LineNumber(), 8);
}

TEST(XscansReader, FilteredStandardAndOrdinaryLinesScaleAndClassAsWritten) {
  const std::string text = std::string(kHeader) +
                           Line(1, {3, 1, 2}, 20, 11, 30, -40, 1.5, 2.5) + "\n1234\n" +
                           Line(2, {3, 1, 3}, 24, 12.5, 31, -41, -1.2, 2) + "\nB0C}a?9\n" +
                           Line(-3, {0, 2, 0}, 18, 9, 32, -42, -0.9, 5) + "\n1111\n";
  auto state = StateWith(text);
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  ScanReflection& scan = state->scan;
  scan.class_code[0] = 'x';

  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  EXPECT_EQ(scan.seq_no, 1);
  EXPECT_EQ(scan.hkl, (Hkl{3, 1, 2}));
  EXPECT_FLOAT_EQ(scan.two_theta, 20.0f);
  EXPECT_FLOAT_EQ(scan.omega_centre, 1.0f);  // omega - 2theta / 2
  EXPECT_FLOAT_EQ(scan.phi, 30.0f);
  EXPECT_FLOAT_EQ(scan.chi, -40.0f);
  EXPECT_FLOAT_EQ(scan.scan_width, 1.5f);
  EXPECT_FLOAT_EQ(scan.step_width, 0.5f);  // 4 steps, 3 intervals
  EXPECT_FLOAT_EQ(scan.count_scale, 2.5f);
  EXPECT_FLOAT_EQ(scan.step_time, 60.0f / 2.5f / 4.0f);
  EXPECT_EQ(scan.class_code[0], 'x');  // only attenuated scans are classed
  EXPECT_EQ(scan.standard_index, 0);
  EXPECT_EQ(scan.counts[3], 4.0f);

  ASSERT_EQ(ReflectionStatus(*state, scan.seq_no + 1), 0);
  EXPECT_EQ(scan.class_code[0], 'F');
  EXPECT_FLOAT_EQ(scan.scan_width, 1.2f);
  EXPECT_FLOAT_EQ(scan.count_scale, 2.0f * 8.0f);
  EXPECT_EQ(scan.counts[0], 42.0f);
  EXPECT_EQ(scan.counts[1], 115.0f);
  EXPECT_EQ(scan.counts[2], 1133.0f);
  EXPECT_EQ(scan.counts[3], 9.0f);
  EXPECT_EQ(state->data_set.input_class[kClassFiltered], 1);

  ASSERT_EQ(ReflectionStatus(*state, scan.seq_no + 1), 0);
  EXPECT_EQ(scan.seq_no, 3);
  EXPECT_EQ(scan.standard_index, 2);
  EXPECT_FLOAT_EQ(scan.count_scale, 8.0f);  // 1 for a standard, times atten
  EXPECT_EQ(state->data_set.input_class[kClassFiltered], 2);
  EXPECT_EQ(state->data_set.input_class[kClassStandards], 0);

  EXPECT_EQ(ReflectionStatus(*state, scan.seq_no + 1), kEndOfData);
}

TEST(XscansReader, CountsCutShortByTheEndOfTheFileGiveStatus11) {
  auto state = StateWith(std::string(kHeader) + Line(1, {1, 1, 1}) +
                         "\n12\n");
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  EXPECT_EQ(ReflectionStatus(*state, 1), kReadFailed);
  EXPECT_EQ(state->scan.hkl, (Hkl{1, 1, 1}));
  EXPECT_EQ(ReflectionStatus(*state, state->scan.seq_no + 1), kEndOfData);
}

TEST(XscansReader, FormatsZeroAndSevenReadTheFileAsXscans) {
  const std::string text =
      std::string(kHeader) + Line(1, {1, 2, 3}) + "\n1234\n";
  for (int format : {0, 7}) {
    auto state = StateWith(text, format);
    EXPECT_EQ(HeaderStatus(*state), 0);
    EXPECT_EQ(state->data_set.standards.count, 2);
    ASSERT_EQ(ReflectionStatus(*state, 1), 0);
    EXPECT_EQ(state->scan.hkl, (Hkl{1, 2, 3}));
    EXPECT_EQ(state->scan.counts[2], 3.0f);
  }
}

// ---- round trip and positioning through the simulator -----------------------

simulate::DataSet SimulatedSet(int steps) {
  using namespace simulate;
  Crystal crystal;
  crystal.cell = {7.5, 9.1, 11.3, 90, 101.5, 90};
  crystal.rotation = {10, -20, 35};
  ScanSettings scan;
  scan.steps = steps;
  scan.standard_steps = steps;
  const std::vector<Standard> standards{{{2, 0, 0}, steps, 0.4}, {{0, 2, 1}, steps, 0.4}};
  std::vector<ReflectionRecipe> recipes;
  auto add = [&](Hkl hkl, ReflectionClass cls, double intensity, int standard = 0) {
    ReflectionRecipe recipe;
    recipe.hkl = hkl;
    recipe.cls = cls;
    recipe.intensity = intensity;
    recipe.standard_index = standard;
    recipe.centring_error = 0.01 * static_cast<double>(recipes.size() % 3);
    recipes.push_back(recipe);
  };
  add({2, 0, 0}, ReflectionClass::kStandard, 500, 1);
  add({1, 1, 0}, ReflectionClass::kNormal, 300);
  add({1, -1, 2}, ReflectionClass::kFiltered, 400000);
  add({3, 2, -1}, ReflectionClass::kWeak, 10);
  add({0, 2, 1}, ReflectionClass::kStandard, 500, 2);
  add({4, 1, 3}, ReflectionClass::kStrong, 2000);
  add({2, 3, -4}, ReflectionClass::kLessThan, 1);
  return MakeDataSet(crystal, Instrument{}, scan, FitSettings{}, standards, recipes, 7);
}

std::unique_ptr<ProgramState> OpenWritten(const simulate::DataSet& data, const std::string& name) {
  const auto path = testing::ScratchDir(name) / "set.p4t";
  std::string error;
  EXPECT_TRUE(simulate::WriteXscans(data, path, error)) << error;
  auto state = FreshState();
  state->params.input_format = kFormatXscans;
  EXPECT_TRUE(state->files.data.Open(path.string()));
  EXPECT_EQ(HeaderStatus(*state), 0);
  return state;
}

TEST(XscansReader, SimulatedSetReadsBackReflectionByReflection) {
  const simulate::DataSet data = SimulatedSet(96);
  auto state = OpenWritten(data, "xscans_round_trip");
  ScanReflection& scan = state->scan;
  EXPECT_EQ(state->data_set.standards.count, 2);
  EXPECT_FLOAT_EQ(state->params.atten, 15.4f);
  for (const simulate::SimReflection& r : data.reflections) {
    scan.class_code[0] = ' ';
    ASSERT_EQ(ReflectionStatus(*state, scan.seq_no + 1), 0) << r.seq;
    EXPECT_EQ(scan.seq_no, r.seq);
    EXPECT_EQ(scan.hkl, r.hkl);
    EXPECT_NEAR(scan.two_theta, r.angles.two_theta, 1e-4);
    EXPECT_NEAR(scan.chi, r.angles.chi, 1e-3);
    EXPECT_NEAR(scan.phi, r.angles.phi, 1e-3);
    ASSERT_EQ(scan.step_count, r.step_count);
    for (int i = 0; i < r.step_count; ++i) {
      ASSERT_EQ(scan.counts[i], static_cast<float>(r.counts[i])) << r.seq << " step " << i + 1;
      const double centre = r.omega_centre - r.scan_width / 2 + (i + 0.5) * r.step_width;
      // Widths of attenuated scans carry two decimals after their sign.
      ASSERT_NEAR(scan.step_position[i], centre, r.cls == simulate::ReflectionClass::kFiltered ? 5e-3 : 5e-4);
    }
    const bool filtered = r.cls == simulate::ReflectionClass::kFiltered;
    EXPECT_EQ(scan.class_code[0], filtered ? 'F' : ' ');
    if (r.cls == simulate::ReflectionClass::kStandard) {
      EXPECT_EQ(scan.standard_index, r.standard_index);
      EXPECT_FLOAT_EQ(scan.count_scale, 1.0f);
      EXPECT_NEAR(scan.step_time, r.step_time, 1e-4);
    } else {
      EXPECT_EQ(scan.standard_index, 0);
      EXPECT_NEAR(scan.count_scale, r.count_scale, 1e-3 * r.count_scale);
    }
  }
  EXPECT_EQ(state->data_set.input_class[kClassFiltered], 1);
  EXPECT_EQ(ReflectionStatus(*state, scan.seq_no + 1), kEndOfData);
}

TEST(XscansReader, PositioningRequestsFindTheirReflection) {
  // 200 steps fill about eight count lines: ten lines back would not reach
  // the previous reflection.
  const simulate::DataSet data = SimulatedSet(200);
  auto state = OpenWritten(data, "xscans_positioning");
  ScanReflection& scan = state->scan;
  ASSERT_EQ(ReflectionStatus(*state, 1), 0);
  ASSERT_EQ(ReflectionStatus(*state, 2), 0);
  ASSERT_EQ(ReflectionStatus(*state, 3), 0);
  ASSERT_EQ(ReflectionStatus(*state, 4), 0);

  ASSERT_EQ(ReflectionStatus(*state, scan.seq_no - 1), 0);
  EXPECT_EQ(scan.seq_no, 3);
  EXPECT_EQ(scan.hkl, data.reflections[2].hkl);
  EXPECT_EQ(scan.counts[199], static_cast<float>(data.reflections[2].counts[199]));

  ASSERT_EQ(ReflectionStatus(*state, 6), 0);  // forward, skipping 4 and 5
  EXPECT_EQ(scan.seq_no, 6);
  ASSERT_EQ(ReflectionStatus(*state, 2), 0);  // back further: from the start
  EXPECT_EQ(scan.seq_no, 2);
  ASSERT_EQ(ReflectionStatus(*state, 0, data.reflections[5].hkl), 0);  // by indices
  EXPECT_EQ(scan.seq_no, 6);
  ASSERT_EQ(ReflectionStatus(*state, 6), 0);  // forward requests go at least to seq_no + 1
  EXPECT_EQ(scan.seq_no, 7);
  ASSERT_EQ(ReflectionStatus(*state, 4), 0);
  EXPECT_EQ(scan.seq_no, 4);
  EXPECT_EQ(ReflectionStatus(*state, 0, {9, 9, 9}), kEndOfData);
}

// ---- broken files ---------------------------------------------------------------

// A file that cannot be read: the reader's message and the true number of
// the line it names.
struct BrokenFile {
  const char* name;
  std::string text;
  const char* message;
  int line;
};

TEST(XscansReader, BrokenHeadersGiveTheirMessageAndLine) {
  const std::string good_line = Line(1, {1, 1, 1});
  const BrokenFile files[] = {
      // The CHECKR line: missing, or out of the record's bounds.
      {"no CHECKR line", "TITLE x\nDATA\n" + good_line + "\n1234\n", "ERROR READING DATAFILE HEADER at line 2", 2},
      {"one step", CheckLine(0, 1) + "\nDATA\n", "ERROR READING DATAFILE HEADER at line 1", 1},
      {"201 steps", CheckLine(0, 201) + "\nDATA\n", "More than 200 steps per scan at line 1", 1},
      {"eleven standards", CheckLine(11, 96) + "\nDATA\n", "More than 10 standards at line 1", 1},
      {"standard number 11", CheckLine(1, 96) + "\n" + StandardLine(11, {1, 0, 0}) + "\nDATA\n",
       "More than 10 standards at line 2", 2},
      // Keyword lines cut short, a field that does not convert.
      {"short CHECKR", "CHECKR   1\nDATA\n", "UNEXPECTED EOF IN DATAFILE HEADER at line 1", 1},
      {"short SOURCE", "SOURCE                  0.70930\nDATA\n", "UNEXPECTED EOF IN DATAFILE HEADER at line 1", 1},
      {"letters in a step count", CheckLine(1, 96).replace(40, 1, "x") + "\nDATA\n",
       "ERROR READING DATAFILE HEADER at line 1", 1},
      // The file ends before its DATA line.
      {"no DATA line", CheckLine(0, 96) + "\nTITLE x\n", "UNEXPECTED EOF IN DATAFILE HEADER at line 2", 2},
  };
  for (const BrokenFile& f : files) {
    SCOPED_TRACE(f.name);
    auto state = StateWith(f.text);
    EXPECT_TRUE(FailedWith(ReadXscansHeader(engine::PartsOf(*state)), f.message, f.line));
  }
  EXPECT_TRUE(script::Boxes().empty());  // the reader shows nothing
}

TEST(XscansReader, BrokenReflectionsGiveTheirMessageAndLine) {
  // The header takes lines 1-8.
  const BrokenFile files[] = {
      {"unknown standard", std::string(kHeader) + Line(-1, {5, 5, 5}) + "\n1234\n",
       "Unidentified Standard Refln at line 9", 9},
      {"letters in an angle", std::string(kHeader) + "other\n" + Line(1, {1, 1, 1}).replace(31, 1, "x") + "\n1234\n",
       "READ ERROR ON SCAN FILE at line 10", 10},
      // Angles beyond the instrument: 2theta, omega, phi, chi at columns 20, 28, 36, 44.
      {"2theta of 1e10", std::string(kHeader) + Line(1, {1, 1, 1}).replace(19, 8, "  1.0E10") + "\n1234\n",
       "READ ERROR ON SCAN FILE at line 9", 9},
      {"phi of -361", std::string(kHeader) + Line(1, {1, 1, 1}).replace(35, 8, " -361.00") + "\n1234\n",
       "READ ERROR ON SCAN FILE at line 9", 9},
  };
  for (const BrokenFile& f : files) {
    SCOPED_TRACE(f.name);
    auto state = StateWith(f.text);
    ASSERT_EQ(HeaderStatus(*state), kReadOk);
    EXPECT_TRUE(FailedWith(ReadXscansReflection(engine::PartsOf(*state), 1, {0, 0, 0}), f.message, f.line));
  }
  EXPECT_TRUE(script::Boxes().empty());
}

TEST(XscansReader, ErrorsNameTheTrueLineAfterSteppingBack) {
  const std::string text = std::string(kHeader) +
                           Line(1, {1, 1, 1}) + "\n1234\n" +
                           Line(2, {1, 1, 2}) + "\n1234\n" +
                           Line(3, {1, 1, 3}) + "\n1234\n" +
                           Line(4, {1, 1, 4}).replace(50, 1, "x") + "\n1234\n";
  auto state = StateWith(text);
  ASSERT_EQ(HeaderStatus(*state), kReadOk);
  ASSERT_EQ(ReflectionStatus(*state, 3), kReadOk);
  ASSERT_EQ(ReflectionStatus(*state, 2), kReadOk);
  EXPECT_EQ(state->scan.hkl, (Hkl{1, 1, 2}));
  EXPECT_TRUE(FailedWith(ReadXscansReflection(engine::PartsOf(*state), 4, {0, 0, 0}), "READ ERROR ON SCAN FILE at line 15", 15));
}

}  // namespace
}  // namespace kalvex
