// A small SVG writer of our own: only the elements the report draws, every
// text escaped, nothing that reaches outside the file (no scripts, links or
// fonts from elsewhere).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plot/picture.h"

namespace kalvex::report {

// Text made safe inside an XML element or attribute.
std::string Escape(std::string_view text);

// The colour of a colour index, as the window's frame paints it.
std::string InkColour(int index);

class Svg {
 public:
  Svg(double width, double height);
  void Line(double x1, double y1, double x2, double y2, std::string_view colour, double width = 1,
            std::string_view dash = {});
  void Polyline(const std::vector<plot::Point>& points, std::string_view colour, double width, double opacity = 1);
  void Circle(double x, double y, double r, std::string_view fill, double opacity = 1);
  void Rect(double x, double y, double w, double h, std::string_view fill, std::string_view stroke = "none");
  // anchor: "start", "middle" or "end".
  void Text(double x, double y, std::string_view text, double size, std::string_view colour = "#333",
            std::string_view anchor = "start", bool bold = false);
  // A picture (y upwards) fitted into the box whose top left is (x, y).
  void Draw(const plot::Picture& picture, double x, double y, double w, double h);
  // The whole <svg> element.
  std::string Finish() const;
  double width() const { return width_; }
  double height() const { return height_; }

 private:
  double width_, height_;
  std::string body_;
};

}  // namespace kalvex::report
