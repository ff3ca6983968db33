#include "platform/media/asset/VideoComposition.h"

#include <cmath>

namespace {
template <typename T>
T valueAt(const QList<QPair<MediaTime, T>>& ramps, const MediaTime& time, const T& initial) {
  T value = initial;
  for (const auto& r : ramps) {
    if (r.first <= time) value = r.second;
    else break;
  }
  return value;
}

template <typename T>
void setAt(QList<QPair<MediaTime, T>>& ramps, const MediaTime& time, const T& value) {
  int i = 0;
  while (i < ramps.size() && ramps[i].first < time) ++i;
  if (i < ramps.size() && ramps[i].first == time) ramps[i].second = value;
  else ramps.insert(i, qMakePair(time, value));
}
}  // namespace

VideoCompositionLayerInstructionRef MutableVideoCompositionLayerInstruction::videoCompositionLayerInstruction() {
  return std::make_shared<MutableVideoCompositionLayerInstruction>();
}

VideoCompositionLayerInstructionRef
MutableVideoCompositionLayerInstruction::videoCompositionLayerInstructionWithAssetTrack(const AssetTrackRef& track) {
  auto li = videoCompositionLayerInstruction();
  if (track) li->setTrackID(track->trackID());
  return li;
}

void MutableVideoCompositionLayerInstruction::setTransform(const QTransform& transform, const MediaTime& atTime) {
  setAt(m_transforms, atTime, transform);
}

void MutableVideoCompositionLayerInstruction::setOpacity(float opacity, const MediaTime& atTime) {
  setAt(m_opacities, atTime, opacity);
}

QTransform MutableVideoCompositionLayerInstruction::transformAtTime(const MediaTime& time) const {
  return valueAt(m_transforms, time, QTransform());
}

float MutableVideoCompositionLayerInstruction::opacityAtTime(const MediaTime& time) const {
  return valueAt(m_opacities, time, 1.0f);
}

VideoCompositionInstructionRef MutableVideoCompositionInstruction::videoCompositionInstruction() {
  return std::make_shared<MutableVideoCompositionInstruction>();
}

MutableVideoCompositionRef MutableVideoComposition::videoComposition() {
  return std::make_shared<MutableVideoComposition>();
}

MutableVideoCompositionRef MutableVideoComposition::videoCompositionWithPropertiesOfAsset(const AssetRef& asset) {
  auto vc = videoComposition();
  if (!asset) return vc;
  const auto videoTracks = asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  float fastest = 0.0f;
  for (const auto& t : videoTracks) {
    const float rate = t->nominalFrameRate();
    fastest = std::max(fastest, rate);
  }
  if (fastest > 0.0f) vc->setFrameDuration(MediaTimeMake(1000, int32_t(std::lround(fastest * 1000.0f))));
  vc->setRenderSize(asset->naturalSize());
  auto instruction = MutableVideoCompositionInstruction::videoCompositionInstruction();
  instruction->setTimeRange(MediaTimeRangeMake(kMediaTimeZero, asset->duration()));
  QList<VideoCompositionLayerInstructionRef> layers;
  for (const auto& t : videoTracks) {
    auto li = MutableVideoCompositionLayerInstruction::videoCompositionLayerInstructionWithAssetTrack(t);
    li->setTransform(t->preferredTransform(), kMediaTimeZero);
    layers.append(li);
  }
  instruction->setLayerInstructions(layers);
  vc->setInstructions({instruction});
  return vc;
}

VideoCompositionInstructionRef MutableVideoComposition::instructionAtTime(const MediaTime& time) const {
  for (const auto& i : m_instructions)
    if (i->timeRange().containsTime(time)) return i;
  return nullptr;
}
