#pragma once
// Reading what a widget really draws: the contrast of its text against its background, measured on the
// rendered pixels (so a colour lost on its way to the painter shows), and the lightness of a background.

#include <QColor>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <algorithm>
#include <cmath>

// Relative luminance of an sRGB colour (0 black, 1 white).
inline double Test_Luminance(const QColor& color) {
  auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

// The contrast ratio of two colours: 1 for the same colour, 21 for black on white.
inline double Test_ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Test_Luminance(a), lb = Test_Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What `widget` draws inside `area` (its own coordinates; the whole widget when null), rendered with its
// parents' background under it.
inline QImage Test_Render(QWidget* widget, QRect area = QRect()) {
  if (area.isNull()) area = widget->rect();
  return widget->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
}

// How many pixels of each colour the image has.
inline QHash<QRgb, int> Test_ColorCounts(const QImage& image) {
  QHash<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y) & 0xffffff];
  return counts;
}

// The colour that covers most of the image: the background.
inline QColor Test_DominantColor(const QImage& image) {
  const QHash<QRgb, int> counts = Test_ColorCounts(image);
  auto best = std::max_element(counts.cbegin(), counts.cend());
  return best == counts.cend() ? QColor() : QColor(best.key());
}

// The strongest contrast of any colour drawn in the image (at least `minPixels` pixels of it, so that a
// stray frame pixel does not count) against `background`: how well a mark (a radio button's ring, a
// check) stands out from the window around it.
inline double Test_StrongestContrastAgainst(const QImage& image, const QColor& background, int minPixels = 4) {
  const QHash<QRgb, int> counts = Test_ColorCounts(image);
  double best = 1.0;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it)
    if (it.value() >= minPixels) best = std::max(best, Test_ContrastRatio(QColor(it.key()), background));
  return best;
}

// The contrast of what is drawn on the image's background: text drawn in a colour close to its background
// (or not drawn at all) gives a value near 1.
inline double Test_TextContrast(const QImage& image) { return Test_StrongestContrastAgainst(image, Test_DominantColor(image)); }

// The contrast of what `part` draws, rendered as `ancestor` draws it (so the ancestor's background lies
// under the part's text, as on the screen).
inline double Test_TextContrastIn(QWidget* ancestor, QWidget* part) {
  const QRect area(part->mapTo(ancestor, QPoint(0, 0)), part->size());
  return Test_TextContrast(Test_Render(ancestor, area));
}

// How a control reads: its box (the colour that covers most of it) and the contrast of its text on it.
struct Test_Reading {
  double boxLuminance;
  double textContrast;
};
inline Test_Reading Test_ReadControl(QWidget* control) {
  QWidget* window = control->window();
  const QImage image = Test_Render(window, QRect(control->mapTo(window, QPoint(0, 0)), control->size()));
  return {Test_Luminance(Test_DominantColor(image)), Test_TextContrast(image)};
}
