// The desktop program: start-up, then the command loop until Exit.
// `winkalvex [DATA_FILE]`: a data file named (the desktop opening one by its
// extension) is opened first, as the file browser would give it.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>

#include "shell/command_loop.h"

int main(int argc, char** argv) {
  auto state = kalvex::NewProgramState();
  std::optional<tk::BrowseResult> data_file;
  if (argc > 1) {
    // The browser makes the file's directory current and gives its bare
    // name; a file that does not open brings the browser after all.
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(argv[1], ec).lexically_normal();
    std::filesystem::current_path(path.parent_path(), ec);
    data_file = tk::BrowseResult{path.filename().string(), path.parent_path().string()};
  }
  try {
    kalvex::StartUp(*state, data_file);
    return kalvex::RunCommandLoop(*state);
  } catch (const std::exception& e) {
    // The toolkit is gone (no window left to act on): nothing can go on.
    std::fprintf(stderr, "WinKalvex: %s\n", e.what());
    return 1;
  }
}
