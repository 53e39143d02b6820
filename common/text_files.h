// Text files as the program reads them: a data file read line by line with
// rewind and "back one line". Record files are written by RecordWriter
// (common/record_writer.h).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace textfile {

// Lines read from a file or handed in as text, with a reading position.
// Moving back and rewinding are index moves, so every line keeps its true
// number for messages.
class LineSource {
 public:
  LineSource() = default;

  // Reads the whole file; false if it cannot be opened. A byte-order mark
  // at the start and an end-of-file character (^Z) at the end are not part
  // of the lines.
  bool Open(const std::string& path);
  // Lines from literal text, taken as Open takes a file's.
  void SetText(std::string_view text);
  void Close();
  bool IsOpen() const { return open_; }

  // The next line without its end-of-line characters; false at the end.
  bool Next(std::string& line);
  // Moves back by one line; false (and no move) at the start.
  bool Back();
  void Rewind() { pos_ = 0; }
  // The reading position, to come back to after a look ahead.
  std::size_t Position() const { return pos_; }
  void SetPosition(std::size_t position) { pos_ = position < lines_.size() ? position : lines_.size(); }
  bool AtEnd() const { return pos_ >= lines_.size(); }

  // Number (1-based) of the line returned last by Next; 0 before any.
  int LineNumber() const { return static_cast<int>(pos_); }

 private:
  std::vector<std::string> lines_;
  std::size_t pos_ = 0;
  bool open_ = false;
};

}  // namespace textfile
