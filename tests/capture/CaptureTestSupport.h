#pragma once
// Devices described by a test, added to the platform's device registry, and a fixture that gives each
// test fresh preferences, empty device lists and no added devices.

#include "capture/LiveCaptureController.h"
#include "common/ZRNAppPrefs.h"
#include "capture/ZRNCaptureDevices.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/capture/CaptureDevice.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <vector>

struct TestFormat {
  uint32_t subtype;
  int width;
  int height;
  QList<FrameRateRange> ranges;
};

inline CaptureDeviceRef TestCamera(const QString& uid, const QString& name, const std::vector<TestFormat>& formats,
                                   const QString& model = QStringLiteral("Test Camera")) {
  CaptureDevice::Description d;
  d.uniqueID = uid;
  d.localizedName = name;
  d.modelID = model;
  d.mediaType = MediaType::Video;
  for (const TestFormat& t : formats) {
    auto f = std::make_shared<CaptureDeviceFormat>();
    f->mediaType = MediaType::Video;
    f->mediaSubType = t.subtype;
    f->dimensions = QSize(t.width, t.height);
    f->videoSupportedFrameRateRanges = t.ranges;
    d.formats.push_back(f);
  }
  return std::make_shared<CaptureDevice>(std::move(d));
}

inline CaptureDeviceRef TestMicrophone(const QString& uid, const QString& name,
                                       std::initializer_list<double> rates = {44100, 48000}) {
  CaptureDevice::Description d;
  d.uniqueID = uid;
  d.localizedName = name;
  d.mediaType = MediaType::Audio;
  for (double rate : rates) {
    auto f = std::make_shared<CaptureDeviceFormat>();
    f->mediaType = MediaType::Audio;
    f->mediaSubType = kAudioFormat_LinearPCM;
    f->sampleRate = rate;
    f->channelCount = 2;
    d.formats.push_back(f);
  }
  return std::make_shared<CaptureDevice>(std::move(d));
}

class CaptureDevicesFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    UserDefaults::resetStandard();
    QFile::remove(StandardLocations::preferencesFilePath());
    Prefs_RegisterDefaultPrefs();
    prefs = std::make_unique<ZRNAppPrefs>();
    gZRNAppPrefs = prefs.get();
    clearDevices();
    CapDev_DeviceLists() = ZRNCaptureDeviceLists{};
  }
  void TearDown() override {
    finishCaptureQueues();
    clearDevices();
    CapDev_DeviceLists() = ZRNCaptureDeviceLists{};
    gZRNAppPrefs = nullptr;
  }
  // The work the live windows left on the capture queues ends as it does when the application quits,
  // before the devices, preferences and defaults it reads are taken away or swapped for the next test's.
  void finishCaptureQueues() {
    EXPECT_TRUE(LiveCapture_StopForTermination(std::chrono::seconds(20))) << "the capture queue still runs";
  }
  void addDevice(const CaptureDeviceRef& device) { CaptureDeviceRegistry::shared().addDevice(device); }
  void clearDevices() { CaptureDeviceRegistry::shared().removeAllAddedDevices(); }
  ZRNCaptureDeviceLists& lists() { return CapDev_DeviceLists(); }

  std::unique_ptr<ZRNAppPrefs> prefs;
};
