// Text files as the program reads them: a data file read line by line with
// rewind and "back one line". Record files are written by RecordWriter
// (common/record_writer.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace textfile {

// Lines read from a file or handed in as text, with a reading position.
// A file is read a block at a time through an index of where its lines
// start, so that memory stays flat in the file's size. The index grows as
// reading goes forward, in the same pass: a file is read once, not once to
// index and again to parse. Moving back and rewinding are index moves, so
// every line keeps its true number for messages.
class LineSource {
 public:
  LineSource() = default;

  // Opens the file for reading from its first line; false if it cannot be
  // opened or is no regular file. A
  // byte-order mark at the start and an end-of-file character (^Z) at the
  // end are not part of the lines.
  bool Open(const std::string& path);
  // Lines from literal text, taken as Open takes a file's.
  void SetText(std::string_view text);
  void Close();
  bool IsOpen() const { return open_; }

  // The next line without its end-of-line characters; false at the end (or
  // when the file can no longer be read).
  bool Next(std::string& line);
  // Moves back by one line; false (and no move) at the start.
  bool Back();
  void Rewind() { pos_ = 0; }
  // The reading position, to come back to after a look ahead.
  std::size_t Position() const { return pos_; }
  void SetPosition(std::size_t position) { pos_ = position < count_ ? position : count_; }
  bool AtEnd() { return pos_ >= count_ && !IndexNext(); }

  // Number (1-based) of the line returned last by Next; 0 before any.
  int LineNumber() const { return static_cast<int>(pos_); }

 private:
  // The bytes [from, to) of the text, valid until the next read; none past
  // the end of a file that shrank.
  std::optional<std::string_view> View(std::uint64_t from, std::uint64_t to);
  bool Bytes(std::uint64_t from, std::uint64_t to, std::string& out);
  void Start(std::uint64_t size);
  // Indexes one more line; false when every line is indexed.
  bool IndexNext();
  void EndLastLine();

  std::shared_ptr<std::FILE> file_;  // none for text handed in
  std::string text_;
  std::uint64_t size_ = 0;
  // starts_[i] is where line i begins; starts_[count_] is where the last
  // line indexed ends, and the next begins unless the index is complete.
  std::vector<std::uint64_t> starts_;
  std::size_t count_ = 0;
  bool complete_ = true;
  std::string block_;  // the part of the file read last: its first block_size_ bytes
  std::uint64_t block_at_ = 0;
  std::size_t block_size_ = 0;
  std::size_t pos_ = 0;
  bool open_ = false;
};

}  // namespace textfile
