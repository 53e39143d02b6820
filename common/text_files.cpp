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

}  // namespace textfile
