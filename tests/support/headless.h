// A fresh program state on a fresh headless toolkit, with the whole
// interface built, for tests that drive handlers as a user would.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "state/program_state.h"
#include "ui/user_interface.h"
#include "toolkit/script/script.h"
#include "toolkit/toolkit.h"

namespace kalvex::testing {

inline std::unique_ptr<ProgramState> FreshState(bool build_interface = true) {
  script::Reset();
  tk::ResetRegistry();
  auto state = NewProgramState();
  state->tick_budget_ms = 0;  // scripts count one reflection a tick
  if (build_interface) BuildUserInterface(*state);
  return state;
}

// A scratch directory of the test's own under the build tree.
inline std::filesystem::path ScratchDir(const std::string& name) {
  auto dir = std::filesystem::path(KALVEX_BINARY_DIR) / "test-scratch" / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace kalvex::testing
