// Two data files into one intensity file in the real window: the second
// file's reflections share the first's sequence numbers, so the window asks
// before integrating it, and whichever answer the user gives, every
// reflection of both files is written once and each End of Run says so truly.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "shell/command_loop.h"
#include "tests/gui/real_window.h"
#include "toolkit/qt/pvgui_qt_testing.h"
#include "toolkit/toolkit.h"
#include "ui/user_interface.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using namespace realwin;

constexpr int kExampleReflections = 321;

// The user integrates example.dca into first.int, then opens other.dca (the
// same reflections again) and integrates it after answering `choice` to
// the question about first.int: 0 append after them, 1 choose second.int.
void TwoFilesIntoOne(const fs::path& dir, int choice) {
  FreshToolkit();
  fs::copy_file(dir / "example.dca", dir / "other.dca");
  auto state = NewProgramState();
  const Widgets& w = state->widgets;
  User user;
  std::vector<std::string> ends;
  StartUpFrom(*state, user, dir, "example.dca", "example.par");
  OpenOutputWhenIdle(w, user, dir, "first.int");
  const auto integrate = [&](const std::string& name, std::function<void()> before) {
    user.When("Auto profile fit of " + name, [&] { return Idle(w) && state->files.data_open; }, [&, before] {
      if (before) before();
      Choose(w, w.menu_auto_fit);
    });
    user.When("Quit the peak defaults", [&] { return Shown(w.peak_dialog); }, [&] { Click(w.peak_quit); });
    user.When("Go", [&] { return !Shown(w.peak_dialog) && Usable(w.main[kWGo]); }, [&] { Click(w.main[kWGo]); });
    user.When("End of Run of " + name, [&] { return Shown(w.run_end_dialog); }, [&] {
      ends.push_back(tk::GetString(w.run_end_text, 8000));
      Click(w.run_end_close);
    });
  };
  integrate("example.dca", nullptr);
  user.When("File > Open data file other.dca", [&] { return Idle(w); }, [&] {
    pvgui_qt::AnswerNextBrowse("other.dca", dir.string());
    Choose(w, w.menu_open_data);
  });
  user.When("the format dialog", [&] { return Shown(w.format_dialog); }, [&] { Click(w.format_ok); });
  integrate("other.dca", [&] {
    pvgui_qt::AnswerNextQuestion(choice);
    if (choice == 1) pvgui_qt::AnswerNextBrowse("second.int", dir.string());
  });
  while (!user.Done()) {
    const int code = tk::Wait();
    ASSERT_TRUE(DispatchCommand(*state, code)) << "code " << code;
  }
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_NE(ends[0].find("Every reflection of example.dca is in first.int"), std::string::npos) << ends[0];
  const std::string second_out = choice == 0 ? "first.int" : "second.int";
  EXPECT_NE(ends[1].find("Every reflection of other.dca is in " + second_out), std::string::npos) << ends[1];
}

std::vector<int> SeqsOf(const fs::path& file) { return Seqs(ReadLines(file)); }

TEST(RealWindowSharedOutput, AppendedAfterTheFirstFileEveryReflectionOfBothIsThereOnce) {
  const fs::path dir = ScratchCopyOfExample("real-window-shared-append");
  TwoFilesIntoOne(dir, 0);
  const std::vector<int> seqs = SeqsOf(dir / "first.int");
  ASSERT_EQ(seqs.size(), 2u * kExampleReflections);
  for (int i = 0; i < 2 * kExampleReflections; ++i) EXPECT_EQ(seqs[i], i % kExampleReflections + 1) << i;
}

TEST(RealWindowSharedOutput, AnotherOutputChosenEachFileIsWholeInItsOwn) {
  const fs::path dir = ScratchCopyOfExample("real-window-shared-other");
  TwoFilesIntoOne(dir, 1);
  for (const char* file : {"first.int", "second.int"}) {
    const std::vector<int> seqs = SeqsOf(dir / file);
    ASSERT_EQ(seqs.size(), static_cast<std::size_t>(kExampleReflections)) << file;
    for (int i = 0; i < kExampleReflections; ++i) EXPECT_EQ(seqs[i], i + 1) << file;
  }
}

}  // namespace
}  // namespace kalvex
