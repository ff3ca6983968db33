#pragma once
// A capture session: device inputs feed data outputs and previews.
//
// Each input has its own reader thread that opens the device through libavdevice, stamps every frame
// with the host clock (HostClock_Now) when it arrives and hands it to the outputs. Data outputs convert
// (video to BGRA at a chosen size, or the native format; audio to interleaved float or 16-bit samples)
// and deliver SampleBufferRefs to their delegate on the DispatchQueue the caller names, in arrival order.

#include "platform/foundation/DispatchQueue.h"
#include "platform/media/capture/CaptureDevice.h"
#include "platform/media/io/SampleBuffer.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Posted with the session's address as object on the thread that started or stopped it.
inline constexpr const char* kCaptureSessionDidStartRunningNotification = "AVCaptureSessionDidStartRunningNotification";
inline constexpr const char* kCaptureSessionDidStopRunningNotification = "AVCaptureSessionDidStopRunningNotification";
// userInfo "error" (text) and "uniqueID" (the device concerned); posted on the reader's thread.
inline constexpr const char* kCaptureSessionRuntimeErrorNotification = "AVCaptureSessionRuntimeErrorNotification";
// A device of a running session went away (userInfo "uniqueID"); the session keeps its other inputs.
inline constexpr const char* kCaptureSessionWasInterruptedNotification = "AVCaptureSessionWasInterruptedNotification";

inline constexpr const char* kCaptureSessionPresetHigh = "AVCaptureSessionPresetHigh";
inline constexpr const char* kCaptureSessionPresetMedium = "AVCaptureSessionPresetMedium";
inline constexpr const char* kCaptureSessionPreset1280x720 = "AVCaptureSessionPreset1280x720";
inline constexpr const char* kCaptureSessionPreset1920x1080 = "AVCaptureSessionPreset1920x1080";

class CaptureSession;
class CaptureOutput;

class CaptureDeviceInput {
 public:
  // Fails with a text when the device has gone.
  static std::shared_ptr<CaptureDeviceInput> deviceInputWithDevice(const CaptureDeviceRef& device, QString* error);
  CaptureDeviceRef device() const { return m_device; }

  explicit CaptureDeviceInput(CaptureDeviceRef device) : m_device(std::move(device)) {}

 private:
  CaptureDeviceRef m_device;
};
using CaptureDeviceInputRef = std::shared_ptr<CaptureDeviceInput>;

// Receives the buffers of a data output on the output's queue.
class CaptureSampleBufferDelegate {
 public:
  virtual ~CaptureSampleBufferDelegate() = default;
  virtual void captureOutput(CaptureOutput* output, const SampleBufferRef& sampleBuffer) = 0;
  // A video frame that was not delivered because the delegate was still busy with an earlier one.
  virtual void captureOutputDidDrop(CaptureOutput* output, const MediaTime& presentationTime) {
    (void)output;
    (void)presentationTime;
  }
};

class CaptureOutput {
 public:
  virtual ~CaptureOutput() = default;
  virtual MediaType mediaType() const = 0;
  CaptureSession* session() const { return m_session; }

 protected:
  friend class CaptureSession;
  CaptureSession* m_session = nullptr;
};
using CaptureOutputRef = std::shared_ptr<CaptureOutput>;

// A data output that hands buffers to a delegate on a queue.
class CaptureDataOutput : public CaptureOutput {
 public:
  // The delegate is not owned. Setting nullptr (or another delegate) waits for a delivery under way
  // and stops later ones from reaching the old delegate, so it may be destroyed afterwards.
  void setSampleBufferDelegate(CaptureSampleBufferDelegate* delegate, std::shared_ptr<DispatchQueue> queue);
  CaptureSampleBufferDelegate* sampleBufferDelegate() const;
  std::shared_ptr<DispatchQueue> sampleBufferCallbackQueue() const;

  bool hasDelegate() const;

  // Called by the reader threads: queues the buffer for the delegate (or, with dropWhenBusy and a
  // delivery still pending, tells the delegate that it was dropped).
  static void deliver(const std::shared_ptr<CaptureDataOutput>& self, const SampleBufferRef& buffer, bool dropWhenBusy);

 private:
  struct Target {
    // Fields below: read by the readers, never held while a delegate runs.
    std::mutex mutex;
    // Held while the delegate runs, so that a change of delegate waits for a delivery under way.
    std::recursive_mutex delivering;
    CaptureSampleBufferDelegate* delegate = nullptr;
    std::shared_ptr<DispatchQueue> queue;
    std::atomic<int> pending{0};
  };
  std::shared_ptr<Target> m_target = std::make_shared<Target>();
};

class CaptureVideoDataOutput : public CaptureDataOutput {
 public:
  MediaType mediaType() const override { return MediaType::Video; }

  // FFmpeg pixel format of the delivered frames (AV_PIX_FMT_BGRA by default); -1 delivers the device's
  // own format unconverted. An empty size keeps the device's size.
  void setVideoSettings(int pixelFormat, QSize size);
  int pixelFormat() const;
  QSize outputSize() const;

  // YES: a frame that arrives while the delegate has not finished the previous one is dropped.
  // NO: every frame is queued (late frames kept).
  bool alwaysDiscardsLateVideoFrames() const { return m_discardLate; }
  void setAlwaysDiscardsLateVideoFrames(bool discard) { m_discardLate = discard; }

 private:
  mutable std::mutex m_settingsMutex;
  int m_pixelFormat = 28;  // AV_PIX_FMT_BGRA
  QSize m_size;
  std::atomic<bool> m_discardLate{true};
};

enum class CaptureAudioSampleFormat { Float32, Int16 };

class CaptureAudioDataOutput : public CaptureDataOutput {
 public:
  MediaType mediaType() const override { return MediaType::Audio; }
  // Interleaved samples; 0 keeps the device's rate or channel count.
  void setAudioSettings(CaptureAudioSampleFormat format, int sampleRate = 0, int channels = 0);
  CaptureAudioSampleFormat sampleFormat() const;
  int sampleRate() const;
  int channelCount() const;

 private:
  mutable std::mutex m_settingsMutex;
  CaptureAudioSampleFormat m_format = CaptureAudioSampleFormat::Float32;
  int m_rate = 0;
  int m_channels = 0;
};

// Plays the microphone live on an output device (through QAudioSink on the main thread).
class CaptureAudioPreviewOutput : public CaptureOutput {
 public:
  CaptureAudioPreviewOutput();
  ~CaptureAudioPreviewOutput() override;
  MediaType mediaType() const override { return MediaType::Audio; }
  float volume() const;
  void setVolume(float volume);
  // The uniqueID of an output device from AudioDevice_List; empty plays on the default output.
  QString outputDeviceUniqueID() const;
  void setOutputDeviceUniqueID(const QString& uid);

  // Called by the reader thread with interleaved 16-bit samples.
  void play(const SampleBufferRef& buffer);
  void stop();

 private:
  struct Monitor;
  std::shared_ptr<Monitor> m_monitor;
};

class CaptureSession {
 public:
  CaptureSession();
  // Stops running; posts nothing.
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // Changes between begin and commit take effect together; a running session restarts its readers.
  void beginConfiguration();
  void commitConfiguration();

  QString sessionPreset() const;
  void setSessionPreset(const QString& preset);
  bool canSetSessionPreset(const QString& preset) const;

  // One input per media type; a device already read by another running session is refused.
  bool canAddInput(const CaptureDeviceInputRef& input) const;
  void addInput(const CaptureDeviceInputRef& input);
  void removeInput(const CaptureDeviceInputRef& input);
  std::vector<CaptureDeviceInputRef> inputs() const;

  bool canAddOutput(const CaptureOutputRef& output) const;
  void addOutput(const CaptureOutputRef& output);
  void removeOutput(const CaptureOutputRef& output);
  std::vector<CaptureOutputRef> outputs() const;

  // Opens every input and starts the readers, then posts did-start-running. When a device cannot be
  // opened the runtime-error notification carries its text and the session does not start. The devices
  // open without the session's lock held: another thread's stopRunning() during a start does not wait for
  // a slow device, and the start then gives up without starting or reporting anything.
  void startRunning();
  void stopRunning();
  bool isRunning() const;
  // The text of the last runtime error, empty when none.
  QString lastErrorText() const;

  // Preview frames: the handler gets pictures of at most maxWidth pixels wide (4:2:0 YUV cameras' in
  // YUV, others' as BGRA images), on a preview thread, never more than one at a time (frames are skipped
  // while it is busy, so capture never waits).
  int addPreviewSink(std::function<void(const PreviewPicture&)> handler, int maxWidth);
  // A view that changes size asks for pictures of its new width: the preview never converts more
  // pixels than are shown.
  void setPreviewSinkMaxWidth(int id, int maxWidth);
  void removePreviewSink(int id);

  struct Private;

 private:
  std::shared_ptr<Private> d;
};
using CaptureSessionRef = std::shared_ptr<CaptureSession>;
