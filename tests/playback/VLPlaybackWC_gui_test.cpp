#include "playback/VLPlaybackWC.h"

#include "common/ZRNAppPrefs.h"
#include "session/ZRNTagRecord.h"
#include "composition/ZRNAVCaptureProject.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/PlayerTestMovie.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNSynchroMovieControllerView.h"

#include <QAction>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// One 10 s movie made once; each test copies it into packages of its own.
class PlaybackWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_movie = new QString(Test_MakeTempDir(QStringLiteral("movie")) + QStringLiteral("/movie.mov"));
    if (!PlaybackTest_MakeMovie(*s_movie, 10.0)) s_movie->clear();
  }
  static void TearDownTestSuite() { delete s_movie; }
  void SetUp() override { ASSERT_FALSE(s_movie->isEmpty()); }

  // A package with the shared movie and, with an initial clip, its settings file.
  QString makePackage(const QString& name, int64_t initialMillisToClip = -1) {
    const QString package = folder + QLatin1Char('/') + name + QStringLiteral(".vlvidcapb");
    QDir().mkpath(package);
    QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov"));
    if (initialMillisToClip >= 0) PlaybackTest_Document(package, initialMillisToClip)->updateSettingsFile();
    return package;
  }

  static QList<QVariantMap> storedTags(const QString& package) {
    QList<QVariantMap> tags;
    for (const QVariant& tag : PlaybackTest_ReadSettings(package).value(QStringLiteral("tags")).toList()) tags.append(tag.toMap());
    return tags;
  }
  static QVariantMap point(const QString& title, int64_t millis) { return TagRecord_MakePoint(title, millis); }
  static MediaTime ms(int64_t millis) { return MediaTimeMake(millis, 1000); }

  static QString* s_movie;
  QString folder = Test_MakeTempDir(QStringLiteral("sessions"));
  PlaybackTestHost host;
};
QString* PlaybackWindow::s_movie = nullptr;

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
bool WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

}  // namespace

// Opening

TEST_F(PlaybackWindow, OpensAtTheClippedStartWithThePackageTitleAndRewritesTheSettingsAtOnce) {
  const QString package = makePackage(QStringLiteral("Cup Final"));
  // A compact file with a key this application does not write: the write-back replaces it.
  QVariantMap stored = PlaybackTest_Document(package, 2000)->dictionaryToSave();
  stored.insert(QStringLiteral("someOtherKey"), 7);
  ASSERT_TRUE(WriteFile(package + QStringLiteral("/VLSettings.json"),
                        QJsonDocument(QJsonObject::fromVariantMap(stored)).toJson(QJsonDocument::Compact)));

  VLPlaybackWC* window = host.open(package);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmora"));
  ASSERT_TRUE(PlaybackTestHost::waitUntilPlayable(window));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Cup Final"));
  EXPECT_EQ(window->windowFilePath(), package);

  // The player shows the movie without its first 2 s: time 0 is the movie's picture at 2 s.
  auto item = window->player()->currentItem();
  EXPECT_NEAR(MediaTimeGetSeconds(item->duration()), 8.0, 0.05);
  EXPECT_NEAR(window->totalDuration(), 10.0, 0.05);
  EXPECT_NEAR(MediaTimeGetSeconds(window->player()->currentTime()), 0.0, 1e-6);
  const auto pictures = PlayerTest_Pictures(*s_movie);
  ASSERT_FALSE(pictures.empty());
  EXPECT_EQ(PlayerTest_PictureChecksum(item->currentVideoFrame()), pictures[PlayerTest_PictureAt(pictures, 2.0)].md5);

  EXPECT_EQ(ReadFile(package + QStringLiteral("/VLSettings.json")), JSON_CFDataFromCF(window->vlDocument()->dictionaryToSave()));
  EXPECT_EQ(window->windowRecentDoc()->docPath(), package);
}

TEST_F(PlaybackWindow, OnlyTheExactTopLevelSettingsFileIsReadAndAMissingOneIsWritten) {
  const QString package = makePackage(QStringLiteral("Names"));
  // Look-alikes of the settings file: hidden, in the badge resources, and another letter case.
  const QByteArray decoy = JSON_CFDataFromCF(PlaybackTest_Document(package, 4000)->dictionaryToSave());
  QDir(package).mkpath(QStringLiteral("badge_resources"));
  const char* const decoys[] = {".VLSettings.json", "badge_resources/VLSettings.json", "vlsettings.json", "VLSettings.JSON"};
  for (const char* name : decoys) ASSERT_TRUE(WriteFile(package + QLatin1Char('/') + QLatin1String(name), decoy));
  // A hidden movie without pictures would end the session if it were taken.
  ASSERT_TRUE(PlaybackTest_MakeMovie(package + QStringLiteral("/.VLCapturedMovie.mov"), 2.0, false));

  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->vlDocument()->initialMillisToClip(), 0);
  EXPECT_EQ(window->capturedMovieURL().toLocalFile(), package + QStringLiteral("/VLCapturedMovie.mov"));
  // The settings file written holds a new document's values (its capture date is the moment it was made).
  QVariantMap written = PlaybackTest_ReadSettings(package);
  QVariantMap fresh = JSON_CFFromJSONData(JSON_CFDataFromCF(VLDocument().dictionaryToSave())).toMap();
  EXPECT_EQ(written.take(QStringLiteral("VLCaptureDate")).typeId(), QMetaType::QDateTime);
  fresh.remove(QStringLiteral("VLCaptureDate"));
  EXPECT_EQ(written, fresh);
  for (const char* name : decoys) EXPECT_EQ(ReadFile(package + QLatin1Char('/') + QLatin1String(name)), decoy) << name;
}

TEST_F(PlaybackWindow, ASessionWithoutPicturesIsNamedInAlert20014AndLeavesTheRecents) {
  const std::pair<const char*, std::function<void(const QString&)>> cases[] = {
      {"Sound Only", [](const QString& p) { PlaybackTest_MakeMovie(p + QStringLiteral("/VLCapturedMovie.mov"), 2.0, false); }},
      {"Nothing Inside", [](const QString&) {}},
      {"Settings Only", [](const QString& p) { PlaybackTest_Document(p)->updateSettingsFile(); }},
  };
  const QString older = folder + QStringLiteral("/Older.vlvidcapb");
  QDir().mkpath(older);  // an entry that exists: the Recents menu drops entries whose files are gone
  for (const auto& [name, fill] : cases) {
    SCOPED_TRACE(name);
    const QString package = folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".vlvidcapb");
    QDir().mkpath(package);
    fill(package);
    host.delegate->addZRNRecentItemForPath(older);
    QString alertText;
    PlaybackTest_AnswerNextModal(QStringLiteral("okBtn"), &alertText);
    QPointer<VLPlaybackWC> window = host.open(package);
    ASSERT_TRUE(Test_WaitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(alertText.contains(QStringLiteral("File '%1' is damaged").arg(QLatin1String(name)))) << alertText.toStdString();
    ASSERT_FALSE(host.delegate->recentDocsArray().isEmpty());
    EXPECT_EQ(host.delegate->topRecentDoc()->docPath(), older);
    EXPECT_TRUE(host.delegate->playbackWindows().isEmpty());
    for (const QVariant& entry : UserDefaults::standard().arrayForKey(QStringLiteral("ZRNRecentDocuments")))
      EXPECT_NE(entry.toMap().value(QStringLiteral("docPath")).toString(), package);
  }
}

TEST_F(PlaybackWindow, ADamagedSettingsFileIsKeptAsideAndTheSessionStillOpens) {
  const QString package = makePackage(QStringLiteral("Torn"));
  const QByteArray damaged = "{\n    \"tags\": [ {\"tagTitle\": \"inPoint\", \"tagMillis\": 12";
  ASSERT_TRUE(WriteFile(package + QStringLiteral("/VLSettings.json"), damaged));
  ASSERT_NE(host.openPlayable(package), nullptr);
  const QStringList aside = QDir(package).entryList({QStringLiteral("VLSettings.damaged-*.json")}, QDir::Files);
  ASSERT_EQ(aside.size(), 1);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^VLSettings\\.damaged-\\d{8}T\\d{6}Z\\.json$")).match(aside.first()).hasMatch())
      << aside.first().toStdString();
  EXPECT_EQ(ReadFile(package + QLatin1Char('/') + aside.first()), damaged);
  EXPECT_FALSE(PlaybackTest_ReadSettings(package).isEmpty());
}

// Marks

TEST_F(PlaybackWindow, InAndOutPointsKeepTheirOrderAndEveryChangeIsWritten) {
  const QString package = makePackage(QStringLiteral("Marks"), 0);
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  ZRNSynchroMovieControllerView* bar = window->synchroMovieController();

  // In at 5000, then out at 3000: the in point goes.
  window->U_SetInPointAtTime(ms(5000));
  window->U_SetOutPointAtTime(ms(3000));
  EXPECT_EQ(window->inTimeMillis(), -1);
  EXPECT_EQ(window->outTimeMillis(), 3000);
  EXPECT_EQ(bar->inTime(), MediaTime_ClearedMark());
  EXPECT_EQ(storedTags(package), QList<QVariantMap>{point(kTagRecord_OutPoint, 3000)});

  // Out at 8000, then in at 8000: the out point goes.
  window->U_SetOutPointAtTime(ms(8000));
  window->U_SetInPointAtTime(ms(8000));
  EXPECT_EQ(window->outTimeMillis(), -1);
  EXPECT_EQ(window->inTimeMillis(), 8000);
  EXPECT_EQ(bar->outTime(), MediaTime_ClearedMark());
  EXPECT_EQ(storedTags(package), QList<QVariantMap>{point(kTagRecord_InPoint, 8000)});

  // Setting the in point twice leaves one record, at the end of the list.
  window->U_AddGoalAtTime(ms(1000), 1);
  window->U_SetInPointAtTime(ms(2000));
  ASSERT_EQ(storedTags(package).size(), 2);
  EXPECT_EQ(storedTags(package)[1], point(kTagRecord_InPoint, 2000));

  // The keys of the menu read the player's time when their work runs.
  ASSERT_TRUE(PlaybackTestHost::seekTo(window, 6500));
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  QTest::keyClick(window, Qt::Key_O);
  ASSERT_TRUE(Test_WaitUntil([&] { return window->outTimeMillis() == 6500; }));
  EXPECT_EQ(bar->outTime(), ms(6500));
  QTest::keyClick(window, Qt::Key_X, Qt::AltModifier);
  ASSERT_TRUE(Test_WaitUntil([&] { return window->inTimeMillis() == -1 && window->outTimeMillis() == -1; }));
  EXPECT_EQ(storedTags(package).size(), 1);
  // Without marks the manual clip is disabled.
  window->U_ValidateMenuItems();
  EXPECT_FALSE(window->actionNamed(QStringLiteral("exportInOutClip"))->isEnabled());
}

TEST_F(PlaybackWindow, PeriodsAndGoalsReachTheRecordsAndTheProject) {
  const QString package = makePackage(QStringLiteral("Periods"), 0);
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);

  // Start after an end already set: the end goes, and the record holds only the start.
  window->U_SetEndPointAtTime(ms(30000), 1);
  window->U_SetStartPointAtTime(ms(60000), 1);
  ASSERT_EQ(window->matchPeriods().size(), 1);
  EXPECT_EQ(window->matchPeriods()[0].endMillis(), -1);
  EXPECT_EQ(storedTags(package), (QList<QVariantMap>{{{kTagRecord_TitleKey, kTagRecord_MatchPeriod},
                                                      {QStringLiteral("periodID"), 1},
                                                      {QStringLiteral("periodStart"), 60000}}}));
  // An end at or before the start clears the start.
  window->U_SetStartPointAtTime(ms(5000), 2);
  window->U_SetEndPointAtTime(ms(5000), 2);
  EXPECT_EQ(window->matchPeriods()[1].startMillis(), -1);
  EXPECT_EQ(window->windowAVProject()->periods().size(), 2);

  window->U_AddGoalAtTime(ms(1000), 1);
  window->U_AddGoalAtTime(ms(2000), 2);
  window->U_AddGoalAtTime(ms(3000), 1);
  QList<int64_t> teams;
  for (const QVariantMap& tag : storedTags(package))
    if (TagRecord_Title(tag) == kTagRecord_TeamGoal) teams << tag.value(QStringLiteral("teamNum")).toLongLong();
  EXPECT_EQ(teams, (QList<int64_t>{1, 2, 1}));
  EXPECT_EQ(window->windowAVProject()->matchScoreForTime(9000), QPointF(2, 1));
}

TEST_F(PlaybackWindow, PreviousAndNextGoToTheNearestMarkWithinTheMovie) {
  const QString package = makePackage(QStringLiteral("Jumps"), 0);
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  window->U_SetInPointAtTime(ms(2000));
  window->U_SetOutPointAtTime(ms(9000));
  const int64_t end = ZRNAVCaptureProject::U_MillisForTime(window->player()->currentItem()->duration());

  struct Case {
    int64_t from;
    bool next;
    int64_t expected;
  };
  const Case cases[] = {{9000, false, 2000}, {9000, true, end}, {1000, false, 0}, {5000, true, 9000}, {5000, false, 2000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << (c.next ? " next" : " previous"));
    ASSERT_TRUE(PlaybackTestHost::seekTo(window, c.from));
    if (c.next) window->gotoNextTime();
    else window->gotoPreviousTime();
    EXPECT_TRUE(Test_WaitUntil([&] { return ZRNAVCaptureProject::U_MillisForTime(window->player()->currentTime()) == c.expected; }))
        << ZRNAVCaptureProject::U_MillisForTime(window->player()->currentTime());
  }

  // A mark beyond the end of the movie: from after the last mark inside it, next stays put.
  window->vlDocument()->tagsArray().append(point(kTagRecord_OutPoint, end + 5000));
  ASSERT_TRUE(PlaybackTestHost::seekTo(window, 9500));
  window->gotoNextTime();
  Test_ProcessEvents(50);
  EXPECT_EQ(ZRNAVCaptureProject::U_MillisForTime(window->player()->currentTime()), 9500);
}

TEST_F(PlaybackWindow, AReopenedSessionRestoresItsPeriodsGoalsAndPoints) {
  const QString package = makePackage(QStringLiteral("Reopened"), 0);
  {
    VLPlaybackWC* first = host.openPlayable(package);
    ASSERT_NE(first, nullptr);
    first->U_SetStartPointAtTime(ms(2000), 1);
    first->U_AddGoalAtTime(ms(3000), 1);
    first->U_AddGoalAtTime(ms(5000), 2);
    first->U_SetInPointAtTime(ms(4000));
    first->close();
    ASSERT_TRUE(Test_WaitUntil([&] { return host.delegate->playbackWindows().isEmpty(); }));
  }
  const qsizetype before = storedTags(package).size();
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->inTimeMillis(), 4000);
  ASSERT_EQ(window->matchPeriods().size(), 1);
  EXPECT_EQ(window->matchPeriods()[0].startMillis(), 2000);
  EXPECT_EQ(window->windowAVProject()->matchScoreForTime(4000), QPointF(1, 0));
  EXPECT_EQ(window->windowAVProject()->matchScoreForTime(6000), QPointF(1, 1));
  EXPECT_EQ(window->windowAVProject()->convertMillis(7000, 1), 5000);
  // The file keeps the records it had.
  EXPECT_EQ(storedTags(package).size(), before);

  // The period's stored start survives setting its end now.
  window->U_SetEndPointAtTime(ms(8000), 1);
  QVariantMap period;
  for (const QVariantMap& tag : storedTags(package))
    if (TagRecord_Title(tag) == kTagRecord_MatchPeriod) period = tag;
  EXPECT_EQ(period.value(QStringLiteral("periodStart")).toLongLong(), 2000);
  EXPECT_EQ(period.value(QStringLiteral("periodEnd")).toLongLong(), 8000);
}

TEST_F(PlaybackWindow, ClosingWithAPendingExportAsksFirst) {
  const QString package = makePackage(QStringLiteral("Closing"), 0);
  QPointer<VLPlaybackWC> window = host.openPlayable(package);
  ASSERT_FALSE(window.isNull());
  // A waiting job that nobody runs: a restored one would not count, so add one of this window's.
  auto settings = std::make_shared<QVariantMap>(QVariantMap{{kExportSettingsActivityType, 101},
                                                            {kExportSettingsStartTimeMillis, 0},
                                                            {kExportSettingsDurationMillis, 3000},
                                                            {kExportSettingsUserCancelled, true}});
  window->jobsController()->addJob(std::make_shared<VL_ExportJobRecord>(settings));
  ASSERT_EQ(window->jobsController()->numberOfPendingJobs(), 1);

  QString text;
  PlaybackTest_AnswerNextModal(QStringLiteral("cancelBtn"), &text);
  window->close();
  EXPECT_TRUE(text.contains(QStringLiteral("There is an export in progress."))) << text.toStdString();
  Test_ProcessEvents(20);
  ASSERT_FALSE(window.isNull());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->jobsController()->numberOfPendingJobs(), 1);

  PlaybackTest_AnswerNextModal(QStringLiteral("okBtn"));
  window->close();
  EXPECT_TRUE(Test_WaitUntil([&] { return window.isNull(); }));
  EXPECT_TRUE(host.delegate->playbackWindows().isEmpty());
}
