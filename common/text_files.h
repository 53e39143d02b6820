// Text files as the program uses them: a data file read line by line with
// rewind and "back one line", and record files whose every record begins
// with one carriage-control character (always a blank: start a new line).
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

  // Reads the whole file; false if it cannot be opened.
  bool Open(const std::string& path);
  // Lines from literal text (tests).
  void SetText(std::string_view text);
  void Close();
  bool IsOpen() const { return open_; }

  // The next line without its end-of-line characters; false at the end.
  bool Next(std::string& line);
  // Moves back by one line; false (and no move) at the start.
  bool Back();
  void Rewind() { pos_ = 0; }
  bool AtEnd() const { return pos_ >= lines_.size(); }

  // Number (1-based) of the line returned last by Next; 0 before any.
  int LineNumber() const { return static_cast<int>(pos_); }

 private:
  std::vector<std::string> lines_;
  std::size_t pos_ = 0;
  bool open_ = false;
};

// A record file written with ASA carriage control: each record is written
// as one line beginning with a blank.
class RecordWriter {
 public:
  RecordWriter() = default;
  ~RecordWriter() { Close(); }
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Creates or overwrites (append false) or appends (append true).
  bool Open(const std::string& path, bool append);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // Writes `text` as one record behind the blank control character.
  void Record(std::string_view text);
  // Writes `text` exactly as one line (it already holds its control character).
  void Line(std::string_view text);
  void Empty(int count = 1);
  // False when anything written since opening failed to reach the file.
  bool Flush();

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace textfile
