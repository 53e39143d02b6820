// Simulated data sets on disk and the window commands that open them, for
// tests that run the program's commands end to end on the headless toolkit.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands/files.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex::testing {

struct SimulatedFiles {
  std::filesystem::path dir;
  std::string data;  // bare names inside dir
  std::string parameters;
  simulate::DataSet set;
};

inline SimulatedFiles MakeXcaliburSet(const std::string& test_name, const simulate::GeneratorOptions& options,
                                      const simulate::Instrument& instrument = {},
                                      const simulate::Crystal& crystal = {{8.5, 11.2, 13.7, 90, 90, 90},
                                                                          {12, -25, 40}}) {
  SimulatedFiles f;
  f.dir = ScratchDir(test_name);
  f.data = "set.dca";
  f.parameters = "set.par";
  f.set = simulate::Generate(crystal, instrument, {}, {}, options);
  std::string error;
  if (!simulate::WriteXcalibur(f.set, f.dir / f.data, error) ||
      !simulate::WriteParameterFile(f.set, f.dir / f.parameters, error))
    throw std::runtime_error(error);
  return f;
}

// "Open data file" (Xcalibur preselected by the extension), "Open parameter
// file" and, when `output` is not empty, "Open output file".
inline void OpenSimulated(ProgramState& state, const SimulatedFiles& f, const std::string& output = "set.int") {
  script::QueueBrowse(f.data, f.dir.string());
  script::QueueClick(470);
  OpenDataFile(state);
  script::QueueBrowse(f.parameters, f.dir.string());
  OpenParameterFile(state);
  if (!output.empty()) {
    script::QueueBrowse(output, f.dir.string());
    OpenOutputFile(state);
  }
}

// The running test's name, for scratch directories of its own.
inline std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A file's bytes, the log banner's time masked: the one line two runs of
// the same choices may not share.
inline std::string ContentsWithoutLogTime(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  const std::string banner = "LOG FILE CREATED BY WIN-KALVEX V3.3 ON ";
  if (const auto at = s.find(banner); at != std::string::npos) s.replace(at + banner.size(), 24, 24, '*');
  return s;
}

// A command line run through the shell: its exit status (-1 when it did not
// exit) and what it wrote to stdout and stderr together.
struct CommandRun {
  int status = -1;
  std::string out;
};
inline CommandRun RunCommand(const std::string& command_line) {
  const std::string command = command_line + " 2>&1";
  CommandRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buf{};
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe)) run.out.append(buf.data(), n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

}  // namespace kalvex::testing
