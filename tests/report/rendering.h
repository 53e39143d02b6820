// The report tests' eyes: an SVG rendered as Qt Svg renders it, and whether
// ink lies where a mark should be.
#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "plot/picture.h"

namespace kalvex::testing {

inline QImage Render(const std::string& svg) {
  static int argc = 1;
  static char name[] = "test_report";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);  // fonts for the texts
  (void)app;
  QSvgRenderer renderer(QByteArray::fromStdString(svg));
  EXPECT_TRUE(renderer.isValid());
  QImage image(renderer.defaultSize(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  renderer.render(&painter);
  return image;
}

// Whether a pixel at most `reach` from p has about the colour `want`; without
// one, whether it has a strong colour at all (not white, grey or black): a thin
// antialiased line shows its full colour only on the pixels it covers whole.
inline bool InkNear(const QImage& image, plot::Point p, std::optional<QColor> want = {}, int reach = 1) {
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx) {
      const QPoint at(static_cast<int>(std::lround(p.x)) + dx, static_cast<int>(std::lround(p.y)) + dy);
      if (!image.valid(at)) continue;
      const QColor c = image.pixelColor(at);
      if (!want ? c.hsvSaturation() > 100
                : std::abs(c.red() - want->red()) + std::abs(c.green() - want->green()) +
                          std::abs(c.blue() - want->blue()) < 60)
        return true;
    }
  return false;
}

}  // namespace kalvex::testing
