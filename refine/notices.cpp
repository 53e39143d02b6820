// The boxes and log lines of the geometry and refinement kernels.
#include "refine/notices.h"

#include <string>


namespace kalvex {

std::string_view NoticeTitle(Notice notice) {
  switch (notice) {
    case Notice::kCalcbError:
    case Notice::kOffsetsSingular:
      return "WinKalvex";
    default:
      return "Win-Kalvex";
  }
}

std::string_view NoticeText(Notice notice) {
  switch (notice) {
    case Notice::kLuSingular: return "Singular matrix in LUDCMP";
    case Notice::kCalcbError: return " Error in CALCB";
    case Notice::kOmtobInvalid: return "Invalid Orientation Matrix in OMTOB";
    case Notice::kLsqSingular: return "Normal Equations Matrix in LSQ is Singular";
    case Notice::kLsvecRankDeficient: return "Matrix is Singular";
    case Notice::kLsvecSingular: return "Normal Equations Matrix in LSVEC is Singular";
    case Notice::kOffsetsSingular: return "SINGULAR MATRIX IN LSQ FOR XTAL OFFSETS";
    case Notice::kOffsetsNoConvergence: return "WARNING: NO CONVERGENCE AFTER 20 CYCLES IN LSQ_OFFSETS";
    case Notice::kOmegaZeroNoConvergence: return "WARNING: NO CONVERGENCE AFTER 10 CYCLES IN LSQ_OFFSETS";
  }
  return "";
}

}  // namespace kalvex
