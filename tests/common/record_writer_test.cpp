// Record files under a write that fails part-way: the file keeps whole
// records only, and says which file and why.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/record_writer.h"
#include "tests/support/headless.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A file-size limit stands in for a full disk: the write that crosses it
// fails with what is already past the limit cut back.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

TEST(RecordWriter, AFailedWriteLeavesWholeRecordsAndNamesFileAndCause) {
  const fs::path dir = kalvex::testing::ScratchDir("record_writer");
  const std::string path = (dir / "out.int").string();
  {
    textfile::RecordWriter out;
    ASSERT_TRUE(out.Open(path, false));
    FileSizeLimit limit(100);
    int written = 0;
    for (; written < 10; ++written) {
      // Two lines a reflection, as the extended format writes them: 21 and
      // 20 bytes with their blanks and ends of line.
      out.Record(std::string(19, 'x'));
      out.Record(std::string(18, 'y'));
      if (!out.Flush()) break;
    }
    EXPECT_EQ(written, 2);  // the third pair would end at byte 123: 18 of its bytes got in
    EXPECT_EQ(out.Error(), path + ": File too large");
    // Nothing more is written after a loss.
    out.Record("late");
    EXPECT_FALSE(out.Flush());
  }
  EXPECT_EQ(fs::file_size(path), 82u);
  const std::string text = Contents(path);
  EXPECT_EQ(text.back(), '\n');

  // Appending later continues after the last whole record.
  textfile::RecordWriter again;
  ASSERT_TRUE(again.Open(path, true));
  again.Record("next");
  EXPECT_TRUE(again.Flush());
  again.Close();
  EXPECT_EQ(Contents(path), text + " next\n");

  textfile::RecordWriter missing;
  EXPECT_FALSE(missing.Open((dir / "no such dir" / "x.int").string(), false));
  EXPECT_EQ(missing.Error(), (dir / "no such dir" / "x.int").string() + ": No such file or directory");
}

}  // namespace
