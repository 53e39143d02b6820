// The desktop program: start-up, then the command loop until Exit.
#include "shell/command_loop.h"

int main() {
  auto state = kalvex::NewProgramState();
  kalvex::StartUp(*state);
  kalvex::RunCommandLoop(*state);
}
