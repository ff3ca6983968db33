#pragma once
// Two ways to colour an image: a flat fill over its opaque parts, and a half-strength monochrome filter
// that keeps the picture's shading.

#include <QColor>
#include <QImage>

// A copy whose opaque parts take `color` (source-atop): the alpha stays, the colours go.
QImage ksu4TintedImageWithColor(const QImage& image, const QColor& color);
// A copy pulled half-way toward `color` scaled by each pixel's luminance; an invalid colour gives an
// unchanged copy.
QImage ksu5ImageTintedWithColor(const QImage& image, const QColor& color);
