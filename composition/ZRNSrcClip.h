#pragma once
// Edits: one command of a project's edit list, built from an edit-command dictionary and a base folder.
// ZRNSrcClip places a span of a source movie on the time line; ZRNSrcScaleEdit plays it at another speed;
// ZRNSrcBaseCAEdit is the base of everything drawn over the picture (placement, margin, background,
// the overlay's layer and its fade in and out).

#include "platform/foundation/MediaTime.h"
#include "platform/layers/CALayer.h"
#include "platform/media/asset/Asset.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <typeinfo>

class ZRNSrcClip {
 public:
  ZRNSrcClip();
  virtual ~ZRNSrcClip() = default;
  ZRNSrcClip(const ZRNSrcClip&) = delete;
  ZRNSrcClip& operator=(const ZRNSrcClip&) = delete;

  // Builds an edit of class T from a command; relative paths are taken against baseDir.
  template <typename T>
  static std::shared_ptr<T> initWithDictionary(const QVariantMap& dictionary, const QString& baseDir) {
    auto edit = std::make_shared<T>();
    edit->m_baseDirectory = baseDir;
    edit->loadFromDictionary(dictionary);
    return edit;
  }

  QString IDString() const { return m_IDString; }
  QString assetKey() const { return m_assetKey; }
  QString baseDirectory() const { return m_baseDirectory; }
  int64_t start() const { return m_start; }
  void setStart(int64_t v) { m_start = v; }
  int64_t duration() const { return m_duration; }
  void setDuration(int64_t v) { m_duration = v; }
  int64_t srcStart() const { return m_srcStart; }
  void setSrcStart(int64_t v) { m_srcStart = v; }
  int64_t srcDuration() const { return m_srcDuration; }
  void setSrcDuration(int64_t v) { m_srcDuration = v; }
  QList<FormatDescription> audioFormats() const { return m_audioFormats; }
  void setAudioFormats(const QList<FormatDescription>& formats) { m_audioFormats = formats; }
  bool discardAudio() const { return m_discardAudio; }
  void setDiscardAudio(bool v) { m_discardAudio = v; }
  CALayerRef caLayer() const { return m_caLayer; }
  bool exporting() const { return m_exporting; }
  void setExporting(bool v) { m_exporting = v; }

  virtual void loadFromDictionary(const QVariantMap& dictionary);
  // From `start` for `duration`, cut at the composition's end; empty when it starts at or after the end.
  virtual MediaTimeRange timeRangeForComposition(const AssetRef& composition) const;

  // Reading helpers for command values: integers truncate, a missing key gives the fallback.
  static int64_t U_Integer(const QVariant& value, int64_t fallback = 0);
  static double U_Double(const QVariant& value, double fallback = 0.0);
  // A path of a command: relative to the base folder unless it begins with "/" (or the base is empty).
  QString U_ResolvedPath(const QString& path) const;
  // Whether a path names a regular file (not a device, a pipe or a folder) of at most maxBytes: files
  // named by edit commands are read only then, so a command cannot make a reader block or exhaust memory.
  static bool U_IsRegularFile(const QString& path, int64_t maxBytes);
  // 0xRRGGBB with an alpha.
  static QColor U_ColorFromRGB(int64_t rgb, double alpha);

 protected:
  QString m_IDString;
  QString m_assetKey;
  QString m_baseDirectory;
  int64_t m_start = -1;
  int64_t m_duration = -1;
  int64_t m_srcStart = -1;
  int64_t m_srcDuration = -1;
  QList<FormatDescription> m_audioFormats;
  bool m_discardAudio = true;
  CALayerRef m_caLayer;
  bool m_exporting = false;
};

// A clip played at another speed.
class ZRNSrcScaleEdit : public ZRNSrcClip {
 public:
  // duration / srcDuration; 1.0 when either is below 1.
  double rate() const;
};

class ZRNSrcBaseCAEdit : public ZRNSrcClip {
 public:
  ZRNSrcBaseCAEdit();

  QString placement() const { return m_placement; }
  int alignment() const { return m_alignment; }
  int64_t margin() const { return m_margin; }
  bool animateInOut() const { return m_animateInOut; }
  void setAnimateInOut(bool v) { m_animateInOut = v; }
  QPointF positionX() const { return m_positionX; }
  void setPositionX(const QPointF& p) { m_positionX = p; }
  QColor backgroundColor() const { return m_backgroundColor; }  // invalid: none

  void loadFromDictionary(const QVariantMap& dictionary) override;
  // "tl" 1 ... "br" 9 (keypad order); anything else, nil included, 1.
  static int alignmentForPlacement(const QString& placement);
  // The overlay's layer for a frame of that size (also kept in caLayer): transparent until its fade or,
  // without a fade, fully shown.
  CALayerRef buildLayerForComposition(const AssetRef& composition, const QSizeF& size);
  // Draws the overlay's content into a picture (nothing in this class).
  virtual void drawOnTopOfImage(QImage& image);
  // Adds the content as the one sublayer of caLayer (nothing in this class).
  virtual void U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize);
  // Opacity from 0.9 (display) or 0.0 (export) to 1 over the first 1 % of the span, back to 0 over the
  // last 1 %.
  CAKeyframeAnimation makeFadeInFadeOutAnimationForComposition(const AssetRef& composition) const;
  // The key the fade is added under: one per edit object.
  QString U_FadeAnimationKey() const;
  // The centre of content of that size in the frame by the alignment, y upwards; margin and frame are
  // multiplied by the scale, the content size is not.
  virtual QPointF U_CalculatePositionForSize(const QSizeF& size, const QSizeF& frame, double scale) const;

 protected:
  QString m_placement;
  int m_alignment = 0;
  int64_t m_margin = 0;
  bool m_animateInOut = true;
  QPointF m_positionX;
  QColor m_backgroundColor;
};

using ZRNEditRef = std::shared_ptr<ZRNSrcClip>;

// True when the edit is exactly of class T (subclasses do not count).
template <typename T>
bool ZRNEdit_IsExactly(const ZRNSrcClip* edit) {
  return edit && typeid(*edit) == typeid(T);
}
