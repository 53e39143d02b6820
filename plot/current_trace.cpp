#include "plot/current_trace.h"

#include <algorithm>
#include <string_view>

namespace kalvex::plot {

ScanTrace CurrentTrace(const ProgramState& state) {
  const ScanReflection& scan = state.scan;
  const std::size_t n = static_cast<std::size_t>(std::clamp(scan.step_count, 0, kMaxSteps));
  ScanTrace trace;
  trace.x = {scan.step_position.data(), n};
  trace.counts = {scan.counts.data(), n};
  trace.fit = {scan.calculated.data(), n};
  trace.position = state.fit.peak.value[kPosition];
  if (state.params.n_wavelengths == 2) trace.alpha2 = trace.position + scan.doublet_shift + scan.mono_term;
  trace.standard = scan.standard_index > 0;
  trace.caption = ScanCaption(scan.hkl, scan.seq_no, state.fit.i_fit, state.fit.sigma_fit, state.fit.rwp,
                                    std::string_view(scan.class_code.data(), scan.class_code.size()));
  return trace;
}

}  // namespace kalvex::plot
