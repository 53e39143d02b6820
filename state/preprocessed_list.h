// The strong reflections a preprocessing pass keeps for "Calc UB" and
// "Calc FWHM".
#pragma once

#include <array>

namespace kalvex {

constexpr int kMaxPreprocessed = 1000;

struct PreprocessedEntry {
  std::array<float, 4> angles{};  // 2theta, fitted omega, chi, phi
  std::array<int, 3> hkl{};
  float fwhm = 0;
  float fwhm_esd = 0;
  float background = 0;
};

struct PreprocessedList {
  int count = 0;
  std::array<PreprocessedEntry, kMaxPreprocessed> entries{};
};

}  // namespace kalvex
