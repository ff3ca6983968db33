#include "capture/ZRNRecorder.h"

#include "session/VLDocument.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/capture/VirtualDevices.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <mutex>
#include <vector>

using namespace testmedia;

namespace {

// Quiet for every test of the media test program.
const int kQuietFFmpeg = [] {
  av_log_set_level(AV_LOG_ERROR);
  return 0;
}();

// The recorder, noting which video buffers reach it.
class WatchedRecorder : public ZRNRecorder {
 public:
  using ZRNRecorder::ZRNRecorder;
  void captureOutput(CaptureOutput* output, const SampleBufferRef& buffer) override {
    if (output && output->mediaType() == MediaType::Video && buffer) {
      std::lock_guard lock(mutex);
      videoTimes.push_back(buffer->presentationTimeStamp());
    }
    ZRNRecorder::captureOutput(output, buffer);
  }
  std::mutex mutex;
  std::vector<MediaTime> videoTimes;
};

struct RecordingSpec {
  QString fileType, extension;
  double audioRate;
};

class ZRNRecorderMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    VirtualDevices_Plug(true, true);
    camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
    microphone = CaptureDevice::deviceWithUniqueID(kVirtualMicrophoneUID);
    ASSERT_TRUE(camera && microphone);
    QString error;
    ASSERT_TRUE(MediaTest_ConfigureCamera(camera, QSize(1280, 720), kPixelFormat_2vuy, MediaTimeMake(1, 30), &error));
    session = std::make_shared<CaptureSession>();
    session->beginConfiguration();
    session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
    session->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
    session->commitConfiguration();
    session->startRunning();
    ASSERT_TRUE(session->isRunning()) << session->lastErrorText().toStdString();
  }
  void TearDown() override {
    if (session) session->stopRunning();
    VirtualDevices_Unplug(true, true);
  }

  std::shared_ptr<VLDocument> makeDocument(const RecordingSpec& spec, const QString& package) {
    auto doc = std::make_shared<VLDocument>();
    doc->setCaptureFileType(spec.fileType);
    doc->setVideoCodecType(QString::fromLatin1(AVVideoCodecTypeH264));
    doc->setFrameSize(QSizeF(1280, 720));
    doc->setVideoFPS(30);
    doc->setSegmentKBPS(2000);
    doc->setSegmentSeconds(2.9f);  // a fragment interval of 2 s
    doc->setCaptureAudio(true);
    doc->setAudioCaptureRate(spec.audioRate);
    doc->setCameraName(QString::fromLatin1(kVirtualCameraName));
    doc->setDocURL(QUrl::fromLocalFile(package));
    return doc;
  }

  CaptureDeviceRef camera;
  CaptureDeviceRef microphone;
  CaptureSessionRef session;
  std::shared_ptr<DispatchQueue> sessionQueue = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.session.queue"));
  std::shared_ptr<DispatchQueue> writingQueue = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.assetWriting.queue"));
};

}  // namespace

TEST_F(ZRNRecorderMedia, RecordsOneFragmentedMovieAndAnnouncesItOnceWhenPlayable) {
  const RecordingSpec specs[] = {
      {QString::fromLatin1(kAVFileTypeMPEG4), QStringLiteral("mp4"), 48000},
      {QString::fromLatin1(kAVFileTypeQuickTimeMovie), QStringLiteral("mov"), 44100},
  };
  for (const RecordingSpec& spec : specs) {
    SCOPED_TRACE(spec.extension.toStdString());
    const QString package = Test_MakeTempDir(QStringLiteral("rec")) + QStringLiteral("/Match.vlvidcapb");
    QDir().mkpath(package);
    int owner = 0;
    WatchedRecorder recorder(&owner, sessionQueue, writingQueue);
    recorder.setDocument(makeDocument(spec, package));
    recorder.setCaptureSession(session);

    std::vector<QVariantMap> started;
    std::vector<MediaTime> spanAtNotice;
    auto& center = NotificationCenter::defaultCenter();
    NotificationObservation obs(center, center.addObserver(kZRNMovieStartedNotificationName, &owner, [&](const Notification& n) {
      EXPECT_TRUE(Dispatch_IsMainThread());
      started.push_back(n.userInfo);
      spanAtNotice.push_back(recorder.lastSampleTime() - recorder.movieStartTime());
    }));
    sessionQueue->async([&] {
      recorder.resetForNewRecording();
      recorder.startWriterInPackage(QUrl::fromLocalFile(package), spec.extension);
    });
    ASSERT_TRUE(Test_WaitUntil(
        [&] { return recorder.movieStarted() && MediaTimeGetSeconds(recorder.lastSampleTime() - recorder.movieStartTime()) >= 6.0; },
        20000));
    std::atomic<int> stops{0};
    bool keptFlag = false;
    recorder.U_StopCapturing(true, [&](bool keep) {
      EXPECT_TRUE(Dispatch_IsMainThread());
      keptFlag = keep;
      ++stops;
    });
    ASSERT_TRUE(Test_WaitUntil([&] { return stops.load() == 1; }, 20000));
    EXPECT_TRUE(keptFlag);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(recorder.videoWriter()->status(), AssetWriterStatusCompleted);

    // Announced once, with the movie's URL, after more than 1.5 fragment lengths (2.9 x 1.5 = 4.35,
    // whole seconds: 4 s) were written. The span is read when the main queue delivers the notice, which
    // on a busy machine may be well after it was posted, so only the lower bound is exact.
    // The stop's step came through the main queue after any notice posted before it.
    ASSERT_EQ(started.size(), 1u);
    const QString moviePath = package + QStringLiteral("/VLCapturedMovie.") + spec.extension;
    EXPECT_EQ(started[0].value("targetURL").toUrl(), QUrl::fromLocalFile(moviePath));
    EXPECT_GT(spanAtNotice[0], MediaTimeMake(4, 1));

    // The first video buffer only told the format: the movie starts at a later one (the second, unless
    // the writer was still being opened when it came).
    {
      std::lock_guard lock(recorder.mutex);
      ASSERT_GE(recorder.videoTimes.size(), 2u);
      const auto& times = recorder.videoTimes;
      EXPECT_NE(recorder.movieStartTime(), times[0]);
      EXPECT_NE(std::find(times.begin() + 1, times.end(), recorder.movieStartTime()), times.end());
    }

    const QJsonObject probe = ffprobe(moviePath);
    const QJsonObject v = streamOfType(probe, "video");
    EXPECT_EQ(v.value("codec_name").toString(), "h264");
    EXPECT_EQ(v.value("width").toInt(), 1280);
    EXPECT_EQ(v.value("height").toInt(), 720);
    EXPECT_NEAR(v.value("start_time").toString().toDouble(), 0.0, 0.001);
    const QJsonObject a = streamOfType(probe, "audio");
    EXPECT_EQ(a.value("codec_name").toString(), "aac");
    EXPECT_EQ(a.value("sample_rate").toString().toInt(), int(spec.audioRate));
    EXPECT_EQ(a.value("channels").toInt(), 2);
    EXPECT_NEAR(formatDuration(probe), 6.0, 0.5);
    EXPECT_GE(topLevelBoxes(moviePath).count("moof"), 2);
    EXPECT_GE(decodableVideoFrames(moviePath), 120);
  }
}

TEST_F(ZRNRecorderMedia, StopReachesItsMainQueueStepWhenTheWriterNeverStarted) {
  const RecordingSpec spec{QString::fromLatin1(kAVFileTypeMPEG4), QStringLiteral("mp4"), 48000};
  const QString missing = Test_MakeTempDir(QStringLiteral("rec")) + QStringLiteral("/gone/Match.vlvidcapb");
  int owner = 0;
  ZRNRecorder recorder(&owner, sessionQueue, writingQueue);
  recorder.setDocument(makeDocument(spec, missing));
  recorder.setCaptureSession(session);
  QString failure;
  recorder.setWriterFailureHandler([&](const QString& reason) { failure = reason; });
  sessionQueue->async([&] {
    recorder.resetForNewRecording();
    recorder.startWriterInPackage(QUrl::fromLocalFile(missing), spec.extension);
  });
  // The failed writer drops every video buffer and tells the window why.
  ASSERT_TRUE(Test_WaitUntil([&] { return !failure.isEmpty(); }, 10000));
  EXPECT_TRUE(failure.contains(QStringLiteral("No such file or directory"))) << failure.toStdString();
  EXPECT_EQ(recorder.videoWriter()->status(), AssetWriterStatusFailed);
  std::atomic<int> stops{0};
  recorder.U_StopCapturing(true, [&](bool keep) {
    EXPECT_TRUE(keep);
    ++stops;
  });
  EXPECT_TRUE(Test_WaitUntil([&] { return stops.load() == 1; }, 10000));
  EXPECT_FALSE(recorder.isRecording());
}

// Pictures reach the recorder before its writer has started (the outputs deliver as soon as they are
// added): such a picture cannot be written, so it starts nothing, and sound before the first written
// picture is dropped. The movie then starts with that picture, and its sound never starts before it.
TEST_F(ZRNRecorderMedia, TheMovieStartsWithItsFirstWrittenPicture) {
  const RecordingSpec spec{QString::fromLatin1(kAVFileTypeMPEG4), QStringLiteral("mp4"), 48000};
  const QString package = Test_MakeTempDir(QStringLiteral("rec")) + QStringLiteral("/Match.vlvidcapb");
  QDir().mkpath(package);
  const QString moviePath = package + QStringLiteral("/VLCapturedMovie.mp4");
  int owner = 0;
  ZRNRecorder recorder(&owner, sessionQueue, writingQueue);
  recorder.setDocument(makeDocument(spec, package));
  sessionQueue->sync([&] {
    recorder.resetForNewRecording();
    recorder.setupWriterAndInputsForURL(QUrl::fromLocalFile(moviePath));
  });
  ASSERT_TRUE(recorder.videoWriter());

  auto samples = DispatchQueue::create(QStringLiteral("org.velmora.Velmora.samplesBuffer.queue"));
  CaptureVideoDataOutput videoOutput;
  CaptureAudioDataOutput audioOutput;
  const MediaTime base = MediaTimeMake(1000, 1);
  int64_t audioSample = 0;
  // Each picture comes with a sound buffer that begins half a millisecond before it and arrives first.
  auto deliver = [&](int frame) {
    const MediaTime pts = at(base, frame / 30.0);
    samples->sync([&] {
      recorder.captureOutput(&audioOutput, makeAudioBuffer(48000, 2, 1600, audioSample, at(pts, -0.0005)));
      recorder.captureOutput(&videoOutput, makeVideoBuffer(1280, 720, frame, pts));
    });
    audioSample += 1600;
    writingQueue->sync([] {});
  };
  deliver(0);  // tells the format
  deliver(1);  // the writer has not started: not written
  ASSERT_TRUE(recorder.videoWriter()->startWriting());
  for (int frame = 2; frame < 60; ++frame) deliver(frame);
  EXPECT_TRUE(recorder.movieStarted());
  EXPECT_EQ(recorder.movieStartTime(), at(base, 2 / 30.0));

  std::atomic<int> stops{0};
  recorder.U_StopCapturing(true, [&](bool) { ++stops; });
  ASSERT_TRUE(Test_WaitUntil([&] { return stops.load() == 1; }, 20000));
  const QJsonObject probe = ffprobe(moviePath);
  EXPECT_NEAR(streamOfType(probe, "video").value("start_time").toString().toDouble(), 0.0, 0.001);
  EXPECT_GE(streamOfType(probe, "audio").value("start_time").toString().toDouble(), 0.0);
}
