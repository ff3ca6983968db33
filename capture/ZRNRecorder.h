#pragma once
// The recorder of the live window: adds the sample-buffer outputs to the running capture session when a
// recording starts and writes what they deliver into one fragmented movie inside the session package.
//
// Threads: the outputs deliver on samplesBufferQueue (made anew for every recording); every writer call
// of an append runs on assetWritingQueue in delivery order; the writer is made, started and finished on
// sessionQueue. The notification that the movie is playable is posted on the main queue.

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/MediaTime.h"
#include "platform/media/writer/AssetWriter.h"
#include "platform/media/capture/CaptureSession.h"

#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class VLDocument;

inline const QString kZRNMovieStartedNotificationName = QStringLiteral("VLMovieStarted");

// Output settings of the recording, from the session document's values.
QVariantMap Recorder_VideoSettings(const QString& codecType, const QSizeF& frameSize, float videoFPS, int64_t segmentKBPS);
// AAC, two channels; a capture rate of 47500 Hz or more records 48000 Hz at 80000 bit/s, below it
// 44100 Hz at 64000 bit/s.
QVariantMap Recorder_AudioSettings(double audioCaptureRate);
// The recorder never writes an unfragmented movie, which a crash would destroy whole: a stored fragment
// length outside 1 to 60 s (zero, negative, NaN, absurdly large) is taken as the nearest bound.
inline constexpr float kRecorder_MinFragmentSeconds = 1.0f;
inline constexpr float kRecorder_MaxFragmentSeconds = 60.0f;
float Recorder_FragmentSeconds(float stored);
// The movie fragment interval: the fragment length (held to its bounds) truncated to whole seconds.
MediaTime Recorder_FragmentInterval(float segmentSeconds);
// The written span after which the growing movie counts as playable: 1.5 fragment lengths, whole seconds.
MediaTime Recorder_PlayableSpan(float segmentSeconds);

class ZRNRecorder : public CaptureSampleBufferDelegate, public std::enable_shared_from_this<ZRNRecorder> {
 public:
  // owner: the live window, the object of the notifications. The queues belong to the window. Owned by a
  // shared_ptr, the recorder stays alive until its queued work has run.
  ZRNRecorder(const void* owner, std::shared_ptr<DispatchQueue> sessionQueue, std::shared_ptr<DispatchQueue> assetWritingQueue);
  ~ZRNRecorder() override;
  ZRNRecorder(const ZRNRecorder&) = delete;
  ZRNRecorder& operator=(const ZRNRecorder&) = delete;

  // The document of the recording (settings read at writer start) and the running capture session.
  void setDocument(std::shared_ptr<VLDocument> document) { m_document = std::move(document); }
  std::shared_ptr<VLDocument> vlDocument() const { return m_document; }
  void setCaptureSession(CaptureSessionRef session) { m_session = std::move(session); }

  bool isRecording() const { return m_isRecording.load(); }
  void setIsRecording(bool recording) { m_isRecording = recording; }

  // The start step on sessionQueue: the per-recording state back to its beginning.
  void resetForNewRecording();
  // The writer start, on sessionQueue: the movie "VLCapturedMovie.<extension>" inside the package.
  void startWriterInPackage(const QUrl& packageFolder, const QString& movieFileExtension);
  void setupWriterAndInputsForURL(const QUrl& url);
  void U_SetupCaptureOutputs();

  // The finishing step, on sessionQueue. The main-queue step always runs once with the keep flag, also
  // when the writer had failed or never started, so that no stop is ever left half done.
  void U_StopCapturing(bool keep, std::function<void(bool keep)> mainQueueStep);
  // Between recordings: the writer and its inputs go.
  void cameraIsReady();

  // Called once on the main queue when the writer fails while recording, with its error text.
  void setWriterFailureHandler(std::function<void(const QString& reason)> handler) { m_failureHandler = std::move(handler); }

  // CaptureSampleBufferDelegate, on samplesBufferQueue.
  void captureOutput(CaptureOutput* output, const SampleBufferRef& sampleBuffer) override;

  void setupVideoPipelineWithInputFormatDescription(const SampleBuffer::FormatDescription& description);
  void appendAudioSampleBuffer(const SampleBufferRef& sampleBuffer);
  void appendVideoSampleBuffer(const SampleBufferRef& sampleBuffer);
  // A synchronous video path kept for completeness; nothing calls it.
  void newVideoSample(const SampleBufferRef& sampleBuffer);
  // Throws std::invalid_argument("NULL sample buffer") for a null buffer.
  void appendSampleBuffer(const SampleBufferRef& sampleBuffer, MediaType mediaType);

  std::shared_ptr<AssetWriter> videoWriter() const;
  std::shared_ptr<AssetWriterInput> videoWriterInput() const;
  std::shared_ptr<AssetWriterInput> audioWriterInput() const;
  QUrl currentSaveURL() const;
  bool writingHasStarted() const { return m_writingHasStarted.load(); }
  bool movieStarted() const { return m_movieStarted.load(); }
  bool sendNotification() const { return m_sendNotification.load(); }
  MediaTime movieStartTime() const;
  MediaTime lastSampleTime() const;
  std::shared_ptr<DispatchQueue> samplesBufferQueue() const { return m_samplesBufferQueue; }

 private:
  // Answers NO (after its warnings) when the writer no longer writes.
  bool U_WriterStillWriting(const std::shared_ptr<AssetWriter>& writer);
  void U_CheckMovieStarted();

  const void* m_owner;
  std::shared_ptr<DispatchQueue> m_sessionQueue;
  std::shared_ptr<DispatchQueue> m_assetWritingQueue;
  std::shared_ptr<DispatchQueue> m_samplesBufferQueue;
  std::shared_ptr<VLDocument> m_document;
  CaptureSessionRef m_session;
  std::function<void(const QString&)> m_failureHandler;

  mutable std::mutex m_stateMutex;  // the writer objects and times shared between the queues
  std::shared_ptr<AssetWriter> m_videoWriter;
  std::shared_ptr<AssetWriterInput> m_videoWriterInput;
  std::shared_ptr<AssetWriterInput> m_audioWriterInput;
  std::shared_ptr<CaptureVideoDataOutput> m_captureVideoDataOutput;
  std::shared_ptr<CaptureAudioDataOutput> m_captureAudioDataOutput;
  QUrl m_currentSaveURL;
  MediaTime m_lastSampleTime = kMediaTimeZero;
  MediaTime m_movieStartTime = kMediaTimeZero;
  MediaTime m_lastVideoSampleTime = kMediaTimeInvalid;
  std::optional<SampleBuffer::FormatDescription> m_outputVideoFormatDescription;
  std::optional<SampleBuffer::FormatDescription> m_outputAudioFormatDescription;

  // The window's own lock: audio appends are decided under it.
  std::mutex m_windowLock;
  std::atomic<bool> m_isRecording{false};
  std::atomic<bool> m_writingHasStarted{false};
  std::atomic<bool> m_movieStarted{false};
  std::atomic<bool> m_sendNotification{true};
  std::atomic<bool> m_failureReported{false};
};
