#include "capture/VLLiveWC.h"

#include "app/ZRNAppDelegate.h"
#include "common/ZRNAppSetup.h"
#include "capture/CaptureTestSupport.h"
#include "platform/media/capture/VirtualDevices.h"
#include "support/AccessibilitySupport.h"
#include "support/DialogTestSupport.h"
#include "support/TestSupport.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace {

class LiveWindowTest : public CaptureDevicesFixture {
 protected:
  void SetUp() override {
    CaptureDevicesFixture::SetUp();
    saveFolder = Test_MakeTempDir(QStringLiteral("recordings"));
    prefs->setSaveTargetDirectory(QUrl::fromLocalFile(saveFolder));
    prefs->setMovieSize(QSizeF(1280, 720));
    prefs->setCaptureFPS(30);
  }
  void TearDown() override {
    delete live;
    finishCaptureQueues();
    // Let the main-queue work the window left behind run before the devices go.
    Test_ProcessEvents(50);
    VirtualDevices_Unplug(true, true);
    CaptureDevicesFixture::TearDown();
  }

  void open() {
    live = new VLLiveWC;
    live->show();
  }
  bool waitForSavePanel() {
    return Test_WaitUntil([&] { return live->savePanel() && live->savePanel()->isVisible(); });
  }
  // Accepts the proposed name in the save panel.
  void acceptSavePanel() {
    ASSERT_TRUE(waitForSavePanel());
    // As the user's click on "Continue" does.
    QMetaObject::invokeMethod(live->savePanel(), "accept");
  }
  bool previewIsMoving() {
    CaptureVideoPreviewView* view = live->livePreviewLayer();
    if (!Test_WaitUntil([&] { return view->framesReceived() >= 3; }, 15000)) return false;
    const QImage first = view->grab().toImage();
    const int seen = view->framesReceived();
    if (!Test_WaitUntil([&] { return view->framesReceived() >= seen + 10; }, 15000)) return false;
    Test_ProcessEvents(30);
    const QImage later = view->grab().toImage();
    return first != later;
  }

  QString saveFolder;
  VLLiveWC* live = nullptr;
};

bool NotAllBlack(const QImage& image) {
  for (int y = 0; y < image.height(); y += 7)
    for (int x = 0; x < image.width(); x += 7)
      if (image.pixelColor(x, y) != QColor(Qt::black)) return true;
  return false;
}

}  // namespace

TEST_F(LiveWindowTest, OpensWithAMovingPreviewAndEnablesRecordingOnceTheCameraIsReady) {
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  prefs->setMicrophoneUID(kVirtualMicrophoneUID);
  open();
  EXPECT_FALSE(live->recordButton()->isEnabled());
  acceptSavePanel();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  EXPECT_EQ(live->recordButton()->text(), "Start Recording");
  EXPECT_TRUE(live->targetURL().toLocalFile().startsWith(saveFolder));
  EXPECT_EQ(live->captureSession()->inputs().size(), 2u);
  ASSERT_TRUE(previewIsMoving());
  EXPECT_TRUE(NotAllBlack(live->livePreviewLayer()->grab().toImage()));

  // The preview converts no more pixels than its view shows, and follows the window's size.
  CaptureVideoPreviewView* view = live->livePreviewLayer();
  const auto shownWidth = [&] { return std::max<double>(view->width(), view->height() * 16.0 / 9.0) * view->devicePixelRatioF() + 2; };
  EXPECT_LE(view->currentFrame().width(), shownWidth());
  // The camera's pictures are converted straight into the window, where nothing covers them.
  ASSERT_TRUE(Test_WaitUntil([&] { return view->framesPaintedInPlace() > 3; }, 15000)) << view->framesPaintedInPlace();
  live->resize(live->width() / 2, live->height() / 2);
  const int seen = view->framesReceived();
  ASSERT_TRUE(Test_WaitUntil([&] { return view->framesReceived() >= seen + 5; }, 15000));
  EXPECT_LE(view->currentFrame().width(), shownWidth());
  EXPECT_LT(view->currentFrame().width(), 1280);
}

// Absent at the start, then unplugged while live: each time the waiting dialog shows until the camera is
// plugged, and the window goes on with a new session.
TEST_F(LiveWindowTest, WaitsForTheSavedCameraAndGoesOnWhenItIsPlugged) {
  VirtualDevices_Plug(false, true);
  prefs->setCameraUID(kVirtualCameraUID);
  prefs->setCameraName(kVirtualCameraName);
  open();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->waitingSheet() && live->waitingSheet()->isVisible(); }));
  EXPECT_EQ(live->waitingSheet()->errorType(), -2);  // no camera at all
  EXPECT_EQ(live->waitingSheet()->deviceType(), MediaType::Video);
  bool namedInsideTheWaitsSignal = false;
  QObject::connect(live->waitingSheet(), &QDialog::finished, [&] { namedInsideTheWaitsSignal = live->savePanel(); });
  VirtualDevices_Plug(true, false);
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->waitingSheet(); }));
  acceptSavePanel();
  EXPECT_FALSE(namedInsideTheWaitsSignal) << "the naming panel opens once the waiting dialog has ended";
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  EXPECT_EQ(prefs->cameraUID(), kVirtualCameraUID);
  const CaptureSessionRef first = live->captureSession();

  VirtualDevices_Unplug(true, false);
  ASSERT_TRUE(Test_WaitUntil([&] { return live->waitingSheet() && live->waitingSheet()->isVisible(); }));
  EXPECT_TRUE(Test_WaitUntil([&] { return !first->isRunning(); }));
  VirtualDevices_Plug(true, false);
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->waitingSheet(); }));
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  EXPECT_NE(live->captureSession(), first);
  // The old session let the microphone go before the new one took it.
  EXPECT_EQ(live->captureSession()->lastErrorText(), "");
}

TEST_F(LiveWindowTest, CancelledSavePanelClosesTheWindow) {
  VirtualDevices_Plug(true, true);
  open();
  ASSERT_TRUE(waitForSavePanel());
  const QString proposed = live->savePanel()->findChild<QLineEdit*>()->text();
  EXPECT_TRUE(proposed.startsWith("VLCapture_")) << proposed.toStdString();
  // Becoming main again starts nothing new.
  QFileDialog* panel = live->savePanel();
  live->windowDidBecomeMain();
  Test_ProcessEvents(50);
  EXPECT_EQ(live->savePanel(), panel);
  live->savePanel()->reject();
  EXPECT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }));
}

TEST_F(LiveWindowTest, ASaveFolderThatIsAFileOpensThePanelInTheVideosFolder) {
  // The panel used to stay in the working directory, and the recording landed there.
  const QString file = saveFolder + QStringLiteral("/not-a-folder");
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  ASSERT_TRUE(QDir().mkpath(videos));
  ASSERT_NE(QDir::currentPath(), videos);
  EXPECT_EQ(VLLiveWC_SaveFolder(QUrl::fromLocalFile(file)), videos);
  EXPECT_EQ(VLLiveWC_SaveFolder(QUrl::fromLocalFile(saveFolder + QStringLiteral("/gone"))), videos);
  EXPECT_EQ(VLLiveWC_SaveFolder(QUrl()), videos);
  EXPECT_EQ(VLLiveWC_SaveFolder(QUrl::fromLocalFile(saveFolder)), saveFolder);

  prefs->setSaveTargetDirectory(QUrl::fromLocalFile(file));
  VirtualDevices_Plug(true, true);
  open();
  ASSERT_TRUE(waitForSavePanel());
  EXPECT_EQ(live->savePanel()->directory().absolutePath(), videos);
}

TEST_F(LiveWindowTest, CameraHeldElsewhereLeavesTheWindowUsable) {
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  auto other = std::make_shared<CaptureSession>();
  QString error;
  other->addInput(CaptureDeviceInput::deviceInputWithDevice(CaptureDevice::deviceWithUniqueID(kVirtualCameraUID), &error));
  other->startRunning();
  ASSERT_TRUE(other->isRunning());
  open();
  acceptSavePanel();
  // The build ran, found the camera busy and left the session without it.
  ASSERT_TRUE(Test_WaitUntil([&] {
    const auto session = live->captureSession();
    return session && session->lastErrorText().contains("in use");
  }));
  EXPECT_TRUE(live->sourcePrefsBtn()->isEnabled());
  EXPECT_FALSE(live->recordButton()->isEnabled());
  other->stopRunning();
  // Asking for the settings again builds a session that now gets the camera.
  live->updateSessionSettingsForNewPrefs();
  EXPECT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
}

TEST_F(LiveWindowTest, SaveNameAndRefusedLivePackages) {
  EXPECT_EQ(VLLiveWC::proposedSaveName(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 59))), "VLCapture_240305_0907");
  VLLiveWC window;
  struct Row {
    QString path;
    bool enabled;
  };
  for (const Row& row : std::vector<Row>{{"/x/Match.vlvidcapb", true},
                                         {"/x/Match.vlvidcapb_live", false},
                                         {"/x/Match.vlvidcapb_live.old", true},
                                         {"/x/Folder", true}}) {
    SCOPED_TRACE(row.path.toStdString());
    EXPECT_EQ(window.panel(nullptr, QUrl::fromLocalFile(row.path)), row.enabled);
  }
}

// The window goes while its session build waits on the main thread for a device: the build goes on with
// the capture state it holds, not the window's, and lets the session and the camera go when it ends.
TEST_F(LiveWindowTest, ClosingWhileTheSessionBuildWaitsForADeviceLeavesTheBuildItsOwnState) {
  VirtualDevices_Plug(true, false);
  // The saved camera is gone: the build takes the default one and then checks the saved microphone,
  // which is gone too, so it waits for it.
  prefs->setCameraUID(QStringLiteral("GoneCamera"));
  prefs->setMicrophoneUID(kVirtualMicrophoneUID);
  prefs->setMicrophoneName(kVirtualMicrophoneName);
  prefs->setHasAudioDevice(true);
  prefs->setCaptureAudio(true);
  live = new VLLiveWC;  // not shown: no device check of its own
  const std::shared_ptr<LiveCaptureController> capture = live->captureController();
  // The dialog runs its own event loop on the main thread: the window goes from inside it, and the
  // microphone that comes then ends it.
  bool waited = false;
  Test_AnswerNextModal(QString(), [&](QWidget* modal) {
    auto* waiting = qobject_cast<ZRNWaitingWindowController*>(modal);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->deviceType(), MediaType::Audio);
    waited = true;
    delete std::exchange(live, nullptr);
    VirtualDevices_Plug(false, true);
  });
  live->updateForCameraSetup();
  ASSERT_TRUE(Test_WaitUntil([&] { return waited; }));
  std::atomic<bool> drained{false};
  capture->sessionQueue()->async([&drained] { drained = true; });
  ASSERT_TRUE(Test_WaitUntil([&] { return drained.load(); }, 15000));
  const CaptureSessionRef session = capture->captureSession();
  ASSERT_TRUE(session);
  EXPECT_EQ(session->inputs().size(), 2u) << "the build went to its end";
  EXPECT_FALSE(session->isRunning());
  EXPECT_FALSE(capture->videoDeviceLocked());
}

// The window is closed while its camera takes seconds to open: the window goes at once, the open's end
// is left to the session queue, and the camera is free again once that open returns.
TEST_F(LiveWindowTest, ClosingWhileTheCameraOpensDoesNotWaitForIt) {
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  prefs->setMicrophoneUID(kVirtualMicrophoneUID);
  qputenv("VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS", "5000");
  const std::shared_ptr<void> unset(nullptr, [](void*) { qunsetenv("VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS"); });
  open();
  const std::shared_ptr<LiveCaptureController> capture = live->captureController();
  // The camera is locked for its format just before the session opens it.
  ASSERT_TRUE(Test_WaitUntil([&] { return capture->videoDeviceLocked(); }, 15000));
  Test_ProcessEvents(300);
  std::atomic<bool> buildEnded{false};
  capture->sessionQueue()->async([&buildEnded] { buildEnded = true; });
  delete std::exchange(live, nullptr);
  EXPECT_FALSE(buildEnded.load()) << "closing the window waited for the camera to open";
  qunsetenv("VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS");

  ASSERT_TRUE(Test_WaitUntil([&] { return buildEnded.load(); }, 20000));
  const CaptureSessionRef session = capture->captureSession();
  EXPECT_FALSE(session && session->isRunning());
  EXPECT_FALSE(capture->videoDeviceLocked());
  // Nothing holds the camera: a new session opens it.
  auto next = std::make_shared<CaptureSession>();
  next->addInput(CaptureDeviceInput::deviceInputWithDevice(CapDev_DeviceWithUID(MediaType::Video, kVirtualCameraUID), nullptr));
  next->startRunning();
  EXPECT_TRUE(next->isRunning()) << next->lastErrorText().toStdString();
  next->stopRunning();
}

TEST_F(LiveWindowTest, LiveAudioButtonFollowsAccessAndMicrophone) {
  VLLiveWC window;
  ZRNAppSetup* setup = ZRNAppSetup::sharedAppSetup();
  ZRNAppSetup* savedSetup = gZRNAppSetup;
  gZRNAppSetup = setup;
  struct Row {
    bool access, capture, hasDevice, builtIn, previewOn, enabled;
    QString image, tip;
  };
  const std::vector<Row> rows = {
      {false, true, true, false, true, false, "soundOff", "Disabled because the app has no microphone access"},
      {true, false, true, false, true, false, "soundOff", "Audio recording is disabled"},
      {true, false, false, false, true, false, "soundOff", "No audio device is available"},
      {true, true, true, true, true, false, "soundOff",
       "Disabled to prevent audio feedback loop when the built-in microphone is selected as audio source."},
      {true, true, true, false, true, true, "soundOn", "Click to silence live audio"},
      {true, true, true, false, false, true, "soundOff", "Click to turn on live audio"},
      // Sound wanted without a device: the button stays as it was (here: the row before).
      {true, true, false, false, false, true, "soundOff", "Click to turn on live audio"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tip.toStdString());
    setup->setHasMicrophoneAccess(row.access);
    prefs->setCaptureAudio(row.capture);
    prefs->setHasAudioDevice(row.hasDevice);
    prefs->setMicrophoneIsBuiltIn(row.builtIn);
    if (window.audioPreviewON() != row.previewOn) window.setAudioPreviewOnOff();
    window.U_UpdateAudioPreviewControl();
    EXPECT_EQ(window.audioPreviewBtn()->isEnabled(), row.enabled);
    EXPECT_EQ(window.audioPreviewBtn()->property("imageName").toString(), row.image);
    EXPECT_EQ(window.audioPreviewBtn()->toolTip(), row.tip);
  }
  gZRNAppSetup = savedSetup;
}

TEST_F(LiveWindowTest, HD60SPlusCapturesSoundWithoutAskingAndWithoutMonitor) {
  addDevice(TestCamera("elgato-hd60", "Game Capture HD60 S+", {{FourCC("2vuy"), 1280, 720, {{30, 30}, {60, 60}}}},
                       "UVC Camera VendorID_4057 ProductID_85"));
  addDevice(TestMicrophone("usb-Game Capture HD60 S+-0001", "Game Capture HD60 S+"));
  addDevice(TestMicrophone("usb-other-mic", "Other"));
  prefs->setCameraUID("elgato-hd60");
  prefs->setMicrophoneUID("usb-absent-mic");  // would need the microphone dialog with any other camera
  prefs->setCaptureAudio(false);
  open();
  acceptSavePanel();
  EXPECT_FALSE(live->waitingSheet());
  // The build runs to the end (the described devices cannot deliver, so the session does not start).
  ASSERT_TRUE(Test_WaitUntil([&] { return live->audioCaptureDevice() != nullptr; }));
  EXPECT_TRUE(live->captureAudio());
  EXPECT_EQ(live->audioCaptureDevice()->uniqueID(), "usb-Game Capture HD60 S+-0001");
  Test_WaitUntil([&] { return !live->captureSession()->lastErrorText().isEmpty(); });
  EXPECT_EQ(live->audioPreviewOutput(), nullptr);
  EXPECT_FALSE(live->recordButton()->isEnabled());
}

// A session package is one item of the naming panel: a recording named after an existing session asks,
// and on Replace becomes that package (never a package inside it); the save folder stays outside it.
TEST_F(LiveWindowTest, NamingAfterAnExistingSessionAsksAndReplacesItWithoutEnteringIt) {
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  const QString old = saveFolder + QStringLiteral("/Old Match.vlvidcapb");
  ASSERT_TRUE(QDir().mkpath(old));
  // A save folder stored inside a package (as the fault left it) starts the panel beside the package.
  prefs->setSaveTargetDirectory(QUrl::fromLocalFile(old));
  open();
  ASSERT_TRUE(waitForSavePanel());
  QFileDialog* panel = live->savePanel();
  EXPECT_EQ(panel->directory().absolutePath(), saveFolder);
  auto* name = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(name, nullptr);

  const struct {
    const char* answer;
    bool named;
  } answers[] = {{"cancelBtn", false}, {"replaceBtn", true}};
  for (const auto& a : answers) {
    SCOPED_TRACE(a.answer);
    name->setText(QStringLiteral("Old Match"));
    QString question;
    Test_AnswerNextModal(QString::fromLatin1(a.answer), [&](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) question = box->text();
    }, panel);
    QMetaObject::invokeMethod(panel, "accept");
    ASSERT_TRUE(Test_WaitUntil([&] { return !question.isEmpty(); }));
    EXPECT_TRUE(question.contains(QStringLiteral("Old Match.vlvidcapb")) && question.contains(QStringLiteral("replace")))
        << question.toStdString();
    Test_ProcessEvents(50);
    EXPECT_EQ(live->targetURL().isEmpty(), !a.named);
    if (!a.named) {
      EXPECT_TRUE(live->savePanel() && live->savePanel()->isVisible()) << "the panel stays, on the same folder";
      EXPECT_EQ(panel->directory().absolutePath(), saveFolder);
    }
  }
  EXPECT_EQ(live->targetURL().toLocalFile(), old);
  EXPECT_EQ(prefs->saveTargetDirectory().toLocalFile(), saveFolder);
  // Only the recording's start removes the old session, after the answer.
  EXPECT_TRUE(QFileInfo(old).isDir());
}

// The naming panel's button reads Continue whatever name is typed or chosen, an existing session's too;
// only a plain folder, which it enters, turns it Open. Return on a session asks to replace it; Return in
// the completion list names the recording as typed, and the list goes with the panel.
TEST_F(LiveWindowTest, NamingPanelKeepsItsButtonAndTakesTheTypedNameFromTheCompletionList) {
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  ASSERT_TRUE(QDir(saveFolder).mkpath(QStringLiteral("Old Match.vlvidcapb")) && QDir(saveFolder).mkpath(QStringLiteral("Plain")));
  open();
  ASSERT_TRUE(waitForSavePanel());
  QPointer<QFileDialog> panel = live->savePanel();
  panel->activateWindow();
  auto* name = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  auto* list = panel->findChild<QAbstractItemView*>(QStringLiteral("listView"));
  QPushButton* button = panel->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save);
  const auto row = [&](const char* item) {
    return list->model()->match(list->model()->index(0, 0, list->rootIndex()), Qt::DisplayRole, QString::fromUtf8(item)).value(0);
  };
  // The folder is read in the background; typing goes to the active window.
  ASSERT_TRUE(Test_WaitUntil([&] { return panel->isActiveWindow() && row("Plain").isValid() && row("Old Match.vlvidcapb").isValid(); }));
  const auto type = [&](const char* text) {
    name->setFocus();
    name->clear();
    QTest::keyClicks(name, QString::fromUtf8(text));
  };
  const auto click = [&](const char* item) { QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row(item)).center()); };
  const struct {
    const char* way;
    std::function<void()> act;
    const char* label;
  } ways[] = {
      {"the session's name typed", [&] { type("Old Match"); }, "Continue"},
      {"the session selected in the list", [&] { click("Old Match.vlvidcapb"); }, "Continue"},
      {"a new name typed", [&] { type("New Match"); }, "Continue"},
      {"the session's name typed, then cleared", [&] { type("Old Match"); name->clear(); }, "Continue"},
      {"a plain folder selected in the list", [&] { click("Plain"); }, "Open"},
  };
  for (const auto& w : ways) {
    SCOPED_TRACE(w.way);
    list->clearSelection();
    name->clear();
    w.act();
    EXPECT_EQ(button->text().remove(QLatin1Char('&')), QString::fromUtf8(w.label));
  }

  list->clearSelection();
  type("Old Match");
  bool asked = false;
  Test_AnswerNextModal(QStringLiteral("cancelBtn"), [&](QWidget*) { asked = true; }, panel);
  QTest::keyClick(name, Qt::Key_Return);
  EXPECT_TRUE(asked && panel->isVisible());

  // Back in the panel, as the user is once the question has gone.
  panel->activateWindow();
  ASSERT_TRUE(Test_WaitUntil([&] { return panel->isActiveWindow(); }));
  type("Ol");
  QPointer<QAbstractItemView> completions = name->completer()->popup();
  ASSERT_TRUE(Test_WaitUntil([&] { return completions->isVisible(); }));
  QTest::keyClick(completions, Qt::Key_Return);
  EXPECT_TRUE(!completions || !completions->isVisible());
  ASSERT_TRUE(Test_WaitUntil([&] { return !panel; }));
  EXPECT_EQ(live->targetURL().toLocalFile(), saveFolder + QStringLiteral("/Ol.vlvidcapb"));
}

// "Source Settings…" shows the information popover; its button is the application's camera settings
// command; the size actions give the preview the movie's size.
TEST_F(LiveWindowTest, SourceSettingsShowsTheInformationAndTheSizeActionsFitTheMovie) {
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  prefs->setMicrophoneUID(kVirtualMicrophoneUID);
  ZRNAppDelegate delegate;
  delegate.mainMenu();
  open();
  acceptSavePanel();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));

  ASSERT_TRUE(live->sourcePrefsBtn()->isEnabled());
  live->sourcePrefsBtn()->click();
  QFrame* popover = live->recording().popover();
  ASSERT_TRUE(popover && popover->isVisible());
  auto* text = popover->findChild<QTextBrowser*>(QStringLiteral("theWebView"));
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("Video Source"))) << text->toPlainText().toStdString();
  QAction* cameraSettings = nullptr;
  for (QAction* menu : live->menuBar()->actions())
    if (menu->menu())
      for (QAction* action : menu->menu()->actions())
        if (action->objectName() == QLatin1String("showHideCameraPreferences")) cameraSettings = action;
  ASSERT_NE(cameraSettings, nullptr);
  QSignalSpy asked(cameraSettings, &QAction::triggered);
  auto* button = popover->findChild<QPushButton*>(QStringLiteral("actionButton"));
  ASSERT_TRUE(button && button->isEnabled());
  button->click();
  EXPECT_EQ(asked.count(), 1);
  EXPECT_FALSE(popover->isVisible());

  // The window's size commands, as the menu sends them: the camera's 1280x720 is larger than the test
  // screen, so the preview gets the largest size at the movie's aspect with which the window fits.
  ZRNSizingWC* sizing = live;
  const QRect area = live->screen()->availableGeometry();
  const QSize movie = prefs->movieSize().toSize();
  ASSERT_TRUE(movie.width() > area.width() || movie.height() > area.height());
  for (void (ZRNSizingWC::*command)() : {&ZRNSizingWC::resizeToNaturalSize, &ZRNSizingWC::increaseWindowSize}) {
    live->resize(600, 400);
    live->move(area.topLeft() + QPoint(60, 60));
    Test_ProcessEvents(50);
    (sizing->*command)();
    QWidget* preview = live->livePreviewView();
    ASSERT_TRUE(Test_WaitUntil([&] { return preview->width() > 600; }));
    Test_ProcessEvents(50);
    EXPECT_TRUE(area.contains(live->frameGeometry())) << live->frameGeometry().width() << "x" << live->frameGeometry().height();
    EXPECT_NEAR(double(preview->width()) / preview->height(), 16.0 / 9.0, 0.03);
    EXPECT_FALSE(sizing->windowIsNaturalSize());
    EXPECT_FALSE(sizing->windowCanIncreaseSize());
  }
}

// Without any camera the window and the dialog that waits for one say what they are, and so does every
// control in them; Escape gives the wait up as the dialog's Cancel does, and the window goes.
TEST_F(LiveWindowTest, WithoutACameraEverythingIsNamedAndEscapeCancelsTheWait) {
  prefs->setCameraUID(QString());
  prefs->setCameraName(QString());
  open();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->waitingSheet() && live->waitingSheet()->isVisible(); }));
  ZRNWaitingWindowController* sheet = live->waitingSheet();
  ASSERT_EQ(sheet->okBtn()->text(), "Cancel");
  EXPECT_EQ(Test_UnnamedAccessibles(live).join(", ").toStdString(), "");
  EXPECT_EQ(Test_UnnamedAccessibles(sheet).join(", ").toStdString(), "");
  EXPECT_FALSE(QAccessible::queryAccessibleInterface(live)->text(QAccessible::Name).isEmpty());
  EXPECT_FALSE(QAccessible::queryAccessibleInterface(sheet)->text(QAccessible::Name).isEmpty());

  QSignalSpy ended(sheet, &QDialog::finished);
  QTest::keyClick(sheet->windowHandle(), Qt::Key_Escape);
  ASSERT_TRUE(Test_WaitUntil([&] { return !ended.isEmpty(); }));
  EXPECT_EQ(ended.first().first().toInt(), kDialogResultFirst);
  EXPECT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }));
}
