#include "capture/ZRNCaptureDevices.h"

#include "capture/CaptureTestSupport.h"

#include <QComboBox>

#include <gtest/gtest.h>

namespace {

class CapDevTest : public CaptureDevicesFixture {};

QList<double> MinRates(const QList<FrameRateRange>& ranges) {
  QList<double> r;
  for (const auto& x : ranges) r << x.minFrameRate;
  return r;
}

std::vector<long> FormatIndexes(const std::vector<CaptureFormatDictionary>& dicts) {
  std::vector<long> r;
  for (const auto& d : dicts) r.push_back(d.formatIndex);
  return r;
}

const QList<FrameRateRange> kSingles = {{25, 25}, {30, 30}, {50, 50}, {60, 60}};

}  // namespace

TEST_F(CapDevTest, IndexOfDeviceWithUIDChecksNoDeviceThenEmptyIDThenMatch) {
  if (CaptureDevice::devicesWithMediaType(MediaType::Video).empty()) {
    EXPECT_EQ(CapDev_IndexOfDeviceWithUID(MediaType::Video, "cam-b"), -2);
  }
  const long base = long(CaptureDevice::devicesWithMediaType(MediaType::Video).size());
  addDevice(TestCamera("cam-a", "Camera A", {}));
  addDevice(TestCamera("cam-b", "Camera B", {}));
  struct Row {
    QString uid;
    long index;
  };
  for (const Row& row : std::vector<Row>{{"", 0}, {"cam-a", base}, {"cam-b", base + 1}, {"cam-c", -1}, {"CAM-B", -1}}) {
    SCOPED_TRACE(row.uid.toStdString());
    EXPECT_EQ(CapDev_IndexOfDeviceWithUID(MediaType::Video, row.uid), row.index);
  }
  EXPECT_EQ(CapDev_IndexOfDeviceWithUID(QStringLiteral("vide"), "cam-b"), base + 1);
  EXPECT_EQ(CapDev_DeviceWithUID(MediaType::Audio, "cam-a"), nullptr);
  EXPECT_EQ(CapDev_DeviceNameForUID(MediaType::Video, "cam-b"), "Camera B");
  EXPECT_EQ(CapDev_DeviceNameForUID(MediaType::Video, "cam-gone"), "cam-gone");
}

TEST_F(CapDevTest, AcceptedSubTypesDependOnTheHeuristicsSwitch) {
  struct Row {
    uint32_t subtype;
    bool plain, heuristics;
  };
  const std::vector<Row> rows = {
      {FourCC("2vuy"), true, true}, {FourCC("420v"), true, true}, {FourCC("v210"), true, true},
      {FourCC("v410"), true, true}, {FourCC("yuvs"), true, true}, {32, false, true},
      {FourCC("dmb1"), false, true}, {FourCC("BGRA"), false, false}, {FourCC("420f"), false, false},
      {FourCC("H264"), false, false},
  };
  for (bool heuristics : {false, true}) {
    prefs->setHasCameraHeuristics(heuristics);
    for (const Row& row : rows) {
      SCOPED_TRACE(FourCC_String(row.subtype).toStdString());
      EXPECT_EQ(CapDev_IsAcceptedVideoSubType(row.subtype), heuristics ? row.heuristics : row.plain);
    }
  }
}

TEST_F(CapDevTest, BuiltInMicrophoneAndHD60SPlusAreRecognised) {
  struct MicRow {
    QString uid, name;
    bool builtIn;
  };
  for (const MicRow& row : std::vector<MicRow>{{"BuiltInMicrophoneDevice", "Anything", true},
                                                {"alsa_input.usb", "Built-in Microphone", true},
                                                {"alsa_input.usb", "Built-in microphone", false},
                                                {"builtinmicrophonedevice", "USB Mic", false}}) {
    SCOPED_TRACE(row.uid.toStdString());
    EXPECT_EQ(CapDev_IsBuiltInMicrophone(TestMicrophone(row.uid, row.name)), row.builtIn);
  }
  EXPECT_FALSE(CapDev_IsBuiltInMicrophone(nullptr));

  struct CamRow {
    QString model, name;
    bool hd60;
  };
  const std::vector<CamRow> cams = {
      {"UVC Camera VendorID_4057 ProductID_85", "Game Capture HD60 S+", true},
      {"UVC Camera VendorID_4057 ProductID_85", "Game Capture HD60 S", false},
      {"UVC Camera VendorID_4057 ProductID_85", "Game Capture 4K60 S+", false},
      {"UVC Camera VendorID_1133 ProductID_85", "Game Capture HD60 S+", false},
  };
  for (size_t i = 0; i < cams.size(); ++i) {
    SCOPED_TRACE(i);
    const QString uid = QStringLiteral("elgato-%1").arg(i);
    addDevice(TestCamera(uid, cams[i].name, {}, cams[i].model));
    EXPECT_EQ(CapDev_IsHD60SPlusCamera(uid), cams[i].hd60);
  }
  EXPECT_FALSE(CapDev_IsHD60SPlusCamera("not-connected"));
}

TEST_F(CapDevTest, FrameRateRangesSortByMinimumHighestFirst) {
  QList<FrameRateRange> ranges = {{25, 25}, {1, 60}, {60, 60}, {30, 30}, {50, 50}};
  CapDev_SortFrameRateRanges(ranges);
  EXPECT_EQ(MinRates(ranges), (QList<double>{60, 50, 30, 25, 1}));
  // Equal minimums keep their order.
  QList<FrameRateRange> ties = {{30, 30}, {30, 60}, {5, 5}, {30, 45}};
  CapDev_SortFrameRateRanges(ties);
  EXPECT_EQ(ties[1].maxFrameRate, 60);
  EXPECT_EQ(ties[2].maxFrameRate, 45);
}

TEST_F(CapDevTest, FormatTableMarksTheFirstAcceptedFormatOfEachSizeAndOrdersTheMenuFirst) {
  const auto camera = TestCamera("cam", "Cam",
                                 {{FourCC("2vuy"), 1280, 720, kSingles},
                                  {FourCC("BGRA"), 1920, 1080, {{30, 30}}},
                                  {FourCC("2vuy"), 1920, 1080, kSingles},
                                  {FourCC("420v"), 1280, 720, {{1, 60}}},
                                  {FourCC("dmb1"), 640, 480, {{30, 30}}}});
  struct Case {
    bool heuristics;
    std::vector<uint64_t> sizes;
    std::vector<long> order;
  };
  const std::vector<Case> cases = {
      {false, {1920001080, 1280000720}, {2, 0, 1, 3, 4}},
      {true, {1920001080, 1280000720, 640000480}, {2, 0, 4, 1, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.heuristics);
    prefs->setHasCameraHeuristics(c.heuristics);
    std::vector<uint64_t> sizes;
    const auto dicts = CapDev_MakeFormatDicts(camera, &sizes);
    EXPECT_EQ(sizes, c.sizes);
    EXPECT_EQ(FormatIndexes(dicts), c.order);
    for (size_t i = 0; i < dicts.size(); ++i) {
      EXPECT_EQ(dicts[i].menuSize, i < sizes.size()) << i;
      if (i < sizes.size()) {
        EXPECT_EQ(dicts[i].savedSize.value_or(0), sizes[i]) << i;
      }
    }
  }
  // The second 1280x720 format (420v) never becomes a menu entry: its rates are not offered.
  prefs->setHasCameraHeuristics(false);
  const auto dicts = CapDev_MakeFormatDicts(camera, nullptr);
  EXPECT_EQ(CapDev_FrameRatesText(1280000720, dicts), "60.00, 50.00, 30.00, 25.00");
  EXPECT_EQ(CapDev_FrameRatesText(640000480, dicts), "");
  const auto wide = TestCamera("wide", "Wide", {{FourCC("420v"), 1280, 720, {{1, 60}, {90, 120}}}});
  EXPECT_EQ(CapDev_FrameRatesText(1280000720, CapDev_MakeFormatDicts(wide, nullptr)), "90.00-120.00, 1.00-60.00");
}

TEST_F(CapDevTest, SavedSizeIsRepairedToTheExactSmallestOrLargestSize) {
  const auto camera = TestCamera("cam", "Cam",
                                 {{FourCC("2vuy"), 640, 480, {{30, 30}}},
                                  {FourCC("2vuy"), 1920, 1080, kSingles},
                                  {FourCC("yuvs"), 1280, 720, {{1, 60}}}});
  struct Row {
    QSizeF saved;
    long index;
    QSizeF size;
    uint32_t subtype;
  };
  const std::vector<Row> rows = {
      {{1280, 720}, 1, {1280, 720}, FourCC("yuvs")},    // exact
      {{320, 240}, 2, {640, 480}, FourCC("2vuy")},      // below every size: the smallest
      {{3840, 2160}, 0, {1920, 1080}, FourCC("2vuy")},  // above every size: the largest
      {{1600, 900}, 0, {1920, 1080}, FourCC("2vuy")},   // between sizes: the largest
      {{1280, 721}, 0, {1920, 1080}, FourCC("2vuy")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.saved.width());
    prefs->setMovieSize(row.saved);
    prefs->setCaptureFPS(30);
    CapDev_BuildFormatDicts(camera);
    EXPECT_EQ(prefs->capturePresetIndex(), row.index);
    EXPECT_EQ(prefs->movieSize(), row.size);
    EXPECT_EQ(prefs->captureMediaSubType(), row.subtype);
  }

  QComboBox popup;
  CapDev_FillSizesMenu(&popup, 320, 240);
  ASSERT_EQ(popup.count(), 3);
  EXPECT_EQ(popup.itemText(0), "1920 x 1080");
  EXPECT_EQ(popup.itemText(2), "640 x 480");
  EXPECT_EQ(prefs->capturePresetIndex(), 2);
}

TEST_F(CapDevTest, RateIsClampedIntoTheChosenSizesRanges) {
  const auto camera = TestCamera("cam", "Cam", {{FourCC("2vuy"), 1920, 1080, kSingles}, {FourCC("420v"), 1280, 720, {{1, 60}}}});
  struct Row {
    QSizeF size;
    float saved, expected;
  };
  for (const Row& row : std::vector<Row>{{{1920, 1080}, 10, 25},
                                         {{1920, 1080}, 120, 60},
                                         {{1920, 1080}, 29.97f, 29.97f},  // inside the bounds, though no single rate
                                         {{1280, 720}, 0.5f, 1},
                                         {{1280, 720}, 59.94f, 59.94f}}) {
    SCOPED_TRACE(row.saved);
    prefs->setMovieSize(row.size);
    prefs->setCaptureFPS(row.saved);
    CapDev_BuildFormatDicts(camera);
    EXPECT_FLOAT_EQ(prefs->captureFPS(), row.expected);
  }
  // A size the table does not have leaves the rate alone rather than setting it to 0.
  prefs->setCaptureFPS(30);
  CapDev_FrameRatesTextFixingFPS(4096002160);
  EXPECT_FLOAT_EQ(prefs->captureFPS(), 30);
}

TEST_F(CapDevTest, CameraWithoutAnAcceptedFormatOffersNoSizeAndKeepsTheSavedOne) {
  const auto camera = TestCamera("cam", "Cam", {{FourCC("BGRA"), 640, 480, {{30, 30}}}});
  prefs->setMovieSize(QSizeF(1920, 1080));
  prefs->setCaptureFPS(30);
  prefs->setCapturePresetIndex(3);
  CapDev_BuildFormatDicts(camera);
  EXPECT_TRUE(lists().sizesArray.empty());
  EXPECT_EQ(prefs->movieSize(), QSizeF(1920, 1080));
  EXPECT_EQ(prefs->capturePresetIndex(), 3);
  QComboBox popup;
  CapDev_FillSizesMenu(&popup, 1920, 1080);
  EXPECT_EQ(popup.count(), 0);
}

TEST_F(CapDevTest, ValidationRepairsSizeByWidthAndRateByNearestMaximum) {
  struct Row {
    const char* what;
    std::vector<TestFormat> formats;
    QSizeF savedSize;
    float savedRate;
    QSizeF size;
    float rate;
  };
  const std::vector<Row> rows = {
      {"both fine", {{FourCC("2vuy"), 1280, 720, kSingles}}, {1280, 720}, 50, {1280, 720}, 50},
      {"equal width distance: the later format wins, height never compared",
       {{FourCC("2vuy"), 1280, 720, kSingles}, {FourCC("2vuy"), 1920, 1080, kSingles}},
       {1600, 900}, 30, {1920, 1080}, 30},
      {"rate not offered: the nearest maximum of the candidate",
       {{FourCC("2vuy"), 1920, 1080, kSingles}}, {1920, 1080}, 29.97f, {1920, 1080}, 30},
      {"first of equally near maximums", {{FourCC("2vuy"), 1920, 1080, {{20, 20}, {40, 40}}}}, {1920, 1080}, 30, {1920, 1080}, 20},
      {"rate covered by another format is kept",
       {{FourCC("420v"), 1280, 720, {{1, 60}}}, {FourCC("2vuy"), 1920, 1080, {{25, 25}}}}, {2000, 1000}, 45, {1920, 1080}, 45},
      {"refused formats are not candidates",
       {{FourCC("BGRA"), 1920, 1080, {{60, 60}}}, {FourCC("2vuy"), 640, 480, {{15, 15}}}}, {1920, 1080}, 60, {640, 480}, 15},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    clearDevices();
    addDevice(TestCamera("cam", "Cam", row.formats));
    prefs->setCameraUID("cam");
    prefs->setMovieSize(row.savedSize);
    prefs->setCaptureFPS(row.savedRate);
    CapDev_ValidateSavedCameraFormat();
    EXPECT_EQ(prefs->movieSize(), row.size);
    EXPECT_FLOAT_EQ(prefs->captureFPS(), row.rate);
  }
  // The kept rate is then clamped by the table of the chosen size.
  CapDev_BuildFormatDicts(CapDev_DeviceWithUID(MediaType::Video, "cam"));
  EXPECT_FLOAT_EQ(prefs->captureFPS(), 15);
}

TEST_F(CapDevTest, ValidationChoosesTheSavedCameraOrTheFirst) {
  const long base = long(CaptureDevice::devicesWithMediaType(MediaType::Video).size());
  addDevice(TestCamera("cam-a", "Camera A", {{FourCC("2vuy"), 1280, 720, kSingles}}));
  addDevice(TestCamera("cam-b", "Camera B", {{FourCC("2vuy"), 1280, 720, kSingles}}));
  prefs->setCameraUID("cam-b");
  auto cameras = CapDev_ValidateSavedCameraFormat();
  EXPECT_EQ(long(cameras.size()), base + 2);
  EXPECT_EQ(prefs->cameraIndex(), base + 1);
  EXPECT_EQ(prefs->cameraName(), "Camera B");
  if (base == 0) {
    prefs->setCameraUID("cam-gone");
    CapDev_ValidateSavedCameraFormat();
    EXPECT_EQ(prefs->cameraIndex(), 0);
    EXPECT_EQ(prefs->cameraUID(), "cam-a");
    // No camera at all: nothing to validate, the saved choice stays.
    clearDevices();
    prefs->setCameraUID("cam-b");
    EXPECT_TRUE(CapDev_ValidateSavedCameraFormat().empty());
    EXPECT_EQ(prefs->cameraUID(), "cam-b");
  }
}

TEST_F(CapDevTest, MicrophoneChoiceFollowsTheHD60AndBlackmagicRules) {
  if (!CaptureDevice::devicesWithMediaType(MediaType::Audio).empty()) GTEST_SKIP() << "this machine has microphones of its own";
  // No microphone at all.
  prefs->setHasAudioDevice(true);
  EXPECT_TRUE(CapDev_SelectMicrophone({}, false).empty());
  EXPECT_FALSE(prefs->hasAudioDevice());

  addDevice(TestMicrophone("BuiltInMicrophoneDevice", "Built-in Microphone"));
  addDevice(TestMicrophone("usb-Game Capture HD60 S+-0001", "Game Capture HD60 S+"));
  addDevice(TestMicrophone("Blackmagic-audio-12345678", "Blackmagic Audio"));
  addDevice(TestMicrophone("usb-other", "Other"));
  addDevice(TestMicrophone("Blackmagic-short", "Blackmagic Short"));
  const auto bmCamera = TestCamera("BMD-video-12345678", "Blackmagic UltraStudio", {});
  const auto bmOther = TestCamera("BMD-video-87654321", "Blackmagic UltraStudio", {});
  const auto notBm = TestCamera("XYZ-video-12345678", "Other camera", {});
  const auto shortBm = TestCamera("short", "Blackmagic Short", {});

  auto uids = [](const std::vector<CaptureDeviceRef>& mics) {
    QStringList r;
    for (const auto& m : mics) r << m->uniqueID();
    return r;
  };
  struct Row {
    const char* what;
    std::vector<CaptureDeviceRef> cameras;
    bool hd60;
    QString saved;
    QStringList kept;
    long index;
  };
  const std::vector<Row> rows = {
      {"plain", {notBm}, false, "usb-other", {"BuiltInMicrophoneDevice", "usb-other"}, 1},
      {"Blackmagic camera with the same ending", {bmCamera}, false, "Blackmagic-audio-12345678",
       {"BuiltInMicrophoneDevice", "Blackmagic-audio-12345678", "usb-other"}, 1},
      {"Blackmagic camera with another ending", {bmOther}, false, "", {"BuiltInMicrophoneDevice", "usb-other"}, 0},
      {"short IDs match nothing", {shortBm}, false, "", {"BuiltInMicrophoneDevice", "usb-other"}, 0},
      {"saved microphone gone", {}, false, "usb-gone", {"BuiltInMicrophoneDevice", "usb-other"}, 0},
      {"HD60 S+: only its microphone, always the first", {}, true, "usb-other", {"usb-Game Capture HD60 S+-0001"}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    prefs->setMicrophoneUID(row.saved);
    const auto kept = CapDev_SelectMicrophone(row.cameras, row.hd60);
    EXPECT_EQ(uids(kept), row.kept);
    EXPECT_EQ(prefs->microphoneIndex(), row.index);
    EXPECT_EQ(prefs->microphoneUID(), row.kept[row.index]);
    EXPECT_EQ(prefs->microphoneIsBuiltIn(), row.kept[row.index] == "BuiltInMicrophoneDevice");
    EXPECT_TRUE(prefs->hasAudioDevice());
  }
}

TEST_F(CapDevTest, SampleRateIsRepairedToAnOfferedRate) {
  lists().microphonesArray = {TestMicrophone("mic", "Mic", {48000, 44100, 48000, 96000})};
  prefs->setMicrophoneIndex(0);
  struct Row {
    double saved;
    long index;
    double rate;
  };
  for (const Row& row : std::vector<Row>{{44100, 1, 44100}, {96000, 2, 96000}, {8000, 1, 44100}, {192000, 2, 96000}, {46000, 0, 48000}}) {
    SCOPED_TRACE(row.saved);
    prefs->setMicrophoneCaptureRate(row.saved);
    CapDev_LoadMicrophoneFormats();
    EXPECT_EQ(lists().audioRatesArray, (std::vector<double>{48000, 44100, 96000}));
    EXPECT_EQ(prefs->microphonePresetIndex(), row.index);
    EXPECT_EQ(prefs->microphoneCaptureRate(), row.rate);
  }
  // An index past the list (no microphone chosen) changes nothing.
  prefs->setMicrophoneIndex(3);
  prefs->setMicrophoneCaptureRate(8000);
  CapDev_LoadMicrophoneFormats();
  EXPECT_EQ(prefs->microphoneCaptureRate(), 8000);
}

TEST_F(CapDevTest, SizeKeysOrderByWidthThenHeight) {
  EXPECT_EQ(CapDev_SizeKeyForSize(1920.7, 1080.2), 1920001080u);
  EXPECT_EQ(CapDev_SizeKeyForSize(-5, 480), 480u);
  EXPECT_EQ(CapDev_SizeKeyHeight(1280000720), 720u);
}
