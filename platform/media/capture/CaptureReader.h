#pragma once
// The reader of one capture input: a thread that opens the device through libavdevice, decodes what it
// delivers, stamps each frame on the host clock and hands it to the session's outputs and previews.
// Internal to CaptureSession; exposed for its tests.

#include "platform/foundation/DispatchQueue.h"
#include "platform/media/capture/CaptureSession.h"
#include "platform/media/io/FFmpegUtil.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class CaptureReader {
 public:
  // What the readers of one session share: its outputs, its preview sinks, its last error.
  struct Shared {
    CaptureSession* owner = nullptr;
    QString preset = QString::fromLatin1(kCaptureSessionPresetHigh);

    void setOutputs(const std::vector<CaptureOutputRef>& outputs);
    std::vector<CaptureOutputRef> outputs() const;
    int addPreviewSink(std::function<void(const PreviewPicture&)> handler, int maxWidth);
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
      std::function<void(const PreviewPicture&)> handler;
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
  // Stops the thread and closes the device. Let go on its own thread (a notification observer there
  // dropping the session), the reader cannot join: the thread finishes on the input it holds, and the
  // device is closed and given up when it ends.
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Opens the device in its active format (or the one the session preset picks). A device that has
  // gone, is busy or refuses the format answers false with a text.
  bool open(QString* error);
  bool isOpen() const;
  void start();
  void requestStop();

  // The format and rate a session uses for a device that has no active format of its own.
  static CaptureDeviceFormatRef FormatForPreset(const CaptureDevice& device, const QString& preset);
  static double FrameRateFor(const CaptureDevice& device, const CaptureDeviceFormat& format);
  static void PostRuntimeError(CaptureSession* session, const QString& text, const QString& uniqueID);
  // Runs the preview conversions still queued and ends the preview thread, waiting at most `limit`; NO
  // when it had not ended by then. For the end of the process, once every session has stopped.
  static bool FinishPreviews(std::chrono::milliseconds limit);

 private:
  // The open device and everything the reading thread uses: shared with that thread.
  class Input;

  std::shared_ptr<Input> m_input;
  // The reading thread: one block that reads until stopped. Released on the main thread it is waited for
  // while the main-thread requests of that thread are answered; released on its own thread it ends alone.
  std::unique_ptr<DispatchQueue> m_queue;
};
