// The command loop's dispatch, start-up with cancelled browsers, and the
// ways the program ends.
#include <gtest/gtest.h>

#include "shell/command_loop.h"
#include "tests/support/headless.h"

namespace kalvex {
namespace {

using testing::FreshState;

TEST(CommandLoop, CancellingBothBrowsersAtStartUpLeavesEverythingZero) {
  auto state = FreshState(false);
  state->params.output_format = 2;  // start-up must set Rfine
  StartUp(*state);                  // no browse answers queued: both cancelled
  const auto& browses = script::Browses();
  ASSERT_EQ(browses.size(), 2u);
  EXPECT_EQ(browses[0].title, "Open Data File");
  EXPECT_EQ(browses[0].start_directory, "");  // the first browse starts where the browser likes
  EXPECT_EQ(browses[0].filter, "*.dca|Xcalibur Ascii|*.dat|Single/CAD4|*.p4t|Xscans|*.*|All ");
  EXPECT_EQ(browses[0].filter.size(), 60u);
  EXPECT_EQ(browses[1].title, "Open Parameter File");
  EXPECT_EQ(browses[1].filter, "*.par|(Parameter File)|*.*|(All Files)");
  EXPECT_EQ(state->params.output_format, kOutputRfine);
  EXPECT_EQ(state->params.n_wavelengths, 0);
  EXPECT_EQ(state->params.lambda1, 0.0f);
  EXPECT_FALSE(state->files.data_open);
  EXPECT_TRUE(script::Shown(state->widgets.main_window));
}

TEST(CommandLoop, CodesWithoutAHandlerChangeNothing) {
  auto state = FreshState();
  state->params.output_format = 1;
  for (int code : {0, 53, 470, 511, 593, 631, 990, 12345}) {
    EXPECT_FALSE(DispatchCommand(*state, code)) << code;
  }
  EXPECT_EQ(state->params.output_format, 1);
  EXPECT_TRUE(script::Boxes().empty());
}

TEST(CommandLoop, ParametersMenuCodesRunTheirDialogs) {
  auto state = FreshState();
  script::QueueToggle(state->widgets.out_shelx, 1);
  script::QueueClick(kCodeOutputSave);
  EXPECT_TRUE(DispatchCommand(*state, kCodeOutputFormat));
  EXPECT_EQ(state->params.output_format, kOutputShelx);
  script::QueueClick(kCodeDiffractometerOk);
  EXPECT_TRUE(DispatchCommand(*state, kCodeDiffractometer));
  EXPECT_EQ(script::PendingSteps(), 0u);
}

TEST(CommandLoop, TheLoopDispatchesUntilExit) {
  auto state = FreshState();
  // Stray dialog codes, then the output format, then the Exit button.
  script::QueueClick(kCodeOutputSave);
  script::QueueClick(kCodeOutputFormat);
  script::QueueToggle(state->widgets.out_rfine_extended, 1);
  script::QueueClick(kCodeOutputSave);
  script::QueueClick(kCodeExit);
  EXPECT_EQ(RunCommandLoop(*state), 0);
  EXPECT_EQ(state->params.output_format, kOutputRfineExtended);
}

TEST(EndProgram, MessageIsCutAtSixtyAndAtTheFirstCharacterOutsideTheRange) {
  EXPECT_EQ(FatalMessageText(""), "");
  EXPECT_EQ(FatalMessageText("MISSING DATA FROM PARAMETER FILE"), "MISSING DATA FROM PARAMETER FILE");
  EXPECT_EQ(FatalMessageText("abc~def"), "abc");    // '~' is 126
  EXPECT_EQ(FatalMessageText("abc{def"), "abc");    // '{' is 123
  EXPECT_EQ(FatalMessageText("abcz def"), "abcz def");  // 'z' is 122, still shown
  EXPECT_EQ(FatalMessageText("line\nnext"), "line");
  EXPECT_EQ(FatalMessageText(std::string("caf\xc3\xa9")), "caf");
  const std::string long_message(75, 'A');
  EXPECT_EQ(FatalMessageText(long_message), std::string(60, 'A'));
}

TEST(EndProgram, PlainExitGivesZeroAndNoBoxAFatalMessageOneAndItsBox) {
  auto state = FreshState();
  EXPECT_EQ(EndProgram(""), 0);
  EXPECT_TRUE(script::Boxes().empty());
  state = FreshState();
  EXPECT_EQ(EndProgram("ERROR READING PARAMETER FILE"), 1);
  ASSERT_EQ(script::Boxes().size(), 1u);
  EXPECT_EQ(script::Boxes()[0].title, "WinKalvex");
  EXPECT_EQ(script::Boxes()[0].message, "ERROR READING PARAMETER FILE");
}

TEST(EndProgram, ClosingTheMainWindowEndsLikeExit) {
  for (int code : {kCodeClosed, kCodeMenuExit, kCodeExit}) {
    auto state = FreshState();
    EXPECT_TRUE(DispatchCommand(*state, code));
    EXPECT_TRUE(state->end_requested) << code;
    EXPECT_TRUE(state->end_message.empty());
  }
}

}  // namespace
}  // namespace kalvex
