#include "common/record_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace textfile {

namespace {

// Opens `path` for writing, creating it when missing; `created` says
// whether this call made it. Appending needs to read the file's tail as
// well; a file that may be written but not read is appended to unchecked.
int OpenForWriting(const std::string& path, bool append, bool& created) {
  const int access = (append ? O_RDWR | O_APPEND : O_WRONLY) | O_CLOEXEC;
  int fd = ::open(path.c_str(), access | O_CREAT | O_EXCL, 0666);
  created = fd >= 0;
  if (fd >= 0 || errno != EEXIST) return fd;
  fd = ::open(path.c_str(), access);
  if (fd < 0 && errno == EACCES && append) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  // Removed in between, or a link to a file yet to be made.
  fd = ::open(path.c_str(), access | O_CREAT, 0666);
  created = fd >= 0;
  return fd;
}

}  // namespace

bool RecordWriter::Open(const std::string& path, bool append, Lock lock) {
  Close();
  path_ = path;
  error_.clear();
  pending_.clear();
  locked_by_another_ = false;
  created_ = false;
  torn_bytes_cut_ = 0;
  fd_ = OpenForWriting(path, append, created_);
  if (fd_ < 0) {
    Fail(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    Fail(errno);
  } else if (S_ISREG(st.st_mode)) {
    // Nothing in the file is touched before the lock is held: a second run
    // must not empty or cut the file the first is writing.
    if (lock == Lock::kExclusive) {
      if (!TakeLock()) return false;
      ::fstat(fd_, &st);  // the size once the run before has let go
    }
    committed_ = static_cast<long long>(st.st_size);
    if (!append && committed_ > 0) {
      if (::ftruncate(fd_, 0) == 0) {
        committed_ = 0;
      } else {
        Fail(errno, "emptying it");
      }
    }
    if (append && committed_ > 0) CutTornTail();
  } else {
    committed_ = 0;  // a device or a pipe: nothing to lock, empty or cut
  }
  if (!error_.empty()) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool RecordWriter::TakeLock() {
  int locked;
  do {
    locked = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  // A file system without locks is written unlocked rather than refused.
  if (locked == 0 || errno != EWOULDBLOCK) return true;
  locked_by_another_ = true;
  error_ = path_ + " is being written by another run";
  ::close(fd_);
  fd_ = -1;
  return false;
}

// A file whose last byte is no end of line ends in a torn record: the bytes
// after the last end of line are cut off, so that what is appended starts a
// line of its own.
bool RecordWriter::CutTornTail() {
  std::array<char, 4096> block{};
  long long end = committed_;
  bool last_byte = true;
  while (end > 0) {
    const auto size = static_cast<std::size_t>(std::min<long long>(end, static_cast<long long>(block.size())));
    const ssize_t n = ::pread(fd_, block.data(), size, static_cast<off_t>(end - static_cast<long long>(size)));
    if (n < 0 && errno == EINTR) continue;
    // A file opened without the right to read it is appended to unchecked.
    if (n < 0 && errno == EBADF) return true;
    if (n != static_cast<ssize_t>(size)) {
      Fail(n < 0 ? errno : EIO, "reading its last record");
      return false;
    }
    if (last_byte && block[size - 1] == '\n') return true;
    last_byte = false;
    const auto newline = std::find(std::make_reverse_iterator(block.data() + size),
                                    std::make_reverse_iterator(block.data()), '\n');
    if (newline.base() != block.data()) {
      end -= static_cast<long long>(block.data() + size - newline.base());
      break;
    }
    end -= static_cast<long long>(size);
  }
  if (::ftruncate(fd_, static_cast<off_t>(end)) != 0) {
    Fail(errno, "cutting its torn last record");
    return false;
  }
  torn_bytes_cut_ = committed_ - end;
  committed_ = end;
  return true;
}

bool RecordWriter::Close() {
  if (fd_ < 0) return true;
  bool ok = Flush();
  if (::close(fd_) != 0) {
    Fail(errno, "closing it");
    ok = false;
  }
  fd_ = -1;
  return ok;
}

void RecordWriter::Record(std::string_view text) {
  if (fd_ < 0) return;
  pending_ += ' ';
  pending_ += text;
  pending_ += '\n';
}

void RecordWriter::Line(std::string_view text) {
  if (fd_ < 0) return;
  pending_ += text;
  pending_ += '\n';
}

void RecordWriter::Empty(int count) {
  for (int i = 0; i < count; ++i) Record("");
}

bool RecordWriter::Flush() {
  if (fd_ < 0) return true;
  if (!error_.empty()) {
    // After a failure nothing more is written: what follows a lost record
    // would leave a gap no reader could see.
    pending_.clear();
    return false;
  }
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(n < 0 ? errno : ENOSPC);
      // Cut back to the last whole record; the file stays as it was.
      if (done > 0 && ::ftruncate(fd_, static_cast<off_t>(committed_)) != 0) {
        error_ += " (and it could not be cut back to its last whole record)";
      }
      pending_.clear();
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  committed_ += static_cast<long long>(pending_.size());
  pending_.clear();
  return true;
}

void RecordWriter::Fail(int error_number, std::string_view doing) {
  if (!error_.empty()) return;
  error_ = path_ + ": " + std::strerror(error_number);
  if (!doing.empty()) error_.append(" (").append(doing).append(")");
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace textfile
