#include "platform/media/player/AudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <cstring>

class AudioPullDevice : public QIODevice {
 public:
  explicit AudioPullDevice(AudioOutput* owner) : m_owner(owner) {}
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return 4096 + QIODevice::bytesAvailable(); }

 protected:
  qint64 readData(char* data, qint64 maxSize) override { return m_owner->U_Pull(data, maxSize); }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  AudioOutput* m_owner;
};

qint64 AudioOutput_FillFromDecoder(Decoder& decoder, const DecoderAudioFormat& format, const MediaTime& clockTime,
                                   char* data, qint64 maxBytes, MediaTime* firstByteTime) {
  // Sound within 20 ms of the clock counts as on time.
  constexpr double kSlack = 0.02;
  const int bpf = format.bytesPerFrame();
  qint64 written = 0;
  DecodedUnit unit;
  while (written < maxBytes && decoder.peek(unit)) {
    if (written == 0) {
      const MediaTime unitEnd = MediaTimeAdd(unit.itemTime, unit.duration);
      if (MediaTimeGetSeconds(MediaTimeSubtract(clockTime, unitEnd)) > kSlack) {
        decoder.pop(unit);
        continue;
      }
      const double late = MediaTimeGetSeconds(MediaTimeSubtract(clockTime, unit.itemTime));
      if (late < -kSlack) break;
      if (late > kSlack) {
        // Start inside the block, at the clock.
        decoder.consumeAudioBytes(static_cast<int>(late * format.sampleRate) * bpf);
        continue;
      }
      *firstByteTime = unit.itemTime;
    }
    const qint64 take = std::min<qint64>(maxBytes - written, unit.pcm.size()) / bpf * bpf;
    if (take <= 0) break;
    std::memcpy(data + written, unit.pcm.constData(), static_cast<size_t>(take));
    written += take;
    decoder.consumeAudioBytes(static_cast<int>(take));
  }
  return written;
}

bool AudioOutput::hasDefaultDevice() { return !QMediaDevices::defaultAudioOutput().isNull(); }

AudioOutput::AudioOutput(QObject* parent) : QObject(parent) {
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  QAudioFormat format;
  format.setSampleRate(48000);
  format.setChannelCount(2);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device.isNull() && !device.isFormatSupported(format)) {
    const QAudioFormat preferred = device.preferredFormat();
    format.setSampleRate(preferred.sampleRate() > 0 ? preferred.sampleRate() : 48000);
    format.setChannelCount(preferred.channelCount() > 0 ? std::min(preferred.channelCount(), 2) : 2);
  }
  m_format.sampleRate = format.sampleRate();
  m_format.channels = format.channelCount();
  if (!device.isNull()) {
    m_sink = std::make_unique<QAudioSink>(device, format);
    m_sink->setBufferSize(m_format.sampleRate * m_format.bytesPerFrame() / 10);
  }
  m_device = std::make_unique<AudioPullDevice>(this);
}

AudioOutput::~AudioOutput() { stop(); }

bool AudioOutput::isRunning() const { return m_sink && m_device->isOpen(); }

void AudioOutput::start(PullFunction pull) {
  if (!m_sink) return;
  stop();
  m_pull = std::move(pull);
  m_endOfWrittenTime = kMediaTimeInvalid;
  m_device->open(QIODevice::ReadOnly);
  m_sink->setVolume(m_volume);
  m_sink->start(m_device.get());
}

void AudioOutput::stop() {
  if (m_sink) m_sink->stop();
  if (m_device->isOpen()) m_device->close();
  m_pull = nullptr;
  m_endOfWrittenTime = kMediaTimeInvalid;
}

void AudioOutput::setVolume(float volume) {
  m_volume = volume;
  if (m_sink) m_sink->setVolume(volume);
}

qint64 AudioOutput::U_Pull(char* data, qint64 maxBytes) {
  const int bpf = m_format.bytesPerFrame();
  maxBytes -= maxBytes % bpf;
  if (maxBytes <= 0) return 0;
  MediaTime first = kMediaTimeInvalid;
  const qint64 written = m_pull ? m_pull(data, maxBytes, &first) : 0;
  if (first.isValid() && written > 0)
    m_endOfWrittenTime = MediaTimeAdd(first, MediaTimeMake(written / bpf, m_format.sampleRate));
  else
    m_endOfWrittenTime = kMediaTimeInvalid;
  // Keep the device fed: silence where there is no sound yet.
  if (written < maxBytes) std::memset(data + written, 0, static_cast<size_t>(maxBytes - written));
  return maxBytes;
}

MediaTime AudioOutput::heardItemTime() const {
  if (!m_sink || !m_endOfWrittenTime.isValid()) return kMediaTimeInvalid;
  const qint64 queued = m_sink->bufferSize() - m_sink->bytesFree();
  const int frames = static_cast<int>(std::max<qint64>(0, queued) / m_format.bytesPerFrame());
  return MediaTimeSubtract(m_endOfWrittenTime, MediaTimeMake(frames, m_format.sampleRate));
}
