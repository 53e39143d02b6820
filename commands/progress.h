// The status bar's account of a pass over the data file: reflections passed
// of the file's count, the rate, and the time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "state/program_state.h"

namespace kalvex {

class PassProgress {
 public:
  // Shows where the pass stands; the rate is measured from Resume on.
  explicit PassProgress(ProgramState& state);
  // The pass runs (again): the rate counts from here, so that time stopped
  // does not slow it.
  void Resume();
  // Shows the progress if the last showing is old enough: a few times a
  // second, which an eye can follow and which costs the pass nothing.
  // `at` is the place in the data file reached, while the file is read by
  // another.
  void Update(std::optional<std::size_t> at = std::nullopt);
  // Shows the progress now (the end of the pass, a Stop).
  void Show(std::optional<std::size_t> at = std::nullopt);

 private:
  using Clock = std::chrono::steady_clock;
  double Rate(int passed, Clock::time_point now);

  ProgramState& state_;
  Clock::time_point resumed_at_{};
  int passed_at_resume_ = 0;
  double rate_ = 0;
  Clock::time_point shown_at_{};
};

}  // namespace kalvex
