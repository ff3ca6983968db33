#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AudioDevices.h"
#include "platform/media/CaptureDevice.h"
#include "platform/media/CaptureReader.h"
#include "platform/media/V4L2Devices.h"
#include "platform/media/VirtualDevices.h"

#include <QDir>

#include <gtest/gtest.h>

#include <linux/videodev2.h>

namespace {

QList<double> Rates(const CaptureDeviceFormat& f) {
  QList<double> r;
  for (const auto& range : f.videoSupportedFrameRateRanges) r << range.minFrameRate << range.maxFrameRate;
  return r;
}

struct Seen {
  QString name;
  QString uniqueID;
  QString mediaType;
  CaptureDeviceRef device;
};

}  // namespace

TEST(CaptureDevices, VirtualDevicesJoinTheListsWithTheirFormats) {
  VirtualDevices_Plug(true, true);
  const auto cameras = CaptureDevice::devicesWithMediaType(MediaType::Video);
  const auto mics = CaptureDevice::devicesWithMediaType(MediaType::Audio);
  ASSERT_FALSE(cameras.empty());
  ASSERT_FALSE(mics.empty());
  // Added devices come after the system's own.
  const CaptureDeviceRef camera = cameras.back();
  const CaptureDeviceRef mic = mics.back();
  EXPECT_EQ(camera->uniqueID(), kVirtualCameraUID);
  EXPECT_EQ(camera->localizedName(), kVirtualCameraName);
  EXPECT_EQ(mic->uniqueID(), kVirtualMicrophoneUID);
  EXPECT_TRUE(camera->hasMediaType(MediaType::Video));
  EXPECT_FALSE(camera->hasMediaType(MediaType::Audio));

  struct Row {
    uint32_t subtype;
    QSize size;
    QList<double> rates;
  };
  const std::vector<Row> expected = {
      {kPixelFormat_2vuy, {1920, 1080}, {25, 25, 30, 30, 50, 50, 60, 60}},
      {kPixelFormat_2vuy, {1280, 720}, {25, 25, 30, 30, 50, 50, 60, 60}},
      {kPixelFormat_420v, {1280, 720}, {1, 60}},
      {kPixelFormat_32BGRA, {640, 480}, {30, 30}},
  };
  ASSERT_EQ(camera->formats().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(camera->formats()[i]->mediaSubType, expected[i].subtype);
    EXPECT_EQ(camera->formats()[i]->dimensions, expected[i].size);
    EXPECT_EQ(Rates(*camera->formats()[i]), expected[i].rates);
  }
  ASSERT_EQ(mic->formats().size(), 2u);
  EXPECT_EQ(mic->formats()[0]->sampleRate, 44100);
  EXPECT_EQ(mic->formats()[1]->sampleRate, 48000);
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID(kVirtualCameraUID), camera);
  VirtualDevices_Unplug(true, true);
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID(kVirtualCameraUID), nullptr);
}

TEST(CaptureDevices, PlugAndUnplugPostNotificationsNamingTheDevice) {
  std::vector<Seen> seen;
  auto& center = NotificationCenter::defaultCenter();
  auto record = [&](const Notification& n) {
    seen.push_back({n.name, n.userInfo.value("uniqueID").toString(), n.userInfo.value("mediaType").toString(),
                    CaptureDevice::deviceFromNotification(n)});
  };
  NotificationObservation a(center, center.addObserver(kCaptureDeviceWasConnectedNotification, nullptr, record));
  NotificationObservation b(center, center.addObserver(kCaptureDeviceWasDisconnectedNotification, nullptr, record));

  VirtualDevices_Plug(true, false);
  VirtualDevices_Plug(true, false);  // already there: nothing happens
  VirtualDevices_Plug(false, true);
  const CaptureDeviceRef camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  VirtualDevices_Unplug(true, true);
  VirtualDevices_Unplug(true, true);  // already gone: nothing happens

  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].name, kCaptureDeviceWasConnectedNotification);
  EXPECT_EQ(seen[0].uniqueID, kVirtualCameraUID);
  EXPECT_EQ(seen[0].mediaType, kMediaTypeVideo);
  EXPECT_EQ(seen[0].device, camera);
  EXPECT_EQ(seen[1].uniqueID, kVirtualMicrophoneUID);
  EXPECT_EQ(seen[1].mediaType, kMediaTypeAudio);
  EXPECT_EQ(seen[2].name, kCaptureDeviceWasDisconnectedNotification);
  EXPECT_EQ(seen[2].device, camera);  // still found after it went
  EXPECT_EQ(seen[3].name, kCaptureDeviceWasDisconnectedNotification);
  EXPECT_FALSE(camera->isConnected());
  QString error;
  EXPECT_FALSE(camera->lockForConfiguration(&error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(CaptureDevices, ConfigurationLockHasOneHolder) {
  auto camera = VirtualDevices_MakeCamera();
  QString error;
  ASSERT_TRUE(camera->lockForConfiguration(&error));
  EXPECT_FALSE(camera->lockForConfiguration(&error));
  EXPECT_TRUE(error.contains("locked"));
  camera->setActiveFormat(camera->formats()[1]);
  camera->setActiveVideoMinFrameDuration(MediaTimeMake(1000, 29970));
  camera->unlockForConfiguration();
  EXPECT_TRUE(camera->lockForConfiguration(&error));
  camera->unlockForConfiguration();
  EXPECT_EQ(camera->activeFormat(), camera->formats()[1]);
  EXPECT_NEAR(CaptureReader::FrameRateFor(*camera, *camera->activeFormat()), 29.97, 1e-9);
}

TEST(CaptureDevices, SessionPresetPicksTheFormatOfADeviceWithoutOne) {
  auto camera = VirtualDevices_MakeCamera();
  auto mic = VirtualDevices_MakeMicrophone();
  EXPECT_EQ(CaptureReader::FormatForPreset(*camera, kCaptureSessionPresetHigh), camera->formats()[0]);
  EXPECT_EQ(CaptureReader::FormatForPreset(*camera, kCaptureSessionPreset1280x720), camera->formats()[1]);
  EXPECT_EQ(CaptureReader::FormatForPreset(*mic, kCaptureSessionPresetHigh)->sampleRate, 48000);
  // Without a rate of its own a camera runs at 30 when its format allows it, else at its fastest.
  EXPECT_EQ(CaptureReader::FrameRateFor(*camera, *camera->formats()[0]), 30);
  CaptureDeviceFormat slow;
  slow.videoSupportedFrameRateRanges = {{5, 10}, {15, 15}};
  EXPECT_EQ(CaptureReader::FrameRateFor(*camera, slow), 15);
}

TEST(CaptureDevices, V4L2PixelFormatsMapToTheSystemCodes) {
  struct Row {
    uint32_t v4l2;
    QString code;
    QString inputFormat;
  };
  const std::vector<Row> rows = {
      {V4L2_PIX_FMT_UYVY, "2vuy", "uyvy422"}, {V4L2_PIX_FMT_YUYV, "yuvs", "yuyv422"},
      {V4L2_PIX_FMT_NV12, "420v", "nv12"},    {V4L2_PIX_FMT_MJPEG, "dmb1", "mjpeg"},
      {V4L2_PIX_FMT_H264, "H264", "h264"},    {V4L2_PIX_FMT_YUV420, "YU12", "yuv420p"},
      {V4L2_PIX_FMT_SRGGB8, "RGGB", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code.toStdString());
    EXPECT_EQ(FourCC_String(V4L2_MediaSubTypeForPixelFormat(row.v4l2)), row.code);
    EXPECT_EQ(V4L2_InputFormatForPixelFormat(row.v4l2), row.inputFormat);
  }
  EXPECT_EQ(FourCC_String(kPixelFormat_32ARGB), "32");
  EXPECT_EQ(V4L2_ModelID(4057, 85), "UVC Camera VendorID_4057 ProductID_85");
}

TEST(CaptureDevices, V4L2CamerasOfThisMachineAreDescribed) {
  if (QDir("/dev").entryList({"video*"}, QDir::System).isEmpty()) GTEST_SKIP() << "no V4L2 device on this machine";
  for (const auto& camera : V4L2_ScanCameras()) {
    EXPECT_FALSE(camera->uniqueID().isEmpty());
    EXPECT_FALSE(camera->localizedName().isEmpty());
    for (const auto& f : camera->formats()) {
      EXPECT_GT(f->dimensions.width(), 0);
      for (const auto& r : f->videoSupportedFrameRateRanges) EXPECT_LE(r.minFrameRate, r.maxFrameRate);
    }
  }
}

TEST(CaptureDevices, BuiltInSoundDevicesAreRecognisedByTheirSystemNames) {
  struct Row {
    QString systemName;
    QString description;
    bool builtIn;
  };
  const std::vector<Row> rows = {
      {"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", true},
      {"alsa_output.pci-0000_00_1f.3.analog-stereo.monitor", "Monitor of Built-in Audio", false},
      {"alsa_input.usb-Elgato_Game_Capture_HD60_S+-00.analog-stereo", "Game Capture HD60 S+", false},
      {"plughw:CARD=PCH,DEV=0", "HDA Intel PCH, ALC3246 Analog", true},
      {"plughw:CARD=Device,DEV=0", "USB Audio Device, USB Audio", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.systemName.toStdString());
    EXPECT_EQ(AudioDevice_LooksBuiltIn(row.systemName, row.description), row.builtIn);
  }
}

TEST(CaptureDevices, SystemRescanReportsOnlyTheDifferences) {
  auto& registry = CaptureDeviceRegistry::shared();
  const auto before = CaptureDevice::devicesWithMediaType(MediaType::Video);
  std::vector<CaptureDeviceRef> system;
  for (const auto& d : before)
    if (d->kind() == CaptureDeviceKind::V4L2) system.push_back(d);
  auto describe = [](const QString& uid) {
    CaptureDevice::Description d;
    d.uniqueID = uid;
    d.localizedName = uid;
    d.kind = CaptureDeviceKind::V4L2;
    return std::make_shared<CaptureDevice>(std::move(d));
  };
  std::vector<QString> seen;
  auto& center = NotificationCenter::defaultCenter();
  auto record = [&](const Notification& n) {
    seen.push_back((n.name == kCaptureDeviceWasConnectedNotification ? "+" : "-") + n.userInfo.value("uniqueID").toString());
  };
  NotificationObservation a(center, center.addObserver(kCaptureDeviceWasConnectedNotification, nullptr, record));
  NotificationObservation b(center, center.addObserver(kCaptureDeviceWasDisconnectedNotification, nullptr, record));

  auto first = system;
  first.push_back(describe("usb-cam-1"));
  first.push_back(describe("usb-cam-2"));
  registry.applySystemScan(first);
  const CaptureDeviceRef cam1 = CaptureDevice::deviceWithUniqueID("usb-cam-1");
  const CaptureDeviceRef cam2 = CaptureDevice::deviceWithUniqueID("usb-cam-2");
  ASSERT_TRUE(cam1 && cam2);

  // cam-2 unplugged, cam-3 plugged; cam-1 comes as a fresh object of the scan but stays the same device.
  auto second = system;
  second.push_back(describe("usb-cam-1"));
  second.push_back(describe("usb-cam-3"));
  registry.applySystemScan(second);
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID("usb-cam-1"), cam1);
  EXPECT_TRUE(cam1->isConnected());
  EXPECT_FALSE(cam2->isConnected());
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID("usb-cam-2"), nullptr);

  registry.applySystemScan(system);
  EXPECT_EQ(seen, (std::vector<QString>{"+usb-cam-1", "+usb-cam-2", "-usb-cam-2", "+usb-cam-3", "-usb-cam-1", "-usb-cam-3"}));
  EXPECT_EQ(CaptureDevice::devicesWithMediaType(MediaType::Video).size(), before.size());
}
