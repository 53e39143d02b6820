// What a refinement kernel has to tell the user, collected without the
// toolkit so that the kernels stay pure; the command side shows them in order.
#pragma once

#include <array>
#include <string_view>

namespace kalvex {

enum class Notice {
  kLuSingular,              // "Singular matrix in LUDCMP"
  kCalcbError,              // " Error in CALCB" and the log line with det G
  kOmtobInvalid,            // "Invalid Orientation Matrix in OMTOB"
  kLsqSingular,             // "Normal Equations Matrix in LSQ is Singular"
  kLsvecRankDeficient,      // "Matrix is Singular"
  kLsvecSingular,           // "Normal Equations Matrix in LSVEC is Singular"
  kOffsetsSingular,         // "SINGULAR MATRIX IN LSQ FOR XTAL OFFSETS"
  kOffsetsNoConvergence,    // 20 cycles of LSQ_OFFSETS
  kOmegaZeroNoConvergence,  // 10 cycles of the omega-zero refinement
};

// Enough for the longest run: 20 offsets cycles of three boxes each and the
// final warning. Anything beyond is counted in `dropped` and not shown.
struct Notices {
  static constexpr int kCapacity = 128;
  std::array<Notice, kCapacity> code{};
  std::array<float, kCapacity> value{};  // det G for kCalcbError
  int count = 0;
  int dropped = 0;

  void Add(Notice notice, float number = 0.0f) {
    if (count == kCapacity) {
      ++dropped;
      return;
    }
    code[count] = notice;
    value[count] = number;
    ++count;
  }
  int Count(Notice notice) const {
    int n = 0;
    for (int i = 0; i < count; ++i) n += code[i] == notice;
    return n;
  }
};

std::string_view NoticeTitle(Notice notice);
std::string_view NoticeText(Notice notice);


}  // namespace kalvex
