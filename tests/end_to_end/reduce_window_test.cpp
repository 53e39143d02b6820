// "Reduce to SHELX/CIF..." from the Utilities menu after "Auto profile fit".
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "common/file_names.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadLines;

testing::SimulatedFiles Set() {
  simulate::GeneratorOptions o;
  o.reflections = 120;
  o.standards_every = 20;
  return testing::MakeXcaliburSet(testing::TestName(), o);
}

bool Has(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(start); });
}

TEST(ReduceWindow, QuitWritesNothingAndReduceWritesTheNamedFiles) {
  const auto files = Set();
  auto state = testing::FreshState();
  const Widgets& w = state->widgets;
  testing::OpenSimulated(*state, files);
  script::QueueClick(kCodePeakQuit);
  script::QueueClick(kCodeGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeAutoFit));
  script::ClearBoxes();
  const auto log_before = ReadLines(files.dir / "set.log");

  script::QueueClick(kCodeReduceQuit);
  ASSERT_TRUE(DispatchCommand(*state, kCodeReduce));
  EXPECT_FALSE(fs::exists(files.dir / "set.hkl") || fs::exists(files.dir / "set.cif"));
  EXPECT_EQ(ReadLines(files.dir / "set.log"), log_before);

  std::vector<std::string> rows;  // the names offered, then the summary's rows
  script::QueueCall([&] { rows = {script::Text(w.reduce_hkl), script::Text(w.reduce_cif)}; });
  script::QueueText(w.reduce_hkl, "mine.hkl");
  script::QueueText(w.reduce_cif, "mine.cif");
  script::QueueListSelect(w.reduce_laue_list, 4);  // mmm
  script::QueueToggle(w.reduce_cosines, 1);
  // A sphere, mu from the formula; the report under the name offered.
  script::QueueListSelect(w.reduce_absorption_list, 4);
  script::QueueNumber(w.reduce_radius, 0.1f);
  script::QueueText(w.reduce_formula, "C12 H10 N2 O");
  script::QueueNumber(w.reduce_z, 4);
  script::QueueClick(kCodeReduceGo);
  // The summary goes on over pages; "Next page" goes round them all.
  std::vector<std::string> pages;
  for (int page = 0; page < 16; ++page) {
    script::QueueCall([&] {
      EXPECT_TRUE(script::Shown(w.summary_dialog));
      pages.push_back(script::Text(w.summary_page));
      for (int row : w.summary_rows) rows.push_back(script::Text(row));
    });
    script::QueueClick(kCodeSummaryMore);
  }
  script::QueueClick(kCodeSummaryOk);
  script::QueueAnswer(0);  // copy the report's address
  ASSERT_TRUE(DispatchCommand(*state, kCodeReduce));
  EXPECT_FALSE(script::Shown(w.summary_dialog));
  EXPECT_EQ(script::Clipboard(), "file://" + fileio::AbsolutePath((files.dir / "set.html").string()));
  EXPECT_TRUE(Has(rows, "Absorption: sphere of radius 0.1 mm, mu 0.06"));
  EXPECT_TRUE(Has(rows, "Statistics against resolution in P "));

  ASSERT_GE(rows.size(), 2u);
  ASSERT_FALSE(pages.empty());
  EXPECT_EQ(pages.front().substr(0, 9), "Page 1 of");
  EXPECT_EQ(rows[0] + " " + rows[1], "set.hkl set.cif");
  ASSERT_TRUE(fs::exists(files.dir / "mine.cif"));
  const auto hkl = ReadLines(files.dir / "mine.hkl");
  ASSERT_GT(hkl.size(), 50u);
  // 3I4 2F8.2 I4 and, with direction cosines, 6F8.5; only the last record is 0 0 0.
  EXPECT_EQ(hkl.front().size(), 80u);
  EXPECT_EQ(hkl.back().substr(0, 12), "   0   0   0");
  EXPECT_EQ(std::count_if(hkl.begin(), hkl.end(), [](const std::string& l) { return l.starts_with("   0   0   0"); }), 1);

  // The summary merges in the class chosen and names the files; each line is in the log.
  EXPECT_TRUE(Has(rows, "Merging in mmm:"));
  EXPECT_TRUE(Has(rows, "Wrote mine.hkl (HKLF 4, direction cosines"));
  const auto log = ReadLines(files.dir / "set.log");
  for (std::size_t i = 2; i < rows.size(); ++i) EXPECT_TRUE(rows[i].empty() || Has(log, " " + rows[i])) << rows[i];
}

TEST(ReduceWindow, WithoutAnIntensityFileItAsksAndNamesWhatCannotBeReduced) {
  const auto files = Set();
  auto state = testing::FreshState();
  testing::OpenSimulated(*state, files, "");
  script::ClearBoxes();
  script::QueueBrowse("", files.dir.string());
  ASSERT_TRUE(DispatchCommand(*state, kCodeReduce));
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_TRUE(script::Boxes()[0].message.starts_with("No intensity file"));
  EXPECT_EQ(script::Browses().back().title, "Intensity File to Reduce");

  // Not an intensity file: named in an error box and the log, nothing written.
  std::ofstream(files.dir / "bad.int") << "not an intensity record\n";
  script::ClearBoxes();
  script::QueueBrowse("bad.int", files.dir.string());
  script::QueueClick(kCodeReduceGo);
  ASSERT_TRUE(DispatchCommand(*state, kCodeReduce));
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_TRUE(script::Boxes()[0].error && script::Boxes()[0].message.find("bad.int") != std::string::npos);
  EXPECT_FALSE(fs::exists(files.dir / "bad.hkl") || fs::exists(files.dir / "bad.cif"));
  EXPECT_TRUE(Has(ReadLines(files.dir / "set.log"), "  REDUCTION OF bad.int FAILED"));
}

}  // namespace
}  // namespace kalvex
