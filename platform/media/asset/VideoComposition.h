#pragma once
// How the video tracks of a composition become frames: a frame duration, a render size and
// instructions over time ranges, each with layer instructions (one per source track, top first) that
// place the track's picture with a transform and an opacity. An optional animation tool draws an
// overlay over every rendered frame.

#include "platform/foundation/MediaTime.h"
#include "platform/media/asset/Asset.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QSizeF>
#include <QTransform>

#include <memory>

class MutableVideoCompositionLayerInstruction {
 public:
  static std::shared_ptr<MutableVideoCompositionLayerInstruction> videoCompositionLayerInstruction();
  static std::shared_ptr<MutableVideoCompositionLayerInstruction> videoCompositionLayerInstructionWithAssetTrack(
      const AssetTrackRef& track);

  int32_t trackID() const { return m_trackID; }
  void setTrackID(int32_t trackID) { m_trackID = trackID; }
  // The transform from the time given on (until the next one); before the first one: identity.
  void setTransform(const QTransform& transform, const MediaTime& atTime);
  void setOpacity(float opacity, const MediaTime& atTime);
  QTransform transformAtTime(const MediaTime& time) const;
  float opacityAtTime(const MediaTime& time) const;

 private:
  int32_t m_trackID = 0;
  QList<QPair<MediaTime, QTransform>> m_transforms;
  QList<QPair<MediaTime, float>> m_opacities;
};
using VideoCompositionLayerInstructionRef = std::shared_ptr<MutableVideoCompositionLayerInstruction>;

class MutableVideoCompositionInstruction {
 public:
  static std::shared_ptr<MutableVideoCompositionInstruction> videoCompositionInstruction();

  MediaTimeRange timeRange() const { return m_timeRange; }
  void setTimeRange(const MediaTimeRange& range) { m_timeRange = range; }
  QColor backgroundColor() const { return m_backgroundColor; }
  void setBackgroundColor(const QColor& color) { m_backgroundColor = color; }
  QList<VideoCompositionLayerInstructionRef> layerInstructions() const { return m_layerInstructions; }
  void setLayerInstructions(const QList<VideoCompositionLayerInstructionRef>& list) { m_layerInstructions = list; }

 private:
  MediaTimeRange m_timeRange = kMediaTimeRangeZero;
  QColor m_backgroundColor = Qt::black;
  QList<VideoCompositionLayerInstructionRef> m_layerInstructions;
};
using VideoCompositionInstructionRef = std::shared_ptr<MutableVideoCompositionInstruction>;

// Draws over rendered frames. The layer-tree renderer derives from this; the base draws nothing.
class VideoCompositionCoreAnimationTool {
 public:
  virtual ~VideoCompositionCoreAnimationTool() = default;
  // The frame step in two parts, so that an encoder converts a picture for drawing only when something
  // is drawn on it: prepareFrameAtTime is called once per frame, with its time on the composition's
  // time line, and answers whether anything draws then; compositeOntoFrame draws it onto the composed
  // picture at the render size.
  virtual bool prepareFrameAtTime(const MediaTime& time) {
    (void)time;
    return false;
  }
  virtual void compositeOntoFrame(QImage& frame, const MediaTime& time) const {
    (void)frame;
    (void)time;
  }
  // Both steps.
  virtual void renderOverFrame(QImage& frame, const MediaTime& time) {
    if (prepareFrameAtTime(time)) compositeOntoFrame(frame, time);
  }
};
using VideoCompositionCoreAnimationToolRef = std::shared_ptr<VideoCompositionCoreAnimationTool>;

class MutableVideoComposition {
 public:
  static std::shared_ptr<MutableVideoComposition> videoComposition();
  // Frame duration from the fastest video track (30 fps when none says), render size from the asset's
  // natural size, and one instruction over the asset's duration showing every video track with its
  // preferred transform, first track on top.
  static std::shared_ptr<MutableVideoComposition> videoCompositionWithPropertiesOfAsset(const AssetRef& asset);

  MediaTime frameDuration() const { return m_frameDuration; }
  void setFrameDuration(const MediaTime& d) { m_frameDuration = d; }
  QSizeF renderSize() const { return m_renderSize; }
  void setRenderSize(const QSizeF& size) { m_renderSize = size; }
  float renderScale() const { return m_renderScale; }
  void setRenderScale(float scale) { m_renderScale = scale; }
  QList<VideoCompositionInstructionRef> instructions() const { return m_instructions; }
  void setInstructions(const QList<VideoCompositionInstructionRef>& list) { m_instructions = list; }
  VideoCompositionCoreAnimationToolRef animationTool() const { return m_animationTool; }
  void setAnimationTool(const VideoCompositionCoreAnimationToolRef& tool) { m_animationTool = tool; }

  // The instruction in force at a time (null when none covers it).
  VideoCompositionInstructionRef instructionAtTime(const MediaTime& time) const;

 private:
  MediaTime m_frameDuration = MediaTimeMake(1, 30);
  QSizeF m_renderSize;
  float m_renderScale = 1.0f;
  QList<VideoCompositionInstructionRef> m_instructions;
  VideoCompositionCoreAnimationToolRef m_animationTool;
};
using MutableVideoCompositionRef = std::shared_ptr<MutableVideoComposition>;
