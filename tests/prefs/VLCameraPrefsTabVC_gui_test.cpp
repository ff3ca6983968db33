#include "prefs/VLCameraPrefsTabVC.h"

#include "capture/VLLiveWC.h"
#include "platform/media/capture/VirtualDevices.h"
#include "prefs/PrefsTestSupport.h"
#include "support/ContrastSupport.h"

#include <QCheckBox>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class CameraTab : public PrefsWindowFixture {
 protected:
  void SetUp() override {
    PrefsWindowFixture::SetUp();
    UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("CameraPrefsPane"));
  }
  void TearDown() override {
    ZRNPrefsController::releaseSharedController();
    delete live;
    Test_ProcessEvents(50);
    VirtualDevices_Unplug(true, true);
    PrefsWindowFixture::TearDown();
  }
  // The camera and microphone are connected and saved; the window opens on the camera module.
  VLCameraPrefsTabVC* openWith(const CaptureDeviceRef& camera, const CaptureDeviceRef& mic) {
    addDevice(camera);
    addDevice(mic);
    prefs->setCameraUID(camera->uniqueID());
    prefs->setMicrophoneUID(mic->uniqueID());
    ZRNPrefsController* controller = openWindow();
    EXPECT_EQ(controller->currentModule()->identifier(), "CameraPrefsPane");
    return controller->cameraTab();
  }
  // The live window on the virtual devices, running its session.
  void openLiveWindow() {
    VirtualDevices_Plug(true, true);
    prefs->setSaveTargetDirectory(QUrl::fromLocalFile(Test_MakeTempDir("recordings")));
    prefs->setCameraUID(kVirtualCameraUID);
    prefs->setMicrophoneUID(kVirtualMicrophoneUID);
    prefs->setMovieSize(QSizeF(1280, 720));
    prefs->setCaptureFPS(30);
    live = new VLLiveWC;
    live->show();
    ASSERT_TRUE(Test_WaitUntil([&] { return live->savePanel() && live->savePanel()->isVisible(); }));
    QMetaObject::invokeMethod(live->savePanel(), "accept");
    ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  }
  // The live session runs on that camera in that format.
  bool liveRunsWith(const QString& uid, QSize size) {
    return Test_WaitUntil(
        [&] {
          const auto session = live->captureSession();
          const auto camera = live->videoCaptureDevice();
          return session && session->isRunning() && camera && camera->uniqueID() == uid && camera->activeFormat() &&
                 camera->activeFormat()->dimensions == size;
        },
        15000);
  }

  VLLiveWC* live = nullptr;
};

}  // namespace

TEST_F(CameraTab, ListsSizesLargestFirstAndStoresTheFirstAcceptedFormatOfTheChosenSize) {
  const auto camera = TestCamera("cam-sizes", "Sizes",
                                 {{kPixelFormat_32BGRA, 3840, 2160, {{30, 30}}},  // refused: never listed
                                  {kPixelFormat_yuvs, 1280, 720, {{30, 30}}},
                                  {kPixelFormat_2vuy, 1920, 1080, {{30, 30}}},
                                  {kPixelFormat_2vuy, 1280, 720, {{30, 30}}}});
  prefs->setMovieSize(QSizeF(1920, 1080));
  prefs->setCaptureFPS(30);
  VLCameraPrefsTabVC* tab = openWith(camera, TestMicrophone("mic-a", "Mic A"));
  EXPECT_EQ(Test_Items(tab->camerasPopup()), QStringList({"Sizes"}));
  EXPECT_EQ(Test_Items(tab->presetsPopup()), QStringList({"1920 x 1080", "1280 x 720"}));
  EXPECT_EQ(tab->presetsPopup()->currentIndex(), 0);
  EXPECT_TRUE(tab->presetsPopup()->isEnabled());

  Test_Choose(tab->presetsPopup(), 1);
  EXPECT_EQ(prefs->movieSize(), QSizeF(1280, 720));
  EXPECT_EQ(prefs->capturePresetIndex(), 1);
  EXPECT_EQ(prefs->captureMediaSubType(), kPixelFormat_yuvs);
  Test_Choose(tab->presetsPopup(), 0);
  EXPECT_EQ(prefs->movieSize(), QSizeF(1920, 1080));
  EXPECT_EQ(prefs->captureMediaSubType(), kPixelFormat_2vuy);
}

TEST_F(CameraTab, FrameRatesArePoppedUpHighestFirstOrTypedWithinTheirRange) {
  const auto camera = TestCamera("cam-rates", "Rates",
                                 {{kPixelFormat_2vuy, 1920, 1080, {{30, 30}, {25, 25}, {60, 60}}},
                                  {kPixelFormat_2vuy, 1280, 720, {{1, 30}}}});
  prefs->setMovieSize(QSizeF(1920, 1080));
  prefs->setCaptureFPS(30);
  VLCameraPrefsTabVC* tab = openWith(camera, TestMicrophone("mic-a", "Mic A"));
  struct Row {
    int sizeItem;
    float saved;
    bool popup;
    QString shown;  // the selected rate item, or the field's text
    float stored;
  };
  const Row rows[] = {
      {0, 29.97f, true, "30.00", 29.97f},  // the nearest item; the saved rate stays
      {0, 100.f, true, "60.00", 60.f},     // above every rate: the highest
      {0, 10.f, true, "25.00", 25.f},      // below every rate: the lowest
      {1, 50.f, false, "30.00", 30.f},     // a range: the field, clamped
      {1, 12.5f, false, "12.50", 12.5f},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.saved);
    prefs->setCaptureFPS(row.saved);
    Test_Choose(tab->presetsPopup(), row.sizeItem);
    EXPECT_FLOAT_EQ(prefs->captureFPS(), row.stored);
    EXPECT_EQ(tab->fpsPopup()->isHidden(), !row.popup);
    EXPECT_EQ(tab->captureFPS()->isHidden(), row.popup);
    EXPECT_EQ(tab->availableFPS()->isHidden(), row.popup);
    if (row.popup) {
      EXPECT_EQ(Test_Items(tab->fpsPopup()), QStringList({"60.00", "30.00", "25.00"}));
      EXPECT_EQ(tab->fpsPopup()->currentText(), row.shown);
    } else {
      EXPECT_EQ(tab->captureFPS()->text(), row.shown);
      EXPECT_EQ(tab->availableFPS()->text(), "1.00-30.00");
    }
  }
  EXPECT_EQ(tab->availableFPS()->toolTip(), "Available FPS values");

  // A rate typed into the field is kept inside the range; text that is no number changes nothing.
  for (const auto& [typed, stored, shown] : std::vector<std::tuple<QString, float, QString>>{
           {"24", 24.f, "24.00"}, {"120", 30.f, "30.00"}, {"0.5", 1.f, "1.00"}, {"fast", 1.f, "1.00"}}) {
    SCOPED_TRACE(typed.toStdString());
    tab->captureFPS()->clear();
    QTest::keyClicks(tab->captureFPS(), typed);
    QTest::keyClick(tab->captureFPS(), Qt::Key_Return);
    EXPECT_FLOAT_EQ(prefs->captureFPS(), stored);
    EXPECT_EQ(tab->captureFPS()->text(), shown);
  }
  // Choosing a rate in the pop-up stores it.
  Test_Choose(tab->presetsPopup(), 0);
  Test_Choose(tab->fpsPopup(), 2);
  EXPECT_FLOAT_EQ(prefs->captureFPS(), 25.f);
}

TEST_F(CameraTab, MicrophoneRatesAreListedOnceAndTheSavedRateIsKeptInRange) {
  const auto camera = TestCamera("cam-a", "Camera A", {{kPixelFormat_2vuy, 1280, 720, {{30, 30}}}});
  prefs->setMicrophoneCaptureRate(96000);
  prefs->setCaptureAudio(true);
  VLCameraPrefsTabVC* tab = openWith(camera, TestMicrophone("mic-rates", "Rates Mic", {44100, 48000, 44100}));
  EXPECT_EQ(Test_Items(tab->microphonesPopup()), QStringList({"Rates Mic"}));
  EXPECT_EQ(Test_Items(tab->audioPresetsPopup()), QStringList({"44100", "48000"}));
  EXPECT_EQ(tab->audioPresetsPopup()->currentIndex(), 1);
  EXPECT_EQ(prefs->microphoneCaptureRate(), 48000);
  EXPECT_EQ(prefs->microphonePresetIndex(), 1);
  EXPECT_TRUE(tab->captureAudioBtn()->isChecked());
  EXPECT_TRUE(tab->microphonesPopup()->isEnabled());
  Test_Choose(tab->audioPresetsPopup(), 0);
  EXPECT_EQ(prefs->microphoneCaptureRate(), 44100);
  EXPECT_EQ(prefs->microphonePresetIndex(), 0);

  // Switching sound off leaves the microphone menus disabled.
  tab->captureAudioBtn()->click();
  EXPECT_FALSE(prefs->captureAudio());
  ASSERT_TRUE(Test_WaitUntil([&] { return !tab->microphonesPopup()->isEnabled(); }));
  EXPECT_FALSE(tab->captureAudioBtn()->isChecked());
  EXPECT_FALSE(tab->audioPresetsPopup()->isEnabled());
  // Disabled, they stay dark boxes whose dimmed text still reads.
  for (QComboBox* popup : {tab->microphonesPopup(), tab->audioPresetsPopup()}) {
    SCOPED_TRACE(popup->objectName().toStdString());
    const Test_Reading reading = Test_ReadControl(popup);
    EXPECT_LT(reading.boxLuminance, 0.1);
    EXPECT_GE(reading.textContrast, 3.0);
  }
  tab->captureAudioBtn()->click();
  EXPECT_TRUE(prefs->captureAudio());
  EXPECT_TRUE(Test_WaitUntil([&] { return tab->microphonesPopup()->isEnabled(); }));
  // The list it opens is as dark as the window, its items white.
  tab->audioPresetsPopup()->showPopup();
  QWidget* list = tab->audioPresetsPopup()->view();
  ASSERT_TRUE(Test_WaitUntil([&] { return list->isVisible(); }));
  const QImage shown = Test_Render(list->window());
  EXPECT_LT(Test_Luminance(Test_DominantColor(shown)), 0.1);
  EXPECT_GE(Test_TextContrast(shown), 4.5);
  tab->audioPresetsPopup()->hidePopup();
}

TEST_F(CameraTab, WithoutACameraTheMenusSayNA) {
  prefs->setCameraUID(QString());
  ZRNPrefsController* controller = openWindow();
  VLCameraPrefsTabVC* tab = controller->cameraTab();
  EXPECT_TRUE(tab->isInitialized());
  EXPECT_EQ(Test_Items(tab->camerasPopup()), QStringList({"No camera found"}));
  EXPECT_EQ(Test_Items(tab->presetsPopup()), QStringList({"N/A"}));
  EXPECT_FALSE(tab->presetsPopup()->isEnabled());
  EXPECT_EQ(Test_Items(tab->fpsPopup()), QStringList({"N/A"}));
  EXPECT_FALSE(tab->fpsPopup()->isEnabled());
  EXPECT_EQ(Test_Items(tab->microphonesPopup()), QStringList({"N/A"}));
  EXPECT_EQ(Test_Items(tab->audioPresetsPopup()), QStringList({"N/A"}));
  EXPECT_FALSE(tab->captureAudioBtn()->isEnabled());
  EXPECT_FALSE(tab->refreshMicrophonesBtn()->isEnabled());
}

TEST_F(CameraTab, EveryControlHasAnAccessibleName) {
  ZRNPrefsController* controller = openWindow();
  for (QWidget* control : controller->cameraTab()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (control->objectName().endsWith(QLatin1String("Caption"))) continue;  // a caption names the control beside it
    EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
  }
}

// The live session follows each choice at once: another camera, another size.
TEST_F(CameraTab, ChoicesReconfigureTheRunningLiveSession) {
  CaptureDevice::Description second;
  second.uniqueID = "VelmoraSecondPattern";
  second.localizedName = "Second Pattern";
  second.modelID = "Velmora Virtual Camera";
  second.mediaType = MediaType::Video;
  second.kind = CaptureDeviceKind::Virtual;
  second.inputFormatName = "lavfi";
  auto format = std::make_shared<CaptureDeviceFormat>();
  format->mediaType = MediaType::Video;
  format->mediaSubType = kPixelFormat_2vuy;
  format->dimensions = QSize(640, 360);
  format->videoSupportedFrameRateRanges = {{30, 30}};
  format->nativeFormat = "uyvy422";
  second.formats = {format};
  addDevice(std::make_shared<CaptureDevice>(second));
  ASSERT_NO_FATAL_FAILURE(openLiveWindow());
  ASSERT_TRUE(liveRunsWith(kVirtualCameraUID, QSize(1280, 720)));

  ZRNPrefsController* controller = openWindow();
  VLCameraPrefsTabVC* tab = controller->cameraTab();
  const QStringList cameras = Test_Items(tab->camerasPopup());
  const int secondItem = int(cameras.indexOf("Second Pattern"));
  ASSERT_GE(secondItem, 0) << cameras.join(", ").toStdString();
  // A mark on the microphone item that a reload of the menu would drop with the item.
  constexpr int kUntouchedRole = Qt::UserRole + 77;
  ASSERT_EQ(tab->microphonesPopup()->count(), 1);
  tab->microphonesPopup()->setItemData(0, QStringLiteral("untouched"), kUntouchedRole);
  Test_Choose(tab->camerasPopup(), secondItem);
  EXPECT_EQ(prefs->cameraUID(), "VelmoraSecondPattern");
  EXPECT_EQ(prefs->movieSize(), QSizeF(640, 360));
  EXPECT_TRUE(liveRunsWith("VelmoraSecondPattern", QSize(640, 360)));
  // Both are ordinary cameras: the microphone menu was left as it was.
  EXPECT_EQ(Test_Items(tab->microphonesPopup()), QStringList({kVirtualMicrophoneName}));
  EXPECT_EQ(tab->microphonesPopup()->itemData(0, kUntouchedRole).toString(), QStringLiteral("untouched"));

  Test_Choose(tab->camerasPopup(), int(cameras.indexOf(kVirtualCameraName)));
  ASSERT_EQ(Test_Items(tab->presetsPopup()), QStringList({"1920 x 1080", "1280 x 720"}));
  Test_Choose(tab->presetsPopup(), 0);
  EXPECT_TRUE(liveRunsWith(kVirtualCameraUID, QSize(1920, 1080)));
  // While the camera settings are shown no recording can start; closing the window gives it back.
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  controller->windowDidBecomeMain();
  EXPECT_FALSE(live->recordButton()->isEnabled());
  controller->close();
  EXPECT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  EXPECT_TRUE(liveRunsWith(kVirtualCameraUID, QSize(1920, 1080)));
}

// Escape on an open pop-up list closes the list and nothing else; the next Escape closes the window.
TEST_F(CameraTab, EscapeOnAnOpenListClosesOnlyTheList) {
  const auto camera = TestCamera("cam-esc", "Escape Camera",
                                 {{kPixelFormat_2vuy, 1920, 1080, {{30, 30}, {25, 25}}}, {kPixelFormat_2vuy, 1280, 720, {{30, 30}}}});
  prefs->setMovieSize(QSizeF(1920, 1080));
  VLCameraPrefsTabVC* tab = openWith(camera, TestMicrophone("mic-esc", "Escape Mic"));
  ZRNPrefsController* controller = ZRNPrefsController::sharedPreferencesController();
  for (QComboBox* popup : {tab->camerasPopup(), tab->presetsPopup(), tab->fpsPopup()}) {
    SCOPED_TRACE(popup->objectName().toStdString());
    controller->showWindow();
    QApplication::setActiveWindow(controller);
    ASSERT_TRUE(Test_WaitUntil([&] { return controller->isActiveWindow(); }));
    ASSERT_TRUE(popup->isEnabled());
    popup->setFocus(Qt::TabFocusReason);
    QTest::keyClick(popup, Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(Test_WaitUntil([&] { return popup->view()->isVisible() && QApplication::activePopupWidget(); }));
    // As the keyboard delivers it: to the window that has the keys, the open list's.
    QTest::keyClick(QApplication::activePopupWidget()->windowHandle(), Qt::Key_Escape);
    ASSERT_TRUE(Test_WaitUntil([&] { return !popup->view()->isVisible(); }));
    Test_ProcessEvents(20);
    EXPECT_TRUE(controller->isVisible());
    // The window's focus stays on the pop-up (the offscreen platform does not give the window its
    // activation back by itself when a popup closes).
    EXPECT_EQ(controller->focusWidget(), popup);
    QApplication::setActiveWindow(controller);
    QTest::keyClick(controller->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(Test_WaitUntil([&] { return !controller->isVisible(); }));
  }
}

// A screen reader names each field by the caption before it (AT-SPI's labelled-by relation), the typed
// frame rate too when it replaces the menu; the Refresh buttons' names hold their visible text.
TEST_F(CameraTab, FieldsAreLabelledByTheirCaptions) {
  const auto camera = TestCamera("cam-captions", "Captions",
                                 {{kPixelFormat_2vuy, 1920, 1080, {{30, 30}, {25, 25}}}, {kPixelFormat_2vuy, 1280, 720, {{1, 30}}}});
  prefs->setMovieSize(QSizeF(1920, 1080));
  prefs->setCaptureAudio(true);
  VLCameraPrefsTabVC* tab = openWith(camera, TestMicrophone("mic-captions", "Captions Mic"));
  auto labelledBy = [](QWidget* field) {
    QStringList labels;
    for (const auto& [label, relation] : QAccessible::queryAccessibleInterface(field)->relations(QAccessible::Label))
      labels << label->text(QAccessible::Name);
    return labels.join(QLatin1Char('|')).toStdString();
  };
  const struct {
    QWidget* field;
    const char* caption;
  } rows[] = {{tab->camerasPopup(), "Camera:"},
              {tab->presetsPopup(), "Frame size:"},
              {tab->fpsPopup(), "Frame rate:"},
              {tab->microphonesPopup(), "Microphone:"},
              {tab->audioPresetsPopup(), "Sample rate:"}};
  for (const auto& row : rows) EXPECT_EQ(labelledBy(row.field), row.caption) << row.field->objectName().toStdString();

  Test_Choose(tab->presetsPopup(), 1);
  ASSERT_FALSE(tab->captureFPS()->isHidden());
  EXPECT_EQ(labelledBy(tab->captureFPS()), "Frame rate:");
  EXPECT_EQ(labelledBy(tab->fpsPopup()), "");
  Test_Choose(tab->presetsPopup(), 0);
  EXPECT_EQ(labelledBy(tab->fpsPopup()), "Frame rate:");
  EXPECT_EQ(labelledBy(tab->captureFPS()), "");

  for (const auto& [button, name] : {std::pair{tab->refreshCamerasBtn(), "Refresh cameras"}, {tab->refreshMicrophonesBtn(), "Refresh microphones"}}) {
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(button);
    EXPECT_EQ(item->text(QAccessible::Name).toStdString(), name);
    EXPECT_TRUE(item->text(QAccessible::Name).contains(button->text(), Qt::CaseInsensitive));
  }
}
