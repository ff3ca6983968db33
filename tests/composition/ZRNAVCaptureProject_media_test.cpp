#include "composition/ZRNAVCaptureProject.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>


namespace {

QStringList describe(const AssetTrackRef& track) {
  QStringList out;
  if (!track) return out;
  const auto m = [](const MediaTime& t) { return QString::number(MediaTime_Millis(t)); };
  for (const auto& s : track->segments()) {
    QString text = m(s.timeMapping.target.start) + QStringLiteral("+") + m(s.timeMapping.target.duration);
    text += s.empty ? QStringLiteral(" empty") : QStringLiteral(" <- ") + QFileInfo(s.sourcePath).baseName() +
                                                     QStringLiteral("@") + m(s.timeMapping.source.start);
    out << text;
  }
  return out;
}

AssetTrackRef firstTrack(const MutableCompositionRef& c, const char* type) {
  return c->tracksWithMediaType(QString::fromLatin1(type)).value(0);
}

class CaptureProjectMediaTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = Test_MakeTempDir(QStringLiteral("project-sources"));
    s_first = TestMovie_Make(s_folder, QStringLiteral("first.mp4"), {.seconds = 8.0, .fragmented = true});  // as recorded
    s_second = TestMovie_Make(s_folder, QStringLiteral("second.mp4"), {.seconds = 3.0});
    s_mute = TestMovie_Make(s_folder, QStringLiteral("mute.mp4"), {.seconds = 2.0, .audio = false});
  }
  static QString s_folder, s_first, s_second, s_mute;
};
QString CaptureProjectMediaTest::s_folder, CaptureProjectMediaTest::s_first, CaptureProjectMediaTest::s_second,
    CaptureProjectMediaTest::s_mute;

}  // namespace

TEST_F(CaptureProjectMediaTest, JoinsSegmentsEndToEnd) {
  ASSERT_FALSE(s_first.isEmpty() || s_second.isEmpty() || s_mute.isEmpty());
  const AssetRef first = Asset::assetWithPath(s_first);
  const AssetRef second = Asset::assetWithPath(s_second);
  const AssetRef mute = Asset::assetWithPath(s_mute);
  const AssetRef missing = Asset::assetWithPath(QDir(s_folder).filePath(QStringLiteral("missing.mp4")));
  const int64_t F = MediaTime_Millis(first->duration()), S = MediaTime_Millis(second->duration()),
                M = MediaTime_Millis(mute->duration());
  // "<at>+<length> <- <source>@<from>", or "<at>+<length> empty".
  const auto seg = [](int64_t at, int64_t length, const char* source = nullptr, int64_t from = 0) {
    return QStringLiteral("%1+%2").arg(at).arg(length) +
           (source ? QStringLiteral(" <- %1@%2").arg(QLatin1String(source)).arg(from) : QStringLiteral(" empty"));
  };
  const QStringList whole{seg(0, F, "first"), seg(F, S, "second")};
  const QStringList cut{seg(0, F - 5000, "first", 5000), seg(F - 5000, S, "second")};
  struct Case {
    const char* name;
    QList<AssetRef> segments;
    int64_t clip;
    bool useAudio;
    QStringList video, audio;
  };
  const Case cases[] = {
      {"whole", {first, second}, 0, true, whole, whole},
      {"first 5 s left out", {first, second}, 5000, true, cut, cut},
      {"only the first segment is cut", {second, first}, 1000, false,
       {seg(0, S - 1000, "second", 1000), seg(S - 1000, F, "first")}, {}},
      {"a segment without sound gets silence", {mute, second}, 0, true,
       {seg(0, M, "mute"), seg(M, S, "second")}, {seg(0, M), seg(M, S, "second")}},
      {"clipping more than the first segment leaves it out", {second, mute}, S + 500, true,
       {seg(0, M, "mute")}, {seg(0, M)}},
      {"an unreadable segment holds no place", {missing, second}, 0, true, {seg(0, S, "second")}, {seg(0, S, "second")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZRNAVCaptureProject project;
    project.setVideoSize(QSizeF(320, 240));
    project.setSegmentAssetsArray(c.segments);
    project.setStartMillisToClip(c.clip);
    project.setUseAudio(c.useAudio);
    const MutableCompositionRef composition = project.editedComposition();
    EXPECT_EQ(composition->naturalSize(), QSizeF(320, 240));
    EXPECT_EQ(describe(firstTrack(composition, kMediaTypeVideo)), c.video);
    EXPECT_EQ(describe(firstTrack(composition, kMediaTypeAudio)), c.audio);
    EXPECT_EQ(bool(firstTrack(composition, kMediaTypeAudio)), !c.audio.isEmpty());
  }
}

TEST_F(CaptureProjectMediaTest, SessionExportLeavesOutTheRejectedStart) {
  const AssetRef first = Asset::assetWithPath(s_first);
  const double whole = MediaTimeGetSeconds(first->duration());
  const QString folder = Test_MakeTempDir();
  ZRNAVCaptureProject project;
  project.setVideoSize(QSizeF(320, 240));
  project.setUseAudio(true);
  project.setStartMillisToClip(5000);
  project.setSegmentAssetsArray({first});
  auto session = project.makeExportable(QString::fromLatin1(AVAssetExportPresetPassthrough));
  ASSERT_TRUE(session);
  // One pass-through instruction over the whole joined composition.
  const MutableCompositionRef composition = project.exportedComposition();
  const MutableVideoCompositionRef vc = session->videoComposition();
  ASSERT_TRUE(vc);
  EXPECT_EQ(vc->renderSize(), QSizeF(320, 240));
  ASSERT_EQ(vc->instructions().size(), 1);
  EXPECT_EQ(vc->instructions()[0]->timeRange(), MediaTimeRangeMake(kMediaTimeZero, composition->duration()));
  EXPECT_NEAR(MediaTimeGetSeconds(composition->duration()), whole - 5.0, 1e-3);
  const QString out = QDir(folder).filePath(QStringLiteral("session.mp4"));
  session->setOutputURL(QUrl::fromLocalFile(out));
  session->setOutputFileType(QString::fromLatin1(kExportFileTypeMPEG4));
  ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
  EXPECT_NEAR(TestMovie_Duration(out), whole - 5.0, 0.05);
  const DecodedFrames exported = TestMovie_DecodeVideo(out);
  ASSERT_FALSE(exported.md5.isEmpty());
  EXPECT_TRUE(exported.errors.isEmpty()) << exported.errors.toStdString();
  EXPECT_NEAR(exported.md5.size(), (whole - 5.0) * 30.0, 1.0);
  // The first frame shown is the one the source shows at 5 s.
  EXPECT_EQ(exported.md5.first(), TestMovie_FrameAt(TestMovie_DecodeVideo(s_first), 5.0));
}

TEST_F(CaptureProjectMediaTest, JoinWithASilentSegmentKeepsSoundAndPictureAligned) {
  const QString folder = Test_MakeTempDir();
  ZRNAVCaptureProject project;
  project.setVideoSize(QSizeF(320, 240));
  project.setUseAudio(true);
  project.setSegmentAssetsArray({Asset::assetWithPath(s_mute), Asset::assetWithPath(s_second)});
  for (const char* preset : {AVAssetExportPresetPassthrough, AVAssetExportPresetHighestQuality}) {
    SCOPED_TRACE(preset);
    auto session = project.makeExportable(QString::fromLatin1(preset));
    ASSERT_TRUE(session);
    const QString out = QDir(folder).filePath(QStringLiteral("%1.mov").arg(QString::fromLatin1(preset)));
    session->setOutputURL(QUrl::fromLocalFile(out));
    session->setOutputFileType(QString::fromLatin1(kExportFileTypeQuickTimeMovie));
    ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
    EXPECT_NEAR(TestMovie_Duration(out), 5.0, 0.07);
    const DecodedFrames frames = TestMovie_DecodeVideo(out);
    EXPECT_TRUE(frames.errors.isEmpty()) << frames.errors.toStdString();
    EXPECT_NEAR(frames.md5.size(), 150, 1);
    // The tone is heard only in the second segment: measure where the sound is loud.
    double firstLoud = -1.0;
    for (const auto& [time, rms] : TestMovie_AudioLevels(out)) {
      if (rms > -40.0) {
        firstLoud = time;
        break;
      }
    }
    EXPECT_NEAR(firstLoud, 2.0, 0.11);
  }
}
