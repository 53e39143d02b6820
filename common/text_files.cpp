// Line-indexed data files and carriage-control record files.
#include "common/text_files.h"

#include <fstream>
#include <sstream>

namespace textfile {

namespace {
void StripEnd(std::string& line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
}
}  // namespace

bool LineSource::Open(const std::string& path) {
  Close();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    StripEnd(line);
    lines_.push_back(std::move(line));
  }
  open_ = true;
  return true;
}

void LineSource::SetText(std::string_view text) {
  Close();
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    StripEnd(line);
    lines_.push_back(std::move(line));
  }
  open_ = true;
}

void LineSource::Close() {
  lines_.clear();
  pos_ = 0;
  open_ = false;
}

bool LineSource::Next(std::string& line) {
  if (pos_ >= lines_.size()) return false;
  line = lines_[pos_++];
  return true;
}

bool LineSource::Back() {
  if (pos_ == 0) return false;
  --pos_;
  return true;
}

bool RecordWriter::Open(const std::string& path, bool append) {
  Close();
  file_ = std::fopen(path.c_str(), append ? "a" : "w");
  return file_ != nullptr;
}

void RecordWriter::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void RecordWriter::Record(std::string_view text) {
  if (!file_) return;
  std::fputc(' ', file_);
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fputc('\n', file_);
}

void RecordWriter::Line(std::string_view text) {
  if (!file_) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fputc('\n', file_);
}

void RecordWriter::Empty(int count) {
  for (int i = 0; i < count; ++i) Record("");
}

bool RecordWriter::Flush() {
  if (!file_) return true;
  return std::fflush(file_) == 0 && !std::ferror(file_);
}

}  // namespace textfile
