#include "composition/ZRNTitleEdit.h"

#include "platform/foundation/Fmt.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>
#include <limits>

namespace {
// Larger pictures are not made: a hostile size must not allocate gigabytes.
constexpr double kMaxPictureSide = 16384;

// Titles larger than this are drawn at it: a frame cannot show more, and glyphs of absurd sizes cost
// memory and time.
constexpr double kMaxPointSize = 4096;

bool drawableSize(const QSizeF& s) {
  return std::isfinite(s.width()) && std::isfinite(s.height()) && s.width() >= 1 && s.height() >= 1 &&
         s.width() <= kMaxPictureSide && s.height() <= kMaxPictureSide;
}

// Titles are laid out in frame units: one point is one pixel of the frame.
constexpr double kFrameDpi = 72.0;
constexpr int kDotsPerMeter72 = 2835;

int textFlags(Qt::Alignment alignment) { return int(alignment) | Qt::AlignTop | Qt::TextWordWrap; }
}  // namespace

void ZRNTitleEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNSrcBaseCAEdit::loadFromDictionary(d);
  const QVariantMap info = d.value(QStringLiteral("info")).toMap();
  m_titleText = info.value(QStringLiteral("text")).toString();
  const QString font = info.value(QStringLiteral("font")).toString();
  m_fontName = font.isEmpty() ? QStringLiteral("Helvetica") : font;
  m_fontSize = U_Double(info.value(QStringLiteral("size")));
  if (info.contains(QStringLiteral("textRGBColor"))) {
    const double alpha = U_Double(info.value(QStringLiteral("textOpacity")), 1.0);
    if (alpha > 0) m_textColor = U_ColorFromRGB(U_Integer(info.value(QStringLiteral("textRGBColor"))), alpha);
  }
}

double ZRNTitleEdit::U_PointSize() const {
  const double p = m_fontSize == 0 ? 12.0 : m_fontSize;
  // Absurd sizes from a command are kept within what a frame can show.
  return std::clamp(std::isfinite(p) ? p : 12.0, 6.0, kMaxPointSize);
}

QFont ZRNTitleEdit::U_FontWithSize(double points) const {
  QFont font(m_fontName);
  font.setPointSizeF(points);
  // An unknown name gets fontconfig's substitute (Helvetica is usually served by a metric-compatible face).
  font.setStyleHint(QFont::SansSerif);
  return font;
}

Qt::Alignment ZRNTitleEdit::U_GetParagraphAlignment() const {
  switch (m_alignment) {
    case 1: case 4: case 7: case 11: return Qt::AlignLeft;
    case 3: case 6: case 9: case 12: return Qt::AlignRight;
    default: return Qt::AlignHCenter;
  }
}

QString ZRNTitleEdit::U_GetLayerTextAlignment() const {
  const Qt::Alignment a = U_GetParagraphAlignment();
  if (a == Qt::AlignRight) return QString::fromLatin1(kCAAlignmentRight);
  if (a == Qt::AlignHCenter) return QString::fromLatin1(kCAAlignmentCenter);
  return QString::fromLatin1(kCAAlignmentLeft);
}

namespace {
// Text is measured on a 72-dpi device, so that a point is a frame pixel.
QImage& measuringDevice() {
  thread_local QImage device = [] {
    QImage d(1, 1, QImage::Format_ARGB32_Premultiplied);
    d.setDotsPerMeterX(kDotsPerMeter72);
    d.setDotsPerMeterY(kDotsPerMeter72);
    return d;
  }();
  return device;
}
}  // namespace

QSizeF ZRNTitleEdit::U_MeasuredSize(const QFont& font) const {
  const QFontMetricsF metrics(font, &measuringDevice());
  const QRectF r = metrics.boundingRect(QRectF(0, 0, kMaxPictureSide * 4, kMaxPictureSide * 4),
                                        textFlags(U_GetParagraphAlignment()), m_titleText);
  return QSizeF(std::ceil(r.width()), std::ceil(r.height()));
}

QSizeF ZRNTitleEdit::U_BoundingSize(const QFont& font, const QSizeF& measured) const {
  const QFontMetricsF metrics(font, &measuringDevice());
  // Laid out in the measured size; unlike the measured size it keeps its fractions.
  const QRectF r = metrics.boundingRect(QRectF(QPointF(0, 0), measured),
                                        textFlags(U_GetParagraphAlignment()), m_titleText);
  return r.size().boundedTo(measured);
}

void ZRNTitleEdit::drawOnTopOfImage(QImage& image) {
  if (image.isNull() || m_titleText.isEmpty()) return;
  const double W = image.width(), H = image.height();
  const double p = U_PointSize();
  m_textFont = U_FontWithSize(p);
  const QSizeF measured = U_MeasuredSize(m_textFont);
  const QSizeF bounding = U_BoundingSize(m_textFont, measured);
  const QSizeF placing = m_titleText.contains(QLatin1Char('\n')) ? measured : bounding;
  const QPointF centre = U_CalculatePositionForSize(placing, QSizeF(W, H), 1.0);
  // The centre is measured upwards from the bottom edge; the picture's rows run downwards.
  const double left = centre.x() - placing.width() / 2;
  const double bottom = centre.y() - placing.height() / 2;
  const QRectF rect(left, H - bottom - measured.height(), measured.width(), measured.height());
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing);
  if (m_backgroundColor.isValid()) {
    painter.setCompositionMode(QPainter::CompositionMode_Overlay);
    painter.fillRect(rect, m_backgroundColor);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
  QFont font = m_textFont;
  font.setPointSizeF(p * kFrameDpi / std::max(1, image.logicalDpiY()));
  painter.setFont(font);
  painter.setPen(m_textColor);
  painter.drawText(rect, textFlags(U_GetParagraphAlignment()), m_titleText);
}

QImage ZRNTitleEdit::titleImageWithSize(const QSizeF& size) {
  if (!drawableSize(size)) return {};
  QImage image(size.toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDotsPerMeterX(kDotsPerMeter72);
  image.setDotsPerMeterY(kDotsPerMeter72);
  image.fill(Qt::transparent);
  drawOnTopOfImage(image);
  return image;
}

void ZRNTitleEdit::U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize) {
  if (!drawableSize(frameSize)) return;
  const QSize frame = frameSize.toSize();
  // The time update prepares the overlay again at every tick; a text that did not change keeps its
  // picture instead of being drawn again.
  if (m_image.isNull() || m_imageText != m_titleText || m_imageFrame != frame) {
    m_image = titleImageWithSize(frameSize);
    m_imageText = m_titleText;
    m_imageFrame = frame;
  }
  if (!m_caLayer) return;
  if (CALayerRef layer = makeImageLayerWithSize(frameSize, targetSize)) m_caLayer->addSublayer(layer);
}

CALayerRef ZRNTitleEdit::makeImageLayerWithSize(const QSizeF& frameSize, const QSizeF& targetSize) {
  if (m_image.isNull() || !drawableSize(frameSize) || !(targetSize.width() > 0) || !(targetSize.height() > 0) ||
      !std::isfinite(targetSize.width()) || !std::isfinite(targetSize.height()))
    return nullptr;
  const double fw = frameSize.width(), fh = frameSize.height();
  const double tw = targetSize.width(), th = targetSize.height();
  const double iw = m_image.width(), ih = m_image.height();
  const double w = iw * tw / fw, h = ih * th / fh;
  CALayerRef layer = CALayer::layer();
  layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  layer->setGeometryFlipped(m_exporting);
  layer->setContents(m_image);
  if (QSizeF(iw, ih) == frameSize) {
    layer->setContentsGravity(QString::fromLatin1(kCAGravityResize));
    layer->setBounds(QRectF(0, 0, w, h));
    layer->setPosition(QPointF(w / 2, h / 2));
  } else {
    layer->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
    if (m_exporting) {
      layer->setBounds(QRectF(0, 0, w, h));
      layer->setPosition(QPointF(w / 2, h / 2));
    } else {
      layer->setBounds(QRectF(0, th - h, w, h));
      layer->setPosition(QPointF(w / 2, th - h / 2));
    }
  }
  return layer;
}

CATextLayerRef ZRNTitleEdit::textLayerWithSize(const QSizeF& frameSize, double scale) {
  const double base = (m_fontSize == 0 ? 12.0 : m_fontSize) * scale;
  const double points = base >= 6 && std::isfinite(base) ? std::min(base, kMaxPointSize) : 12.0;
  const QFont font = U_FontWithSize(points);
  CATextLayerRef layer = CATextLayer::layer();
  layer->setString(m_titleText);
  layer->setFont(font);
  layer->setForegroundColor(m_textColor);
  if (m_textAlignmentFollowsPosition) layer->setAlignmentMode(U_GetLayerTextAlignment());
  layer->setGeometryFlipped(m_exporting);
  const QSizeF measured = U_MeasuredSize(font);
  layer->setBounds(QRectF(QPointF(0, 0), measured));
  QPointF p = U_CalculatePositionForSize(measured, frameSize, scale);
  if (m_exporting) p.setY(frameSize.height() - p.y());
  layer->setPosition(p);
  if (m_backgroundColor.isValid()) layer->setBackgroundColor(m_backgroundColor);
  layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  layer->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
  return layer;
}

void ZRNMatchTitleEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNTitleEdit::loadFromDictionary(d);
  const QVariantMap info = d.value(QStringLiteral("info")).toMap();
  m_periodStartMillis = U_Integer(info.value(QStringLiteral("startMillis")));
  m_periodEndMillis = U_Integer(info.value(QStringLiteral("endMillis")));
}

MediaTimeRange ZRNMatchTitleEdit::timeRangeForComposition(const AssetRef& composition) const {
  const MediaTime total = composition ? composition->duration() : kMediaTimeZero;
  const MediaTime start = MediaTimeMake(m_start, 1000);
  if (!(start < total)) return kMediaTimeRangeZero;
  return MediaTimeRangeMake(start, total - start);
}

bool ZRNMatchTitleEdit::needsDisplayForTime(int64_t millis) const {
  return m_periodStartMillis <= millis && millis <= m_periodEndMillis;
}

ZRNScoreTitleEdit::ZRNScoreTitleEdit() { m_formatString = QStringLiteral(" %@ 0-0 %@ "); }

void ZRNScoreTitleEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNMatchTitleEdit::loadFromDictionary(d);
  const QVariantMap info = d.value(QStringLiteral("info")).toMap();
  if (info.contains(QStringLiteral("formatString"))) m_formatString = info.value(QStringLiteral("formatString")).toString();
}

QString ZRNScoreTitleEdit::stringForScore(const QPointF& score, const QString& homeTeam, const QString& guestTeam) const {
  return Fmt(m_formatString, homeTeam, guestTeam, double(score.x()), double(score.y()));
}

void ZRNTimecodeEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNMatchTitleEdit::loadFromDictionary(d);
  const QVariantMap info = d.value(QStringLiteral("info")).toMap();
  m_matchPeriodID = U_Integer(info.value(QStringLiteral("periodID")));
  if (info.contains(QStringLiteral("formatString"))) m_formatString = info.value(QStringLiteral("formatString")).toString();
}

AssetTrackRef ZRNSoundEdit::audioTrack() const {
  if (!m_audioAsset) return nullptr;
  const QList<AssetTrackRef> tracks = m_audioAsset->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio));
  return tracks.isEmpty() ? nullptr : tracks.first();
}

void ZRNSoundEdit::loadFromDictionary(const QVariantMap& d) {
  ZRNSrcClip::loadFromDictionary(d);
  const QVariantMap info = d.value(QStringLiteral("info")).toMap();
  m_soundPath = info.value(QStringLiteral("path")).toString();
  if (!m_soundPath.isEmpty()) {
    m_soundPath = U_ResolvedPath(m_soundPath);
    // Only a regular file is opened: a device or a pipe named by a command would block its reader.
    if (U_IsRegularFile(m_soundPath, std::numeric_limits<int64_t>::max())) m_audioAsset = Asset::assetWithPath(m_soundPath);
  }
  m_mainLevel = U_Double(info.value(QStringLiteral("mainLevel")));
  if (info.contains(QStringLiteral("segLevel"))) m_soundLevel = U_Double(info.value(QStringLiteral("segLevel")));
  m_discardAudio = m_soundLevel == 1.0 && m_mainLevel == 0.0;
}
