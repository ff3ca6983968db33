#pragma once
// Small views that paint themselves and handle no events: separator lines in fixed greys, a filled
// rounded box (the background of an export-job row), a filled and framed box (the empty jobs list) and
// the badges that show a job's type as a short title or a tinted picture.

#include "common/ZRNBaseClasses.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

// The grey of the system's "white w" colours: every channel w, opaque.
QColor ZRN_WhiteColor(double white, double alpha = 1.0);

// A rectangle's outline with rounded corners: each corner is an arc of `radius` tangent to both sides,
// the coordinates cut to whole numbers (toward zero) except the closing corner's.
QPainterPath ZRN_RoundedPathForRect(const QRectF& rect, double radius);

// Fills its area with one grey.
class LineView : public ZRN_CommonInitView {
  Q_OBJECT
 public:
  explicit LineView(QWidget* parent = nullptr);
  QColor lineColor() const { return m_lineColor; }
  void setLineColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor m_lineColor;
};

// Same grey as Gray40LineView: the name is older than the colour.
class Gray50LineView : public LineView {
  Q_OBJECT
 public:
  explicit Gray50LineView(QWidget* parent = nullptr);
};

class Gray71LineView : public LineView {
  Q_OBJECT
 public:
  explicit Gray71LineView(QWidget* parent = nullptr);
};

class Gray10LineView : public LineView {
  Q_OBJECT
 public:
  explicit Gray10LineView(QWidget* parent = nullptr);
};

class BlackLineView : public LineView {
  Q_OBJECT
 public:
  explicit BlackLineView(QWidget* parent = nullptr);
};

class Gray40LineView : public LineView {
  Q_OBJECT
 public:
  explicit Gray40LineView(QWidget* parent = nullptr);
};

// A dotted line along the longer side: dashes as long as the line is thick, gaps twice that.
class ZRNDottedLineView : public LineView {
  Q_OBJECT
 public:
  explicit ZRNDottedLineView(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class ZRNRoundedView : public ZRN_CommonInitView {
  Q_OBJECT
 public:
  explicit ZRNRoundedView(QWidget* parent = nullptr);

  // No fill when invalid.
  QColor fillColor() const { return m_fillColor; }
  void setFillColor(const QColor& color);
  QColor superBackColor() const { return m_superBackColor; }
  void setSuperBackColor(const QColor& color) { m_superBackColor = color; update(); }
  double cornerRadius() const { return m_cornerRadius; }
  void setCornerRadius(double radius) { m_cornerRadius = radius; update(); }
  QColor strokeColor() const { return m_strokeColor; }
  void setStrokeColor(const QColor& color) { m_strokeColor = color; update(); }
  double strokeWidth() const { return m_strokeWidth; }
  void setStrokeWidth(double width) { m_strokeWidth = width; update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor m_fillColor;
  QColor m_superBackColor;
  double m_cornerRadius = 8;
  QColor m_strokeColor;
  double m_strokeWidth = 0;
};

class ZRN_FramedView : public ZRN_CommonInitView {
  Q_OBJECT
 public:
  explicit ZRN_FramedView(QWidget* parent = nullptr);

  QColor backgroundColor() const { return m_backgroundColor; }
  void setBackgroundColor(const QColor& color) { m_backgroundColor = color; update(); }
  QColor frameColor() const { return m_frameColor; }
  void setFrameColor(const QColor& color) { m_frameColor = color; update(); }
  float frameWidth() const { return m_frameWidth; }
  void setFrameWidth(float width) { m_frameWidth = width; update(); }
  float cornerRadius() const { return m_cornerRadius; }
  void setCornerRadius(float radius) { m_cornerRadius = radius; update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor m_backgroundColor;
  QColor m_frameColor;
  float m_frameWidth = 1.0f;
  float m_cornerRadius = 1.0f;
};

// The colours and shape the badges share; it draws nothing itself.
class ZRNBaseBadgeView : public ZRN_CommonInitView {
  Q_OBJECT
 public:
  explicit ZRNBaseBadgeView(QWidget* parent = nullptr);

  QColor backColor() const { return m_backColor; }
  void setBackColor(const QColor& color) { m_backColor = color; update(); }
  QColor lineColor() const { return m_lineColor; }
  void setLineColor(const QColor& color) { m_lineColor = color; update(); }
  double lineWidth() const { return m_lineWidth; }
  void setLineWidth(double width) { m_lineWidth = width; update(); }
  double cornerRadius() const { return m_cornerRadius; }
  void setCornerRadius(double radius) { m_cornerRadius = radius; update(); }

 private:
  QColor m_backColor;
  QColor m_lineColor;
  double m_lineWidth = 0;
  double m_cornerRadius = 2;
};

// A job's type: a short bold title, or a picture tinted with the badge colour.
class ZRNTypeBadgeView : public ZRNBaseBadgeView {
  Q_OBJECT
 public:
  explicit ZRNTypeBadgeView(QWidget* parent = nullptr);

  QString title() const { return m_title; }
  void setTitle(const QString& title);
  QColor titleColor() const { return m_titleColor; }
  void setTitleColor(const QColor& color) { m_titleColor = color; update(); }
  double fontSize() const { return m_fontSize; }
  void setFontSize(double size) { m_fontSize = size; update(); }
  double baselineDelta() const { return m_baselineDelta; }
  void setBaselineDelta(double delta) { m_baselineDelta = delta; update(); }
  QImage badgeImage() const { return m_badgeImage; }
  void setBadgeImage(const QImage& image) { m_badgeImage = image; update(); }
  QColor badgeColor() const { return m_badgeColor; }
  void setBadgeColor(const QColor& color) { m_badgeColor = color; update(); }
  bool hasPicture() const { return m_hasPicture; }
  void setHasPicture(bool picture) { m_hasPicture = picture; update(); }

  void setHidden(bool hidden);
  // The title's font and colour: titleColor when set, else lineColor.
  QFont titleFont() const;
  QColor titleDrawColor() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_title = QStringLiteral("");
  QColor m_titleColor;
  double m_fontSize = 10.5;
  double m_baselineDelta = 0;
  QImage m_badgeImage;
  QColor m_badgeColor;
  bool m_hasPicture = false;
};
