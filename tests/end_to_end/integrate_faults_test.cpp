// kalvex integrate refuses what it cannot do whole, and says why: inputs
// that are no regular file, numbers out of range, a data file that ends
// inside a reflection, a run that fails before its first record.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/record_writer.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;

using Ran = testing::CommandRun;

Ran Kalvex(const std::string& args) { return testing::RunCommand(std::string(KALVEX_COMMAND) + " " + args); }

testing::SimulatedFiles Set(const std::string& name, int reflections = 40) {
  simulate::GeneratorOptions options;
  options.reflections = reflections;
  return testing::MakeXcaliburSet(name, options);
}

std::string Args(const testing::SimulatedFiles& f) {
  return "integrate " + (f.dir / f.data).string() + " --par " + (f.dir / f.parameters).string();
}

TEST(IntegrateFaults, AParameterFileThatIsNoRegularFileIsRefused) {
  const auto f = Set("faults_par");
  const fs::path fifo = f.dir / "par.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& par : {fifo.string(), std::string("/dev/null")}) {
    const Ran run = Kalvex("integrate " + (f.dir / f.data).string() + " --par " + par + " --out " +
                           (f.dir / "x.int").string());
    EXPECT_EQ(run.status, 1) << par << "\n" << run.out;
    EXPECT_NE(run.out.find("not a regular file"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(f.dir / "x.int")) << par;
  }
}

TEST(IntegrateFaults, NumbersOutOfRangeAreUsageErrorsNamingTheOption) {
  const auto f = Set("faults_numbers", 5);
  for (const char* text : {"--omega-step inf", "--omega-step nan", "--omega-step 1e40",
                                "--preprocess --threshold nan", "--preprocess --threshold -4"}) {
    const std::string bad = text;
    const Ran run = Kalvex(Args(f) + " " + bad);
    EXPECT_EQ(run.status, 2) << bad << "\n" << run.out;
    const std::string option = bad.substr(bad.rfind("--"), bad.rfind(' ') - bad.rfind("--"));
    EXPECT_NE(run.out.find(option + " must lie between"), std::string::npos) << bad << "\n" << run.out;
  }
  // kalvex reduce's numbers are held to the same rule.
  ASSERT_EQ(Kalvex(Args(f) + " --out " + (f.dir / "n.int").string()).status, 0);
  for (const char* bad : {"--mu nan", "--radius inf", "--z 1e40", "--temperature nan"}) {
    const std::string text = bad;
    const Ran run = Kalvex("reduce " + (f.dir / "n.int").string() + " --par " + (f.dir / f.parameters).string() +
                           " --absorption sphere " + text);
    EXPECT_EQ(run.status, 2) << text << "\n" << run.out;
    EXPECT_NE(run.out.find(text.substr(0, text.find(' ')) + " must lie between"), std::string::npos) << run.out;
  }
}

TEST(IntegrateFaults, ARunThatFailsBeforeItsFirstRecordLeavesNoNewFile) {
  const auto f = Set("faults_first_record", 80);
  // A threshold no reflection reaches keeps none, and Calc UB cannot
  // refine: the run fails before its first record.
  const Ran run = Kalvex(Args(f) + " --out " + (f.dir / "new.int").string() + " --preprocess --threshold 1e6 --calc-ub");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("Too Few Reflections for Least Squares"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(f.dir / "new.int"));
  // The next run needs no --replace.
  const Ran again = Kalvex(Args(f) + " --out " + (f.dir / "new.int").string());
  EXPECT_EQ(again.status, 0) << again.out;
}

// A second run writing the same intensity file, or the same data file's log,
// is refused and touches neither: a run holding them is played here by a
// writer of the test's own.
TEST(IntegrateFaults, AFileAnotherRunWritesIsRefusedUntouched) {
  const auto f = Set("faults_locked", 5);
  const fs::path out = f.dir / "held.int";
  {
    std::ofstream(out) << "a record of the other run\n";
  }
  textfile::RecordWriter other;
  ASSERT_TRUE(other.Open(out.string(), true, textfile::Lock::kExclusive));
  Ran run = Kalvex(Args(f) + " --out " + out.string() + " --replace");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("is being written by another run"), std::string::npos) << run.out;
  EXPECT_EQ(testing::ReadLines(out), std::vector<std::string>{"a record of the other run"});
  other.Close();

  ASSERT_TRUE(other.Open((f.dir / "set.log").string(), true, textfile::Lock::kExclusive));
  run = Kalvex(Args(f) + " --out " + (f.dir / "mine.int").string());
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("is being written by another run"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(f.dir / "mine.int"));
}

TEST(IntegrateFaults, AnOutputNameTooLongGivesTheSystemsReason) {
  const auto f = Set("faults_long_name", 5);
  const Ran run = Kalvex(Args(f) + " --out " + (f.dir / (std::string(300, 'a') + ".int")).string());
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("File name too long"), std::string::npos) << run.out;
}

TEST(IntegrateFaults, ADataFileEndingInsideAReflectionNamesItsLineAndFails) {
  const auto f = Set("faults_cut", 30);
  auto lines = testing::ReadLines(f.dir / f.data);
  lines.pop_back();
  {
    std::ofstream out(f.dir / f.data);
    for (const auto& l : lines) out << l << "\n";
  }
  const Ran run = Kalvex(Args(f));
  EXPECT_EQ(run.status, 1) << run.out;
  const std::string where = "(" + f.data + " ends at line " + std::to_string(lines.size()) + ")";
  EXPECT_NE(run.out.find("NOT READ IN FULL: NOT FITTED, NOT WRITTEN " + where), std::string::npos) << run.out;
  const auto log = testing::ReadLines(f.dir / "set.log");
  bool logged = false;
  for (const auto& l : log) logged = logged || l.find(where) != std::string::npos;
  EXPECT_TRUE(logged);
}

}  // namespace
}  // namespace kalvex
