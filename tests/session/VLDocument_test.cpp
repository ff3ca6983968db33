#include "session/VLDocument.h"

#include "support/ScopedTimeZone.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNJSONBridge.h"
#include "session/ZRNMatchPeriod.h"
#include "session/ZRNTagRecord.h"
#include "support/FileFaults.h"
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
  return {{"title", title}, {"status", I(status)}, {"cancelled", cancelled}};
}

// A document with every key set: a real settings file, a name beyond ASCII and a time past 2^31 - 1.
std::unique_ptr<VLDocument> FullDocument(const QUrl& package) {
  auto doc = FixedDocument();
  doc->loadFromDictionary(
      JSON_CFFromJSONData(ReadFile(Test_SourcePath(QStringLiteral("fuzz/corpus/settings/full_session.json")))).toMap());
  doc->setCameraName(QStringLiteral("Kamera Müller"));
  ZRNMatchPeriod late(2);
  late.setStartMillis(3000000000LL);
  doc->tagsArray().append(TagRecord_MakePeriod(late));
  doc->setDocURL(package);
  doc->updateSettingsFile();
  return doc;
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
  const QByteArray golden = ReadFile(Test_SourcePath(QStringLiteral("tests/session/data/VLSettings_new.json")));
  ASSERT_FALSE(golden.isEmpty());
  EXPECT_EQ(ReadFile(SettingsPath(package)).toStdString(), golden.toStdString());
}

TEST(VLDocument, CapturePropertiesComeFromThePreferences) {
  ZRNAppPrefs prefs;
  prefs.setFragmentSeconds(3);
  prefs.setNumInitialMillisToReject(250);
  prefs.setCameraIndex(2);
  prefs.setCapturePresetIndex(4);
  prefs.setMicrophoneIndex(1);
  prefs.setMicrophonePresetIndex(5);
  prefs.setMicrophoneCaptureRate(48000);
  auto doc = FixedDocument();
  doc->U_LoadCaptureProperties(prefs);
  EXPECT_EQ(doc->segmentSeconds(), 3.0f);
  EXPECT_EQ(doc->initialMillisToClip(), 250);
  EXPECT_EQ(doc->videoCodecType(), QStringLiteral("avc1"));
  EXPECT_EQ(doc->cameraIndex(), 2);
  EXPECT_EQ(doc->cameraPresetIndex(), 4);
  EXPECT_EQ(doc->microphoneIndex(), 1);
  EXPECT_EQ(doc->micPresetIndex(), 5);
  EXPECT_EQ(doc->audioCaptureRate(), 48000.0);
  // The origin and the date are the document's own.
  EXPECT_EQ(doc->captureMachine(), QStringLiteral("Test Machine"));
  EXPECT_EQ(doc->docCaptureDate(), FixedDocument()->docCaptureDate());
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
  ASSERT_TRUE(QFile::copy(Test_SourcePath(QStringLiteral("fuzz/corpus/settings/wrong_types.json")), SettingsPath(package)));
  VLDocument doc;
  doc.setDocURL(package);
  ASSERT_TRUE(doc.loadSettingsFile());
  EXPECT_EQ(doc.versionNum(), 0);
  EXPECT_EQ(doc.cameraIndex(), 0);
  EXPECT_TRUE(doc.cameraName().isNull());
  EXPECT_FALSE(doc.docCaptureDate().isValid());
  EXPECT_FALSE(doc.hasAudioDevice());
  EXPECT_EQ(doc.frameSize(), QSizeF(0, 0));
  EXPECT_TRUE(std::isfinite(doc.videoFPS()));
  EXPECT_EQ(doc.segmentKBPS(), 0);
  EXPECT_TRUE(doc.tagsArray().isEmpty());
  ASSERT_EQ(doc.jobsArray().size(), 1);
  EXPECT_EQ(doc.numberOfFinishedJobs(), 1);
}

TEST(VLDocument, FullSaveAndReloadKeepsEveryMark) {
  const ScopedTimeZone zone("XST+3");
  const QUrl package = MakePackage();
  auto doc = FullDocument(package);
  const QByteArray saved = ReadFile(SettingsPath(package));
  auto back = Reload(package);
  // Saving the reloaded document writes the very same bytes.
  back->updateSettingsFile();
  EXPECT_EQ(ReadFile(SettingsPath(package)).toStdString(), saved.toStdString());
  // What the same loss on save and load would hide.
  ASSERT_EQ(back->tagsArray().size(), 8);
  EXPECT_EQ(ZRNMatchPeriod(back->tagsArray().last()).startMillis(), 3000000000LL);
  EXPECT_EQ(back->videoFPS(), 29.97f);
  EXPECT_EQ(back->docCaptureDate(), doc->docCaptureDate());
}

// A member whose key is "tags" behind a U+FEFF comes after "tags" in the file; read as a second "tags",
// its empty list would replace the marks at the next save.
TEST(VLDocument, MarksBesideAKeyThatStartsWithUFEFFSurviveASave) {
  const QUrl package = MakePackage();
  const QString seed = QStringLiteral("fuzz/corpus/settings/marks_beside_a_key_that_starts_with_u_feff.json");
  ASSERT_TRUE(QFile::copy(Test_SourcePath(seed), SettingsPath(package)));
  auto doc = Reload(package);
  EXPECT_EQ(doc->tagsArray().size(), 5);
  ASSERT_TRUE(doc->updateSettingsFile());
  EXPECT_EQ(LoadFile(package).value(QStringLiteral("tags")).toList().size(), 5);
  EXPECT_EQ(Reload(package)->tagsArray(), doc->tagsArray());
}

TEST(VLDocument, PythonReadsEveryKeyOfTheSettingsFile) {
  const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
  if (python.isEmpty()) GTEST_SKIP() << "python3 not installed";
  const QUrl package = MakePackage();
  FullDocument(package);
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
assert d["VLCameraName"] == "Kamera Müller"
assert d["tags"][-1] == {"tagTitle": "matchPeriod", "periodID": 2, "periodStart": 3000000000}
assert isinstance(d["VLHasAudioDevice"], bool) and isinstance(d["VLFrameWidth"], float)
assert d["exportJobs"]
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
  const QString folder = package.toLocalFile();
  const auto asideFiles = [&] {
    return QDir(folder).entryList({QStringLiteral("VLSettings.damaged-*.json")}, QDir::Files, QDir::Name);
  };
  const QByteArray damaged = R"({"VLDocVersion": 1001007, "tags": [{"tagTitle": "inPoint", "tagMi)";
  WriteFile(SettingsPath(package), damaged);
  VLDocument doc;
  doc.setDocURL(package);
  EXPECT_FALSE(doc.loadSettingsFile());
  ASSERT_EQ(asideFiles().size(), 1);
  EXPECT_EQ(ReadFile(folder + QLatin1Char('/') + asideFiles().first()), damaged);
  // The document keeps what it had; the next save writes a good file beside the kept one.
  EXPECT_EQ(doc.versionNum(), 1001007);
  doc.updateSettingsFile();
  EXPECT_EQ(LoadFile(package).value("VLDocVersion"), I(1001007));

  // A second damaged file does not replace the first kept one.
  WriteFile(SettingsPath(package), "[1, 2]");
  VLDocument again;
  again.setDocURL(package);
  EXPECT_FALSE(again.loadSettingsFile());
  const QStringList kept = asideFiles();
  ASSERT_EQ(kept.size(), 2);
  QList<QByteArray> contents;
  for (const QString& name : kept) contents << ReadFile(folder + QLatin1Char('/') + name);
  EXPECT_TRUE(contents.contains(damaged));
  EXPECT_TRUE(contents.contains(QByteArray("[1, 2]")));

  // No file at all is not damage.
  VLDocument fresh;
  fresh.setDocURL(MakePackage());
  EXPECT_FALSE(fresh.loadSettingsFile());
  EXPECT_EQ(QDir(fresh.docURL().toLocalFile()).entryList(QDir::Files), QStringList());
}

TEST(VLDocument, AnUnreadableSettingsFileIsLeftAloneAndAMarkedOneIsRead) {
  const auto shared = Test_MakeSharedDir();
  const QString folder = shared->path() + QStringLiteral("/Locked.vlvidcapb");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString path = folder + QStringLiteral("/VLSettings.json");
  const QByteArray stored = R"({"VLDocVersion": 1001007, "VLCameraName": "Cam"})";
  WriteFile(path, stored);
  ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions()));
  VLSettingsFileRead read;
  {
    const Test_OrdinaryUserFiles ordinary;
    read = VLDocument_ReadSettings(path);
  }
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  // Lack of permission is not damage: nothing is moved, and the caller learns why.
  EXPECT_EQ(read.outcome, VLSettingsFileRead::Outcome::Unreadable);
  EXPECT_TRUE(read.reason.contains(QStringLiteral("ermission"))) << read.reason.toStdString();
  EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("VLSettings.json")});
  EXPECT_EQ(ReadFile(path), stored);

  // Readable, and with a UTF-8 byte-order mark in front: the settings load.
  WriteFile(path, "\xEF\xBB\xBF" + stored);
  read = VLDocument_ReadSettings(path);
  ASSERT_EQ(read.outcome, VLSettingsFileRead::Outcome::Loaded);
  EXPECT_EQ(read.dictionary.value(QStringLiteral("VLCameraName")).toString(), QStringLiteral("Cam"));

  // Damaged: the answer says where the file went.
  WriteFile(path, "{\"VLCameraName\": ");
  read = VLDocument_ReadSettings(path);
  EXPECT_EQ(read.outcome, VLSettingsFileRead::Outcome::Damaged);
  EXPECT_EQ(ReadFile(read.asidePath), QByteArray("{\"VLCameraName\": "));
  EXPECT_FALSE(QFile::exists(path));
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
  auto window = std::make_unique<TestWindow>();
  doc.setWindowController(window.get());
  doc.saveDoc();
  EXPECT_EQ(window->saves, 1);
  window.reset();
  EXPECT_EQ(doc.windowController(), nullptr);
  doc.saveDoc();
}

TEST(VLDocument, BadgeImagePrefersTheUsersOwn) {
  const QUrl package = MakePackage();
  VLDocument doc;
  doc.setDocURL(package);
  const QString images = package.toLocalFile() + QStringLiteral("/badge_resources/images/");
  EXPECT_TRUE(doc.badgeImageURL().isEmpty());
  QDir().mkpath(images);
  WriteFile(images + QStringLiteral("tessaro_badge.png"), "png");
  EXPECT_EQ(doc.badgeImageURL().toLocalFile(), images + QStringLiteral("tessaro_badge.png"));
  WriteFile(images + QStringLiteral("userBadge.png"), "png");
  EXPECT_EQ(doc.badgeImageURL().toLocalFile(), images + QStringLiteral("userBadge.png"));
}
