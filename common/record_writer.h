// Record files (the intensity file and the log): each record begins with
// one carriage-control character (always a blank: start a new line).
//
// What is written between two Flush calls reaches the file whole or not at
// all: a write that fails (a full disk, a file-size limit) is cut back to
// the last whole record, and a file opened to append whose last record was
// torn (a run killed mid-write) loses the torn tail first, so that a later
// run that appends never continues a torn line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace textfile {

// Whether Open takes an advisory lock on the file for as long as it stays
// open, so that a second run writing the same file is refused.
enum class Lock { kNone, kExclusive };

class RecordWriter {
 public:
  RecordWriter() = default;
  ~RecordWriter() { Close(); }
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Creates or empties (append false) or appends to (append true) `path`;
  // false, with Error() saying why, when it cannot be opened for writing.
  // With Lock::kExclusive a regular file another writer holds locked is
  // refused untouched (LockedByAnother() then says so); the lock is taken
  // before the file is emptied or its torn tail cut. Devices and pipes
  // (/dev/null) are not locked.
  bool Open(const std::string& path, bool append, Lock lock = Lock::kNone);
  // Writes what is pending, then closes; false when something given since
  // the last Flush did not reach the file or the closing failed.
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // Writes `text` as one record behind the blank control character.
  void Record(std::string_view text);
  // Writes `text` exactly as one line (it already holds its control character).
  void Line(std::string_view text);
  void Empty(int count = 1);
  // Writes the lines given since the last Flush as one whole. False when
  // they (or anything before them) failed to reach the file.
  bool Flush();
  // Bytes given since the last Flush.
  std::size_t Pending() const { return pending_.size(); }
  // "<path>: <the system's reason>" of the first failure, or "<path> is
  // being written by another run"; empty while none.
  const std::string& Error() const { return error_; }
  // The last Open failed because another writer holds the file's lock.
  bool LockedByAnother() const { return locked_by_another_; }
  // The last Open made the file (it did not exist before).
  bool Created() const { return created_; }
  // Bytes after the last end of line that the last Open cut off a file
  // opened to append: a record torn by a run that stopped mid-write.
  long long TornBytesCut() const { return torn_bytes_cut_; }

 private:
  bool TakeLock();
  bool CutTornTail();
  void Fail(int error_number, std::string_view doing = {});

  int fd_ = -1;
  std::string path_;
  std::string pending_;
  long long committed_ = 0;  // size of the file up to the last whole record
  std::string error_;
  bool locked_by_another_ = false;
  bool created_ = false;
  long long torn_bytes_cut_ = 0;
};

// A file-size limit (RLIMIT_FSIZE) would end the process with SIGXFSZ at
// the write that crosses it, before a RecordWriter can cut the file back to
// its last whole record. Ignoring the signal makes that write fail with
// EFBIG instead. Called once by a program's main.
void IgnoreFileSizeSignal();

}  // namespace textfile
