#pragma once
// Text overlays and the sound edit. ZRNTitleEdit draws its text into a picture of the frame's size and
// shows it as an overlay; ZRNMatchTitleEdit ties a title to a match period and a format; the running
// score (ZRNScoreTitleEdit) and the match time (ZRNTimecodeEdit) are its two kinds, whose texts the
// capture project sets as time passes. ZRNSoundEdit is a sound file mixed over the movie.
//
// Formats come from edit commands (files): they are rendered with Fmt only, so a format whose
// conversions do not match its arguments shows text instead of reading memory.

#include "composition/ZRNSrcClip.h"

#include <QFont>
#include <QPointF>

class ZRNTitleEdit : public ZRNSrcBaseCAEdit {
 public:
  QString titleText() const { return m_titleText; }
  void setTitleText(const QString& text) { m_titleText = text; }
  QString fontName() const { return m_fontName; }
  double fontSize() const { return m_fontSize; }
  QColor textColor() const { return m_textColor; }
  int underline() const { return m_underline; }
  QFont textFont() const { return m_textFont; }
  bool textAlignmentFollowsPosition() const { return m_textAlignmentFollowsPosition; }
  QImage image() const { return m_image; }

  void loadFromDictionary(const QVariantMap& dictionary) override;
  // Draws the text into the picture, placed by the alignment with the margin.
  void drawOnTopOfImage(QImage& image) override;
  // A new transparent picture of that size with the title drawn in it.
  QImage titleImageWithSize(const QSizeF& size);
  void U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize) override;
  CALayerRef makeImageLayerWithSize(const QSizeF& frameSize, const QSizeF& targetSize);
  CATextLayerRef textLayerWithSize(const QSizeF& frameSize, double scale);
  Qt::Alignment U_GetParagraphAlignment() const;
  QString U_GetLayerTextAlignment() const;

  // The point size drawn: `fontSize`, 12 when it is 0, at least 6.
  double U_PointSize() const;
  // The named font at a size, falling back as the font configuration does when the name is unknown.
  QFont U_FontWithSize(double points) const;
  // The size the text takes (each side rounded up) and its bounding size.
  QSizeF U_MeasuredSize(const QFont& font) const;
  QSizeF U_BoundingSize(const QFont& font, const QSizeF& measured) const;

 protected:
  QString m_titleText;
  QString m_fontName;
  double m_fontSize = 0;
  QColor m_textColor = QColor::fromRgbF(1, 1, 1, 1);
  int m_underline = 0;
  QFont m_textFont;
  bool m_textAlignmentFollowsPosition = true;
  QImage m_image;
  // The text and size the picture was last drawn for: an unchanged title keeps its picture.
  QString m_imageText;
  QSize m_imageFrame;
};

class ZRNMatchTitleEdit : public ZRNTitleEdit {
 public:
  int64_t periodStartMillis() const { return m_periodStartMillis; }
  int64_t periodEndMillis() const { return m_periodEndMillis; }
  QString formatString() const { return m_formatString; }
  void setFormatString(const QString& format) { m_formatString = format; }
  bool titleVisible() const { return m_titleVisible; }
  void setTitleVisible(bool visible) { m_titleVisible = visible; }

  void loadFromDictionary(const QVariantMap& dictionary) override;
  MediaTimeRange timeRangeForComposition(const AssetRef& composition) const override;
  // Whether the time lies in the title's period (both ends included).
  bool needsDisplayForTime(int64_t millis) const;

 protected:
  int64_t m_periodStartMillis = -1;
  int64_t m_periodEndMillis = -1;
  QString m_formatString;
  bool m_titleVisible = false;
};

class ZRNScoreTitleEdit : public ZRNMatchTitleEdit {
 public:
  ZRNScoreTitleEdit();
  // A command without "formatString" keeps the default format.
  void loadFromDictionary(const QVariantMap& dictionary) override;
  // The format with the home name, the guest name, the home score and the guest score (as numbers
  // with a fraction).
  QString stringForScore(const QPointF& score, const QString& homeTeam, const QString& guestTeam) const;
};

class ZRNTimecodeEdit : public ZRNMatchTitleEdit {
 public:
  int64_t matchPeriodID() const { return m_matchPeriodID; }
  // A command without "formatString" keeps the default (empty) format.
  void loadFromDictionary(const QVariantMap& dictionary) override;

 private:
  int64_t m_matchPeriodID = 0;
};

class ZRNSoundEdit : public ZRNSrcClip {
 public:
  QString soundPath() const { return m_soundPath; }
  double mainLevel() const { return m_mainLevel; }
  double soundLevel() const { return m_soundLevel; }
  AssetRef audioAsset() const { return m_audioAsset; }
  // The first sound track of the file (null without one).
  AssetTrackRef audioTrack() const;

  void loadFromDictionary(const QVariantMap& dictionary) override;

 private:
  QString m_soundPath;
  double m_mainLevel = 0.0;
  double m_soundLevel = 1.0;
  AssetRef m_audioAsset;
};
