#include "common/ZRNAppPrefs.h"
#include "session/MatchMarksTestSupport.h"
#include "composition/ZRNAVCaptureProject.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TEST(ZRNAVCaptureProject, ScoreCountsGoalsUpToAndIncludingTheTime) {
  ZRNAVCaptureProject project;
  project.setMatchGoals({TestMarks_Goal(1, 1000), TestMarks_Goal(2, 2000), TestMarks_Goal(1, 3000), TestMarks_Goal(3, 3000), TestMarks_Goal(-1, 500)});
  struct Case {
    int64_t at;
    double home, guest;
  } const cases[] = {
      {0, 0, 0}, {499, 0, 0}, {500, 0, 1}, {999, 0, 1}, {1000, 1, 1}, {1001, 1, 1}, {2000, 1, 2}, {2999, 1, 2}, {3000, 2, 3}, {99999, 2, 3},
  };
  for (const auto& c : cases) {
    const QPointF score = project.matchScoreForTime(c.at);
    EXPECT_EQ(score.x(), c.home) << c.at;
    EXPECT_EQ(score.y(), c.guest) << c.at;
  }
}

TEST(ZRNAVCaptureProject, PeriodsAndMatchTimes) {
  ZRNAVCaptureProject project;
  // Period 2 overlaps period 1 at its end; the first one in the list wins. Period 3 has no end yet.
  project.setPeriods({TestMarks_Period(1, 1000, 5000), TestMarks_Period(2, 5000, 9000), TestMarks_Period(3, 10000, -1), TestMarks_Period(2, 20000, 30000)});
  struct Case {
    int64_t at;
    int64_t period;
  } const periodCases[] = {
      {0, 0}, {999, 0}, {1000, 1}, {5000, 1}, {5001, 2}, {9000, 2}, {9001, 0}, {10000, 0}, {25000, 2},
  };
  for (const auto& c : periodCases) EXPECT_EQ(project.periodForMatchTitle(nullptr, c.at), c.period) << c.at;

  struct Convert {
    int64_t at, period, result;
  } const convertCases[] = {
      {1000, 1, 0}, {4000, 1, 3000}, {25000, 2, 20000}, {500, 1, -500}, {4000, 7, -1}, {4000, 0, -1},
  };
  for (const auto& c : convertCases) EXPECT_EQ(project.convertMillis(c.at, c.period), c.result) << c.at << " " << c.period;
}

TEST(ZRNAVCaptureProject, PlayerTimesBecomeRoundedMilliseconds) {
  struct Case {
    MediaTime time;
    int64_t millis;
  } const cases[] = {
      {MediaTimeMakeWithSeconds(0.0025, 1000000), 3},
      {MediaTimeMakeWithSeconds(0.00225, 1000000), 2},
      {MediaTimeMake(90, 30), 3000},
      {kMediaTimeInvalid, 0},
      {kMediaTimeIndefinite, 0},
      {kMediaTimePositiveInfinity, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ZRNAVCaptureProject::U_MillisForTime(c.time), c.millis) << c.time.description().toStdString();
  // The period number follows the formatted time directly.
  EXPECT_EQ(ZRNAVCaptureProject::U_MatchTimeText(QStringLiteral("%@ "), 65000, 2), QStringLiteral("01:05 - 2"));
  // A format taken from a file cannot read beyond its one argument.
  EXPECT_EQ(ZRNAVCaptureProject::U_MatchTimeText(QStringLiteral("%@ %@ %d "), 0, 1).right(3), QStringLiteral("- 1"));
}

TEST(ZRNAVCaptureProject, StartsFromThePreferencesAndKeepsSegmentsForANewRecording) {
  ZRNAppPrefs prefs;
  prefs.setGuestTeamName(QStringLiteral("Bears"));
  prefs.setMovieSize(QSizeF(1920, 1080));
  ZRNAVCaptureProject project;
  EXPECT_EQ(project.guestTeam(), QStringLiteral("Bears"));

  const AssetRef segment = Asset::assetWithPath(QStringLiteral("/nonexistent/segment.mp4"));
  project.setSegmentAssetsArray({segment});
  project.setUseAudio(true);
  project.setStartMillisToClip(400);
  project.setPeriods({TestMarks_Period(1, 0, 10)});
  project.setMatchGoals({TestMarks_Goal(1, 5)});
  project.setVideoSize(QSizeF(640, 480));
  prefs.setHomeTeamName(QStringLiteral("Wolves"));
  project.prepareFoNewRecording();
  EXPECT_EQ(project.homeTeam(), QStringLiteral("Wolves"));
  EXPECT_EQ(project.videoSize(), QSizeF(1920, 1080));
  EXPECT_EQ(project.startMillisToClip(), 0);
  EXPECT_TRUE(project.periods().isEmpty());
  EXPECT_TRUE(project.matchGoals().isEmpty());
  EXPECT_EQ(project.segmentAssetsArray(), QList<AssetRef>{segment});
  EXPECT_TRUE(project.useAudio());
}

TEST(ZRNAVCaptureProject, EmptyProjectExportsThroughThePassThroughComposition) {
  ZRNAVCaptureProject project;
  EXPECT_EQ(project.duration(), 0.0);
  EXPECT_FALSE(project.hasOverlayEdits());
  // The display composition is built once and kept until the edits are cleared.
  const MutableCompositionRef shown = project.editedComposition();
  EXPECT_EQ(project.editedComposition(), shown);
  project.U_ClearEdits();
  EXPECT_NE(project.editedComposition(), shown);

  auto session = project.makeExportable(QString::fromLatin1(AVAssetExportPresetPassthrough));
  ASSERT_TRUE(session);
  EXPECT_EQ(session->asset(), project.exportedComposition());
  const MutableVideoCompositionRef vc = session->videoComposition();
  ASSERT_TRUE(vc);
  EXPECT_EQ(vc->frameDuration(), MediaTimeMake(1, 30));
  EXPECT_FALSE(vc->animationTool());
  ASSERT_EQ(vc->instructions().size(), 1);
  EXPECT_EQ(vc->instructions()[0]->layerInstructions().size(), 1);
  EXPECT_FALSE(project.makeExportable(QStringLiteral("NoSuchPreset")));
  project.U_ClearEdits();
  EXPECT_FALSE(project.exportedComposition());
}

TEST(ZRNAVProject, ExportURLTakesTheFirstFreeName) {
  ZRNAVProject project;
  const QDir temp(QDir::tempPath());
  const QStringList names{QStringLiteral("TempMovie-.m4v"), QStringLiteral("TempMovie--1.m4v"), QStringLiteral("TempMovie--2.m4v")};
  for (const QString& n : names) QFile::remove(temp.filePath(n));
  for (const QString& n : names) {
    const QString path = project.exportURL().toLocalFile();
    EXPECT_EQ(path, temp.filePath(n));
    EXPECT_FALSE(QFile::exists(path));  // it names the file, it does not make it
    ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));
  }
  for (const QString& n : names) QFile::remove(temp.filePath(n));
}
