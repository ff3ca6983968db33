#pragma once
// The reader of one capture input: a thread that opens the device through libavdevice, decodes what it
// delivers, stamps each frame on the host clock and hands it to the session's outputs and previews.
// Internal to CaptureSession; exposed for its tests.

#include "platform/media/capture/CaptureSession.h"
#include "platform/media/io/FFmpegUtil.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CaptureReader {
 public:
  // What the readers of one session share: its outputs, its preview sinks, its last error.
  struct Shared {
    CaptureSession* owner = nullptr;
    QString preset = QString::fromLatin1(kCaptureSessionPresetHigh);

    void setOutputs(const std::vector<CaptureOutputRef>& outputs);
    std::vector<CaptureOutputRef> outputs() const;
    int addPreviewSink(std::function<void(const QImage&)> handler, int maxWidth);
    void setPreviewSinkMaxWidth(int id, int maxWidth);
    void removePreviewSink(int id);
    bool hasPreviewSinks() const;
    void setLastError(const QString& text);
    QString lastError() const;
    // Converts and hands one frame to every preview sink (on the preview thread).
    void feedPreview(const AVFrame* frame);

    mutable std::mutex mutex;
    std::vector<CaptureOutputRef> outputList;
    struct Sink {
      std::function<void(const QImage&)> handler;
      int maxWidth = 0;
    };
    std::map<int, Sink> sinks;
    int nextSinkID = 1;
    QString error;
    std::atomic<bool> previewBusy{false};
    // Used only on the preview thread.
    FFmpegImageScaler previewScaler{FFmpegScaleQuality::FastBilinear};
  };

  CaptureReader(CaptureDeviceRef device, std::shared_ptr<Shared> shared);
  // Stops the thread and closes the device.
  ~CaptureReader();

  // Opens the device in its active format (or the one the session preset picks). A device that has
  // gone, is busy or refuses the format answers false with a text.
  bool open(QString* error);
  void start();
  void requestStop();

  // The format and rate a session uses for a device that has no active format of its own.
  static CaptureDeviceFormatRef FormatForPreset(const CaptureDevice& device, const QString& preset);
  static double FrameRateFor(const CaptureDevice& device, const CaptureDeviceFormat& format);
  static void PostRuntimeError(CaptureSession* session, const QString& text, const QString& uniqueID);

 private:
  struct Conversions;
  // The steps of open().
  bool claimDevice(QString* error);
  bool chooseFormat(QString* error);
  bool inputOptions(FFmpegOptions* opts, QString* url, QString* error);
  bool openInput(const QString& url, FFmpegOptions* opts, QString* error);
  bool openDecoder(QString* error);
  void run();
  void handleVideo(AVFrame* frame, const MediaTime& arrival);
  void handleAudio(AVFrame* frame, const MediaTime& arrival);
  static int InterruptCallback(void* opaque);

  CaptureDeviceRef m_device;
  std::shared_ptr<Shared> m_shared;
  CaptureDeviceFormatRef m_format;
  double m_frameRate = 0;
  FFmpegInputPtr m_input;
  FFmpegCodecPtr m_decoder;
  int m_streamIndex = -1;
  bool m_holdsDevice = false;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::unique_ptr<Conversions> m_conv;
  // Audio time line: host time of the first sample and samples since then.
  bool m_audioAnchored = false;
  int64_t m_audioAnchorNanos = 0;
  int64_t m_audioSamples = 0;
};
