#include "capture/VLDocument.h"

#include "app/ScopedTimeZone.h"
#include "app/ZRNAppPrefs.h"
#include "app/ZRNJSONBridge.h"
#include "app/ZRNSystemFunctions.h"
#include "capture/ZRNGoalTag.h"
#include "capture/ZRNMatchPeriod.h"
#include "capture/ZRNTagRecord.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

namespace {

QVariant I(qint64 v) { return QVariant::fromValue<qint64>(v); }

// A session package folder of its own for each test.
QUrl MakePackage() {
  const QString path = Test_MakeTempDir(QStringLiteral("Session")) + QStringLiteral(".") + kVLPackageExtension;
  QDir().mkpath(path);
  return QUrl::fromLocalFile(path);
}

QString SettingsPath(const QUrl& package) { return package.toLocalFile() + QStringLiteral("/VLSettings.json"); }

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(data);
}

// A document with its machine-dependent fields fixed.
std::unique_ptr<VLDocument> FixedDocument() {
  auto doc = std::make_unique<VLDocument>();
  doc->setDocCaptureDate(QDateTime(QDate(2021, 6, 30), QTime(18, 5, 9, 120), Qt::LocalTime));
  doc->setCaptureMacOS(QStringLiteral("6.1.0"));
  doc->setCaptureMachine(QStringLiteral("Test Machine"));
  doc->setAppVersion(QStringLiteral("1.1.7"));
  return doc;
}

QVariantMap Job(qint64 status, bool cancelled, const QString& title) {
  return {{"title", title},
          {"comment", QString()},
          {"date", QDateTime(QDate(2021, 7, 1), QTime(10, 0), Qt::LocalTime)},
          {"status", I(status)},
          {"cancelled", cancelled},
          {"activityType", I(101)},
          {"displayExpanded", false},
          {"activityBadgeString", QStringLiteral("CLIP")},
          {"exportSettings", QVariantMap{{"startTimeMillis", I(5000)}, {"durationMillis", I(20000)}}}};
}

QVariantMap LoadFile(const QUrl& package) { return JSON_CFFromJSONData(ReadFile(SettingsPath(package))).toMap(); }

std::unique_ptr<VLDocument> Reload(const QUrl& package) {
  auto doc = std::make_unique<VLDocument>();
  doc->setDocURL(package);
  EXPECT_TRUE(doc->loadSettingsFile());
  return doc;
}

class TestWindow : public QObject, public VLDocumentWindowController {
 public:
  void updateVLDoc() override { ++saves; }
  int saves = 0;
};

}  // namespace

TEST(VLDocument, NewDocumentSavedAtOnceMatchesTheGoldenFile) {
  const ScopedTimeZone zone("XST-2");
  const QUrl package = MakePackage();
  auto doc = FixedDocument();
  doc->setDocURL(package);
  doc->updateSettingsFile();
  const QByteArray golden = ReadFile(Test_SourcePath(QStringLiteral("tests/capture/data/VLSettings_new.json")));
  ASSERT_FALSE(golden.isEmpty());
  EXPECT_EQ(ReadFile(SettingsPath(package)).toStdString(), golden.toStdString());
}

TEST(VLDocument, NewDocumentDefaults) {
  const QDateTime before = QDateTime::currentDateTime();
  VLDocument doc;
  EXPECT_EQ(doc.versionNum(), 1001007);
  EXPECT_EQ(doc.captureApp(), QStringLiteral("Velmora"));
  EXPECT_EQ(doc.captureMacOS(), Sys_OSVersionString());
  EXPECT_EQ(doc.captureMachine(), Sys_MachineModel());
  EXPECT_FALSE(doc.appVersion().isEmpty());
  EXPECT_GE(doc.docCaptureDate(), before);
  EXPECT_TRUE(doc.jobsArray().isEmpty());
  EXPECT_TRUE(doc.tagsArray().isEmpty());
  EXPECT_EQ(doc.frameSize(), QSizeF(0, 0));
  EXPECT_FALSE(doc.hasAudioDevice());
  EXPECT_TRUE(doc.cameraName().isNull());
  EXPECT_EQ(doc.windowController(), nullptr);
  const QVariantMap saved = doc.dictionaryToSave();
  EXPECT_FALSE(saved.contains(QStringLiteral("exportJobs")));
  EXPECT_FALSE(saved.contains(QStringLiteral("tags")));
  EXPECT_FALSE(saved.contains(QStringLiteral("VLCameraName")));
}

TEST(VLDocument, CapturePropertiesComeFromThePreferences) {
  ZRNAppPrefs prefs;
  prefs.setFragmentSeconds(3);
  prefs.setCaptureFileType(QStringLiteral("video/mp4"));
  prefs.setSegmentKBPS(6000);
  prefs.setNumInitialMillisToReject(250);
  prefs.setCameraUID(QStringLiteral("cam-uid"));
  prefs.setCameraName(QStringLiteral("Cam"));
  prefs.setCameraIndex(2);
  prefs.setCapturePresetIndex(4);
  prefs.setMovieSize(QSizeF(1280, 720));
  prefs.setCaptureFPS(25.0f);
  prefs.setCaptureMediaSubType(0x79757673);
  prefs.setHasAudioDevice(true);
  prefs.setCaptureAudio(true);
  prefs.setMicrophoneUID(QStringLiteral("mic-uid"));
  prefs.setMicrophoneName(QStringLiteral("Mic"));
  prefs.setMicrophoneIsBuiltIn(true);
  prefs.setMicrophoneIndex(1);
  prefs.setMicrophonePresetIndex(2);
  prefs.setMicrophoneCaptureRate(48000);
  auto doc = FixedDocument();
  doc->U_LoadCaptureProperties(prefs);
  EXPECT_EQ(doc->segmentSeconds(), 3.0f);
  EXPECT_EQ(doc->captureFileType(), QStringLiteral("video/mp4"));
  EXPECT_EQ(doc->segmentKBPS(), 6000);
  EXPECT_EQ(doc->initialMillisToClip(), 250);
  EXPECT_EQ(doc->videoCodecType(), QStringLiteral("avc1"));
  EXPECT_EQ(doc->cameraUID(), QStringLiteral("cam-uid"));
  EXPECT_EQ(doc->cameraName(), QStringLiteral("Cam"));
  EXPECT_EQ(doc->cameraIndex(), 2);
  EXPECT_EQ(doc->cameraPresetIndex(), 4);
  EXPECT_EQ(doc->frameSize(), QSizeF(1280, 720));
  EXPECT_EQ(doc->videoFPS(), 25.0f);
  EXPECT_EQ(doc->captureMediaSubType(), 0x79757673u);
  EXPECT_TRUE(doc->hasAudioDevice());
  EXPECT_TRUE(doc->captureAudio());
  EXPECT_EQ(doc->microphoneUID(), QStringLiteral("mic-uid"));
  EXPECT_EQ(doc->microphoneName(), QStringLiteral("Mic"));
  EXPECT_TRUE(doc->microphoneIsBuiltIn());
  EXPECT_EQ(doc->microphoneIndex(), 1);
  EXPECT_EQ(doc->micPresetIndex(), 2);
  EXPECT_EQ(doc->audioCaptureRate(), 48000.0);
  // The origin, the date and the version are the document's own.
  EXPECT_EQ(doc->captureMachine(), QStringLiteral("Test Machine"));
  EXPECT_EQ(doc->docCaptureDate(), FixedDocument()->docCaptureDate());
  EXPECT_EQ(doc->versionNum(), 1001007);
}

TEST(VLDocument, OmissionRules) {
  const struct {
    const char* name;
    std::function<void(VLDocument&)> change;
    const char* key;
    bool present;
  } cases[] = {
      {"version 0", [](VLDocument& d) { d.setVersionNum(0); }, "VLDocVersion", false},
      {"negative version", [](VLDocument& d) { d.setVersionNum(-3); }, "VLDocVersion", false},
      {"empty camera name", [](VLDocument& d) { d.setCameraName(QStringLiteral("")); }, "VLCameraName", false},
      {"camera name", [](VLDocument& d) { d.setCameraName(QStringLiteral("Cam")); }, "VLCameraName", true},
      {"empty microphone name", [](VLDocument& d) { d.setMicrophoneName(QString()); }, "VLMicrophoneName", false},
      {"empty app", [](VLDocument& d) { d.setCaptureApp(QString()); }, "VLCaptureApp", false},
      {"no date", [](VLDocument& d) { d.setDocCaptureDate(QDateTime()); }, "VLCaptureDate", false},
      {"false boolean still saved", [](VLDocument& d) { d.setCaptureAudio(false); }, "VLCaptureAudio", true},
      {"zero index still saved", [](VLDocument& d) { d.setMicrophoneIndex(0); }, "VLMicrophoneIndex", true},
      {"zero rate still saved", [](VLDocument& d) { d.setAudioCaptureRate(0); }, "VLAudioCaptureRate", true},
      {"no tags", [](VLDocument& d) { d.tagsArray().clear(); }, "tags", false},
      {"a tag", [](VLDocument& d) { d.tagsArray().append(TagRecord_MakePoint(kTagRecord_InPoint, 1)); }, "tags", true},
      {"two waiting jobs", [](VLDocument& d) { d.loadJobsArray({Job(0, false, "a"), Job(0, false, "b")}); }, "exportJobs", false},
      {"an exporting job", [](VLDocument& d) { d.loadJobsArray({Job(1, false, "a")}); }, "exportJobs", false},
      {"a cancelled exporting job", [](VLDocument& d) { d.loadJobsArray({Job(1, true, "a")}); }, "exportJobs", true},
      {"a finished job", [](VLDocument& d) { d.loadJobsArray({Job(2, false, "a")}); }, "exportJobs", true},
  };
  for (const auto& c : cases) {
    VLDocument doc;
    c.change(doc);
    EXPECT_EQ(doc.dictionaryToSave().contains(QString::fromLatin1(c.key)), c.present) << c.name;
  }
}

TEST(VLDocument, JobQueriesWalkTheListInOrder) {
  VLDocument doc;
  doc.loadJobsArray({Job(0, false, "newest waiting"), Job(1, false, "exporting"), Job(1, true, "cancelled while exporting"),
                     Job(2, false, "finished"), Job(3, true, "cancelled"), Job(0, false, "oldest waiting"),
                     QVariant(5), QVariant(QStringLiteral("not a job"))});
  ASSERT_EQ(doc.jobsArray().size(), 6);
  EXPECT_EQ(doc.numberOfPendingJobs(), 3);
  EXPECT_EQ(doc.numberOfWaitingJobs(), 2);
  EXPECT_EQ(doc.numberOfFinishedJobs(), 3);
  const auto waiting = doc.waitingJobs();
  EXPECT_EQ(waiting.at(0)->dictionaryToSave().value("title"), QStringLiteral("newest waiting"));
  EXPECT_EQ(waiting.at(1)->dictionaryToSave().value("title"), QStringLiteral("oldest waiting"));
  // Every job is saved, whatever its status, newest first.
  const QVariantList saved = doc.dictionaryToSave().value("exportJobs").toList();
  ASSERT_EQ(saved.size(), 6);
  EXPECT_EQ(saved.first().toMap().value("title"), QStringLiteral("newest waiting"));
  EXPECT_EQ(saved.last().toMap().value("title"), QStringLiteral("oldest waiting"));
}

TEST(VLDocument, JobsSurviveASaveUnchanged) {
  const QUrl package = MakePackage();
  {
    VLDocument doc;
    doc.setDocURL(package);
    doc.loadJobsArray({Job(0, false, "waiting"), Job(2, false, "finished"), Job(1, false, "exporting")});
    doc.updateSettingsFile();
  }
  auto doc = Reload(package);
  ASSERT_EQ(doc->jobsArray().size(), 3);
  EXPECT_EQ(doc->jobsToSave(), LoadFile(package).value("exportJobs").toList());
  const QVariantMap first = doc->jobsArray().at(0)->dictionaryToSave();
  EXPECT_EQ(first.value("title"), QStringLiteral("waiting"));
  EXPECT_EQ(first.value("exportSettings").toMap().value("durationMillis"), I(20000));
  EXPECT_EQ(first.value("date").toDateTime(), QDateTime(QDate(2021, 7, 1), QTime(10, 0), Qt::LocalTime));

  // Waiting jobs alone are not kept: the reloaded list is empty.
  const QUrl other = MakePackage();
  VLDocument waitingOnly;
  waitingOnly.setDocURL(other);
  waitingOnly.loadJobsArray({Job(0, false, "a"), Job(0, false, "b")});
  waitingOnly.updateSettingsFile();
  EXPECT_TRUE(Reload(other)->jobsArray().isEmpty());
}

TEST(VLDocument, LoadingFallsBackForMissingAndOlderKeys) {
  const struct {
    const char* name;
    QVariantMap dict;
    float segmentSeconds;
  } fragmentCases[] = {
      {"former name used when the current one is 0", {{"VLFragmentSeconds", 0.0}, {"VLSegmentSeconds", I(2)}}, 2.0f},
      {"former name alone", {{"VLSegmentSeconds", 4.5}}, 4.5f},
      {"current name wins", {{"VLFragmentSeconds", 1.5}, {"VLSegmentSeconds", I(2)}}, 1.5f},
      {"neither", {}, 0.0f},
      {"wrong type falls back too", {{"VLFragmentSeconds", QStringLiteral("3")}, {"VLSegmentSeconds", I(6)}}, 6.0f},
  };
  for (const auto& c : fragmentCases) {
    VLDocument doc;
    doc.loadFromDictionary(c.dict);
    EXPECT_EQ(doc.segmentSeconds(), c.segmentSeconds) << c.name;
  }

  VLDocument doc;
  doc.loadFromDictionary({{"VLCaptureMacOS", QStringLiteral("")}, {"VLCaptureMachineType", QStringLiteral("Mac")}, {"VLCaptureAppVersion", 7}});
  EXPECT_EQ(doc.captureApp(), QStringLiteral("N/A"));
  EXPECT_EQ(doc.captureMacOS(), QStringLiteral("N/A"));
  EXPECT_EQ(doc.captureMachine(), QStringLiteral("Mac"));
  EXPECT_EQ(doc.appVersion(), QStringLiteral("N/A"));
  EXPECT_EQ(doc.versionNum(), 0);
  EXPECT_FALSE(doc.docCaptureDate().isValid());
  const QVariantMap saved = doc.dictionaryToSave();
  EXPECT_EQ(saved.value("VLCaptureApp"), QStringLiteral("N/A"));
  EXPECT_FALSE(saved.contains("VLDocVersion"));
  EXPECT_FALSE(saved.contains("VLCaptureDate"));
}

TEST(VLDocument, WrongTypesCountAsAbsent) {
  const QUrl package = MakePackage();
  WriteFile(SettingsPath(package), R"({
    "VLDocVersion": "1001007",
    "VLCameraIndex": "3",
    "VLCameraName": 7,
    "VLCaptureDate": 5,
    "VLHasAudioDevice": "yes",
    "VLCaptureAudio": 1,
    "VLFrameWidth": [1920],
    "VLFrameHeight": 1080,
    "VLVideoFPS": 1e300,
    "VLCaptureMediaSubType": 875704438,
    "VLSegmentKBPS": 1e30,
    "tags": {"tagTitle": "inPoint"},
    "exportJobs": [1, {"status": 2, "title": "kept"}, null]
})");
  VLDocument doc;
  doc.setDocURL(package);
  ASSERT_TRUE(doc.loadSettingsFile());
  EXPECT_EQ(doc.versionNum(), 0);
  EXPECT_EQ(doc.cameraIndex(), 0);
  EXPECT_TRUE(doc.cameraName().isNull());
  EXPECT_FALSE(doc.docCaptureDate().isValid());
  EXPECT_FALSE(doc.hasAudioDevice());
  EXPECT_TRUE(doc.captureAudio());
  EXPECT_EQ(doc.frameSize(), QSizeF(0, 1080));
  EXPECT_TRUE(std::isfinite(doc.videoFPS()));
  EXPECT_EQ(doc.captureMediaSubType(), 875704438u);
  EXPECT_EQ(doc.segmentKBPS(), 0);
  EXPECT_TRUE(doc.tagsArray().isEmpty());
  ASSERT_EQ(doc.jobsArray().size(), 1);
  EXPECT_EQ(doc.numberOfFinishedJobs(), 1);
}

TEST(VLDocument, FramesPerSecondKeepsItsFraction) {
  const QUrl package = MakePackage();
  VLDocument doc;
  doc.setDocURL(package);
  doc.setVideoFPS(29.97f);
  doc.setSegmentSeconds(2.5f);
  doc.setAudioCaptureRate(44100.0);
  doc.setFrameSize(QSizeF(1920, 1080));
  doc.updateSettingsFile();
  auto back = Reload(package);
  EXPECT_EQ(back->videoFPS(), 29.97f);
  EXPECT_EQ(back->segmentSeconds(), 2.5f);
  EXPECT_EQ(back->audioCaptureRate(), 44100.0);
  EXPECT_EQ(back->frameSize(), QSizeF(1920, 1080));
}

TEST(VLDocument, FullSaveAndReloadKeepsEveryMark) {
  const ScopedTimeZone zone("XST+3");
  const QUrl package = MakePackage();
  auto doc = FixedDocument();
  doc->setDocURL(package);
  doc->setHasAudioDevice(true);
  doc->setCaptureAudio(true);
  doc->setSegmentSeconds(2);
  doc->setInitialMillisToClip(500);
  doc->setCaptureFileType(QStringLiteral("video/mp4"));
  doc->setVideoCodecType(QStringLiteral("avc1"));
  doc->setSegmentKBPS(8000);
  doc->setCameraUID(QStringLiteral("usb-0000:00:14.0-1"));
  doc->setCameraName(QStringLiteral("Kamera Müller"));
  doc->setCameraIndex(1);
  doc->setCameraPresetIndex(3);
  doc->setFrameSize(QSizeF(1920, 1080));
  doc->setVideoFPS(29.97f);
  doc->setCaptureMediaSubType(0x32767579);
  doc->setMicrophoneUID(QStringLiteral("alsa_input.usb"));
  doc->setMicrophoneName(QStringLiteral("Mic"));
  doc->setMicrophoneIsBuiltIn(true);
  doc->setMicrophoneIndex(2);
  doc->setMicPresetIndex(1);
  doc->setAudioCaptureRate(48000);
  ZRNMatchPeriod first(1), second(2);
  first.setStartMillis(0);
  first.setEndMillis(2700000);
  second.setStartMillis(3000000000LL);  // past 2^31 - 1: must survive a save
  ZRNGoalTag goal;
  goal.setTeamNum(2);
  goal.setEventMillis(754);
  doc->tagsArray() = {TagRecord_MakePoint(kTagRecord_InPoint, 1500), TagRecord_MakePoint(kTagRecord_OutPoint, 9000),
                      TagRecord_MakePeriod(first), TagRecord_MakePeriod(second), TagRecord_MakeGoal(goal),
                      TagRecord_MakeGoal(goal)};
  doc->loadJobsArray({Job(2, false, "done"), Job(0, false, "waiting")});
  doc->updateSettingsFile();
  const QByteArray saved = ReadFile(SettingsPath(package));

  auto back = Reload(package);
  // Saving the reloaded document writes the very same bytes.
  back->updateSettingsFile();
  EXPECT_EQ(ReadFile(SettingsPath(package)).toStdString(), saved.toStdString());

  ASSERT_EQ(back->tagsArray().size(), 6);
  EXPECT_EQ(TagRecord_Title(back->tagsArray().at(0)), kTagRecord_InPoint);
  EXPECT_EQ(back->tagsArray().at(1).value(kTagRecord_MillisKey), I(9000));
  EXPECT_EQ(ZRNMatchPeriod(back->tagsArray().at(2)).endMillis(), 2700000);
  EXPECT_EQ(ZRNMatchPeriod(back->tagsArray().at(3)).startMillis(), 3000000000LL);
  EXPECT_EQ(ZRNGoalTag(back->tagsArray().at(4)).eventMillis(), 754);
  EXPECT_EQ(back->tagsArray().at(4), back->tagsArray().at(5));
  EXPECT_EQ(back->jobsArray().size(), 2);
  EXPECT_EQ(back->docCaptureDate(), doc->docCaptureDate());
  EXPECT_EQ(back->cameraName(), QStringLiteral("Kamera Müller"));
  EXPECT_EQ(back->captureMediaSubType(), 0x32767579u);
  EXPECT_EQ(back->initialMillisToClip(), 500);
  EXPECT_TRUE(back->microphoneIsBuiltIn());
  EXPECT_EQ(back->versionNum(), 1001007);
  // Not saved.
  EXPECT_TRUE(back->homeTeam().isNull());
}

TEST(VLDocument, PythonReadsEveryKeyOfTheSettingsFile) {
  const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
  if (python.isEmpty()) GTEST_SKIP() << "python3 not installed";
  const QUrl package = MakePackage();
  auto doc = FixedDocument();
  doc->setDocURL(package);
  doc->setCaptureFileType(QStringLiteral("video/quicktime"));
  doc->setVideoCodecType(QStringLiteral("avc1"));
  doc->setCameraUID(QStringLiteral("cam"));
  doc->setCameraName(QStringLiteral("Caméra"));
  doc->setMicrophoneUID(QStringLiteral("mic"));
  doc->setMicrophoneName(QStringLiteral("Mic"));
  doc->tagsArray().append(TagRecord_MakePoint(kTagRecord_InPoint, 3000000000LL));
  doc->loadJobsArray({Job(2, false, "done")});
  doc->updateSettingsFile();
  const char* script = R"(
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
keys = ["VLDocVersion", "exportJobs", "tags", "VLCaptureMacOS", "VLCaptureMachineType", "VLCaptureApp",
        "VLCaptureAppVersion", "VLCaptureDate", "VLHasAudioDevice", "VLCaptureAudio", "VLFragmentSeconds",
        "VLInitialMillisRejected", "VLCaptureFileType", "VLVideoCodecType", "VLSegmentKBPS", "VLCameraUID",
        "VLCameraName", "VLCameraIndex", "VLCameraPresetIndex", "VLFrameWidth", "VLFrameHeight", "VLVideoFPS",
        "VLCaptureMediaSubType", "VLMicrophoneUID", "VLMicrophoneName", "VLMicrophoneIsBuiltIn",
        "VLMicrophoneIndex", "VLMicPresetIndex", "VLAudioCaptureRate"]
missing = [k for k in keys if k not in d]
extra = [k for k in d if k not in keys]
assert not missing and not extra, (missing, extra)
assert list(d) == sorted(d), "keys not sorted"
assert d["VLDocVersion"] == 1001007 and d["VLCaptureApp"] == "Velmora"
assert d["VLCameraName"] == "Caméra"
assert d["tags"][0] == {"tagTitle": "inPoint", "tagMillis": 3000000000}
assert isinstance(d["VLHasAudioDevice"], bool) and isinstance(d["VLFrameWidth"], float)
assert d["exportJobs"][0]["title"] == "done"
print("ok")
)";
  QProcess process;
  process.start(python, {QStringLiteral("-c"), QString::fromUtf8(script), SettingsPath(package)});
  ASSERT_TRUE(process.waitForFinished(30000));
  EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
  EXPECT_EQ(process.readAllStandardOutput().trimmed().toStdString(), "ok");
}

TEST(VLDocument, DamagedSettingsFileIsKeptAside) {
  const QUrl package = MakePackage();
  const QByteArray damaged = R"({"VLDocVersion": 1001007, "tags": [{"tagTitle": "inPoint", "tagMi)";
  WriteFile(SettingsPath(package), damaged);
  VLDocument doc;
  doc.setDocURL(package);
  EXPECT_FALSE(doc.loadSettingsFile());
  EXPECT_EQ(ReadFile(SettingsPath(package) + QStringLiteral(".damaged")), damaged);
  // The document keeps what it had; the next save writes a good file beside the kept one.
  EXPECT_EQ(doc.versionNum(), 1001007);
  doc.updateSettingsFile();
  EXPECT_EQ(LoadFile(package).value("VLDocVersion"), I(1001007));
  EXPECT_EQ(ReadFile(SettingsPath(package) + QStringLiteral(".damaged")), damaged);

  // A second damaged file does not replace the first kept one.
  WriteFile(SettingsPath(package), "[1, 2]");
  VLDocument again;
  again.setDocURL(package);
  EXPECT_FALSE(again.loadSettingsFile());
  EXPECT_EQ(ReadFile(SettingsPath(package) + QStringLiteral(".damaged")), damaged);
  EXPECT_EQ(ReadFile(SettingsPath(package) + QStringLiteral(".damaged_1")), QByteArray("[1, 2]"));

  // No file at all is not damage.
  VLDocument fresh;
  fresh.setDocURL(MakePackage());
  EXPECT_FALSE(fresh.loadSettingsFile());
  EXPECT_EQ(QDir(fresh.docURL().toLocalFile()).entryList(QDir::Files), QStringList());
}

TEST(VLDocument, SaveReplacesTheFileInOneStep) {
  const QUrl package = MakePackage();
  VLDocument doc;
  doc.setDocURL(package);
  doc.setCameraName(QStringLiteral("First"));
  doc.updateSettingsFile();
  const QByteArray first = ReadFile(SettingsPath(package));
  // A reader that opened the old file keeps seeing it whole while the new one is written.
  QFile reader(SettingsPath(package));
  ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
  doc.setCameraName(QStringLiteral("Second"));
  doc.tagsArray().append(TagRecord_MakePoint(kTagRecord_OutPoint, 42));
  doc.updateSettingsFile();
  EXPECT_EQ(reader.readAll(), first);
  EXPECT_EQ(LoadFile(package).value("VLCameraName"), QStringLiteral("Second"));
  // Nothing but the settings file is left in the package.
  EXPECT_EQ(QDir(package.toLocalFile()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("VLSettings.json")});
}

TEST(VLDocument, SaveDocGoesThroughTheWindowWhileItLives) {
  VLDocument doc;
  doc.saveDoc();  // no window: nothing happens
  auto window = std::make_unique<TestWindow>();
  doc.setWindowController(window.get());
  EXPECT_EQ(doc.windowController(), window.get());
  doc.saveDoc();
  EXPECT_EQ(window->saves, 1);
  window.reset();
  EXPECT_EQ(doc.windowController(), nullptr);
  doc.saveDoc();
}

TEST(VLDocument, PackageItems) {
  const QUrl package = MakePackage();
  VLDocument doc;
  EXPECT_TRUE(doc.badgeBaseURL().isEmpty());
  doc.setDocURL(package);
  const QString base = package.toLocalFile() + QStringLiteral("/badge_resources");
  EXPECT_EQ(doc.settingsFileURL().toLocalFile(), SettingsPath(package));
  EXPECT_EQ(doc.badgeBaseURL().toLocalFile(), base);
  EXPECT_EQ(doc.badgeTemplateURL().toLocalFile(), base + QStringLiteral("/badge_template.json"));
  EXPECT_TRUE(doc.badgeImageURL().isEmpty());
  QDir().mkpath(base + QStringLiteral("/images"));
  WriteFile(base + QStringLiteral("/images/tessaro_badge.png"), "png");
  EXPECT_EQ(doc.badgeImageURL().toLocalFile(), base + QStringLiteral("/images/tessaro_badge.png"));
  WriteFile(base + QStringLiteral("/images/userBadge.png"), "png");
  EXPECT_EQ(doc.badgeImageURL().toLocalFile(), base + QStringLiteral("/images/userBadge.png"));
}
