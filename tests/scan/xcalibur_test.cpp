// The Xcalibur reader against files made by the simulator (round trips,
// positioning, classes) and against small hand-written broken files.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "commands/session.h"
#include "engine/run.h"
#include "common/fixed_fields.h"
#include "fit/profile.h"
#include "scan/reflection_input.h"
#include "tests/scan/reading.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

namespace sim = simulate;
using testing::FailedWith;
using testing::FreshState;
using testing::HeaderStatus;
using testing::ScratchDir;

sim::Crystal TestCrystal() {
  sim::Crystal crystal;
  crystal.cell = {7.9, 9.4, 12.1, 90, 104.5, 90};
  crystal.rotation = {20, -35, 65};
  return crystal;
}

// A data set of explicit reflections: `classes` in order, the standards
// (1-based entries, 0 ordinary) where `standard_at` says.
sim::DataSet MakeSet(const std::vector<sim::ReflectionClass>& classes, int steps, int standard_steps,
                     std::uint32_t seed = 7, double divisor = 1.0) {
  sim::ScanSettings scan;
  scan.steps = steps;
  scan.standard_steps = standard_steps;
  scan.divisor = divisor;
  const std::vector<sim::Standard> standards = {{{2, 0, 0}, standard_steps, 0.25}, {{0, 1, 1}, standard_steps, 0.4}};
  std::vector<sim::ReflectionRecipe> recipes;
  int next_standard = 0;
  int h = 1;
  for (sim::ReflectionClass cls : classes) {
    sim::ReflectionRecipe recipe;
    recipe.cls = cls;
    if (cls == sim::ReflectionClass::kStandard) {
      recipe.standard_index = next_standard % 2 + 1;
      recipe.hkl = standards[next_standard % 2].hkl;
      ++next_standard;
    } else {
      recipe.hkl = {h % 4, h / 4 % 5 - 2, h % 7 + 1};
      ++h;
    }
    recipe.intensity = cls == sim::ReflectionClass::kLessThan ? 1.0 : 500.0;
    recipe.centring_error = 0.01 * (h % 3 - 1);
    recipes.push_back(recipe);
  }
  sim::DataSet data =
      sim::MakeDataSet(TestCrystal(), sim::Instrument{}, scan, sim::FitSettings{}, standards, recipes, seed);
  data.title = "reader test";
  return data;
}

class XcaliburTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = FreshState();
    state_->params.input_format = kFormatXcalibur;
    state_->params.atten = 12.5f;
    dir_ = ScratchDir(std::string("xcalibur_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  // Writes `data`, opens it as the program does and reads the header.
  void Open(const sim::DataSet& data) {
    std::string error;
    const auto path = dir_ / "scans.dca";
    ASSERT_TRUE(sim::WriteXcalibur(data, path, error)) << error;
    ASSERT_TRUE(state_->files.data.Open(path.string()));
    state_->scan.seq_no = 0;
    ASSERT_EQ(HeaderStatus(*state_), kReadOk);
  }
  // Reads as the commands do, so that the end of the data shows its box.
  int Read(int request, const Hkl& wanted = {0, 0, 0}) {
    const int status = engine::Run(*state_, WindowEvents(*state_)).Read(request, wanted);
    if (state_->files.read_error) ADD_FAILURE() << "unexpected read error: " << state_->files.read_error->message;
    return status;
  }
  int Next() { return Read(state_->scan.seq_no + 1); }
  int EndBoxes() const {
    int n = 0;
    for (const auto& box : script::Boxes()) n += box.message == "End of input data file" && box.title == "WIN-KALVEX";
    return n;
  }

  std::unique_ptr<ProgramState> state_;
  std::filesystem::path dir_;
};

char ClassLetter(const sim::SimReflection& r) {
  switch (r.cls) {
    case sim::ReflectionClass::kLessThan: return 'W';
    case sim::ReflectionClass::kWeak:
    case sim::ReflectionClass::kNormal: return 'N';
    case sim::ReflectionClass::kFiltered: return 'F';
    default: return 'S';
  }
}

void ExpectMatchesTruth(const ScanReflection& scan, const sim::SimReflection& r, float atten) {
  SCOPED_TRACE("reflection " + std::to_string(r.seq));
  EXPECT_EQ(scan.seq_no, r.seq);
  EXPECT_EQ(scan.hkl, (Hkl{r.hkl[0], r.hkl[1], r.hkl[2]}));
  EXPECT_EQ(scan.standard_index, r.standard_index);
  EXPECT_NEAR(scan.two_theta, r.angles.two_theta, 2e-4);
  EXPECT_NEAR(scan.chi, r.angles.chi, 2e-5);
  EXPECT_NEAR(scan.phi, r.angles.phi, 2e-5);
  EXPECT_NEAR(scan.omega_centre, r.omega_centre, 2e-4);
  EXPECT_NEAR(scan.scan_width, r.scan_width, 2e-5);
  EXPECT_NEAR(scan.step_width, r.step_width, 1e-6);
  EXPECT_NEAR(scan.step_time, r.step_time, 1e-5 * r.step_time);
  const double scale = r.count_scale * (r.cls == sim::ReflectionClass::kFiltered ? atten / 15.4 : 1.0);
  EXPECT_NEAR(scan.count_scale, scale, 1e-5 * scale);
  EXPECT_EQ(scan.class_code[0], ClassLetter(r));
  ASSERT_EQ(scan.step_count, r.step_count);
  for (int i = 0; i < r.step_count; ++i) EXPECT_EQ(scan.counts[i], static_cast<float>(r.counts[i])) << "step " << i + 1;
  // Step centres span the scan width around the scan centre.
  EXPECT_NEAR(scan.step_position[0], r.omega_centre - r.scan_width / 2 + r.step_width / 2, 3e-4);
}

// N = 16: two full count lines; 17: a third line holding one value; 200: the capacity.
class XcaliburRoundTrip : public XcaliburTest, public ::testing::WithParamInterface<int> {};

TEST_P(XcaliburRoundTrip, EveryReflectionComesBackAsWritten) {
  using C = sim::ReflectionClass;
  const int steps = GetParam();
  const sim::DataSet data = MakeSet({C::kStandard, C::kNormal, C::kLessThan, C::kWeak, C::kStrong, C::kFiltered,
                                     C::kStandard, C::kNormal, C::kStandard},
                                    steps, 24);
  Open(data);
  EXPECT_FLOAT_EQ(state_->params.lambda1, 0.70930f);
  EXPECT_FLOAT_EQ(state_->params.lambda2, 0.71359f);
  EXPECT_EQ(state_->params.n_wavelengths, 2);
  EXPECT_FLOAT_EQ(state_->params.iratio, 0.5f);
  ASSERT_EQ(state_->data_set.standards.count, 2);
  EXPECT_EQ(state_->data_set.standards.entries[1].hkl, (Hkl{0, 1, 1}));
  EXPECT_EQ(state_->data_set.standards.entries[1].step_count, 24);
  EXPECT_FLOAT_EQ(state_->data_set.standards.entries[1].step_time, 0.4f);

  for (const sim::SimReflection& r : data.reflections) {
    ASSERT_EQ(Next(), kReadOk);
    ExpectMatchesTruth(state_->scan, r, state_->params.atten);
  }
  EXPECT_EQ(Next(), kEndOfData);
  EXPECT_EQ(EndBoxes(), 1);
}

INSTANTIATE_TEST_SUITE_P(Steps, XcaliburRoundTrip, ::testing::Values(16, 17, 96, 200));

TEST_F(XcaliburTest, DivisorCorrectsTwoThetaOnlyBeyondItsTolerance) {
  using C = sim::ReflectionClass;
  // The writer records sin(theta) times C; the reader divides it back out.
  Open(MakeSet({C::kNormal, C::kStrong}, 16, 16, 3, 1.0001));
  ASSERT_EQ(Next(), kReadOk);
  std::ifstream in(dir_ / "scans.dca");
  std::string line;
  while (std::getline(in, line) && line[0] != 'E') {
  }
  const float file_two_theta = static_cast<float>(*fields::ReadReal(line, 12, 10, 0));
  const float expected = 2.0f * std::asin(std::sin(file_two_theta / 2.0f * 0.01745329f) / 1.0001f) / 0.01745329f;
  EXPECT_NE(state_->scan.two_theta, file_two_theta);
  EXPECT_NEAR(state_->scan.two_theta, expected, 1e-4);

  state_->files.data.Close();
  Open(MakeSet({C::kNormal, C::kStrong}, 16, 16, 3, 1.000005));
  ASSERT_EQ(Next(), kReadOk);
  std::ifstream again(dir_ / "scans.dca");
  while (std::getline(again, line) && line[0] != 'E') {
  }
  EXPECT_EQ(state_->scan.two_theta, static_cast<float>(*fields::ReadReal(line, 12, 10, 0)));
}

// Eleven blocks: standards at 1, 6 and 11 (entries 1, 2, 1), ordinary between.
sim::DataSet PositioningSet() {
  using C = sim::ReflectionClass;
  return MakeSet({C::kStandard, C::kNormal, C::kNormal, C::kStrong, C::kNormal, C::kStandard, C::kNormal, C::kWeak,
                  C::kNormal, C::kNormal, C::kStandard},
                 24, 16);
}

TEST_F(XcaliburTest, RequestsFindByIndicesStepBackJumpForwardAndRewind) {
  const sim::DataSet data = PositioningSet();
  Open(data);
  ASSERT_EQ(Read(1), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 1);
  for (int seq = 2; seq <= 5; ++seq) ASSERT_EQ(Next(), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 5);

  // Back one, twice: 4 then 3.
  ASSERT_EQ(Read(4), kReadOk);
  ExpectMatchesTruth(state_->scan, data.reflections[3], state_->params.atten);
  ASSERT_EQ(Read(3), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 3);

  // Forward jump, and a forward request below seq_no + 1 gives seq_no + 1.
  ASSERT_EQ(Read(9), kReadOk);
  ExpectMatchesTruth(state_->scan, data.reflections[8], state_->params.atten);
  ASSERT_EQ(Read(9), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 10);

  // Backward jump by rewinding.
  ASSERT_EQ(Read(2), kReadOk);
  ExpectMatchesTruth(state_->scan, data.reflections[1], state_->params.atten);

  // By indices: the first occurrence in the file, wherever we are.
  ASSERT_EQ(Read(10), kReadOk);
  ASSERT_EQ(Read(0, {2, 0, 0}), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 1);
  ASSERT_EQ(Read(0, {0, 1, 1}), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 6);
  EXPECT_EQ(state_->scan.standard_index, 2);
  const auto& eighth = data.reflections[7].hkl;
  ASSERT_EQ(Read(0, {eighth[0], eighth[1], eighth[2]}), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 8);
  EXPECT_TRUE(script::Boxes().empty());
}

TEST_F(XcaliburTest, StepBackAfterAShortScanFollowingALongOneStillFindsThePrevious) {
  using C = sim::ReflectionClass;
  // Ordinary scans of 200 steps (30 lines a block), standards of 1 step: the
  // move back of 2 N + 12 lines from a standard stops inside the long block.
  const sim::DataSet data = MakeSet({C::kNormal, C::kStandard, C::kNormal}, 200, 1);
  Open(data);
  ASSERT_EQ(Read(1), kReadOk);
  ASSERT_EQ(Next(), kReadOk);
  EXPECT_EQ(state_->scan.step_count, 1);
  ASSERT_EQ(Read(1), kReadOk);
  ExpectMatchesTruth(state_->scan, data.reflections[0], state_->params.atten);
}

TEST_F(XcaliburTest, EndOfDataGivesStatusTwelveAndOneBoxAndKeepsTheLastReflection) {
  const sim::DataSet data = PositioningSet();
  Open(data);
  int reads = 0;
  while (Next() == kReadOk) ++reads;
  EXPECT_EQ(reads, 11);
  EXPECT_EQ(EndBoxes(), 1);
  EXPECT_EQ(state_->scan.seq_no, 11);
  EXPECT_EQ(state_->scan.counts[0], static_cast<float>(data.reflections[10].counts[0]));
  // Indices that are nowhere: end of data again, one more box.
  EXPECT_EQ(Read(0, {9, 9, 9}), kEndOfData);
  EXPECT_EQ(EndBoxes(), 2);
}

TEST_F(XcaliburTest, SkipWeakPassesOverLessThanReflectionsWithoutCountingThem) {
  using C = sim::ReflectionClass;
  const sim::DataSet data = MakeSet({C::kNormal, C::kLessThan, C::kWeak, C::kLessThan}, 16, 16);
  Open(data);
  ASSERT_EQ(Read(1), kReadOk);
  ASSERT_EQ(Next(), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 2);
  EXPECT_EQ(state_->scan.class_code[0], 'W');
  EXPECT_EQ(state_->data_set.input_class[kClassLT], 1);

  state_->data_set.skip_weak = 1;
  ASSERT_EQ(Read(1), kReadOk);
  ASSERT_EQ(Next(), kReadOk);
  EXPECT_EQ(state_->scan.seq_no, 3);
  EXPECT_EQ(state_->scan.class_code[0], 'N');
  EXPECT_EQ(Next(), kEndOfData);
  EXPECT_EQ(state_->data_set.input_class[kClassLT], 1);
  EXPECT_EQ(state_->data_set.input_class[kClassWeak], 1);
  EXPECT_EQ(state_->data_set.input_class[kClassNormal], 2);
}

TEST_F(XcaliburTest, ClassCountersOfAWholeGeneratedDataSetMatchTheTruth) {
  sim::GeneratorOptions options;
  options.reflections = 120;
  options.standards_every = 40;
  options.seed = 11;
  options.weak_fraction = 0.3;
  options.attenuated_fraction = 0.08;
  const sim::DataSet data =
      sim::Generate(TestCrystal(), sim::Instrument{}, sim::ScanSettings{}, sim::FitSettings{}, options);
  std::map<sim::ReflectionClass, int> truth;
  for (const auto& r : data.reflections) ++truth[r.cls];
  ASSERT_GT(truth[sim::ReflectionClass::kLessThan], 0);
  ASSERT_GT(truth[sim::ReflectionClass::kFiltered], 0);
  ASSERT_GT(truth[sim::ReflectionClass::kStrong], 0);

  Open(data);
  engine::Run(*state_, {}).ResetCounters();
  std::size_t read = 0;
  while (Next() == kReadOk) ExpectMatchesTruth(state_->scan, data.reflections[read++], state_->params.atten);
  EXPECT_EQ(read, data.reflections.size());
  EXPECT_EQ(state_->data_set.input_class[kClassLT], truth[sim::ReflectionClass::kLessThan]);
  EXPECT_EQ(state_->data_set.input_class[kClassWeak], truth[sim::ReflectionClass::kWeak]);
  EXPECT_EQ(state_->data_set.input_class[kClassNormal], truth[sim::ReflectionClass::kNormal]);
  EXPECT_EQ(state_->data_set.input_class[kClassStrong], truth[sim::ReflectionClass::kStrong]);
  EXPECT_EQ(state_->data_set.input_class[kClassStandards], truth[sim::ReflectionClass::kStandard]);
  EXPECT_EQ(state_->data_set.input_class[kClassFiltered], truth[sim::ReflectionClass::kFiltered]);
}

// The bundled example read back and fitted with the program's own profile
// fit: the truth table's intensity (common scale), position and FWHM come
// back within their ESDs, so the simulator's count model is the fitted one.
TEST_F(XcaliburTest, BundledExampleFitsBackToItsTruth) {
  const auto examples = std::filesystem::path(KALVEX_SOURCE_DIR) / "examples";
  ASSERT_TRUE(state_->files.data.Open((examples / "example.dca").string()));
  state_->params.atten = 15.4f;
  ASSERT_EQ(HeaderStatus(*state_), kReadOk);
  std::ifstream truth(examples / "example_truth.csv");
  std::string row;
  std::getline(truth, row);
  int fitted = 0, outliers = 0;
  double pull_sum = 0;
  while (std::getline(truth, row)) {
    std::stringstream in(row);
    std::vector<std::string> cells;
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 14u);
    ASSERT_EQ(Next(), kReadOk);
    const ScanReflection& s = state_->scan;
    ASSERT_EQ(s.seq_no, std::stoi(cells[0]));
    if (cells[4] == "LT" || cells[4] == "WK") continue;
    const float position = std::stof(cells[9]), fwhm = std::stof(cells[10]), intensity = std::stof(cells[13]);
    ProfileValues start{0, s.counts[0], fwhm * 1.2f, 0, s.step_position[s.max_step - 1], 0.5f, 0.5f};
    for (int i = 0; i < s.step_count; ++i) start[kIntensity] += (s.counts[i] - start[kBackground]) * s.step_width;
    std::array<float, kMaxSteps> yc{};
    const ProfileFit fit = RefineProfile(
        {s.step_position.data(), s.counts.data(), s.step_count, {0.7093f, 0.71359f}, 0.0f, s.two_theta}, start,
        {0, 1, 1, 1, 1, 1, 0}, yc.data());
    ASSERT_EQ(fit.status, kFitConverged) << row;
    const ProfileValues& p = fit.p;
    const ProfileValues& e = fit.esd;
    ++fitted;
    EXPECT_NEAR(p[kPosition], position, 5 * e[kPosition] + 1e-4) << row;
    EXPECT_NEAR(p[kFwhm], fwhm, 5 * e[kFwhm] + 1e-4) << row;
    const double pull = (p[kIntensity] * s.count_scale - intensity) / (e[kIntensity] * s.count_scale);
    pull_sum += pull;
    outliers += std::abs(pull) > 3.5;
  }
  EXPECT_GT(fitted, 250);
  EXPECT_LE(outliers, 3);
  EXPECT_LT(std::abs(pull_sum / fitted), 0.25);  // no bias of the common scale
}

// --- hand-written files ------------------------------------------------------

// An 80-column line of kind `kind` with texts placed at 1-based columns.
std::string L(char kind, std::initializer_list<std::pair<int, std::string>> parts = {}) {
  std::string line(80, ' ');
  line[0] = kind;
  for (const auto& [column, text] : parts) line.replace(column - 1, text.size(), text);
  return std::string(fields::TrimRight(line));
}

struct HandHeader {
  std::string scan_line = L('I', {{3, "sc s"}, {8, "  0.10000"}, {20, "sc w"}, {26, " 1.0000"}, {33, " 0.5000"}, {40, " 1.000000"}});
  int steps = 10;
  std::string lambda1 = "0.709300";
  int standards = 1;
  std::vector<std::string> standard_lines = {L('P', {{33, "   1   2   3"}, {50, "  0.50"}})};
  int standard_steps = 9;
};

std::string Header(const HandHeader& h) {
  std::string text = L('C', {{3, "comment"}}) + "\n" + L('G') + "\n" + h.scan_line + "\n";
  text += L('P') + "\n" + L('P', {{56, fields::FormatInt(h.steps, 3)}}) + "\n";
  text += L('P', {{31, fields::Fixed(std::string(15 - h.lambda1.size(), ' ') + h.lambda1, 15)}, {46, "       0.713590"}}) + "\n";
  for (int i = 0; i < 5; ++i) text += L('P') + "\n";
  text += L('P', {{29, fields::FormatInt(h.standards, 2)}, {39, fields::FormatInt(h.standard_steps, 3)}}) + "\n";
  for (const auto& s : h.standard_lines) text += s + "\n";
  return text + "X trailer\n";
}

// A block of `steps` counts; `standard` gives an 'R' line with a negative number.
std::string Block(int seq, Hkl hkl, const std::string& code, int steps, bool standard = false) {
  std::string text = L(standard ? 'R' : '#', {{2, fields::FormatInt(standard ? -seq : seq, 5)},
                                               {10, fields::FormatInt(hkl[0], 5)},
                                               {15, fields::FormatInt(hkl[1], 5)},
                                               {20, fields::FormatInt(hkl[2], 5)},
                                               {38, code}});
  if (!standard) text += std::string(63 - text.size(), ' ') + "1.0000";
  text += "\n" + L('Z') + "\n" + L('Z') + "\n";
  text += L('E', {{2, "   20.5000"}, {12, "   40.0000"}, {22, "   10.0000"}, {32, "   30.0000"}}) + "\n" + L('Y') + "\n";
  for (int first = 0; first < steps; first += 8) {
    std::string counts = "S";
    for (int j = first; j < std::min(steps, first + 8); ++j) counts += fields::FormatInt(100 + j, 9);
    text += counts + "\n";
  }
  return text;
}

TEST_F(XcaliburTest, HandWrittenFileGivesTheStatedConversions) {
  state_->files.data.SetText(Header({}) + Block(1, {1, 0, 0}, "NL", 10) + Block(2, {1, 2, 3}, "ST", 9, true));
  ASSERT_EQ(HeaderStatus(*state_), kReadOk);
  EXPECT_EQ(state_->data_set.title, std::string(28, ' '));
  EXPECT_FLOAT_EQ(state_->data_set.xcalibur.scan_speed, 0.1f);
  EXPECT_EQ(state_->data_set.xcalibur.default_steps, 10);
  ASSERT_EQ(Read(1), kReadOk);
  const ScanReflection& s = state_->scan;
  // Width 1 + 0.5 tan(20 deg); T = width / 0.1 / F with F = 1.
  const float width = 1.0f + 0.5f * std::tan(20.0f * 0.01745329f);
  EXPECT_NEAR(s.scan_width, width, 1e-6);
  EXPECT_NEAR(s.step_width, width / 10, 1e-7);
  EXPECT_NEAR(s.step_time, width / 0.1f / 10, 1e-5);
  EXPECT_FLOAT_EQ(s.count_scale, 1.0f);
  EXPECT_NEAR(s.omega_centre, 20.5f - 20.0f - width / 2, 1e-5);
  EXPECT_EQ(s.counts[9], 109.0f);
  EXPECT_EQ(s.max_step, 10);
  ASSERT_EQ(Next(), kReadOk);
  // Standard: T = 9 steps x 0.5; scale = width / speed / T.
  EXPECT_EQ(s.standard_index, 1);
  EXPECT_EQ(s.step_count, 9);
  EXPECT_FLOAT_EQ(s.step_time, 0.5f);
  EXPECT_NEAR(s.count_scale, width / 0.1f / 4.5f, 1e-5);
  EXPECT_EQ(s.class_code[0], 'S');
}

TEST_F(XcaliburTest, HeaderWithoutStandardsReadsNoStandardLines) {
  HandHeader h;
  h.standards = 0;
  h.standard_lines.clear();
  state_->data_set.standards.count = 3;  // left over from an earlier file
  state_->files.data.SetText(Header(h) + Block(1, {1, 0, 0}, "NL", 10));
  ASSERT_EQ(HeaderStatus(*state_), kReadOk);
  EXPECT_EQ(state_->data_set.standards.count, 0);
  EXPECT_EQ(Read(1), kReadOk);
}

// A file that cannot be read: the reads in turn after the header (none when
// the header itself fails), the last of which gives `message` at true file
// line `line`.
struct BrokenFile {
  const char* name;
  std::string text;
  std::vector<int> requests;
  std::string message;
  int line;
};

std::string WithSteps(int steps) {
  HandHeader h;
  h.steps = steps;
  return Header(h);
}

std::string WithStandards(int n) {
  HandHeader h;
  h.standards = n;
  h.standard_lines.assign(n, L('P', {{33, "   1   1   1"}, {50, "  0.50"}}));
  return Header(h);
}

// Header lines: C 1, G 2, scan line 3, 'P' 4-12 (step count 5, wavelengths
// 6, standards 12), the standard 13, trailer 14. A block of 10 counts: '#'
// or 'R', Z, Z, E, Y, then two count lines.
constexpr int kHeaderLines = 14;
constexpr int kBlockLines = 5 + 2;

std::vector<BrokenFile> BrokenHeaders() {
  HandHeader bad_speed;
  bad_speed.scan_line = L('I', {{3, "sc s"}, {8, "  0.1x000"}, {20, "sc w"}, {26, " 1.0000"}});
  HandHeader bad_lambda;
  bad_lambda.lambda1 = "0.70q";
  HandHeader bad_standard;
  bad_standard.standard_lines = {L('P', {{33, "   1  -x   3"}, {50, "  0.50"}})};
  std::string wrong_kind = Header({});
  wrong_kind.replace(wrong_kind.find("\nP\n") + 1, 1, "Q");  // the first 'P' line, file line 4

  return {
      // The file ends: the line read last is the file's last.
      {"OnlyComments", L('C') + "\n" + L('G') + "\n", {}, "UNEXPECTED EOF IN DATAFILE HEADER", 2},
      {"HeaderCutShort", L('C') + "\n" + bad_speed.scan_line.substr(0, 1) + "\n" + L('P') + "\n", {},
       "UNEXPECTED EOF IN DATAFILE HEADER", 3},
      {"NoReflections", Header({}), {}, "UNEXPECTED EOF IN DATAFILE HEADER", kHeaderLines},
      // A field does not convert: the line that holds it.
      {"SpeedDoesNotConvert", Header(bad_speed), {}, "ERROR READING DATAFILE HEADER", 3},
      {"WavelengthDoesNotConvert", Header(bad_lambda), {}, "ERROR READING DATAFILE HEADER", 6},
      {"StandardIndexDoesNotConvert", Header(bad_standard), {}, "ERROR READING DATAFILE HEADER", 13},
      {"HeaderLineOfWrongKind", wrong_kind, {}, "ERROR READING FILE: EXPECTED P, GOT Q AT LINE      4", 4},
      {"ElevenStandards", WithStandards(11) + Block(1, {1, 0, 0}, "NL", 10), {}, "More than 10 standards", 12},
  };
}

std::vector<BrokenFile> BrokenBlocks() {
  const std::string header = Header({});
  std::string missing_e = Block(1, {1, 0, 0}, "NL", 10);
  missing_e.replace(missing_e.find("\nE") + 1, 1, "Y");
  std::string bad_count = Block(1, {1, 0, 0}, "NL", 10);
  bad_count.replace(bad_count.rfind("\nS") + 5, 1, "?");
  // Block 2 is broken only in a line the forward search never reads.
  std::string broken_second = Block(2, {2, 0, 0}, "NL", 10);
  broken_second.replace(broken_second.find("\nZ") + 1, 1, "W");
  // The block with `text` over the E line's field at `first_col` (2theta 12).
  auto with_angle = [](int first_col, const std::string& text) {
    std::string block = Block(1, {1, 0, 0}, "NL", 10);
    block.replace(block.find("\nE") + first_col, text.size(), text);
    return block;
  };
  const std::string at_e_line = "ERROR READING FILE AT LINE     " + std::to_string(kHeaderLines + 4);
  // C = 0.3 takes sin(20 deg) beyond 1: 2theta 40 has no corrected value.
  HandHeader divisor;
  divisor.scan_line =
      L('I', {{3, "sc s"}, {8, "  0.10000"}, {20, "sc w"}, {26, " 1.0000"}, {33, " 0.5000"}, {40, " 0.300000"}});

  return {
      // Refused after the block's 'Y' line, where the standard and the step count are looked up.
      {"StandardNotInTheTable", header + Block(1, {3, 2, 1}, "ST", 9, true), {1}, "Unidentified Standard Refln",
       kHeaderLines + 5},
      {"MoreThanTwoHundredSteps", WithSteps(201) + Block(1, {1, 0, 0}, "NL", 201), {1},
       "Reflection 1: more than 200 steps", kHeaderLines + 5},
      {"NoSteps", WithSteps(0) + Block(7, {1, 0, 0}, "NL", 0), {1}, "Reflection 7: no steps", kHeaderLines + 5},
      // Messages that name their line.
      {"BlockWithoutItsELine", header + missing_e, {1},
       "ERROR READING FILE: EXPECTED E, GOT Y AT LINE     " + std::to_string(kHeaderLines + 4), kHeaderLines + 4},
      // Angles beyond the instrument, however written, and a 2theta the divisor leaves none of.
      {"TwoThetaOf1e30", header + with_angle(12, "    1.0E30"), {1}, at_e_line, kHeaderLines + 4},
      {"ChiOf400", header + with_angle(22, "  400.0000"), {1}, at_e_line, kHeaderLines + 4},
      {"DivisorBelowSinTheta", Header(divisor) + Block(1, {1, 0, 0}, "NL", 10), {1}, at_e_line, kHeaderLines + 4},
      {"CountDoesNotConvert", header + bad_count, {1},
       "ERROR READING FILE AT LINE     " + std::to_string(kHeaderLines + kBlockLines), kHeaderLines + kBlockLines},
      // Read 1, jump to 3, step back to 2: the error names the true line of
      // block 2's broken line, not a count of lines read since the rewind.
      {"TrueLineNumberAfterMovingBack",
       header + Block(1, {1, 0, 0}, "NL", 10) + broken_second + Block(3, {3, 0, 0}, "NL", 10), {1, 3, 2},
       "ERROR READING FILE: EXPECTED Z, GOT W AT LINE     " + std::to_string(kHeaderLines + kBlockLines + 2),
       kHeaderLines + kBlockLines + 2},
  };
}

void ExpectReadError(const BrokenFile& broken) {
  SCOPED_TRACE(broken.name);
  auto state = FreshState(false);
  state->params.input_format = kFormatXcalibur;
  state->files.data.SetText(broken.text);
  const ReaderParts parts = engine::PartsOf(*state);
  ReadResult result = ReadXcaliburHeader(parts);
  for (int request : broken.requests) {
    ASSERT_EQ(result.status, kReadOk) << testing::Describe(result);
    result = ReadXcaliburReflection(parts, request, {0, 0, 0});
  }
  EXPECT_TRUE(FailedWith(result, broken.message, broken.line));
  EXPECT_TRUE(script::Boxes().empty());  // what an error means is the caller's to show
}

TEST_F(XcaliburTest, BrokenHeadersGiveTheirMessageAndLine) {
  for (const BrokenFile& broken : BrokenHeaders()) ExpectReadError(broken);
}

TEST_F(XcaliburTest, BrokenBlocksGiveTheirMessageAndLine) {
  for (const BrokenFile& broken : BrokenBlocks()) ExpectReadError(broken);
}

// Through the command the message is the program's box; the file is closed
// and the error kept for the session.
TEST_F(XcaliburTest, ReadErrorThroughTheCommandClosesTheDataFile) {
  std::string bad_count = Block(1, {1, 0, 0}, "NL", 10);
  bad_count.replace(bad_count.rfind("\nS") + 5, 1, "?");
  state_->files.data.SetText(Header({}) + bad_count);
  state_->files.data_open = true;
  ASSERT_EQ(HeaderStatus(*state_), kReadOk);
  EXPECT_EQ(engine::Run(*state_, WindowEvents(*state_)).Read(1), kReadError);
  ASSERT_TRUE(state_->files.read_error.has_value());
  EXPECT_EQ(state_->files.read_error->message, "ERROR READING FILE AT LINE     21");
  EXPECT_EQ(state_->files.read_error->line, 21);
  EXPECT_FALSE(state_->files.data_open);
  EXPECT_FALSE(state_->files.data.IsOpen());
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "WinKalvex");
  EXPECT_EQ(script::Boxes()[0].message, "ERROR READING FILE AT LINE     21");
  EXPECT_EQ(EndBoxes(), 0);
}

TEST_F(XcaliburTest, BlockCutShortIsNotReadInFull) {
  const std::string block = Block(2, {1, 2, 3}, "NL", 10);
  const std::string cuts[] = {
      block.substr(0, block.rfind("\nS") + 1),  // the second count line is missing
      block.substr(0, block.size() - 3),        // the last count ends inside its field
      block.substr(0, block.find("\nE") + 20),  // inside the E line
      block.substr(0, 30),                      // inside the '#' line, past the indices
  };
  for (const std::string& cut : cuts) {
    SCOPED_TRACE(cut);
    state_->files.data.SetText(Header({}) + Block(1, {1, 0, 0}, "NL", 10) + cut);
    ASSERT_EQ(HeaderStatus(*state_), kReadOk);
    const ReaderParts parts = engine::PartsOf(*state_);
    ASSERT_EQ(testing::Checked(ReadXcaliburReflection(parts, 1, {0, 0, 0})), kReadOk);
    EXPECT_EQ(testing::Checked(ReadXcaliburReflection(parts, 2, {0, 0, 0})), kReadFailed);
    EXPECT_EQ(state_->scan.seq_no, 2);  // named as far as it was read
    EXPECT_EQ(state_->scan.hkl, (Hkl{1, 2, 3}));
    EXPECT_EQ(testing::Checked(ReadXcaliburReflection(parts, 3, {0, 0, 0})), kEndOfData);
  }
}

}  // namespace
}  // namespace kalvex
