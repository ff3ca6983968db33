#pragma once
// A small layer tree: the layers the overlays are made of. A layer has bounds, a position (its centre:
// the anchor point is always the middle), an opacity, optional contents (a picture placed by a gravity),
// a background colour, clipping, sublayers, constraints that its superlayer's constraint layout applies,
// and keyframe animations of its opacity on the media time line. Text layers draw a string.
//
// Coordinates: a layer's own coordinates run with y upwards, as do its sublayers' unless the layer is
// geometry-flipped, which turns the y axis over for its sublayers (flips add up down the tree). Pictures
// and text are always drawn upright. LayerRenderer.h paints a tree at a media time.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

class CALayer;
using CALayerRef = std::shared_ptr<CALayer>;

// Contents gravities.
inline constexpr const char* kCAGravityCenter = "center";
inline constexpr const char* kCAGravityResize = "resize";
inline constexpr const char* kCAGravityResizeAspect = "resizeAspect";
inline constexpr const char* kCAGravityResizeAspectFill = "resizeAspectFill";

// Autoresizing mask bits (kept for the layer's description; the constraint layout does the resizing).
enum CAAutoresizingMask : unsigned {
  kCALayerNotSizable = 0,
  kCALayerMinXMargin = 1u << 0,
  kCALayerWidthSizable = 1u << 1,
  kCALayerMaxXMargin = 1u << 2,
  kCALayerMinYMargin = 1u << 3,
  kCALayerHeightSizable = 1u << 4,
  kCALayerMaxYMargin = 1u << 5,
};

// Text alignment modes of a text layer.
inline constexpr const char* kCAAlignmentLeft = "left";
inline constexpr const char* kCAAlignmentRight = "right";
inline constexpr const char* kCAAlignmentCenter = "center";

// A begin time that means "at zero on the media time line" (a begin time of 0 would mean "now").
inline constexpr double AVCoreAnimationBeginTimeAtZero = 1e-100;

enum class CAConstraintAttribute { MinX = 0, MidX = 1, MaxX = 2, Width = 3, MinY = 4, MidY = 5, MaxY = 6, Height = 7 };

// attribute = (source layer's sourceAttribute) × scale + offset. The source is named: "superlayer" or a
// sibling's name.
struct CAConstraint {
  CAConstraintAttribute attribute = CAConstraintAttribute::MidX;
  QString sourceName;
  CAConstraintAttribute sourceAttribute = CAConstraintAttribute::MidX;
  double scale = 1.0;
  double offset = 0.0;

  static CAConstraint constraintWithAttribute(CAConstraintAttribute attribute, const QString& relativeTo,
                                              CAConstraintAttribute sourceAttribute, double scale = 1.0,
                                              double offset = 0.0) {
    return CAConstraint{attribute, relativeTo, sourceAttribute, scale, offset};
  }
};

// A keyframe animation of a layer's opacity. Times are seconds on the media time line; outside
// [beginTime, beginTime + duration) the layer's own value holds.
struct CAKeyframeAnimation {
  QString keyPath = QStringLiteral("opacity");
  QList<double> values;
  QList<double> keyTimes;  // 0..1, one per value; empty spreads the values evenly
  double beginTime = 0.0;  // AVCoreAnimationBeginTimeAtZero for zero
  double duration = 0.0;
  bool removedOnCompletion = true;

  static CAKeyframeAnimation animationWithKeyPath(const QString& keyPath) {
    CAKeyframeAnimation a;
    a.keyPath = keyPath;
    return a;
  }
  // The animated value at a time, or false when the animation is not running then.
  bool valueAtTime(double seconds, double* value) const;
};

class CALayer : public std::enable_shared_from_this<CALayer> {
 public:
  static CALayerRef layer();
  virtual ~CALayer() = default;
  CALayer(const CALayer&) = delete;
  CALayer& operator=(const CALayer&) = delete;

  QString name() const;
  void setName(const QString& name);
  QRectF bounds() const;
  void setBounds(const QRectF& bounds);
  // The centre of the layer in its superlayer's coordinates.
  QPointF position() const;
  void setPosition(const QPointF& position);
  // The layer's rectangle in its superlayer's coordinates; setting it sets position and bounds size.
  QRectF frame() const;
  void setFrame(const QRectF& frame);
  float opacity() const;
  void setOpacity(float opacity);
  bool isHidden() const;
  void setHidden(bool hidden);
  QImage contents() const;
  void setContents(const QImage& image);
  QString contentsGravity() const;
  void setContentsGravity(const QString& gravity);
  QColor backgroundColor() const;  // invalid: none
  void setBackgroundColor(const QColor& color);
  bool masksToBounds() const;
  void setMasksToBounds(bool masks);
  bool isGeometryFlipped() const;
  void setGeometryFlipped(bool flipped);
  unsigned autoresizingMask() const;
  void setAutoresizingMask(unsigned mask);

  // Sublayers, bottom first.
  QList<CALayerRef> sublayers() const;
  CALayerRef superlayer() const;
  void addSublayer(const CALayerRef& layer);
  void removeFromSuperlayer();

  // With a constraint layout manager the layer places its sublayers by their constraints.
  bool hasConstraintLayoutManager() const;
  void setConstraintLayoutManager(bool on);
  QList<CAConstraint> constraints() const;
  void addConstraint(const CAConstraint& constraint);
  // Applies the constraints of the sublayers now (the renderer does it before each painting).
  void layoutSublayers();

  void addAnimation(const CAKeyframeAnimation& animation, const QString& key);
  QStringList animationKeys() const;
  bool animationForKey(const QString& key, CAKeyframeAnimation* animation) const;
  void removeAllAnimations();
  // The opacity shown at a media time: a running opacity animation's value, else the layer's own.
  float presentationOpacityAtTime(double seconds) const;

  // Text layers draw their string over the background; plain layers draw nothing here.
  virtual bool drawsText() const { return false; }

 protected:
  CALayer() = default;
  // Guards everything: a tree is built on one thread and may be painted on another.
  mutable std::recursive_mutex m_mutex;

 private:
  QString m_name;
  QRectF m_bounds;
  QPointF m_position;
  float m_opacity = 1.0f;
  bool m_hidden = false;
  QImage m_contents;
  QString m_contentsGravity = QString::fromLatin1(kCAGravityResize);
  QColor m_backgroundColor;
  bool m_masksToBounds = false;
  bool m_geometryFlipped = false;
  unsigned m_autoresizingMask = 0;
  QList<CALayerRef> m_sublayers;
  std::weak_ptr<CALayer> m_superlayer;
  bool m_constraintLayout = false;
  QList<CAConstraint> m_constraints;
  QList<QPair<QString, CAKeyframeAnimation>> m_animations;
};

class CATextLayer : public CALayer {
 public:
  static std::shared_ptr<CATextLayer> layer();

  QString string() const;
  void setString(const QString& text);
  QFont font() const;
  void setFont(const QFont& font);
  QColor foregroundColor() const;
  void setForegroundColor(const QColor& color);
  QString alignmentMode() const;
  void setAlignmentMode(const QString& mode);
  bool drawsText() const override { return true; }

 private:
  CATextLayer() = default;
  QString m_string;
  QFont m_font;
  QColor m_foregroundColor = Qt::white;
  QString m_alignmentMode = QString::fromLatin1(kCAAlignmentLeft);
};
using CATextLayerRef = std::shared_ptr<CATextLayer>;
