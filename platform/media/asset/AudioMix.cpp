#include "platform/media/asset/AudioMix.h"

AudioMixInputParametersRef MutableAudioMixInputParameters::audioMixInputParameters(int32_t trackID) {
  auto p = std::make_shared<MutableAudioMixInputParameters>();
  p->setTrackID(trackID);
  return p;
}

void MutableAudioMixInputParameters::setVolume(float volume, const MediaTime& atTime) {
  setVolumeRampFromStartVolume(volume, volume, MediaTimeRangeMake(atTime, kMediaTimeZero));
}

void MutableAudioMixInputParameters::setVolumeRampFromStartVolume(float startVolume, float endVolume,
                                                                  const MediaTimeRange& timeRange) {
  Ramp r{timeRange, startVolume, endVolume};
  int i = 0;
  while (i < m_ramps.size() && m_ramps[i].range.start <= timeRange.start) ++i;
  m_ramps.insert(i, r);
}

float MutableAudioMixInputParameters::volumeAtTime(const MediaTime& time) const {
  float volume = 1.0f;
  for (const Ramp& r : m_ramps) {
    if (time < r.range.start) break;
    if (time >= r.range.end()) {
      volume = r.end;
      continue;
    }
    const double len = MediaTimeGetSeconds(r.range.duration);
    const double into = MediaTimeGetSeconds(time - r.range.start);
    volume = len > 0.0 ? float(r.start + (r.end - r.start) * (into / len)) : r.end;
  }
  return volume;
}

MutableAudioMixRef MutableAudioMix::audioMix() { return std::make_shared<MutableAudioMix>(); }

float MutableAudioMix::volumeOfTrack(int32_t trackID, const MediaTime& time) const {
  for (const auto& p : m_inputParameters)
    if (p->trackID() == trackID) return p->volumeAtTime(time);
  return 1.0f;
}
