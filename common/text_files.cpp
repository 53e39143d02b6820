// Line-indexed data files and carriage-control record files.
#include "common/text_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace textfile {

namespace {

bool IsEndOfLine(char c) { return c == '\r' || c == '\n'; }

// What editors on other systems put around a text: a UTF-8 byte-order mark
// in front of the first line, and the end-of-file character (^Z) after the
// last, alone on a line of its own or at the end of the last line. Neither
// belongs to the first or last record.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kEndOfFileMark = '\x1A';

// Bytes read at a time: few reads for a file, little memory whatever its size.
constexpr std::size_t kBlock = 1 << 20;

}  // namespace

bool LineSource::Bytes(std::uint64_t from, std::uint64_t to, std::string& out) {
  if (!file_) {
    out.assign(text_, static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
    return true;
  }
  if (from < block_at_ || to > block_at_ + block_.size()) {
    // A block from here on: reading goes forward, a line at a time.
    const std::size_t want = static_cast<std::size_t>(std::max<std::uint64_t>(kBlock, to - from));
    block_.resize(want);
    const ssize_t got = ::pread(fileno(file_.get()), block_.data(), want, static_cast<off_t>(from));
    block_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    block_at_ = from;
    if (to > block_at_ + block_.size()) return false;
  }
  out.assign(block_, static_cast<std::size_t>(from - block_at_), static_cast<std::size_t>(to - from));
  return true;
}

void LineSource::BuildIndex(std::uint64_t size) {
  std::string head;
  const std::uint64_t first = Bytes(0, std::min<std::uint64_t>(size, kByteOrderMark.size()), head) &&
                                      head == kByteOrderMark
                                  ? kByteOrderMark.size()
                                  : 0;
  if (first < size) starts_.push_back(first);
  for (std::uint64_t at = first; at < size;) {
    std::string chunk;
    const std::uint64_t to = std::min<std::uint64_t>(size, at + kBlock);
    if (!Bytes(at, to, chunk)) break;
    for (const char* p = chunk.data(); (p = static_cast<const char*>(
                                            std::memchr(p, '\n', chunk.size() - (p - chunk.data())))) != nullptr;
         ++p) {
      const std::uint64_t next = at + static_cast<std::uint64_t>(p - chunk.data()) + 1;
      if (next < size) starts_.push_back(next);
    }
    at = to;
  }
  count_ = starts_.size();
  starts_.push_back(size);
  if (count_ == 0) return;
  // The last line without what follows its text, and without a ^Z.
  std::string last;
  if (!Bytes(starts_[count_ - 1], size, last)) return;
  while (!last.empty() && IsEndOfLine(last.back())) last.pop_back();
  if (!last.ends_with(kEndOfFileMark)) return;
  while (!last.empty() && last.back() == kEndOfFileMark) last.pop_back();
  while (!last.empty() && IsEndOfLine(last.back())) last.pop_back();
  if (last.empty()) {
    starts_.pop_back();
    --count_;
  } else {
    starts_[count_] = starts_[count_ - 1] + last.size();
  }
}

bool LineSource::Open(const std::string& path) {
  Close();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  file_.reset(f, [](std::FILE* p) { std::fclose(p); });
  struct stat st {};
  if (::fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    file_.reset();
    return false;
  }
  BuildIndex(static_cast<std::uint64_t>(st.st_size));
  open_ = true;
  return true;
}

void LineSource::SetText(std::string_view text) {
  Close();
  text_ = std::string(text);
  BuildIndex(text_.size());
  open_ = true;
}

void LineSource::Close() {
  file_.reset();
  text_.clear();
  starts_.clear();
  block_.clear();
  block_at_ = 0;
  count_ = 0;
  pos_ = 0;
  open_ = false;
}

bool LineSource::Next(std::string& line) {
  if (pos_ >= count_) return false;
  if (!Bytes(starts_[pos_], starts_[pos_ + 1], line)) return false;
  ++pos_;
  while (!line.empty() && IsEndOfLine(line.back())) line.pop_back();
  return true;
}

bool LineSource::Back() {
  if (pos_ == 0) return false;
  --pos_;
  return true;
}

}  // namespace textfile
