// The diagnostics report: one self-contained HTML page of SVG plots of a
// session (classification, peak width against tan(theta), the standards,
// omega observed - predicted, I/sigma, and the rejected scans).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
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
  std::string format;     // the data file's format, as the window names it
  std::string parameters; // the parameter file
  std::string output;     // the intensity file
  std::string date;       // when the report was written
};

// One plot of the report and where its data lie in it.
struct Chart {
  std::string id, title, note;
  std::string svg;  // the whole <svg> element
  double width = 0, height = 0;
  double left = 0, top = 0, right = 0, bottom = 0;  // the plot area, in SVG pixels
  plot::Axis x, y;
  // The y axis is in decades (its values are log10 of the data's).
  bool y_log = false;
  plot::Point At(double xv, double yv) const {
    const double v = y_log ? std::log10(std::max(yv, 1e-3)) : yv;
    return {static_cast<float>(x.Map(xv, left, right)), static_cast<float>(y.Map(v, bottom, top))};
  }
};

class Svg;

// Lays a chart out over the whole of `svg` (its plot area 64 pixels in from
// the left, `right_margin` from the right, 30 from the top, 46 from the
// bottom) and draws its frame: grid, ticks with their labels, the axes and
// their titles. Every chart of the reports has this frame.
void DrawChartFrame(Svg& svg, Chart& c, const std::string& x_title, const std::string& y_title,
                    double right_margin = 18);

// What a reason letter of a rejected fit says ("W": the FWHM of the doublet
// test outside its limits); empty for a letter that is none of them.
std::string ReasonMeaning(char reason);

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
