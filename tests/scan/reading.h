// Reading a ProgramState's data file with the format readers, as the
// commands hand them its parts, and what a read that fails must give.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "commands/session.h"
#include "engine/run.h"
#include "scan/reflection_input.h"
#include "state/program_state.h"
#include "tools/simulate/simulate.h"

namespace kalvex::testing {

inline std::string Describe(const ReadResult& result) {
  std::string text = "status " + std::to_string(result.status);
  if (result.Failed()) text += " \"" + result.error.message + "\" at file line " + std::to_string(result.error.line);
  return text;
}

// For files meant to be readable: the status of the read, and a read error
// fails the test with the reader's message rather than a bare 13.
inline int Checked(const ReadResult& result) {
  if (result.Failed()) ADD_FAILURE() << "unexpected read error: " << Describe(result);
  return result.status;
}

inline int HeaderStatus(ProgramState& state) {
  return Checked(ReadScanHeader(engine::PartsOf(state), state.files.data_file_name));
}

inline int ReflectionStatus(ProgramState& state, int request, const Hkl& wanted = {0, 0, 0}) {
  return Checked(ReadNextReflection(engine::PartsOf(state), request, wanted));
}

// The read failed with exactly `message`, naming true file line `line`.
inline ::testing::AssertionResult FailedWith(const ReadResult& result, const std::string& message, int line) {
  if (result.Failed() && result.error.message == message && result.error.line == line) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "read gave " << Describe(result) << ", expected \"" << message
                                       << "\" at file line " << line;
}

// A simulated set every format the simulator writes can hold: counts within
// CAD4's fields, one step width as a Single file has, no attenuator.
inline simulate::DataSet SetForEveryFormat(int reflections, int standards_every) {
  simulate::GeneratorOptions options;
  options.reflections = reflections;
  options.standards_every = standards_every;
  options.mean_intensity = 40;
  options.attenuated_fraction = 0;
  simulate::ScanSettings scan;
  scan.width_b = 0;
  return simulate::Generate({}, {}, scan, {}, options);
}

using SetWriter = bool (*)(const simulate::DataSet&, const std::filesystem::path&, std::string&);
inline constexpr std::pair<int, SetWriter> kSetWriters[] = {{kFormatCad4, simulate::WriteCad4},
                                                            {kFormatSingle, simulate::WriteSingle},
                                                            {kFormatXcalibur, simulate::WriteXcalibur}};

}  // namespace kalvex::testing
