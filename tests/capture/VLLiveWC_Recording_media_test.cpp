#include "capture/VLLiveWC_Recording.h"

#include "support/DialogTestSupport.h"
#include "VLLiveWC_RecordingTestHost.h"
#include "app/ZRNAppDelegate.h"
#include "common/ZRNAppPrefs.h"
#include "session/VLDocument.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "platform/media/capture/VirtualDevices.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include <sys/resource.h>

using namespace testmedia;

namespace {

// A live window's recording on the virtual camera and microphone, 1280x720 at 30 fps, 2 s fragments.
struct LiveRig {
  explicit LiveRig(const QString& fileType, const QString& folder) {
    ZRNAppDelegate::initialize();
    prefs.setCaptureFileType(fileType);
    prefs.setCameraName(QString::fromLatin1(kVirtualCameraName));
    prefs.setMovieSize(QSizeF(1280, 720));
    prefs.setCaptureFPS(30);
    prefs.setFragmentSeconds(2);
    prefs.setSegmentKBPS(2000);
    prefs.setHasAudioDevice(true);
    prefs.setCaptureAudio(true);
    prefs.setMicrophoneCaptureRate(48000);
    prefs.setAskForCaptureStop(false);

    VirtualDevices_Plug(true, true);
    auto camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
    QString error;
    EXPECT_TRUE(MediaTest_ConfigureCamera(camera, QSize(1280, 720), kPixelFormat_2vuy, MediaTimeMake(1, 30), &error));
    host.session = std::make_shared<CaptureSession>();
    host.session->beginConfiguration();
    host.session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
    host.session->addInput(CaptureDeviceInput::deviceInputWithDevice(CaptureDevice::deviceWithUniqueID(kVirtualMicrophoneUID), &error));
    host.session->commitConfiguration();
    host.session->startRunning();
    host.target = QUrl::fromLocalFile(folder + QStringLiteral("/Match"));
    package = folder + QStringLiteral("/Match.vlvidcapb");
    moviePath = package + QStringLiteral("/VLCapturedMovie.") + prefs.movieFileExtension();
    host.window()->show();
    rec = std::make_unique<VLLiveWC_Recording>(&host, host.outlets);
    host.recording = rec.get();
    QObject::connect(rec.get(), &VLLiveWC_Recording::recordingStopped, [this](bool keep) { stops.push_back(keep); });
    auto& center = NotificationCenter::defaultCenter();
    observations.emplace_back(center, center.addObserver(kZRNRecordingStateChangedNotification, host.liveWindowObject(), [this](const Notification& n) {
      recIsON.push_back(n.userInfo.value("recIsON").toBool());
      lockAtStateChange.push_back(QFileInfo::exists(lockPath()));
    }));
    observations.emplace_back(center, center.addObserver(kZRNMovieStartedNotificationName, host.liveWindowObject(),
                                                         [this](const Notification& n) { movieStarted.push_back(n.userInfo); }));
  }
  ~LiveRig() {
    rec.reset();
    host.session->stopRunning();
    VirtualDevices_Unplug(true, true);
  }

  QString lockPath() const { return package + QStringLiteral("/VLRecording.lock"); }
  double recordedSeconds() { return MediaTimeGetSeconds(rec->recorder().lastSampleTime() - rec->recorder().movieStartTime()); }
  bool waitForRecorded(double seconds, int timeoutMs = 30000) {
    return Test_WaitUntil([&] { return rec->recorder().movieStarted() && recordedSeconds() >= seconds; }, timeoutMs);
  }

  ZRNAppPrefs prefs;
  TestLiveHost host;
  std::unique_ptr<VLLiveWC_Recording> rec;
  QString package, moviePath;
  std::vector<NotificationObservation> observations;
  std::vector<bool> recIsON;
  std::vector<bool> lockAtStateChange;
  std::vector<QVariantMap> movieStarted;
  std::vector<bool> stops;
};

QString runChild(const QString& mode, const QString& folder, QProcess::ExitStatus* exitStatus) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("VELMORA_LIVE_CHILD"), mode + QLatin1Char(':') + folder);
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=LiveRecordingChild.DISABLED_Record"), QStringLiteral("--gtest_also_run_disabled_tests")});
  child.waitForFinished(120000);
  *exitStatus = child.exitStatus();
  return QString::fromUtf8(child.readAllStandardOutput());
}

QVariantMap readSettings(const QString& package) {
  QFile file(package + QStringLiteral("/VLSettings.json"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object().toVariantMap();
}

}  // namespace

TEST(LiveRecordingMedia, RecordsKeepsAndClosesASessionPackage) {
  const QString types[] = {QString::fromLatin1(kAVFileTypeMPEG4), QString::fromLatin1(kAVFileTypeQuickTimeMovie)};
  for (const QString& type : types) {
    SCOPED_TRACE(type.toStdString());
    LiveRig rig(type, Test_MakeTempDir(QStringLiteral("live")));
    ASSERT_TRUE(rig.host.session->isRunning());
    rig.rec->toggleCapture();
    ASSERT_TRUE(Test_WaitUntil([&] { return rig.recIsON.size() == 1; }));
    EXPECT_TRUE(rig.recIsON[0]);
    EXPECT_TRUE(rig.lockAtStateChange[0]);
    EXPECT_EQ(rig.host.outlets.recordButton->text(), QStringLiteral("Stop Recording"));

    // Playable after 3 s (1.5 fragments): the waiting animation stops once the growing movie loads.
    ASSERT_TRUE(Test_WaitUntil([&] { return rig.host.outlets.footageProgress->isHidden(); }, 20000));
    ASSERT_EQ(rig.movieStarted.size(), 1u);
    EXPECT_EQ(rig.movieStarted[0].value("targetURL").toUrl(), QUrl::fromLocalFile(rig.moviePath));
    EXPECT_EQ(rig.host.volume, 0.0f);

    ASSERT_TRUE(rig.waitForRecorded(6.0));
    EXPECT_TRUE(QFileInfo::exists(rig.lockPath()));
    rig.rec->toggleCapture();
    ASSERT_TRUE(Test_WaitUntil([&] { return rig.stops.size() == 1 && rig.host.teardowns.load() == 1; }, 20000));
    EXPECT_TRUE(rig.stops[0]);
    // A confirmed stop closes the window once the footage is kept; the session is not rebuilt.
    ASSERT_TRUE(Test_WaitUntil([&] { return !rig.host.window()->isVisible(); }));
    EXPECT_FALSE(rig.host.lastRebuild);
    EXPECT_EQ(rig.host.outlets.recIndicatorView->text(), QStringLiteral("LIVE"));
    EXPECT_EQ(rig.recIsON, std::vector<bool>({true, false}));
    ASSERT_EQ(rig.movieStarted.size(), 2u);
    EXPECT_TRUE(rig.movieStarted[1].value("isLast").toBool());
    EXPECT_FALSE(QFileInfo::exists(rig.lockPath()));

    const QVariantMap settings = readSettings(rig.package);
    EXPECT_EQ(QStringList(settings.keys()), QStringList(rig.rec->vlDocument()->dictionaryToSave().keys()));
    EXPECT_FALSE(settings.isEmpty());
    // The movie's contents are the recorder tests' concern; here: it is the whole recording.
    const QJsonObject probe = ffprobe(rig.moviePath);
    EXPECT_EQ(streamOfType(probe, "audio").value("codec_name").toString(), "aac");
    EXPECT_NEAR(formatDuration(probe), 6.0, 0.5);
    EXPECT_GE(topLevelBoxes(rig.moviePath).count("moof"), 2);
  }
}

TEST(LiveRecordingMedia, UnpluggedCameraStopsTheRecordingWithAnAlertAndKeepsIt) {
  LiveRig rig(QString::fromLatin1(kAVFileTypeMPEG4), Test_MakeTempDir(QStringLiteral("live")));
  rig.prefs.setCameraUID(QString::fromLatin1(kVirtualCameraUID));
  rig.rec->toggleCapture();
  ASSERT_TRUE(rig.waitForRecorded(2.5));
  QString alertText;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) { alertText = Test_LabelsText(modal); });
  VirtualDevices_Unplug(true, false);
  ASSERT_TRUE(Test_WaitUntil([&] { return rig.stops.size() == 1 && !QFileInfo::exists(rig.lockPath()); }, 20000));
  EXPECT_TRUE(rig.stops[0]);
  ASSERT_TRUE(Test_WaitUntil([&] { return !alertText.isEmpty(); }));
  EXPECT_TRUE(alertText.contains(QStringLiteral("The recording was stopped because the movie could not be written.")));
  EXPECT_TRUE(alertText.contains(QString::fromLatin1(kVirtualCameraName))) << alertText.toStdString();
  EXPECT_EQ(rig.host.outlets.recIndicatorView->text(), QStringLiteral("LIVE"));
  EXPECT_GE(decodableVideoFrames(rig.moviePath), 60);
}

TEST(LiveRecordingMedia, KilledWhileRecordingKeepsLockSettingsAndPlayableMovie) {
  const QString folder = Test_MakeTempDir(QStringLiteral("live"));
  QProcess::ExitStatus exit;
  runChild(QStringLiteral("kill"), folder, &exit);
  EXPECT_EQ(exit, QProcess::CrashExit);
  const QString package = folder + QStringLiteral("/Match.vlvidcapb");
  EXPECT_TRUE(QFileInfo(package + QStringLiteral("/VLRecording.lock")).isFile());
  EXPECT_EQ(readSettings(package).value("VLCaptureFileType").toString(), QString::fromLatin1(kAVFileTypeMPEG4));
  const QString movie = package + QStringLiteral("/VLCapturedMovie.mp4");
  EXPECT_GE(formatDuration(ffprobe(movie)), 3.9);
  EXPECT_GE(decodableVideoFrames(movie), 60);
}

TEST(LiveRecordingMedia, WritesThatStartFailingStopTheRecordingWithAnAlert) {
  const QString folder = Test_MakeTempDir(QStringLiteral("live"));
  QProcess::ExitStatus exit;
  const QString out = runChild(QStringLiteral("fsize"), folder, &exit);
  EXPECT_EQ(exit, QProcess::NormalExit);
  EXPECT_TRUE(out.contains(QStringLiteral("stopped keep=1"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("The recording was stopped because the movie could not be written.")))
      << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("File too large"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("recIsON=1,0"))) << out.toStdString();
  const QString package = folder + QStringLiteral("/Match.vlvidcapb");
  EXPECT_FALSE(QFileInfo::exists(package + QStringLiteral("/VLRecording.lock")));
  EXPECT_FALSE(readSettings(package).isEmpty());
  const QString movie = package + QStringLiteral("/VLCapturedMovie.mp4");
  EXPECT_GE(topLevelBoxes(movie).count("moof"), 1);
  EXPECT_GE(decodableVideoFrames(movie), 30);
}

// Run only as the child of the tests above.
TEST(LiveRecordingChild, DISABLED_Record) {
  const QString spec = qEnvironmentVariable("VELMORA_LIVE_CHILD");
  if (spec.isEmpty()) GTEST_SKIP();
  const QString mode = spec.section(':', 0, 0);
  const QString folder = spec.section(':', 1);
  LiveRig rig(QString::fromLatin1(kAVFileTypeMPEG4), folder);
  if (mode == QLatin1String("fsize")) {
    // Writes beyond the limit fail with EFBIG, as on a full disk, whoever runs the test.
    struct rlimit limit{800 * 1024, 800 * 1024};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    Test_AnswerNextModal(QStringLiteral("okBtn"), [](QWidget* modal) {
      printf("alert: %s\n", qPrintable(Test_LabelsText(modal)));
      fflush(stdout);
    });
  }
  rig.rec->toggleCapture();
  if (mode == QLatin1String("kill")) {
    rig.waitForRecorded(4.5);
    Test_WaitUntil([&] { return topLevelBoxes(rig.moviePath).count("mdat") >= 2; }, 20000);
    raise(SIGKILL);
  }
  Test_WaitUntil([&] { return rig.stops.size() == 1 && !QFileInfo::exists(rig.lockPath()); }, 60000);
  printf("stopped keep=%d\n", rig.stops.empty() ? -1 : int(rig.stops[0]));
  QStringList states;
  for (bool on : rig.recIsON) states << QString::number(int(on));
  printf("recIsON=%s\n", qPrintable(states.join(',')));
  fflush(stdout);
}
