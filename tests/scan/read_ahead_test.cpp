// Reading ahead on another thread must leave the run exactly where reading
// in turn would: the same scan, counters and place in the file after every
// reflection, through a change of "skip weak", a stop in the middle, and a
// reflection cut short by the end of the file.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "scan/read_ahead.h"
#include "scan/reflection_input.h"
#include "tests/scan/reading.h"
#include "tests/support/headless.h"
#include "tools/simulate/simulate.h"

namespace kalvex {
namespace {

using testing::FreshState;
using testing::ScratchDir;

// What a fit does to the scan between two reads.
void Fit(ScanReflection& scan) {
  for (std::size_t k = 1; k < scan.class_code.size(); ++k) scan.class_code[k] = static_cast<char>('A' + k);
  scan.omega_centre += 0.125f;
  scan.mono_term = 7.0f;
  scan.calculated.fill(3.0f);
}

bool SameScan(const ScanReflection& a, const ScanReflection& b) {
  // Every field up to and including the class code: no padding before it.
  return std::memcmp(&a, &b, offsetof(ScanReflection, class_code) + sizeof a.class_code) == 0;
}

TEST(ReadAhead, LeavesTheRunWhereReadingInTurnWould) {
  const auto data = testing::SetForEveryFormat(240, 40);
  const auto path = ScratchDir("read_ahead") / "set";
  for (const auto& [format, write] : testing::kSetWriters) {
    SCOPED_TRACE("format " + std::to_string(format));
    std::string error;
    ASSERT_TRUE(write(data, path, error)) << error;
    std::stringstream written;
    written << std::ifstream(path, std::ios::binary).rdbuf();
    // The last reflection loses its last few characters.
    const std::string text = written.str().substr(0, written.str().size() - 6);

    auto in_turn = FreshState(false);
    auto ahead_state = FreshState(false);
    for (ProgramState* s : {in_turn.get(), ahead_state.get()}) {
      s->params.input_format = format;
      s->files.data.SetText(text);
      ASSERT_EQ(testing::HeaderStatus(*s), kReadOk);
    }
    std::unique_ptr<ReadAhead> ahead;
    int whole = 0, cut = 0, taken = 0;
    for (int read = 1;; ++read) {
      SCOPED_TRACE("read " + std::to_string(read));
      // The run's choices change between two reflections, as the fit dialog
      // may change them; and a Stop ends the reading ahead.
      if (read == 60 || read == 130) {
        for (ProgramState* s : {in_turn.get(), ahead_state.get()}) s->data_set.skip_weak = read == 60 ? 1 : 0;
      }
      if (read == 100) ahead.reset();

      ProgramState& b = *ahead_state;
      const int status = ReadNextReflection(engine::PartsOf(*in_turn), in_turn->scan.seq_no + 1).status;
      int b_status = kReadOk;
      if (!ahead) ahead = std::make_unique<ReadAhead>(b.files.data, b.data_set, b.params, b.scan);
      if (ahead->Take(b.scan, b.data_set, b.params)) {
        ++taken;
      } else {
        ahead.reset();
        b_status = ReadNextReflection(engine::PartsOf(b), b.scan.seq_no + 1).status;
      }
      ASSERT_EQ(b_status, status);
      EXPECT_TRUE(SameScan(b.scan, in_turn->scan)) << "seq " << in_turn->scan.seq_no;
      EXPECT_EQ(b.data_set.input_class, in_turn->data_set.input_class);
      EXPECT_EQ(b.data_set.counted_class, in_turn->data_set.counted_class);
      EXPECT_EQ(ahead ? ahead->Position() : b.files.data.Position(), in_turn->files.data.Position());
      if (status == kEndOfData) break;
      if (status == kReadFailed) ++cut;
      if (status == kReadOk) {
        ++whole;
        Fit(in_turn->scan);
        Fit(b.scan);
      }
    }
    EXPECT_EQ(cut, 1);  // the last
    EXPECT_GT(whole, 200);
    EXPECT_GT(taken, whole - 5);  // nearly all of them read ahead
  }
}

}  // namespace
}  // namespace kalvex
