// What the diagnostics report shows of a session, noted as the reflections
// reach the intensity file: a few numbers per reflection, and the steps of
// the worst rejected scans only, so that noting costs next to nothing
// beside the fit.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "state/scan_reflection.h"

namespace kalvex {

// The rejected scans the report's gallery shows at most.
constexpr int kKeptRejected = 200;

struct NotedReflection {
  int seq_no = 0;
  float two_theta = 0;
  float fwhm = 0;
  float i_over_sigma = 0;
};

struct NotedStandard {
  int seq_no = 0;
  int standard_index = 0;
  float intensity = 0;
  float sigma = 0;
  bool accepted = false;
};

// A rejected scan as its plot needs it: the window's trace of it, kept.
struct KeptScan {
  int seq_no = 0;
  float rwp = 0;
  char reason = ' ';    // why the fit rejected it (the class code's third letter)
  std::string caption;  // the plot's text line
  int step_count = 0;
  float position = 0;
  bool doublet = false;
  float alpha2 = 0;
  std::array<float, kMaxSteps> x{}, counts{}, fit{};
};

struct OmegaResidual {
  float two_theta = 0;
  float observed_minus_predicted = 0;
};

struct SessionRecord {
  std::vector<NotedReflection> accepted;  // ordinary reflections the fit accepted
  std::vector<NotedStandard> standards;   // every measurement of a standard
  // The worst rejected scans (highest Rwp), a heap with the least bad in front.
  std::vector<KeptScan> rejected;
  int rejected_count = 0;  // all the rejected, kept or not
  // The last sequence number noted before each standard's: a gap between two
  // standards' numbers means other reflections were measured between them.
  int last_seq_no = 0;

  // "Calc FWHM": the line fitted, once it has been run.
  bool fwhm_line = false;
  float fwhm_a = 0, fwhm_b = 0;
  // "Calc UB": omega observed - predicted of the reflections it refined from.
  bool orientation_refined = false;
  std::vector<OmegaResidual> omega;

  // A new data file or intensity file starts a new report; the FWHM line
  // and the orientation stay, as the session keeps them.
  void ForgetReflections() {
    accepted.clear();
    standards.clear();
    rejected.clear();
    rejected_count = 0;
    last_seq_no = 0;
  }
};

}  // namespace kalvex
