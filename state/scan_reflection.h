// The current reflection as every reader leaves it, the standards named in
// the data-file header, and the per-class reflection counters.
#pragma once

#include <array>
#include <string>

namespace kalvex {

constexpr int kMaxSteps = 200;
constexpr int kMaxStandards = 10;

// ReadStatus values.
constexpr int kReadOk = 0;
constexpr int kReadFailed = 11;
constexpr int kEndOfData = 12;

struct ScanReflection {
  int seq_no = 0;
  std::array<int, 3> hkl{};
  int standard_index = 0;  // 0 ordinary; 1..10 the matching StandardsTable entry
  float two_theta = 0;
  float omega_centre = 0;  // omega of the scan centre minus theta
  float chi = 0;
  float phi = 0;
  int step_count = 0;
  float scan_width = 0;
  float step_width = 0;
  float count_scale = 0;  // brings counts onto the data set's common scale
  float step_time = 0;
  std::array<float, kMaxSteps> counts{};
  std::array<float, kMaxSteps> step_position{};
  std::array<float, kMaxSteps> calculated{};
  float max_count = 0;
  int max_step = 1;
  float doublet_shift = 0;
  float mono_term = 0;
  // [0] input class S/W/N/F; [1..3] fit status, reason, attempt; six
  // characters go to the intensity file.
  std::array<char, 6> class_code{' ', ' ', ' ', ' ', ' ', ' '};
};

struct StandardEntry {
  std::array<int, 3> hkl{};
  int step_count = 0;
  float step_time = 0;
};

struct StandardsTable {
  int count = 0;
  std::array<StandardEntry, kMaxStandards> entries{};
};

// InputClassCounts, in the order of the classification summary.
enum InputClass { kClassLT = 0, kClassWeak, kClassNormal, kClassStrong, kClassStandards, kClassFiltered };
constexpr int kInputClasses = 6;

}  // namespace kalvex
