// Record files under a write that fails part-way: the file keeps whole
// records only, and says which file and why.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
  const std::string too_long = (dir / (std::string(296, 'n') + ".int")).string();
  EXPECT_FALSE(missing.Open(too_long, false, textfile::Lock::kExclusive));
  EXPECT_EQ(missing.Error(), too_long + ": File name too long");
}

TEST(RecordWriter, ASecondLockedWriterIsRefusedUntouched) {
  const std::string path = (kalvex::testing::ScratchDir("record_writer_lock") / "out.int").string();
  textfile::RecordWriter first, second;
  ASSERT_TRUE(first.Open(path, false, textfile::Lock::kExclusive));
  first.Record("one");
  ASSERT_TRUE(first.Flush());
  EXPECT_FALSE(second.Open(path, false, textfile::Lock::kExclusive));
  EXPECT_TRUE(second.LockedByAnother());
  EXPECT_EQ(second.Error(), path + " is being written by another run");
  EXPECT_EQ(Contents(path), " one\n");  // not emptied
  // Devices are not locked: any number of runs may write to /dev/null.
  EXPECT_TRUE(first.Open("/dev/null", false, textfile::Lock::kExclusive));
  EXPECT_TRUE(second.Open("/dev/null", false, textfile::Lock::kExclusive));
}

TEST(RecordWriter, AppendingCutsATornLastRecordFirst) {
  const fs::path path = kalvex::testing::ScratchDir("record_writer_torn") / "out.int";
  const std::string tail(5000, 't');  // longer than a block read back
  const std::pair<std::string, std::string> cases[] = {
      {" a\n b\n", " a\n b\n"}, {" a\n b\n  3  1", " a\n b\n"}, {" a\n" + tail, " a\n"}, {"no end of line", ""}};
  for (const auto& [before, kept] : cases) {
    std::ofstream(path, std::ios::binary) << before;
    textfile::RecordWriter out;
    ASSERT_TRUE(out.Open(path.string(), true, textfile::Lock::kExclusive));
    EXPECT_EQ(out.TornBytesCut(), static_cast<long long>(before.size() - kept.size()));
    out.Record("next");
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(Contents(path), kept + " next\n");
  }
}

// Only the program's IgnoreFileSizeSignal keeps SIGXFSZ from ending the
// process (a child) before the file is cut back.
TEST(RecordWriter, AFileSizeLimitEndsInAnErrorNotTheProcess) {
  const std::string path = (kalvex::testing::ScratchDir("record_writer_fsize") / "out.int").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    textfile::IgnoreFileSizeSignal();
    const rlimit limit{50, 50};
    setrlimit(RLIMIT_FSIZE, &limit);
    textfile::RecordWriter out;
    out.Open(path, false);
    for (int i = 0; i < 10 && out.Flush(); ++i) out.Record(std::string(19, 'x'));  // 21 bytes a record
    _exit(out.Error() == path + ": File too large" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_EQ(fs::file_size(path), 42u);  // two whole records: the third crossed 50 bytes
}

}  // namespace
