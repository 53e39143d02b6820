// Line-indexed data files and carriage-control record files.
#include "common/text_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

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
constexpr std::size_t kBlock = 1 << 18;

}  // namespace

std::optional<std::string_view> LineSource::View(std::uint64_t from, std::uint64_t to) {
  if (!file_) return std::string_view(text_).substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
  if (from < block_at_ || to > block_at_ + block_size_) {
    // A block from here on: reading goes forward, a line at a time.
    const std::size_t want = static_cast<std::size_t>(std::max<std::uint64_t>(kBlock, to - from));
    if (block_.size() < want) block_.resize(want);
    const ssize_t got = ::pread(fileno(file_.get()), block_.data(), want, static_cast<off_t>(from));
    block_at_ = from;
    block_size_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (to > block_at_ + block_size_) {
      block_size_ = 0;
      return std::nullopt;
    }
  }
  return std::string_view(block_.data() + (from - block_at_), static_cast<std::size_t>(to - from));
}

bool LineSource::Bytes(std::uint64_t from, std::uint64_t to, std::string& out) {
  const std::optional<std::string_view> bytes = View(from, to);
  if (!bytes) return false;
  out.assign(*bytes);
  return true;
}

void LineSource::Start(std::uint64_t size) {
  size_ = size;
  std::string head;
  const std::uint64_t first = Bytes(0, std::min<std::uint64_t>(size, kByteOrderMark.size()), head) &&
                                      head == kByteOrderMark
                                  ? kByteOrderMark.size()
                                  : 0;
  starts_.assign(1, std::min(first, size));
  // Room for lines of 40 bytes and more, so that the index is not copied as
  // it grows; untouched room costs no memory.
  starts_.reserve(static_cast<std::size_t>(size / 40) + 2);
  count_ = 0;
  complete_ = first >= size;
}

bool LineSource::IndexNext() {
  if (complete_) return false;
  const std::size_t before = count_;
  std::uint64_t at = starts_[count_];
  for (;;) {
    // The rest of the block in hand, or a new block from here.
    const bool in_block = file_ && at >= block_at_ && at < block_at_ + block_size_;
    const std::uint64_t to = !file_ ? size_ : in_block ? block_at_ + block_size_ : std::min(size_, at + kBlock);
    const std::optional<std::string_view> bytes = at < to ? View(at, to) : std::nullopt;
    if (!bytes) break;
    // Every line that ends in these bytes, at one go.
    const char* const begin = bytes->data();
    const char* const end = begin + bytes->size();
    for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))) != nullptr; ++p) {
      const std::uint64_t next = at + static_cast<std::uint64_t>(p - begin) + 1;
      ++count_;
      starts_.push_back(next);
      if (next >= size_) {
        EndLastLine();
        return count_ > before;
      }
    }
    if (count_ > before) return true;
    at = to;
  }
  // No end of line before the end of the file (or the file can no longer be
  // read): what is left is the last line.
  ++count_;
  starts_.push_back(size_);
  EndLastLine();
  return count_ > before;
}

void LineSource::EndLastLine() {
  complete_ = true;
  if (count_ == 0) return;
  // The last line without what follows its text, and without a ^Z.
  std::string last;
  if (!Bytes(starts_[count_ - 1], starts_[count_], last)) return;
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
  Start(static_cast<std::uint64_t>(st.st_size));
  open_ = true;
  return true;
}

void LineSource::SetText(std::string_view text) {
  Close();
  text_ = std::string(text);
  Start(text_.size());
  open_ = true;
}

void LineSource::Close() {
  file_.reset();
  text_.clear();
  starts_.clear();
  size_ = 0;
  complete_ = true;
  block_.clear();
  block_.shrink_to_fit();
  block_at_ = 0;
  block_size_ = 0;
  count_ = 0;
  pos_ = 0;
  open_ = false;
}

bool LineSource::Next(std::string& line) {
  if (pos_ >= count_ && !IndexNext()) return false;
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
