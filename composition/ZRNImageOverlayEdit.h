#pragma once
// Picture overlays: ZRNMatchOverlayEdit lasts from its start to the composition's end with an opacity of
// its own; ZRNImageOverlayEdit shows a picture file scaled and placed in the frame; ZRNBadgeOverlayEdit
// is the corner badge, sized in units of a reference frame, that never fades.
//
// A picture that cannot be read (or has no pixels) draws nothing: its layer gets no content.

#include "composition/ZRNSrcClip.h"

class ZRNMatchOverlayEdit : public ZRNSrcBaseCAEdit {
 public:
  double opacity() const { return m_opacity; }
  void loadFromDictionary(const QVariantMap& dictionary) override;
  MediaTimeRange timeRangeForComposition(const AssetRef& composition) const override;

 protected:
  double m_opacity = 1.0;
};

class ZRNImageOverlayEdit : public ZRNMatchOverlayEdit {
 public:
  QString imagePath() const { return m_imagePath; }
  QImage image() const { return m_image; }
  // The picture's size in frame units (its pixel size until something sets it).
  QSizeF imageSize() const { return m_imageSize; }
  void setImageSize(const QSizeF& size) { m_imageSize = size; }
  bool scaleToWidth() const { return m_scaleToWidth; }
  bool scaleToFit() const { return m_scaleToFit; }
  bool alignTopLeft() const { return m_alignTopLeft; }
  double targetWidth() const { return m_targetWidth; }

  void loadFromDictionary(const QVariantMap& dictionary) override;
  void drawOnTopOfImage(QImage& image) override;
  void U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize) override;
  // The layer showing the picture for a frame and a target size; null when there is no picture.
  virtual CALayerRef makeImageLayerWithSize(const QSizeF& frameSize, const QSizeF& targetSize);

 protected:
  bool U_HasPicture() const;

  QString m_imagePath;
  QImage m_image;
  QSizeF m_imageSize;
  bool m_scaleToWidth = true;
  bool m_scaleToFit = false;
  bool m_alignTopLeft = true;
  double m_targetWidth = -1;
};

class ZRNBadgeOverlayEdit : public ZRNImageOverlayEdit {
 public:
  ZRNBadgeOverlayEdit();

  int position() const { return m_position; }
  QSizeF margins() const { return m_margins; }
  void setMargins(const QSizeF& margins) { m_margins = margins; }
  QSizeF referenceSize() const { return m_referenceSize; }
  void setReferenceSize(const QSizeF& size) { m_referenceSize = size; }
  QSizeF targetDims() const { return m_targetDims; }
  void setTargetDims(const QSizeF& dims) { m_targetDims = dims; }

  void loadFromDictionary(const QVariantMap& dictionary) override;
  // "tl" 1, "tr" 3, "bl" 7, "br" 9; anything else 1.
  static int positionForPlacement(const QString& placement);
  QPointF U_CalculatePositionForSize(const QSizeF& size, const QSizeF& frame, double scale) const override;
  void U_PrepareOverlayForFrameSize(const QSizeF& frameSize, const QSizeF& targetSize) override;
  CALayerRef makeImageLayerWithSize(const QSizeF& frameSize, const QSizeF& targetSize) override;

 private:
  // The factor from reference units to the frame: 1 when the frame is the reference size.
  double U_ReferenceFactor(const QSizeF& frame) const;

  int m_position = 1;
  QSizeF m_margins{40, 40};
  QSizeF m_referenceSize{1280, 720};
  QSizeF m_targetDims{0, 80};
};
