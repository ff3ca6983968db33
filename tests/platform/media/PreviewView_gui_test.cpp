#include "platform/media/view/PreviewView.h"

#include "platform/media/capture/CaptureSession.h"
#include "platform/media/capture/VirtualDevices.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>

// The camera's pictures come as large as the view shows them and are painted as they come: one
// conversion, no second scaling (which cost as much as the conversion at 1080p).
TEST(CaptureVideoPreviewView, PicturesComeAsLargeAsShownAndArePaintedUnscaled) {
  VirtualDevices_Plug(true, false);
  CaptureDeviceRef camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  ASSERT_TRUE(camera);
  QString error;
  ASSERT_TRUE(MediaTest_ConfigureCamera(camera, QSize(1280, 720), kPixelFormat_420v, MediaTimeMake(1000, 30000), &error))
      << error.toStdString();
  auto session = std::make_shared<CaptureSession>();
  auto input = CaptureDeviceInput::deviceInputWithDevice(camera, &error);
  ASSERT_TRUE(input);
  session->beginConfiguration();
  session->addInput(input);
  session->commitConfiguration();
  session->startRunning();
  ASSERT_TRUE(session->isRunning()) << session->lastErrorText().toStdString();

  CaptureVideoPreviewView view;
  view.setSession(session);
  view.show();
  const struct {
    QSize view;
    QSize shown;
  } cases[] = {{QSize(640, 360), QSize(640, 360)}, {QSize(400, 400), QSize(400, 225)}, {QSize(1000, 300), QSize(533, 300)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.view.width());
    view.resize(c.view);
    auto near = [&](const QSize& s) {
      return std::abs(s.width() - c.shown.width()) <= 2 && std::abs(s.height() - c.shown.height()) <= 2;
    };
    ASSERT_TRUE(Test_WaitUntil([&] { return near(view.currentFrame().size()); }, 10000)) << view.currentFrame().width();
    // Held still (the view keeps its last picture without a session) while it is looked at.
    view.setSession(nullptr);
    const QImage frame = view.currentFrame();
    const QImage painted = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint at((c.view.width() - frame.width()) / 2, (c.view.height() - frame.height()) / 2);
    const QImage expected = frame.convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < frame.height(); ++y)
      for (int x = 0; x < frame.width(); ++x) differing += painted.pixel(at + QPoint(x, y)) != expected.pixel(x, y);
    EXPECT_EQ(differing, 0) << frame.width() << "x" << frame.height() << " painted " << painted.width() << "x" << painted.height();
    // The bars beside the picture are the background's.
    if (at != QPoint(0, 0)) {
      EXPECT_EQ(QColor(painted.pixel(0, 0)), QColor(Qt::black));
    }
    view.setSession(session);
  }
  view.setSession(nullptr);
  session->stopRunning();
  VirtualDevices_Unplug(true, false);
}
