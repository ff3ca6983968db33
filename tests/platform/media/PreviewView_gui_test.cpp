#include "platform/media/view/PreviewView.h"

#include "platform/media/capture/CaptureSession.h"
#include "platform/media/capture/VirtualDevices.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// A running session of the virtual camera at 1280x720 in the given format.
CaptureSessionRef StartCamera(uint32_t pixelFormat) {
  VirtualDevices_Plug(true, false);
  CaptureDeviceRef camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  QString error;
  if (!camera || !MediaTest_ConfigureCamera(camera, QSize(1280, 720), pixelFormat, MediaTimeMake(1000, 30000), &error)) {
    ADD_FAILURE() << "no camera: " << error.toStdString();
    return nullptr;
  }
  auto session = std::make_shared<CaptureSession>();
  auto input = CaptureDeviceInput::deviceInputWithDevice(camera, &error);
  if (!input) {
    ADD_FAILURE() << error.toStdString();
    return nullptr;
  }
  session->beginConfiguration();
  session->addInput(input);
  session->commitConfiguration();
  session->startRunning();
  EXPECT_TRUE(session->isRunning()) << session->lastErrorText().toStdString();
  return session;
}

int ChannelDifference(QRgb a, QRgb b) {
  return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

}  // namespace

// The camera's pictures come as large as the view shows them and are painted as they come: one
// conversion, no second scaling (which cost as much as the conversion at 1080p).
TEST(CaptureVideoPreviewView, PicturesComeAsLargeAsShownAndArePaintedUnscaled) {
  CaptureSessionRef session = StartCamera(kPixelFormat_420v);
  ASSERT_TRUE(session && session->isRunning());

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

// A camera's picture (4:2:0 or packed 4:2:2) is converted straight into the window's own image. What the
// window shows is the picture as its image conversion makes it, and not one pixel of the widgets right
// of it and below it changes, at picture widths that are multiples of nothing (the converter writes in
// blocks).
TEST(CaptureVideoPreviewView, PicturesAreConvertedIntoTheWindowWithoutTouchingItsNeighbours) {
  for (const uint32_t format : {kPixelFormat_420v, kPixelFormat_2vuy}) {
    SCOPED_TRACE(format);
    CaptureSessionRef session = StartCamera(format);
    ASSERT_TRUE(session && session->isRunning());
    for (const QSize viewSize : {QSize(651, 367), QSize(333, 188), QSize(1000, 563), QSize(350, 400)}) {
      SCOPED_TRACE(viewSize.width());
      QWidget window;
      window.setAutoFillBackground(true);
      QPalette magenta = window.palette();
      magenta.setColor(QPalette::Window, QColor(255, 0, 255));
      window.setPalette(magenta);
      auto* view = new CaptureVideoPreviewView(&window);
      view->setBackgroundColor(Qt::black);
      // The neighbours are the window's own background, right of the view and below it.
      view->setGeometry(0, 0, viewSize.width(), viewSize.height());
      window.resize(viewSize + QSize(40, 40));
      view->setSession(session);
      window.show();
      const int shownWidth = int(QSizeF(16, 9).scaled(QSizeF(viewSize), Qt::KeepAspectRatio).width());
      ASSERT_TRUE(Test_WaitUntil([&] { return view->framesReceived() > 3 && std::abs(view->currentFrame().width() - shownWidth) <= 2; }, 10000));
      view->setSession(nullptr);
      const int inPlaceBefore = view->framesPaintedInPlace();
      view->repaint();
      EXPECT_GT(view->framesPaintedInPlace(), inPlaceBefore);
      const QImage frame = view->currentFrame().convertToFormat(QImage::Format_RGB32);
      const QImage shown = window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
      ASSERT_GE(shown.width(), viewSize.width() + 40);
      const QPoint at((viewSize.width() - frame.width()) / 2, (viewSize.height() - frame.height()) / 2);
      int worst = 0, neighboursTouched = 0;
      for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) worst = std::max(worst, ChannelDifference(shown.pixel(at + QPoint(x, y)), frame.pixel(x, y)));
      for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
          if (x >= viewSize.width() || y >= viewSize.height()) neighboursTouched += shown.pixel(x, y) != qRgb(255, 0, 255);
      EXPECT_LE(worst, 2) << frame.width() << "x" << frame.height();
      EXPECT_EQ(neighboursTouched, 0);
    }
    session->stopRunning();
    VirtualDevices_Unplug(true, false);
  }
}
