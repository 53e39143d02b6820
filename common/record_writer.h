// Record files (the intensity file and the log): each record begins with
// one carriage-control character (always a blank: start a new line).
//
// What is written between two Flush calls reaches the file whole or not at
// all: a write that fails (a full disk, a file-size limit) is cut back to
// the last whole record, so that a later run that appends never continues
// a torn line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace textfile {

class RecordWriter {
 public:
  RecordWriter() = default;
  ~RecordWriter() { Close(); }
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Creates or empties (append false) or appends to (append true) `path`;
  // false, with Error() saying why, when it cannot be opened for writing.
  bool Open(const std::string& path, bool append);
  // Writes what is pending, then closes.
  void Close();
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
  // "<path>: <the system's reason>" of the first failure; empty while none.
  const std::string& Error() const { return error_; }

 private:
  void Fail(int error_number);

  int fd_ = -1;
  std::string path_;
  std::string pending_;
  long long committed_ = 0;  // size of the file up to the last whole record
  std::string error_;
};

}  // namespace textfile
