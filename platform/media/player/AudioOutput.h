#pragma once
// The sound stage of the player: a QAudioSink on the default output device in pull mode. The sink asks
// for bytes on the main thread; a pull function hands it decoded PCM (or silence). The output tracks the
// item time of the sound being heard so that the player's clock can follow the device.

#include "platform/foundation/MediaTime.h"
#include "platform/media/asset/Decoder.h"

#include <QObject>

#include <functional>
#include <memory>

class QAudioSink;
class AudioPullDevice;

// Fills a device buffer from a sound decoder for the clock's item time: sound the clock has passed is
// dropped, sound not due yet is left for later (nothing is written). Answers the bytes written (whole
// frames) and the item time of the first one.
qint64 AudioOutput_FillFromDecoder(Decoder& decoder, const DecoderAudioFormat& format, const MediaTime& clockTime,
                                   char* data, qint64 maxBytes, MediaTime* firstByteTime);

class AudioOutput : public QObject {
  Q_OBJECT

 public:
  // Fills up to maxBytes; answers the bytes written and the item time of the first byte (invalid for
  // silence). Must write whole frames.
  using PullFunction = std::function<qint64(char* data, qint64 maxBytes, MediaTime* firstByteTime)>;

  // True when the system has a default output device.
  static bool hasDefaultDevice();

  explicit AudioOutput(QObject* parent = nullptr);
  ~AudioOutput() override;

  DecoderAudioFormat format() const { return m_format; }
  bool isRunning() const;
  void start(PullFunction pull);
  void stop();
  void setVolume(float volume);
  // Item time of the sound at the device's output now; invalid while nothing real has been played.
  MediaTime heardItemTime() const;

 private:
  friend class AudioPullDevice;
  qint64 U_Pull(char* data, qint64 maxBytes);

  DecoderAudioFormat m_format;
  std::unique_ptr<QAudioSink> m_sink;
  std::unique_ptr<AudioPullDevice> m_device;
  PullFunction m_pull;
  float m_volume = 1.0f;
  MediaTime m_endOfWrittenTime = kMediaTimeInvalid;
};
