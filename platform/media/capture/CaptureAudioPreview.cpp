#include "platform/media/capture/AudioDevices.h"
#include "platform/media/capture/CaptureSession.h"

#include "platform/foundation/DispatchQueue.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include <QAudioDevice>
#include <QAudioSink>
#include <QByteArray>
#include <QMediaDevices>
#include <QPointer>

// The monitor's sink lives on the main thread (QAudioSink is a QObject of that thread); the reader
// only hands it copies of the samples.
struct CaptureAudioPreviewOutput::Monitor {
  std::mutex mutex;
  float volume = 1.0f;
  QString deviceUID;
  // Main thread only:
  QAudioSink* sink = nullptr;
  QIODevice* io = nullptr;
  int rate = 0;
  int channels = 0;
  // No output to monitor on for this format: not asked again until the format changes.
  bool unavailable = false;

  void closeSink() {
    if (sink) {
      sink->stop();
      delete sink;
    }
    sink = nullptr;
    io = nullptr;
    unavailable = false;
  }
  void write(const QByteArray& bytes, int sampleRate, int channelCount) {
    if (unavailable && rate == sampleRate && channels == channelCount) return;
    if (!sink || rate != sampleRate || channels != channelCount) {
      closeSink();
      QAudioFormat format;
      format.setSampleRate(sampleRate);
      format.setChannelCount(channelCount);
      format.setSampleFormat(QAudioFormat::Int16);
      QString uid;
      {
        std::lock_guard lock(mutex);
        uid = deviceUID;
      }
      QAudioDevice device = QMediaDevices::defaultAudioOutput();
      if (!uid.isEmpty()) {
        const QString systemName = AudioDevice_SystemNameForUID(uid, false);
        for (const QAudioDevice& d : QMediaDevices::audioOutputs())
          if (QString::fromUtf8(d.id()) == systemName) device = d;
      }
      if (device.isNull()) {
        rate = sampleRate;
        channels = channelCount;
        unavailable = true;
        return;
      }
      sink = new QAudioSink(device, format);
      sink->setBufferSize(sampleRate * channelCount * 2 / 5);  // 200 ms
      rate = sampleRate;
      channels = channelCount;
      io = sink->start();
    }
    {
      std::lock_guard lock(mutex);
      sink->setVolume(volume);
    }
    // Never let the monitor fall behind the picture: what does not fit is dropped.
    if (io && sink->bytesFree() >= bytes.size()) io->write(bytes);
  }
};

CaptureAudioPreviewOutput::CaptureAudioPreviewOutput() : m_monitor(std::make_shared<Monitor>()) {}

CaptureAudioPreviewOutput::~CaptureAudioPreviewOutput() { stop(); }

float CaptureAudioPreviewOutput::volume() const {
  std::lock_guard lock(m_monitor->mutex);
  return m_monitor->volume;
}

void CaptureAudioPreviewOutput::setVolume(float volume) {
  std::lock_guard lock(m_monitor->mutex);
  m_monitor->volume = std::clamp(volume, 0.0f, 1.0f);
}

QString CaptureAudioPreviewOutput::outputDeviceUniqueID() const {
  std::lock_guard lock(m_monitor->mutex);
  return m_monitor->deviceUID;
}

void CaptureAudioPreviewOutput::setOutputDeviceUniqueID(const QString& uid) {
  std::lock_guard lock(m_monitor->mutex);
  m_monitor->deviceUID = uid;
}

void CaptureAudioPreviewOutput::play(const SampleBufferRef& buffer) {
  const AVFrame* f = buffer ? buffer->frame() : nullptr;
  if (!f || f->format != AV_SAMPLE_FMT_S16 || f->nb_samples <= 0) return;
  const int channels = f->ch_layout.nb_channels;
  QByteArray bytes(reinterpret_cast<const char*>(f->data[0]), f->nb_samples * channels * 2);
  auto monitor = m_monitor;
  const int rate = f->sample_rate;
  Dispatch_MainAsync([monitor, bytes, rate, channels] { monitor->write(bytes, rate, channels); });
}

void CaptureAudioPreviewOutput::stop() {
  auto monitor = m_monitor;
  Dispatch_MainAsync([monitor] { monitor->closeSink(); });
}
