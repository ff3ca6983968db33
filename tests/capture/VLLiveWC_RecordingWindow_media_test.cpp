#include "capture/VLLiveWC.h"

#include "common/ZRNAlerts.h"
#include "app/ZRNAppDelegate.h"
#include "prefs/ZRNPrefsController.h"
#include "capture/CaptureTestSupport.h"
#include "session/VLDocument.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "platform/media/capture/VirtualDevices.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"
#include "support/DialogTestSupport.h"
#include "app/ZRNAppMenus.h"
#include "common/ZRNRecentDocument.h"
#include "platform/foundation/StandardLocations.h"
#include "playback/VLPlaybackWCTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QDateTime>
#include <QTimer>

#include <gtest/gtest.h>

using namespace testmedia;

namespace {

// Notes the main text of every alert shown while it lives and answers each with its button `answer`.
class AlertAnswerer : public QObject {
 public:
  explicit AlertAnswerer(QString answer) : m_answer(std::move(answer)) { qApp->installEventFilter(this); }
  ~AlertAnswerer() override { qApp->removeEventFilter(this); }
  void setAnswer(const QString& answer) { m_answer = answer; }
  QStringList shown;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(object);
    if (event->type() != QEvent::Show || !widget || !widget->isWindow()) return false;
    auto* text = widget->findChild<QLabel*>(QStringLiteral("mainTextfield"));
    if (!text) return false;
    shown << text->text();
    QPointer<QWidget> alert(widget);
    const QString answer = m_answer;
    QTimer::singleShot(0, qApp, [alert, answer] {
      if (auto* button = alert ? alert->findChild<QPushButton*>(answer) : nullptr) button->click();
    });
    return false;
  }

 private:
  QString m_answer;
};

QStringList Test_RecentPathsOf(ZRNAppDelegate& delegate) {
  QStringList paths;
  for (const auto& entry : delegate.recentDocsArray()) paths << entry->docPath();
  return paths;
}

bool isAlert(const QString& shownText, int alertID) {
  const QString main = Alert_EntryForID(alertID)->value(QString::fromLatin1(kAlertKeyMainString)).toString().left(20);
  return shownText.contains(main) || shownText.contains(main.toHtmlEscaped());
}

}  // namespace

// The live window as a user meets it: name the recording, record, stop, find a playable package.
class LiveWindowRecording : public CaptureDevicesFixture {
 protected:
  void TearDown() override {
    delete live;
    finishCaptureQueues();
    Test_ProcessEvents(50);
    VirtualDevices_Unplug(true, true);
    CaptureDevicesFixture::TearDown();
  }
  // Opens the window on the virtual devices, names the recording in `folder`, starts it and waits until
  // the growing movie holds two fragments; `package` is the session package being written.
  void openAndRecord(const QString& folder, QString& package, qint64 fragmentSeconds = 1) {
    ASSERT_NO_FATAL_FAILURE(openAndName(folder, fragmentSeconds));
    ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
    live->recordButton()->click();
    ASSERT_NO_FATAL_FAILURE(waitUntilRecording(folder, package));
  }
  // Opens the window on the virtual devices and names the recording in `folder`; the camera may still be
  // opening when this returns.
  void openAndName(const QString& folder, qint64 fragmentSeconds = 1) {
    prefs->setSaveTargetDirectory(QUrl::fromLocalFile(folder));
    prefs->setMovieSize(QSizeF(640, 360));
    prefs->setCaptureFPS(30);
    prefs->setFragmentSeconds(fragmentSeconds);
    prefs->setSegmentKBPS(1000);
    VirtualDevices_Plug(true, true);
    prefs->setCameraUID(kVirtualCameraUID);
    prefs->setMicrophoneUID(kVirtualMicrophoneUID);
    live = new VLLiveWC;
    live->show();
    ASSERT_TRUE(Test_WaitUntil([&] { return live->savePanel() && live->savePanel()->isVisible(); }));
    QMetaObject::invokeMethod(live->savePanel(), "accept");
  }
  // Waits until the started recording writes into its one package in `folder` and its movie holds two
  // fragments.
  void waitUntilRecording(const QString& folder, QString& package) {
    ASSERT_TRUE(Test_WaitUntil([&] { return live->isRecording() && live->recIndicatorView()->text() == "REC"; }, 20000));
    const QStringList packages = QDir(folder).entryList({QStringLiteral("*.vlvidcapb")}, QDir::Dirs);
    ASSERT_EQ(packages.size(), 1);
    package = folder + QLatin1Char('/') + packages.first();
    EXPECT_TRUE(QFileInfo::exists(package + QStringLiteral("/VLRecording.lock")));
    ASSERT_TRUE(Test_WaitUntil([&] { return !live->capturedMovieURL().isEmpty(); }, 20000));
    const QString movie = live->capturedMovieURL().toLocalFile();
    ASSERT_TRUE(Test_WaitUntil([&] { return topLevelBoxes(movie).count("moof") >= 2; }, 20000));
  }
  // The package holds a finished recording of at least `seconds`, with sound, and is no longer marked
  // as being recorded.
  static void expectKeptPackage(const QString& package, double seconds) {
    EXPECT_FALSE(QFileInfo::exists(package + QStringLiteral("/VLRecording.lock")));
    EXPECT_TRUE(QFileInfo::exists(package + QStringLiteral("/VLSettings.json")));
    const QJsonObject probe = ffprobe(package + QStringLiteral("/VLCapturedMovie.mp4"));
    EXPECT_EQ(streamOfType(probe, "video").value("codec_name").toString(), "h264");
    EXPECT_EQ(streamOfType(probe, "audio").value("codec_name").toString(), "aac");
    EXPECT_GE(formatDuration(probe), seconds);
  }

  // Guarded: the application's termination deletes the live window itself.
  QPointer<VLLiveWC> live;
};

TEST_F(LiveWindowRecording, ClosingTheWindowWhileRecordingStopsKeepsAndCloses) {
  const struct {
    const char* name;
    bool ask;
  } cases[] = {{"asked first", true}, {"not asked", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    prefs->setAskForCaptureStop(c.ask);
    QString package;
    ASSERT_NO_FATAL_FAILURE(openAndRecord(Test_MakeTempDir(QStringLiteral("recordings")), package));
    AlertAnswerer alerts(QStringLiteral("cancelBtn"));
    if (c.ask) {
      // Cancel: the window stays and goes on recording.
      live->close();
      ASSERT_EQ(alerts.shown.size(), 1);
      EXPECT_TRUE(isAlert(alerts.shown.first(), 20004)) << alerts.shown.first().toStdString();
      Test_ProcessEvents(100);
      EXPECT_TRUE(live->isRecording());
      EXPECT_FALSE(live->isClosing());
      alerts.setAnswer(QStringLiteral("okBtn"));
    }
    live->close();
    EXPECT_EQ(alerts.shown.size(), c.ask ? 2 : 0);
    // The window closes only after the footage has been saved.
    EXPECT_TRUE(live->isVisible());
    ASSERT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }, 20000));
    expectKeptPackage(package, 2.0);
    // The recording goes with its window; nothing asks a recording that is gone.
    const QPointer<VLLiveWC_Recording> recording(&live->recording());
    delete live;
    live = nullptr;
    EXPECT_TRUE(recording.isNull());
    EXPECT_FALSE(VLLiveWC_RecordingUnderWay());
    EXPECT_TRUE(VLLiveWC_WaitUntilRecordingSaved(0));
    Test_ProcessEvents(50);
  }
}

TEST_F(LiveWindowRecording, TerminatingWhileRecordingSavesTheFootageBeforeTheLoggerStops) {
  const struct {
    const char* name;
    bool quitConfirmedFirst;  // a confirmed Quit's stop is under way, no longer recording, when the end comes
  } cases[] = {{"still recording", false}, {"stop under way", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZRNAppDelegate delegate;
    prefs->setAskForCaptureStop(!c.quitConfirmedFirst);  // the termination itself never asks
    // The preferences window is open when the recording starts: the recording takes it out of sight.
    delegate.showHidePreferencesWindow();
    ASSERT_TRUE(ZRNPrefsController::existingController()->isVisible());
    QString package;
    ASSERT_NO_FATAL_FAILURE(openAndRecord(Test_MakeTempDir(QStringLiteral("recordings")), package));
    EXPECT_FALSE(ZRNPrefsController::existingController()->isVisible());
    EXPECT_FALSE(delegate.prefsWindowIsON());
    AlertAnswerer alerts(QStringLiteral("cancelBtn"));
    if (c.quitConfirmedFirst) {
      delegate.askUserToVerifyQuit();
      ASSERT_TRUE(Test_WaitUntil([&] { return !delegate.recordingIsON(); }, 20000));
    }
    delegate.applicationWillTerminate();
    EXPECT_TRUE(alerts.shown.isEmpty());
    EXPECT_TRUE(delegate.appIsQuitting());
    EXPECT_TRUE(live.isNull()) << "the recording stopped, the termination lets the live window go";
    EXPECT_EQ(delegate.launchPhases().mid(1),
              QStringList({QStringLiteral("applicationWillTerminate"), QStringLiteral("ZRNLogger_Stop")}));
    // Looked at as soon as the termination returns, before any other event runs.
    expectKeptPackage(package, 2.0);
    // The footage's own completion asks to terminate again: by now there is nothing left to ask.
    Test_ProcessEvents(100);
    EXPECT_TRUE(alerts.shown.isEmpty());
    delete live;
    live = nullptr;
    ZRNPrefsController::releaseSharedController();
    Test_ProcessEvents(50);
  }
}

TEST_F(LiveWindowRecording, FragmentsLastTheirLengthAndTheBlinkingBadgeMovesNothing) {
  constexpr double kFrame = 1.0 / 30;
  prefs->setAskForCaptureStop(false);
  QString package;
  ASSERT_NO_FATAL_FAILURE(openAndRecord(Test_MakeTempDir(QStringLiteral("recordings")), package, 2));
  // Where the duration and the REC badge sit in the window, while the badge blinks and the time runs.
  QSet<int> durationRights, badgeLefts;
  QSet<bool> badgeShown;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QLabel* duration = live->captureDurationLabel();
    QLabel* badge = live->recIndicatorView();
    durationRights << duration->mapTo(live, QPoint(duration->width(), 0)).x();
    badgeLefts << badge->mapTo(live, QPoint(0, 0)).x();
    badgeShown << badge->isVisible();
  });
  watch.start(50);
  const QDateTime started = live->recording().vlDocument()->docCaptureDate();
  ASSERT_TRUE(Test_WaitUntil([&] { return started.msecsTo(QDateTime::currentDateTime()) >= 20000; }, 40000));
  watch.stop();
  EXPECT_EQ(badgeShown.size(), 2) << "the badge blinks";
  EXPECT_EQ(durationRights.size(), 1) << "the duration stays where it is";
  EXPECT_EQ(badgeLefts.size(), 1) << "the badge stays where it is";

  live->toggleCapture();
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }, 20000));
  // Every fragment but the last one lasts the fragment length, to within one picture.
  const QList<double> starts = TestMovie_VideoFragmentStarts(package + QStringLiteral("/VLCapturedMovie.mp4"));
  ASSERT_GE(starts.size(), 9);
  QStringList lengths;
  for (qsizetype i = 1; i < starts.size(); ++i) lengths << QString::number(starts[i] - starts[i - 1], 'f', 3);
  for (qsizetype i = 1; i < starts.size(); ++i)
    EXPECT_NEAR(starts[i] - starts[i - 1], 2.0, kFrame) << "fragment " << i << " of " << lengths.join(", ").toStdString();
}

namespace {
// The bytes of every file of a package, by name: what a kept recording must still hold later.
QMap<QString, QByteArray> packageContents(const QString& package) {
  QMap<QString, QByteArray> contents;
  for (const QFileInfo& item : QDir(package).entryInfoList(QDir::Files | QDir::Hidden)) {
    QFile file(item.absoluteFilePath());
    if (file.open(QIODevice::ReadOnly)) contents.insert(item.fileName(), file.readAll());
  }
  return contents;
}
}  // namespace

// A second start in a window whose recording was just stopped (a double press, the menu's command)
// began a new recording in the closing window, which removed the package just kept. A window that has
// recorded starts nothing; a package recorded in this run is not removed even when the naming panel is
// told to replace it.
TEST_F(LiveWindowRecording, AStoppedWindowStartsNothingAndARecordingOfThisRunIsNeverReplaced) {
  ZRNAppDelegate delegate;
  prefs->setAskForCaptureStop(false);
  const QString folder = Test_MakeTempDir(QStringLiteral("recordings"));
  QString package;
  ASSERT_NO_FATAL_FAILURE(openAndRecord(folder, package));
  // The start is pressed again as soon as the stop's step has run and the button reads "Start Recording".
  bool pressedAgain = false;
  QObject::connect(&live->recording(), &VLLiveWC_Recording::recordingStopped, live, [&] {
    if (pressedAgain) return;
    EXPECT_EQ(live->recordButton()->text(), QStringLiteral("Start Recording"));
    EXPECT_FALSE(live->recordButton()->isEnabled());
    delegate.setKeyWindowForTesting(live);
    EXPECT_FALSE(delegate.validateMenuItem(delegate.mainMenu()->action(QStringLiteral("startRecording"))));
    live->toggleCapture();
    delegate.startRecording();
    pressedAgain = true;
  });
  live->recordButton()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return pressedAgain && !live->isVisible(); }, 20000));
  // Once closed too.
  delegate.startRecording();
  Test_ProcessEvents(200);
  EXPECT_FALSE(live->isRecording());
  expectKeptPackage(package, 1.5);
  EXPECT_EQ(QDir(folder).entryList({QStringLiteral("*.vlvidcapb")}, QDir::Dirs), QStringList{QFileInfo(package).fileName()});
  const QMap<QString, QByteArray> kept = packageContents(package);
  delete live;
  for (const QPointer<QWidget>& window : delegate.playbackWindows()) delete window.data();

  // A new window named after that package, the panel's Replace answered: it records beside it.
  live = new VLLiveWC;
  live->show();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->savePanel() && live->savePanel()->isVisible(); }));
  QFileDialog* panel = live->savePanel();
  panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QFileInfo(package).completeBaseName());
  Test_AnswerNextModal(QStringLiteral("replaceBtn"), {}, panel);
  QMetaObject::invokeMethod(panel, "accept");
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));
  ASSERT_EQ(live->confirmedReplacementPath(), package);
  live->recordButton()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->capturedMovieURL().isEmpty(); }, 20000));
  const QString second = live->recording().documentPackageFolderURL().toLocalFile();
  EXPECT_FALSE(second.isEmpty());
  EXPECT_NE(second, package);
  EXPECT_EQ(packageContents(package), kept) << "the recording of this run is left whole";
  live->toggleCapture();
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }, 20000));
  expectKeptPackage(second, 1.0);
  // The recents name the package the recording went into.
  EXPECT_EQ(Test_RecentPathsOf(delegate).value(0), second);
  for (const QPointer<QWidget>& window : delegate.playbackWindows()) delete window.data();
}

// A recording is listed among the recent sessions from its start, and the preferences file on disk
// names it while it runs: after a kill it is one click away.
TEST_F(LiveWindowRecording, ARecordingIsARecentSessionFromItsStart) {
  ZRNAppDelegate delegate;
  prefs->setAskForCaptureStop(false);
  QString package;
  ASSERT_NO_FATAL_FAILURE(openAndRecord(Test_MakeTempDir(QStringLiteral("recordings")), package));
  EXPECT_TRUE(live->isRecording());
  EXPECT_EQ(Test_RecentPathsOf(delegate).value(0), package);
  QFile stored(StandardLocations::preferencesFilePath());
  ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
  EXPECT_TRUE(QString::fromUtf8(stored.readAll()).contains(package)) << "what a kill leaves names the recording";
  EXPECT_TRUE(delegate.mainMenu()->recentsMenu()->actions().value(0) &&
              delegate.mainMenu()->recentsMenu()->actions().value(0)->text() == QFileInfo(package).completeBaseName());
  live->toggleCapture();
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }, 20000));
  // Kept, it stays the one entry at the top.
  EXPECT_EQ(Test_RecentPathsOf(delegate), QStringList{package});
  for (const QPointer<QWidget>& window : delegate.playbackWindows()) delete window.data();
}

// The delegate's answers about the running recording came from a document the live window never sets,
// so playback was never muted. Asked of the real delegate while the virtual devices record.
TEST_F(LiveWindowRecording, ARecordingWithSoundMutesSavedSessionsAsThePreferenceSays) {
  const QString sessions = Test_MakeTempDir(QStringLiteral("sessions"));
  const QString saved = sessions + QStringLiteral("/Saved.vlvidcapb");
  ASSERT_TRUE(QDir().mkpath(saved));
  ASSERT_TRUE(PlaybackTest_MakeMovie(saved + QStringLiteral("/VLCapturedMovie.mov"), 4.0));
  ASSERT_TRUE(PlaybackTest_Document(saved)->updateSettingsFile());
  const struct {
    const char* name;
    bool closePlayback;  // the preference closeAudioPlaybackWhenRecording
    float whileRecording;
  } cases[] = {{"the preference closes playback", true, 0.0f}, {"an outside microphone, preference off", false, 1.0f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZRNAppDelegate delegate;
    prefs->setAskForCaptureStop(false);
    prefs->setCloseAudioPlaybackWhenRecording(c.closePlayback);
    delegate.addZRNRecentItemForPath(saved);
    delegate.U_OpenWindowForTopDoc();
    QPointer<VLPlaybackWC> window = qobject_cast<VLPlaybackWC*>(delegate.playbackWindows().value(0).data());
    ASSERT_FALSE(window.isNull());
    ASSERT_TRUE(PlaybackTestHost::waitUntilPlayable(window));
    const std::shared_ptr<Player> player = window->player();
    ASSERT_TRUE(Test_WaitUntil([&] { return player->volume() == 1.0f; }));
    player->setVolume(0.5f);

    QString package;
    ASSERT_NO_FATAL_FAILURE(openAndRecord(Test_MakeTempDir(QStringLiteral("recordings")), package));
    ASSERT_TRUE(live->recording().vlDocument()->captureAudio());
    EXPECT_TRUE(delegate.recordingCapturesAudio());
    EXPECT_FALSE(delegate.recordingMicrophoneIsBuiltIn()) << "the virtual microphone is an outside one";
    EXPECT_TRUE(Test_WaitUntil([&] { return player->volume() == c.whileRecording; })) << player->volume();
    live->toggleCapture();
    ASSERT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }, 20000));
    EXPECT_FALSE(delegate.recordingCapturesAudio());
    EXPECT_TRUE(Test_WaitUntil([&] { return player->volume() == 1.0f; })) << "full volume once the recording ended";
    delete live;
    for (const QPointer<QWidget>& each : delegate.playbackWindows()) delete each.data();
    Test_ProcessEvents(50);
  }
}

// Ctrl+R given while the camera still opens waits for it, and from then on the recording alone decides
// about itself: a set-up of the session that ends later (the launch's, one after the preferences closed)
// neither marks it stopped nor removes its package, and the end of the process stops and saves it.
TEST_F(LiveWindowRecording, AStartWhileTheCameraOpensWaitsAndTheRecordingIsItsOwn) {
  enum class Then { Terminate, PreferencesClosedWhileWaiting, PreferencesClosedBeforeTheKeepStep, WindowClosedWhileWaiting };
  const struct {
    const char* name;
    Then then;
  } orders[] = {{"then the end of the process", Then::Terminate},
                {"then the preferences opened and closed before the picture", Then::PreferencesClosedWhileWaiting},
                {"then the preferences opened and closed between the stop and its keep step", Then::PreferencesClosedBeforeTheKeepStep},
                {"then the window closed before the picture", Then::WindowClosedWhileWaiting}};
  qputenv("VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS", "1500");
  const std::shared_ptr<void> unset(nullptr, [](void*) { qunsetenv("VELMORA_VIRTUAL_CAMERA_OPEN_DELAY_MS"); });
  for (const auto& order : orders) {
    SCOPED_TRACE(order.name);
    ZRNAppDelegate delegate;
    prefs->setAskForCaptureStop(false);
    const QString folder = Test_MakeTempDir(QStringLiteral("recordings"));
    ASSERT_NO_FATAL_FAILURE(openAndName(folder));
    Test_ProcessEvents(50);
    ASSERT_FALSE(live->sessionRunning()) << "the camera opened before the keys came";
    delegate.setKeyWindowForTesting(live);
    QAction* start = delegate.mainMenu()->action(QStringLiteral("startRecording"));
    EXPECT_TRUE(delegate.validateMenuItem(start));
    delegate.startRecording();
    // The start waits, and the window says so.
    EXPECT_EQ(live->recordButton()->text(), QStringLiteral("Stop Recording"));
    EXPECT_FALSE(live->recordButton()->isEnabled());
    EXPECT_TRUE(live->footageProgress()->isVisible());
    EXPECT_TRUE(VLLiveWC_RecordingUnderWay());
    EXPECT_FALSE(delegate.validateMenuItem(start));
    const std::shared_ptr<LiveCaptureController> capture = live->captureController();
    if (order.then == Then::WindowClosedWhileWaiting) {
      live->close();
      EXPECT_FALSE(live && live->isVisible());
      std::atomic<bool> queueDone{false};
      capture->sessionQueue()->async([&queueDone] { queueDone = true; });
      ASSERT_TRUE(Test_WaitUntil([&] { return queueDone.load(); }, 20000));
      Test_ProcessEvents(200);
      EXPECT_TRUE(QDir(folder).entryList({QStringLiteral("*.vlvidcapb")}, QDir::Dirs).isEmpty());
      EXPECT_FALSE(VLLiveWC_RecordingUnderWay());
      delete live;
      continue;
    }
    if (order.then == Then::PreferencesClosedWhileWaiting) {
      delegate.showHidePreferencesWindow();
      ZRNPrefsController::existingController()->close();
    }
    QString package;
    ASSERT_NO_FATAL_FAILURE(waitUntilRecording(folder, package));
    // The launch's set-up has ended by now: the button is the recording's.
    EXPECT_EQ(live->recordButton()->text(), QStringLiteral("Stop Recording"));
    EXPECT_TRUE(live->recordButton()->isEnabled());
    if (order.then == Then::Terminate) {
      delegate.applicationWillTerminate();
      EXPECT_TRUE(live.isNull());
    } else {
      if (order.then == Then::PreferencesClosedBeforeTheKeepStep) {
        QObject::connect(&live->recording(), &VLLiveWC_Recording::recordingStopped, live, [&delegate] {
          delegate.showHidePreferencesWindow();
          ZRNPrefsController::existingController()->close();
        });
      }
      live->toggleCapture();
      ASSERT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }, 20000));
      delete live;
    }
    expectKeptPackage(package, 1.0);
    for (const QPointer<QWidget>& window : delegate.playbackWindows()) delete window.data();
    ZRNPrefsController::releaseSharedController();
    Test_ProcessEvents(50);
  }
}
