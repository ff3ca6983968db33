// A highest-quality export of a capture project with a badge, a score title and a match-time title,
// checked on frames decoded from the written file by the ffmpeg tool.

#include "common/ZRNAppPrefs.h"
#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRNTitleEdit.h"
#include "platform/layers/LayerRenderer.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"
#include "session/MatchMarksTestSupport.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

namespace {

// A plain blue movie: whatever is not blue in an exported frame was drawn by the overlays.
QString blueMovie(const QString& folder, double seconds) {
  const QString path = QDir(folder).filePath(QStringLiteral("blue.mp4"));
  bool ok = false;
  TestMovie_Run(QStringLiteral("ffmpeg"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                 QStringLiteral("-i"), QStringLiteral("color=c=0x0000C0:size=640x360:rate=30:duration=%1").arg(seconds),
                 QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
                 QStringLiteral("-g"), QStringLiteral("30"), path},
                &ok);
  return ok ? path : QString();
}

QImage frameAt(const QString& movie, double seconds) {
  const QString png = QDir(QFileInfo(movie).absolutePath()).filePath(QStringLiteral("frame-%1.png").arg(seconds));
  bool ok = false;
  TestMovie_Run(QStringLiteral("ffmpeg"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"), movie,
                 QStringLiteral("-ss"), QString::number(seconds), QStringLiteral("-frames:v"), QStringLiteral("1"), png},
                &ok);
  return ok ? QImage(png).convertToFormat(QImage::Format_RGB32) : QImage();
}

bool isBlue(QRgb p) { return qBlue(p) > 150 && qRed(p) < 60 && qGreen(p) < 60; }

int drawnPixels(const QImage& frame, const QRect& region) {
  int n = 0;
  for (int y = region.top(); y <= region.bottom(); ++y)
    for (int x = region.left(); x <= region.right(); ++x)
      if (!isBlue(frame.pixel(x, y))) ++n;
  return n;
}

int differingPixels(const QImage& a, const QImage& b, const QRect& region) {
  int n = 0;
  for (int y = region.top(); y <= region.bottom(); ++y)
    for (int x = region.left(); x <= region.right(); ++x)
      if (std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 60) ++n;
  return n;
}

}  // namespace

TEST(ZRNOverlayExport, BadgeScoreAndMatchTimeAreCompositedAtTheirTimes) {
  const QString folder = Test_MakeTempDir(QStringLiteral("overlay-export"));
  const QString movie = blueMovie(folder, 6.0);
  ASSERT_FALSE(movie.isEmpty());
  QImage badge(96, 96, QImage::Format_ARGB32);
  badge.fill(QColor(255, 0, 255));
  ASSERT_TRUE(badge.save(QDir(folder).filePath(QStringLiteral("badge.png"))));

  ZRNAppPrefs prefs;
  prefs.setShowMatchTimes(true);
  prefs.setHomeTeamName(QStringLiteral("Home"));
  prefs.setGuestTeamName(QStringLiteral("Away"));
  auto project = std::make_shared<ZRNAVCaptureProject>();
  const QVariantMap white{{QStringLiteral("size"), 36}, {QStringLiteral("textRGBColor"), 0xFFFFFF}};
  QVariantMap score = white, clock = white;
  score.insert(QStringLiteral("placement"), QStringLiteral("tr"));
  score.insert(QStringLiteral("formatString"), QStringLiteral("%@ %@ %.0f:%.0f"));
  clock.insert(QStringLiteral("placement"), QStringLiteral("bl"));
  clock.insert(QStringLiteral("formatString"), QStringLiteral("%@ "));
  const QVariantMap commands{
      {QStringLiteral("graphics"),
       QVariantList{QVariantMap{{QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), QStringLiteral("badge.png")},
                                                                     {QStringLiteral("placement"), QStringLiteral("tl")}}}}}},
      {QStringLiteral("titles"), QVariantList{QVariantMap{{QStringLiteral("info"), score}}}},
      {QStringLiteral("timecodes"), QVariantList{QVariantMap{{QStringLiteral("info"), clock}}}}};
  project->setSpecs(commands, QSizeF(640, 360), {}, folder);
  project->setSegmentAssetsArray({Asset::assetWithPath(movie)});
  // Period 1 from 1 s to 5 s; a home goal at 3 s.
  project->setPeriods({TestMarks_Period(1, 1000, 5000)});
  project->setMatchGoals({TestMarks_Goal(1, 3000)});
  ASSERT_EQ(project->getVideoOverlayEdits().size(), 3);

  AssetExportSessionRef session = project->makeExportable(QString::fromLatin1(AVAssetExportPresetHighestQuality));
  ASSERT_TRUE(session);
  ASSERT_TRUE(std::dynamic_pointer_cast<CoreAnimationTool>(session->videoComposition()->animationTool()));
  const QString out = QDir(folder).filePath(QStringLiteral("out.mp4"));
  session->setOutputURL(QUrl::fromLocalFile(out));
  ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();

  const QImage before = frameAt(out, 0.5), early = frameAt(out, 2.0), late = frameAt(out, 4.0), later = frameAt(out, 4.5),
               after = frameAt(out, 5.5);
  for (const QImage* f : {&before, &early, &late, &later, &after}) ASSERT_EQ(f->size(), QSize(640, 360));

  // The badge: 40 x 40 (80 reference units in a frame half the reference's size) with margins of 20.
  for (const QImage* f : {&before, &early, &after}) {
    const QRgb centre = f->pixel(40, 40);
    EXPECT_GT(qRed(centre), 200);
    EXPECT_LT(qGreen(centre), 60);
    EXPECT_GT(qBlue(centre), 200);
    EXPECT_TRUE(isBlue(f->pixel(15, 15)));
    EXPECT_TRUE(isBlue(f->pixel(65, 65)));
  }

  // The match time shows inside the period only.
  const QRect clockRegion(0, 270, 320, 90);
  EXPECT_EQ(drawnPixels(before, clockRegion), 0);
  EXPECT_GT(drawnPixels(early, clockRegion), 100);
  EXPECT_EQ(drawnPixels(after, clockRegion), 0);

  // The score changes after the goal, stays while nothing happens, and keeps its last text after the period.
  const QRect scoreRegion(320, 0, 320, 90);
  EXPECT_GT(drawnPixels(early, scoreRegion), 100);
  EXPECT_GT(differingPixels(early, late, scoreRegion), 20);
  EXPECT_EQ(differingPixels(late, later, scoreRegion), 0);
  EXPECT_EQ(differingPixels(later, after, scoreRegion), 0);
  // Nothing is drawn in the middle of the picture.
  EXPECT_EQ(drawnPixels(late, QRect(200, 120, 240, 120)), 0);
}
