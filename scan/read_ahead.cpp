#include "scan/read_ahead.h"

#include <algorithm>

#include "scan/reflection_input.h"

namespace kalvex {

ReadAhead::Inputs ReadAhead::Inputs::Of(const DataSet& set, const RunParameters& params) {
  return {set.skip_weak, set.omega_step, params.input_format, params.lambda1,
          params.lambda2, params.atten,  params.mono_shift};
}

namespace {

// Hands a reflection read over to the run's scan. The scan's steps past the
// reflection's own count are those of the reflections before it, the same
// in both, and the fit's marks of the reflection before stay, as they do
// when the run reads over its own scan: so only the reflection's steps and
// what reading writes are copied, a third of the scan or less.
void HandOver(const ScanReflection& read, ScanReflection& scan) {
  static_assert(sizeof(ScanReflection) == 2480, "a field of the scan that reading writes is handed over here");
  scan.seq_no = read.seq_no;
  scan.hkl = read.hkl;
  scan.standard_index = read.standard_index;
  scan.two_theta = read.two_theta;
  scan.omega_centre = read.omega_centre;
  scan.chi = read.chi;
  scan.phi = read.phi;
  scan.step_count = read.step_count;
  scan.scan_width = read.scan_width;
  scan.step_width = read.step_width;
  scan.count_scale = read.count_scale;
  scan.step_time = read.step_time;
  const auto n = static_cast<std::size_t>(std::clamp(read.step_count, 0, kMaxSteps));
  std::copy_n(read.counts.begin(), n, scan.counts.begin());
  std::copy_n(read.step_position.begin(), n, scan.step_position.begin());
  scan.calculated.fill(0.0f);
  scan.max_count = read.max_count;
  scan.max_step = read.max_step;
  scan.doublet_shift = read.doublet_shift;
  scan.mono_term = read.mono_term;
  scan.class_code[0] = read.class_code[0];
}

}  // namespace

ReadAhead::ReadAhead(textfile::LineSource& data, const DataSet& set, const RunParameters& params,
                     const ScanReflection& scan)
    : data_(data),
      inputs_(Inputs::Of(set, params)),
      set_(set),
      params_(params),
      scan_(std::make_unique<ScanReflection>(scan)),
      slots_(std::make_unique<std::array<Slot, kSlots>>()),
      taken_position_(data.Position()),
      reader_([this] { Run(); }) {}

ReadAhead::~ReadAhead() { Stop(); }

void ReadAhead::Run() {
  const ReaderParts parts{data_, set_, params_, *scan_};
  unsigned head = head_.load(std::memory_order_relaxed);
  while (!stop_.load(std::memory_order_acquire)) {
    if (head - tail_.load(std::memory_order_acquire) == kSlots) {
      std::unique_lock lock(mutex_);
      reader_waiting_ = true;
      room_.wait(lock, [&] { return stop_.load() || head - tail_.load() <= kLowWater; });
      reader_waiting_ = false;
      continue;
    }
    Slot& slot = (*slots_)[head % kSlots];
    bool whole = false;
    try {
      whole = ReadNextReflection(parts, scan_->seq_no + 1).status == kReadOk;
    } catch (...) {
      // Whatever this was, the run meets it again when it reads this
      // reflection itself.
    }
    slot.whole = whole;
    if (whole) {
      slot.scan = *scan_;
      slot.set = set_;
      slot.position = data_.Position();
    }
    head_.store(++head);
    if (run_waiting_.load()) {
      std::lock_guard lock(mutex_);
      ready_.notify_one();
    }
    if (!whole) return;
  }
}

bool ReadAhead::Take(ScanReflection& scan, DataSet& set, const RunParameters& params) {
  if (stopped_) return false;
  if (!(Inputs::Of(set, params) == inputs_)) {
    Stop();
    return false;
  }
  const unsigned tail = tail_.load(std::memory_order_relaxed);
  if (head_.load(std::memory_order_acquire) == tail) {
    std::unique_lock lock(mutex_);
    run_waiting_.store(true);
    ready_.wait(lock, [&] { return head_.load() != tail; });
    run_waiting_.store(false);
  }
  const Slot& slot = (*slots_)[tail % kSlots];
  if (!slot.whole) {
    Stop();
    return false;
  }
  HandOver(slot.scan, scan);
  set = slot.set;
  taken_position_ = slot.position;
  tail_.store(tail + 1);
  if (head_.load() - (tail + 1) == kLowWater) {
    std::lock_guard lock(mutex_);
    if (reader_waiting_) room_.notify_one();
  }
  return true;
}

void ReadAhead::Stop() {
  if (stopped_) return;
  {
    std::lock_guard lock(mutex_);
    stop_.store(true);
  }
  room_.notify_one();
  reader_.join();
  stopped_ = true;
  data_.SetPosition(taken_position_);
}

}  // namespace kalvex
