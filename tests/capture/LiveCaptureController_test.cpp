#include "capture/LiveCaptureController.h"

#include "capture/CaptureTestSupport.h"
#include "platform/media/capture/VirtualDevices.h"

#include <gtest/gtest.h>

namespace {
using LiveCaptureControllerTest = CaptureDevicesFixture;
}  // namespace

TEST_F(LiveCaptureControllerTest, CameraConfigurationPicksTheHighestRangeAndSetsTheFrameDuration) {
  LiveCaptureController capture(nullptr);
  const auto camera = VirtualDevices_MakeCamera();
  struct Row {
    QSizeF size;
    float rate;
    bool configured;
    uint32_t subtype;
    int32_t timescale;
  };
  const std::vector<Row> rows = {
      // The rate is stored as a float, which holds 29.97 as 29.9699997: rounded, not truncated.
      {{1280, 720}, 29.97f, true, kPixelFormat_420v, 29970},
      {{1280, 720}, 59.94f, true, kPixelFormat_420v, 59940},
      {{1920, 1080}, 50, true, kPixelFormat_2vuy, 50000},
      {{1920, 1080}, 45, false, 0, 0},  // no range holds it: the preset's format stays
      {{640, 480}, 30, false, 0, 0},    // a refused format is never taken
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rate);
    // Through the preference, as the session build reads it.
    prefs->setCaptureFPS(row.rate);
    EXPECT_EQ(capture.configureCamera(camera, row.size, Prefs_Shared().captureFPS()), row.configured);
    if (!row.configured) {
      EXPECT_FALSE(camera->isLockedForConfiguration());
      continue;
    }
    EXPECT_EQ(camera->activeFormat()->mediaSubType, row.subtype);
    EXPECT_EQ(camera->activeVideoMinFrameDuration(), MediaTimeMake(1000, row.timescale));
    EXPECT_TRUE(camera->isLockedForConfiguration());
    camera->unlockForConfiguration();
  }
}
