// The summary's lines of what the reduction found beyond the merging: the
// absorption correction, the space group, the intensity statistics and the
// statistics against resolution.
#pragma once

#include <string>
#include <vector>

#include "reduce/reduction.h"

namespace kalvex::engine {

// `mu_source` says where mu came from ("given", or the formula's line).
std::vector<std::string> AbsorptionLines(const reduce::Reduction& r, const reduce::AbsorptionRequest& request,
                                         const std::string& mu_source);

// The absence table, the ranking of the class's groups with their ties, and
// the group chosen with its reason.
std::vector<std::string> SpaceGroupLines(const reduce::Reduction& r);

// The Wilson fit, the centric test with N(z), and the L-test.
std::vector<std::string> IntensityLines(const reduce::DataStatistics& s);

// Shell by shell and over all, then theta_full and the Friedel coverage.
std::vector<std::string> ResolutionLines(const reduce::DataStatistics& s);

}  // namespace kalvex::engine
