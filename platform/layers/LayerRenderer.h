#pragma once
// Paints a layer tree (CALayer.h) at a media time with QPainter, and the animation tool that draws an
// export's overlay tree over every composed frame.
//
// The root layer lives in a space with y upwards whose size is that of the target (a picture, or a
// widget): a root at (0, 0, W, H) that is not geometry-flipped covers the target with its origin at the
// bottom-left.

#include "platform/foundation/MediaTime.h"
#include "platform/layers/CALayer.h"
#include "platform/media/asset/VideoComposition.h"

#include <QImage>
#include <QPainter>
#include <QSizeF>

#include <functional>
#include <memory>

// Lays out and paints the tree at a time (seconds on the media time line). `skip` (may be null) is a
// layer that is left out with its sublayers: the video layer of an animation tool, which stands for
// the picture already in the target.
void LayerRenderer_Render(QPainter& painter, const CALayerRef& root, const QSizeF& space, double seconds,
                          const CALayer* skip = nullptr);
void LayerRenderer_RenderOverImage(QImage& frame, const CALayerRef& root, double seconds,
                                   const CALayer* skip = nullptr);
// Whether painting the tree at that time would change a pixel: some layer that is shown and not fully
// transparent has a background, a picture with visible pixels or a text. Clipping is not considered.
bool LayerRenderer_DrawsAtTime(const CALayerRef& root, double seconds, const CALayer* skip = nullptr);

// The export's overlay painter: the parent layer holds the video layer (where the composed frame is)
// and the overlays above it.
class CoreAnimationTool : public VideoCompositionCoreAnimationTool {
 public:
  static std::shared_ptr<CoreAnimationTool> videoCompositionCoreAnimationToolWithPostProcessingAsVideoLayer(
      const CALayerRef& videoLayer, const CALayerRef& parentLayer);

  CALayerRef videoLayer() const { return m_videoLayer; }
  CALayerRef parentLayer() const { return m_parentLayer; }
  // Runs on the export's thread before each frame is painted, with the frame's time: the owner of the
  // tree brings time-dependent contents up to date there.
  void setWillRenderHandler(std::function<void(const MediaTime&)> handler) { m_willRender = std::move(handler); }

  // The frame step in two parts, so that an encoder can skip the picture conversion of frames that
  // get nothing: prepareFrameAtTime runs the will-render handler and answers whether the overlays draw
  // anything at that time; compositeOntoFrame paints them onto the composed frame.
  bool prepareFrameAtTime(const MediaTime& time) override;
  void compositeOntoFrame(QImage& frame, const MediaTime& time) const override;

 private:
  CoreAnimationTool(CALayerRef videoLayer, CALayerRef parentLayer)
      : m_videoLayer(std::move(videoLayer)), m_parentLayer(std::move(parentLayer)) {}
  CALayerRef m_videoLayer;
  CALayerRef m_parentLayer;
  std::function<void(const MediaTime&)> m_willRender;
};
