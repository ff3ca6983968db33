#include "platform/foundation/NotificationCenter.h"
#include "platform/media/capture/CaptureSession.h"
#include "platform/media/capture/VirtualDevices.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"
#include "support/Watchdog.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <thread>
#include <mutex>
#include <vector>

namespace {

// Collects what a data output delivers, noting the queue it was delivered on; a slow one takes its time
// over each buffer, as a consumer slower than the camera would.
class Collector : public CaptureSampleBufferDelegate {
 public:
  explicit Collector(int delayMs = 0) : delayMs(delayMs) {}
  void captureOutput(CaptureOutput*, const SampleBufferRef& buffer) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard lock(mutex);
    buffers.push_back(buffer);
    labels.push_back(DispatchQueue::currentLabel());
  }
  void captureOutputDidDrop(CaptureOutput*, const MediaTime&) override { dropped.fetch_add(1); }
  size_t count() {
    std::lock_guard lock(mutex);
    return buffers.size();
  }
  const int delayMs;
  std::atomic<int> dropped{0};
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
  const struct {
    uint32_t subtype;
    int rate;
    int pixelFormat;  // asked of the output; -1: the camera's own
    QSize size, expectedSize;
    AVPixelFormat expectedFormat;
  } cases[] = {{kPixelFormat_2vuy, 30, AV_PIX_FMT_BGRA, QSize(640, 360), QSize(640, 360), AV_PIX_FMT_BGRA},
               {kPixelFormat_420v, 50, -1, QSize(), QSize(1280, 720), AV_PIX_FMT_NV12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    configureCamera(QSize(1280, 720), c.subtype, c.rate);
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
    videoOut->setVideoSettings(c.pixelFormat, c.size);
    videoOut->setAlwaysDiscardsLateVideoFrames(false);
    videoOut->setSampleBufferDelegate(&video, queue);
    auto audioOut = std::make_shared<CaptureAudioDataOutput>();
    audioOut->setAudioSettings(CaptureAudioSampleFormat::Float32, 48000, 2);
    audioOut->setSampleBufferDelegate(&audio, queue);
    session->addOutput(videoOut);
    session->addOutput(audioOut);
    session->commitConfiguration();
    std::atomic<int> started{0};
    auto& center = NotificationCenter::defaultCenter();
    NotificationObservation obs(center, center.addObserver(kCaptureSessionDidStartRunningNotification, session.get(),
                                                           [&](const Notification&) { ++started; }));
    QElapsedTimer wall;
    wall.start();
    session->startRunning();
    ASSERT_TRUE(session->isRunning()) << session->lastErrorText().toStdString();
    EXPECT_EQ(started.load(), 1);
    const size_t frames = 2 * c.rate;
    ASSERT_TRUE(Test_WaitUntil([&] { return video.count() >= frames; }, 15000));
    session->stopRunning();
    const double elapsed = wall.elapsed() / 1000.0;
    queue->sync([] {});
    videoOut->setSampleBufferDelegate(nullptr, nullptr);
    audioOut->setSampleBufferDelegate(nullptr, nullptr);

    std::lock_guard lv(video.mutex), la(audio.mutex);
    // Paced in real time: two seconds' worth of frames cannot arrive much faster than two seconds.
    const double span = Seconds(video.buffers.back()->presentationTimeStamp()) -
                        Seconds(video.buffers.front()->presentationTimeStamp());
    EXPECT_GT(span, 1.5);
    EXPECT_LT(video.buffers.size(), size_t(elapsed * c.rate * 1.5 + 10));
    EXPECT_NEAR(Seconds(video.buffers.front()->duration()), 1.0 / c.rate, 1e-6);
    for (size_t i = 0; i < video.buffers.size(); ++i) {
      const auto& b = video.buffers[i];
      EXPECT_EQ(b->dimensions(), c.expectedSize);
      EXPECT_EQ(b->pixelFormat(), c.expectedFormat);
      EXPECT_TRUE(b->dataIsReady());
      EXPECT_EQ(video.labels[i], QStringLiteral("test.samples"));
      EXPECT_TRUE(i == 0 || b->presentationTimeStamp() > video.buffers[i - 1]->presentationTimeStamp()) << i;
    }
    ASSERT_FALSE(audio.buffers.empty());
    int64_t samples = 0;
    for (size_t i = 0; i < audio.buffers.size(); ++i) {
      const auto& b = audio.buffers[i];
      EXPECT_EQ(b->sampleRate(), 48000);
      EXPECT_EQ(b->channelCount(), 2);
      EXPECT_EQ(b->frame()->format, AV_SAMPLE_FMT_FLT);
      EXPECT_TRUE(i == 0 || b->presentationTimeStamp() > audio.buffers[i - 1]->presentationTimeStamp()) << i;
      samples += b->numSamples();
    }
    // About as many seconds of sound as of picture, and both on the same clock.
    const double audioSeconds = double(samples) / 48000.0;
    EXPECT_GT(audioSeconds, span * 0.7);
    EXPECT_LT(audioSeconds, elapsed * 1.5 + 0.5);
    EXPECT_LT(std::abs(Seconds(audio.buffers.front()->presentationTimeStamp()) -
                       Seconds(video.buffers.front()->presentationTimeStamp())), 1.0);
  }
}

TEST_F(CaptureSessionMedia, BusyAndVanishedDevicesGiveErrorsWithText) {
  auto first = std::make_shared<CaptureSession>();
  auto second = std::make_shared<CaptureSession>();
  QString error;
  first->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  second->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  std::atomic<int> errors{0};
  std::atomic<bool> interrupted{false};
  auto& center = NotificationCenter::defaultCenter();
  NotificationObservation obs(center, center.addObserver(kCaptureSessionRuntimeErrorNotification, nullptr, [&](const Notification&) { ++errors; }));
  NotificationObservation obs2(center, center.addObserver(kCaptureSessionWasInterruptedNotification, first.get(),
                                                          [&](const Notification&) { interrupted = true; }));
  first->startRunning();
  ASSERT_TRUE(first->isRunning());
  second->startRunning();
  EXPECT_FALSE(second->isRunning());
  EXPECT_TRUE(second->lastErrorText().contains(kVirtualMicrophoneName));
  EXPECT_EQ(errors.load(), 1);
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

  // Unplugged while running: the reader stops with an interruption and an error naming the device.
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

// An observer on the reader's own thread drops the session when the microphone goes: the reader cannot join
// itself, so it finishes on what its thread holds (its error still reported) and gives the device up then.
TEST_F(CaptureSessionMedia, ASessionDroppedOnItsReadersThreadLetsTheReaderFinishWhole) {
  auto session = std::make_shared<CaptureSession>();
  const void* const sender = session.get();
  QString error;
  session->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  std::atomic<bool> dropped{false};
  std::atomic<int> errorsAfterDrop{0};
  auto& center = NotificationCenter::defaultCenter();
  NotificationObservation interrupted(center, center.addObserver(kCaptureSessionWasInterruptedNotification, sender,
                                                                 [&](const Notification&) {
                                                                   session.reset();
                                                                   dropped = true;
                                                                 }));
  NotificationObservation errors(center, center.addObserver(kCaptureSessionRuntimeErrorNotification, sender, [&](const Notification& note) {
    if (dropped.load() && note.userInfo.value(QStringLiteral("error")).toString().contains(QStringLiteral("disconnected")))
      ++errorsAfterDrop;
  }));
  session->startRunning();
  ASSERT_TRUE(session->isRunning());
  VirtualDevices_Unplug(false, true);
  ASSERT_TRUE(Test_WaitUntil([&] { return errorsAfterDrop.load() == 1; }, 5000));
  VirtualDevices_Plug(false, true);
  const CaptureDeviceRef again = CaptureDevice::deviceWithUniqueID(kVirtualMicrophoneUID);
  ASSERT_TRUE(again);
  auto next = std::make_shared<CaptureSession>();
  next->addInput(CaptureDeviceInput::deviceInputWithDevice(again, &error));
  EXPECT_TRUE(Test_WaitUntil([&] {
    next->startRunning();
    return next->isRunning();
  }, 5000)) << "the device stays held: " << next->lastErrorText().toStdString();
  next->stopRunning();
}

// Stopping a session on the main thread waits for its readers; one of them waits for the main thread in an
// observer of its own thread. The stop answers it (a deadlock without that, which the watchdog turns into
// a failed run).
TEST_F(CaptureSessionMedia, StoppingOnTheMainThreadAnswersAReaderWaitingForIt) {
  ASSERT_TRUE(Dispatch_IsMainThread());
  auto session = std::make_shared<CaptureSession>();
  QString error;
  session->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  std::latch inside(1);
  bool answeredOnMain = false;
  auto& center = NotificationCenter::defaultCenter();
  NotificationObservation interrupted(center, center.addObserver(kCaptureSessionWasInterruptedNotification, session.get(),
                                                                 [&](const Notification&) {
                                                                   inside.count_down();
                                                                   Dispatch_MainSync([&] { answeredOnMain = Dispatch_IsMainThread(); });
                                                                 }));
  session->startRunning();
  ASSERT_TRUE(session->isRunning());
  VirtualDevices_Unplug(false, true);
  inside.wait();
  {
    Watchdog watchdog("stopping a session whose reader waits for the main thread", std::chrono::seconds(5));
    session.reset();
  }
  EXPECT_TRUE(answeredOnMain);
}

TEST_F(CaptureSessionMedia, LateFramesAreDroppedOrKeptAsTheOutputSays) {
  configureCamera(QSize(1280, 720), kPixelFormat_2vuy, 30);
  for (bool discard : {true, false}) {
    SCOPED_TRACE(discard);
    auto session = std::make_shared<CaptureSession>();
    QString error;
    session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
    auto queue = DispatchQueue::create(QStringLiteral("test.slow"));
    Collector consumer(100);  // three frame durations for each frame
    auto out = std::make_shared<CaptureVideoDataOutput>();
    out->setVideoSettings(AV_PIX_FMT_BGRA, QSize(320, 180));
    out->setAlwaysDiscardsLateVideoFrames(discard);
    out->setSampleBufferDelegate(&consumer, queue);
    session->addOutput(out);
    session->startRunning();
    ASSERT_TRUE(Test_WaitUntil([&] { return consumer.count() >= 5; }, 15000));
    session->stopRunning();
    // Kept frames pile up behind the slow consumer; dropped ones are reported. After the delegate is taken
    // away nothing more reaches it, not even what was still queued.
    if (discard) queue->sync([] {});
    out->setSampleBufferDelegate(nullptr, nullptr);
    const size_t delivered = consumer.count();
    queue->sync([] {});
    EXPECT_EQ(consumer.count(), delivered);
    EXPECT_EQ(consumer.dropped.load() > 0, discard);
  }
}
