#include "capture/ZRNRecorder.h"

#include "common/ZRNLogger.h"
#include "session/VLDocument.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

extern "C" {
}

namespace {

const QString kSamplesBufferQueueLabel = QStringLiteral("org.velmora.Velmora.samplesBuffer.queue");

// The capture card whose audio input must be finished even when the document records no sound.
bool isHD60SPlus(const QString& cameraName) { return cameraName.contains(QLatin1String("HD60 S+")); }

}  // namespace

QVariantMap Recorder_VideoSettings(const QString& codecType, const QSizeF& frameSize, float videoFPS, int64_t segmentKBPS) {
  const QVariantMap compression{{AVVideoExpectedSourceFrameRateKey, videoFPS},
                                {AVVideoMaxKeyFrameIntervalKey, videoFPS},
                                {AVVideoAverageBitRateKey, qint64(segmentKBPS * 1024)}};
  return QVariantMap{{AVVideoCodecKey, codecType},
                     {AVVideoWidthKey, frameSize.width()},
                     {AVVideoHeightKey, frameSize.height()},
                     {AVVideoCompressionPropertiesKey, compression}};
}

QVariantMap Recorder_AudioSettings(double audioCaptureRate) {
  const bool high = audioCaptureRate >= 47500;
  return QVariantMap{{AVFormatIDKey, kAudioFormatMPEG4AAC},
                     {AVNumberOfChannelsKey, 2},
                     {AVSampleRateKey, high ? 48000.0 : 44100.0},
                     {AVEncoderBitRateKey, high ? 80000 : 64000},
                     {AVEncoderAudioQualityKey, AVAudioQualityMax}};
}

float Recorder_FragmentSeconds(float stored) {
  // NaN fails both comparisons and takes the lower bound with the zero and negative lengths.
  if (!(stored >= kRecorder_MinFragmentSeconds)) return kRecorder_MinFragmentSeconds;
  return std::min(stored, kRecorder_MaxFragmentSeconds);
}

MediaTime Recorder_FragmentInterval(float segmentSeconds) {
  return MediaTimeMake(static_cast<int64_t>(Recorder_FragmentSeconds(segmentSeconds)), 1);
}

MediaTime Recorder_PlayableSpan(float segmentSeconds) {
  return MediaTimeMake(static_cast<int64_t>(Recorder_FragmentSeconds(segmentSeconds) * 1.5), 1);
}

ZRNRecorder::ZRNRecorder(const void* owner, std::shared_ptr<DispatchQueue> sessionQueue,
                         std::shared_ptr<DispatchQueue> assetWritingQueue)
    : m_owner(owner), m_sessionQueue(std::move(sessionQueue)), m_assetWritingQueue(std::move(assetWritingQueue)) {}

namespace {
// A queue must not be let go from one of its own blocks (its thread would be joined from itself).
void releaseQueue(std::shared_ptr<DispatchQueue>& queue) {
  if (queue && queue->isCurrent()) Dispatch_GlobalAsync([q = std::move(queue)] {});
  queue.reset();
}
}  // namespace

ZRNRecorder::~ZRNRecorder() {
  // No delivery may reach a recorder that is gone.
  if (m_captureVideoDataOutput) m_captureVideoDataOutput->setSampleBufferDelegate(nullptr, nullptr);
  if (m_captureAudioDataOutput) m_captureAudioDataOutput->setSampleBufferDelegate(nullptr, nullptr);
  // Appends still queued use this object; when it is shared they keep it alive instead.
  if (m_assetWritingQueue && !m_assetWritingQueue->isCurrent()) m_assetWritingQueue->sync([] {});
  releaseQueue(m_assetWritingQueue);
  releaseQueue(m_sessionQueue);
  releaseQueue(m_samplesBufferQueue);
}

std::shared_ptr<AssetWriter> ZRNRecorder::videoWriter() const {
  std::lock_guard lock(m_stateMutex);
  return m_videoWriter;
}
std::shared_ptr<AssetWriterInput> ZRNRecorder::videoWriterInput() const {
  std::lock_guard lock(m_stateMutex);
  return m_videoWriterInput;
}
std::shared_ptr<AssetWriterInput> ZRNRecorder::audioWriterInput() const {
  std::lock_guard lock(m_stateMutex);
  return m_audioWriterInput;
}
QUrl ZRNRecorder::currentSaveURL() const {
  std::lock_guard lock(m_stateMutex);
  return m_currentSaveURL;
}
MediaTime ZRNRecorder::movieStartTime() const {
  std::lock_guard lock(m_stateMutex);
  return m_movieStartTime;
}
MediaTime ZRNRecorder::lastSampleTime() const {
  std::lock_guard lock(m_stateMutex);
  return m_lastSampleTime;
}

void ZRNRecorder::resetForNewRecording() {
  Dispatch_AssertQueue(m_sessionQueue, __func__);
  std::lock_guard lock(m_stateMutex);
  m_lastSampleTime = kMediaTimeZero;
  m_lastVideoSampleTime = MediaTime{-1, 1, 0, 0};  // invalid, value -1 at timescale 1
  m_movieStartTime = kMediaTimeZero;
  m_movieStarted = false;
  m_writingHasStarted = false;
  m_sendNotification = true;
  m_failureReported = false;
  m_isRecording = true;
}

void ZRNRecorder::startWriterInPackage(const QUrl& packageFolder, const QString& movieFileExtension) {
  Dispatch_AssertQueue(m_sessionQueue, __func__);
  const QUrl movieURL =
      QUrl::fromLocalFile(packageFolder.toLocalFile() + QLatin1Char('/') + kVLMovieBaseName + QLatin1Char('.') + movieFileExtension);
  const QSizeF size = m_document ? m_document->frameSize() : QSizeF();
  ZRNLogger_Log("  recording size: %.0f x %.0f", size.width(), size.height());
  ZRNLogger_Log("segment duration: %.2fsecs", m_document ? m_document->segmentSeconds() : 0.0f);
  ZRNLogger_Log("    captureAudio: %@", m_document && m_document->captureAudio() ? "YES" : "NO");
  setupWriterAndInputsForURL(movieURL);
  {
    std::lock_guard lock(m_stateMutex);
    m_currentSaveURL = movieURL;
  }
  U_SetupCaptureOutputs();
  if (auto writer = videoWriter()) {
    if (!writer->startWriting()) ZRNLogger_Log("ERR: asset writer did not start: %@", writer->error().description());
  }
}

void ZRNRecorder::setupWriterAndInputsForURL(const QUrl& url) {
  if (!m_document) return;
  const VLDocument& doc = *m_document;
  const QVariantMap videoSettings =
      Recorder_VideoSettings(doc.videoCodecType(), doc.frameSize(), doc.videoFPS(), doc.segmentKBPS());
  // The file type was checked when the preferences chose it, so a failure here is not examined.
  auto writer = AssetWriter::create(url.toLocalFile(), doc.captureFileType());
  if (!writer) {
    ZRNLogger_Log("ERR: Cannot make the asset writer for %@ of type %@", url.toLocalFile(), doc.captureFileType());
    return;
  }
  writer->setMovieFragmentInterval(Recorder_FragmentInterval(doc.segmentSeconds()));
  std::shared_ptr<AssetWriterInput> videoInput;
  if (writer->canApplyOutputSettings(videoSettings, MediaType::Video)) {
    videoInput = AssetWriterInput::create(MediaType::Video, videoSettings);
    videoInput->setExpectsMediaDataInRealTime(true);
    if (writer->canAddInput(videoInput))
      writer->addInput(videoInput);
    else
      videoInput.reset();
  } else {
    ZRNLogger_Log("ERR: Cannot setup asset writer1 input with settings: %@", videoSettings);
  }
  std::shared_ptr<AssetWriterInput> audioInput;
  if (doc.captureAudio()) {
    const QVariantMap audioSettings = Recorder_AudioSettings(doc.audioCaptureRate());
    if (writer->canApplyOutputSettings(audioSettings, MediaType::Audio)) {
      audioInput = AssetWriterInput::create(MediaType::Audio, audioSettings);
      audioInput->setExpectsMediaDataInRealTime(true);
      if (writer->canAddInput(audioInput))
        writer->addInput(audioInput);
      else
        audioInput.reset();
    }
  }
  std::lock_guard lock(m_stateMutex);
  m_videoWriter = writer;
  m_videoWriterInput = videoInput;
  m_audioWriterInput = audioInput;
}

void ZRNRecorder::U_SetupCaptureOutputs() {
  Dispatch_AssertQueue(m_sessionQueue, __func__);
  if (!m_session || !m_document) return;
  const bool captureAudio = m_document->captureAudio();
  m_session->beginConfiguration();
  auto videoOutput = std::make_shared<CaptureVideoDataOutput>();
  std::shared_ptr<CaptureAudioDataOutput> audioOutput;
  if (captureAudio) audioOutput = std::make_shared<CaptureAudioDataOutput>();
  if (m_session->canAddOutput(videoOutput)) {
    m_session->addOutput(videoOutput);
    videoOutput->setAlwaysDiscardsLateVideoFrames(false);
    const QSizeF size = m_document->frameSize();
    // The camera's own pictures go to the writer as they come: it converts them to the encoder's format
    // and size in one step, so no frame is converted twice on its way to the file.
    videoOutput->setVideoSettings(-1, QSize(qRound(size.width()), qRound(size.height())));
    if (captureAudio && m_session->canAddOutput(audioOutput)) m_session->addOutput(audioOutput);
    m_samplesBufferQueue.reset();
    m_samplesBufferQueue = DispatchQueue::create(kSamplesBufferQueueLabel);
    videoOutput->setSampleBufferDelegate(this, m_samplesBufferQueue);
    if (captureAudio) audioOutput->setSampleBufferDelegate(this, m_samplesBufferQueue);
    std::lock_guard lock(m_stateMutex);
    m_captureVideoDataOutput = videoOutput;
    m_captureAudioDataOutput = audioOutput;
  }
  m_session->commitConfiguration();
}

void ZRNRecorder::captureOutput(CaptureOutput* output, const SampleBufferRef& sampleBuffer) {
  // By label: the queue is made anew for each recording while the last one may still be finishing.
  Dispatch_AssertQueueLabel(kSamplesBufferQueueLabel, __func__);
  if (!sampleBuffer || !sampleBuffer->dataIsReady()) {
    ZRNLogger_Log("sample buffer is not ready. Skipping sample");
    return;
  }
  if (output && output->mediaType() == MediaType::Video) {
    bool seen;
    {
      std::lock_guard lock(m_stateMutex);
      seen = m_outputVideoFormatDescription.has_value();
    }
    if (seen) {
      appendVideoSampleBuffer(sampleBuffer);
    } else {
      // The first frame only tells the format; it is not written.
      setupVideoPipelineWithInputFormatDescription(sampleBuffer->formatDescription());
    }
    return;
  }
  if (output && output->mediaType() == MediaType::Audio && m_document && m_document->captureAudio()) {
    {
      std::lock_guard lock(m_stateMutex);
      m_outputAudioFormatDescription = sampleBuffer->formatDescription();
    }
    // Audio before the first written video frame started the writer session is dropped.
    std::lock_guard lock(m_windowLock);
    if (m_writingHasStarted) appendAudioSampleBuffer(sampleBuffer);
  }
}

void ZRNRecorder::setupVideoPipelineWithInputFormatDescription(const SampleBuffer::FormatDescription& description) {
  std::lock_guard lock(m_stateMutex);
  m_outputVideoFormatDescription = description;
}

void ZRNRecorder::appendAudioSampleBuffer(const SampleBufferRef& sampleBuffer) {
  appendSampleBuffer(sampleBuffer, MediaType::Audio);
}

bool ZRNRecorder::U_WriterStillWriting(const std::shared_ptr<AssetWriter>& writer) {
  if (!writer || writer->status() < AssetWriterStatusCompleted) return true;
  ZRNLogger_Log("Warning: writer status is %ld", static_cast<long>(writer->status()));
  if (writer->status() == AssetWriterStatusFailed) {
    const QString reason = writer->error().description();
    ZRNLogger_Log("Error: %@", reason);
    // A writer that fails while recording ends the recording as a kept stop, once.
    if (m_isRecording && m_failureHandler && !m_failureReported.exchange(true)) {
      auto handler = m_failureHandler;
      Dispatch_MainAsync([handler, reason] { handler(reason); });
    }
  }
  return false;
}

void ZRNRecorder::U_CheckMovieStarted() {
  if (!m_sendNotification || !m_movieStarted || !m_document) return;
  MediaTime last, start;
  QUrl url;
  {
    std::lock_guard lock(m_stateMutex);
    last = m_lastSampleTime;
    start = m_movieStartTime;
    url = m_currentSaveURL;
  }
  if (last - start > Recorder_PlayableSpan(m_document->segmentSeconds())) {
    m_sendNotification = false;
    const void* owner = m_owner;
    Dispatch_MainAsync([owner, url] {
      NotificationCenter::defaultCenter().post(kZRNMovieStartedNotificationName, owner,
                                               QVariantMap{{QStringLiteral("targetURL"), url}});
    });
  }
}

void ZRNRecorder::appendVideoSampleBuffer(const SampleBufferRef& sampleBuffer) {
  if (!m_isRecording) return;
  if (!U_WriterStillWriting(videoWriter())) return;
  U_CheckMovieStarted();
  appendSampleBuffer(sampleBuffer, MediaType::Video);
}

void ZRNRecorder::newVideoSample(const SampleBufferRef& sampleBuffer) {
  if (!m_isRecording || !sampleBuffer) return;
  auto writer = videoWriter();
  if (!U_WriterStillWriting(writer)) return;
  U_CheckMovieStarted();
  auto input = videoWriterInput();
  if (input && input->isReadyForMoreMediaData()) {
    if (input->appendSampleBuffer(sampleBuffer)) {
      std::lock_guard lock(m_stateMutex);
      m_lastVideoSampleTime = sampleBuffer->presentationTimeStamp();
    } else {
      ZRNLogger_Log("Unable to write from video input");
      ZRNLogger_Log("Video appendBuffer Status: %ld, Err: %@", writer ? static_cast<long>(writer->status()) : 0L,
                    writer ? writer->error().description() : QString());
    }
  }
}

void ZRNRecorder::appendSampleBuffer(const SampleBufferRef& sampleBuffer, MediaType mediaType) {
  if (!sampleBuffer) {
    ZRNLogger_Log("Warning: NULL %@ sample buffer", MediaType_Name(mediaType));
    throw std::invalid_argument("NULL sample buffer");
  }
  m_assetWritingQueue->async([this, self = weak_from_this().lock(), sampleBuffer, mediaType] {
    const MediaTime pts = sampleBuffer->presentationTimeStamp();
    std::shared_ptr<AssetWriter> writer;
    std::shared_ptr<AssetWriterInput> input;
    {
      std::lock_guard lock(m_stateMutex);
      m_lastSampleTime = pts;
      writer = m_videoWriter;
      input = mediaType == MediaType::Video ? m_videoWriterInput : m_audioWriterInput;
    }
    // The movie starts with its first written picture: sound that comes before it is dropped, and a
    // picture the writer cannot take yet starts nothing.
    const bool video = mediaType == MediaType::Video;
    if (!video && !m_movieStarted) return;
    const bool ready = input && input->isReadyForMoreMediaData();
    if (ready && !m_writingHasStarted && writer) {
      writer->startSessionAtSourceTime(pts);
      m_writingHasStarted = true;
    }
    if (ready) {
      if (input->appendSampleBuffer(sampleBuffer)) {
        if (!m_movieStarted) {
          std::lock_guard lock(m_stateMutex);
          m_movieStartTime = pts;
          m_movieStarted = true;
        }
      } else {
        ZRNLogger_Log("ATT: appendSampleBuffer error: %@", writer ? writer->error().description() : QString());
      }
    } else {
      ZRNLogger_Log("%@ input not ready for more media data, dropping buffer", MediaType_Name(mediaType));
    }
  });
}

void ZRNRecorder::U_StopCapturing(bool keep, std::function<void(bool)> mainQueueStep) {
  m_sessionQueue->async([this, self = weak_from_this().lock(), keep, step = std::move(mainQueueStep)] {
    m_isRecording = false;
    // Appends already queued go out before the inputs are finished, so the stop loses no frame.
    m_assetWritingQueue->sync([] {});
    const bool captureAudio = m_document && m_document->captureAudio();
    const bool hd60 = m_document && isHD60SPlus(m_document->cameraName());
    auto writer = videoWriter();
    auto videoInput = videoWriterInput();
    auto audioInput = audioWriterInput();
    if ((captureAudio || hd60) && audioInput) audioInput->markAsFinished();
    if (videoInput) videoInput->markAsFinished();
    const bool writing = writer && writer->status() == AssetWriterStatusWriting;
    if (writing) writer->endSessionAtSourceTime(lastSampleTime());
    std::shared_ptr<CaptureVideoDataOutput> videoOutput;
    std::shared_ptr<CaptureAudioDataOutput> audioOutput;
    {
      std::lock_guard lock(m_stateMutex);
      videoOutput = m_captureVideoDataOutput;
      audioOutput = m_captureAudioDataOutput;
    }
    // Outside the lock: removing a delegate waits for a delivery under way, which may need the lock.
    if (videoOutput) videoOutput->setSampleBufferDelegate(nullptr, nullptr);
    if (captureAudio && audioOutput) audioOutput->setSampleBufferDelegate(nullptr, nullptr);
    auto finish = [step, keep] {
      if (step) Dispatch_MainAsync([step, keep] { step(keep); });
    };
    if (writing) {
      writer->finishWritingWithCompletionHandler(finish);
    } else {
      // A writer that failed or never started has nothing to finish, but the stop must still complete.
      ZRNLogger_Log("ATT: stop with the writer not writing (status %ld)", writer ? static_cast<long>(writer->status()) : -1L);
      finish();
    }
  });
}

void ZRNRecorder::cameraIsReady() {
  // A session that starts while a recording runs (another one of the process) takes nothing from it.
  if (m_isRecording.load()) return;
  std::lock_guard lock(m_stateMutex);
  m_videoWriter.reset();
  m_videoWriterInput.reset();
  m_audioWriterInput.reset();
}
