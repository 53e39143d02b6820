// The bundled example integrated through the window's commands, compared
// with the intensity files it gave when this program was checked by hand
// (tests/end_to_end/golden/). Layout, indices, sequence codes and status
// letters must match to the character; fitted numbers to within what
// single-precision rounding may move between builds.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "common/fixed_fields.h"
#include "commands/auto_fit.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadLines;

// A numeric field: (first column, width).
struct Field {
  int first, width;
};

void ExpectNear(const std::string& got, const std::string& want, Field f, const std::string& where) {
  const auto g = fields::ReadReal(got, f.first, f.width, 0);
  const auto w = fields::ReadReal(want, f.first, f.width, 0);
  ASSERT_TRUE(g && w) << where;
  // Two units of the last printed decimal, or a relative 1e-4.
  const std::string text = fields::Column(want, f.first, f.width);
  const auto point = text.find('.');
  const int decimals = point == std::string::npos ? 0 : static_cast<int>(text.find_last_not_of(' ') - point);
  const double unit = std::pow(10.0, -decimals);
  EXPECT_LE(std::fabs(*g - *w), std::max(2 * unit, 1e-4 * std::fabs(*w)))
      << where << ": " << got << "\n      want: " << want;
}

// Everything outside `numbers` must be equal to the character.
void ExpectLine(const std::string& got, const std::string& want, const std::vector<Field>& numbers,
                const std::string& where) {
  ASSERT_EQ(got.size(), want.size()) << where << ": " << got;
  std::string g = got, w = want;
  for (const Field& f : numbers) {
    ExpectNear(got, want, f, where);
    for (int i = 0; i < f.width; ++i) g[f.first - 1 + i] = w[f.first - 1 + i] = '#';
  }
  EXPECT_EQ(g, w) << where;
}

// Rfine: 4F8.3 angles from column 10, F11 intensity at 43, F7 sigma at 55.
const std::vector<Field> kRfineNumbers = {{10, 8}, {18, 8}, {26, 8}, {34, 8}, {43, 11}, {55, 7}};
// Shelx hkl: 2F8.2 from column 13, F10.5 2theta at 33.
const std::vector<Field> kShelxNumbers = {{13, 8}, {21, 8}, {33, 10}};

std::vector<Field> ValueLineNumbers(std::size_t length) {
  std::vector<Field> numbers;
  for (int first = 12; first + 8 <= static_cast<int>(length); first += 10) numbers.push_back({first, 9});
  return numbers;
}

std::vector<std::string> IntegrateExample(const std::string& name, int output_format) {
  const fs::path dir = testing::ScratchDir("golden_" + name);
  for (const char* f : {"example.dca", "example.par"})
    fs::copy_file(fs::path(KALVEX_SOURCE_DIR) / "examples" / f, dir / f);
  auto state = testing::FreshState();
  script::QueueBrowse("example.dca", dir.string());
  script::QueueClick(kCodeFormatOk);
  OpenDataFile(*state);
  script::QueueBrowse("example.par", dir.string());
  OpenParameterFile(*state);
  script::QueueBrowse("example.int", dir.string());
  OpenOutputFile(*state);
  state->params.output_format = output_format;
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  DispatchCommand(*state, kCodeAutoFit);
  return ReadLines(dir / "example.int");
}

std::vector<std::string> Golden(const std::string& name) {
  return ReadLines(fs::path(KALVEX_SOURCE_DIR) / "tests/end_to_end/golden" / name);
}

TEST(GoldenRecords, Rfine) {
  const auto got = IntegrateExample("rfine", kOutputRfine);
  const auto want = Golden("example.rfine");
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) ExpectLine(got[i], want[i], kRfineNumbers, "line " + std::to_string(i + 1));
}

TEST(GoldenRecords, RfineExtended) {
  const auto got = IntegrateExample("extended", kOutputRfineExtended);
  const auto want = Golden("example.rfine-extended");
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    const auto numbers = i % 4 == 0 ? kRfineNumbers : ValueLineNumbers(want[i].size());
    ExpectLine(got[i], want[i], numbers, "line " + std::to_string(i + 1));
  }
}

TEST(GoldenRecords, ShelxHkl) {
  const auto got = IntegrateExample("shelx", kOutputShelx);
  const auto want = Golden("example.shelx");
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) ExpectLine(got[i], want[i], kShelxNumbers, "line " + std::to_string(i + 1));
}

}  // namespace
}  // namespace kalvex
