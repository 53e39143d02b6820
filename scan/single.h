// Single scan files: what the reader keeps between reflections (the step
// width itself is the omega-step box's value, ProgramState::omega_step).
#pragma once

namespace kalvex {

struct SingleFormat {
  // Step time of the first Single reflection read since start-up; every
  // later reflection is scaled to it.
  bool reference_time_set = false;
  float reference_time = 0;
};

}  // namespace kalvex
