#include "platform/foundation/NotificationCenter.h"
#include "platform/media/capture/AudioDevices.h"
#include "platform/media/capture/CaptureDevice.h"
#include "platform/media/capture/CaptureReader.h"
#include "platform/media/capture/V4L2Devices.h"
#include "platform/media/capture/VirtualDevices.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <algorithm>
#include <iterator>

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
  EXPECT_EQ(mic->uniqueID(), kVirtualMicrophoneUID);
  EXPECT_TRUE(camera->hasMediaType(MediaType::Video) && !camera->hasMediaType(MediaType::Audio));

  // The formats that the other tests configure, the microphone's rates in order.
  EXPECT_EQ(camera->formats()[1]->dimensions, QSize(1280, 720));
  EXPECT_EQ(camera->formats()[2]->mediaSubType, kPixelFormat_420v);
  ASSERT_EQ(mic->formats().size(), 2u);
  EXPECT_EQ(QList<double>({mic->formats()[0]->sampleRate, mic->formats()[1]->sampleRate}), QList<double>({44100, 48000}));
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID(kVirtualCameraUID), camera);
  VirtualDevices_Unplug(true, true);
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID(kVirtualCameraUID), nullptr);
}

TEST(CaptureDevices, PlugAndUnplugPostNotificationsNamingTheDevice) {
  QStringList seen;
  std::vector<CaptureDeviceRef> devices;
  auto& center = NotificationCenter::defaultCenter();
  auto record = [&](const Notification& n) {
    seen << (n.name == kCaptureDeviceWasConnectedNotification ? "+" : "-") + n.userInfo.value("uniqueID").toString() + " " +
                n.userInfo.value("mediaType").toString();
    devices.push_back(CaptureDevice::deviceFromNotification(n));
  };
  NotificationObservation a(center, center.addObserver(kCaptureDeviceWasConnectedNotification, nullptr, record));
  NotificationObservation b(center, center.addObserver(kCaptureDeviceWasDisconnectedNotification, nullptr, record));
  VirtualDevices_Plug(true, false);
  VirtualDevices_Plug(true, false);  // already there: nothing happens
  VirtualDevices_Plug(false, true);
  const CaptureDeviceRef camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  VirtualDevices_Unplug(true, true);
  VirtualDevices_Unplug(true, true);  // already gone: nothing happens
  const QString cam = QStringLiteral("%1 %2").arg(kVirtualCameraUID, kMediaTypeVideo);
  const QString mic = QStringLiteral("%1 %2").arg(kVirtualMicrophoneUID, kMediaTypeAudio);
  EXPECT_EQ(seen, (QStringList{"+" + cam, "+" + mic, "-" + cam, "-" + mic}));
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0], camera);
  EXPECT_EQ(devices[2], camera);  // still found after it went
  EXPECT_FALSE(camera->isConnected());
  QString error;
  EXPECT_FALSE(camera->lockForConfiguration(&error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(CaptureDevices, ConfigurationLockHasOneHolderAndPresetsPickFormats) {
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
  // A session preset picks the format of a device without one.
  auto mic = VirtualDevices_MakeMicrophone();
  camera = VirtualDevices_MakeCamera();
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
  const Row rows[] = {
      {V4L2_PIX_FMT_UYVY, "2vuy", "uyvy422"}, {V4L2_PIX_FMT_NV12, "420v", "nv12"}, {V4L2_PIX_FMT_MJPEG, "dmb1", "mjpeg"},
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

TEST(CaptureDevices, BuiltInSoundDevicesAreRecognisedByTheirSystemNames) {
  struct Row {
    QString systemName;
    QString description;
    bool builtIn;
  };
  const Row rows[] = {
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
  std::copy_if(before.begin(), before.end(), std::back_inserter(system), [](const auto& d) { return d->kind() == CaptureDeviceKind::V4L2; });
  // The system's devices plus fresh objects described by the scan for the given names.
  const auto scan = [&](const QStringList& uids) {
    auto devices = system;
    for (const QString& uid : uids) {
      CaptureDevice::Description d;
      d.uniqueID = d.localizedName = uid;
      d.kind = CaptureDeviceKind::V4L2;
      devices.push_back(std::make_shared<CaptureDevice>(std::move(d)));
    }
    registry.applySystemScan(devices);
  };
  QStringList seen;
  auto& center = NotificationCenter::defaultCenter();
  auto record = [&](const Notification& n) {
    seen << (n.name == kCaptureDeviceWasConnectedNotification ? "+" : "-") + n.userInfo.value("uniqueID").toString();
  };
  NotificationObservation a(center, center.addObserver(kCaptureDeviceWasConnectedNotification, nullptr, record));
  NotificationObservation b(center, center.addObserver(kCaptureDeviceWasDisconnectedNotification, nullptr, record));
  scan({"usb-cam-1", "usb-cam-2"});
  const CaptureDeviceRef cam1 = CaptureDevice::deviceWithUniqueID("usb-cam-1");
  const CaptureDeviceRef cam2 = CaptureDevice::deviceWithUniqueID("usb-cam-2");
  ASSERT_TRUE(cam1 && cam2);
  // cam-2 unplugged, cam-3 plugged; cam-1 comes as a fresh object of the scan but stays the same device.
  scan({"usb-cam-1", "usb-cam-3"});
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID("usb-cam-1"), cam1);
  EXPECT_TRUE(cam1->isConnected());
  EXPECT_FALSE(cam2->isConnected());
  EXPECT_EQ(CaptureDevice::deviceWithUniqueID("usb-cam-2"), nullptr);
  scan({});
  EXPECT_EQ(seen, (QStringList{"+usb-cam-1", "+usb-cam-2", "-usb-cam-2", "+usb-cam-3", "-usb-cam-1", "-usb-cam-3"}));
  EXPECT_EQ(CaptureDevice::devicesWithMediaType(MediaType::Video).size(), before.size());
}
