#include "report/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kalvex::report {

namespace {

// Coordinates to a tenth of a pixel: small files, no visible loss.
std::string Num(double v) {
  if (!std::isfinite(v)) v = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  std::string s = text;
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  if (s == "-0") s = "0";
  return s;
}

// The frame's pens (toolkit/qt/frame.cpp), so that a scan looks the same in both.
double PenWidth(int index) {
  if (index == plot::kInkCounts) return 1.5;
  if (index == plot::kInkProfile) return 4.0;  // the frame's 6 is for a larger picture
  if (index >= plot::kInkAxes) return 1.0;
  return 1.75;
}

}  // namespace

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters have no place in XML 1.0.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') out += c;
    }
  }
  return out;
}

std::string InkColour(int index) {
  switch (index) {
    case 0: return "#ffffff";
    case 1: return "#141e5a";
    case 2: return "#d21e1e";
    case 3: return "#008c3c";
    case 4: return "#1e5adc";
    case 5: return "#14aa3c";
    case 6: return "#00a0aa";
    case 7: return "#be00be";
    case 8: return "#e68200";
    case 10: return "#dedede";
    default: return "#5a5a5a";
  }
}

Svg::Svg(double width, double height) : width_(width), height_(height) {}

void Svg::Line(double x1, double y1, double x2, double y2, std::string_view colour, double width,
               std::string_view dash) {
  body_ += "<line x1=\"" + Num(x1) + "\" y1=\"" + Num(y1) + "\" x2=\"" + Num(x2) + "\" y2=\"" + Num(y2) +
           "\" stroke=\"" + Escape(colour) + "\" stroke-width=\"" + Num(width) + "\"";
  if (!dash.empty()) body_ += " stroke-dasharray=\"" + Escape(dash) + "\"";
  body_ += "/>\n";
}

void Svg::Polyline(const std::vector<plot::Point>& points, std::string_view colour, double width, double opacity) {
  if (points.empty()) return;
  body_ += "<polyline fill=\"none\" stroke=\"" + Escape(colour) + "\" stroke-width=\"" + Num(width) +
           "\" stroke-linejoin=\"round\" stroke-linecap=\"round\"";
  if (opacity < 1) body_ += " stroke-opacity=\"" + Num(opacity * 100) + "%\"";
  body_ += " points=\"";
  for (const plot::Point& p : points) body_ += Num(p.x) + "," + Num(p.y) + " ";
  body_ += "\"/>\n";
}

void Svg::Circle(double x, double y, double r, std::string_view fill, double opacity) {
  body_ += "<circle cx=\"" + Num(x) + "\" cy=\"" + Num(y) + "\" r=\"" + Num(r) + "\" fill=\"" + Escape(fill) + "\"";
  if (opacity < 1) body_ += " fill-opacity=\"" + Num(opacity * 100) + "%\"";
  body_ += "/>\n";
}

void Svg::Rect(double x, double y, double w, double h, std::string_view fill, std::string_view stroke) {
  body_ += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(w) + "\" height=\"" + Num(h) +
           "\" fill=\"" + Escape(fill) + "\" stroke=\"" + Escape(stroke) + "\"/>\n";
}

void Svg::Text(double x, double y, std::string_view text, double size, std::string_view colour,
               std::string_view anchor, bool bold) {
  body_ += "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" font-size=\"" + Num(size) + "\" fill=\"" +
           Escape(colour) + "\" text-anchor=\"" + Escape(anchor) + "\"";
  if (bold) body_ += " font-weight=\"bold\"";
  body_ += ">" + Escape(text) + "</text>\n";
}

void Svg::Draw(const plot::Picture& picture, double x, double y, double w, double h) {
  const double sx = picture.width > 0 ? w / picture.width : 1;
  const double sy = picture.height > 0 ? h / picture.height : 1;
  std::vector<plot::Point> points;
  for (const plot::Mark& mark : picture.marks) {
    if (mark.points.empty()) continue;
    points.clear();
    for (const plot::Point& p : mark.points)
      points.push_back({static_cast<float>(x + (p.x - picture.left) * sx),
                        static_cast<float>(y + h - (p.y - picture.bottom) * sy)});
    const std::string colour = InkColour(mark.colour);
    if (mark.kind == plot::Mark::kText) {
      // The frame's character size is in tenths of a 28-pixel row.
      Text(points[0].x, points[0].y, mark.text, std::max(8.0, mark.size * 2.8), colour, "start",
           mark.colour == plot::kInkStandard);
    } else if (points.size() > 1) {
      // The fit is a broad translucent band over the counts, as in the window.
      Polyline(points, colour, PenWidth(mark.colour), mark.colour == plot::kInkProfile ? 0.47 : 1);
    }
  }
}

std::string Svg::Finish() const {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(width_) + "\" height=\"" + Num(height_) +
         "\" viewBox=\"0 0 " + Num(width_) + " " + Num(height_) +
         "\" font-family=\"sans-serif\">\n<rect x=\"0\" y=\"0\" width=\"" + Num(width_) + "\" height=\"" +
         Num(height_) + "\" fill=\"#ffffff\"/>\n" + body_ + "</svg>\n";
}

}  // namespace kalvex::report
