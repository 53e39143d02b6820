#include "common/record_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace textfile {

bool RecordWriter::Open(const std::string& path, bool append) {
  Close();
  path_ = path;
  error_.clear();
  pending_.clear();
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) {
    Fail(errno);
    return false;
  }
  struct stat st {};
  committed_ = ::fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
  return true;
}

void RecordWriter::Close() {
  if (fd_ < 0) return;
  Flush();
  ::close(fd_);
  fd_ = -1;
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

void RecordWriter::Fail(int error_number) {
  if (error_.empty()) error_ = path_ + ": " + std::strerror(error_number);
}

}  // namespace textfile
