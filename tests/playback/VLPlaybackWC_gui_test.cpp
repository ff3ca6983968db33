#include "playback/VLPlaybackWC.h"

#include "app/ZRNAppMenus.h"
#include "common/ZRNAppPrefs.h"
#include "session/MatchMarksTestSupport.h"
#include "session/ZRNTagRecord.h"
#include "composition/ZRNAVCaptureProject.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/PlayerTestMovie.h"
#include "platform/system/FileAttributes.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNSynchroMovieControllerView.h"
#include "common/ZRNAccessibility.h"
#include "support/AccessibilitySupport.h"
#include "support/DialogTestSupport.h"
#include "support/FileFaults.h"

#include <QAction>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// One 10 s movie made once; each test copies it into packages of its own.
class PlaybackWindow : public PlaybackMovieSuite<10> {
 protected:
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

  QString folder = Test_MakeTempDir(QStringLiteral("sessions"));
  PlaybackTestHost host;
};

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

TEST_F(PlaybackWindow, OpensAtTheClippedStartWithThePackageTitleAndLeavesTheSettingsFileAlone) {
  const QString package = makePackage(QStringLiteral("Cup Final"));
  // A compact file with a key this application does not write: opening writes nothing, so it stays.
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

  EXPECT_EQ(ReadFile(package + QStringLiteral("/VLSettings.json")),
            QJsonDocument(QJsonObject::fromVariantMap(stored)).toJson(QJsonDocument::Compact));
  EXPECT_EQ(window->windowRecentDoc()->docPath(), package);
  EXPECT_TRUE(window->noticeView()->isHidden());
}

TEST_F(PlaybackWindow, OnlyTheExactTopLevelSettingsFileIsReadAndAMissingOneComesWithTheFirstMark) {
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
  // Opening writes nothing; the first mark writes a new document's values (its capture date is the
  // moment it was made).
  EXPECT_FALSE(QFile::exists(package + QStringLiteral("/VLSettings.json")));
  window->U_AddGoalAtTime(ms(1000), 1);
  QVariantMap written = PlaybackTest_ReadSettings(package);
  QVariantMap fresh = JSON_CFFromJSONData(JSON_CFDataFromCF(VLDocument().dictionaryToSave())).toMap();
  EXPECT_EQ(written.take(QStringLiteral("VLCaptureDate")).typeId(), QMetaType::QDateTime);
  fresh.remove(QStringLiteral("VLCaptureDate"));
  EXPECT_EQ(written.take(QStringLiteral("tags")).toList().size(), 1);
  EXPECT_EQ(written, fresh);
  for (const char* name : decoys) EXPECT_EQ(ReadFile(package + QLatin1Char('/') + QLatin1String(name)), decoy) << name;
}

TEST_F(PlaybackWindow, ASessionWithoutPicturesIsNamedInAlert20014AndLeavesTheRecents) {
  const std::pair<const char*, std::function<void(const QString&)>> cases[] = {
      {"Sound Only", [](const QString& p) { PlaybackTest_MakeMovie(p + QStringLiteral("/VLCapturedMovie.mov"), 2.0, false); }},
      {"Nothing Inside", [](const QString&) {}},
      {"Settings Only", [](const QString& p) { PlaybackTest_Document(p)->updateSettingsFile(); }},
      // (A recording killed before its first fragment holds no frame and is not damaged: it is told that
      // nothing was recorded, with the other recordings stopped before their first picture.)
      // Its decoder configuration zeroed: it opened black, 0:10 long, and not one frame decoded.
      {"Pictures Undecodable", [](const QString& p) { QFile::copy(*s_movie, p + QStringLiteral("/VLCapturedMovie.mov"));
                                                      PlaybackTest_ZeroDecoderConfiguration(p + QStringLiteral("/VLCapturedMovie.mov")); }},
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
  // The user learns it once, with the name it now has.
  VLPlaybackWC* window = host.delegate->playbackWindows().isEmpty()
                             ? nullptr
                             : qobject_cast<VLPlaybackWC*>(host.delegate->playbackWindows().last().data());
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->noticeView()->isVisible());
  EXPECT_TRUE(window->noticeView()->text().contains(aside.first())) << window->noticeView()->text().toStdString();
  EXPECT_FALSE(window->noticeView()->accessibleName().isEmpty());
  EXPECT_FALSE(QFile::exists(package + QStringLiteral("/VLSettings.json")));
  window->U_AddGoalAtTime(ms(1000), 2);
  EXPECT_FALSE(PlaybackTest_ReadSettings(package).isEmpty());
}

// Marks: the rules are VLSessionMarks'; here each action lands at the player's time on the transport
// bar, the project and the settings file.

TEST_F(PlaybackWindow, InAndOutKeysMarkThePlayersTimeOnTheBarAndInTheFile) {
  const QString package = makePackage(QStringLiteral("Marks"), 0);
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  ZRNSynchroMovieControllerView* bar = window->synchroMovieController();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));

  // The keys read the player's time when their work runs.
  ASSERT_TRUE(PlaybackTestHost::seekTo(window, 5000));
  QTest::keyClick(window, Qt::Key_I);
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->inTime() == ms(5000); }));
  ASSERT_TRUE(PlaybackTestHost::seekTo(window, 6500));
  QTest::keyClick(window, Qt::Key_O);
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->outTime() == ms(6500); }));
  EXPECT_EQ(window->inTimeMillis(), 5000);
  EXPECT_EQ(storedTags(package), (QList<QVariantMap>{point(kTagRecord_InPoint, 5000), point(kTagRecord_OutPoint, 6500)}));

  // A point that the other one's rule clears leaves the bar too.
  window->U_SetOutPointAtTime(ms(3000));
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->inTime() == MediaTime_ClearedMark() && bar->outTime() == ms(3000); }));
  EXPECT_EQ(storedTags(package), QList<QVariantMap>{point(kTagRecord_OutPoint, 3000)});

  QTest::keyClick(window, Qt::Key_X, Qt::AltModifier);
  ASSERT_TRUE(Test_WaitUntil([&] { return bar->outTime() == MediaTime_ClearedMark(); }));
  EXPECT_EQ(window->outTimeMillis(), -1);
  EXPECT_TRUE(storedTags(package).isEmpty());
  // Without marks the manual clip is disabled.
  window->U_ValidateMenuItems();
  EXPECT_FALSE(window->actionNamed(QStringLiteral("exportInOutClip"))->isEnabled());
}

TEST_F(PlaybackWindow, PeriodAndGoalKeysReachTheRecordsAndTheProject) {
  const QString package = makePackage(QStringLiteral("Periods"), 0);
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));

  const struct {
    int64_t at;
    QKeyCombination key;
  } presses[] = {{1000, Qt::CTRL | Qt::Key_1}, {2000, QKeyCombination(Qt::Key_H)}, {4000, Qt::CTRL | Qt::SHIFT | Qt::Key_1},
                 {5000, Qt::CTRL | Qt::Key_2}, {6000, QKeyCombination(Qt::Key_G)}, {7000, QKeyCombination(Qt::Key_H)}};
  for (const auto& press : presses) {
    ASSERT_TRUE(PlaybackTestHost::seekTo(window, press.at));
    const QList<QVariantMap> before = storedTags(package);
    QTest::keyClick(window, press.key.key(), press.key.keyboardModifiers());
    ASSERT_TRUE(Test_WaitUntil([&] { return storedTags(package) != before; })) << press.at;
  }
  ASSERT_EQ(window->windowAVProject()->periods().size(), 2);
  EXPECT_EQ(window->windowAVProject()->periods()[0].endMillis(), 4000);
  EXPECT_EQ(window->windowAVProject()->periods()[1].startMillis(), 5000);
  EXPECT_EQ(window->windowAVProject()->matchScoreForTime(9000), QPointF(2, 1));
  QList<QVariantMap> expected{TagRecord_MakeGoal(TestMarks_Goal(1, 2000)), TagRecord_MakePeriod(TestMarks_Period(1, 1000, 4000)),
                              TagRecord_MakePeriod(TestMarks_Period(2, 5000, -1)), TagRecord_MakeGoal(TestMarks_Goal(2, 6000)),
                              TagRecord_MakeGoal(TestMarks_Goal(1, 7000))};
  EXPECT_EQ(storedTags(package), expected);
}

TEST_F(PlaybackWindow, PreviousAndNextKeysMoveThePlayerToTheNearestMark) {
  const QString package = makePackage(QStringLiteral("Jumps"), 0);
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  window->U_SetInPointAtTime(ms(2000));
  window->U_SetOutPointAtTime(ms(9000));
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));

  const struct {
    Qt::Key key;
    int64_t expected;
  } cases[] = {{Qt::Key_Right, 9000}, {Qt::Key_Left, 2000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    ASSERT_TRUE(PlaybackTestHost::seekTo(window, 5000));
    QTest::keyClick(window, c.key, Qt::AltModifier);
    EXPECT_TRUE(Test_WaitUntil([&] { return ZRNAVCaptureProject::U_MillisForTime(window->player()->currentTime()) == c.expected; }))
        << ZRNAVCaptureProject::U_MillisForTime(window->player()->currentTime());
  }
}

TEST_F(PlaybackWindow, AReopenedSessionShowsItsSavedMarks) {
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
  const QList<QVariantMap> saved = storedTags(package);
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->inTimeMillis(), 4000);
  EXPECT_TRUE(Test_WaitUntil([&] { return window->synchroMovieController()->inTime() == ms(4000); }));
  EXPECT_EQ(window->synchroMovieController()->outTime(), MediaTime_ClearedMark());
  ASSERT_EQ(window->matchPeriods().size(), 1);
  EXPECT_EQ(window->windowAVProject()->matchScoreForTime(4000), QPointF(1, 0));
  EXPECT_EQ(window->windowAVProject()->matchScoreForTime(6000), QPointF(1, 1));
  EXPECT_EQ(window->windowAVProject()->convertMillis(7000, 1), 5000);
  // The file keeps the records it had.
  EXPECT_EQ(storedTags(package), saved);
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

// Faults: a package that cannot be written, an unreadable settings file, an interrupted recording.

TEST_F(PlaybackWindow, OpeningWritesNothingAndTheFirstChangeSavesEveryLoadedMark) {
  // Thousands of stored marks used to rewrite the file once per mark while no window showed.
  const QString package = makePackage(QStringLiteral("Many Marks"), 0);
  auto doc = PlaybackTest_Document(package);
  for (int i = 0; i < 3000; ++i) {
    doc->tagsArray() << point(kTagRecord_InPoint, 100 + i) << point(kTagRecord_OutPoint, 4000 + i)
                     << TagRecord_MakeGoal(TestMarks_Goal(1 + i % 2, i));
  }
  ASSERT_TRUE(doc->updateSettingsFile());
  const QString path = package + QStringLiteral("/VLSettings.json");
  const QByteArray before = ReadFile(path);
  const QDateTime modified = QFileInfo(path).lastModified();

  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->inTimeMillis(), 100 + 2999);
  EXPECT_EQ(window->outTimeMillis(), 4000 + 2999);
  EXPECT_EQ(window->teamGoals().size(), 3000);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(QFileInfo(path).lastModified(), modified);

  window->U_AddGoalAtTime(ms(5000), 2);
  const QList<QVariantMap> tags = storedTags(package);
  ASSERT_EQ(tags.size(), 3000 + 1 + 2);
  EXPECT_EQ(tags.last(), TagRecord_MakeGoal(TestMarks_Goal(2, 5000)));
  EXPECT_TRUE(tags.contains(point(kTagRecord_InPoint, 100 + 2999)));
  EXPECT_TRUE(tags.contains(point(kTagRecord_OutPoint, 4000 + 2999)));
}

TEST_F(PlaybackWindow, AReadOnlyPackageKeepsItsMarksSaysSoOnceAndAsksBeforeClosing) {
  // The save used to fail with a log line only, and the window closed without a word.
  const auto shared = Test_MakeSharedDir();
  const QString package = shared->path() + QStringLiteral("/Read Only.vlvidcapb");
  ASSERT_TRUE(QDir().mkpath(package));
  ASSERT_TRUE(QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov")));
  ASSERT_TRUE(PlaybackTest_Document(package)->updateSettingsFile());
  const QByteArray stored = ReadFile(package + QStringLiteral("/VLSettings.json"));
  QPointer<VLPlaybackWC> window = host.openPlayable(package);
  ASSERT_FALSE(window.isNull());

  const Test_OrdinaryUserFiles ordinary;  // the package's folder is not the user's to write
  EXPECT_TRUE(window->noticeView()->isHidden());
  window->U_AddGoalAtTime(ms(1000), 1);
  EXPECT_TRUE(window->hasUnsavedMarks());
  EXPECT_TRUE(window->noticeView()->isVisible());
  const QString notice = window->noticeView()->text();
  EXPECT_TRUE(notice.contains(QStringLiteral("The marks cannot be saved"))) << notice.toStdString();
  EXPECT_TRUE(notice.contains(QStringLiteral("Permission denied"))) << notice.toStdString();
  window->U_AddGoalAtTime(ms(2000), 2);
  window->U_SetInPointAtTime(ms(3000));
  EXPECT_EQ(window->noticeView()->text(), notice) << "said once";
  EXPECT_EQ(window->teamGoals().size(), 2);
  EXPECT_EQ(window->inTimeMillis(), 3000);
  EXPECT_EQ(ReadFile(package + QStringLiteral("/VLSettings.json")), stored);

  QString text;
  PlaybackTest_AnswerNextModal(QStringLiteral("cancelBtn"), &text);
  window->close();
  EXPECT_TRUE(text.contains(QStringLiteral("could not be saved"))) << text.toStdString();
  Test_ProcessEvents(20);
  ASSERT_FALSE(window.isNull());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->teamGoals().size(), 2);

  PlaybackTest_AnswerNextModal(QStringLiteral("okBtn"));
  window->close();
  EXPECT_TRUE(Test_WaitUntil([&] { return window.isNull(); }));
}

// Quit threw the marks away that closing the window asks about: it asks too, window by window, and one
// Cancel keeps everything; the menu's Quit and the delegate's termination path are the same question.
TEST_F(PlaybackWindow, QuitAsksForEveryWindowWhoseMarksCouldNotBeSaved) {
  // Two sessions whose settings file is a pipe (nothing can be saved there), one that saves its marks.
  QList<QPointer<VLPlaybackWC>> windows;
  for (const QString& name : {QStringLiteral("Pipe One"), QStringLiteral("Pipe Two"), QStringLiteral("Saved")}) {
    const QString package = makePackage(name);
    if (name.startsWith(QLatin1String("Pipe"))) {
      ASSERT_EQ(::mkfifo(QFile::encodeName(package + QStringLiteral("/VLSettings.json")).constData(), 0600), 0);
    }
    windows << host.openPlayable(package);
    ASSERT_FALSE(windows.last().isNull());
    windows.last()->U_AddGoalAtTime(ms(1000), 1);
  }
  ASSERT_TRUE(windows[0]->hasUnsavedMarks() && windows[1]->hasUnsavedMarks());
  ASSERT_FALSE(windows[2]->hasUnsavedMarks());
  ZRNAppDelegate& delegate = *host.delegate;
  QAction* quit = delegate.mainMenu()->action(QStringLiteral("terminate"));
  ASSERT_NE(quit, nullptr);

  const struct {
    const char* name;
    QStringList answers;  // one per question, in order
    bool quits;
  } cases[] = {{"Cancel at the first window keeps everything", {QStringLiteral("cancelBtn")}, false},
               {"Close at the first, Cancel at the second", {QStringLiteral("okBtn"), QStringLiteral("cancelBtn")}, false},
               {"Close at both", {QStringLiteral("okBtn"), QStringLiteral("okBtn")}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList asked;
    auto answers = std::make_shared<QStringList>(c.answers);
    // Answers every question as it shows, noting its text.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&asked, answers] {
      QWidget* modal = QApplication::activeModalWidget();
      auto* label = modal ? modal->findChild<QLabel*>(QStringLiteral("mainTextfield")) : nullptr;
      if (!label || !modal->isVisible() || answers->isEmpty()) return;
      asked << Test_LabelText(label);
      if (auto* button = modal->findChild<QPushButton*>(answers->takeFirst())) button->click();
    });
    answerer.start(5);
    ZRNAppDelegate::TerminateReply reply = ZRNAppDelegate::TerminateReply::TerminateNow;
    if (c.quits)
      reply = delegate.applicationShouldTerminate();  // the path Quit takes, without ending the test's loop
    else
      quit->trigger();  // Velmora > Quit (Ctrl+Q): refused, it ends nothing
    answerer.stop();
    ASSERT_EQ(asked.size(), c.answers.size()) << asked.join(QStringLiteral(" | ")).toStdString();
    for (qsizetype i = 0; i < asked.size(); ++i) {
      EXPECT_TRUE(asked[i].contains(QStringLiteral("could not be saved"))) << asked[i].toStdString();
      EXPECT_TRUE(asked[i].contains(i == 0 ? QStringLiteral("Pipe One") : QStringLiteral("Pipe Two"))) << asked[i].toStdString();
    }
    EXPECT_FALSE(asked.join(QString()).contains(QStringLiteral("Saved")));
    if (c.quits) {
      EXPECT_EQ(reply, ZRNAppDelegate::TerminateReply::TerminateNow);
      EXPECT_TRUE(delegate.appIsQuitting());
    } else {
      EXPECT_FALSE(delegate.appIsQuitting());
      // Nothing was let go: closing or quitting later asks again.
      for (int i : {0, 1}) {
        ASSERT_FALSE(windows[i].isNull());
        EXPECT_TRUE(windows[i]->hasUnsavedMarks());
        EXPECT_EQ(windows[i]->teamGoals().size(), 1);
      }
    }
  }
}

// A screen reader reads the notice above the player by its text, and hears it when it comes on screen.
TEST_F(PlaybackWindow, TheNoticeIsReadByItsTextAndAnnouncedWhenItAppears) {
  const QString package = makePackage(QStringLiteral("Interrupted Aloud"), 0);
  QFile(package + QStringLiteral("/VLRecording.lock")).open(QIODevice::WriteOnly);
  Test_AccessibleEvents events;
  VLPlaybackWC* window = host.open(package);
  ASSERT_NE(window, nullptr);
  QLabel* notice = window->noticeView();
  ASSERT_TRUE(Test_WaitUntil([&] { return !notice->text().isEmpty(); }));
  // Nothing is said while nothing shows.
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(notice->property(kZRNAccessibleAnnouncedProperty).isNull());
  ASSERT_TRUE(PlaybackTestHost::waitUntilPlayable(window));
  ASSERT_TRUE(notice->isVisible());
  const QString text = notice->text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("The recording of this session was interrupted"))) << text.toStdString();

  QAccessibleInterface* item = QAccessible::queryAccessibleInterface(notice);
  EXPECT_EQ(item->role(), QAccessible::StaticText);
  EXPECT_EQ(item->text(QAccessible::Name).toStdString(), "Session notice");
  EXPECT_EQ(item->text(QAccessible::Description).toStdString(), text.toStdString());
  ASSERT_NE(item->textInterface(), nullptr);
  EXPECT_EQ(item->textInterface()->text(0, item->textInterface()->characterCount()).toStdString(), text.toStdString());
  // What the label last announced stays on it; the events themselves reach a handler only where the
  // platform lets accessibility be switched on (not offscreen).
  const auto announced = [&] { return notice->property(kZRNAccessibleAnnouncedProperty).toString(); };
  ASSERT_TRUE(Test_WaitUntil([&] { return announced() == text; }));
  if (QAccessible::isActive()) {
    ASSERT_TRUE(Test_WaitUntil([&] { return events.about(notice).contains(QAccessible::Alert); }));
    EXPECT_TRUE(events.about(notice).contains(QAccessible::DescriptionChanged));
    EXPECT_EQ(events.about(notice).count(QAccessible::Alert), 1) << "said once";
  }

  // Hidden and shown again (the window closed and reopened), it is said again.
  window->hide();
  notice->setProperty(kZRNAccessibleAnnouncedProperty, QVariant());
  events.clear();
  window->show();
  EXPECT_TRUE(Test_WaitUntil([&] { return announced() == text; }, 3000));
  if (QAccessible::isActive()) EXPECT_TRUE(Test_WaitUntil([&] { return events.about(notice).contains(QAccessible::Alert); }, 3000));
}

// Return threw the marks away: "Close" was the question's default button. Return and Escape keep the window
// and the application open, whether closing the window or Quit asks, and Quit's question speaks of quitting.
TEST_F(PlaybackWindow, ReturnAndEscapeKeepMarksThatCouldNotBeSaved) {
  const QString package = makePackage(QStringLiteral("Pipe Keys"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(package + QStringLiteral("/VLSettings.json")).constData(), 0600), 0);
  QPointer<VLPlaybackWC> window = host.openPlayable(package);
  ASSERT_FALSE(window.isNull());
  window->U_AddGoalAtTime(ms(1000), 1);
  ASSERT_TRUE(window->hasUnsavedMarks());
  ZRNAppDelegate& delegate = *host.delegate;
  const struct {
    const char* name;
    bool quit;
    Qt::Key key;
    const char* says;
  } cases[] = {{"closing, Return", false, Qt::Key_Return, "If you close the window now"},
               {"closing, Escape", false, Qt::Key_Escape, "If you close the window now"},
               {"Quit, Return", true, Qt::Key_Return, "If you quit Velmora now"},
               {"Quit, Escape", true, Qt::Key_Escape, "If you quit Velmora now"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QString asked;
    // The key goes where the keyboard is when the question opens.
    Test_AnswerNextModal(QString(), [&](QWidget* modal) {
      if (auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))) asked = Test_LabelText(label);
      QWidget* focused = modal->focusWidget();
      QTest::keyClick(focused ? focused : modal, c.key);
    });
    if (c.quit)
      EXPECT_EQ(delegate.applicationShouldTerminate(), ZRNAppDelegate::TerminateReply::TerminateCancel);
    else
      window->close();
    Test_ProcessEvents(20);
    EXPECT_TRUE(asked.contains(QStringLiteral("The marks of \"Pipe Keys\" could not be saved."))) << asked.toStdString();
    EXPECT_TRUE(asked.contains(QString::fromUtf8(c.says))) << asked.toStdString();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->hasUnsavedMarks());
    EXPECT_EQ(window->teamGoals().size(), 1);
    EXPECT_FALSE(delegate.appIsQuitting());
  }
}

TEST_F(PlaybackWindow, AnUnreadableSettingsFileIsNeitherMovedNorReplaced) {
  // It used to count as damaged: moved aside and replaced by defaults.
  const auto shared = Test_MakeSharedDir();
  const QString package = shared->path() + QStringLiteral("/Locked.vlvidcapb");
  ASSERT_TRUE(QDir().mkpath(package));
  ASSERT_TRUE(QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov")));
  const QString path = package + QStringLiteral("/VLSettings.json");
  ASSERT_TRUE(PlaybackTest_Document(package, 2000)->updateSettingsFile());
  const QByteArray stored = ReadFile(path);
  ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions()));
  // The folder is the user's: only the file may not be read.
  QFile::setPermissions(package, QFileDevice::Permissions(0x7777));
  {
    const Test_OrdinaryUserFiles ordinary;
    VLPlaybackWC* window = host.openPlayable(package);
    ASSERT_NE(window, nullptr);
    const QString notice = window->noticeView()->text();
    EXPECT_TRUE(notice.contains(QStringLiteral("cannot be read"))) << notice.toStdString();
    window->U_AddGoalAtTime(ms(1000), 1);
    EXPECT_TRUE(window->hasUnsavedMarks());
    EXPECT_EQ(window->noticeView()->text(), notice);
  }
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  EXPECT_EQ(ReadFile(path), stored);
  EXPECT_EQ(QDir(package).entryList(QDir::Files), (QStringList{QStringLiteral("VLCapturedMovie.mov"), QStringLiteral("VLSettings.json")}));
}

TEST_F(PlaybackWindow, AnInterruptedRecordingIsNamedAndItsLockCleared) {
  // A package killed while recording kept its lock (and its recording icon) for ever.
  const QString package = makePackage(QStringLiteral("Interrupted"), 0);
  const QString lock = package + QStringLiteral("/VLRecording.lock");
  QFile(lock).open(QIODevice::WriteOnly);
  ASSERT_TRUE(QFile::exists(lock));
  // The recording icon, where the file system keeps it for us.
  const bool iconSet = FileAttributes_SetXattr(package, FileAttributes_CustomIconXattrName(), "LiveSessionIcon.png");
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->noticeView()->text().contains(QStringLiteral("was interrupted"))) << window->noticeView()->text().toStdString();
  // The notice takes the height of its text; the player keeps the rest of the window, at any width.
  for (const QSize size : {QSize(960, 560), QSize(700, 500), QSize(1400, 900)}) {
    SCOPED_TRACE(size.width());
    window->resize(size);
    window->show();
    Test_ProcessEvents();
    QLabel* notice = window->noticeView();
    ASSERT_TRUE(notice->isVisible());
    EXPECT_LE(notice->height(), notice->heightForWidth(notice->width()) + 2);
    EXPECT_GE(notice->height(), notice->heightForWidth(notice->width()));
    EXPECT_GE(window->mainSplitV()->height(), window->centralWidget()->height() - notice->height() - 8);
  }
  EXPECT_FALSE(QFile::exists(lock));
  if (iconSet) {
    EXPECT_TRUE(FileAttributes_Xattr(package, FileAttributes_CustomIconXattrName()).isNull());
  }
  EXPECT_GT(window->totalDuration(), 9.0);

  // The lock of a recording that this run is writing is not an interruption.
  const QString live = makePackage(QStringLiteral("Recording Now"), 0);
  QFile(live + QStringLiteral("/VLRecording.lock")).open(QIODevice::WriteOnly);
  VLDocument_NoteRecordingPackage(live, true);
  VLPlaybackWC* other = host.openPlayable(live);
  VLDocument_NoteRecordingPackage(live, false);
  ASSERT_NE(other, nullptr);
  EXPECT_TRUE(other->noticeView()->isHidden());
  EXPECT_TRUE(QFile::exists(live + QStringLiteral("/VLRecording.lock")));
}

TEST_F(PlaybackWindow, ASessionThatMayNotBeReadIsNotCalledDamaged) {
  // A package or a movie closed to the user was reported as a damaged file.
  const auto shared = Test_MakeSharedDir();
  const struct {
    const char* name;
    const char* closed;  // the item made unreadable
  } cases[] = {{"Closed Package", ""}, {"Closed Movie", "/VLCapturedMovie.mov"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString package = shared->path() + QLatin1Char('/') + QLatin1String(c.name) + QStringLiteral(".vlvidcapb");
    ASSERT_TRUE(QDir().mkpath(package));
    ASSERT_TRUE(QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov")));
    ASSERT_TRUE(QFile::setPermissions(package + QLatin1String(c.closed), QFileDevice::Permissions()));
    QString alertText;
    PlaybackTest_AnswerNextModal(QStringLiteral("okBtn"), &alertText);
    {
      const Test_OrdinaryUserFiles ordinary;
      QPointer<VLPlaybackWC> window = host.open(package);
      ASSERT_TRUE(Test_WaitUntil([&] { return window.isNull(); }));
    }
    QFile::setPermissions(package + QLatin1String(c.closed), QFileDevice::Permissions(0x7755));
    EXPECT_TRUE(alertText.contains(QStringLiteral("cannot be read"))) << alertText.toStdString();
    EXPECT_FALSE(alertText.contains(QStringLiteral("damaged"))) << alertText.toStdString();
  }
}
