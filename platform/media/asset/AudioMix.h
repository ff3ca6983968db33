#pragma once
// The volume of each audio track over time: set points and linear ramps; 1.0 where nothing is said.

#include "platform/foundation/MediaTime.h"

#include <QList>

#include <memory>

class MutableAudioMixInputParameters {
 public:
  static std::shared_ptr<MutableAudioMixInputParameters> audioMixInputParameters(int32_t trackID = 0);

  int32_t trackID() const { return m_trackID; }
  void setTrackID(int32_t trackID) { m_trackID = trackID; }
  // The volume from the time on, until the next set point or ramp.
  void setVolume(float volume, const MediaTime& atTime);
  // A linear change from one volume to another across the range; the end volume holds after it.
  void setVolumeRampFromStartVolume(float startVolume, float endVolume, const MediaTimeRange& timeRange);
  float volumeAtTime(const MediaTime& time) const;

 private:
  struct Ramp {
    MediaTimeRange range;  // zero length for a set point
    float start = 1.0f;
    float end = 1.0f;
  };
  int32_t m_trackID = 0;
  QList<Ramp> m_ramps;  // by start time
};
using AudioMixInputParametersRef = std::shared_ptr<MutableAudioMixInputParameters>;

class MutableAudioMix {
 public:
  static std::shared_ptr<MutableAudioMix> audioMix();
  QList<AudioMixInputParametersRef> inputParameters() const { return m_inputParameters; }
  void setInputParameters(const QList<AudioMixInputParametersRef>& list) { m_inputParameters = list; }
  // The volume of a track at a time (1.0 for a track without parameters).
  float volumeOfTrack(int32_t trackID, const MediaTime& time) const;

 private:
  QList<AudioMixInputParametersRef> m_inputParameters;
};
using MutableAudioMixRef = std::shared_ptr<MutableAudioMix>;
