// Line-indexed data files and carriage-control record files.
#include "common/text_files.h"

#include <fstream>
#include <sstream>

namespace textfile {

namespace {

void StripEnd(std::string& line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
}

// What editors on other systems put around a text: a UTF-8 byte-order mark
// in front of the first line, and the end-of-file character (^Z) after the
// last, alone on a line of its own or at the end of the last line. Neither
// belongs to the first or last record.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kEndOfFileMark = '\x1A';

std::vector<std::string> SplitLines(std::istream& in) {
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    StripEnd(line);
    lines.push_back(std::move(line));
  }
  if (!lines.empty() && lines.front().starts_with(kByteOrderMark)) lines.front().erase(0, kByteOrderMark.size());
  if (!lines.empty() && lines.back().ends_with(kEndOfFileMark)) {
    std::string& last = lines.back();
    while (!last.empty() && last.back() == kEndOfFileMark) last.pop_back();
    StripEnd(last);
    if (last.empty()) lines.pop_back();
  }
  return lines;
}

}  // namespace

bool LineSource::Open(const std::string& path) {
  Close();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  lines_ = SplitLines(in);
  open_ = true;
  return true;
}

void LineSource::SetText(std::string_view text) {
  Close();
  std::istringstream in{std::string(text)};
  lines_ = SplitLines(in);
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

}  // namespace textfile
