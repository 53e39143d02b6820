// "Manual profile fit": moving, refitting, accepting and rejecting.
#include <gtest/gtest.h>

#include "commands/manual_fit.h"
#include "shell/command_loop.h"
#include "tests/end_to_end/harness.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::MakeXcaliburSet;
using testing::OpenSimulated;
using testing::ReadLines;
using testing::TestName;

simulate::GeneratorOptions Few() {
  simulate::GeneratorOptions o;
  o.reflections = 12;
  o.standards = 1;
  o.standards_every = 100;
  return o;
}

TEST(HklEntry, SingleBlanksOrCommasSeparateTheIndices) {
  EXPECT_EQ(ParseHklEntry("2 -1 0"), (std::array<int, 3>{2, -1, 0}));
  EXPECT_EQ(ParseHklEntry("2,-1,0"), (std::array<int, 3>{2, -1, 0}));
  EXPECT_EQ(ParseHklEntry("12 -13 4"), (std::array<int, 3>{12, -13, 4}));
  EXPECT_EQ(ParseHklEntry(" 2 1 0"), (std::array<int, 3>{0, 2, 1}));  // a leading blank leaves h at 0
  EXPECT_EQ(ParseHklEntry("3"), (std::array<int, 3>{3, 0, 0}));
  EXPECT_EQ(ParseHklEntry(""), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(ParseHklEntry("1,,5"), (std::array<int, 3>{1, 0, 5}));
  EXPECT_EQ(ParseHklEntry("-10 20 -30"), (std::array<int, 3>{-10, 20, -30}));
}

class ManualFitTest : public ::testing::Test {
 protected:
  void Open(const std::string& output = "set.int") {
    files_ = MakeXcaliburSet(TestName(), Few());
    state_ = FreshState();
    OpenSimulated(*state_, files_, output);
  }
  int Seq(int i) const { return files_.set.reflections[i].seq; }
  testing::SimulatedFiles files_;
  std::unique_ptr<ProgramState> state_;
};

TEST_F(ManualFitTest, NavigationAcceptAndReject) {
  Open();
  const Widgets& w = state_->widgets;
  script::QueueCall([&] {
    EXPECT_EQ(script::Status(w.main[kWAccept]), tk::kActive);
    EXPECT_EQ(script::Status(w.main[kWGo]), tk::kHidden);
    for (int h : w.menu_titles) EXPECT_EQ(script::Status(h), tk::kGreyed);
    EXPECT_EQ(state_->scan.seq_no, Seq(0));
  });
  script::QueueClick(kCodeNext);
  script::QueueClick(kCodeNext);
  script::QueueClick(kCodePrevious);
  script::QueueCall([&] { EXPECT_EQ(state_->scan.seq_no, Seq(1)); });
  script::QueueClick(kCodeAccept);  // writes reflection 2, moves to 3
  script::QueueClick(kCodeReject);  // writes nothing, moves to 4
  script::QueueCall([&] { EXPECT_EQ(state_->scan.seq_no, Seq(3)); });
  const auto& target = files_.set.reflections[7].hkl;
  script::QueueText(w.main[kWHklEntry],
                    std::to_string(target[0]) + " " + std::to_string(target[1]) + " " + std::to_string(target[2]));
  script::QueueClick(kCodeHklGo);
  script::QueueCall([&] { EXPECT_EQ(state_->scan.hkl, target); });
  script::QueueNumber(w.main[kWSeqEntry], static_cast<float>(Seq(5)) + 0.7f);
  script::QueueClick(kCodeSeqGo);
  script::QueueCall([&] {
    EXPECT_EQ(state_->scan.seq_no, Seq(5));
    // The plot shows the indices as they are typed, and they read back.
    EXPECT_EQ(ParseHklEntry(script::Text(w.main[kWHklEntry])), state_->scan.hkl);
  });
  script::QueueClick(kCodeRefit);
  script::QueueClick(kCodeAccept);
  script::QueueClick(kCodeExit);
  ManualFit(*state_);

  const auto lines = ReadLines(files_.dir / "set.int");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(static_cast<int>(std::stod(lines[0].substr(61, 7))) / 10, Seq(1));
  EXPECT_EQ(static_cast<int>(std::stod(lines[1].substr(61, 7))) / 10, Seq(5));
  for (int h : w.menu_titles) EXPECT_EQ(script::Status(h), tk::kActive);
  EXPECT_EQ(script::Status(w.main[kWAccept]), tk::kHidden);
}

TEST_F(ManualFitTest, AcceptOnARejectedFitWritesItAsFitted) {
  Open();
  // An Rwp limit no fit can meet rejects every reflection.
  state_->params.check_flag[kRwp] = 1;
  state_->params.rwp_max = 1e-6f;
  script::QueueCall([&] { EXPECT_EQ(state_->scan.class_code[1], 'R'); });
  script::QueueClick(kCodeAccept);
  script::QueueClick(kCodeExit);
  ManualFit(*state_);
  const auto lines = ReadLines(files_.dir / "set.int");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(71, 2), "F ");
  EXPECT_GT(state_->fit.outcome[10], 0);  // counted as an F (Rwp) rejection
}

TEST_F(ManualFitTest, WithoutAnOutputFileAcceptAndRejectAreNotOffered) {
  Open("");
  const Widgets& w = state_->widgets;
  script::QueueCall([&] {
    EXPECT_EQ(script::Status(w.main[kWAccept]), tk::kHidden);
    EXPECT_EQ(script::Status(w.main[kWReject]), tk::kHidden);
  });
  script::QueueClick(kCodeAccept);
  script::QueueClick(kCodeReject);
  script::QueueCall([&] { EXPECT_EQ(state_->scan.seq_no, Seq(0)); });
  script::QueueClick(kCodeExit);
  ManualFit(*state_);
}

TEST_F(ManualFitTest, TheEndOfTheDataEndsTheCommand) {
  Open();
  const int last = static_cast<int>(files_.set.reflections.size()) - 1;
  script::QueueNumber(state_->widgets.main[kWSeqEntry], static_cast<float>(Seq(last)));
  script::QueueClick(kCodeSeqGo);
  script::QueueClick(kCodeNext);
  ManualFit(*state_);  // returns by itself
  EXPECT_EQ(script::PendingSteps(), 0u);
  EXPECT_EQ(script::Boxes().back().message, "End of input data file");
  for (int h : state_->widgets.menu_titles) EXPECT_EQ(script::Status(h), tk::kActive);
}

}  // namespace
}  // namespace kalvex
