#include "commands/progress.h"

#include "commands/data_file.h"
#include "common/progress_text.h"
#include "toolkit/toolkit.h"

namespace kalvex {

namespace {
constexpr auto kShowEvery = std::chrono::milliseconds(250);
// A rate measured over less than this is mostly the start's noise.
constexpr double kShortestMeasure = 0.2;
}  // namespace

PassProgress::PassProgress(ProgramState& state) : state_(state) {
  Resume();
  Show();
}

void PassProgress::Resume() {
  resumed_at_ = Clock::now();
  passed_at_resume_ = ReflectionsPassed(state_);
}

double PassProgress::Rate(int passed, Clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - resumed_at_).count();
  // Until a rate can be measured, the last one stands (none at the start).
  if (seconds >= kShortestMeasure && passed > passed_at_resume_) rate_ = (passed - passed_at_resume_) / seconds;
  return rate_;
}

void PassProgress::Update(std::optional<std::size_t> at) {
  if (Clock::now() - shown_at_ >= kShowEvery) Show(at);
}

void PassProgress::Show(std::optional<std::size_t> at) {
  const Clock::time_point now = Clock::now();
  shown_at_ = now;
  // A file not counted (where no one would see it, or damaged further on)
  // has no measure of progress.
  const int passed = ReflectionsPassed(state_, at);
  if (passed < 0) return;
  tk::ShowStatus(state_.widgets.status_bar, ProgressText(passed, state_.files.reflection_count, Rate(passed, now)));
}

}  // namespace kalvex
