// The reduction report: one self-contained HTML page of a reduced data set
// (the Laue ranking, the absences and the space groups, N(z), the Wilson
// plot, the L-test, the statistics against resolution, and the absorption
// correction), its plots drawn with the SVG writer and axes the integration
// report uses.
#pragma once

#include <string>
#include <vector>

#include "reduce/reduction.h"
#include "report/report.h"

namespace kalvex::report {

// A plot of the page with the titles of its axes, units included.
struct ReductionChart {
  Chart chart;
  std::string x_title, y_title;
};

struct ReductionPage {
  std::vector<ReductionChart> charts;  // in the order of the page
  std::string html;
};

// `data_name` names the intensity file in the title.
ReductionPage BuildReductionReport(const reduce::Reduction& r, const std::string& data_name);

}  // namespace kalvex::report
