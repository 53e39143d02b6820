// The diagnostics report: one self-contained HTML page of SVG plots of a
// session (classification, peak width against tan(theta), the standards,
// omega observed - predicted, I/sigma, and the rejected scans).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "plot/axis.h"
#include "plot/picture.h"
#include "state/fit_state.h"
#include "state/session_record.h"

namespace kalvex::report {

struct ReportInput {
  std::string data_name;  // the data file
  std::string title;      // the data set's title
  std::array<int, kInputClasses> input_class{};
  std::array<int, kOutcomeCounters + 1> outcome{};  // [1] OK, [2..11] E C D B I P W R F S
  const SessionRecord* record = nullptr;
};

// One plot of the report and where its data lie in it.
struct Chart {
  std::string id, title, note;
  std::string svg;  // the whole <svg> element
  double width = 0, height = 0;
  double left = 0, top = 0, right = 0, bottom = 0;  // the plot area, in SVG pixels
  plot::Axis x, y;
  plot::Point At(double xv, double yv) const {
    return {static_cast<float>(x.Map(xv, left, right)), static_cast<float>(y.Map(yv, bottom, top))};
  }
};

// A rejected scan of the gallery: its picture, the same the window draws,
// fitted into an SVG of width x height pixels.
struct GalleryItem {
  int seq_no = 0;
  char reason = ' ';
  float rwp = 0;
  plot::Picture picture;
  std::string svg;
  double width = 0, height = 0;
};

struct Report {
  std::vector<Chart> charts;  // in the order of the page
  std::vector<GalleryItem> gallery;  // worst first
  std::string html;
};

// The scatter plots show at most this many points, evenly chosen.
constexpr int kMaxPoints = 4000;

Report BuildReport(const ReportInput& input);

}  // namespace kalvex::report
