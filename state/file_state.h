// The files of the run: data file (read), output file (append), parameter
// file (read) and the log (write), each on its own stream for the whole run.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/read_error.h"
#include "common/record_writer.h"
#include "common/text_files.h"

namespace kalvex {

// A set of sequence numbers, asked of every reflection: a bit each for the
// numbers from 0 up, which is what files carry.
class SequenceSet {
 public:
  void Insert(int n) {
    if (n < 0) {
      negative_.insert(n);
      return;
    }
    if (static_cast<std::size_t>(n) >= bits_.size()) bits_.resize(static_cast<std::size_t>(n) + 1024, false);
    bits_[static_cast<std::size_t>(n)] = true;
  }
  bool Contains(int n) const {
    if (n < 0) return negative_.count(n) != 0;
    return static_cast<std::size_t>(n) < bits_.size() && bits_[static_cast<std::size_t>(n)];
  }
  void Erase(int n) {
    if (n < 0) {
      negative_.erase(n);
    } else if (static_cast<std::size_t>(n) < bits_.size()) {
      bits_[static_cast<std::size_t>(n)] = false;
    }
  }
  void Clear() {
    bits_.clear();
    negative_.clear();
  }

 private:
  std::vector<bool> bits_;
  std::set<int> negative_;
};

struct FileState {
  std::string data_file_name;  // bare name; opened relative to the current directory
  std::string browse_dir;      // empty (not blank) until a data-file browse succeeds
  bool data_open = false;
  std::string output_file_name;
  bool output_open = false;
  std::string parameter_file_name;
  // The log's name: the data file's up to its first "." and "log", or the
  // whole data-file name and ".log" when that would be one of the run's
  // files.
  std::string log_file_name;
  // Where each of the run's files is, as an absolute path, so that no file
  // of the run is opened for writing as another of them.
  std::string data_path, parameter_path, output_path, log_path;
  // Sequence numbers of the open data file written to the open intensity
  // file in this session: they belong to that pair of files.
  SequenceSet written;
  // The data file `written` speaks of (its absolute path).
  std::string written_data_path;
  // Something has been written to the open intensity file in this session,
  // and some of it came from another data file than the open one: their
  // sequence numbers may be the same.
  bool written_any = false;
  bool output_has_other_data = false;
  // The reflections the file ends inside, as the log names them, met by the
  // automatic run under way.
  std::vector<std::string> cut_short;
  // Of those, the ones whose records still wait in `output` for a flush, and
  // when it was last flushed: the automatic run writes its records in
  // batches, not one system call each.
  std::vector<int> pending_seq_nos;
  std::chrono::steady_clock::time_point output_flushed_at{};
  // The lines of the reflection being written, kept from one to the next so
  // that formatting a record allocates nothing.
  std::vector<std::string> record_lines;
  // The log could not be written; said once.
  bool log_failed = false;
  // Why the data file was last closed by a read error; cleared when one opens.
  std::optional<ReadError> read_error;
  // The open data file's reflections, counted by a quick pass when it
  // opened; -1 when not counted (or the pass met a damaged reflection).
  int reflection_count = -1;
  // The reading position just after each of them, in file order: a pass's
  // place in the file says how many reflections it has passed, the weak
  // ones it skips included.
  std::vector<std::uint32_t> reflection_ends;
  // The file is no longer the one counted, or could not be counted.
  void ForgetReflectionCount() {
    reflection_count = -1;
    reflection_ends.clear();
  }

  textfile::LineSource data;
  textfile::LineSource parameters;
  textfile::RecordWriter output;  // the intensity file, appended
  textfile::RecordWriter log;     // the run log, carriage-control records
};

}  // namespace kalvex
