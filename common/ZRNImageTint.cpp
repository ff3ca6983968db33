#include "common/ZRNImageTint.h"

#include <QPainter>

#include <algorithm>

QImage ksu4TintedImageWithColor(const QImage& image, const QColor& color) {
  QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (copy.isNull()) return copy;
  QPainter painter(&copy);
  painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
  painter.fillRect(QRect(0, 0, copy.width(), copy.height()), color);
  painter.end();
  return copy;
}

QImage ksu5ImageTintedWithColor(const QImage& image, const QColor& color) {
  if (!color.isValid()) return image.copy();
  QImage result = image.convertToFormat(QImage::Format_ARGB32);
  const double red = color.redF();
  const double green = color.greenF();
  const double blue = color.blueF();
  // The monochrome filter at intensity 0.5: each pixel goes half-way toward the colour scaled by the
  // pixel's own luminance (Rec. 709 weights), so light parts take a light tint and dark parts stay dark.
  constexpr double kIntensity = 0.5;
  for (int y = 0; y < result.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
    for (int x = 0; x < result.width(); ++x) {
      const QRgb pixel = line[x];
      const double r = qRed(pixel) / 255.0;
      const double g = qGreen(pixel) / 255.0;
      const double b = qBlue(pixel) / 255.0;
      const double luminance = 0.2126 * r + 0.7152 * g + 0.0722 * b;
      auto mix = [&](double from, double toward) {
        const double value = from + (toward * luminance - from) * kIntensity;
        return std::clamp(static_cast<int>(value * 255.0 + 0.5), 0, 255);
      };
      line[x] = qRgba(mix(r, red), mix(g, green), mix(b, blue), qAlpha(pixel));
    }
  }
  return result;
}
