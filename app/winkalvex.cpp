// The desktop program: start-up, then the command loop until Exit.
#include <cstdio>
#include <exception>

#include "shell/command_loop.h"

int main() {
  auto state = kalvex::NewProgramState();
  try {
    kalvex::StartUp(*state);
    return kalvex::RunCommandLoop(*state);
  } catch (const std::exception& e) {
    // The toolkit is gone (no window left to act on): nothing can go on.
    std::fprintf(stderr, "WinKalvex: %s\n", e.what());
    return 1;
  }
}
