// Reading the data file on a second core while the first fits: a run reads
// its reflections in order, and reading one costs about a fifth of fitting
// it, so a reader that keeps a few reflections ready takes reading off the
// run's time.
//
// The reader works on copies of the data set and run parameters and on a
// scan of its own, each reflection read exactly as the run would read it
// next. What it hands over is what reading leaves: the scan, the data set's
// counters and the place in the file. Anything but a whole reflection read
// (the end of the data, a reflection cut short, a read error) ends the
// reading ahead, and the run reads that one itself: its messages and
// counters are the run's own.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

#include "common/text_files.h"
#include "state/data_set.h"
#include "state/run_parameters.h"
#include "state/scan_reflection.h"

namespace kalvex {

class ReadAhead {
 public:
  // Starts reading on after `scan` from the data file's place. The file is
  // the reader's until Stop: nothing else may read or move it.
  ReadAhead(textfile::LineSource& data, const DataSet& set, const RunParameters& params,
            const ScanReflection& scan);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Moves the next reflection into `scan` and `set` as reading it there
  // would have left them, and returns true. False when the reader stopped
  // before a reflection it could not read whole, or when what reading
  // depends on (the "skip weak" choice, the wavelengths, the attenuator)
  // has changed since it started: then the reading ahead has ended, the
  // file stands after the last reflection taken, and the caller reads on.
  bool Take(ScanReflection& scan, DataSet& set, const RunParameters& params);

  // Ends the reading ahead; the file stands after the last reflection
  // taken, as if nothing had been read beyond it.
  void Stop();

  // The place in the file after the last reflection taken.
  std::size_t Position() const { return taken_position_; }

 private:
  // The reader sleeps when the ring is full and is woken when an eighth is
  // left. Waking it costs the run some 10 microseconds on a virtual
  // machine, so it comes once in a hundred reflections; the eighth left
  // covers the reader's waking many times over.
  static constexpr unsigned kSlots = 128;
  static constexpr unsigned kLowWater = kSlots / 8;

  struct Slot {
    bool whole = false;  // false: the reader stopped here
    ScanReflection scan;
    DataSet set;
    std::size_t position = 0;  // in the file after this reflection
  };

  // What reading a reflection depends on besides the file and the scan
  // before it; the run may change some of it between two reflections.
  struct Inputs {
    int skip_weak = 0;
    float omega_step = 0;
    int input_format = 0;
    float lambda1 = 0, lambda2 = 0, atten = 0, mono_shift = 0;
    static Inputs Of(const DataSet& set, const RunParameters& params);
    bool operator==(const Inputs&) const = default;
  };

  void Run();

  textfile::LineSource& data_;
  const Inputs inputs_;
  DataSet set_;
  RunParameters params_;
  std::unique_ptr<ScanReflection> scan_;
  std::unique_ptr<std::array<Slot, kSlots>> slots_;
  std::size_t taken_position_;

  // Slots [tail_, head_) are filled; the reader alone moves head_, the run
  // alone tail_.
  std::atomic<unsigned> head_{0};
  std::atomic<unsigned> tail_{0};
  std::mutex mutex_;
  std::condition_variable room_;   // the reader waits for room
  std::condition_variable ready_;  // the run waits for a reflection
  bool reader_waiting_ = false;    // under mutex_
  std::atomic<bool> run_waiting_{false};
  std::atomic<bool> stop_{false};
  bool stopped_ = false;
  std::thread reader_;
};

}  // namespace kalvex
