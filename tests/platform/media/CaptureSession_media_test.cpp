#include "platform/foundation/NotificationCenter.h"
#include "platform/media/CaptureSession.h"
#include "platform/media/PreviewView.h"
#include "platform/media/VirtualDevices.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <mutex>
#include <vector>

namespace {

// Collects what a data output delivers, noting the queue it was delivered on.
class Collector : public CaptureSampleBufferDelegate {
 public:
  void captureOutput(CaptureOutput*, const SampleBufferRef& buffer) override {
    std::lock_guard lock(mutex);
    buffers.push_back(buffer);
    labels.push_back(DispatchQueue::currentLabel());
  }
  size_t count() {
    std::lock_guard lock(mutex);
    return buffers.size();
  }
  std::mutex mutex;
  std::vector<SampleBufferRef> buffers;
  std::vector<QString> labels;
};

class CaptureSessionMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    VirtualDevices_Plug(true, true);
    camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
    microphone = CaptureDevice::deviceWithUniqueID(kVirtualMicrophoneUID);
    ASSERT_TRUE(camera && microphone);
  }
  void TearDown() override { VirtualDevices_Unplug(true, true); }

  // Picks the camera format of that size and subtype and fixes the rate, as a configured camera would be.
  void configureCamera(QSize size, uint32_t subtype, double rate) {
    QString error;
    ASSERT_TRUE(MediaTest_ConfigureCamera(camera, size, subtype, MediaTimeMake(1000, int32_t(rate * 1000)), &error))
        << error.toStdString();
  }

  CaptureDeviceRef camera;
  CaptureDeviceRef microphone;
};

double Seconds(const MediaTime& t) { return MediaTimeGetSeconds(t); }

}  // namespace

TEST_F(CaptureSessionMedia, VirtualCameraAndMicrophoneDeliverPacedMonotonicBuffers) {
  configureCamera(QSize(1280, 720), kPixelFormat_2vuy, 30);
  auto session = std::make_shared<CaptureSession>();
  QString error;
  auto videoIn = CaptureDeviceInput::deviceInputWithDevice(camera, &error);
  auto audioIn = CaptureDeviceInput::deviceInputWithDevice(microphone, &error);
  ASSERT_TRUE(videoIn && audioIn);
  session->beginConfiguration();
  ASSERT_TRUE(session->canAddInput(videoIn));
  session->addInput(videoIn);
  ASSERT_TRUE(session->canAddInput(audioIn));
  session->addInput(audioIn);
  // A second camera input of the same kind is refused.
  EXPECT_FALSE(session->canAddInput(std::make_shared<CaptureDeviceInput>(camera)));

  auto queue = DispatchQueue::create(QStringLiteral("test.samples"));
  Collector video, audio;
  auto videoOut = std::make_shared<CaptureVideoDataOutput>();
  videoOut->setVideoSettings(AV_PIX_FMT_BGRA, QSize(640, 360));
  videoOut->setAlwaysDiscardsLateVideoFrames(false);
  videoOut->setSampleBufferDelegate(&video, queue);
  auto audioOut = std::make_shared<CaptureAudioDataOutput>();
  audioOut->setAudioSettings(CaptureAudioSampleFormat::Float32, 48000, 2);
  audioOut->setSampleBufferDelegate(&audio, queue);
  session->addOutput(videoOut);
  session->addOutput(audioOut);
  session->commitConfiguration();

  std::atomic<int> started{0};
  NotificationObservation obs(NotificationCenter::defaultCenter(),
                              NotificationCenter::defaultCenter().addObserver(
                                  kCaptureSessionDidStartRunningNotification, session.get(),
                                  [&](const Notification&) { started.fetch_add(1); }));
  QElapsedTimer wall;
  wall.start();
  session->startRunning();
  ASSERT_TRUE(session->isRunning()) << session->lastErrorText().toStdString();
  EXPECT_EQ(started.load(), 1);
  ASSERT_TRUE(Test_WaitUntil([&] { return video.count() >= 60; }, 15000));
  session->stopRunning();
  const double elapsed = wall.elapsed() / 1000.0;
  queue->sync([] {});
  videoOut->setSampleBufferDelegate(nullptr, nullptr);
  audioOut->setSampleBufferDelegate(nullptr, nullptr);

  std::lock_guard lv(video.mutex), la(audio.mutex);
  ASSERT_GE(video.buffers.size(), 60u);
  // Paced in real time: 60 frames at 30 fps cannot arrive much faster than two seconds.
  const double span = Seconds(video.buffers.back()->presentationTimeStamp()) -
                      Seconds(video.buffers.front()->presentationTimeStamp());
  EXPECT_GT(span, 1.5);
  EXPECT_LT(video.buffers.size(), size_t(elapsed * 30 * 1.5 + 10));
  for (size_t i = 0; i < video.buffers.size(); ++i) {
    const auto& b = video.buffers[i];
    EXPECT_EQ(b->mediaType(), MediaType::Video);
    EXPECT_EQ(b->dimensions(), QSize(640, 360));
    EXPECT_EQ(b->pixelFormat(), AV_PIX_FMT_BGRA);
    EXPECT_TRUE(b->dataIsReady());
    EXPECT_EQ(video.labels[i], QStringLiteral("test.samples"));
    if (i > 0) {
      EXPECT_GT(b->presentationTimeStamp(), video.buffers[i - 1]->presentationTimeStamp());
    }
  }
  ASSERT_FALSE(audio.buffers.empty());
  int64_t samples = 0;
  for (size_t i = 0; i < audio.buffers.size(); ++i) {
    const auto& b = audio.buffers[i];
    EXPECT_EQ(b->sampleRate(), 48000);
    EXPECT_EQ(b->channelCount(), 2);
    EXPECT_EQ(b->frame()->format, AV_SAMPLE_FMT_FLT);
    if (i > 0) {
      EXPECT_GT(b->presentationTimeStamp(), audio.buffers[i - 1]->presentationTimeStamp());
    }
    samples += b->numSamples();
  }
  // About as many seconds of sound as of picture, and both on the same clock.
  const double audioSeconds = double(samples) / 48000.0;
  EXPECT_GT(audioSeconds, span * 0.7);
  EXPECT_LT(audioSeconds, elapsed * 1.5 + 0.5);
  const double offset = Seconds(audio.buffers.front()->presentationTimeStamp()) -
                        Seconds(video.buffers.front()->presentationTimeStamp());
  EXPECT_LT(std::abs(offset), 1.0);
}

TEST_F(CaptureSessionMedia, NativeFormatAndDeviceRateArePassedThrough) {
  configureCamera(QSize(1280, 720), kPixelFormat_420v, 50);
  auto session = std::make_shared<CaptureSession>();
  QString error;
  session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
  auto queue = DispatchQueue::create(QStringLiteral("test.native"));
  Collector video;
  auto out = std::make_shared<CaptureVideoDataOutput>();
  out->setVideoSettings(-1, QSize());
  out->setAlwaysDiscardsLateVideoFrames(false);
  out->setSampleBufferDelegate(&video, queue);
  session->addOutput(out);
  session->startRunning();
  ASSERT_TRUE(session->isRunning()) << session->lastErrorText().toStdString();
  ASSERT_TRUE(Test_WaitUntil([&] { return video.count() >= 10; }, 10000));
  session->stopRunning();
  out->setSampleBufferDelegate(nullptr, nullptr);
  std::lock_guard lock(video.mutex);
  EXPECT_EQ(video.buffers.front()->dimensions(), QSize(1280, 720));
  EXPECT_EQ(video.buffers.front()->pixelFormat(), AV_PIX_FMT_NV12);
  EXPECT_NEAR(Seconds(video.buffers.front()->duration()), 1.0 / 50, 1e-6);
}

TEST_F(CaptureSessionMedia, BusyAndVanishedDevicesGiveErrorsWithText) {
  auto first = std::make_shared<CaptureSession>();
  auto second = std::make_shared<CaptureSession>();
  QString error;
  first->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  second->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  std::vector<QString> errors;
  std::mutex m;
  NotificationObservation obs(NotificationCenter::defaultCenter(),
                              NotificationCenter::defaultCenter().addObserver(
                                  kCaptureSessionRuntimeErrorNotification, nullptr, [&](const Notification& n) {
                                    std::lock_guard lock(m);
                                    errors.push_back(n.userInfo.value("error").toString());
                                  }));
  first->startRunning();
  ASSERT_TRUE(first->isRunning());
  second->startRunning();
  EXPECT_FALSE(second->isRunning());
  EXPECT_TRUE(second->lastErrorText().contains(kVirtualMicrophoneName));
  {
    std::lock_guard lock(m);
    ASSERT_EQ(errors.size(), 1u);
  }
  first->stopRunning();
  // All or nothing: a session whose second input is busy does not run on its first.
  auto both = std::make_shared<CaptureSession>();
  both->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
  both->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  first->startRunning();
  both->startRunning();
  EXPECT_FALSE(both->isRunning());
  first->stopRunning();
  both->startRunning();
  EXPECT_TRUE(both->isRunning());
  both->stopRunning();
  {
    std::lock_guard lock(m);
    errors.clear();
  }

  // Unplugged while running: the reader stops with an interruption and an error naming the device.
  std::atomic<bool> interrupted{false};
  NotificationObservation obs2(NotificationCenter::defaultCenter(),
                               NotificationCenter::defaultCenter().addObserver(
                                   kCaptureSessionWasInterruptedNotification, first.get(),
                                   [&](const Notification&) { interrupted = true; }));
  first->startRunning();
  ASSERT_TRUE(first->isRunning());
  VirtualDevices_Unplug(false, true);
  EXPECT_TRUE(Test_WaitUntil([&] { return interrupted.load(); }, 5000));
  EXPECT_TRUE(first->lastErrorText().contains("disconnected"));
  first->stopRunning();
  // A device that has gone cannot become an input.
  EXPECT_EQ(CaptureDeviceInput::deviceInputWithDevice(microphone, &error), nullptr);
  EXPECT_FALSE(error.isEmpty());
}

TEST_F(CaptureSessionMedia, PreviewViewShowsChangingFrames) {
  configureCamera(QSize(1280, 720), kPixelFormat_2vuy, 30);
  auto session = std::make_shared<CaptureSession>();
  QString error;
  session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
  CaptureVideoPreviewView view;
  view.resize(320, 180);
  view.setSession(session);
  session->startRunning();
  ASSERT_TRUE(Test_WaitUntil([&] { return view.framesReceived() >= 2; }, 10000));
  const QImage first = view.currentFrame();
  ASSERT_TRUE(Test_WaitUntil([&] { return view.framesReceived() >= 20; }, 10000));
  const QImage later = view.currentFrame();
  session->stopRunning();
  view.setSession(nullptr);
  ASSERT_FALSE(first.isNull());
  EXPECT_EQ(first.width(), 1280);
  // Not a black picture, and the test pattern moves.
  EXPECT_NE(first.pixelColor(first.width() / 2, first.height() / 3), QColor(Qt::black));
  EXPECT_NE(first, later);
  const QPixmap grabbed = view.grab();
  EXPECT_NE(grabbed.toImage().pixelColor(160, 60), QColor(Qt::black));
}

namespace {

// A consumer slower than the camera: each frame takes it three frame durations.
class SlowConsumer : public CaptureSampleBufferDelegate {
 public:
  void captureOutput(CaptureOutput*, const SampleBufferRef&) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    delivered.fetch_add(1);
  }
  void captureOutputDidDrop(CaptureOutput*, const MediaTime&) override { dropped.fetch_add(1); }
  std::atomic<int> delivered{0};
  std::atomic<int> dropped{0};
};

}  // namespace

TEST_F(CaptureSessionMedia, LateFramesAreDroppedOrKeptAsTheOutputSays) {
  configureCamera(QSize(1280, 720), kPixelFormat_2vuy, 30);
  for (bool discard : {true, false}) {
    SCOPED_TRACE(discard);
    auto session = std::make_shared<CaptureSession>();
    QString error;
    session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
    auto queue = DispatchQueue::create(QStringLiteral("test.slow"));
    SlowConsumer consumer;
    auto out = std::make_shared<CaptureVideoDataOutput>();
    out->setVideoSettings(AV_PIX_FMT_BGRA, QSize(320, 180));
    out->setAlwaysDiscardsLateVideoFrames(discard);
    out->setSampleBufferDelegate(&consumer, queue);
    session->addOutput(out);
    session->startRunning();
    ASSERT_TRUE(Test_WaitUntil([&] { return consumer.delivered.load() >= 5; }, 15000));
    session->stopRunning();
    if (discard) {
      // At most one frame waited for the consumer; every other one was reported dropped.
      queue->sync([] {});
      EXPECT_GT(consumer.dropped.load(), 0);
      out->setSampleBufferDelegate(nullptr, nullptr);
      continue;
    }
    // Kept frames pile up behind the slow consumer. After the delegate is taken away nothing more
    // reaches it, not even what was still queued.
    out->setSampleBufferDelegate(nullptr, nullptr);
    const int delivered = consumer.delivered.load();
    queue->sync([] {});
    EXPECT_EQ(consumer.delivered.load(), delivered);
    EXPECT_EQ(consumer.dropped.load(), 0);
  }
}
